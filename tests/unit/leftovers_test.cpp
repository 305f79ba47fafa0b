// Chunks no entry uses: EEPROM blocks on the EELITE and EEFULL disks, lost
// blocks on every other disk.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "ffs/flash_fs.h"
#include "ffs_builder.h"
#include "flash/sie_disk.h"
#include "open_dump.h"
#include "plugin/quarn.h"
#include "test_files.h"

namespace quarn::testing {
namespace {

constexpr std::uint32_t kBlock = 0x100000;

std::vector<std::uint8_t> Counting(std::size_t n, std::uint8_t from = 0) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(from + i);
  return bytes;
}

std::string BidText(int number, int version) {
  return "EEPROM block additional file.\r\nPhone HWid:\r\n 5000 \r\nEEPROM BlockId:\r\n " +
         std::to_string(number) + " \r\nEEPROM BlockVer:\r\n " + std::to_string(version) + " \r\n";
}

class LeftoversTest : public ::testing::Test {
 protected:
  // A dump with one disk of the given name; `lay` lays out its block.
  template <typename Lay>
  TSieDisk &Open(const std::string &diskName, Lay lay, std::uint32_t imageSize = 0x200000) {
    DumpBuilder dump(imageSize);
    dump.Disk(0x100, diskName, 0x1000, 0x2000, {{At(kBlock), 0x10000}}, false);
    FlashBlock block(dump, kBlock, 0x10000);
    lay(block, dump);
    archive_ = &opened_.Open(dump);
    return *archive_->Disks()[0];
  }

  std::vector<std::string> Names() {
    std::vector<std::string> names;
    const TSieDisk &disk = *archive_->Disks()[0];
    if (disk.Entries())
      for (const TSieFile *e : *disk.Entries()) names.push_back(e->Name);
    return names;
  }

  const TSieFile &Entry(int index) { return *(*archive_->Disks()[0]->Entries())[index]; }

  // An entry's content as extraction reads it, as far as the image holds it.
  std::string Content(const TSieFile &entry) {
    std::string bytes;
    for (const TExtent &x : entry.Extents) {
      if (x.Buffer) {
        bytes.append(reinterpret_cast<const char *>(x.Buffer.get()), x.Size);
        continue;
      }
      const std::uint8_t *p = archive_->Dump().Window().Span(x.DataAddr, x.Size);
      if (p != nullptr) bytes.append(reinterpret_cast<const char *>(p), x.Size);
    }
    return bytes;
  }

