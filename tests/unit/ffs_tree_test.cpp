// Reading a disk's flash file system: the entry tree, what it consumes, and its chains.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "ffs/flash_fs.h"
#include "ffs_builder.h"
#include "ffs_fixture.h"
#include "plugin/quarn.h"
#include "test_files.h"

namespace quarn::testing {
namespace {

// The tree of the worked example: a root, a file over two parts, a folder
// with a file named "????", and a disk whose other chunks stay over.
DumpBuilder WorkedTree() {
  DumpBuilder dump = OneDisk({{At(kBlock0), 0x10000}, {At(kBlock1), 0x10000}});
  FlashBlock a(dump, kBlock0, 0x10000);
  FlashBlock b(dump, kBlock1, 0x10000);
  a.Part({.Id = 2, .ParentId = 2, .Attr = 0x10, .Name = "ignored"});
  a.Part({.Id = 4, .ParentId = 2, .Attr = 0x20, .NextId = 8, .Name = "a.txt"},
         std::vector<std::uint8_t>(100, 'a'));
  b.Part({.Id = 6, .ParentId = 2, .Attr = 0x10, .Name = "sub"});
  b.Part({.Id = 8, .ParentId = 2, .PrevId = 4}, std::vector<std::uint8_t>(50, 'b'));
  a.Part({.Id = 10, .ParentId = 6, .Name = "????"}, Bytes("seven!!"));
  b.Chunk(40, Bytes("stray"));
  return dump;
}

TEST_F(FfsTest, TreeOfTheWorkedExample) {
  Open(WorkedTree());
  TSieDisk &disk = Disk();
  ASSERT_NE(disk.Root(), nullptr);
  EXPECT_EQ(EntryNames(), (std::vector<std::string>{"FFS", "a.txt", "sub", "%3F%3F%3F%3F",
                                                    "LostBlocks", "block 40.bin"}));
  EXPECT_EQ(disk.Root()->Attr, 0x10u);
  EXPECT_EQ(disk.Root()->Parent(), &archive_->RootEntry());

  const TSieFile &file = *(*disk.Entries())[1];
  EXPECT_EQ(file.Size, 150u);
  ASSERT_EQ(file.Extents.Count(), 2);
  EXPECT_EQ(file.Extents[0].Id, 4);
  EXPECT_EQ(file.Extents[0].DataId, 5);
  EXPECT_EQ(file.Extents[1].Id, 8);
  EXPECT_EQ(file.Extents[1].Size, 50u);
  EXPECT_EQ(file.Extents[1].DataAddr, file.Extents[1].HeaderDataAddr + 16 + 4);
  EXPECT_EQ(file.Id, 4);
  EXPECT_EQ(file.ParentId, 2);
  EXPECT_EQ(file.HeaderDataAddr, At(kBlock0 + 0x18));  // after the root's 24 bytes
  EXPECT_EQ(file.Date, kSampleDate);
  EXPECT_EQ(file.Time, kSampleTime);
  EXPECT_EQ((*disk.Entries())[3]->Size, 7u);
  EXPECT_EQ((*disk.Entries())[3]->Parent(), (*disk.Entries())[2]);

  EXPECT_EQ(ListingPaths(), (std::vector<std::string>{"FFS", "FFS.BIN", "FFS\\LostBlocks",
                                                      "FFS\\LostBlocks\\block 40.bin", "FFS\\a.txt",
                                                      "FFS\\sub", "FFS\\sub\\%3F%3F%3F%3F"}));
}

TEST_F(FfsTest, ConsumptionLeavesOnlyWhatNoEntryUses) {
  Open(WorkedTree());
  auto reader = FirstStage();
  Disk().ReleaseEntries();
  ASSERT_TRUE(reader->BuildTree(reader->FindRootPart()));
  EXPECT_EQ(ChunkIds(*reader), (std::vector<std::uint32_t>{40}));
  EXPECT_EQ(reader->Parts().Count(), 0);
}

TEST_F(FfsTest, BatchedConsumptionMatchesOneRemovalAtATime) {
  // Random trees with duplicate chunk ids, shared chain tails and stray
  // parts: the one-pass consumption must drop exactly what the single
  // removals of each entry's id and extents would.
  std::mt19937 random(20261208);
  for (int round = 0; round < 40; ++round) {
    DumpBuilder dump = OneDisk({{At(kBlock0), 0x10000}});
    FlashBlock block(dump, kBlock0, 0x10000);
    block.Part({.Id = 2, .ParentId = 2, .Attr = 0x10});
    for (std::uint16_t id = 4; id < 80; id += 2) {
      const auto parent = static_cast<std::uint16_t>(2 + 2 * (random() % (id / 2 - 1)));
      const bool first = random() % 3 != 0;
      const auto next =
          static_cast<std::uint16_t>(random() % 4 == 0 ? kNoPartId : 4 + 2 * (random() % 38));
      block.Part({.Id = id,
                  .ParentId = parent,
                  .PrevId = first ? kNoPartId : std::uint16_t(id - 2),
                  .NextId = next});
      if (random() % 5 == 0) block.Chunk(id + random() % 2, Bytes("dup"));
    }
    Open(dump);

    // Two readers with the same lists: one builds the tree, the other takes
    // out what its entries hold one removal at a time.
    auto reader = FirstStage();
    auto sequential = FirstStage();
    Disk().ReleaseEntries();
    ASSERT_TRUE(reader->BuildTree(reader->FindRootPart())) << round;
    for (const TSieFile *e : *Disk().Entries()) {
      sequential->RemovePart(e->Id);
      sequential->RemoveChunk(e->Id);
      for (const TExtent &x : e->Extents) {
        sequential->RemovePart(x.Id);
        sequential->RemoveChunk(x.Id);
        sequential->RemoveChunk(x.DataId);
      }
    }
    EXPECT_EQ(ChunkIds(*reader), ChunkIds(*sequential)) << round;
    EXPECT_EQ(PartIds(*reader), PartIds(*sequential)) << round;
  }
}

TEST_F(FfsTest, RootChoiceAndRefusals) {
  {
    // Ids 2 and 6 are both their own parent: 2 is the root, and 6 with
    // everything below it is lost. Id 8 is a second part (PrevId 4) of no
    // chain; the parent of id 12 is nowhere. What no entry reaches is kept,
    // with its names, in LostFiles.
    DumpBuilder dump = OneDisk({{At(kBlock0), 0x10000}});
    FlashBlock block(dump, kBlock0, 0x10000);
    block.Part({.Id = 2, .ParentId = 2, .Attr = 0x10});
    block.Part({.Id = 4, .ParentId = 2, .Name = "kept"});
    block.Part({.Id = 6, .ParentId = 6, .Attr = 0x10, .Name = "second root"});
    block.Part({.Id = 8, .ParentId = 2, .PrevId = 4, .Name = "not first"});
    block.Part({.Id = 10, .ParentId = 6, .Name = "below the second root"});
    block.Part({.Id = 12, .ParentId = 30, .Name = "orphan"});
    Open(dump);
    EXPECT_EQ(EntryNames(),
              (std::vector<std::string>{"FFS", "kept", "LostFiles", "second root", "not first",
                                        "orphan", "below the second root"}));
    EXPECT_EQ(Disk().Entries()->Get(5)->Parent()->Name, "LostFiles");
    EXPECT_EQ(Disk().Entries()->Get(6)->Parent()->Name, "second root");
  }
  {
    // A root part that is not a first part: the disk lists only its image.
    DumpBuilder dump = OneDisk({{At(kBlock0), 0x10000}});
    FlashBlock block(dump, kBlock0, 0x10000);
    block.Part({.Id = 2, .ParentId = 2, .Attr = 0x10, .PrevId = 4});
    block.Part({.Id = 4, .ParentId = 2, .Name = "file"});
    Open(dump);
    EXPECT_EQ(Disk().Root(), nullptr);
    EXPECT_FALSE(Disk().Entries());
    EXPECT_EQ(ListingPaths(), (std::vector<std::string>{"FFS.BIN"}));
  }
  {
    // No live chunk at all.
    Open(OneDisk({{At(kBlock0), 0x10000}}));
    EXPECT_EQ(Disk().Root(), nullptr);
    EXPECT_FALSE(Disk().Entries());
  }
}

TEST_F(FfsTest, ChainsThatDidNotEndSoundlyAreMarked) {
  // Id 4 names itself; ids 8 and 10 name each other; id 14 runs into the
  // loop of 16 and 18; 20 names a part that is not there; 26 is named by 28
  // as its previous part but ends; 30 goes on to 32, which names 28 as its
  // previous part; the data chunk of 36 has a twin; 40 and 42 are sound.
  DumpBuilder dump = OneDisk({{At(kBlock0), 0x10000}});
  FlashBlock block(dump, kBlock0, 0x10000);
  block.Part({.Id = 2, .ParentId = 2, .Attr = 0x10});
  block.Part({.Id = 4, .ParentId = 2, .NextId = 4, .Name = "self"}, Bytes("A"));
  block.Part({.Id = 8, .ParentId = 2, .NextId = 10, .Name = "pair"}, Bytes("B"));
  block.Part({.Id = 10, .ParentId = 2, .PrevId = 8, .NextId = 8}, Bytes("C"));
  block.Part({.Id = 14, .ParentId = 2, .NextId = 16, .Name = "tail"}, Bytes("D"));
  block.Part({.Id = 16, .ParentId = 2, .PrevId = 14, .NextId = 18}, Bytes("E"));
  block.Part({.Id = 18, .ParentId = 2, .PrevId = 16, .NextId = 16}, Bytes("F"));
  block.Part({.Id = 20, .ParentId = 2, .NextId = 22, .Name = "cut"}, Bytes("G"));
  block.Part({.Id = 26, .ParentId = 2, .Name = "ended"}, Bytes("H"));
  block.Part({.Id = 28, .ParentId = 2, .PrevId = 26}, Bytes("I"));
  block.Part({.Id = 30, .ParentId = 2, .NextId = 32, .Name = "other"}, Bytes("J"));
  block.Part({.Id = 32, .ParentId = 2, .PrevId = 28}, Bytes("K"));
  block.Part({.Id = 36, .ParentId = 2, .Name = "twin"}, Bytes("L"));
  block.Chunk(37, Bytes("M"));
  block.Part({.Id = 40, .ParentId = 2, .NextId = 42, .Name = "sound"}, Bytes("N"));
  block.Part({.Id = 42, .ParentId = 2, .PrevId = 40}, Bytes("O"));
  TQuarn &archive = Open(dump);

  std::vector<std::string> contents;
  for (const TSieFile *e : *Disk().Entries()) {
    std::string ids;
    for (const TExtent &x : e->Extents) ids += std::to_string(x.Id) + " ";
    std::string at;  // the part where each finding shows
    for (const TEntryFinding &f : e->Findings()) at += " @" + std::to_string(f.PartId);
    contents.push_back(e->Name + ": " + ids + std::to_string(e->Damage()) + at);
  }
  // The part after "ended" is a file of its own in LostFiles, its head
  // missing; lost blocks keep the id of the chunk they are.
  EXPECT_EQ(contents, (std::vector<std::string>{
                          "FFS: 2 0", "self: 4 2 @4", "pair: 8 10 2 @10", "tail: 14 16 18 2 @18",
                          "cut: 20 1 @20", "ended: 26 16 @26", "other: 30 32 8 @32",
                          "twin: 36 32 @36", "sound: 40 42 0", "LostFiles: 0",
                          "%00: 28 1040 @28 @28", "LostBlocks: 0", "block 37.bin: 37 0"}));
  // Testing tells each marked file, extraction writes it all and says so.
  TempDir dir;
  std::string target = dir.File("out");
  tHeaderData header{};
  while (archive.ReadHeader(&header) == 0) {
    const std::string path = header.FileName;
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    const bool marked =
        std::set<std::string>{"self", "pair", "tail", "cut", "ended", "other", "twin", "%00"}.count(
            name) != 0;
    EXPECT_EQ(archive.ProcessFile(PK_TEST, nullptr), marked ? E_BAD_DATA : 0) << path;
    if (path.ends_with("tail")) {
      EXPECT_EQ(archive.ProcessFile(PK_EXTRACT, target.data()), E_BAD_DATA);
      EXPECT_EQ(ReadBytes(target), Bytes("DEF"));
    }
  }
}

TEST_F(FfsTest, ChildrenOfAFileGoToAFolderBesideIt) {
  // Part 6 names the file 4 as its parent (its directory bit lost), and so
  // does 8; a folder "log (2)" beside the file holds them. A name holding a
  // backslash meets another path, and is numbered too.
  DumpBuilder dump = OneDisk({{At(kBlock0), 0x10000}});
  FlashBlock block(dump, kBlock0, 0x10000);
  block.Part({.Id = 2, .ParentId = 2, .Attr = 0x10});
  block.Part({.Id = 4, .ParentId = 2, .Name = "log"}, Bytes("file"));
  block.Part({.Id = 6, .ParentId = 4, .Name = "a"}, Bytes("A"));
  block.Part({.Id = 8, .ParentId = 4, .Attr = 0x10, .Name = "sub"});
  block.Part({.Id = 10, .ParentId = 8, .Name = "b"}, Bytes("B"));
  block.Part({.Id = 12, .ParentId = 2, .Attr = 0x10, .Name = "x"});
  block.Part({.Id = 14, .ParentId = 12, .Name = "y"}, Bytes("Y1"));
  block.Part({.Id = 16, .ParentId = 2, .Name = "x\\y"}, Bytes("Y2"));
  Open(dump);
  EXPECT_EQ(ListingPaths(), (std::vector<std::string>{"FFS", "FFS.BIN", "FFS\\log", "FFS\\log (2)",
                                                      "FFS\\log (2)\\a", "FFS\\log (2)\\sub",
                                                      "FFS\\log (2)\\sub\\b", "FFS\\x", "FFS\\x\\y",
                                                      "FFS\\x\\y (2)"}));
}

TEST_F(FfsTest, DeepNestingNeedsNoRecursion) {
  // 5,000 nested folders and a file at the bottom.
  DumpBuilder dump = OneDisk({{At(kBlock0), 0x80000}, {At(0x180000), 0x80000}});
  FlashFs fs(dump, {{At(kBlock0), 0x80000}, {At(0x180000), 0x80000}});
  std::uint16_t parent = fs.Root();
  for (int depth = 0; depth < 5000; ++depth) parent = fs.Dir(parent, "d");
  fs.File(parent, "bottom.txt", Bytes("deep"));
  Open(dump);
  ASSERT_EQ(Disk().Entries()->Count(), 5002);
  const std::string path = archive_->Listing()[archive_->Listing().Count() - 1]->FullPath();
  EXPECT_EQ(path.size(), 255u);
}

}  // namespace
}  // namespace quarn::testing
