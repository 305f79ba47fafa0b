// The partition table: a run of 44-byte disk descriptors somewhere in the
// dump, each naming a flash disk and pointing to its block table.
//
//   TDiskDescriptor (44 bytes, little-endian)
//     +0  NameAddr        phone address of the disk's NUL-terminated name
//     +20 NumBlocks       entries in the block table, at most 0xFFFF
//     +24 BlockTableAddr  phone address of the block table, in the flash window
//     +32 RamAddr         a phone address in the RAM window
//   TBlockRef (8 bytes): +0 Addr (in the flash window), +4 Size (a multiple of
//   4096 up to 0xFFF000: Size & 0xFF000FFF == 0)
#ifndef QUARN_FLASH_PARTITION_TABLE_H
#define QUARN_FLASH_PARTITION_TABLE_H

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "flash/flash_image.h"

namespace quarn {

constexpr std::uint32_t kDescriptorSize = 44;
constexpr std::uint32_t kBlockRefSize = 8;

namespace descriptor {
constexpr std::uint32_t NameAddr = 0;
constexpr std::uint32_t NumBlocks = 20;
constexpr std::uint32_t BlockTableAddr = 24;
constexpr std::uint32_t RamAddr = 32;
}  // namespace descriptor

// Limits that keep a crafted table from making opening slow or huge. An
// honest dump has a few dozen disks at most, and its blocks together cover
// at most the 32 MiB of flash, at least 4 KiB a block (8,192 blocks). The run
// of records ends before the record that would pass any of these.
struct TPartitionLimits {
  static constexpr std::uint32_t MaxDisks = 256;
  static constexpr std::uint32_t MaxBlocks = 65536;                       // all disks together
  static constexpr std::uint64_t MaxBlockBytes = 2ULL * FlashWindowSize;  // all disks together
};

struct TBlockRef {
  std::uint32_t Addr = 0;
  std::uint32_t Size = 0;
};

// One search for the partition table over an image. It remembers, for every
// image offset it has looked at, how many valid block-table entries follow
// there, so that no table entry is tested twice however many candidate
// records point into the same table: the whole search reads each byte of the
// image a bounded number of times.
class TPartitionScan {
 public:
  explicit TPartitionScan(const TFlashImage &image) : image_(image) {}

  // Whether the 44 bytes at image offset `offset` form a valid descriptor.
  bool ValidateDescriptor(std::uint32_t offset);

  // Image offsets of the records of the first run of valid records, trying
  // the candidates start, start + step, ... up to the image's end. Empty when
  // there is none. The run also ends where TPartitionLimits would be passed.
  std::vector<std::uint32_t> FindRun(std::uint32_t start, std::uint32_t step);

  // Where a run ended at a record that is not valid: the run of valid
  // records that begins within kRecordsPastDamage records after it, at the
  // same stride (a damaged record in the middle of a table); empty when
  // none does.
  static constexpr std::uint32_t kRecordsPastDamage = 4;
  std::vector<std::uint32_t> RunAfterDamage(std::uint32_t damagedRecord);

 private:
  // The number of valid block-table entries from image offset `offset` on,
  // at stride 8.
  std::uint32_t ValidEntries(std::uint32_t offset);
  bool ValidEntry(std::uint32_t offset) const;

  // Cheap tests: the two window tests and the block count, which turn away
  // almost every offset of a dump before a name or a table is looked at.
  bool PassesQuickTests(const std::uint8_t *record) const;

  const TFlashImage &image_;
  struct FreeDeleter {
    void operator()(std::uint32_t *p) const { std::free(p); }
  };
  // Per image offset: 0 unknown, else 1 + the count of valid entries there.
  // Allocated zeroed on first use; the system maps its pages lazily.
  std::unique_ptr<std::uint32_t[], FreeDeleter> entryRuns_;
};

}  // namespace quarn

#endif
