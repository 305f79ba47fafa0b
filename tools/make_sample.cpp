// Writes a sample flash dump to try Quarn on, since no real dump can ship:
// 32 MiB, "SIEMENS" at byte 544, and a partition table of three disks.
//
//   make-sample [FILE]     (default: sample.bin)
#include <cstdio>
#include <exception>
#include <string>

#include "dump_builder.h"

int main(int argc, char **argv) {
  if (argc > 2 || (argc == 2 && std::string(argv[1]).rfind('-', 0) == 0)) {
    std::fprintf(stderr, "usage: make-sample [FILE]\n");
    return 2;
  }
  const std::string path = argc == 2 ? argv[1] : "sample.bin";
  try {
    quarn::testing::DumpBuilder dump = quarn::testing::ThreeDiskDump();
    // A little text at the start of the first disk, to see in an extracted image.
    const std::string note = "Quarn sample dump: the first block of the FFS disk.\n";
    dump.Bytes(0x100000, note.data(), note.size());
    dump.Save(path);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "make-sample: %s\n", e.what());
    return 1;
  }
  std::printf("%s: sample dump written (33554432 bytes, disks FFS, EELITE, EEFULL)\n",
              path.c_str());
  return 0;
}
