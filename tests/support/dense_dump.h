// A full dump with dense file systems, as a well-used phone would have: three
// plain disks of nested folders and files chained over several parts and
// blocks, and two EEPROM disks with a thousand blocks each.
#ifndef QUARN_TESTS_DENSE_DUMP_H
#define QUARN_TESTS_DENSE_DUMP_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "ffs_builder.h"

namespace quarn::testing {

struct DenseDumpShape {
  int PlainDisks = 3;
  int FoldersPerDisk = 300;
  int FilesPerDisk = 3200;
  int EepromBlocks = 1000;
};

inline DumpBuilder DenseDump(const DenseDumpShape &shape = {}) {
  DumpBuilder dump;
  std::mt19937 random(20261208);
  std::uint32_t next = 0x100000;  // where the next disk's blocks start
  constexpr std::uint32_t kBlockSize = 0x10000;
  auto blocksOf = [&](int count) {
    std::vector<BlockRef> blocks;
    for (int i = 0; i < count; ++i, next += kBlockSize) blocks.push_back({At(next), kBlockSize});
    return blocks;
  };

  int disk = 0;
  for (; disk < shape.PlainDisks; ++disk) {
    const std::vector<BlockRef> blocks = blocksOf(96);
    const std::string name = std::string("FFS").append(std::to_string(disk));
    dump.Disk(0x100 + 44 * static_cast<std::uint32_t>(disk), name,
              0x1000 + 0x10 * static_cast<std::uint32_t>(disk),
              0x2000 + 0x400 * static_cast<std::uint32_t>(disk), blocks, false);
    FlashFs fs(dump, blocks);
    std::vector<std::uint16_t> folders{fs.Root()};
    for (int i = 0; i < shape.FoldersPerDisk; ++i)
      folders.push_back(fs.Dir(folders[random() % folders.size()], "folder " + std::to_string(i)));
    for (int i = 0; i < shape.FilesPerDisk; ++i) {
      const std::size_t size = 64 + random() % 2000;
      std::vector<std::uint8_t> content(size, static_cast<std::uint8_t>(i));
      std::string fileName(i % 4 == 0 ? "\x1F"
                                        "f\xC3\xA9"
                                      : "file");
      fileName.append(std::to_string(i));
      fs.File(folders[random() % folders.size()], fileName, content, 512 + random() % 512);
      if (i % 64 == 0) fs.NextBlock();
    }
  }
  for (const char *eeprom : {"EELITE", "EEFULL"}) {
    const std::vector<BlockRef> blocks = blocksOf(4);
    dump.Disk(0x100 + 44 * static_cast<std::uint32_t>(disk), eeprom,
              0x1000 + 0x10 * static_cast<std::uint32_t>(disk),
              0x2000 + 0x400 * static_cast<std::uint32_t>(disk), blocks, false);
    std::vector<FlashBlock> flash;
    for (const BlockRef &b : blocks) flash.emplace_back(dump, b.Addr & 0x1FFFFFF, b.Size);
    for (int id = 0; id < shape.EepromBlocks; ++id) {
      std::vector<std::uint8_t> payload(8 + random() % 200, static_cast<std::uint8_t>(id));
      FlashBlock &block = flash[static_cast<std::size_t>(id) % flash.size()];
      block.Chunk(static_cast<std::uint32_t>(id), payload);
    }
    ++disk;
  }
  return dump;
}

}  // namespace quarn::testing

#endif
