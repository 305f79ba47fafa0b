// How paths look on the host's side of the plugin. Inside, listing paths are
// joined with backslashes, as on Windows. On Linux the separator is '/', and a
// '/' that a name holds would invent a directory, so it is shown as "%2F"
// (in the spirit of the "????" -> "%3F%3F%3F%3F" rule); a backslash then
// becomes '/', so a path keeps the structure the listing gives it.
#ifndef QUARN_PLATFORM_HOST_PATH_H
#define QUARN_PLATFORM_HOST_PATH_H

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace quarn {

// How many bytes of narrow text to keep so that at most `limit` remain and
// no character of the narrow code page is split: a double-byte character of
// the ANSI code page on Windows, a UTF-8 sequence on Linux.
inline std::size_t NarrowCut(std::string_view text, std::size_t limit) {
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

#ifdef _WIN32
constexpr char kPathDelimiter = '\\';
inline bool IsPathDelimiter(char c) { return c == '\\' || c == ':'; }
#else
constexpr char kPathDelimiter = '/';
inline bool IsPathDelimiter(char c) { return c == '/'; }
#endif

// Hands `put` the host's form of a name or listing path (narrow or UTF-16),
// unit by unit, until `put` answers false.
template <typename Char, typename Put>
void ForEachHostChar(std::basic_string_view<Char> name, Put put) {
  for (const Char c : name) {
#ifdef _WIN32
    if (!put(c)) return;
#else
    if (c == Char('/')) {
      if (!put(Char('%')) || !put(Char('2')) || !put(Char('F'))) return;
    } else if (!put(c == Char('\\') ? Char('/') : c)) {
      return;
    }
#endif
  }
}
template <typename Put>
void ForEachHostChar(std::string_view name, Put put) {
  ForEachHostChar<char>(name, put);
}

// A name, or a listing path (backslash-separated), in the host's form.
inline std::string HostName(std::string_view name) {
  std::string host;
  host.reserve(name.size());
  ForEachHostChar<char>(name, [&host](char c) {
    host += c;
    return true;
  });
  return host;
}
inline std::u16string HostName(std::u16string_view name) {
  std::u16string host;
  host.reserve(name.size());
  ForEachHostChar<char16_t>(name, [&host](char16_t c) {
    host += c;
    return true;
  });
  return host;
}

// The same written into a record's field of `capacity` bytes: cut to
// capacity - 1 bytes and ended by a NUL.
inline void HostPathInto(char *field, std::size_t capacity, std::string_view listingPath) {
  std::size_t used = 0;
  ForEachHostChar(listingPath, [&](char c) {
    if (used + 1 >= capacity) return false;
    field[used++] = c;
    return true;
  });
  field[used] = '\0';
}

}  // namespace quarn

#endif
