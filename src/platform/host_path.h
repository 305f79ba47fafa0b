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

namespace quarn {

#ifdef _WIN32
constexpr char kPathDelimiter = '\\';
inline bool IsPathDelimiter(char c) { return c == '\\' || c == ':'; }
inline std::string HostName(const std::string &name) { return name; }
#else
constexpr char kPathDelimiter = '/';
inline bool IsPathDelimiter(char c) { return c == '/'; }
inline std::string HostName(const std::string &name) {
  std::size_t slashes = 0;
  for (const char c : name) slashes += c == '/' ? 1 : 0;
  std::string host(name.size() + 2 * slashes, '\0');
  char *out = host.data();
  for (const char c : name) {
    if (c == '/') {
      *out++ = '%';
      *out++ = '2';
      *out++ = 'F';
    } else {
      *out++ = c == '\\' ? '/' : c;
    }
  }
  return host;
}
#endif

// A listing path (backslash-separated) in the host's form.
inline std::string HostPath(const std::string &listingPath) { return HostName(listingPath); }

// The host's form of a listing path written into a record's field of
// `capacity` bytes: cut to capacity - 1 bytes and ended by a NUL.
inline void HostPathInto(char *field, std::size_t capacity, std::string_view listingPath) {
  std::size_t used = 0;
  auto put = [&](char c) {
    if (used + 1 < capacity) field[used++] = c;
  };
  for (const char c : listingPath) {
#ifdef _WIN32
    put(c);
#else
    if (c == '/') {
      put('%');
      put('2');
      put('F');
    } else {
      put(c == '\\' ? '/' : c);
    }
#endif
    if (used + 1 >= capacity) break;
  }
  field[used] = '\0';
}

}  // namespace quarn

#endif