  OpenedDump opened_;
  TQuarn *archive_ = nullptr;
};

TEST_F(LeftoversTest, EepromLiteBlocksWithoutARootPart) {
  TSieDisk &disk = Open("EELITE", [](FlashBlock &b, DumpBuilder &) {
    b.Chunk(14, Counting(3, 0x40));
    b.Chunk(12, Counting(10));
  });
  EXPECT_EQ(Names(), (std::vector<std::string>{"EELITE", "eeprom 1_12.bin", "eeprom 1_12.bid",
                                               "eeprom 1_14.bin", "eeprom 1_14.bid"}));
  const TSieFile &root = *disk.Root();
  EXPECT_EQ(&root, &Entry(0));
  EXPECT_EQ(root.Attr, 0x18u);
  EXPECT_EQ(root.Date, 0);
  EXPECT_EQ(root.Time, 0);
  EXPECT_EQ(root.Size, 0u);
  EXPECT_EQ(root.Parent(), &archive_->RootEntry());

  const TSieFile &bin = Entry(1);
  EXPECT_EQ(Content(bin), std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08", 9));
  EXPECT_EQ(bin.Size, 9u);
  EXPECT_EQ(bin.Attr, 0u);
  EXPECT_EQ(bin.Parent(), &root);
  EXPECT_EQ(bin.Date, archive_->Dump().ArcDate());
  EXPECT_EQ(bin.Time, archive_->Dump().ArcTime());
  ASSERT_EQ(bin.Extents.Count(), 1);
  EXPECT_EQ(bin.Extents[0].DataAddr, At(kBlock + 4));  // after chunk 14

  const TSieFile &bid = Entry(2);
  EXPECT_EQ(Content(bid), BidText(12, 9));
  EXPECT_EQ(bid.Size, 98u);
  EXPECT_EQ(bid.Extents[0].DataAddr, 0u);
  EXPECT_EQ(Content(Entry(4)), BidText(14, 0x42));
  EXPECT_EQ(bid.FullPath(), "EELITE\\eeprom 1_12.bid");
}

TEST_F(LeftoversTest, EepromFullBlocksTakeTheFirstByteAsVersion) {
  Open("EEFULL", [](FlashBlock &b, DumpBuilder &) { b.Chunk(12, Counting(10)); });
  EXPECT_EQ(Names(),
            (std::vector<std::string>{"EEFULL", "eeprom 1_5012.bin", "eeprom 1_5012.bid"}));
  EXPECT_EQ(Content(Entry(1)), std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9));
  EXPECT_EQ(Content(Entry(2)), BidText(5012, 0));
  EXPECT_EQ(Entry(2).Size, 100u);
}

TEST_F(LeftoversTest, DescriptionTextLengths) {
  EXPECT_EQ(EepromBlockText(0, 7).size(), 97u);
  EXPECT_EQ(EepromBlockText(65535 + 5000, 255).size(), 103u);
  EXPECT_EQ(EepromBlockText(70535, 255), BidText(70535, 255));
}

TEST_F(LeftoversTest, SmallDuplicateAndOutsideChunks) {
  // Size 1: an empty block, its single byte the version. Size 0: an empty
  // block of version 0, nothing read. Two chunks with one id: two pairs of
  // files, the second pair numbered. Data past its block's end (here also the
  // image's): listed as far as the block goes, reported, the version read
  // at the end of what is there.
  constexpr std::uint32_t kImage = kBlock + 0x10000;
  Open(
      "EELITE",
      [](FlashBlock &b, DumpBuilder &) {
        b.Chunk(2, {0x07});
        b.Chunk(4, {});
        b.Chunk(6, Bytes("one"));
        b.Chunk(6, Bytes("two"));
        b.Slot(kLiveMarker, 8, 0x100, 0x10000 - 0x80);
      },
      kImage);
  EXPECT_EQ(Names(), (std::vector<std::string>{
                         "EELITE", "eeprom 1_2.bin", "eeprom 1_2.bid", "eeprom 1_4.bin",
                         "eeprom 1_4.bid", "eeprom 1_6.bin", "eeprom 1_6.bid", "eeprom 1_6 (2).bin",
                         "eeprom 1_6 (2).bid", "eeprom 1_8.bin", "eeprom 1_8.bid"}));
  EXPECT_EQ(Entry(1).Size, 0u);
  EXPECT_EQ(Entry(1).Extents.Count(), 1);
  EXPECT_EQ(Content(Entry(2)), BidText(2, 7));
  EXPECT_EQ(Entry(3).Size, 0u);
  EXPECT_EQ(Content(Entry(4)), BidText(4, 0));
  EXPECT_EQ(Content(Entry(5)), "on");
  EXPECT_EQ(Content(Entry(7)), "tw");
  EXPECT_EQ(Entry(9).Size, 0x7Fu);
  EXPECT_EQ(Entry(9).Damage(), kChunkPastBlock);
  EXPECT_EQ(Content(Entry(10)), BidText(8, 0));
}

TEST_F(LeftoversTest, EepromFilesGoBesideTheFileSystem) {
  // A file system on an EEPROM disk: its entries first, then the blocks no
  // entry uses, in the same root.
  Open("EELITE", [](FlashBlock &b, DumpBuilder &) {
    b.Part({.Id = 2, .ParentId = 2, .Attr = 0x10});
    b.Part({.Id = 4, .ParentId = 2, .Name = "file"}, Bytes("x"));
    b.Chunk(9, Counting(4));
  });
  EXPECT_EQ(Names(),
            (std::vector<std::string>{"EELITE", "file", "eeprom 1_9.bin", "eeprom 1_9.bid"}));
  EXPECT_EQ(Entry(2).Parent(), &Entry(0));
  EXPECT_EQ(Entry(0).Attr, 0x10u);

  // Every chunk used: no EEPROM file, no second root.
  Open("EEFULL", [](FlashBlock &b, DumpBuilder &) {
    b.Part({.Id = 2, .ParentId = 2, .Attr = 0x10});
    b.Part({.Id = 4, .ParentId = 2, .Name = "file"}, Bytes("x"));
  });
  EXPECT_EQ(Names(), (std::vector<std::string>{"EEFULL", "file"}));
}

TEST_F(LeftoversTest, OtherDisksListLostBlocks) {
  for (const char *name : {"eelite", "EEFULL1", "FFS"}) {
    Open(name, [](FlashBlock &b, DumpBuilder &) {
      b.Chunk(30, Counting(5));
      b.Chunk(3, {});
    });
    EXPECT_EQ(Names(),
              (std::vector<std::string>{name, "LostBlocks", "block 3.bin", "block 30.bin"}))
        << name;
    EXPECT_EQ(Entry(0).Attr, 0x18u);
    EXPECT_EQ(Entry(1).Attr, 0x10u);
    EXPECT_EQ(Entry(1).Date, archive_->Dump().ArcDate());
    EXPECT_EQ(Entry(1).Extents.Count(), 0);
    EXPECT_EQ(Entry(2).Size, 0u);
    EXPECT_EQ(Entry(3).Parent(), &Entry(1));
    EXPECT_EQ(Content(Entry(3)), std::string("\x00\x01\x02\x03\x04", 5));
  }
  // Nothing left over: no folder.
  Open("FFS", [](FlashBlock &b, DumpBuilder &) { b.Part({.Id = 2, .ParentId = 2}); });
  EXPECT_EQ(Names(), (std::vector<std::string>{"FFS"}));
}

}  // namespace
}  // namespace quarn::testing
