#include "plugin/inspect.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "ffs/flash_fs.h"
#include "flash/dump_format.h"
#include "flash/flash_image.h"
#include "plugin/content.h"
#include "plugin/load_dump.h"
#include "plugin/quarn.h"

namespace quarn {

namespace {

constexpr std::string_view kImageSuffix = ".BIN";

bool IsDirectory(const TSieFile &entry) { return (entry.Attr & kDirectoryAttr) != 0; }

// An entry made from parts of a flash file system, which has a header.
bool FromParts(const TSieFile &entry) {
  return entry.Kind == TEntryKind::File || entry.Kind == TEntryKind::Folder;
}

// A chunk no file uses, listed as it lies: an EEPROM block or a lost block.
bool IsLeftoverChunk(const TSieFile &entry) {
  return entry.Kind == TEntryKind::EepromBlock || entry.Kind == TEntryKind::LostBlock;
}

TDumpPlace PlaceOf(std::uint32_t address) {
  TDumpPlace place;
  place.Known = true;
  place.Address = address;
  place.InWindow = InFlashWindow(address);
  place.Offset = address & (FlashWindowSize - 1);
  return place;
}

}  // namespace

TRecognition RecognisePath(const std::string &path, std::uint64_t &size) {
  size = 0;
  return RecogniseFile(CreateFileA(path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                       &size);
}

TRecognition RecognisePath(const std::u16string &path, std::uint64_t &size) {
  size = 0;
  return RecogniseFile(CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                       &size);
}

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

  if (FromParts(*entry)) {
    for (const TExtent &extent : entry->Extents) facts.Ids.push_back(extent.Id);
  } else if (entry->Extents.Count() > 0 && entry->Kind != TEntryKind::DiskImage) {
    // An EEPROM block, its description or a lost block: the chunk it is.
    facts.Ids.push_back(entry->Extents[0].Id);
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

  const TQuarn::TDiagnosis diagnosis = archive_->Diagnose(*entry);
  facts.Problem = diagnosis.Reason != nullptr ? diagnosis.Reason : "";
  facts.ProblemAt = diagnosis.Reason != nullptr ? PlaceOf(diagnosis.Address) : TDumpPlace{};
  facts.Renamed = entry->Renamed;
  facts.Deleted = entry->Deleted;
  if (FromParts(*entry)) {
    facts.At = PlaceOf(entry->HeaderDataAddr);
  } else if (IsLeftoverChunk(*entry)) {
    facts.At = PlaceOf(entry->Extents[0].DataAddr);
  } else if (entry->Kind == TEntryKind::DiskImage ||
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
  if (walk == TWalk::Cut || entry->Damage() != 0) return E_BAD_DATA;
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
      Recognise(facts.Size, facts.Signature.data(), facts.Signature.size()) == TRecognition::Dump;
  facts.Date = dump.ArcDate();
  facts.Time = dump.ArcTime();
  facts.ShowsDeleted = dump.ShowDeleted();
  if (const auto &damage = dump.TableDamage()) {
    facts.TableDamaged = true;
    facts.DamagedRecordOffset = damage->Record;
    facts.DisksAfterDamage = damage->DisksAfter;
  }

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
    d.LiveBytes = stats.LiveBytes;
    d.DeadBytes = stats.DeadBytes;
    d.UnwrittenBytes = stats.UnwrittenBytes;
    d.DeadChunks = stats.DeadChunks;
    d.DeletedFiles = stats.DeletedFiles;
    d.DeletedIncomplete = stats.DeletedIncomplete;
    d.DeletedFolders = stats.DeletedFolders;
    d.DeadPartsSuperseded = stats.DeadPartsSuperseded;
    d.DeadPartsUnreached = stats.DeadPartsUnreached;

    const bool eeprom = ClassifyDisk(d.Name) != DiskKind::Plain;
    const TSieFile *root = disk.Root();
    if (eeprom && root != nullptr)
      d.Holds = TDiskHolds::Eeprom;
    else if (root != nullptr && FromParts(*root))
      d.Holds = TDiskHolds::FileSystem;
    else if (root != nullptr)
      d.Holds = TDiskHolds::LostChunks;
    if (const TList<TSieFile *> *entries = disk.Entries()) {
      // What stands below LostFiles: a parent is made before its children.
      std::unordered_set<const TSieFile *> lost;
      for (const TSieFile *entry : *entries) {
        if (entry->Kind == TEntryKind::LostFiles) {
          lost.insert(entry);
          d.RootPartMissing = root != nullptr && root->Kind == TEntryKind::MadeFolder;
        } else if (lost.count(entry->Parent()) != 0) {
          lost.insert(entry);
          ++d.LostFiles;
        }
        if (entry == root || entry->Deleted) continue;
        if (FromParts(*entry)) {
          if (IsDirectory(*entry)) {
            ++d.Folders;
          } else {
            ++d.Files;
            d.Bytes += entry->Size;
          }
        } else if (IsLeftoverChunk(*entry)) {
          ++(eeprom ? d.EepromBlocks : d.LostChunks);
        }
      }
    }
  }
  return facts;
}

}  // namespace quarn
