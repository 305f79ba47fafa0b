#include "util/utf8.h"

namespace quarn {

std::size_t DecodeUtf8(const unsigned char *bytes, std::size_t available, char32_t *codePoint) {
  if (available == 0) return 0;
  const unsigned char lead = bytes[0];
  std::size_t length = 0;
  unsigned char low = 0x80;  // allowed range of the second byte
  unsigned char high = 0xBF;
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (available < length) return 0;
  if (bytes[1] < low || bytes[1] > high) return 0;
  char32_t value = lead & (0xFF >> (length + 1));
  for (std::size_t i = 1; i < length; ++i) {
    if (i > 1 && (bytes[i] < 0x80 || bytes[i] > 0xBF)) return 0;
    value = value << 6 | (bytes[i] & 0x3F);
  }
  *codePoint = value;
  return length;
}

void EncodeUtf8(char32_t codePoint, unsigned char *out) {
  const std::size_t length = Utf8Length(codePoint);
  if (length == 1) {
    out[0] = static_cast<unsigned char>(codePoint);
    return;
  }
  // The lead byte: as many high bits set as there are bytes, then the
  // highest bits of the code point; each continuation byte carries six.
  static constexpr unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (std::size_t i = length; i-- > 1;) {
    out[i] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
    codePoint >>= 6;
  }
  out[0] = static_cast<unsigned char>(kLead[length] | codePoint);
}

void AppendUtf16(std::u16string &out, char32_t codePoint) {
  if (codePoint < 0x10000) {
    out += static_cast<char16_t>(codePoint);
    return;
  }
  out += static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10));
  out += static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
}

std::string Utf8FromUtf16(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
      c = FromSurrogates(c, text[++i]);
    else if (IsHighSurrogate(c) || IsLowSurrogate(c))
      c = 0xFFFD;
    unsigned char bytes[4];
    EncodeUtf8(c, bytes);
    out.append(reinterpret_cast<const char *>(bytes), Utf8Length(c));
  }
  return out;
}

bool Utf16FromUtf8(std::string_view text, std::u16string &out) {
  out.clear();
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const std::size_t length =
        DecodeUtf8(reinterpret_cast<const unsigned char *>(text.data()) + i, text.size() - i, &c);
    if (length == 0) return false;
    i += length;
    AppendUtf16(out, c);
  }
  return true;
}

}  // namespace quarn
