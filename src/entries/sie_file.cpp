#include "entries/sie_file.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "platform/host_path.h"
#include "util/utf8.h"

namespace quarn {

namespace {

// Every piece between backslashes or slashes that is exactly "." or ".."
// has its dots written as "%2E".
template <typename Char>
std::basic_string<Char> EscapeDots(std::basic_string_view<Char> name) {
  const Char escaped[] = {Char('%'), Char('2'), Char('E')};
  std::basic_string<Char> safe;
  safe.reserve(name.size());
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != Char('\\') && name[i] != Char('/')) continue;
    const std::size_t length = i - start;
    if ((length == 1 || length == 2) && name.find_first_not_of(Char('.'), start) >= i)
      for (std::size_t k = 0; k < length; ++k) safe.append(escaped, 3);
    else
      safe.append(name.substr(start, length));
    if (i < name.size()) safe += name[i];
    start = i + 1;
  }
  return safe;
}

// One step of a path: `parentPath`, a backslash and `name`, cut to `limit`
// units, runs of backslashes collapsed, one leading backslash dropped, and
// never ending in a "." or ".." piece.
template <typename Char>
void AppendJoined(std::basic_string<Char> &out, std::basic_string_view<Char> parentPath,
                  std::basic_string_view<Char> name, bool parentJoined, std::size_t limit) {
  constexpr Char kBackslash = Char('\\');
  const Char doubled[] = {kBackslash, kBackslash, Char(0)};
  // The common case: a parent path as a join makes it (no run of
  // backslashes, none at either end) and a name without backslashes, within
  // the length.
  if (!parentPath.empty() && parentPath.back() != kBackslash && parentPath.front() != kBackslash &&
      parentPath.size() + 1 + name.size() <= limit &&
      name.find(kBackslash) == std::basic_string_view<Char>::npos &&
      (parentJoined || parentPath.find(doubled) == std::basic_string_view<Char>::npos)) {
    out += parentPath;
    out += kBackslash;
    out += name;
    return;
  }
  // Cut the joined text, then collapse every run of backslashes to one,
  // then drop one leading backslash. Copied in two pieces and collapsed in
  // place: deep trees make every path a cut one, so this runs per entry.
  const std::size_t start = out.size();
  const std::size_t fromParent = std::min(parentPath.size(), limit);
  out.append(parentPath.substr(0, fromParent));
  std::size_t left = limit - fromParent;
  if (left > 0) {
    --left;
    out += kBackslash;
  }
  out.append(name.substr(0, std::min(name.size(), left)));
  left -= std::min(name.size(), left);
  const auto collapsed =
      std::unique(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(),
                  [](Char a, Char b) { return a == kBackslash && b == kBackslash; });
  out.erase(collapsed, out.end());
  if (out.size() > start && out[start] == kBackslash) out.erase(start, 1);
  // UTF-16 keeps a surrogate pair whole; bytes are cut where the limit falls.
  if constexpr (sizeof(Char) == 2) {
    if (left == 0 && out.size() > start && IsHighSurrogate(out.back())) out.pop_back();
  }
  // A cut that leaves a last piece of "." or ".." would name a folder above
  // the entry's own: the path ends before that piece instead.
  const std::size_t last = out.find_last_of(kBackslash);
  const std::size_t piece =
      last == std::basic_string<Char>::npos || last < start ? start : last + 1;
  const std::size_t length = out.size() - piece;
  if ((length == 1 || length == 2) &&
      out.find_first_not_of(Char('.'), piece) == std::basic_string<Char>::npos)
    out.resize(piece > start ? piece - 1 : start);
}

}  // namespace

std::string ShortName(std::string text) {
  if (text.size() > TSieFile::kMaxShortName) text.resize(TSieFile::kMaxShortName);
  return text;
}

std::string EscapeDotPieces(const std::string &name) { return ShortName(EscapeDots<char>(name)); }

std::u16string EscapeDotPieces(std::u16string_view name) {
  std::u16string safe = EscapeDots<char16_t>(name);
  if (safe.size() > TSieFile::kMaxWideName) safe.resize(Utf16Cut(safe, TSieFile::kMaxWideName));
  return safe;
}

std::string DiskEntryName(const std::string &diskName, std::string_view suffix) {
  std::string name = diskName;
  name += suffix;
  return EscapeDotPieces(ShortName(std::move(name)));
}

void TSieFile::SetParent(TSieFile *newParent) {
  if (newParent == parent_) return;
  TSieFile *old = parent_;
  parent_ = nullptr;
  if (old != nullptr) old->RemoveChild(this);
  if (newParent != nullptr) {
    parent_ = newParent;
    // An entry is among the children of exactly the entry its parent names,
    // so it cannot be among newParent's children yet.
    newParent->children_.Add(this);
  }
}

int TSieFile::AddChild(TSieFile *child) {
  if (child->parent_ == this) {
    const int index = children_.IndexOf(child);
    if (index >= 0) return index;
    return children_.Add(child);
  }
  child->SetParent(this);
  return children_.Count() - 1;
}

