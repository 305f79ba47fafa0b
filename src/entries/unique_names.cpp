#include "entries/unique_names.h"

#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/host_path.h"
#include "platform/platform.h"

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
  std::vector<TSieFile *> folders{&top};
  std::unordered_set<std::string> taken;
  std::unordered_set<std::string> given;
  // The next number to try for a name: many copies of one name (a crafted
  // dump can list thousands) are numbered in one pass.
  std::unordered_map<std::string, int> next;
  for (std::size_t f = 0; f < folders.size(); ++f) {
    const TList<TSieFile *> &children = folders[f]->Children();
    for (TSieFile *child : children)
      if (child->Children().Count() > 0) folders.push_back(child);
    if (children.Count() < 2) continue;
    // Every name as stored, then the first of each kept and the others
    // numbered past every name there is.
    given.clear();
    for (const TSieFile *child : children) given.insert(HostKey(child->Name));
    if (static_cast<int>(given.size()) == children.Count()) continue;
    taken.clear();
    next.clear();
    for (TSieFile *child : children) {
      std::string key = HostKey(child->Name);
      if (taken.insert(key).second) continue;
      int &number = next.try_emplace(std::move(key), 2).first->second;
      for (;; ++number) {
        std::string renamed = NumberedName(child->Name, number);
        std::string renamedKey = HostKey(renamed);
        if (given.count(renamedKey) != 0 || !taken.insert(std::move(renamedKey)).second) continue;
        child->Name = std::move(renamed);
        ++number;
        break;
      }
    }
  }
}

}  // namespace quarn
