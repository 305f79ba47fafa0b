// Damaged dumps: truncated at every length around the partition table, and
// with seeded random damage to the table. Each must open, list and extract
// without reading outside the image (the sanitizer run proves it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "ffs_builder.h"
#include "flash/dump.h"
#include "plugin/quarn.h"
#include "test_files.h"

namespace quarn::testing {
namespace {

// A small dump: a table of three disks at 0x100, names at 0x1000, tables at
// 0x1100, blocks of 4 KiB from 0x2000 on, some of them past the end.
DumpBuilder SmallDump() {
  DumpBuilder dump(0x6000, 0x5A, false);
  dump.Disk(0x100, "A", 0x1000, 0x1100, {{At(0x2000), 0x1000}, {At(0x3000), 0x1000}}, false);
  dump.Disk(0x100 + 44, "B", 0x1010, 0x1180, {{At(0x4000), 0x1000}, {At(0x9000), 0x1000}}, false);
  dump.Disk(0x100 + 88, "C", 0x1020, 0x11F0, {{At(0x5000), 0x2000}}, false);
  return dump;
}

// Opens the first `length` bytes of `dump`, lists and extracts every entry;
// the number of entries listed.
std::size_t Exercise(const DumpBuilder &dump, const TempDir &dir,
                     std::uint32_t length = 0xFFFFFFFF) {
  TQuarn archive(TDump::Copy(dump.Data().data(), std::min(length, dump.Size())), PK_OM_EXTRACT);
  std::size_t count = 0;
  tHeaderData header;
  std::string target = dir.File("out.bin");
  while (archive.ReadHeader(&header) == 0) {
    ++count;
    archive.ProcessFile(PK_EXTRACT, target.data());
  }
  return count;
}

TEST(DamageTest, EveryTruncationOpens) {
  TempDir dir;
  const DumpBuilder whole = SmallDump();
  std::size_t wholeCount = 0;
  for (std::uint32_t length = 0; length <= whole.Size(); length += length < 0x1300 ? 1 : 0x100) {
    const std::size_t count = Exercise(whole, dir, length);
    EXPECT_LE(count, 3u) << length;
    if (length == whole.Size()) wholeCount = count;
  }
  EXPECT_EQ(wholeCount, 3u);
}

TEST(DamageTest, SeededRandomDamageToTheTable) {
  const unsigned seed = 20261208;
  std::printf("DamageTest seed: %u\n", seed);
  std::mt19937 random(seed);
  TempDir dir;
  for (int round = 0; round < 300; ++round) {
    DumpBuilder dump = SmallDump();
    const int hits = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < hits; ++i) {
      // Mostly the records, names and tables; sometimes anywhere.
      const std::uint32_t offset =
          random() % 4 != 0 ? 0x100 + random() % 0x1200 : random() % dump.Size();
      dump.U8(offset, static_cast<std::uint8_t>(random()));
    }
    EXPECT_LE(Exercise(dump, dir), 256u) << "round " << round;
  }
}

}  // namespace
}  // namespace quarn::testing

namespace quarn::testing {
namespace {

TEST(DamageTest, SeededRandomDamageToTheFileSystem) {
  // Descriptors, headers, names and links hit at random: ids, sizes and
  // offsets that point anywhere, chains that loop, names without an end.
  const unsigned seed = 8122026;
  std::printf("DamageTest file system seed: %u\n", seed);
  std::mt19937 random(seed);
  TempDir dir;
  const DumpBuilder whole = SmallFsDump();
  EXPECT_GT(Exercise(whole, dir), 10u);
  for (int round = 0; round < 300; ++round) {
    DumpBuilder damaged = whole;
    const int hits = 1 + static_cast<int>(random() % 24);
    for (int k = 0; k < hits; ++k) {
      // Mostly the blocks' ends (descriptors) and starts (headers).
      const std::uint32_t block = 0x10000 + 0x4000 * (random() % 3);
      const std::uint32_t at =
          random() % 2 == 0 ? block + 0x4000 - 1 - random() % 0x200 : block + random() % 0x400;
      damaged.Data()[at < damaged.Size() ? at : damaged.Size() - 1] =
          static_cast<std::uint8_t>(random());
    }
    Exercise(damaged, dir);
  }
}

}  // namespace
}  // namespace quarn::testing
