#include "entries/listing_path.h"

#include <algorithm>
#include <cstddef>

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

}  // namespace quarn
