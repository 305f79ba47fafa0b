// The FfsTest fixture and helpers shared by the unit tests of a disk's flash file system.
#ifndef QUARN_TESTS_FFS_FIXTURE_H
#define QUARN_TESTS_FFS_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "ffs/flash_fs.h"
#include "ffs_builder.h"
#include "flash/sie_disk.h"
#include "open_dump.h"
#include "plugin/quarn.h"

namespace quarn::testing {

constexpr std::uint32_t kBlock0 = 0x100000;
constexpr std::uint32_t kBlock1 = 0x110000;

// A dump with one disk of the given name over the given blocks; the blocks
// are left as the test lays them out.
inline DumpBuilder OneDisk(const std::vector<BlockRef> &blocks, const std::string &name = "FFS") {
  DumpBuilder dump(0x200000);
  dump.Disk(0x100, name, 0x1000, 0x2000, blocks, false);
  return dump;
}

class FfsTest : public ::testing::Test {
 protected:
  TQuarn &Open(const DumpBuilder &dump, TSettings settings = {}) {
    TQuarn &archive = opened_.Open(dump, settings);
    EXPECT_TRUE(archive.Opened());
    archive_ = &archive;
    return archive;
  }
  TSieDisk &Disk(int index = 0) { return *archive_->Disks()[index]; }

  // The first stage of the disk's reading, for a look at its lists.
  std::unique_ptr<TDiskReader> FirstStage(int disk = 0) {
    auto reader = std::make_unique<TDiskReader>(Disk(disk), budget_);
    reader->ChunkScan();
    reader->SortChunks();
    reader->PairParts();
    reader->JoinLinks();
    return reader;
  }

  std::vector<std::string> EntryNames(int disk = 0) {
    std::vector<std::string> names;
    if (Disk(disk).Entries())
      for (const TSieFile *e : *Disk(disk).Entries()) names.push_back(e->Name);
    return names;
  }

  std::vector<std::string> ListingPaths() {
    std::vector<std::string> paths;
    for (int i = 0; i < archive_->Listing().Count(); ++i)
      paths.emplace_back(archive_->ListingPath(i));
    return paths;
  }

  OpenedDump opened_;
  TQuarn *archive_ = nullptr;
  TEntryBudget budget_;
};

inline std::vector<std::uint32_t> ChunkIds(const TDiskReader &reader) {
  std::vector<std::uint32_t> ids;
  for (const TChunk &c : reader.Chunks()) ids.push_back(c.Id);
  return ids;
}

inline std::vector<std::uint32_t> PartIds(const TDiskReader &reader) {
  std::vector<std::uint32_t> ids;
  for (const TPartRec &p : reader.Parts()) ids.push_back(p.Id);
  return ids;
}

}  // namespace quarn::testing

#endif
