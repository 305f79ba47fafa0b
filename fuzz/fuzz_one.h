// One fuzz input through the archive, as a host drives it: the bytes built
// into a dump in memory, then every entry listed and tested through the
// exports, and a bounded sample extracted. Shared by the fuzz target and the
// regression tests that replay what it once found.
//
// The first byte chooses how the rest is read:
//   even: the bytes are the dump itself (every field the fuzzer's to choose);
//   odd:  the bytes are patches over a realistic small dump (a file system
//         over two blocks, an EEPROM disk): 4 bytes each, a 24-bit offset
//         into the base (taken modulo its size) and the byte to put there.
#ifndef QUARN_FUZZ_FUZZ_ONE_H
#define QUARN_FUZZ_FUZZ_ONE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "ffs_builder.h"
#include "flash/dump.h"
#include "plugin/quarn.h"
#include "wcxhead.h"

namespace quarn::fuzzing {

// The realistic base of the patch mode.
inline const testing::DumpBuilder &PatchBase() {
  static const testing::DumpBuilder base = testing::SmallFsDump();
  return base;
}

// The dump an input stands for.
inline std::vector<std::uint8_t> DumpOfInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return {};
  if ((data[0] & 1) == 0) return {data + 1, data + size};
  std::vector<std::uint8_t> dump = PatchBase().Data();
  for (std::size_t i = 1; i + 4 <= size; i += 4) {
    const std::uint32_t offset = data[i] | (data[i + 1] << 8) | (data[i + 2] << 16);
    dump[offset % dump.size()] = data[i + 3];
  }
  return dump;
}

// Lists and tests every entry, extracts a sample of at most 16 small ones
// into `target`; the number of entries listed.
inline std::size_t FuzzOne(const std::uint8_t *data, std::size_t size, const std::string &target) {
  const std::vector<std::uint8_t> bytes = DumpOfInput(data, size);
  void *handle = new TQuarn(TDump::Copy(bytes.data(), bytes.size()), PK_OM_EXTRACT, "fuzz.bin");
  std::vector<char> name(target.begin(), target.end());
  name.push_back('\0');
  std::size_t listed = 0;
  std::size_t extracted = 0;
  tHeaderData header{};
  while (ReadHeader(handle, &header) == 0) {
    ++listed;
    char empty[1] = "";
    ProcessFile(handle, PK_TEST, nullptr, empty);
    if (extracted < 16 && header.UnpSize >= 0 && header.UnpSize <= 0x40000 && listed % 3 == 1) {
      ProcessFile(handle, PK_EXTRACT, nullptr, name.data());
      ++extracted;
    }
  }
  CloseArchive(handle);
  return listed;
}

}  // namespace quarn::fuzzing

#endif
