// Lays out a disk's flash file system inside a DumpBuilder, for the tests,
// the benchmarks and the sample generator.
//
// A block holds chunk data from its first byte upward and 16-byte chunk
// descriptors from its end downward; a descriptor whose first byte is 0xFF
// ends the table. Every entry is stored as parts, each an even-id header
// chunk (a 16-byte part header and the name) and the next odd-id chunk with
// the part's content:
//
//   FlashBlock block(dump, 0x100000, 0x10000);      // erased block at that offset
//   block.Part({.Id = 2, .ParentId = 2, .Attr = 0x10});
//   block.Part({.Id = 4, .ParentId = 2, .Name = "a.txt"}, Bytes("hello"));
//   block.DeadSlot();                                  // a descriptor passed over
//
//   FlashFs fs(dump, {{At(0x100000), 0x10000}, {At(0x110000), 0x10000}});
//   const std::uint16_t root = fs.Root();
//   fs.File(root, "log.txt", content, 1000);           // parts of 1000 bytes over the blocks
#ifndef QUARN_TESTS_FFS_BUILDER_H
#define QUARN_TESTS_FFS_BUILDER_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "dump_builder.h"

namespace quarn::testing {

constexpr std::uint32_t kLiveMarker = 0xFFFFFFC0;
// What deleting writes over the marker of a file's descriptors.
constexpr std::uint32_t kDeadMarker = 0;
constexpr std::uint16_t kNoPartId = 0xFFFF;
constexpr std::uint16_t kDirAttr = 0x10;
constexpr std::uint16_t kFileAttr = 0x20;
constexpr std::uint16_t kSampleDate = (44 << 9) | (6 << 5) | 15;   // 2024-06-15
constexpr std::uint16_t kSampleTime = (10 << 11) | (30 << 5) | 6;  // 10:30:12

// The 16-byte part header and the name that follows it.
struct PartFields {
  std::uint16_t Id = 0;
  std::uint16_t ParentId = 0;
  std::uint16_t Time = kSampleTime;
  std::uint16_t Date = kSampleDate;
  std::uint16_t Attr = kFileAttr;
  std::uint16_t PrevId = kNoPartId;
  std::uint16_t NextId = kNoPartId;
  std::string Name{};     // raw bytes; a leading "\x1F" marks UTF-8
  int DataId = -1;        // -1: Id + 1
  bool Terminate = true;  // write the NUL after the name
};

inline std::vector<std::uint8_t> Bytes(const std::string &text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

// The header chunk's data for a part.
inline std::vector<std::uint8_t> PartHeaderBytes(const PartFields &p) {
  const auto dataId = static_cast<std::uint16_t>(p.DataId < 0 ? p.Id + 1 : p.DataId);
  const std::uint16_t fields[8] = {p.Id,   p.ParentId, p.Time,   p.Date,
                                   dataId, p.Attr,     p.PrevId, p.NextId};
  std::vector<std::uint8_t> bytes;
  for (const std::uint16_t f : fields) {
    bytes.push_back(static_cast<std::uint8_t>(f));
    bytes.push_back(static_cast<std::uint8_t>(f >> 8));
  }
  bytes.insert(bytes.end(), p.Name.begin(), p.Name.end());
  if (p.Terminate) bytes.push_back(0);
  return bytes;
}

// One erased flash block of a disk.
class FlashBlock {
 public:
  FlashBlock(DumpBuilder &dump, std::uint32_t offset, std::uint32_t size, bool erase = true)
      : dump_(&dump), offset_(offset), size_(size), slot_(size - 16) {
    if (erase) dump.Fill(offset, size, 0xFF);
  }

  std::uint32_t Offset() const { return offset_; }
  std::uint32_t Address() const { return At(offset_); }
  std::uint32_t Size() const { return size_; }
  // Image offset of the next descriptor slot.
  std::uint32_t NextSlot() const { return offset_ + slot_; }
  // Bytes still free between the data and the descriptors.
  std::uint32_t FreeBytes() const { return slot_ > dataEnd_ ? slot_ - dataEnd_ : 0; }
  bool Fits(std::size_t dataBytes, int slots = 1) const {
    return FreeBytes() >= dataBytes + 16u * static_cast<std::uint32_t>(slots) + 16u;
  }

  // A raw descriptor in the next slot.
  FlashBlock &Slot(std::uint32_t marker, std::uint32_t id, std::uint32_t size,
                   std::uint32_t dataOffset) {
    if (slot_ < 16 || slot_ < dataEnd_) throw std::length_error("FlashBlock: block full");
    dump_->U32(offset_ + slot_, marker)
        .U32(offset_ + slot_ + 4, id)
        .U32(offset_ + slot_ + 8, size)
        .U32(offset_ + slot_ + 12, dataOffset);
    slot_ -= 16;
    return *this;
  }
  // A descriptor that is passed over (marker 0).
  FlashBlock &DeadSlot(std::uint32_t id = 0, std::uint32_t size = 0) {
    return Slot(0, id, size, 0);
  }

  // Places data in the block and returns its offset from the block's start.
  std::uint32_t Data(const std::vector<std::uint8_t> &data) {
    const std::uint32_t at = dataEnd_;
    if (!data.empty()) dump_->Bytes(offset_ + at, data.data(), data.size());
    dataEnd_ += static_cast<std::uint32_t>(data.size());
    dataEnd_ = (dataEnd_ + 3) & ~3u;
    return at;
  }

  // A chunk, live unless another marker is given: its data and its
  // descriptor. Returns the data offset.
  std::uint32_t Chunk(std::uint32_t id, const std::vector<std::uint8_t> &data,
                      std::uint32_t marker = kLiveMarker) {
    const std::uint32_t at = Data(data);
    Slot(marker, id, static_cast<std::uint32_t>(data.size()), at);
    return at;
  }

  // A part: the header chunk (id p.Id) and its data chunk (id p.Id + 1);
  // with kDeadMarker, a part of a deleted file.
  FlashBlock &Part(const PartFields &p, const std::vector<std::uint8_t> &content = {},
                   std::uint32_t marker = kLiveMarker) {
    Chunk(p.Id, PartHeaderBytes(p), marker);
    Chunk(p.DataId < 0 ? p.Id + 1u : static_cast<std::uint32_t>(p.DataId), content, marker);
    return *this;
  }

 private:
  DumpBuilder *dump_;
  std::uint32_t offset_;
  std::uint32_t size_;
  std::uint32_t slot_;         // offset of the next descriptor in the block
  std::uint32_t dataEnd_ = 0;  // offset of the first free data byte
};

// A disk's file system over several blocks: entries are given ids in order
// and their parts go to the first block with room, in block order from the
// block the last part went to, so a long file spreads over blocks.
class FlashFs {
 public:
  FlashFs(DumpBuilder &dump, const std::vector<BlockRef> &blocks, std::uint16_t firstId = 2) {
    for (const BlockRef &b : blocks) blocks_.emplace_back(dump, b.Addr & 0x1FFFFFF, b.Size);
    nextId_ = firstId;
  }

  FlashBlock &Block(std::size_t index) { return blocks_.at(index); }
  std::size_t BlockCount() const { return blocks_.size(); }

  // A fresh even part id.
  std::uint16_t NewId() {
    if (nextId_ >= 0xFFFE) throw std::length_error("FlashFs: part ids exhausted");
    const std::uint16_t id = nextId_;
    nextId_ = static_cast<std::uint16_t>(nextId_ + 2);
    return id;
  }

  // The root directory: a part that is its own parent.
  std::uint16_t Root(const std::string &name = "", std::uint16_t attr = kDirAttr) {
    const std::uint16_t id = NewId();
    Place({.Id = id, .ParentId = id, .Attr = attr, .Name = name}, {});
    return id;
  }

  std::uint16_t Dir(std::uint16_t parent, const std::string &name) {
    const std::uint16_t id = NewId();
    Place({.Id = id, .ParentId = parent, .Attr = kDirAttr, .Name = name}, {});
    return id;
  }

  // A file whose content is split into parts of at most `partSize` bytes
  // (0: one part), chained by their ids. Returns the first part's id.
  std::uint16_t File(std::uint16_t parent, const std::string &name,
                     const std::vector<std::uint8_t> &content, std::size_t partSize = 0,
                     std::uint16_t attr = kFileAttr, std::uint16_t date = kSampleDate,
                     std::uint16_t time = kSampleTime) {
    if (partSize == 0) partSize = content.empty() ? 1 : content.size();
    const std::size_t parts = content.empty() ? 1 : (content.size() + partSize - 1) / partSize;
    std::vector<std::uint16_t> ids;
    for (std::size_t i = 0; i < parts; ++i) ids.push_back(NewId());
    for (std::size_t i = 0; i < parts; ++i) {
      const std::size_t from = i * partSize;
      const std::size_t to = std::min(content.size(), from + partSize);
      const std::vector<std::uint8_t> piece(content.begin() + static_cast<std::ptrdiff_t>(from),
                                            content.begin() + static_cast<std::ptrdiff_t>(to));
      Place({.Id = ids[i],
             .ParentId = parent,
             .Time = time,
             .Date = date,
             .Attr = attr,
             .PrevId = i == 0 ? kNoPartId : ids[i - 1],
             .NextId = i + 1 < parts ? ids[i + 1] : kNoPartId,
             .Name = name},
            piece);
    }
    return ids.front();
  }

  // A part with a given header, placed where it fits.
  void Place(const PartFields &p, const std::vector<std::uint8_t> &content) {
    const std::size_t need = PartHeaderBytes(p).size() + 3 + content.size() + 3;
    for (std::size_t tried = 0; tried < blocks_.size(); ++tried) {
      FlashBlock &block = blocks_[current_];
      if (block.Fits(need, 2)) {
        block.Part(p, content);
        return;
      }
      current_ = (current_ + 1) % blocks_.size();
    }
    throw std::length_error("FlashFs: no block has room for a part");
  }

  // Moves placement to the next block, so the next part lands there.
  void NextBlock() { current_ = (current_ + 1) % blocks_.size(); }

 private:
  std::vector<FlashBlock> blocks_;
  std::size_t current_ = 0;
  std::uint16_t nextId_ = 2;
};

// A small dump with a file system: a root, folders, files chained over two
// blocks, an EEPROM disk beside it; 0x30000 bytes in all.
inline DumpBuilder SmallFsDump() {
  DumpBuilder dump(0x30000, 0xFF, false);
  const std::vector<BlockRef> blocks = {{At(0x10000), 0x4000}, {At(0x14000), 0x4000}};
  dump.Disk(0x100, "FFS", 0x1000, 0x1100, blocks, false);
  dump.Disk(0x100 + 44, "EELITE", 0x1010, 0x1180, {{At(0x20000), 0x2000}}, false);
  FlashFs fs(dump, blocks);
  const std::uint16_t root = fs.Root();
  const std::uint16_t dir = fs.Dir(root, "dir");
  fs.File(dir, "a.txt", std::vector<std::uint8_t>(3000, 'a'), 700);
  fs.File(root,
          "\x1F"
          "caf\xC3\xA9",
          std::vector<std::uint8_t>(900, 'c'), 300);
  fs.NextBlock();
  fs.File(dir, "b.bin", std::vector<std::uint8_t>(2000, 'b'), 500);
  FlashBlock eeprom(dump, 0x20000, 0x2000);
  for (std::uint32_t id = 1; id < 12; ++id) eeprom.Chunk(id, std::vector<std::uint8_t>(id * 7, 1));
  return dump;
}

}  // namespace quarn::testing

#endif
