// The deleted view: files and folders rebuilt from dead descriptors, where
// they stand, what live parts supersede, and what is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ffs_fixture.h"
#include "test_files.h"

namespace quarn::testing {
namespace {

constexpr TSettings kShowDeleted{.ShowDeleted = true};

// Every listed path with its size and damage bits, sorted as bytes (the
// listing's own order is the host's).
std::vector<std::string> Described(const TQuarn &archive) {
  std::vector<std::string> lines;
  for (int i = 0; i < archive.Listing().Count(); ++i) {
    const TSieFile &e = *archive.Listing()[i];
    lines.push_back(std::string(archive.ListingPath(i)) + " " + std::to_string(e.Size) +
                    (e.Damage() != 0 ? " damaged" : ""));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST_F(FfsTest, DeletedFilesAreRebuiltWhereTheyStood) {
  DumpBuilder dump = OneDisk({{At(kBlock0), 0x10000}, {At(kBlock1), 0x10000}});
  FlashBlock block(dump, kBlock0, 0x10000);
  FlashBlock other(dump, kBlock1, 0x10000);
  // The live tree: a folder with a file, and a folder of the view's own name.
  block.Part({.Id = 2, .ParentId = 2, .Attr = 0x10});
  block.Part({.Id = 4, .ParentId = 2, .Attr = 0x10, .Name = "Pics"});
  block.Part({.Id = 6, .ParentId = 4, .Name = "keep.txt"}, Bytes("K"));
  block.Part({.Id = 36, .ParentId = 2, .Attr = 0x10, .Name = "Deleted"});
  // A rewritten file: its earlier version is superseded; so is the old
  // header of a file renamed, whose data stayed live.
  block.Part({.Id = 8, .ParentId = 2, .Name = "doc.txt"}, Bytes("old"), kDeadMarker);
  block.Part({.Id = 8, .ParentId = 2, .Name = "doc.txt"}, Bytes("new"));
  block.Chunk(38, PartHeaderBytes({.Id = 38, .ParentId = 2, .Name = "was.txt"}), kDeadMarker);
  block.Part({.Id = 38, .ParentId = 2, .Name = "is.txt"}, Bytes("R"));
  // A file deleted from Pics, whose first id a new file took.
  block.Part({.Id = 10, .ParentId = 4, .NextId = 12, .Name = "gone.jpg"}, Bytes("G1"), kDeadMarker);
  other.Part({.Id = 12, .ParentId = 4, .PrevId = 10}, Bytes("G2"), kDeadMarker);
  block.Part({.Id = 10, .ParentId = 2, .Name = "new.txt"}, Bytes("N"));
  // A deleted folder with a file and a folder of its own.
  block.Part({.Id = 14, .ParentId = 2, .Attr = 0x10, .Name = "Trip"}, {}, kDeadMarker);
  block.Part({.Id = 16, .ParentId = 14, .Name = "a.jpg"}, Bytes("A"), kDeadMarker);
  block.Part({.Id = 18, .ParentId = 14, .Attr = 0x10, .Name = "sub"}, {}, kDeadMarker);
  block.Part({.Id = 20, .ParentId = 18, .Name = "b.jpg"}, Bytes("B"), kDeadMarker);
  // A chain whose second part was erased; a tail whose head was.
  block.Part({.Id = 22, .ParentId = 2, .NextId = 24, .Name = "cut.log"}, Bytes("C"), kDeadMarker);
  block.Part({.Id = 26, .ParentId = 2, .PrevId = 40}, Bytes("T"), kDeadMarker);
  // Two deleted folders naming each other as parent.
  block.Part({.Id = 28, .ParentId = 30, .Attr = 0x10, .Name = "x"}, {}, kDeadMarker);
  block.Part({.Id = 30, .ParentId = 28, .Attr = 0x10, .Name = "y"}, {}, kDeadMarker);
  // One id deleted twice under one name: numbered apart.
  block.Part({.Id = 32, .ParentId = 2, .Name = "dup.txt"}, Bytes("1"), kDeadMarker);
  other.Part({.Id = 32, .ParentId = 2, .Name = "dup.txt"}, Bytes("22"), kDeadMarker);
  // Dead descriptors that describe nothing readable.
  block.Slot(kDeadMarker, 0x10000, 4, 0).Slot(kDeadMarker, 34, 0x20000, 0);

  TQuarn &plain = Open(dump);
  const std::vector<std::string> live = {"FFS 0",         "FFS.BIN 131072",        "FFS\\Deleted 0",
                                         "FFS\\Pics 0",   "FFS\\Pics\\keep.txt 1", "FFS\\doc.txt 3",
                                         "FFS\\is.txt 1", "FFS\\new.txt 1"};
  EXPECT_EQ(Described(plain), live);
  const TDiskStats &off = Disk().Stats();
  EXPECT_EQ(off.DeadChunks, 27u);  // the two that describe nothing are not counted
  EXPECT_EQ(off.DeletedFiles + off.DeletedFolders, 0u);

  TQuarn &shown = Open(dump, kShowDeleted);
  EXPECT_EQ(Described(shown), (std::vector<std::string>{"FFS 0",
                                                        "FFS.BIN 131072",
                                                        "FFS\\Deleted (2) 0",
                                                        "FFS\\Deleted (2)\\Pics 0",
                                                        "FFS\\Deleted (2)\\Pics\\gone.jpg 4",
                                                        "FFS\\Deleted (2)\\Trip 0",
                                                        "FFS\\Deleted (2)\\Trip\\a.jpg 1",
                                                        "FFS\\Deleted (2)\\Trip\\sub 0",
                                                        "FFS\\Deleted (2)\\Trip\\sub\\b.jpg 1",
                                                        "FFS\\Deleted (2)\\cut.log 1 damaged",
                                                        "FFS\\Deleted (2)\\dup (2).txt 2",
                                                        "FFS\\Deleted (2)\\dup.txt 1",
                                                        "FFS\\Deleted (2)\\x 0",
                                                        "FFS\\Deleted (2)\\x\\y 0",
                                                        "FFS\\Deleted 0",
                                                        "FFS\\Pics 0",
                                                        "FFS\\Pics\\keep.txt 1",
                                                        "FFS\\doc.txt 3",
                                                        "FFS\\is.txt 1",
                                                        "FFS\\new.txt 1"}));
  const TDiskStats &on = Disk().Stats();
  EXPECT_EQ(on.DeletedFiles, 6u);
  EXPECT_EQ(on.DeletedIncomplete, 1u);
  EXPECT_EQ(on.DeletedFolders, 4u);
  EXPECT_EQ(on.DeadPartsSuperseded, 2u);
  EXPECT_EQ(on.DeadPartsUnreached, 1u);  // the tail without its head

  // The rebuilt files extract byte for byte; the cut one says so.
  TempDir dir;
  std::string target = dir.File("out");
  tHeaderData header{};
  while (shown.ReadHeader(&header) == 0) {
    const std::string path = header.FileName;
    if (path.ends_with("gone.jpg")) {
      EXPECT_EQ(shown.ProcessFile(PK_EXTRACT, target.data()), 0);
      EXPECT_EQ(ReadBytes(target), Bytes("G1G2"));
    } else if (path.ends_with("cut.log")) {
      EXPECT_EQ(shown.ProcessFile(PK_TEST, nullptr), E_BAD_DATA);
    }
  }
}

}  // namespace
}  // namespace quarn::testing
