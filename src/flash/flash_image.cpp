#include "flash/flash_image.h"

#include <algorithm>
#include <array>

namespace quarn {

// As stored: the punctuation first, then digits and letters in keyboard order.
const std::string ValidNameChars =
    "'\"{}[]<>()~`!@#$%^&*-+_=.,;:|?\\/"
    "0123456789"
    "qwertyuiopasdfghjklzxcvbnm"
    "QWERTYUIOPASDFGHJKLZXCVBNM";

namespace {

std::array<bool, 256> BuildNameCharTable() {
  std::array<bool, 256> table{};
  for (const char c : ValidNameChars) table[static_cast<std::uint8_t>(c)] = true;
  return table;
}

const std::array<bool, 256> kNameCharTable = BuildNameCharTable();

}  // namespace

bool IsValidNameChar(std::uint8_t c) { return kNameCharTable[c]; }

bool TFlashImage::ReadDiskName(std::uint32_t address, std::string &name) const {
  const std::uint8_t *p = Translate(address);
  if (p == nullptr) return false;
  const std::uint32_t window = std::min(kNameWindow, Available(address));
  const void *nul = std::memchr(p, 0, window);
  if (nul == nullptr) return false;
  const auto length = static_cast<std::size_t>(static_cast<const std::uint8_t *>(nul) - p);
  if (length == 0) return false;
  for (std::size_t i = 0; i < length; ++i)
    if (!IsValidNameChar(p[i])) return false;
  name.assign(reinterpret_cast<const char *>(p), length);
  return true;
}

}  // namespace quarn
