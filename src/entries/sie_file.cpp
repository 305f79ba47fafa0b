#include "entries/sie_file.h"

#include <vector>

#include "platform/host_path.h"

namespace quarn {

std::string ShortName(std::string text) {
  if (text.size() > TSieFile::kMaxShortName) text.resize(TSieFile::kMaxShortName);
  return text;
}

std::string EscapeDotPieces(const std::string &name) {
  std::string safe;
  safe.reserve(name.size());
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != '\\' && name[i] != '/') continue;
    const std::size_t length = i - start;
    if ((length == 1 || length == 2) && name.find_first_not_of('.', start) >= i)
      for (std::size_t k = 0; k < length; ++k) safe += "%2E";
    else
      safe.append(name, start, length);
    if (i < name.size()) safe += name[i];
    start = i + 1;
  }
  return ShortName(std::move(safe));
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

void TSieFile::AddExtent(TExtent extent) {
  Size += extent.Size;
  // Most entries have one extent: room for just that one at first.
  if (Extents.Capacity() == 0) Extents.SetCapacity(1);
  Extents.Add(std::move(extent));
}

void TSieFile::AppendJoinedPath(std::string &out, std::string_view parentPath,
                                std::string_view name, bool parentJoined) {
  // The common case: a parent path as a join makes it (no run of
  // backslashes, none at either end) and a name without backslashes, within
  // the length.
  if (!parentPath.empty() && parentPath.back() != '\\' && parentPath.front() != '\\' &&
      parentPath.size() + 1 + name.size() <= kMaxShortName &&
      name.find('\\') == std::string_view::npos &&
      (parentJoined || parentPath.find("\\\\") == std::string_view::npos)) {
    out += parentPath;
    out += '\\';
    out += name;
    return;
  }
  // Cut the joined text, then collapse every run of backslashes to one,
  // then drop one leading backslash.
  std::size_t left = kMaxShortName;
  const std::size_t start = out.size();
  auto put = [&](char c) {
    if (c == '\\' && out.size() > start && out.back() == '\\') return;
    out += c;
  };
  for (const char c : parentPath) {
    if (left == 0) break;
    --left;
    put(c);
  }
  if (left > 0) {
    --left;
    put('\\');
  }
  for (const char c : name) {
    if (left == 0) break;
    --left;
    put(c);
  }
  if (out.size() > start && out[start] == '\\') out.erase(start, 1);
  // A cut that leaves a last piece of "." or ".." would name a folder above
  // the entry's own: the path ends before that piece instead.
  const std::size_t last = out.find_last_of('\\');
  const std::size_t piece = last == std::string::npos || last < start ? start : last + 1;
  const std::size_t length = out.size() - piece;
  if ((length == 1 || length == 2) && out.find_first_not_of('.', piece) == std::string::npos)
    out.resize(piece > start ? piece - 1 : start);
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

TExtractPaths::TExtractPaths(std::size_t maxLength) : maxLength_(maxLength) {}

const std::optional<std::string> &TExtractPaths::PathOf(const TSieFile &entry) {
  // The entries from this one up to the nearest one already worked out, then
  // downwards: each path from its parent's, as ExtractDir joins them.
  chain_.clear();
  for (const TSieFile *e = &entry; e != nullptr && paths_.find(e) == paths_.end(); e = e->Parent())
    chain_.push_back(e);
  for (std::size_t i = chain_.size(); i-- > 0;) {
    const TSieFile *node = chain_[i];
    std::optional<std::string> path;
    if (!node->DestDir.empty()) {
      path = PlacedIn(node->DestDir, node->Name);
    } else if (node->Parent() != nullptr) {
      const std::optional<std::string> &parent = paths_[node->Parent()];
      if (parent) path = PlacedIn(*parent + kPathDelimiter, node->Name);
    }
    if (path && path->size() > maxLength_) path.reset();
    paths_.emplace(node, std::move(path));
  }
  return paths_[&entry];
}

}  // namespace quarn
