// Writes small seed dumps for the fuzz target into a folder: the patch
// modes' base as it is (through both interfaces), and raw dumps of a few disks, file systems and
// EEPROM blocks, each a few dozen KiB.
//
//   quarn_fuzz_seeds DIR
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_one.h"

namespace {

using namespace quarn::testing;

void Write(const std::string &dir, const std::string &name, std::uint8_t mode,
           const std::vector<std::uint8_t> &bytes) {
  std::ofstream out(dir + "/" + name, std::ios::binary);
  out.put(static_cast<char>(mode));
  out.write(reinterpret_cast<const char *>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quarn_fuzz_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  // Patches that change nothing: the base as it stands.
  Write(dir, "patch-base", 1, {0, 0, 0, 0xFF});
  // The same through the Unicode exports, and runs of bytes that change
  // nothing.
  Write(dir, "patch-base-wide", 5, {0, 0, 0, 0xFF});
  Write(dir, "runs-base", 3, {0, 0, 0, 0});
  Write(dir, "runs-base-wide", 7, {0, 0, 0, 0});
  // And asking the core what info and list --json report.
  Write(dir, "patch-base-facts", 9, {0, 0, 0, 0xFF});
  // The base, and pieces of it, as raw dumps.
  const std::vector<std::uint8_t> &base = quarn::fuzzing::PatchBase().Data();
  Write(dir, "raw-base", 0, base);
  Write(dir, "raw-table", 0, {base.begin(), base.begin() + 0x1200});
  // Three disks of small blocks, one with a chain over both blocks.
  DumpBuilder dump(0x8000, 0xFF, false);
  const std::vector<BlockRef> blocks = {{At(0x4000), 0x1000}, {At(0x5000), 0x1000}};
  dump.Disk(0x40, "A", 0x1000, 0x1100, blocks, false);
  dump.Disk(0x40 + 44, "EEFULL", 0x1010, 0x1180, {{At(0x6000), 0x1000}}, false);
  dump.Disk(0x40 + 88, "C", 0x1020, 0x11C0, {{At(0x7000), 0x1000}}, true);
  FlashFs fs(dump, blocks);
  const std::uint16_t root = fs.Root();
  fs.File(fs.Dir(root, ".."), "x", std::vector<std::uint8_t>(1500, 'x'), 400);
  FlashBlock eeprom(dump, 0x6000, 0x1000);
  for (std::uint32_t id = 0; id < 6; ++id) eeprom.Chunk(id, std::vector<std::uint8_t>(id + 1, 1));
  Write(dir, "raw-three-disks", 0, dump.Data());
  // Deleted files in the deleted view: a folder with a file, a chain of two
  // parts over both blocks, a file rewritten over its earlier version.
  FlashBlock first(dump, 0x4000, 0x1000), second(dump, 0x5000, 0x1000);
  first.Part({.Id = 2, .ParentId = 2, .Attr = 0x10});
  first.Part({.Id = 4, .ParentId = 2, .Attr = 0x10, .Name = "d"}, {}, kDeadMarker);
  first.Part({.Id = 6, .ParentId = 4, .NextId = 8, .Name = "f"}, {1, 2, 3}, kDeadMarker);
  second.Part({.Id = 8, .ParentId = 4, .PrevId = 6}, {4, 5}, kDeadMarker);
  first.Part({.Id = 10, .ParentId = 2, .Name = "r"}, {6}, kDeadMarker);
  second.Part({.Id = 10, .ParentId = 2, .Name = "r"}, {7});
  Write(dir, "raw-deleted", 16, dump.Data());
  Write(dir, "patch-base-deleted", 17 | 8, {0, 0, 0, 0xFF});
  return 0;
}
