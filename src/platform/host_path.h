// How paths look on the host's side of the plugin. Inside, listing paths are
// joined with backslashes, as on Windows. On Linux the separator is '/', and a
// '/' that a name holds would invent a directory, so it is shown as "%2F"
// (in the spirit of the "????" -> "%3F%3F%3F%3F" rule); a backslash then
// becomes '/', so a path keeps the structure the listing gives it.
#ifndef QUARN_PLATFORM_HOST_PATH_H
#define QUARN_PLATFORM_HOST_PATH_H

#include <string>

namespace quarn {

#ifdef _WIN32
constexpr char kPathDelimiter = '\\';
inline bool IsPathDelimiter(char c) { return c == '\\' || c == ':'; }
inline std::string HostName(const std::string &name) { return name; }
#else
constexpr char kPathDelimiter = '/';
inline bool IsPathDelimiter(char c) { return c == '/'; }
inline std::string HostName(const std::string &name) {
  std::string host;
  host.reserve(name.size());
  for (const char c : name) {
    if (c == '/')
      host += "%2F";
    else if (c == '\\')
      host += '/';
    else
      host += c;
  }
  return host;
}
#endif

// A listing path (backslash-separated) in the host's form.
inline std::string HostPath(const std::string &listingPath) { return HostName(listingPath); }

}  // namespace quarn

#endif
