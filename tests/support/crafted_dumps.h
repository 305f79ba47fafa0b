// Dumps crafted to make a careless reader take unbounded time or memory, for
// the tests and the benchmarks. Each is a full 32 MiB dump with one disk.
#ifndef QUARN_TESTS_CRAFTED_DUMPS_H
#define QUARN_TESTS_CRAFTED_DUMPS_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "ffs_builder.h"

namespace quarn::testing {

// Every 16 bytes of two blocks from 64 KiB on are a live chunk descriptor,
// and the disk lists each block twice. With blocks of almost 16 MiB (the
// default) that is about four million live chunks, ids repeating every
// 65,536.
inline DumpBuilder EverySlotLiveDump(const std::string &diskName,
                                     std::uint32_t kBlockSize = 0xFFF000) {
  DumpBuilder dump;
  constexpr std::uint32_t kStart = 0x10000;
  dump.Disk(0x100, diskName, 0x1000, 0x2000,
            {{At(kStart), kBlockSize},
             {At(kStart + kBlockSize), kBlockSize},
             {At(kStart), kBlockSize},
             {At(kStart + kBlockSize), kBlockSize}},
            false);
  std::uint32_t id = 0;
  const std::uint32_t end = std::min<std::uint32_t>(dump.Size(), kStart + 2 * kBlockSize);
  for (std::uint32_t at = kStart; at + 16 <= end; at += 16, ++id)
    dump.U32(at, kLiveMarker).U32(at + 4, id & 0xFFFF).U32(at + 8, 16).U32(at + 12, 0);
  return dump;
}

// The same dump with every live descriptor marked dead, as deleting marks
// them: what the deleted view reads.
inline DumpBuilder AllDeleted(DumpBuilder dump) {
  const std::vector<std::uint8_t> &bytes = dump.Data();
  for (std::uint32_t at = 0; at + 16 <= dump.Size(); at += 16) {
    if (bytes[at] == 0xC0 && bytes[at + 1] == 0xFF && bytes[at + 2] == 0xFF &&
        bytes[at + 3] == 0xFF)
      dump.U32(at, kDeadMarker);
  }
  return dump;
}

// A dump of 256 KiB whose one disk lists 511 blocks of 128 KiB, all over
// the same bytes, every slot a live descriptor: over four million chunks,
// every id many times over, all left over for EEPROM block files (EELITE,
// EEFULL) or lost blocks (any other name), so the archive's allowance of
// entries runs out.
inline DumpBuilder OverlappingBlocksDump(const std::string &diskName) {
  constexpr std::uint32_t kStart = 0x10000;
  constexpr std::uint32_t kBlockSize = 0x20000;
  DumpBuilder dump(0x40000);
  dump.Disk(0x100, diskName, 0x1000, 0x2000,
            std::vector<BlockRef>(511, BlockRef{At(kStart), kBlockSize}), false);
  std::uint32_t id = 0;
  for (std::uint32_t at = kStart; at + 16 <= kStart + kBlockSize; at += 16, ++id)
    dump.U32(at, kLiveMarker).U32(at + 4, id & 0xFFFF).U32(at + 8, 16).U32(at + 12, 0);
  return dump;
}

// A root and `heads` files whose chains all run into one tail of `tail`
// parts: a reader that follows every chain to its end makes heads * tail
// extents.
inline DumpBuilder SharedTailDump(std::uint32_t heads = 16000, std::uint32_t tail = 16000) {
  DumpBuilder dump;
  std::vector<BlockRef> blocks;
  for (std::uint32_t i = 0; i < 32; ++i) blocks.push_back({At(0x100000 + i * 0x80000), 0x80000});
  dump.Disk(0x100, "FFS", 0x1000, 0x2000, blocks, false);
  FlashFs fs(dump, blocks);
  const std::uint16_t root = fs.Root();
  const auto firstTail = static_cast<std::uint16_t>(4 + 2 * heads);
  for (std::uint32_t i = 0; i < heads; ++i)
    fs.Place({.Id = static_cast<std::uint16_t>(4 + 2 * i),
              .ParentId = root,
              .NextId = firstTail,
              .Name = std::string("h").append(std::to_string(i))},
             {0x48});
  for (std::uint32_t i = 0; i < tail; ++i) {
    const auto id = static_cast<std::uint16_t>(firstTail + 2 * i);
    fs.Place({.Id = id,
              .ParentId = root,
              .PrevId = static_cast<std::uint16_t>(id - 2),
              .NextId = i + 1 < tail ? static_cast<std::uint16_t>(id + 2) : kNoPartId},
             {0x54});
  }
  return dump;
}

// `depth` folders, each inside the one before, and a file at the bottom.
inline DumpBuilder DeepNestingDump(std::uint32_t depth = 30000) {
  DumpBuilder dump;
  std::vector<BlockRef> blocks;
  for (std::uint32_t i = 0; i < 16; ++i) blocks.push_back({At(0x100000 + i * 0x100000), 0x100000});
  dump.Disk(0x100, "FFS", 0x1000, 0x2000, blocks, false);
  FlashFs fs(dump, blocks);
  std::uint16_t parent = fs.Root();
  for (std::uint32_t i = 0; i < depth; ++i) parent = fs.Dir(parent, "d");
  fs.File(parent, "bottom.txt", Bytes("deep"));
  return dump;
}

}  // namespace quarn::testing

#endif
