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

// What recognition makes of a file: the one verdict behind
// CanYouHandleThisFile(W), what the core reports of an open dump and the
// command's probe.
enum class TRecognition {
  Dump,         // the size of a full dump, and the signature
  WrongSize,    // any other size
  NoSignature,  // the size of a full dump, other bytes at the signature's place
  Unreadable,   // the size of a full dump, but its bytes cannot be read
};
// The verdict for a file of `size` bytes whose bytes at kSignatureOffset are
// `found` (`count` of them, fewer when they could not all be read).
constexpr TRecognition Recognise(std::uint64_t size, const char *found, std::uint64_t count) {
  if (size != kDumpSize) return TRecognition::WrongSize;
  if (count < sizeof kSignature) return TRecognition::Unreadable;
  for (std::uint32_t i = 0; i < sizeof kSignature; ++i)
    if (found[i] != kSignature[i]) return TRecognition::NoSignature;
  return TRecognition::Dump;
}

}  // namespace quarn

#endif
