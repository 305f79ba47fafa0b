// Unicode text: strict UTF-8, one code point at a time, and the one cut of
// UTF-16 text that keeps surrogate pairs whole.
#ifndef QUARN_UTIL_UTF8_H
#define QUARN_UTIL_UTF8_H

#include <cstddef>
#include <string>
#include <string_view>

namespace quarn {

// The length of the well-formed UTF-8 sequence at the start of the bytes (at
// most `available` of them), with its code point in `codePoint`; 0 when it is
// not one: stray continuation bytes, overlong forms, surrogates, values past
// U+10FFFF and sequences cut short all count as invalid.
std::size_t DecodeUtf8(const unsigned char *bytes, std::size_t available, char32_t *codePoint);

// The first unit of a surrogate pair.
constexpr bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// How many UTF-16 units of `text` to keep so that at most `limit` remain and
// no surrogate pair is split.
inline std::size_t Utf16Cut(std::u16string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  return limit > 0 && IsHighSurrogate(text[limit - 1]) ? limit - 1 : limit;
}

// UTF-16 as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text);
// UTF-8 as UTF-16; false when `text` is not well-formed UTF-8.
bool Utf16FromUtf8(std::string_view text, std::u16string &out);

}  // namespace quarn

#endif
