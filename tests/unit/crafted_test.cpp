// Crafted dumps open with bounded work: what one archive makes of its file
// systems is capped, and what is made stays consistent.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "crafted_dumps.h"
#include "entries/entry_budget.h"
#include "ffs_builder.h"
#include "open_dump.h"
#include "plugin/quarn.h"
#include "test_files.h"

namespace quarn::testing {
namespace {

class CraftedTest : public ::testing::Test {
 protected:
  TQuarn &Open(const DumpBuilder &dump, TSettings settings = {}) {
    TQuarn &archive = opened_.Open(dump, settings);
    EXPECT_TRUE(archive.Opened());
    return archive;
  }
  OpenedDump opened_;
};

TEST_F(CraftedTest, MillionsOfLiveChunksListUpToTheEntryCap) {
  for (const char *disk : {"EELITE", "FFS"}) {
    // About 800,000 live chunks.
    TQuarn &archive = Open(EverySlotLiveDump(disk, 0x300000));
    // The cap (EEPROM files come in pairs), plus the disk's raw image.
    EXPECT_GE(archive.Listing().Count(), static_cast<int>(TEntryBudget::kMaxEntries)) << disk;
    EXPECT_LE(archive.Listing().Count(), static_cast<int>(TEntryBudget::kMaxEntries) + 1) << disk;
    EXPECT_LE(archive.Dump().Budget().Entries, 1u);
    EXPECT_EQ(archive.Dump().Budget().Chunks, 0u);  // the scan stopped at its allowance
  }
}

TEST_F(CraftedTest, ChainsSharingOneTailStopAtTheExtentCap) {
  TQuarn &archive = Open(SharedTailDump());
  const TSieDisk &disk = *archive.Disks()[0];
  ASSERT_EQ(disk.Entries()->Count(), 1 + 16000);
  std::uint64_t extents = 0;
  for (const TSieFile *entry : *disk.Entries()) {
    EXPECT_GE(entry->Extents.Count(), 1);
    extents += static_cast<std::uint64_t>(entry->Extents.Count());
  }
  EXPECT_LE(extents, TEntryBudget::kMaxExtents + 16001u);
  EXPECT_EQ(archive.Dump().Budget().Extents, 0u);
  // The first heads were read whole: the head and every part of the tail.
  const TSieFile &first = *(*disk.Entries())[1];
  EXPECT_EQ(first.Extents.Count(), 16001);
  EXPECT_EQ(first.Size, 16001u);
}

TEST_F(CraftedTest, DeadDescriptorsStayWithinTheDeletedViewsAllowance) {
  constexpr TSettings kShowDeleted{.ShowDeleted = true};
  // About 800,000 dead descriptors: collected up to the view's own allowance,
  // the live one untouched.
  TQuarn &everySlot = Open(AllDeleted(EverySlotLiveDump("FFS", 0x300000)), kShowDeleted);
  EXPECT_EQ(everySlot.Disks()[0]->Stats().DeadChunks, 4 * 0x300000u / 16 - 4);
  EXPECT_EQ(everySlot.Dump().DeletedBudget().Chunks, 0u);
  EXPECT_EQ(everySlot.Dump().Budget().Chunks, TEntryBudget::kMaxChunks);

  // 16,000 deleted files whose chains run into one tail: the first takes
  // the tail, each other ends where its next part is taken.
  TQuarn &shared = Open(AllDeleted(SharedTailDump()), kShowDeleted);
  const TSieDisk &disk = *shared.Disks()[0];
  EXPECT_EQ(disk.Stats().DeletedFiles, 16000u);
  EXPECT_EQ(disk.Stats().DeletedIncomplete, 15999u);
  std::uint64_t extents = 0;
  for (const TSieFile *entry : *disk.Entries()) extents += entry->Extents.Count();
  EXPECT_EQ(extents, 16000u + 16000u);
}

TEST_F(CraftedTest, ChunksClaimingMoreThanTheirBlock) {
  // A file of 64 parts whose data chunks each claim 16 MiB from the start of
  // a 64 KiB block: the same bytes over and over, once a size that wrapped.
  DumpBuilder dump(0x30000, 0xFF, false);
  dump.Disk(0x100, "FFS", 0x1000, 0x1100, {{At(0x10000), 0x10000}}, false);
  FlashBlock block(dump, 0x10000, 0x10000);
  block.Part({.Id = 2, .ParentId = 2, .Attr = kDirAttr});
  for (std::uint16_t part = 0; part < 64; ++part) {
    const auto id = static_cast<std::uint16_t>(4 + 2 * part);
    block.Chunk(id, PartHeaderBytes({.Id = id,
                                     .ParentId = 2,
                                     .PrevId = part == 0 ? kNoPartId : std::uint16_t(id - 2),
                                     .NextId = part == 63 ? kNoPartId : std::uint16_t(id + 2),
                                     .Name = "big"}));
    block.Slot(kLiveMarker, id + 1u, 0x1000000, 0);
  }
  TQuarn &archive = Open(dump);
  const TSieFile &file = *(*archive.Disks()[0]->Entries())[1];
  ASSERT_EQ(file.Name, "big");
  // Each part as far as its block goes, which is what extraction writes.
  EXPECT_EQ(file.Size, 64u * 0x10000);
  EXPECT_EQ(file.Damage(), kChunkPastBlock | kChunkOverlaps);
  EXPECT_STREQ(archive.Problem(file),
               "damaged: a chunk's data reaches past its flash block (cut there)");

  // A block table that lists the block twice: the disk's image repeats it,
  // and says so.
  dump.Disk(0x100, "FFS", 0x1000, 0x1100, {{At(0x10000), 0x10000}, {At(0x18000), 0x8000}}, false);
  TQuarn &twice = Open(dump);
  const TSieFile *image = twice.Listing()[1];  // after the folder "FFS"
  ASSERT_EQ(image->Name, "FFS.BIN");
  EXPECT_STREQ(twice.Problem(*image), "damaged: the disk's block table lists overlapping blocks");
}

TEST_F(CraftedTest, ThirtyThousandNestedFolders) {
  TQuarn &archive = Open(DeepNestingDump());
  EXPECT_EQ(archive.Disks()[0]->Entries()->Count(), 30002);
  EXPECT_EQ(archive.Listing().Count(), 30003);
}

}  // namespace
}  // namespace quarn::testing
