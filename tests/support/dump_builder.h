// Builds flash dumps in memory, field by field, for the tests, the benchmarks
// and the sample generator. A test reads like the dump it makes:
//
//   DumpBuilder dump;                          // 32 MiB of 0xFF, "SIEMENS" at 544
//   dump.Name(0x1000, "FFS");                  // a NUL-terminated name
//   dump.BlockTable(0x2000, {{0xA0100000, 0x10000}, {0xA0110000, 0x10000}});
//   dump.Descriptor(0x100, {.NameAddr = 0xA0001000, .NumBlocks = 2,
//                           .BlockTableAddr = 0xA0002000});
//   dump.Save(path);
#ifndef QUARN_TESTS_DUMP_BUILDER_H
#define QUARN_TESTS_DUMP_BUILDER_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "flash/dump_format.h"

namespace quarn::testing {

constexpr std::uint32_t kFlashBase = FlashBase;
constexpr std::uint32_t kFullDumpSize = kDumpSize;
using quarn::kSignatureOffset;

// Phone address of an image offset.
constexpr std::uint32_t At(std::uint32_t offset) { return kFlashBase + offset; }

// One 44-byte partition record; fields that are not examined keep a filler.
struct DescriptorFields {
  std::uint32_t NameAddr = 0;          // +0
  std::uint32_t NumBlocks = 0;         // +20
  std::uint32_t BlockTableAddr = 0;    // +24
  std::uint32_t RamAddr = 0xA8000000;  // +32, must lie in 0xA8000000..0xA9FFFFFF
  std::uint8_t Filler = 0;             // bytes 4..19, 28..31, 36..43
};

// One 8-byte block table entry.
struct BlockRef {
  std::uint32_t Addr;  // phone address of the block
  std::uint32_t Size;  // multiple of 4096, at most 0xFFF000
};

class DumpBuilder {
 public:
  // A dump of `size` bytes filled with `fill` (erased flash reads 0xFF), with
  // the signature when `signature` is set and the dump is long enough.
  explicit DumpBuilder(std::uint32_t size = kFullDumpSize, std::uint8_t fill = 0xFF,
                       bool signature = true)
      : bytes_(size, fill) {
    if (signature && size >= kSignatureOffset + sizeof kSignature)
      Bytes(kSignatureOffset, kSignature, sizeof kSignature);
  }

  std::vector<std::uint8_t> &Data() { return bytes_; }
  const std::vector<std::uint8_t> &Data() const { return bytes_; }
  std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }

  DumpBuilder &Bytes(std::uint32_t offset, const void *data, std::size_t length) {
    Check(offset, length);
    std::memcpy(bytes_.data() + offset, data, length);
    return *this;
  }
  DumpBuilder &Fill(std::uint32_t offset, std::size_t length, std::uint8_t value) {
    Check(offset, length);
    std::memset(bytes_.data() + offset, value, length);
    return *this;
  }
  DumpBuilder &U8(std::uint32_t offset, std::uint8_t value) { return Bytes(offset, &value, 1); }
  DumpBuilder &U16(std::uint32_t offset, std::uint16_t value) {
    const std::uint8_t le[2] = {static_cast<std::uint8_t>(value),
                                static_cast<std::uint8_t>(value >> 8)};
    return Bytes(offset, le, 2);
  }
  DumpBuilder &U32(std::uint32_t offset, std::uint32_t value) {
    const std::uint8_t le[4] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    return Bytes(offset, le, 4);
  }

  // A name followed by its NUL.
  DumpBuilder &Name(std::uint32_t offset, const std::string &name) {
    Bytes(offset, name.data(), name.size());
    return U8(offset + static_cast<std::uint32_t>(name.size()), 0);
  }

  DumpBuilder &Descriptor(std::uint32_t offset, const DescriptorFields &d) {
    Fill(offset, 44, d.Filler);
    U32(offset + 0, d.NameAddr);         // NameAddr
    U32(offset + 20, d.NumBlocks);       // NumBlocks
    U32(offset + 24, d.BlockTableAddr);  // BlockTableAddr
    U32(offset + 32, d.RamAddr);         // RamAddr
    return *this;
  }

  DumpBuilder &BlockTable(std::uint32_t offset, std::initializer_list<BlockRef> blocks) {
    return BlockTable(offset, std::vector<BlockRef>(blocks));
  }
  DumpBuilder &BlockTable(std::uint32_t offset, const std::vector<BlockRef> &blocks) {
    for (const BlockRef &b : blocks) {
      U32(offset, b.Addr);      // Addr
      U32(offset + 4, b.Size);  // Size
      offset += 8;
    }
    return *this;
  }

  // A whole disk in one call: its name at nameOffset, a table of `blocks` at
  // tableOffset and its record at descriptorOffset. Each block's bytes are
  // filled with `pattern` plus the block's index, so content order shows.
  DumpBuilder &Disk(std::uint32_t descriptorOffset, const std::string &name,
                    std::uint32_t nameOffset, std::uint32_t tableOffset,
                    const std::vector<BlockRef> &blocks, bool fillBlocks = true,
                    std::uint8_t pattern = 0x10) {
    Name(nameOffset, name);
    BlockTable(tableOffset, blocks);
    Descriptor(descriptorOffset, {.NameAddr = At(nameOffset),
                                  .NumBlocks = static_cast<std::uint32_t>(blocks.size()),
                                  .BlockTableAddr = At(tableOffset)});
    if (fillBlocks) {
      std::uint8_t value = pattern;
      for (const BlockRef &b : blocks) {
        const std::uint32_t offset = b.Addr & 0x1FFFFFF;
        if (offset < Size()) Fill(offset, std::min<std::size_t>(b.Size, Size() - offset), value);
        ++value;
      }
    }
    return *this;
  }

  void Save(const std::string &path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes_.data()),
              static_cast<std::streamsize>(bytes_.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
  }

 private:
  void Check(std::uint32_t offset, std::size_t length) const {
    if (offset > bytes_.size() || length > bytes_.size() - offset)
      throw std::out_of_range("DumpBuilder: write past the dump's end");
  }

  std::vector<std::uint8_t> bytes_;
};

// A small, complete dump used by many tests and by the sample generator:
// three disks at 0x100, each with blocks of 64 KiB.
//   FFS:    blocks 0xA0100000, 0xA0110000 (2 blocks)
//   EELITE: block 0xA0200000 (1 block)
//   EEFULL: blocks 0xA0300000, 0xA0320000, 0xA0310000 (3 blocks, out of order)
inline DumpBuilder ThreeDiskDump() {
  DumpBuilder dump;
  dump.Disk(0x100, "FFS", 0x1000, 0x2000, {{At(0x100000), 0x10000}, {At(0x110000), 0x10000}}, true,
            0x10);
  dump.Disk(0x100 + 44, "EELITE", 0x1010, 0x2100, {{At(0x200000), 0x10000}}, true, 0x20);
  dump.Disk(0x100 + 88, "EEFULL", 0x1020, 0x2200,
            {{At(0x300000), 0x10000}, {At(0x320000), 0x10000}, {At(0x310000), 0x10000}}, true,
            0x30);
  return dump;
}

}  // namespace quarn::testing

#endif
