// Reading a disk's flash file system: the chunk scan, pairing, links and lookups.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "ffs/flash_fs.h"
#include "ffs_builder.h"
#include "ffs_fixture.h"

namespace quarn::testing {
namespace {

TEST_F(FfsTest, ScanWalksDescriptorsDownToTheFirstUnwrittenSlot) {
  // One 4096-byte block: chunk 16 at the top, a dead slot, chunk 17, then an
  // unwritten slot that ends the table before a live one below it.
  DumpBuilder dump = OneDisk({{At(kBlock0), 0x1000}});
  FlashBlock block(dump, kBlock0, 0x1000);
  block.Data(PartHeaderBytes({.Id = 16, .ParentId = 16, .Attr = 0x10, .Name = "root"}));
  block.Slot(kLiveMarker, 16, 40, 0);
  block.Slot(0, 18, 10, 0);
  block.Slot(kLiveMarker, 17, 300, 40);
  block.Slot(0xFFFFFFFF, 20, 1, 0);
  block.Slot(kLiveMarker, 22, 1, 0);
  Open(dump);

  auto reader = FirstStage();
  EXPECT_EQ(ChunkIds(*reader), (std::vector<std::uint32_t>{16, 17}));
  EXPECT_EQ(reader->Chunks()[0].DescAddr, At(kBlock0 + 0xFF0));
  EXPECT_EQ(reader->Chunks()[0].DataAddr, At(kBlock0));
  EXPECT_EQ(reader->Chunks()[1].Size, 300u);
  EXPECT_EQ(reader->Chunks()[1].DataAddr, At(kBlock0 + 40));
  ASSERT_EQ(PartIds(*reader), (std::vector<std::uint32_t>{16}));
  const TPartRec &part = reader->Parts()[0];
  EXPECT_EQ(part.HeaderChunk, &reader->Chunks()[0]);
  EXPECT_EQ(part.DataChunk, &reader->Chunks()[1]);
  EXPECT_EQ(part.Next, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(part.Name), part.NameLength), "root");
}

TEST_F(FfsTest, ScanLimitsOfABlock) {
  // Every slot of a 4096-byte block live: 255 chunks, the slot at the
  // block's first byte is never read. A live marker with id 0xFFFF counts,
  // 0x10000 does not; a 0-byte block yields nothing; any other marker whose
  // low byte is not 0xFF is passed over without ending the walk.
  DumpBuilder dump = OneDisk({{At(kBlock0), 0x1000}, {At(kBlock1), 0}, {At(0x120000), 0x1000}});
  for (std::uint32_t slot = 0; slot < 0x1000; slot += 16)
    dump.U32(kBlock0 + slot, kLiveMarker)
        .U32(kBlock0 + slot + 4, slot / 16)
        .U32(kBlock0 + slot + 8, 0);
  dump.U32(kBlock1 + 0xFF0, kLiveMarker).U32(kBlock1 + 0xFF4, 7);
  FlashBlock third(dump, 0x120000, 0x1000);
  third.Slot(kLiveMarker, 0xFFFF, 0, 0);
  third.Slot(kLiveMarker, 0x10000, 0, 0);
  third.Slot(0x12345600, 3, 0, 0);
  third.Slot(kLiveMarker, 0x8000, 0, 0);
  Open(dump);

  auto reader = FirstStage();
  const std::vector<std::uint32_t> ids = ChunkIds(*reader);
  ASSERT_EQ(ids.size(), 255u + 2u);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 0u), 0);  // the slot at the block's start
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 7u), 1);  // from the first block only
  EXPECT_EQ(ids.back(), 0xFFFFu);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 0x8000u), 1);
}

TEST_F(FfsTest, PairingNeedsNeighboursAndAMatchingHeader) {
  DumpBuilder dump = OneDisk({{At(kBlock0), 0x10000}});
  FlashBlock block(dump, kBlock0, 0x10000);
  // Id 4: a header chunk of exactly 16 bytes forms a part.
  block.Chunk(4, PartHeaderBytes({.Id = 4, .ParentId = 4, .Terminate = false}));
  block.Chunk(5, Bytes("x"));
  // 15 bytes of header chunk: no part.
  std::vector<std::uint8_t> short15 = PartHeaderBytes({.Id = 8, .ParentId = 4});
  block.Slot(kLiveMarker, 8, 15, block.Data(short15));
  block.Chunk(9, {});
  // The header names DataId 13: no part; the header claims id 14 in chunk 12: no part.
  block.Chunk(10, PartHeaderBytes({.Id = 10, .ParentId = 4, .DataId = 13}));
  block.Chunk(11, {});
  block.Chunk(12, PartHeaderBytes({.Id = 14, .ParentId = 4}));
  block.Chunk(13, {});
  // Odd first id: no part. A sound header whose data chunk (21) is gone: a
  // part without data, so that its entry is not lost.
  block.Chunk(17, PartHeaderBytes({.Id = 17, .ParentId = 4}));
  block.Chunk(18, {});
  block.Chunk(20, PartHeaderBytes({.Id = 20, .ParentId = 4}));
  block.Chunk(22, {});
  // Two chunks with id 24: only the one next to chunk 25 can pair.
  block.Chunk(24, PartHeaderBytes({.Id = 24, .ParentId = 4, .Name = "first"}));
  block.Chunk(24, PartHeaderBytes({.Id = 24, .ParentId = 4, .Name = "second"}));
  block.Chunk(25, {});
  Open(dump);

  auto reader = FirstStage();
  EXPECT_EQ(PartIds(*reader), (std::vector<std::uint32_t>{4, 20, 24}));
  EXPECT_EQ(reader->Parts()[1].DataChunk, nullptr);
  const TPartRec &dup = reader->Parts()[2];
  // Equal ids keep the scan's order, so the later chunk stands next to 25.
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(dup.Name), dup.NameLength), "second");
  EXPECT_EQ(reader->Chunks().Count(), 15);
}

