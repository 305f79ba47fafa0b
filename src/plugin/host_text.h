// Text between the archive object and the host's UTF-16 records and calls:
// the host's wide characters (wchar_t on Windows, char16_t elsewhere) and
// the UTF-16 strings of the core.
#ifndef QUARN_PLUGIN_HOST_TEXT_H
#define QUARN_PLUGIN_HOST_TEXT_H

#include <string>
#include <vector>

#include "util/utf8.h"
#include "wcxhead.h"

namespace quarn {

// The host's NUL-terminated wide text as UTF-16.
inline std::u16string WideText(const WCX_WCHAR *text) {
  std::u16string wide;
  if (text == nullptr) return wide;
  for (; *text != 0; ++text) wide += static_cast<char16_t>(*text);
  return wide;
}

// UTF-16 as the host's NUL-terminated wide text.
inline std::vector<WCX_WCHAR> HostWide(const std::u16string &text) {
  std::vector<WCX_WCHAR> wide(text.begin(), text.end());
  wide.push_back(0);
  return wide;
}

// Whether every surrogate is one of a pair.
inline bool IsUtf16(const std::u16string &text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (IsLowSurrogate(unit)) return false;
    if (IsHighSurrogate(unit)) {
      if (i + 1 >= text.size() || !IsLowSurrogate(text[i + 1])) return false;
      ++i;
    }
  }
  return true;
}

}  // namespace quarn

#endif
