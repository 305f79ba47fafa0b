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

// The first and the second unit of a surrogate pair.
constexpr bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
// The code point a surrogate pair stands for.
constexpr char32_t FromSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// The bytes a code point takes in UTF-8, and those bytes written to `out`.
constexpr std::size_t Utf8Length(char32_t codePoint) {
  return codePoint < 0x80 ? 1 : codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
}
void EncodeUtf8(char32_t codePoint, unsigned char *out);
// A code point appended to UTF-16 text: one unit, or a surrogate pair.
void AppendUtf16(std::u16string &out, char32_t codePoint);

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
