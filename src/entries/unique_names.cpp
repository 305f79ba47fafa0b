#include "entries/unique_names.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <vector>

#include "platform/host_path.h"
#include "platform/platform.h"
#include "util/string_table.h"
#include "util/utf8.h"

namespace quarn {

namespace {

std::size_t CharacterCut(std::string_view text, std::size_t limit) {
  return NarrowCut(text, limit);
}

std::size_t CharacterCut(std::u16string_view text, std::size_t limit) {
  return Utf16Cut(text, limit);
}

// Appends `name` numbered to `out`, at most `limit` units; `name` may lie in
// `out` when `out` has room for `limit` more units, so that appending does
// not move it: every piece is cut to size before anything is written.
template <typename Char>
void AppendNumbered(std::basic_string<Char> &out, std::basic_string_view<Char> name, int number,
                    std::size_t limit) {
  char digits[16];
  const int length = std::snprintf(digits, sizeof digits, " (%d)", number);
  const std::size_t suffix = length > 0 ? static_cast<std::size_t>(length) : 0;
  // The extension is the last piece's, from its last dot (a dot that
  // starts the piece starts a name, not an extension). Searched from the
  // end only as far as the piece goes: the names lie at the end of long paths.
  std::size_t pieceStart = name.size();
  while (pieceStart > 0 && name[pieceStart - 1] != Char('\\') && name[pieceStart - 1] != Char('/'))
    --pieceStart;
  std::size_t dot = name.size();
  for (std::size_t i = name.size(); i > pieceStart + 1; --i) {
    if (name[i - 1] == Char('.')) {
      dot = i - 1;
      break;
    }
  }
  std::basic_string_view<Char> extension = name.substr(dot);
  std::basic_string_view<Char> stem = name.substr(0, dot);
  const std::size_t room =
      limit > suffix + extension.size() ? limit - suffix - extension.size() : 0;
  stem = stem.substr(0, CharacterCut(stem, room));
  // An extension too long for the number beside it is cut at its end.
  const std::size_t left = limit > stem.size() + suffix ? limit - stem.size() - suffix : 0;
  extension = extension.substr(0, CharacterCut(extension, left));
  out += stem;
  out.append(digits, digits + std::min(suffix, limit));
  out += extension;
}

template <typename Char>
std::basic_string<Char> Numbered(std::basic_string_view<Char> name, int number, std::size_t limit) {
  std::basic_string<Char> numbered;
  numbered.reserve(name.size() + 16);
  AppendNumbered(numbered, name, number, limit);
  return numbered;
}

// A key's bytes, as the table of keys holds them.
std::string_view Bytes(std::string_view key) { return key; }
std::string_view Bytes(std::u16string_view key) {
  return {reinterpret_cast<const char *>(key.data()), key.size() * sizeof(char16_t)};
}

template <typename Char>
std::vector<std::pair<std::size_t, std::basic_string<Char>>> NumberApartIn(
    const std::vector<std::basic_string_view<Char>> &names, std::size_t limit) {
  using String = std::basic_string<Char>;
  std::vector<std::pair<std::size_t, String>> renamed;
  // Keys are views: of a name itself where that compares as the host
  // compares it, else of a key kept in `store`, which never moves what it
  // holds. On Linux the host form turns '/' into "%2F" and then '\' into
  // '/'; the second step changes no comparison, so a name without '/' is
  // its own key. On Windows names compare case-blind.
  std::deque<String> store;
  auto keyOf = [&store](std::basic_string_view<Char> name) -> std::string_view {
#ifndef _WIN32
    if (name.find(Char('/')) == std::basic_string_view<Char>::npos) return Bytes(name);
    String key;
    key.reserve(name.size() + 8);
    for (const Char c : name) {
      if (c == Char('/')) {
        key += Char('%');
        key += Char('2');
        key += Char('F');
      } else {
        key += c;
      }
    }
    return Bytes(std::basic_string_view<Char>(store.emplace_back(std::move(key))));
#else
    // The Windows file API drops the dots and spaces that end a name (or a
    // piece of a path): "a", "a." and "a " name one file.
    String key = HostKey(name);
    std::size_t kept = 0;
    std::size_t piece = 0;  // where the piece being copied starts in the key
    for (std::size_t i = 0; i <= key.size(); ++i) {
      if (i == key.size() || key[i] == Char('\\')) {
        while (kept > piece && (key[kept - 1] == Char('.') || key[kept - 1] == Char(' '))) --kept;
        if (i == key.size()) break;
        piece = kept + 1;
      }
      key[kept++] = key[i];
    }
    key.resize(kept);
    return Bytes(std::basic_string_view<Char>(store.emplace_back(std::move(key))));
#endif
  };
  // Every name there is; and the names given out, each with the next number
  // to try for it, so that many copies of one name (a crafted dump can list
  // thousands) are numbered in one pass.
  TStringTable given;
  for (const auto name : names) given.Insert(keyOf(name), 0);
  if (given.Count() == names.size()) return renamed;
  // The new names wait in `made`, which never moves them, while the tables
  // hold views of them.
  std::deque<std::pair<std::size_t, String>> made;
  TStringTable taken;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const auto [next, first] = taken.Insert(keyOf(names[i]), 2);
    if (first) continue;
    for (int &number = *next;; ++number) {
      String candidate = Numbered(names[i], number, limit);
      const std::string_view key = keyOf(candidate);
      if (given.Find(key) != nullptr || taken.Find(key) != nullptr) continue;
      ++number;
      const String &kept = made.emplace_back(i, std::move(candidate)).second;
      taken.Insert(keyOf(kept), 2);
      break;
    }
  }
  renamed.reserve(made.size());
  for (auto &rename : made) renamed.push_back(std::move(rename));
  return renamed;
}

template <typename String>
void RenameIn(TSieFile &top, String TSieFile::*nameOf, std::size_t limit) {
  using Char = typename String::value_type;
  // Folder by folder, breadth-first: no recursion, however deep the tree.
  std::vector<TSieFile *> folders{&top};
  std::vector<std::basic_string_view<Char>> names;
  for (std::size_t f = 0; f < folders.size(); ++f) {
    const TList<TSieFile *> &children = folders[f]->Children();
    for (TSieFile *child : children)
      if (child->Children().Count() > 0) folders.push_back(child);
    if (children.Count() < 2) continue;
    names.clear();
    for (const TSieFile *child : children) names.emplace_back(child->*nameOf);
    for (auto &[index, name] : NumberApartIn(names, limit)) {
      TSieFile *child = children[static_cast<int>(index)];
      child->*nameOf = std::move(name);
      child->Renamed = true;
    }
  }
}

}  // namespace

