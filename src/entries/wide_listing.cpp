#include "entries/wide_listing.h"

#include "entries/listing_path.h"
#include "entries/parent_paths.h"
#include "entries/unique_names.h"
#include "platform/platform.h"
#include "util/utf8.h"

namespace quarn {

std::u16string WideFromNarrow(std::string_view narrow) {
  std::u16string wide;
  if (narrow.empty()) return wide;
#ifdef _WIN32
  const int units =
      MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
  if (units <= 0) return wide;
  wide.resize(static_cast<std::size_t>(units));
  MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()),
                      reinterpret_cast<WCHAR *>(wide.data()), units);
#else
  constexpr char kHex[] = "0123456789ABCDEF";
  const auto *bytes = reinterpret_cast<const unsigned char *>(narrow.data());
  wide.reserve(narrow.size());
  for (std::size_t i = 0; i < narrow.size();) {
    char32_t codePoint = 0;
    const std::size_t length = DecodeUtf8(bytes + i, narrow.size() - i, &codePoint);
    if (length == 0) {
      wide += u'%';
      wide += static_cast<char16_t>(kHex[bytes[i] >> 4]);
      wide += static_cast<char16_t>(kHex[bytes[i] & 0x0F]);
      ++i;
      continue;
    }
    AppendUtf16(wide, codePoint);
    i += length;
  }
#endif
  return wide;
}

std::string NarrowFromWide(std::u16string_view wide) {
  std::string narrow;
  if (wide.empty()) return narrow;
  const auto *units = reinterpret_cast<const WCHAR *>(wide.data());
  const int length = static_cast<int>(wide.size());
  const int bytes = WideCharToMultiByte(CP_ACP, 0, units, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return narrow;
  narrow.resize(static_cast<std::size_t>(bytes));
  WideCharToMultiByte(CP_ACP, 0, units, length, narrow.data(), bytes, nullptr, nullptr);
  return narrow;
}

TWideListing::TWideListing(const TListingOrder &listing, TSieFile &namelessRoot) {
  // Names: breadth-first over the tree, no recursion.
  std::vector<TSieFile *> all{&namelessRoot};
  for (std::size_t i = 0; i < all.size(); ++i) {
    TSieFile *entry = all[i];
    if (entry->WideName.empty() && !entry->Name.empty())
      entry->WideName = WideFromNarrow(entry->Name);
    for (TSieFile *child : entry->Children()) all.push_back(child);
  }
  RenameDuplicateChildren(namelessRoot, true);

  // Paths, each from its parent's: a parent's path is kept while its
  // children are worked out, however the listing orders them.
  TParentPaths<std::u16string> parents;
  auto join = [](const TSieFile &node, const std::u16string *parent) {
    // An entry below no other follows its disk's name.
    std::u16string disk;
    if (parent == nullptr && node.Disk != nullptr)
      disk = WideFromNarrow(ShortName(node.Disk->DiskName()));
    std::u16string path;
    TSieFile::AppendJoinedPath(path, parent != nullptr ? *parent : disk, node.WideName);
    return path;
  };
  auto hasChildren = [](const TSieFile &node) { return node.Children().Count() > 0; };

  const int count = listing.Count();
  at_.reserve(static_cast<std::size_t>(count));
  length_.reserve(static_cast<std::size_t>(count));
  for (TSieFile *entry : listing.Entries()) {
    const std::u16string &p = parents.Of(*entry, join, hasChildren);
    at_.push_back(static_cast<std::uint32_t>(text_.size()));
    length_.push_back(static_cast<std::uint32_t>(p.size()));
    text_ += p;
  }

  // Where whole paths still meet (names holding backslashes, paths cut at
  // their limit), every entry after the first is numbered, taken in the
  // order the narrow listing takes them.
  std::vector<int> byListed(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) byListed[listing.ListedAt(i)] = i;
  std::vector<std::u16string_view> paths;
  paths.reserve(static_cast<std::size_t>(count));
  for (const int i : byListed) paths.push_back(Path(i));
  // The views into `text_` are done with before it grows.
  auto renamed = NumberApart(paths);
  paths.clear();
  for (const auto &[index, path] : renamed) {
    const auto i = static_cast<std::size_t>(byListed[index]);
    listing.Entry(static_cast<int>(i))->Renamed = true;
    at_[i] = static_cast<std::uint32_t>(text_.size());
    length_[i] = static_cast<std::uint32_t>(path.size());
    text_ += path;
  }
}

std::u16string_view TWideListing::Path(int index) const {
  const auto i = static_cast<std::size_t>(index);
  if (index < 0 || i >= at_.size()) return {};
  return std::u16string_view(text_).substr(at_[i], length_[i]);
}

}  // namespace quarn
