#include "plugin/quarn.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "flash/partition_table.h"
#include "platform/large_buffer.h"
#include "platform/platform.h"
#include "plugin/host_record.h"
#include "util/civil_date.h"

namespace quarn {

namespace {

// Closes a file handle when it goes out of scope.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle &) = delete;
  FileHandle &operator=(const FileHandle &) = delete;
  ~FileHandle() { Close(); }
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }
  void Close() {
    if (Valid()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

// DOS date and time of a file time outside what DOS dates can hold: the
// first or the last moment they can.
void ClampedDosDateTime(const FILETIME &time, std::uint16_t &date, std::uint16_t &clock) {
  FILETIME first{};
  DosDateTimeToFileTime(0x0021, 0x0000, &first);  // 1980-01-01 00:00:00
  const auto value = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  const auto firstValue =
      (static_cast<std::uint64_t>(first.dwHighDateTime) << 32) | first.dwLowDateTime;
  if (value < firstValue) {
    date = 0x0021;
    clock = 0x0000;
  } else {
    date = (127 << 9) | (12 << 5) | 31;   // 2107-12-31
    clock = (23 << 11) | (59 << 5) | 29;  // 23:59:58
  }
}

}  // namespace

double DateTimeFromSystemTime(std::uint16_t year, std::uint16_t month, std::uint16_t day,
                              std::uint16_t hour, std::uint16_t minute, std::uint16_t second,
                              std::uint16_t millisecond) {
  const long long days1970 = DaysFromCivil(year, month, day);
  constexpr long long kDays1899To1970 = 25569;
  const long long milliseconds =
      ((static_cast<long long>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
  return static_cast<double>(days1970 + kDays1899To1970) +
         static_cast<double>(milliseconds) / 86400000.0;
}

TQuarn::TQuarn(tOpenArchiveData *data) { Open(data); }

TQuarn::~TQuarn() {
  if (OpenMode == PK_OM_EXTRACT && listingBuilt_) FixUpDirectories();
  while (Disks.Count() > 0) Disks.Delete(0);
  rawImageEntries_.clear();
  RootEntry.reset();
  Image.reset();
}

void TQuarn::Open(tOpenArchiveData *data) {
  OpenMode = data->OpenMode;
  SYSTEMTIME now{};
  GetLocalTime(&now);
  OpenedAt = DateTimeFromSystemTime(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                                    now.wSecond, now.wMilliseconds);
  data->OpenResult = 0;

  const char *path = data->ArcName;
  FileHandle file(path != nullptr ? CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                                  : INVALID_HANDLE_VALUE);
  if (!file.Valid()) {
    data->OpenResult = E_EOPEN;
    return;
  }

  // Only the first 32 MiB can be reached through the flash window; a longer
  // file is read that far (never wrapped at 4 GiB, never held whole).
  DWORD sizeHigh = 0;
  const DWORD sizeLow = GetFileSize(file.Get(), &sizeHigh);
  ImageSize = (sizeHigh != 0 || sizeLow > FlashWindowSize) ? FlashWindowSize : sizeLow;
  Image.reset(new (std::nothrow) std::uint8_t[ImageSize == 0 ? 1 : ImageSize]);
  if (!Image) {
    data->OpenResult = E_NO_MEMORY;
    return;
  }
  AdviseLargeBuffer(Image.get(), ImageSize);

  // The dump's own last-write time, as the file system gives it: not
  // shifted to local time.
  FILETIME written{};
  if (GetFileTime(file.Get(), nullptr, nullptr, &written) &&
      !FileTimeToDosDateTime(&written, &ArcDate, &ArcTime))
    ClampedDosDateTime(written, ArcDate, ArcTime);

  DWORD read = 0;
  SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
  const BOOL ok = ReadFile(file.Get(), Image.get(), ImageSize, &read, nullptr);
  file.Close();
  if (!ok || read != ImageSize) {
    data->OpenResult = E_EREAD;
    Image.reset();
    return;
  }

  std::strncpy(ArcName, path, sizeof ArcName - 1);
  BuildListing();
}

void TQuarn::FindDisks(std::uint32_t start, std::uint32_t step) {
  if (!Image) return;
  const TFlashImage window = Window();
  TPartitionScan scan(window);
  for (const std::uint32_t offset : scan.FindRun(start, step)) {
    auto disk = std::make_unique<TSieDisk>(this);
    disk->Descriptor = Image.get() + offset;
    disk->BlockTable = window.Translate(LoadU32(disk->Descriptor + descriptor::BlockTableAddr));
    Disks.Add(std::move(disk));
  }
}

bool TQuarn::ValidateDescriptor(std::uint32_t offset) const {
  const TFlashImage window = Window();
  return TPartitionScan(window).ValidateDescriptor(offset);
}

void TQuarn::BuildListing() {
  FindDisks(0, 4);
  FsBudget = TEntryBudget();
  RootEntry = std::make_unique<TSieFile>();
  RootEntry->Owner = this;

  // An entry is listed once; only one disk's own list could repeat one.
  std::unordered_set<const TSieFile *> listed;
  for (int i = 0; i < Disks.Count(); ++i) {
    TSieDisk &disk = *Disks[i];
    disk.ParseDisk();
    if (disk.Root != nullptr) disk.Root->SetParent(RootEntry.get());
    if (disk.Entries) {
      listed.clear();
      listed.reserve(static_cast<std::size_t>(disk.Entries->Count()));
      Listing.SetCapacity(Listing.Count() + disk.Entries->Count() + 1);
      for (TSieFile *entry : *disk.Entries)
        if (listed.insert(entry).second) Listing.Add(entry);
    }
    AddRawImageEntry(disk);
  }
  SortEntries();
  listingBuilt_ = true;
}

void TQuarn::AddRawImageEntry(const TSieDisk &disk) {
  auto entry = std::make_unique<TSieFile>();
  entry->Owner = this;
  entry->Name = EscapeDotPieces(ShortName(disk.DiskName() + ".BIN"));
  entry->Attr = FILE_ATTRIBUTE_SYSTEM;
  entry->Date = ArcDate;
  entry->Time = ArcTime;
  const std::uint32_t blocks = disk.BlockCount();
  for (std::uint32_t i = 0; i < blocks; ++i) {
    const TBlockRef block = disk.Block(i);
    TExtent extent;
    extent.DataAddr = block.Addr;
    extent.Size = block.Size;
    entry->AddExtent(std::move(extent));
  }
  entry->SetParent(RootEntry.get());
  Listing.Add(entry.get());
  rawImageEntries_.push_back(std::move(entry));
}

void TQuarn::SortEntries() {
  // Each path once, from the parent's path: no entry's chain of ancestors is
  // walked more than once, however deep the tree. Parents that are not
  // listed (the nameless root) get a path of their own too. The paths lie
  // one after another in one block of text, which the sort reads far faster
  // than strings all over memory.
  const auto count = static_cast<std::size_t>(Listing.Count());
  std::string text;
  text.reserve(count * 32);
  struct Span {
    std::uint32_t At;
    std::uint32_t Length;
  };
  std::vector<Span> spans;
  spans.reserve(count + 16);
  std::unordered_map<const TSieFile *, std::uint32_t> index;
  index.reserve(count + 16);
  std::vector<const TSieFile *> chain;
  std::string parentPath;
  auto pathOf = [&](const TSieFile *entry) -> std::uint32_t {
    chain.clear();
    const TSieFile *e = entry;
    auto known = index.end();
    while (e != nullptr && (known = index.find(e)) == index.end()) {
      chain.push_back(e);
      e = e->Parent;
    }
    std::uint32_t at = known != index.end() ? known->second : 0;
    for (std::size_t i = chain.size(); i-- > 0;) {
      const TSieFile *node = chain[i];
      if (node->Parent != nullptr)
        parentPath.assign(text, spans[at].At, spans[at].Length);
      else if (node->Disk != nullptr)
        parentPath = ShortName(node->Disk->DiskName());
      else
        parentPath.clear();
      const std::string path = TSieFile::JoinPath(parentPath, node->Name);
      spans.push_back(
          {static_cast<std::uint32_t>(text.size()), static_cast<std::uint32_t>(path.size())});
      text += path;
      at = static_cast<std::uint32_t>(spans.size() - 1);
      index.emplace(node, at);
    }
    return at;
  };

  struct Keyed {
    std::uint32_t Path;
    TSieFile *Entry;
  };
  TList<Keyed> keyed;
  keyed.SetCapacity(Listing.Count());
  for (TSieFile *entry : Listing) keyed.Add({pathOf(entry), entry});
  // Ordinal: unsigned bytes, a shorter key before its extensions. Equal
  // paths keep their listing order.
  const std::string_view all(text);
  keyed.Sort([&](const Keyed &a, const Keyed &b) {
    const Span &x = spans[a.Path];
    const Span &y = spans[b.Path];
    return all.substr(x.At, x.Length).compare(all.substr(y.At, y.Length));
  });

  listingPathText_.clear();
  listingPathText_.reserve(text.size());
  listingPathAt_.assign(1, 0);
  listingPathAt_.reserve(count + 1);
  for (int i = 0; i < keyed.Count(); ++i) {
    Listing.Put(i, keyed[i].Entry);
    const Span &span = spans[keyed[i].Path];
    listingPathText_.append(all.substr(span.At, span.Length));
    listingPathAt_.push_back(static_cast<std::uint32_t>(listingPathText_.size()));
  }
}

std::string_view TQuarn::ListingPath(int index) const {
  const auto i = static_cast<std::size_t>(index);
  if (index < 0 || i + 1 >= listingPathAt_.size()) return {};
  return std::string_view(listingPathText_)
      .substr(listingPathAt_[i], listingPathAt_[i + 1] - listingPathAt_[i]);
}

int TQuarn::ReadHeader(tHeaderData *header) {
  // Past the end the cursor stays one beyond the last entry.
  if (Cursor < Listing.Count()) ++Cursor;
  if (Cursor < 0) Cursor = 0;
  if (Cursor >= Listing.Count()) return E_END_ARCHIVE;
  // Hosts walk the listing in order: fetch a coming entry while this one is
  // described, as the entries lie all over memory in path order.
  if (Cursor + kReadAhead < Listing.Count()) __builtin_prefetch(Listing[Cursor + kReadAhead]);
  FillHeader(*header, ArcName, *Listing[Cursor], ListingPath(Cursor));
  return 0;
}

}  // namespace quarn
