// Turning an entry's path from the listing into a relative path that cannot
// leave the output folder and that the file system can hold.
#ifndef QUARN_CLI_SAFE_PATH_H
#define QUARN_CLI_SAFE_PATH_H

#include <string>
#include <string_view>

namespace quarn::cli {

// Which file system's rules apply. Both are available everywhere so that each
// rule set can be checked on any machine; NativePathStyle() is the one that
// matches the build.
enum class PathStyle {
  kPosix,    // '/' separates; only "", "." and ".." need care
  kWindows,  // '\' and '/' separate; drive letters, reserved device names,
             // < > : " | ? * and control characters, trailing dots and spaces
};

PathStyle NativePathStyle();

struct SafePath {
  std::string path;      // relative, components joined by the style's separator
  bool renamed = false;  // `path` differs from the entry's path
};

// The rule, component by component (components are split at the separators;
// empty ones, from leading, doubled or trailing separators, are dropped, which
// also makes an absolute path relative):
//   - "." and ".." become "_" and "__" (every dot becomes an underscore);
//   - Windows only: a ':' anywhere (so a drive letter "C:" becomes "C_"), any of
//     < > " | ? * and every control character become '_'; trailing dots and
//     spaces become '_' each; a reserved device name (CON, PRN, AUX, NUL,
//     COM1-9, LPT1-9, in any case, alone or before an extension, also with
//     spaces before the dot) gets a '_' in front.
// A path that keeps no component at all becomes "_".
SafePath MakeSafePath(std::string_view entryPath, PathStyle style);

}  // namespace quarn::cli

#endif
