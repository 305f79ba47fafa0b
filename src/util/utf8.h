// Strict UTF-8: one code point at a time.
#ifndef QUARN_UTIL_UTF8_H
#define QUARN_UTIL_UTF8_H

#include <cstddef>

namespace quarn {

// The length of the well-formed UTF-8 sequence at the start of the bytes (at
// most `available` of them), with its code point in `codePoint`; 0 when it is
// not one: stray continuation bytes, overlong forms, surrogates, values past
// U+10FFFF and sequences cut short all count as invalid.
std::size_t DecodeUtf8(const unsigned char *bytes, std::size_t available, char32_t *codePoint);

}  // namespace quarn

#endif
