#include "plugin/quarn.h"

#include <algorithm>
#include <cstring>
#include <new>

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

  for (int i = 0; i < Disks.Count(); ++i) {
    TSieDisk &disk = *Disks[i];
    disk.ParseDisk();
    if (disk.Root != nullptr) disk.Root->SetParent(RootEntry.get());
    // A disk's list holds each of its entries once, and no entry belongs to
    // two disks: appended as they stand, each is listed once.
    if (disk.Entries) {
      Listing.SetCapacity(Listing.Count() + disk.Entries->Count() + 1);
      for (TSieFile *entry : *disk.Entries) Listing.Add(entry);
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

namespace {

// Entry to number, by open addressing: the sort looks up the parent of every
// entry it names, and a node per entry would cost more than the lookup.
class TEntryIndex {
 public:
  explicit TEntryIndex(std::size_t expected) {
    std::size_t capacity = 16;
    while (capacity < expected * 2) capacity <<= 1;
    keys_.assign(capacity, nullptr);
    values_.assign(capacity, 0);
  }

  const std::uint32_t *Find(const TSieFile *key) const {
    for (std::size_t i = Slot(key);; i = (i + 1) & (keys_.size() - 1)) {
      if (keys_[i] == key) return &values_[i];
      if (keys_[i] == nullptr) return nullptr;
    }
  }

  // `key` must not be there yet.
  void Insert(const TSieFile *key, std::uint32_t value) {
    if ((count_ + 1) * 2 > keys_.size()) Grow();
    std::size_t i = Slot(key);
    while (keys_[i] != nullptr) i = (i + 1) & (keys_.size() - 1);
    keys_[i] = key;
    values_[i] = value;
    ++count_;
  }

 private:
  std::size_t Slot(const TSieFile *key) const {
    const auto bits = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key));
    return static_cast<std::size_t>((bits >> 4) * 0x9E3779B97F4A7C15ULL >> 20) & (keys_.size() - 1);
  }

  void Grow() {
    std::vector<const TSieFile *> keys;
    std::vector<std::uint32_t> values;
    keys.swap(keys_);
    values.swap(values_);
    keys_.assign(keys.size() * 2, nullptr);
    values_.assign(keys.size() * 2, 0);
    count_ = 0;
    for (std::size_t i = 0; i < keys.size(); ++i)
      if (keys[i] != nullptr) Insert(keys[i], values[i]);
  }

  std::vector<const TSieFile *> keys_;
  std::vector<std::uint32_t> values_;
  std::size_t count_ = 0;
};

// A listing path in the block of text that holds them all.
struct Span {
  std::uint32_t At;
  std::uint32_t Length;
};

// A listed entry and the number of its path.
struct Keyed {
  std::uint32_t Path;
  TSieFile *Entry;
};

// The listing's order without comparing whole paths. When every path is its
// parent's path, a backslash and a name without backslashes (nothing cut at
// 255 bytes, nothing collapsed), the paths below one folder sort as the
// names do, except that a folder's own path comes before its contents and
// its contents sort as its name followed by a backslash. So each folder's
// children are sorted by name, each child as two keys (itself, and its
// contents), and the tree is read out in that order. Gives false, leaving
// the sort to whole paths, where that does not hold, or where two children
// of one folder share a name and their contents would mix.
bool TreeOrder(std::vector<std::uint32_t> &order, const TList<Keyed> &keyed,
               const std::vector<Span> &spans, const TEntryIndex &index, const TSieFile *nameless) {
  const auto n = static_cast<std::uint32_t>(keyed.Count());
  constexpr std::uint32_t kNone = 0xFFFFFFFF;
  // Listing number of each path number, for the listed ones.
  std::vector<std::uint32_t> listed(spans.size(), kNone);
  for (std::uint32_t i = 0; i < n; ++i) {
    std::uint32_t &slot = listed[keyed[static_cast<int>(i)].Path];
    if (slot != kNone) return false;
    slot = i;
  }
  // Parent of each listed entry, n for the nameless root.
  std::vector<std::uint32_t> parent(n);
  std::vector<std::uint32_t> childCount(n + 2, 0);
  for (std::uint32_t i = 0; i < n; ++i) {
    const TSieFile *e = keyed[static_cast<int>(i)].Entry;
    if (e->Name.empty() || e->Name.find('\\') != std::string::npos || e->Parent == nullptr)
      return false;
    std::uint32_t parentLength = 0;
    if (e->Parent == nameless) {
      parent[i] = n;
    } else {
      const std::uint32_t *path = index.Find(e->Parent);
      if (path == nullptr || listed[*path] == kNone) return false;
      parent[i] = listed[*path];
      parentLength = spans[*path].Length + 1;
    }
    if (spans[keyed[static_cast<int>(i)].Path].Length != parentLength + e->Name.size())
      return false;
    ++childCount[parent[i] + 1];
  }
  // Children of each folder, in listing order.
  for (std::uint32_t i = 1; i < childCount.size(); ++i) childCount[i] += childCount[i - 1];
  std::vector<std::uint32_t> children(n);
  {
    std::vector<std::uint32_t> fill(childCount.begin(), childCount.end() - 1);
    for (std::uint32_t i = 0; i < n; ++i) children[fill[parent[i]]++] = i;
  }
  auto hasChildren = [&](std::uint32_t i) { return childCount[i + 1] > childCount[i]; };

  // A key is a child's name, followed by a backslash for its contents.
  struct Item {
    std::uint32_t Entry;
    bool Contents;
  };
  auto name = [&](std::uint32_t i) -> const std::string & {
    return keyed[static_cast<int>(i)].Entry->Name;
  };
  auto before = [&](const Item &a, const Item &b) {
    const std::string &x = name(a.Entry);
    const std::string &y = name(b.Entry);
    const std::size_t common = std::min(x.size(), y.size());
    const int c = std::memcmp(x.data(), y.data(), common);
    if (c != 0) return c < 0;
    if (x.size() == y.size()) {
      if (a.Contents != b.Contents) return !a.Contents;
      return a.Entry < b.Entry;
    }
    // One name is the start of the other: the shorter key ends, or goes on
    // with its backslash.
    if (x.size() < y.size())
      return !a.Contents ||
             static_cast<unsigned char>('\\') < static_cast<unsigned char>(y[common]);
    return b.Contents && static_cast<unsigned char>(x[common]) < static_cast<unsigned char>('\\');
  };

  order.clear();
  order.reserve(n);
  std::vector<Item> items;
  // Folders being read out: their sorted keys and how far they are read.
  struct Level {
    std::vector<Item> Items;
    std::size_t Next;
  };
  std::vector<Level> stack;
  auto open = [&](std::uint32_t folder) {
    items.clear();
    for (std::uint32_t k = childCount[folder]; k < childCount[folder + 1]; ++k) {
      const std::uint32_t child = children[k];
      items.push_back({child, false});
      if (hasChildren(child)) items.push_back({child, true});
    }
    std::sort(items.begin(), items.end(), before);
    // Two children of one name, one with contents: their contents would mix.
    for (std::size_t k = 1; k < items.size(); ++k) {
      const Item &a = items[k - 1];
      const Item &b = items[k];
      if (!a.Contents && !b.Contents && name(a.Entry) == name(b.Entry) &&
          (hasChildren(a.Entry) || hasChildren(b.Entry)))
        return false;
    }
    stack.push_back({std::move(items), 0});
    return true;
  };
  if (!open(n)) return false;
  while (!stack.empty()) {
    Level &level = stack.back();
    if (level.Next == level.Items.size()) {
      stack.pop_back();
      continue;
    }
    const Item item = level.Items[level.Next++];
    if (!item.Contents)
      order.push_back(item.Entry);
    else if (!open(item.Entry))
      return false;
  }
  return order.size() == n;
}

}  // namespace

