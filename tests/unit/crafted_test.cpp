// Crafted dumps open with bounded work: what one archive makes of its file
// systems is capped, and what is made stays consistent.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "crafted_dumps.h"
#include "entries/entry_budget.h"
#include "open_dump.h"
#include "plugin/quarn.h"
#include "test_files.h"

namespace quarn::testing {
namespace {

class CraftedTest : public ::testing::Test {
 protected:
  TQuarn &Open(const DumpBuilder &dump) {
    TQuarn &archive = opened_.Open(dump);
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

TEST_F(CraftedTest, ThirtyThousandNestedFolders) {
  TQuarn &archive = Open(DeepNestingDump());
  EXPECT_EQ(archive.Disks()[0]->Entries()->Count(), 30002);
  EXPECT_EQ(archive.Listing().Count(), 30003);
}

}  // namespace
}  // namespace quarn::testing
