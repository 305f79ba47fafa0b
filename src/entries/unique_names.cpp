#include "entries/unique_names.h"

#include <algorithm>
#include <deque>
#include <vector>

#include "platform/host_path.h"
#include "platform/platform.h"
#include "util/string_table.h"

namespace quarn {

namespace {

// How many bytes of `text` to keep so that at most `limit` remain and no
// character of the narrow code page is split.
std::size_t CharacterCut(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
#ifdef _WIN32
  std::size_t keep = 0;
  while (keep < text.size()) {
    const std::size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[keep])) ? 2 : 1;
    if (keep + step > limit) break;
    keep += step;
  }
  return keep;
#else
  std::size_t keep = limit;
  while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;
  return keep;
#endif
}

}  // namespace

std::string HostKey(std::string_view name) {
  std::string key = HostName(name);
#ifdef _WIN32
  if (!key.empty()) CharUpperBuffA(key.data(), static_cast<DWORD>(key.size()));
#endif
  return key;
}

std::string NumberedName(std::string_view name, int number, std::size_t limit) {
  const std::string suffix = " (" + std::to_string(number) + ")";
  const std::size_t pieceStart =
      name.find_last_of("\\/") == std::string_view::npos ? 0 : name.find_last_of("\\/") + 1;
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot <= pieceStart) dot = name.size();
  const std::string_view extension = name.substr(dot);
  std::string_view stem = name.substr(0, dot);
  const std::size_t room =
      limit > suffix.size() + extension.size() ? limit - suffix.size() - extension.size() : 0;
  stem = stem.substr(0, CharacterCut(stem, room));
  std::string numbered(stem);
  numbered += suffix;
  numbered += extension;
  if (numbered.size() > limit) numbered.resize(CharacterCut(numbered, limit));
  return numbered;
}

void RenameDuplicateChildren(TSieFile &top) {
  // Folder by folder, breadth-first: no recursion, however deep the tree.
  // Keys are views: of a child's own name where that is its key, else of a
  // key or a new name kept in `store`, which never moves what it holds. New
  // names are given once a folder is done, so the views of old ones last.
  std::vector<TSieFile *> folders{&top};
  std::deque<std::string> store;
  std::deque<std::pair<TSieFile *, std::string>> renames;
  // Every name there is; and the names given out, each with the next number
  // to try for it, so that many copies of one name (a crafted dump can list
  // thousands) are numbered in one pass.
  TStringTable given;
  TStringTable taken;
  auto keyOf = [&store](const std::string &name) -> std::string_view {
#ifndef _WIN32
    if (std::none_of(name.begin(), name.end(), [](char c) { return c == '/' || c == '\\'; }))
      return name;
#endif
    return store.emplace_back(HostKey(name));
  };
  for (std::size_t f = 0; f < folders.size(); ++f) {
    const TList<TSieFile *> &children = folders[f]->Children();
    for (TSieFile *child : children)
      if (child->Children().Count() > 0) folders.push_back(child);
    if (children.Count() < 2) continue;
    // Every name as stored, then the first of each kept and the others
    // numbered past every name there is.
    const auto count = static_cast<std::size_t>(children.Count());
    store.clear();
    given.Clear();
    for (const TSieFile *child : children) given.Insert(keyOf(child->Name), 0);
    if (given.Count() == count) continue;
    taken.Clear();
    renames.clear();
    for (TSieFile *child : children) {
      const auto [next, first] = taken.Insert(keyOf(child->Name), 2);
      if (first) continue;
      for (int &number = *next;; ++number) {
        std::string renamed = NumberedName(child->Name, number);
        const std::string_view renamedKey = keyOf(renamed);
        if (given.Find(renamedKey) != nullptr || taken.Find(renamedKey) != nullptr) continue;
        ++number;
        const std::string &kept = renames.emplace_back(child, std::move(renamed)).second;
        taken.Insert(keyOf(kept), 2);
        break;
      }
    }
    for (auto &[child, name] : renames) {
      child->Name = std::move(name);
      child->Renamed = true;
    }
  }
}

}  // namespace quarn
