#include "plugin/inspect.h"

#include <algorithm>
#include <cstring>

#include "ffs/flash_fs.h"
#include "flash/dump_format.h"
#include "flash/flash_image.h"
#include "plugin/quarn.h"

namespace quarn {

namespace {

constexpr std::string_view kImageSuffix = ".BIN";
constexpr std::uint32_t kFullBlockBase = 5000;  // EEFULL's blocks are numbered after EELITE's

bool IsDirectory(const TSieFile &entry) { return (entry.Attr & kDirectoryAttr) != 0; }

// A chunk no entry uses, listed as an EEPROM block (and its description) or
// as a lost block: made by the reader, not from a part.
bool IsLeftover(const TSieFile &entry) {
  return entry.Disk != nullptr && entry.HeaderDescAddr == 0 && !IsDirectory(entry);
}

TDumpPlace PlaceOf(std::uint32_t address) {
  TDumpPlace place;
  place.Known = true;
  place.Address = address;
  place.InWindow = InFlashWindow(address);
  place.Offset = address & (FlashWindowSize - 1);
  return place;
}

// The chunk id in a leftover's name, which the reader made from it:
// "block N.bin", "eeprom 1_N.bin" or ".bid" (N past 5000 on EEFULL), perhaps
// numbered apart (" (2)") after the number. -1 when the name holds none.
long ChunkIdFromName(const std::string &name, bool full) {
  std::size_t at = 0;
  if (name.starts_with("block "))
    at = std::strlen("block ");
  else if (name.starts_with("eeprom 1_"))
    at = std::strlen("eeprom 1_");
  else
    return -1;
  long number = 0;
  std::size_t digits = 0;
  for (; at < name.size() && name[at] >= '0' && name[at] <= '9' && digits < 6; ++at, ++digits)
    number = number * 10 + (name[at] - '0');
  if (digits == 0) return -1;
  if (full && name[0] == 'e') number -= kFullBlockBase;
  return number >= 0 && number <= 0xFFFF ? number : -1;
}

// How a walk over an entry's content ended.
enum class TWalk { Whole, Cut, Stopped };

// Hands `put` each piece of the entry's content as extraction writes it
// (TQuarn::Extract): a piece in a buffer whole; a piece in the image as far
// as the image goes, and nothing after a piece that does not lie wholly
// inside it. `put(bytes, length, offset or null)` answers false to stop.
template <typename Put>
TWalk ForEachPiece(const TFlashImage &window, const TSieFile &entry, Put put) {
  for (const TExtent &extent : entry.Extents) {
    if (extent.Buffer != nullptr) {
      if (!put(extent.Buffer.get(), extent.Size, nullptr)) return TWalk::Stopped;
      continue;
    }
    const std::uint8_t *source = window.Translate(extent.DataAddr);
    if (source == nullptr) return TWalk::Cut;
    const std::uint32_t length = std::min(extent.Size, window.Available(extent.DataAddr));
    const auto offset = static_cast<std::uint32_t>(source - window.Data());
    if (!put(source, length, &offset)) return TWalk::Stopped;
    if (length < extent.Size) return TWalk::Cut;
  }
  return TWalk::Whole;
}

// Where the reason TQuarn::Problem gives for `entry` lies, checked in the
// same order.
TDumpPlace ProblemPlace(const TFlashImage &window, const TSieFile &entry) {
  for (const TExtent &extent : entry.Extents) {
    if (extent.Buffer != nullptr) continue;
    if (window.Translate(extent.DataAddr) == nullptr ||
        extent.Size > window.Available(extent.DataAddr))
      return PlaceOf(extent.DataAddr);
  }
  const int count = entry.Extents.Count();
  if (count == 0) return {};
  // A chain that ends wrongly: at its last part, whose link goes wrong.
  if ((entry.Damage &
       (kChainEndsAtMissingPart | kChainLoops | kChainCutByLimit | kChainLeftover)) != 0)
    return PlaceOf(entry.Extents[count - 1].HeaderDataAddr);
  if ((entry.Damage & kChainPrevMismatch) != 0) {
    for (int i = 1; i < count; ++i) {
      const std::uint8_t *prev =
          window.Span(entry.Extents[i].HeaderDataAddr + part_header::PrevId, 2);
      if (prev != nullptr && LoadU16(prev) != entry.Extents[i - 1].Id)
        return PlaceOf(entry.Extents[i].HeaderDataAddr);
    }
  }
  return PlaceOf(entry.Extents[0].HeaderDataAddr != 0 ? entry.Extents[0].HeaderDataAddr
                                                      : entry.Extents[0].DataAddr);
}

}  // namespace

std::string EntryProblem(void *handle) {
  const TQuarn *archive = TQuarn::FromHandle(handle);
  const TSieFile *entry = archive != nullptr ? archive->Current() : nullptr;
  const char *problem = entry != nullptr ? archive->Problem(*entry) : nullptr;
  return problem != nullptr ? problem : std::string();
}

TInspector::TInspector(void *handle) : archive_(TQuarn::FromHandle(handle)) {
  if (archive_ == nullptr) return;
  const auto &disks = archive_->Disks();
  for (const auto &disk : disks) disks_.push_back(disk.get());
  // Each disk's ".BIN" entry hangs below the nameless root, after the disk's
  // root folder, in table order; nothing else there is without a disk.
  for (const TSieFile *child : archive_->RootEntry().Children())
    if (child->Disk == nullptr) rawImages_.push_back(child);
  if (rawImages_.size() != disks_.size()) rawImages_.clear();
  // A disk is named as its raw image lists it ("EELITE (2)" for
  // "EELITE (2).BIN"): unique, as every path of the listing is, even where
  // a damaged dump lists a disk's folder under another number than its image.
  for (std::size_t i = 0; i < disks_.size(); ++i) {
    std::string name;
    if (!rawImages_.empty()) {
      name = rawImages_[i]->Name;
      if (name.ends_with(kImageSuffix)) name.resize(name.size() - kImageSuffix.size());
    } else if (const TSieFile *root = disks[static_cast<int>(i)]->Root()) {
      name = root->Name;
    }
    listedNames_.push_back(std::move(name));
  }
}

TInspector::~TInspector() = default;

int TInspector::DiskOf(const TSieFile &entry) const {
  const int count = static_cast<int>(disks_.size());
  if (entry.Disk != nullptr) {
    // The listing runs disk by disk, mostly: the last answer is the likely one.
    if (lastDisk_ < count && disks_[lastDisk_] == entry.Disk) return lastDisk_;
    for (int i = 0; i < count; ++i) {
      if (disks_[i] == entry.Disk) return lastDisk_ = i;
    }
    return -1;
  }
  for (int i = 0; i < static_cast<int>(rawImages_.size()); ++i)
    if (rawImages_[i] == &entry) return i;
  return -1;
}

TDumpPlace TInspector::RecordPlace(int disk) const {
  if (disk < 0) return {};
  return PlaceOf(FlashBase + archive_->Disks()[disk]->RecordOffset());
}

bool TInspector::Current(TEntryFacts &facts) const {
  const TSieFile *entry = archive_ != nullptr ? archive_->Current() : nullptr;
  if (entry == nullptr) return false;
  const TFlashImage &window = archive_->Dump().Window();
  facts.Disk = DiskOf(*entry);
  facts.DiskName = facts.Disk >= 0 ? std::string_view(listedNames_[facts.Disk]) : "";
  facts.Ids.clear();
  facts.Extents.clear();
  facts.Generated = false;

  const bool leftover = IsLeftover(*entry);
  if (entry->HeaderDescAddr != 0) {
    for (const TExtent &extent : entry->Extents) facts.Ids.push_back(extent.Id);
  } else if (leftover) {
    const bool full = facts.Disk >= 0 && ClassifyDisk(archive_->Disks()[facts.Disk]->DiskName()) ==
                                             DiskKind::EepromFull;
    const long id = ChunkIdFromName(entry->Name, full);
    if (id >= 0) facts.Ids.push_back(static_cast<std::uint32_t>(id));
  }
  if (!IsDirectory(*entry)) {
    ForEachPiece(window, *entry,
                 [&facts](const std::uint8_t *, std::uint32_t length, const std::uint32_t *offset) {
                   if (offset == nullptr)
                     facts.Generated = true;
                   else
                     facts.Extents.push_back({*offset, length});
                   return true;
                 });
    if (facts.Generated) facts.Extents.clear();
  }

  const char *problem = archive_->Problem(*entry);
  facts.Problem = problem != nullptr ? problem : "";
  facts.ProblemAt = problem != nullptr ? ProblemPlace(window, *entry) : TDumpPlace{};
  facts.Renamed = entry->Renamed;
  if (entry->HeaderDescAddr != 0) {
    facts.At = PlaceOf(entry->HeaderDataAddr);
  } else if (leftover && entry->Extents.Count() > 0 && entry->Extents[0].Buffer == nullptr) {
    facts.At = PlaceOf(entry->Extents[0].DataAddr);
  } else if (entry->Disk == nullptr ||
             (facts.Disk >= 0 && entry == archive_->Disks()[facts.Disk]->Root())) {
    // A raw image, or a root the reader made: where the disk's record lies.
    facts.At = RecordPlace(facts.Disk);
  } else {
    facts.At = {};
  }
  return true;
}

int TInspector::WriteCurrent(
    const std::function<bool(const std::uint8_t *, std::size_t)> &write) const {
  const TSieFile *entry = archive_ != nullptr ? archive_->Current() : nullptr;
  if (entry == nullptr) return E_END_ARCHIVE;
  if (IsDirectory(*entry)) return 0;
  const TWalk walk =
      ForEachPiece(archive_->Dump().Window(), *entry,
                   [&write](const std::uint8_t *bytes, std::uint32_t length,
                            const std::uint32_t *) { return length == 0 || write(bytes, length); });
  if (walk == TWalk::Stopped) return E_EWRITE;
  if (walk == TWalk::Cut || entry->Damage != 0) return E_BAD_DATA;
  return 0;
}

TDumpFacts TInspector::Dump() const {
  TDumpFacts facts;
  if (archive_ == nullptr) return facts;
  const TDump &dump = archive_->Dump();
  const TFlashImage &window = dump.Window();
  facts.Size = window.Size();
  for (std::uint32_t i = 0; i < sizeof kSignature && kSignatureOffset + i < facts.Size; ++i)
    facts.Signature += static_cast<char>(window.Data()[kSignatureOffset + i]);
  facts.Recognised =
      facts.Size == kDumpSize && facts.Signature == std::string_view(kSignature, sizeof kSignature);
  facts.Date = dump.ArcDate();
  facts.Time = dump.ArcTime();

  const auto &disks = archive_->Disks();
  for (int i = 0; i < disks.Count(); ++i) {
    const TSieDisk &disk = *disks[i];
    TDiskFacts &d = facts.Disks.emplace_back();
    d.Name = disk.DiskName();
    d.ListedAs = listedNames_[static_cast<std::size_t>(i)];
    d.RecordOffset = disk.RecordOffset();
    const std::uint32_t blocks = disk.BlockCount();
    d.Blocks.reserve(blocks);
    for (std::uint32_t b = 0; b < blocks; ++b)
      d.Blocks.push_back({disk.Block(b).Addr, disk.Block(b).Size});
    const TDiskStats &stats = disk.Stats();
    d.LiveSlots = stats.LiveSlots;
    d.DeadSlots = stats.DeadSlots;
    d.UnwrittenSlots = stats.UnwrittenSlots;
    d.Parts = stats.Parts;
    d.CutByLimit = stats.CutByLimit;

    const bool eeprom = ClassifyDisk(d.Name) != DiskKind::Plain;
    const TSieFile *root = disk.Root();
    if (eeprom && root != nullptr)
      d.Holds = TDiskHolds::Eeprom;
    else if (root != nullptr && root->HeaderDescAddr != 0)
      d.Holds = TDiskHolds::FileSystem;
    else if (root != nullptr)
      d.Holds = TDiskHolds::LostChunks;
    if (const TList<TSieFile *> *entries = disk.Entries()) {
      for (const TSieFile *entry : *entries) {
        if (entry == root) continue;
        if (entry->HeaderDescAddr != 0) {
          if (IsDirectory(*entry)) {
            ++d.Folders;
          } else {
            ++d.Files;
            d.Bytes += entry->Size;
          }
        } else if (IsLeftover(*entry) && entry->Extents.Count() > 0 &&
                   entry->Extents[0].Buffer == nullptr) {
          ++(eeprom ? d.EepromBlocks : d.LostChunks);
        }
      }
    }
  }
  return facts;
}

}  // namespace quarn