void TQuarn::SortEntries() {
  // Each path once, from the parent's path: no entry's chain of ancestors is
  // walked more than once, however deep the tree. Parents that are not
  // listed (the nameless root) get a path of their own too. The paths lie
  // one after another in one block of text, which the sort reads far faster
  // than strings all over memory.
  const auto count = static_cast<std::size_t>(Listing.Count());
  std::string text;
  text.reserve(count * 48 + TSieFile::kMaxShortName + 1);
  std::vector<Span> spans;
  spans.reserve(count + 16);
  TEntryIndex index(count + 16);
  std::vector<const TSieFile *> chain;
  std::string diskName;
  auto pathOf = [&](const TSieFile *entry) -> std::uint32_t {
    chain.clear();
    const TSieFile *e = entry;
    const std::uint32_t *known = nullptr;
    while (e != nullptr && (known = index.Find(e)) == nullptr) {
      chain.push_back(e);
      e = e->Parent;
    }
    std::uint32_t at = known != nullptr ? *known : 0;
    for (std::size_t i = chain.size(); i-- > 0;) {
      const TSieFile *node = chain[i];
      // Room first, so the parent's path can be read where it lies while
      // the child's is appended: a joined path is at most 255 bytes.
      if (text.capacity() - text.size() < TSieFile::kMaxShortName + 1)
        text.reserve(text.capacity() * 2 + TSieFile::kMaxShortName + 1);
      std::string_view parent;
      if (node->Parent != nullptr) {
        parent = std::string_view(text).substr(spans[at].At, spans[at].Length);
      } else if (node->Disk != nullptr) {
        diskName = ShortName(node->Disk->DiskName());
        parent = diskName;
      }
      const auto from = static_cast<std::uint32_t>(text.size());
      TSieFile::AppendJoinedPath(text, parent, node->Name, node->Parent != nullptr);
      spans.push_back({from, static_cast<std::uint32_t>(text.size()) - from});
      at = static_cast<std::uint32_t>(spans.size() - 1);
      index.Insert(node, at);
    }
    return at;
  };

  TList<Keyed> keyed;
  keyed.SetCapacity(Listing.Count());
  for (TSieFile *entry : Listing) keyed.Add({pathOf(entry), entry});
  // Ordinal: unsigned bytes, a shorter key before its extensions. Equal
  // paths keep their listing order.
  const std::string_view all(text);
  std::vector<std::uint32_t> order;
  if (TreeOrder(order, keyed, spans, index, RootEntry.get())) {
    TList<Keyed> sorted;
    sorted.SetCapacity(keyed.Count());
    for (const std::uint32_t i : order) sorted.Add(keyed[static_cast<int>(i)]);
    keyed = std::move(sorted);
  } else {
    keyed.Sort([&](const Keyed &a, const Keyed &b) {
      const Span &x = spans[a.Path];
      const Span &y = spans[b.Path];
      return all.substr(x.At, x.Length).compare(all.substr(y.At, y.Length));
    });
  }

  listingPathAt_.clear();
  listingPathLength_.clear();
  listingPathAt_.reserve(count);
  listingPathLength_.reserve(count);
  for (int i = 0; i < keyed.Count(); ++i) {
    Listing.Put(i, keyed[i].Entry);
    const Span &span = spans[keyed[i].Path];
    listingPathAt_.push_back(span.At);
    listingPathLength_.push_back(span.Length);
  }
  listingPathText_ = std::move(text);
}

std::string_view TQuarn::ListingPath(int index) const {
  const auto i = static_cast<std::size_t>(index);
  if (index < 0 || i >= listingPathAt_.size()) return {};
  return std::string_view(listingPathText_).substr(listingPathAt_[i], listingPathLength_[i]);
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
