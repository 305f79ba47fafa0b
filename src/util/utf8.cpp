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

}  // namespace quarn
