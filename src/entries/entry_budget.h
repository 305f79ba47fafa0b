// What one archive may make of its disks' file systems. A disk holds at most
// 65,536 live chunks (its ids are 16-bit and unique) and so 32,768 parts, and
// on an honest disk every part belongs to one entry and is one extent of it,
// so no honest dump comes near these figures; a crafted one (chains that
// share a long tail, disks listing the same blocks hundreds of times, every
// descriptor slot live) is cut off here instead of taking all time and
// memory.
#ifndef QUARN_ENTRIES_ENTRY_BUDGET_H
#define QUARN_ENTRIES_ENTRY_BUDGET_H

#include <cstdint>

namespace quarn {

struct TEntryBudget {
  // Entries of all disks' file systems, EEPROM and lost block files included.
  static constexpr std::uint32_t kMaxEntries = 1u << 17;  // 131,072
  // Extents of those entries together.
  static constexpr std::uint32_t kMaxExtents = 1u << 20;  // 1,048,576
  // Live chunks the disks' scans collect together: four full disks' worth.
  static constexpr std::uint32_t kMaxChunks = 1u << 18;  // 262,144

  std::uint32_t Entries = kMaxEntries;  // still to be made
  std::uint32_t Extents = kMaxExtents;
  std::uint32_t Chunks = kMaxChunks;

  // Takes `count` entries at once, or none when fewer are left.
  bool TakeEntry(std::uint32_t count = 1) {
    if (Entries < count) return false;
    Entries -= count;
    return true;
  }
  bool TakeExtent() {
    if (Extents == 0) return false;
    --Extents;
    return true;
  }
  bool TakeChunk() {
    if (Chunks == 0) return false;
    --Chunks;
    return true;
  }
};

}  // namespace quarn

#endif
