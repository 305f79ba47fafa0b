// Inputs the fuzz target found faults with, kept as named cases with their
// bytes built here, and replayed as the target runs them. Each must also
// list as every host needs: each path once, no "." or ".." piece, nothing
// listed below a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "fuzz_one.h"
#include "test_files.h"

namespace quarn::testing {
namespace {

struct Regression {
  const char *Name;
  std::vector<std::uint8_t> Input;  // as the fuzz target takes it
};

// A raw-mode input: the mode byte, then the dump.
std::vector<std::uint8_t> Raw(const DumpBuilder &dump) {
  std::vector<std::uint8_t> input(dump.Size() + 1, 0);
  std::copy(dump.Data().begin(), dump.Data().end(), input.begin() + 1);
  return input;
}

// Folders whose path reaches byte 254, then "..x": the cut at 255 bytes
// left the piece "." last, naming the folder above.
Regression DotPieceAfterTheCut() {
  DumpBuilder dump(0x30000, 0xFF, false);
  dump.Disk(0x100, "FFS", 0x1000, 0x1100, {{At(0x10000), 0x8000}}, false);
  FlashFs fs(dump, {{At(0x10000), 0x8000}});
  std::uint16_t dir = fs.Dir(fs.Root(), std::string(100, 'a'));
  dir = fs.Dir(dir, std::string(100, 'b'));
  dir = fs.Dir(dir, std::string(47, 'c'));
  fs.File(dir, "..x", Bytes("x"));
  fs.File(dir, ".y", Bytes("y"));
  return {"DotPieceAfterTheCut", Raw(dump)};
}

// A part whose parent id names a file: the file had children, listed
// below a path that was a file's, and none could be extracted.
Regression ChildrenOfAFile() {
  DumpBuilder dump(0x30000, 0xFF, false);
  dump.Disk(0x100, "FFS", 0x1000, 0x1100, {{At(0x10000), 0x8000}}, false);
  FlashFs fs(dump, {{At(0x10000), 0x8000}});
  const std::uint16_t file = fs.File(fs.Root(), "file", Bytes("f"));
  fs.File(file, "child", Bytes("c"));
  return {"ChildrenOfAFile", Raw(dump)};
}

// Patches over the small dump: two disks of one name and a name holding a
// backslash, so that whole paths met after each folder's numbering. Making
// room for the numbered paths moved the text that the table of paths
// already pointed into, and opening read freed memory.
Regression SharedPathsAfterTheTextMoved() {
  return {"SharedPathsAfterTheTextMoved",
          {0x01, 0x24, 0x3f, 0x07, 0x05, 0x10, 0x10, 0x00, 0x5c, 0x00, 0x01, 0xff, 0x11, 0x00,
           0x00, 0x01, 0x11}};
}

TEST(FuzzRegressionTest, EachFoundInputListsSoundly) {
  TempDir dir;
  for (const Regression &r :
       {DotPieceAfterTheCut(), ChildrenOfAFile(), SharedPathsAfterTheTextMoved()}) {
    SCOPED_TRACE(r.Name);
    EXPECT_GT(fuzzing::FuzzOne(r.Input.data(), r.Input.size(), dir.File("out")), 0u);

    const std::vector<std::uint8_t> bytes = fuzzing::DumpOfInput(r.Input.data(), r.Input.size());
    TQuarn archive(TDump::Copy(bytes.data(), bytes.size()), PK_OM_LIST);
    std::set<std::string> paths;
    std::set<std::string> files;
    for (int i = 0; i < archive.Listing().Count(); ++i) {
      const std::string path(archive.ListingPath(i));
      EXPECT_TRUE(paths.insert(path).second) << path;
      const std::string last = path.substr(path.find_last_of('\\') + 1);
      EXPECT_TRUE(last != "." && last != "..") << path;
      if ((archive.Listing()[i]->Attr & 0x10) == 0) files.insert(path + "\\");
    }
    for (const std::string &path : paths)
      for (const std::string &file : files) EXPECT_FALSE(path.starts_with(file)) << path;
  }
}

}  // namespace
}  // namespace quarn::testing