void TSieFile::RemoveChild(TSieFile *child) {
  const int index = children_.IndexOf(child);
  if (index < 0) return;
  children_.Delete(index);
  child->SetParent(nullptr);
}

void TSieFile::AddFinding(TEntryDamage damage, std::uint16_t partId, std::uint32_t headerAddr) {
  if ((damage_ & damage) != 0) return;
  damage_ |= damage;
  findings_.push_back({damage, partId, headerAddr});
}

void TSieFile::AddExtent(TExtent extent) {
  Size += extent.Size;
  Extents.Add(std::move(extent));
}

void TSieFile::AppendJoinedPath(std::string &out, std::string_view parentPath,
                                std::string_view name, bool parentJoined) {
  AppendJoined<char>(out, parentPath, name, parentJoined, kMaxShortName);
}

void TSieFile::AppendJoinedPath(std::u16string &out, std::u16string_view parentPath,
                                std::u16string_view name, bool parentJoined) {
  AppendJoined<char16_t>(out, parentPath, name, parentJoined, kMaxWideName);
}

std::string TSieFile::JoinPath(const std::string &parentPath, const std::string &name) {
  std::string path;
  path.reserve(parentPath.size() + 1 + name.size());
  AppendJoinedPath(path, parentPath, name);
  return path;
}

std::string TSieFile::FullPath() const {
  // Walk up to the topmost entry, then join downwards: no recursion, however
  // deep the dump nests its directories.
  std::vector<const TSieFile *> chain;
  for (const TSieFile *e = this; e != nullptr; e = e->parent_) chain.push_back(e);
  const TSieFile *top = chain.back();
  std::string path = top->Disk != nullptr ? ShortName(top->Disk->DiskName()) : std::string();
  for (std::size_t i = chain.size(); i-- > 0;) path = JoinPath(path, chain[i]->Name);
  return path;
}

namespace {

// The path on the target disk of an entry named `name` in the folder `dir`.
std::string PlacedIn(const std::string &dir, const std::string &name) {
  return dir + HostName(name);
}

}  // namespace

std::string TSieFile::ExtractDir() const {
  if (!DestDir.empty()) return DestDir;
  // The ancestors up to the nearest one that learned a destination (or the
  // topmost one); their names follow that destination in top-down order.
  std::vector<const TSieFile *> chain;
  const TSieFile *anchor = this;
  while (anchor->DestDir.empty() && anchor->parent_ != nullptr) {
    anchor = anchor->parent_;
    chain.push_back(anchor);
  }
  if (chain.empty()) return std::string();
  std::string dir = anchor->DestDir;
  for (std::size_t i = chain.size(); i-- > 0;) dir = PlacedIn(dir, chain[i]->Name) + kPathDelimiter;
  return dir;
}

namespace {

// The learned destination and the name of an entry, in one interface's form.
const std::string &DestOf(const TSieFile &entry, const std::string *) { return entry.DestDir; }
const std::u16string &DestOf(const TSieFile &entry, const std::u16string *) {
  return entry.DestDirW;
}
const std::string &NameOf(const TSieFile &entry, const std::string *) { return entry.Name; }
const std::u16string &NameOf(const TSieFile &entry, const std::u16string *) {
  return entry.WideName;
}

std::u16string PlacedIn(const std::u16string &dir, const std::u16string &name) {
  return dir + HostName(name);
}

}  // namespace

template <typename String>
TExtractPathsOf<String>::TExtractPathsOf(std::size_t maxLength) : maxLength_(maxLength) {}

template <typename String>
const std::optional<String> &TExtractPathsOf<String>::PathOf(const TSieFile &entry) {
  constexpr const String *kForm = nullptr;
  const auto delimiter = static_cast<typename String::value_type>(kPathDelimiter);
  // The entries from this one up to the nearest one already worked out, then
  // downwards: each path from its parent's, as ExtractDir joins them.
  chain_.clear();
  for (const TSieFile *e = &entry; e != nullptr && paths_.find(e) == paths_.end(); e = e->Parent())
    chain_.push_back(e);
  for (std::size_t i = chain_.size(); i-- > 0;) {
    const TSieFile *node = chain_[i];
    std::optional<String> path;
    if (!DestOf(*node, kForm).empty()) {
      path = PlacedIn(DestOf(*node, kForm), NameOf(*node, kForm));
    } else if (node->Parent() != nullptr) {
      const std::optional<String> &parent = paths_[node->Parent()];
      if (parent) path = PlacedIn(*parent + delimiter, NameOf(*node, kForm));
    }
    if (path && path->size() > maxLength_) path.reset();
    paths_.emplace(node, std::move(path));
  }
  return paths_[&entry];
}

template class TExtractPathsOf<std::string>;
template class TExtractPathsOf<std::u16string>;

}  // namespace quarn
