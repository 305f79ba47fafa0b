// Extraction through either interface: ProcessFile, testing, the target
// written from the entry's extents, and the host's progress callback.
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "plugin/content.h"
#include "plugin/host_text.h"
#include "plugin/quarn.h"

namespace quarn {

int TQuarn::ProcessFile(int operation, char *destName) {
  TTarget target;
  target.Narrow = destName;
  return Process(operation, target);
}

int TQuarn::ProcessFileW(int operation, WCX_WCHAR *destName) {
  TTarget target;
  target.Wide = destName;
  return Process(operation, target);
}

int TQuarn::Process(int operation, const TTarget &target) {
  const int count = listing_.Count();
  if (cursor_ < 0) cursor_ = 0;
  if (cursor_ > count - 1) cursor_ = count - 1;
  if (operation != PK_SKIP && operation != PK_TEST && operation != PK_EXTRACT)
    return E_NOT_SUPPORTED;
  if (operation == PK_SKIP) return 0;
  // An empty listing has nothing to test, nor anything to extract.
  if (count == 0) return operation == PK_TEST ? 0 : E_END_ARCHIVE;
  if (operation == PK_TEST) return TestEntry(*listing_[cursor_]);
  if (target.Narrow == nullptr && target.Wide == nullptr) return E_ECREATE;
  return Extract(*listing_[cursor_], target);
}

int TQuarn::TestEntry(const TSieFile &entry) const {
  return Problem(entry) != nullptr ? E_BAD_DATA : 0;
}

TQuarn::TDiagnosis TQuarn::Diagnose(const TSieFile &entry) const {
  // What extraction would find, without writing anything: content outside
  // the image, then what the reader found wrong with the chain of parts.
  // Changed content bytes cannot be told: the file system keeps no checksums.
  const TFlashImage &window = dump_->Window();
  for (const TExtent &extent : entry.Extents) {
    if (extent.Buffer != nullptr) continue;
    if (window.Translate(extent.DataAddr) == nullptr ||
        extent.Size > window.Available(extent.DataAddr))
      return {"bad data: content lies outside the dump", extent.DataAddr};
  }
  if (entry.Damage() == 0) return {};
  // The reasons in the order they are reported, the first found of each.
  static constexpr std::pair<TEntryDamage, const char *> kReasons[] = {
      {kChainEndsAtMissingPart, "incomplete: the chain ends at a missing part"},
      {kDataMissing, "incomplete: the data chunk of a part is missing"},
      {kChainHeadMissing, "incomplete: the parts before this one are missing"},
      {kChainLoops, "incomplete: the chain comes back to a part already in it"},
      {kChainCutByLimit, "incomplete: the chain is cut at the limit of parts one dump may make"},
      {kChainLeftover,
       "incomplete: a part that goes on from the chain's last one is not linked to it"},
      {kChainPrevMismatch, "damaged: a part of the chain names another part as the one before it"},
      {kChunkIdRepeated, "damaged: another live chunk has the id of one of the file's chunks"},
      {kChunkPastBlock, "damaged: a chunk's data reaches past its flash block (cut there)"},
      {kChunkOverlaps, "damaged: a chunk's data overlaps another live chunk's"},
      {kBlocksOverlap, "damaged: the disk's block table lists overlapping blocks"},
  };
  for (const auto &[damage, reason] : kReasons) {
    for (const TEntryFinding &finding : entry.Findings())
      if (finding.Damage == damage) return {reason, finding.Address};
  }
  return {};
}

int TQuarn::Progress(const TTarget &target, int bytes) {
  // Each interface's own callback where the host set it, else the other's
  // with the name converted.
  if (target.Wide != nullptr) {
    if (processDataProcW_ != nullptr) return processDataProcW_(target.Wide, bytes);
    if (processDataProc_ != nullptr) {
      std::string name = NarrowFromWide(WideText(target.Wide));
      return processDataProc_(name.data(), bytes);
    }
  } else {
    if (processDataProc_ != nullptr) return processDataProc_(target.Narrow, bytes);
    if (processDataProcW_ != nullptr) {
      std::vector<WCX_WCHAR> name = HostWide(WideFromNarrow(target.Narrow));
      return processDataProcW_(name.data(), bytes);
    }
  }
  return 1;
}

int TQuarn::Extract(TSieFile &entry, const TTarget &to) {
  HANDLE target = INVALID_HANDLE_VALUE;
  if (to.Wide != nullptr) {
    // A name that is not UTF-16 (a lone surrogate) names no file.
    const std::u16string name = WideText(to.Wide);
    if (!IsUtf16(name)) return E_ECREATE;
    LearnDestination(&entry, name);
    target =
        CreateFileW(to.Wide, GENERIC_ALL, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  } else {
    LearnDestination(&entry, std::string(to.Narrow));
    target = CreateFileA(to.Narrow, GENERIC_ALL, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  }
  if (target == INVALID_HANDLE_VALUE) return E_ECREATE;
  // Written from its start, where a handle just opened stands; only a file
  // that was there before can have a tail to cut.
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;

  int result = 0;
  DWORD sinceProgress = 0;
  const TWalk walk =
      ForEachPiece(dump_->Window(), entry,
                   [&](const std::uint8_t *bytes, std::uint32_t length, const std::uint32_t *) {
                     if (processDataProc_ != nullptr || processDataProcW_ != nullptr) {
                       const int goOn = Progress(to, static_cast<int>(sinceProgress));
                       sinceProgress = 0;
                       if (goOn == 0) {
                         result = E_EABORTED;
                         return false;
                       }
                     }
                     DWORD written = 0;
                     const BOOL ok = WriteFile(target, bytes, length, &written, nullptr);
                     sinceProgress += written;
                     if (!ok || written != length) {
                       result = E_EWRITE;
                       return false;
                     }
                     return true;
                   });
  // Only the part of a piece that lies inside the image was written.
  if (walk == TWalk::Cut) result = E_BAD_DATA;

  // Every part that is there was written; a chain that did not end as a
  // sound one does still makes the result bad data.
  if (result == 0 && entry.Damage() != 0) result = E_BAD_DATA;
  // An existing target that was longer loses its stale tail.
  if (existed) SetEndOfFile(target);
  // The entry's DOS date and time as they are, not taken as local time; an
  // invalid one leaves the times the file system gave.
  FILETIME time{};
  if (DosDateTimeToFileTime(entry.Date, entry.Time, &time))
    SetFileTime(target, &time, &time, &time);
  CloseHandle(target);
  return result;
}

}  // namespace quarn
