#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "flash/dump.h"
#include "flash/flash_image.h"
#include "flash/partition_table.h"
#include "flash/sie_disk.h"

namespace quarn {
namespace {

using testing::At;
using testing::BlockRef;
using testing::DescriptorFields;
using testing::DumpBuilder;

TEST(WindowTest, TranslatesOnlyTheFlashWindowInsideTheImage) {
  DumpBuilder dump;
  dump.U32(0, 0x04030201).U8(0x1FFFFFF, 0x5A);
  const TFlashImage image(dump.Data().data(), dump.Size());
  EXPECT_EQ(image.Translate(0xA0000000), dump.Data().data());
  EXPECT_EQ(image.Translate(0xA1FFFFFF), dump.Data().data() + 0x1FFFFFF);
  EXPECT_EQ(image.Translate(0x9FFFFFFF), nullptr);
  EXPECT_EQ(image.Translate(0xA2000000), nullptr);
  EXPECT_EQ(image.ReadDword(0xA0000000), 0x04030201u);
  EXPECT_EQ(image.ReadDword(0xA0000001), 0xFF040302u);  // any alignment
  EXPECT_EQ(image.ReadDword(0xA8000000), 0u);
  EXPECT_EQ(image.ReadByte(0xA1FFFFFF), 0x5A);
  EXPECT_EQ(image.ReadDword(0xA1FFFFFD), 0u);  // would reach past the end
}

TEST(WindowTest, AShortImageEndsTheWindowAtItsEnd) {
  std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 5, 6};
  const TFlashImage image(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  EXPECT_EQ(image.ReadDword(0xA0000002), 0x06050403u);
  EXPECT_EQ(image.ReadDword(0xA0000003), 0u);
  EXPECT_EQ(image.Translate(0xA0000006), nullptr);
  EXPECT_EQ(image.ReadByte(0xA0000005), 6);
  EXPECT_EQ(image.Available(0xA0000004), 2u);
  EXPECT_EQ(image.Available(0xA0000007), 0u);
}

TEST(DiskNameTest, AcceptsOneToNinetyNinePrintableCharacters) {
  DumpBuilder dump(0x1000, 0);
  dump.Name(0x100, "FFS_A!~").Name(0x200, "with space").Name(0x300, "");
  dump.Name(0x400, std::string(99, 'x')).Fill(0x500, 100, 'y');
  dump.Name(0x600, std::string("bad\x7f", 4)).Name(0x700, std::string("hi\x1f", 3));
  const TFlashImage image(dump.Data().data(), dump.Size());
  std::string name = "kept";
  EXPECT_TRUE(image.ReadDiskName(At(0x100), name));
  EXPECT_EQ(name, "FFS_A!~");
  name = "kept";
  for (std::uint32_t bad : {0x200u, 0x300u, 0x500u, 0x600u, 0x700u, 0x2000000u}) {
    EXPECT_FALSE(image.ReadDiskName(At(bad), name)) << std::hex << bad;
    EXPECT_EQ(name, "kept");
  }
  EXPECT_TRUE(image.ReadDiskName(At(0x400), name));
  EXPECT_EQ(name.size(), 99u);
  EXPECT_EQ(ValidNameChars.size(), 94u);
}

TEST(DiskNameTest, ANameAtTheEndOfAShortImageIsReadOnlyThatFar) {
  DumpBuilder dump(0x104, 0, false);
  dump.Name(0x100, "EEP");
  const TFlashImage image(dump.Data().data(), dump.Size());
  std::string name;
  EXPECT_TRUE(image.ReadDiskName(At(0x100), name));
  EXPECT_EQ(name, "EEP");
  DumpBuilder cut(0x103, 'A', false);  // no NUL before the end
  const TFlashImage cutImage(cut.Data().data(), cut.Size());
  EXPECT_FALSE(cutImage.ReadDiskName(At(0x100), name));
}

// A dump with one valid record at 0x100: name "DISK" at 0x1000, two blocks
// listed at 0x2000.
DumpBuilder OneRecord() {
  DumpBuilder dump(0x10000, 0);
  dump.Disk(0x100, "DISK", 0x1000, 0x2000, {{At(0x4000), 0x1000}, {At(0x8000), 0x2000}}, false);
  return dump;
}

std::vector<std::uint32_t> ScanRun(const DumpBuilder &dump) {
  const TFlashImage image(dump.Data().data(), dump.Size());
  return TPartitionScan(image).FindRun(0, 4);
}

TEST(DescriptorTest, EachBrokenFieldRejectsTheRecord) {
  struct Case {
    const char *what;
    void (*breakIt)(DumpBuilder &);
  };
  const Case cases[] = {
      {"NumBlocks 0x10000", [](DumpBuilder &d) { d.U32(0x100 + 20, 0x10000); }},
      {"BlockTableAddr 0xA2000000", [](DumpBuilder &d) { d.U32(0x100 + 24, 0xA2000000); }},
      {"RamAddr 0xAA000000", [](DumpBuilder &d) { d.U32(0x100 + 32, 0xAA000000); }},
      {"RamAddr 0xA7FFFFFF", [](DumpBuilder &d) { d.U32(0x100 + 32, 0xA7FFFFFF); }},
      {"name of 11 characters", [](DumpBuilder &d) { d.Name(0x1000, "ABCDEFGHIJK"); }},
      {"name with a space", [](DumpBuilder &d) { d.Name(0x1000, "DI SK"); }},
      {"empty name", [](DumpBuilder &d) { d.U8(0x1000, 0); }},
      {"name outside the window", [](DumpBuilder &d) { d.U32(0x100, 0x90001000); }},
      {"block outside the window", [](DumpBuilder &d) { d.U32(0x2008, 0xA2000000); }},
      {"block size 0x1800", [](DumpBuilder &d) { d.U32(0x200C, 0x1800); }},
      {"block size 0x1000000", [](DumpBuilder &d) { d.U32(0x200C, 0x1000000); }},
      {"table past the image", [](DumpBuilder &d) { d.U32(0x100 + 24, At(0xFFFC)); }},
  };
  ASSERT_EQ(ScanRun(OneRecord()), std::vector<std::uint32_t>{0x100});
  for (const Case &c : cases) {
    DumpBuilder dump = OneRecord();
    c.breakIt(dump);
    EXPECT_TRUE(ScanRun(dump).empty()) << c.what;
  }
}

TEST(DescriptorTest, LimitsThatStillPass) {
  DumpBuilder dump = OneRecord();
  dump.Name(0x1000, "ABCDEFGHIJ");  // exactly 10 characters
  dump.U32(0x100 + 32, 0xA9FFFFFF);
  dump.U32(0x2004, 0).U32(0x200C, 0xFFF000);
  EXPECT_EQ(ScanRun(dump).size(), 1u);

  DumpBuilder empty = OneRecord();
  empty.U32(0x100 + 20, 0);  // no blocks at all
  empty.U32(0x2000, 0);      // and a table that would not pass
  EXPECT_EQ(ScanRun(empty).size(), 1u);
}

TEST(FindDisksTest, TakesTheFirstRunOfConsecutiveRecords) {
  DumpBuilder dump(0x10000, 0);
  const std::vector<BlockRef> blocks = {{At(0x4000), 0x1000}};
  dump.Disk(0x100, "A", 0x1000, 0x2000, blocks, false);
  dump.Disk(0x100 + 44, "B", 0x1010, 0x2000, blocks, false);
  dump.Disk(0x100 + 88, "C", 0x1020, 0x2000, blocks, false);
  dump.Disk(0x100 + 132, "D", 0x1030, 0x2000, blocks, false);
  dump.U32(0x100 + 132 + 20, 0x10000);                   // the fourth record ends the run
  dump.Disk(0x400, "E", 0x1040, 0x2000, blocks, false);  // valid, but not in the run
  EXPECT_EQ(ScanRun(dump), (std::vector<std::uint32_t>{0x100, 0x12C, 0x158}));
  // Nothing valid follows the record that ended the run closely: no damage.
  std::unique_ptr<TDump> whole = TDump::Copy(dump.Data().data(), dump.Size());
  EXPECT_EQ(FindDisks(*whole, 0, 4).size(), 3u);
  EXPECT_FALSE(whole->TableDamage());

  // The second record damaged, valid ones after it: the run is still the
  // first record alone, and the damage names the disks it hides.
  dump.U32(0x100 + 132 + 20, 1);
  dump.U32(0x100 + 44 + 20, 0x10000);
  std::unique_ptr<TDump> damaged = TDump::Copy(dump.Data().data(), dump.Size());
  EXPECT_EQ(FindDisks(*damaged, 0, 4).size(), 1u);
  ASSERT_TRUE(damaged->TableDamage());
  EXPECT_EQ(damaged->TableDamage()->Record, 0x100u + 44);
  EXPECT_EQ(damaged->TableDamage()->DisksAfter, (std::vector<std::string>{"C", "D"}));
}

TEST(FindDisksTest, NothingInADumpWithoutATable) {
  EXPECT_TRUE(ScanRun(DumpBuilder()).empty());
  EXPECT_TRUE(ScanRun(DumpBuilder(0x2000000, 0)).empty());
  for (std::uint32_t size : {0u, 1u, 44u, 45u, 100u})
    EXPECT_TRUE(ScanRun(DumpBuilder(size, 0)).empty());
}

TEST(FindDisksTest, ARecordEndingExactlyAtTheImageEndIsFound) {
  DumpBuilder dump(0x2000, 0, false);
  dump.Disk(0x2000 - 44, "LAST", 0x100, 0x200, {{At(0x400), 0x1000}}, false);
  EXPECT_EQ(ScanRun(dump), std::vector<std::uint32_t>{0x2000 - 44});
  // A table whose last entry's size would lie past a short image's end.
  DumpBuilder cut(0x1000, 0, false);
  cut.Disk(0x100, "CUT", 0x200, 0x1000 - 8, {{At(0x400), 0x1000}}, false);
  EXPECT_EQ(ScanRun(cut).size(), 1u);
  cut.U32(0x100 + 24, At(0x1000 - 4));
  EXPECT_TRUE(ScanRun(cut).empty());
}

TEST(FindDisksTest, LimitsEndTheRunBeforeAnyHonestDumpWould) {
  // Four records sharing one table of four 16 MiB blocks: a second disk
  // would take the blocks of all disks past 64 MiB.
  DumpBuilder dump;
  dump.BlockTable(0x100000, std::vector<BlockRef>(4, BlockRef{At(0x1000000), 0xFFF000}));
  dump.Name(0x1000, "X");
  for (std::uint32_t i = 0; i < 4; ++i)
    dump.Descriptor(0x2000 + 44 * i,
                    {.NameAddr = At(0x1000), .NumBlocks = 4, .BlockTableAddr = At(0x100000)});
  EXPECT_EQ(ScanRun(dump).size(), 1u);

  // One record claiming 65,535 blocks of 16 MiB makes no disk at all.
  dump.BlockTable(0x100000, std::vector<BlockRef>(0xFFFF, BlockRef{At(0x1000000), 0xFFF000}));
  dump.U32(0x2000 + 20, 0xFFFF);
  EXPECT_TRUE(ScanRun(dump).empty());

  DumpBuilder many;
  many.Name(0x1000, "X");
  for (std::uint32_t i = 0; i < 1000; ++i)
    many.Descriptor(0x2000 + 44 * i,
                    {.NameAddr = At(0x1000), .NumBlocks = 0, .BlockTableAddr = At(0)});
  EXPECT_EQ(ScanRun(many).size(), TPartitionLimits::MaxDisks);
}

TEST(FindDisksTest, CandidatesSharingALongTableAreEachCheckedOnce) {
  // Hundreds of thousands of records, each one entry short of a valid
  // 65,535-entry table: without remembering what was checked this scan
  // would test tens of billions of entries.
  DumpBuilder dump(0x2000000, 0);
  dump.BlockTable(0x1000000, std::vector<BlockRef>(0xFFFE, BlockRef{At(0), 0}));
  dump.Name(0x100, "X");
  for (std::uint32_t o = 0x1000; o + 48 <= 0x1000000; o += 48)
    dump.Descriptor(o,
                    {.NameAddr = At(0x100), .NumBlocks = 0xFFFF, .BlockTableAddr = At(0x1000000)});
  EXPECT_TRUE(ScanRun(dump).empty());
  // One more valid entry completes the table: the first record is valid.
  dump.BlockTable(0x1000000 + 8 * 0xFFFE, {{At(0), 0}});
  EXPECT_EQ(ScanRun(dump), std::vector<std::uint32_t>{0x1000});
}

}  // namespace
}  // namespace quarn