std::string HostKey(std::string_view name) {
  std::string key = HostName(name);
#ifdef _WIN32
  if (!key.empty()) CharUpperBuffA(key.data(), static_cast<DWORD>(key.size()));
#endif
  return key;
}

std::u16string HostKey(std::u16string_view name) {
  std::u16string key = HostName(name);
#ifdef _WIN32
  if (!key.empty())
    CharUpperBuffW(reinterpret_cast<WCHAR *>(key.data()), static_cast<DWORD>(key.size()));
#endif
  return key;
}

std::string NumberedName(std::string_view name, int number, std::size_t limit) {
  return Numbered(name, number, limit);
}

std::u16string NumberedName(std::u16string_view name, int number, std::size_t limit) {
  return Numbered(name, number, limit);
}

std::vector<std::pair<std::size_t, std::string>> NumberApart(
    const std::vector<std::string_view> &names, std::size_t limit) {
  return NumberApartIn(names, limit);
}

std::vector<std::pair<std::size_t, std::u16string>> NumberApart(
    const std::vector<std::u16string_view> &names, std::size_t limit) {
  return NumberApartIn(names, limit);
}

void RenameDuplicateChildren(TSieFile &top, bool wide) {
  if (wide)
    RenameIn(top, &TSieFile::WideName, TSieFile::kMaxWideName);
  else
    RenameIn(top, &TSieFile::Name, TSieFile::kMaxShortName);
}

}  // namespace quarn
