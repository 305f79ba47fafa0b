#include "cli/safe_path.h"

#include <array>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace quarn::cli {
namespace {

char Separator(PathStyle style) { return style == PathStyle::kWindows ? '\\' : '/'; }

// In a double-byte ANSI code page (Shift-JIS, GBK, ...) the second byte of a
// character may be a backslash or '|'; it is part of the character, not a separator
// or an invalid character. Only the Windows build has such code pages.
bool IsLeadByte([[maybe_unused]] char c, [[maybe_unused]] PathStyle style) {
#ifdef _WIN32
  return style == PathStyle::kWindows && IsDBCSLeadByte(static_cast<BYTE>(c));
#else
  return false;
#endif
}

bool IsSeparator(char c, PathStyle style) {
  return c == '/' || (style == PathStyle::kWindows && c == '\\');
}

std::vector<std::string> SplitComponents(std::string_view path, PathStyle style) {
  std::vector<std::string> components;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i + 1 < path.size() && IsLeadByte(path[i], style)) {
      ++i;
      continue;
    }
    if (i == path.size() || IsSeparator(path[i], style)) {
      if (i > start) components.emplace_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return components;
}

bool IsInvalidOnWindows(unsigned char c) {
  if (c < 0x20) return true;
  switch (c) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '|':
    case '?':
    case '*':
      return true;
    default:
      return false;
  }
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens a device instead of a file for these names, whatever the
// extension: "nul.txt" is the null device too. Spaces before the dot are
// ignored as well ("CON .txt").
bool IsReservedDeviceName(const std::string &component) {
  std::string stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char &c : stem) c = AsciiUpper(c);
  static constexpr std::array<std::string_view, 6> kPlain = {"CON", "PRN",    "AUX",
                                                             "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view name : kPlain) {
    if (stem == name) return true;
  }
  return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
         stem[3] >= '1' && stem[3] <= '9';
}

std::string SafeComponent(std::string component, PathStyle style) {
  if (component == "." || component == "..") return std::string(component.size(), '_');
  if (style == PathStyle::kPosix) return component;

  for (std::size_t i = 0; i < component.size(); ++i) {
    if (i + 1 < component.size() && IsLeadByte(component[i], style)) {
      ++i;
    } else if (IsInvalidOnWindows(static_cast<unsigned char>(component[i]))) {
      component[i] = '_';
    }
  }
  // Windows drops trailing dots and spaces when it opens a name, so "a." and
  // "a" would be the same file, and "..." would vanish.
  for (std::size_t i = component.size();
       i > 0 && (component[i - 1] == '.' || component[i - 1] == ' '); --i) {
    component[i - 1] = '_';
  }
  if (IsReservedDeviceName(component)) component.insert(0, 1, '_');
  return component;
}

}  // namespace

PathStyle NativePathStyle() {
#ifdef _WIN32
  return PathStyle::kWindows;
#else
  return PathStyle::kPosix;
#endif
}

SafePath MakeSafePath(std::string_view entryPath, PathStyle style) {
  SafePath result;
  for (std::string &component : SplitComponents(entryPath, style)) {
    if (!result.path.empty()) result.path += Separator(style);
    result.path += SafeComponent(std::move(component), style);
  }
  if (result.path.empty()) result.path.assign(1, '_');
  // A path that only changed its separators ('/' to '\' on Windows) is the
  // same path, not a renaming.
  std::string original(entryPath);
  if (style == PathStyle::kWindows) {
    for (char &c : original) {
      if (c == '/') c = '\\';
    }
  }
  result.renamed = result.path != original;
  return result;
}

}  // namespace quarn::cli
