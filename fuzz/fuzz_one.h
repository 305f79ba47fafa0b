// One fuzz input through the archive, as a host drives it: the bytes built
// into a dump in memory, then every entry listed and tested through the
// exports, and a bounded sample extracted. Shared by the fuzz target and the
// regression tests that replay what it once found.
//
// The first byte chooses how the rest is read:
//   bit 0 clear: the bytes are the dump itself (every field the fuzzer's to
//         choose);
//   bit 0 set, bit 1 clear: patches over a realistic small dump (a file
//         system over two blocks, an EEPROM disk): 4 bytes each, a 24-bit
//         offset into the base (taken modulo its size) and the byte to put
//         there;
//   bits 0 and 1 set: runs of bytes over the same dump, each a 24-bit
//         offset, a length (at most 64) and that many bytes, so that whole
//         names (separators, dots, " (2)", the 0x1F of UTF-8 names) land in
//         one step;
// bit 2 lists and extracts through the Unicode exports, as Double
// Commander and Total Commander do, instead of the ANSI ones; and bit 3 also
// asks the core what the command's info and list --json report: the dump's
// facts, and each entry's facts and content; bit 4 opens the deleted view
// (the files rebuilt from dead descriptors, the disks after a damaged
// partition record).
#ifndef QUARN_FUZZ_FUZZ_ONE_H
#define QUARN_FUZZ_FUZZ_ONE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "ffs_builder.h"
#include "flash/dump.h"
#include "plugin/inspect.h"
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
  const bool runs = (data[0] & 2) != 0;
  for (std::size_t i = 1; i + 4 <= size;) {
    const std::uint32_t offset = data[i] | (data[i + 1] << 8) | (data[i + 2] << 16);
    if (!runs) {
      dump[offset % dump.size()] = data[i + 3];
      i += 4;
      continue;
    }
    const std::size_t length = std::min<std::size_t>({data[i + 3] & 63u, size - i - 4});
    for (std::size_t k = 0; k < length; ++k) dump[(offset + k) % dump.size()] = data[i + 4 + k];
    i += 4 + length;
  }
  return dump;
}

// Lists every entry through the Unicode exports: tests each, extracts a
// sample of at most 16 small ones into `target`; the number listed.
inline std::size_t ListWide(void *handle, const std::string &target) {
  std::vector<WCX_WCHAR> name(target.begin(), target.end());
  name.push_back(0);
  std::size_t listed = 0;
  std::size_t extracted = 0;
  auto header = std::make_unique<tHeaderDataExW>();
  while (ReadHeaderExW(handle, header.get()) == 0) {
    ++listed;
    ProcessFileW(handle, PK_TEST, nullptr, nullptr);
    if (extracted < 16 && header->UnpSizeHigh == 0 && header->UnpSize <= 0x40000 &&
        listed % 3 == 1) {
      ProcessFileW(handle, PK_EXTRACT, nullptr, name.data());
      ++extracted;
    }
    *header = tHeaderDataExW{};
  }
  return listed;
}

// Lists and tests every entry, extracts a sample of at most 16 small ones
// into `target`; the number of entries listed.
inline std::size_t FuzzOne(const std::uint8_t *data, std::size_t size, const std::string &target) {
  const std::vector<std::uint8_t> bytes = DumpOfInput(data, size);
  const TSettings settings{.ShowDeleted = size > 0 && (data[0] & 16) != 0};
  void *handle =
      new TQuarn(TDump::Copy(bytes.data(), bytes.size()), PK_OM_EXTRACT, "fuzz.bin", settings);
  if (size > 0 && (data[0] & 4) != 0) {
    const std::size_t listed = ListWide(handle, target);
    CloseArchive(handle);
    return listed;
  }
  std::vector<char> name(target.begin(), target.end());
  name.push_back('\0');
  std::size_t listed = 0;
  std::size_t extracted = 0;
  std::unique_ptr<TInspector> inspector;
  TEntryFacts facts;
  if (size > 0 && (data[0] & 8) != 0) {
    inspector = std::make_unique<TInspector>(handle);
    inspector->Dump();
  }
  tHeaderData header{};
  while (ReadHeader(handle, &header) == 0) {
    ++listed;
    if (inspector) {
      inspector->Current(facts);
      inspector->WriteCurrent([](const std::uint8_t *, std::size_t) { return true; });
    }
    char empty[1] = "";
    ProcessFile(handle, PK_TEST, nullptr, empty);
    // The whole size, not the record's low 32 bits: a crafted entry can be
    // many GiB.
    const TSieFile *entry = static_cast<TQuarn *>(handle)->Current();
    if (extracted < 16 && entry != nullptr && entry->Size <= 0x40000 && listed % 3 == 1) {
      ProcessFile(handle, PK_EXTRACT, nullptr, name.data());
      ++extracted;
    }
  }
  CloseArchive(handle);
  return listed;
}

}  // namespace quarn::fuzzing

#endif
