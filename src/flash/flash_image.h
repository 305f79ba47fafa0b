// The image window: the whole dump in memory, seen through the phone's
// addresses. The phone sees its flash at 0xA0000000 (FlashBase); byte 0 of
// the dump is the flash byte there. Every read of the dump goes through this
// window and lies wholly inside the loaded image, whatever the dump says.
#ifndef QUARN_FLASH_FLASH_IMAGE_H
#define QUARN_FLASH_FLASH_IMAGE_H

#include <cstdint>
#include <cstring>
#include <string>

#include "flash/dump_format.h"

namespace quarn {

// Top byte 0xA0 or 0xA1: the flash, mapped onto the image.
constexpr bool InFlashWindow(std::uint32_t address) { return ((address >> 24) & 0xFE) == 0xA0; }
// Top byte 0xA8 or 0xA9: the phone's RAM; only a plausibility test.
constexpr bool InRamWindow(std::uint32_t address) { return ((address >> 24) & 0xFE) == 0xA8; }

// Little-endian reads from bytes already known to lie inside the image.
inline std::uint16_t LoadU16(const std::uint8_t *p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t LoadU32(const std::uint8_t *p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Characters a disk name may hold: printable ASCII from '!' to '~'. Set when
// the library is loaded; only membership is tested.
extern const std::string ValidNameChars;
bool IsValidNameChar(std::uint8_t c);

// A disk name has 1 to 99 characters before its NUL.
constexpr std::uint32_t kNameWindow = 100;

class TFlashImage {
 public:
  TFlashImage() = default;
  TFlashImage(const std::uint8_t *data, std::uint32_t size) : data_(data), size_(size) {}

  const std::uint8_t *Data() const { return data_; }
  std::uint32_t Size() const { return size_; }

  // The image offset of a phone address whose `length` bytes all lie inside
  // the image; false otherwise. length 0 asks for the first byte only.
  bool Offset(std::uint32_t address, std::uint32_t length, std::uint32_t &offset) const {
    if (data_ == nullptr || !InFlashWindow(address)) return false;
    offset = address & (FlashWindowSize - 1);
    if (offset >= size_) return false;
    return length <= size_ - offset;
  }

  // The image byte at a phone address, or nullptr outside the flash window or
  // past the end of a short image. Vouches for the first byte only.
  const std::uint8_t *Translate(std::uint32_t address) const { return Span(address, 1); }

  // The image bytes at a phone address when all `length` of them lie inside
  // the image; nullptr otherwise.
  const std::uint8_t *Span(std::uint32_t address, std::uint32_t length) const {
    std::uint32_t offset = 0;
    return Offset(address, length, offset) ? data_ + offset : nullptr;
  }

  // How many bytes from a phone address on lie inside the image (0 outside).
  std::uint32_t Available(std::uint32_t address) const {
    std::uint32_t offset = 0;
    return Offset(address, 0, offset) ? size_ - offset : 0;
  }

  std::uint8_t ReadByte(std::uint32_t address) const {
    const std::uint8_t *p = Span(address, 1);
    return p != nullptr ? *p : 0;
  }
  // Four bytes, little-endian, any alignment; 0 unless all four are inside.
  std::uint32_t ReadDword(std::uint32_t address) const {
    const std::uint8_t *p = Span(address, 4);
    return p != nullptr ? LoadU32(p) : 0;
  }

  // A disk name at `address`: the bytes before the first NUL among the next
  // 100 (only those inside the image count); 1 to 99 characters of
  // ValidNameChars. Sets `name` only on success.
  bool ReadDiskName(std::uint32_t address, std::string &name) const;

 private:
  const std::uint8_t *data_ = nullptr;
  std::uint32_t size_ = 0;
};

}  // namespace quarn

#endif
