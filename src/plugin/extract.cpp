// Extraction: ProcessFile, the destinations it learns, and the fix-up that
// stamps the directories an extraction created when the archive is closed.
#include <optional>

#include "platform/host_path.h"
#include "platform/platform.h"
#include "plugin/quarn.h"
#include "util/civil_date.h"

namespace quarn {

namespace {

// The longest directory path the fix-up will build: no host creates a longer
// one, and a dump cannot make the fix-up build longer ones.
#ifdef _WIN32
constexpr std::size_t kMaxHostPath = 32767;
#else
constexpr std::size_t kMaxHostPath = 4096;
#endif

}  // namespace

int TQuarn::ProcessFile(int operation, char *destName) {
  const int count = listing_.Count();
  if (cursor_ < 0) cursor_ = 0;
  if (cursor_ > count - 1) cursor_ = count - 1;
  if (operation != PK_SKIP && operation != PK_TEST && operation != PK_EXTRACT)
    return E_NOT_SUPPORTED;
  if (operation == PK_SKIP) return 0;
  // An empty listing has nothing to test, nor anything to extract.
  if (count == 0) return operation == PK_TEST ? 0 : E_END_ARCHIVE;
  if (operation == PK_TEST) return TestEntry(*listing_[cursor_]);
  if (destName == nullptr) return E_ECREATE;
  return Extract(*listing_[cursor_], destName);
}

int TQuarn::TestEntry(const TSieFile &entry) const {
  return Problem(entry) != nullptr ? E_BAD_DATA : 0;
}

const char *TQuarn::Problem(const TSieFile &entry) const {
  // What extraction would find, without writing anything: content outside
  // the image, or a chain of parts that did not end as a sound one does.
  // Changed content bytes cannot be told: the file system keeps no checksums.
  const TFlashImage &window = dump_->Window();
  for (const TExtent &extent : entry.Extents) {
    if (extent.Buffer != nullptr) continue;
    if (window.Translate(extent.DataAddr) == nullptr ||
        extent.Size > window.Available(extent.DataAddr))
      return "bad data: content lies outside the dump";
  }
  if ((entry.Damage & kChainEndsAtMissingPart) != 0)
    return "incomplete: the chain ends at a missing part";
  if ((entry.Damage & kChainLoops) != 0)
    return "incomplete: the chain comes back to a part already in it";
  if ((entry.Damage & kChainCutByLimit) != 0)
    return "incomplete: the chain is cut at the limit of parts one dump may make";
  if ((entry.Damage & kChainLeftover) != 0)
    return "incomplete: a part that goes on from the chain's last one is not linked to it";
  if ((entry.Damage & kChainPrevMismatch) != 0)
    return "damaged: a part of the chain names another part as the one before it";
  if ((entry.Damage & kChunkIdRepeated) != 0)
    return "damaged: another live chunk has the id of one of the file's chunks";
  return nullptr;
}

int TQuarn::Extract(TSieFile &entry, char *destName) {
  LearnDestination(&entry, destName);

  const HANDLE target =
      CreateFileA(destName, GENERIC_ALL, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (target == INVALID_HANDLE_VALUE) return E_ECREATE;
  SetFilePointer(target, 0, nullptr, FILE_BEGIN);

  const TFlashImage &window = dump_->Window();
  int result = 0;
  DWORD sinceProgress = 0;
  for (const TExtent &extent : entry.Extents) {
    const std::uint8_t *source = extent.Buffer.get();
    DWORD length = extent.Size;
    bool cut = false;
    if (source == nullptr) {
      source = window.Translate(extent.DataAddr);
      if (source == nullptr) {
        result = E_BAD_DATA;
        break;
      }
      // Only the part that lies inside the image is written.
      const std::uint32_t available = window.Available(extent.DataAddr);
      if (length > available) {
        length = available;
        cut = true;
      }
    }
    if (processDataProc_ != nullptr) {
      const int goOn = processDataProc_(destName, static_cast<int>(sinceProgress));
      sinceProgress = 0;
      if (goOn == 0) {
        result = E_EABORTED;
        break;
      }
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(target, source, length, &written, nullptr);
    sinceProgress += written;
    if (!ok || written != length) {
      result = E_EWRITE;
      break;
    }
    if (cut) {
      result = E_BAD_DATA;
      break;
    }
  }

  // Every part that is there was written; a chain that did not end as a
  // sound one does still makes the result bad data.
  if (result == 0 && entry.Damage != 0) result = E_BAD_DATA;
  // An existing target that was longer loses its stale tail.
  SetEndOfFile(target);
  // The entry's DOS date and time as they are, not taken as local time; an
  // invalid one leaves the times the file system gave.
  FILETIME time{};
  if (DosDateTimeToFileTime(entry.Date, entry.Time, &time))
    SetFileTime(target, &time, &time, &time);
  CloseHandle(target);
  return result;
}

void TQuarn::LearnDestination(TSieFile *entry, const std::string &target) {
  std::string path = target;
  // Upwards through the ancestors, one level per step.
  for (TSieFile *e = entry; e != nullptr; e = e->Parent()) {
    if (!e->DestDir.empty()) return;
    // The last delimiter, passing over the trail bytes of double-byte
    // characters.
    std::size_t split = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
      const auto c = static_cast<unsigned char>(path[i]);
      if (IsDBCSLeadByte(c) && i + 1 < path.size()) {
        ++i;
        continue;
      }
      if (IsPathDelimiter(path[i])) split = i + 1;
    }
    std::string dir = path.substr(0, split);
    if (!NameMatches(path.substr(split), HostName(e->Name))) return;
    if (e->Parent() != nullptr || !e->FullPath().empty())
      e->DestDir = dir;
    else
      e->DestDir = path + kPathDelimiter;  // the nameless root: the target is its directory
    if (!dir.empty()) dir.pop_back();
    path = std::move(dir);
  }
}

bool TQuarn::NameMatches(std::string a, std::string b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  CharUpperBuffA(a.data(), static_cast<DWORD>(a.size()));
  CharUpperBuffA(b.data(), static_cast<DWORD>(b.size()));
  return a == b;
}

void TQuarn::FixUpDirectories() {
  // Failures here are silent: the archive is being closed.
  try {
    // Only folders the extraction placed, below a destination it learned.
    TExtractPaths places(kMaxHostPath);
    for (const TSieFile *entry : listing_) {
      if ((entry->Attr & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
      const std::optional<std::string> &path = places.PathOf(*entry);
      if (!path) continue;
      const HANDLE dir = CreateFileA(path->c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      if (dir == INVALID_HANDLE_VALUE) continue;
      FILETIME created{};
      FILETIME localCreated{};
      SYSTEMTIME when{};
      bool stamped = false;
      if (GetFileTime(dir, &created, nullptr, nullptr) &&
          FileTimeToLocalFileTime(&created, &localCreated) &&
          FileTimeToSystemTime(&localCreated, &when) &&
          DaysSince1899(when.wYear, when.wMonth, when.wDay, when.wHour, when.wMinute, when.wSecond,
                        when.wMilliseconds) > openedAt_) {
        // Created after the archive was opened: by this extraction. The
        // entry's DOS date and time count as local time here.
        FILETIME local{};
        FILETIME utc{};
        if (DosDateTimeToFileTime(entry->Date, entry->Time, &local) &&
            LocalFileTimeToFileTime(&local, &utc))
          SetFileTime(dir, &utc, &utc, &utc);
        stamped = true;
      }
      CloseHandle(dir);
      if (stamped) SetFileAttributesA(path->c_str(), entry->Attr);
    }
  } catch (...) {
  }
}

}  // namespace quarn
