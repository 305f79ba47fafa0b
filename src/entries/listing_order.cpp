#include "entries/listing_order.h"

#include <algorithm>
#include <cstring>

#include "entries/listing_path.h"
#include "entries/unique_names.h"
#include "util/string_table.h"

namespace quarn {

namespace {

// Entry to path number. Each entry keeps the number the current order gave
// it (OrderSlot), checked against the entry the number stands for, so that
// a number left from an earlier order counts for nothing: no lookup in a
// table, whose random reads would cost more than the whole sort.
class TEntryIndex {
 public:
  explicit TEntryIndex(std::size_t expected) { entries_.reserve(expected); }

  const std::uint32_t *Find(const TSieFile *key) const {
    const std::uint32_t slot = key->OrderSlot;
    return slot < entries_.size() && entries_[slot] == key ? &key->OrderSlot : nullptr;
  }

  // `key` must not be there yet; `value` is the next number.
  void Insert(const TSieFile *key, std::uint32_t value) {
    key->OrderSlot = value;
    if (entries_.size() <= value) entries_.resize(value + 1, nullptr);
    entries_[value] = key;
  }

 private:
  std::vector<const TSieFile *> entries_;
};

// A listing path in the block of text that holds them all.
struct Span {
  std::uint32_t At;
  std::uint32_t Length;
};

// A listed entry, the number of its path and its place in the listed order.
struct Keyed {
  std::uint32_t Path;
  std::uint32_t Listed;
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
               const std::vector<Span> &spans, std::string_view text, const TEntryIndex &index,
               const TSieFile *nameless) {
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
    if (e->Name.empty() || e->Name.find('\\') != std::string::npos || e->Parent() == nullptr)
      return false;
    std::uint32_t parentLength = 0;
    if (e->Parent() == nameless) {
      parent[i] = n;
    } else {
      const std::uint32_t *path = index.Find(e->Parent());
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

  // A key is a child's name, followed by a backslash for its contents. The
  // name is read at the end of the child's path, where the names of one
  // folder lie near one another, not through the entry.
  struct Item {
    std::uint64_t Key;  // 8 bytes of the key from the folder's common start, big-endian
    std::string_view Name;
    std::uint32_t Entry;
    bool Contents;
  };
  auto nameOf = [&](std::uint32_t i) {
    const Keyed &k = keyed[static_cast<int>(i)];
    const Span &span = spans[k.Path];
    const std::size_t length = k.Entry->Name.size();
    return text.substr(span.At + span.Length - length, length);
  };
  auto before = [](const Item &a, const Item &b) {
    if (a.Key != b.Key) return a.Key < b.Key;
    const std::string_view x = a.Name;
    const std::string_view y = b.Name;
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
    // Most comparisons end within 8 bytes past what every name of the folder
    // begins with, which are compared as one number (names hold no NUL, so
    // the 0 after a key's end sorts it first, as a shorter key does).
    std::size_t common = std::string_view::npos;
    std::string_view first;
    for (std::uint32_t k = childCount[folder]; k < childCount[folder + 1]; ++k) {
      const std::string_view childName = nameOf(children[k]);
      if (common == std::string_view::npos) {
        first = childName;
        common = childName.size();
      }
      std::size_t same = 0;
      while (same < common && same < childName.size() && childName[same] == first[same]) ++same;
      common = same;
    }
    auto keyOf = [common](std::string_view name, bool contents) {
      std::uint64_t key = 0;
      for (std::size_t b = 0; b < 8; ++b) {
        const std::size_t at = common + b;
        const std::uint8_t byte = at < name.size() ? static_cast<std::uint8_t>(name[at])
                                  : at == name.size() && contents ? '\\'
                                                                  : 0;
        key = (key << 8) | byte;
      }
      return key;
    };
    for (std::uint32_t k = childCount[folder]; k < childCount[folder + 1]; ++k) {
      const std::uint32_t child = children[k];
      const std::string_view childName = nameOf(child);
      items.push_back({keyOf(childName, false), childName, child, false});
      if (hasChildren(child)) items.push_back({keyOf(childName, true), childName, child, true});
    }
    std::sort(items.begin(), items.end(), before);
    // Two children of one name share a path, which the sort of whole paths
    // numbers (and the contents of two such folders would mix).
    for (std::size_t k = 1; k < items.size(); ++k) {
      const Item &a = items[k - 1];
      const Item &b = items[k];
      if (!a.Contents && !b.Contents && a.Name == b.Name) return false;
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

// Where whole paths still meet once every folder's children have names of
// their own (names that hold backslashes, paths cut to 255 bytes), every
// entry after the first, in listed order, is numbered. When every path is
// its parent's and a name, none can meet: this runs only when the tree order
// cannot be used.
void NumberSharedPaths(TList<Keyed> &keyed, std::vector<Span> &spans, std::string &text) {
  std::vector<std::string_view> paths;
  paths.reserve(static_cast<std::size_t>(keyed.Count()));
  for (const Keyed &k : keyed)
    paths.push_back(std::string_view(text).substr(spans[k.Path].At, spans[k.Path].Length));
  // The views into `text` are done with before it grows.
  auto renamed = NumberApart(paths);
  paths.clear();
  spans.reserve(spans.size() + renamed.size());
  for (const auto &[index, path] : renamed) {
    Keyed &k = keyed[static_cast<int>(index)];
    spans.push_back(
        {static_cast<std::uint32_t>(text.size()), static_cast<std::uint32_t>(path.size())});
    text += path;
    k.Path = static_cast<std::uint32_t>(spans.size() - 1);
    k.Entry->Renamed = true;
  }
}

}  // namespace

TListingOrder::TListingOrder(const TList<TSieFile *> &listed, const TSieFile *namelessRoot,
                             TMethod method) {
  // Each path once, from the parent's path: no entry's chain of ancestors is
  // walked more than once, however deep the tree. Parents that are not
  // listed (the nameless root) get a path of their own too. The paths lie
  // one after another in one block of text, which the sort reads far faster
  // than strings all over memory.
  const auto count = static_cast<std::size_t>(listed.Count());
  std::string text;
  text.reserve(count * 48 + TSieFile::kMaxShortName + 1);
  std::vector<Span> spans;
  spans.reserve(count + 16);
  TEntryIndex index(count + 16);
  // Not TParentPaths (parent_paths.h): its hash table would make the whole order 1.5x slower.
  std::vector<const TSieFile *> chain;
  std::string diskName;
  auto pathOf = [&](const TSieFile *entry) -> std::uint32_t {
    chain.clear();
    const TSieFile *e = entry;
    const std::uint32_t *known = nullptr;
    while (e != nullptr && (known = index.Find(e)) == nullptr) {
      chain.push_back(e);
      e = e->Parent();
    }
    std::uint32_t at = known != nullptr ? *known : 0;
    for (std::size_t i = chain.size(); i-- > 0;) {
      const TSieFile *node = chain[i];
      // Room first, so the parent's path can be read where it lies while
      // the child's is appended: a joined path is at most 255 bytes.
      if (text.capacity() - text.size() < TSieFile::kMaxShortName + 1)
        text.reserve(text.capacity() * 2 + TSieFile::kMaxShortName + 1);
      std::string_view parent;
      if (node->Parent() != nullptr) {
        parent = std::string_view(text).substr(spans[at].At, spans[at].Length);
      } else if (node->Disk != nullptr) {
        diskName = ShortName(node->Disk->DiskName());
        parent = diskName;
      }
      const auto from = static_cast<std::uint32_t>(text.size());
      TSieFile::AppendJoinedPath(text, parent, node->Name, node->Parent() != nullptr);
      spans.push_back({from, static_cast<std::uint32_t>(text.size()) - from});
      at = static_cast<std::uint32_t>(spans.size() - 1);
      index.Insert(node, at);
    }
    return at;
  };

  TList<Keyed> keyed;
  keyed.SetCapacity(listed.Count());
  for (TSieFile *entry : listed)
    keyed.Add({pathOf(entry), static_cast<std::uint32_t>(keyed.Count()), entry});
  // Ordinal: unsigned bytes, a shorter key before its extensions. Equal
  // paths keep their listing order.
  std::vector<std::uint32_t> order;
  if (method == TMethod::Tree && TreeOrder(order, keyed, spans, text, index, namelessRoot)) {
    TList<Keyed> sorted;
    sorted.SetCapacity(keyed.Count());
    for (const std::uint32_t i : order) sorted.Add(keyed[static_cast<int>(i)]);
    keyed = std::move(sorted);
  } else {
    auto byPath = [&](const Keyed &a, const Keyed &b) {
      const std::string_view all(text);
      const Span &x = spans[a.Path];
      const Span &y = spans[b.Path];
      return all.substr(x.At, x.Length).compare(all.substr(y.At, y.Length));
    };
    // Equal paths keep their listed order in the sort, so the first of each
    // is the first listed: numbered before sorting, the sort runs once.
    NumberSharedPaths(keyed, spans, text);
    keyed.Sort(byPath);
  }

  entries_.reserve(count);
  listedAt_.reserve(count);
  pathAt_.reserve(count);
  pathLength_.reserve(count);
  for (const Keyed &k : keyed) {
    entries_.push_back(k.Entry);
    listedAt_.push_back(k.Listed);
    const Span &span = spans[k.Path];
    pathAt_.push_back(span.At);
    pathLength_.push_back(span.Length);
  }
  pathText_ = std::move(text);
}

std::string_view TListingOrder::Path(int index) const {
  const auto i = static_cast<std::size_t>(index);
  if (index < 0 || i >= pathAt_.size()) return {};
  return std::string_view(pathText_).substr(pathAt_[i], pathLength_[i]);
}

}  // namespace quarn
