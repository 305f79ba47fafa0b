#include "plugin/quarn.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "entries/listing_path.h"
#include "entries/unique_names.h"
#include "flash/dump_format.h"
#include "platform/platform.h"
#include "plugin/host_record.h"
#include "plugin/host_text.h"
#include "plugin/load_dump.h"
#include "util/civil_date.h"

namespace quarn {

TQuarn::TQuarn(tOpenArchiveData *data) : settings_(OpeningSettings()) {
  Start(data->OpenMode);
  const char *path = data->ArcName;
  if (path == nullptr) {
    data->OpenResult = E_EOPEN;
    return;
  }
  Open(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                   FILE_ATTRIBUTE_NORMAL, nullptr),
       data->OpenResult, path, WideFromNarrow(path));
}

TQuarn::TQuarn(tOpenArchiveDataW *data) : settings_(OpeningSettings()) {
  Start(data->OpenMode);
  const WCX_WCHAR *path = data->ArcName;
  if (path == nullptr) {
    data->OpenResult = E_EOPEN;
    return;
  }
  const std::u16string wide = WideText(path);
  Open(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                   FILE_ATTRIBUTE_NORMAL, nullptr),
       data->OpenResult, NarrowFromWide(wide), wide);
}

TQuarn::TQuarn(std::unique_ptr<TDump> dump, std::int32_t openMode, const char *arcName,
               TSettings settings)
    : settings_(settings) {
  Start(openMode);
  dump_ = std::move(dump);
  if (!dump_) return;
  if (arcName != nullptr) arcNameNarrow_ = arcName;
  arcNameWide_ = WideFromNarrow(arcNameNarrow_);
  BuildListing();
}

TQuarn::~TQuarn() {
  if (openMode_ == PK_OM_EXTRACT && listingBuilt_) FixUpDirectories();
  while (disks_.Count() > 0) disks_.Delete(0);
  rawImageEntries_.clear();
  rootEntry_.reset();
  dump_.reset();
}

void TQuarn::Start(std::int32_t openMode) {
  openMode_ = openMode;
  SYSTEMTIME now{};
  GetLocalTime(&now);
  openedAt_ = DaysSince1899(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                            now.wMilliseconds);
}

void TQuarn::Open(HANDLE file, int &openResult, std::string narrowName, std::u16string wideName) {
  openResult = LoadDump(file, dump_, settings_.MapDump);
  if (!dump_) return;
  arcNameNarrow_ = std::move(narrowName);
  arcNameWide_ = std::move(wideName);
  BuildListing();
}

void TQuarn::FindDisks(std::uint32_t start, std::uint32_t step) {
  if (!dump_) return;
  for (std::unique_ptr<TSieDisk> &disk : quarn::FindDisks(*dump_, start, step))
    disks_.Add(std::move(disk));
  if (!dump_->ShowDeleted()) return;
  // Whoever recovers data wants every disk the table still names.
  for (std::unique_ptr<TSieDisk> &disk : DisksAfterDamage(*dump_)) disks_.Add(std::move(disk));
}

void TQuarn::BuildListing() {
  std::strncpy(arcName_, arcNameNarrow_.c_str(), sizeof arcName_ - 1);
  dump_->SetShowDeleted(settings_.ShowDeleted);
  FindDisks(0, 4);
  rootEntry_ = std::make_unique<TSieFile>();

  for (int i = 0; i < disks_.Count(); ++i) {
    TSieDisk &disk = *disks_[i];
    disk.ParseDisk();
    if (disk.Root() != nullptr) disk.Root()->SetParent(rootEntry_.get());
    // A disk's list holds each of its entries once, and no entry belongs to
    // two disks: appended as they stand, each is listed once.
    if (const TList<TSieFile *> *entries = disk.Entries()) {
      listing_.SetCapacity(listing_.Count() + entries->Count() + 1);
      for (TSieFile *entry : *entries) listing_.Add(entry);
    }
    AddRawImageEntry(disk);
  }
  RenameDuplicateChildren(*rootEntry_);
  SortEntries();
  listingBuilt_ = true;
}

void TQuarn::AddRawImageEntry(const TSieDisk &disk) {
  auto entry = std::make_unique<TSieFile>();
  entry->Name = DiskEntryName(disk.DiskName(), ".BIN");
  entry->Attr = FILE_ATTRIBUTE_SYSTEM;
  entry->Kind = TEntryKind::DiskImage;
  entry->Date = dump_->ArcDate();
  entry->Time = dump_->ArcTime();
  const std::uint32_t blocks = disk.BlockCount();
  for (std::uint32_t i = 0; i < blocks; ++i) {
    const TBlockRef block = disk.Block(i);
    TExtent extent;
    extent.DataAddr = block.Addr;
    extent.Size = block.Size;
    entry->AddExtent(std::move(extent));
  }
  // A table that lists one flash byte in two blocks is damaged: the image
  // holds those bytes twice, and the file system reads them twice.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> byAddress;
  byAddress.reserve(blocks);
  for (std::uint32_t i = 0; i < blocks; ++i)
    byAddress.emplace_back(disk.Block(i).Addr, disk.Block(i).Size);
  std::sort(byAddress.begin(), byAddress.end());
  std::uint64_t reach = 0;
  for (const auto &[addr, size] : byAddress) {
    if (size > 0 && addr < reach) {
      entry->AddFinding(kBlocksOverlap, 0, FlashBase + disk.RecordOffset());
      break;
    }
    reach = std::max(reach, std::uint64_t{addr} + size);
  }
  entry->SetParent(rootEntry_.get());
  listing_.Add(entry.get());
  rawImageEntries_.push_back(std::move(entry));
}

void TQuarn::SortEntries() {
  order_ = TListingOrder(listing_, rootEntry_.get());
  for (int i = 0; i < order_.Count(); ++i) listing_.Put(i, order_.Entry(i));
}

int TQuarn::Advance() {
  // Past the end the cursor stays one beyond the last entry.
  const int count = listing_.Count();
  if (cursor_ < count) ++cursor_;
  if (cursor_ < 0) cursor_ = 0;
  if (cursor_ >= count) return E_END_ARCHIVE;
  // Hosts walk the listing in order: fetch a coming entry while this one is
  // described, as the entries lie all over memory in path order.
  if (cursor_ + kReadAhead < count) __builtin_prefetch(listing_[cursor_ + kReadAhead]);
  return 0;
}

int TQuarn::ReadHeader(tHeaderData *header) {
  if (Advance() != 0) return E_END_ARCHIVE;
  FillHeader(*header, arcName_, *listing_[cursor_], ListingPath(cursor_));
  return 0;
}

int TQuarn::ReadHeaderEx(tHeaderDataEx *header) {
  if (Advance() != 0) return E_END_ARCHIVE;
  FillHeader(*header, arcNameNarrow_, *listing_[cursor_], ListingPath(cursor_));
  return 0;
}

int TQuarn::ReadHeaderExW(tHeaderDataExW *header) {
  const TWideListing &wide = Wide();
  if (Advance() != 0) return E_END_ARCHIVE;
  FillHeader(*header, arcNameWide_, *listing_[cursor_], wide.Path(cursor_));
  return 0;
}

const TWideListing &TQuarn::Wide() {
  if (!wide_) wide_ = std::make_unique<TWideListing>(order_, *rootEntry_);
  return *wide_;
}

}  // namespace quarn
