// What makes a file a full flash dump: the image of the phone's whole flash,
// 33,554,432 bytes, with the text "SIEMENS" at byte 544. Recognition insists
// on both; opening takes a file of any size for what it holds.
#ifndef QUARN_FLASH_DUMP_FORMAT_H
#define QUARN_FLASH_DUMP_FORMAT_H

#include <cstdint>

namespace quarn {

// The phone sees its flash at 0xA0000000 (FlashBase); byte 0 of the dump is
// the flash byte there. The flash window, and a full dump, are 32 MiB.
constexpr std::uint32_t FlashBase = 0xA0000000;
constexpr std::uint32_t FlashWindowSize = 0x2000000;
constexpr std::uint32_t kDumpSize = FlashWindowSize;

constexpr std::uint32_t kSignatureOffset = 544;
constexpr char kSignature[7] = {'S', 'I', 'E', 'M', 'E', 'N', 'S'};  // no NUL

}  // namespace quarn

#endif