TEST_F(FfsTest, HeadersAndNamesOutsideTheImageFormNoPart) {
  // A short image: a header chunk whose data lies outside the flash window,
  // and one whose name runs into the image's end before its NUL.
  constexpr std::uint32_t kImage = 0x200000;
  DumpBuilder dump(kImage);
  dump.Disk(0x100, "FFS", 0x1000, 0x2000, {{At(kBlock0), 0x1000}}, false);
  FlashBlock block(dump, kBlock0, 0x1000);
  block.Part({.Id = 2, .ParentId = 2, .Name = "root"});
  block.Slot(kLiveMarker, 4, 64, 0x5000000);
  block.Chunk(5, {});
  std::vector<std::uint8_t> header = PartHeaderBytes({.Id = 6, .ParentId = 2, .Terminate = false});
  header.resize(0x100, 'n');
  dump.Bytes(kImage - 0x100, header.data(), header.size());
  block.Slot(kLiveMarker, 6, 0x100, kImage - 0x100 - kBlock0);
  block.Chunk(7, {});
  Open(dump);

  auto reader = FirstStage();
  EXPECT_EQ(PartIds(*reader), (std::vector<std::uint32_t>{2}));
}

TEST_F(FfsTest, LinksFollowNextIdsThatNameParts) {
  DumpBuilder dump = OneDisk({{At(kBlock0), 0x10000}});
  FlashBlock block(dump, kBlock0, 0x10000);
  block.Part({.Id = 2, .ParentId = 2});
  block.Part({.Id = 4, .ParentId = 2, .NextId = 8});
  block.Part({.Id = 6, .ParentId = 2, .NextId = 8});  // two parts naming part 8
  block.Part({.Id = 8, .ParentId = 2, .PrevId = 4});
  block.Part({.Id = 10, .ParentId = 2, .NextId = 12});  // names a missing part
  Open(dump);

  auto reader = FirstStage();
  auto part = [&](std::uint32_t id) -> const TPartRec & {
    return reader->Parts()[reader->FindPart(id)];
  };
  EXPECT_EQ(part(4).Next, &part(8));
  EXPECT_EQ(part(6).Next, &part(8));
  EXPECT_EQ(part(2).Next, nullptr);
  EXPECT_EQ(part(8).Next, nullptr);
  EXPECT_EQ(part(10).Next, nullptr);
}

TEST_F(FfsTest, LookupsFindTheFirstOfARunAndRemovalsTakeOneRecord) {
  // Five file parts, ids 4 to 12, whose parents interleave by id, so that FindFirstChild
  // finds its runs only when JoinLinks sorted them by parent; chunk 42 thrice.
  DumpBuilder dump = OneDisk({{At(kBlock0), 0x1000}});
  FlashBlock block(dump, kBlock0, 0x1000);
  const std::uint16_t parents[] = {12, 10, 10, 12, 10};
  for (int i = 0; i < 5; ++i) block.Part({.Id = std::uint16_t(4 + 2 * i), .ParentId = parents[i]});
  for (const std::uint32_t id : {42u, 42u, 42u, 47u}) block.Chunk(id, {});
  Open(dump);
  TDiskReader empty(Disk(), budget_);  // no stage run: every list empty
  EXPECT_EQ(empty.FindChunk(4), -1);
  EXPECT_EQ(empty.FindPart(4), -1);
  EXPECT_EQ(empty.FindFirstChild(10), -1);

  auto reader = FirstStage();
  EXPECT_EQ(reader->FindFirstChild(10), 0);
  EXPECT_EQ(reader->FindFirstChild(12), 3);
  EXPECT_EQ(reader->FindFirstChild(11), -1);
  EXPECT_EQ(reader->FindFirstChild(13), -1);
  EXPECT_EQ(reader->FindChunk(42), 10);  // after the parts' chunks 4 to 13
  reader->RemoveChunk(42);
  reader->RemoveChunk(42);
  reader->RemoveChunk(43);
  EXPECT_EQ(reader->FindChunk(42), 10);
  EXPECT_EQ(reader->FindChunk(47), 11);
  reader->RemovePart(8);
  reader->RemovePart(9);
  EXPECT_EQ(PartIds(*reader), (std::vector<std::uint32_t>{4, 6, 10, 12}));
}

}  // namespace
}  // namespace quarn::testing
