// Lays out a described sample in a 32 MiB dump, and keeps the tree of files
// that a reader of the dump should find in it.
//
// The dump: "SIEMENS" at byte 544; the partition records at 0x400, the disk
// names at 0x3000 and the block tables from 0x4000, all inside the first
// 128 KiB; then the firmware's pseudo-random bytes, if described; then the
// disks, each a run of adjacent blocks aligned to its block size (or at its
// `at=`), listed in address order or, with `shuffle`, in a scrambled order.
// Every disk's file system is written as the phone writes it: part after part
// into the current block until it is full, then into the next one in table
// order.
#ifndef QUARN_TOOLS_SAMPLE_LAYOUT_H
#define QUARN_TOOLS_SAMPLE_LAYOUT_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "description.h"
#include "dump_builder.h"
#include "ffs_builder.h"

namespace quarn::sample {

// One file or folder a reader should list, with the content it should give.
struct TreeEntry {
  std::string Path;  // UTF-8, '/' between names, from the dump's top: "FFS/Misc/a.txt"
  bool Dir = false;
  std::vector<std::uint8_t> Bytes;
  bool Stamped = false;  // Date and Time are the entry's own
  std::uint16_t Date = 0;
  std::uint16_t Time = 0;
};

struct DiskSummary {
  std::string Name;
  std::uint32_t Offset = 0;
  std::uint32_t Blocks = 0;
  std::uint32_t BlockSize = 0;
  std::size_t Files = 0;
  std::size_t Dirs = 0;
  std::size_t EepromBlocks = 0;
  std::size_t LostChunks = 0;
  std::size_t DeadSlots = 0;
  std::uint64_t ContentBytes = 0;
};

struct Sample {
  testing::DumpBuilder Dump;
  std::vector<TreeEntry> Tree;
  std::vector<DiskSummary> Disks;
};

constexpr std::uint32_t kRecordsOffset = 0x400;
constexpr std::uint32_t kNamesOffset = 0x3000;
constexpr std::uint32_t kTablesOffset = 0x4000;
constexpr std::uint32_t kSystemEnd = 0x20000;
// A parent id no part has (ids are handed out below 0xFFFE): orphans name it.
constexpr std::uint16_t kMissingParent = 0xFFFE;

// splitmix64: small, fast and the same everywhere.
class Prng {
 public:
  explicit Prng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint64_t Pick(const Range &r) { return r.Low + Next() % (r.High - r.Low + 1); }
  void Fill(std::uint8_t *bytes, std::size_t size) {
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
      const std::uint64_t v = Next();
      for (int k = 0; k < 8; ++k) bytes[i + k] = static_cast<std::uint8_t>(v >> (8 * k));
    }
    const std::uint64_t v = Next();
    for (int k = 0; i < size; ++i, ++k) bytes[i] = static_cast<std::uint8_t>(v >> (8 * k));
  }

 private:
  std::uint64_t state_;
};

// A seed of its own for every named thing, so that adding a file leaves the
// content of the others as it was.
inline std::uint64_t SeedFor(std::uint64_t seed, const std::string &key) {
  std::uint64_t h = 0xCBF29CE484222325ull;
  for (const char c : key) h = (h ^ static_cast<std::uint8_t>(c)) * 0x100000001B3ull;
  return h ^ (seed * 0x9E3779B97F4A7C15ull);
}

namespace detail {

inline std::uint32_t Align4(std::size_t n) {
  return static_cast<std::uint32_t>((n + 3) & ~std::size_t{3});
}

inline std::string Joined(const std::vector<std::string> &parts) {
  std::string path;
  for (const std::string &p : parts) {
    if (!path.empty()) path += '/';
    path += p;
  }
  return path;
}

inline std::string Extension(const std::string &name) {
  const std::size_t dot = name.rfind('.');
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  for (char &c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext;
}

// Content: readable text, or pseudo-random bytes behind the signature that
// files of the name's type begin with.
inline std::vector<std::uint8_t> Content(Prng &prng, std::size_t size, bool text,
                                         const std::string &name) {
  std::vector<std::uint8_t> bytes(size);
  if (text) {
    static const char *const kWords[] = {
        "phone", "call",  "flash", "block", "chunk", "memo",   "meeting", "at",   "noon",
        "the",   "a",     "and",   "to",    "call",  "back",   "battery", "low",  "signal",
        "new",   "photo", "ring",  "tone",  "alarm", "friday", "bring",   "list", "of"};
    std::size_t i = 0, column = 0;
    while (i < size) {
      std::string word = kWords[prng.Next() % (sizeof kWords / sizeof *kWords)];
      word += column + word.size() > 70 ? "\n" : " ";
      column = word.back() == '\n' ? 0 : column + word.size();
      for (std::size_t k = 0; k < word.size() && i < size; ++k) bytes[i++] = word[k];
    }
    return bytes;
  }
  prng.Fill(bytes.data(), size);
  static const std::map<std::string, std::string> kMagic = {
      {"jpg", std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11)},
      {"gif", "GIF89a"},
      {"png", "\x89PNG\r\n\x1A\n"},
      {"mid", "MThd"},
      {"mp3", "ID3\x03"},
      {"amr", "#!AMR\n"},
      {"3gp", std::string("\x00\x00\x00\x18"
                          "ftyp3gp4",
                          12)},
      {"jar", "PK\x03\x04"},
      {"zip", "PK\x03\x04"}};
  const auto magic = kMagic.find(Extension(name));
  if (magic != kMagic.end())
    std::memcpy(bytes.data(), magic->second.data(), std::min(size, magic->second.size()));
  return bytes;
}

// The .bid text that goes with an EEPROM block.
inline std::string BlockDescription(int number, int version) {
  return "EEPROM block additional file.\r\nPhone HWid:\r\n 5000 \r\nEEPROM BlockId:\r\n " +
         std::to_string(number) + " \r\nEEPROM BlockVer:\r\n " + std::to_string(version) + " \r\n";
}

// One disk's file system being written.
class DiskWriter {
 public:
  DiskWriter(Sample &sample, const Description &description, const DiskDescription &disk,
             const std::vector<testing::BlockRef> &table)
      : sample_(sample),
        description_(description),
        disk_(disk),
        fs_(sample.Dump, table),
        summary_(sample.Disks.back()) {}

  void Write() {
    Reserve();
    if (!disk_.NoRoot) {
      const std::uint16_t root = NewId(disk_.Line);
      Place({.Id = root, .ParentId = root, .Attr = testing::kDirAttr}, {}, disk_.Line);
      dirs_[{}] = root;
      AddTree(disk_.Name, true);
    }
    for (const Statement &s : disk_.Statements) {
      try {
        Write(s);
      } catch (const std::length_error &e) {
        Fail(s.Line, disk_.Name + ": " + e.what());
      }
    }
    CheckLeftovers();
  }

 private:
  struct RawChunk {
    std::uint32_t Id;
    std::vector<std::uint8_t> Data;
    int Line;
  };

  // Ids named by eeprom and lost statements are kept out of the file system.
  void Reserve() {
    std::map<std::uint32_t, int> lines;
    for (const Statement &s : disk_.Statements) {
      if (s.What != Kind::Eeprom && s.What != Kind::Lost) continue;
      for (std::uint64_t id = s.Id.Low; id <= s.Id.High; ++id) {
        const auto [it, fresh] = lines.emplace(static_cast<std::uint32_t>(id), s.Line);
        if (!fresh)
          Fail(s.Line, "chunk id " + std::to_string(id) + " is taken already (line " +
                           std::to_string(it->second) + ")");
        reserved_.insert(static_cast<std::uint32_t>(id));
      }
    }
  }

  std::uint16_t NewId(int line) {
    for (;;) {
      std::uint16_t id;
      try {
        id = fs_.NewId();
      } catch (const std::length_error &) {
        Fail(line, disk_.Name + " has run out of part ids (at most 32767 parts a disk)");
      }
      if (!reserved_.count(id) && !reserved_.count(id + 1u)) return id;
    }
  }

  // The block with room for `bytes` of data and `slots` descriptors, from the
  // current block on in table order.
  testing::FlashBlock &Room(std::size_t bytes, int slots, int line) {
    for (std::size_t tried = 0; tried < fs_.BlockCount(); ++tried) {
      testing::FlashBlock &block = fs_.Block(cursor_);
      if (block.Fits(bytes, slots)) return block;
      cursor_ = (cursor_ + 1) % fs_.BlockCount();
    }
    const bool never = bytes + 16u * static_cast<unsigned>(slots) + 16 > disk_.BlockSize;
    Fail(line, never
                   ? "a piece of " + std::to_string(bytes) + " bytes does not fit in a block of " +
                         std::to_string(disk_.BlockSize) + " bytes; give a smaller part="
                   : disk_.Name + " is full; give it more blocks");
  }

  // A part where it fits; returns the image offset of its header's descriptor.
  std::uint32_t Place(const testing::PartFields &p, const std::vector<std::uint8_t> &content,
                      int line) {
    const std::vector<std::uint8_t> header = testing::PartHeaderBytes(p);
    testing::FlashBlock &block = Room(Align4(header.size()) + Align4(content.size()), 2, line);
    const std::uint32_t slot = block.NextSlot();
    block.Part(p, content);
    return slot;
  }

  void AddTree(const std::string &path, bool dir, std::vector<std::uint8_t> bytes = {},
               const Statement *stamp = nullptr) {
    if (!paths_.insert(path).second)
      Fail(stamp ? stamp->Line : disk_.Line, path + " would be listed twice");
    TreeEntry entry{.Path = path, .Dir = dir, .Bytes = std::move(bytes)};
    if (stamp) entry.Stamped = true, entry.Date = stamp->Date, entry.Time = stamp->Time;
    sample_.Tree.push_back(std::move(entry));
  }

  // The name as stored: UTF-8 behind 0x1F when it is not plain ASCII.
  static std::string Stored(const std::string &name, bool utf8) {
    const bool ascii = std::all_of(name.begin(), name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii && !utf8 ? name : "\x1F" + name;
  }

  // The name a reader lists: four question marks would read as a wildcard.
  static std::string Listed(const std::string &name) {
    return name == "????" ? "%3F%3F%3F%3F" : name;
  }

  std::string TreePath(const std::vector<std::string> &path) const {
    std::string out = disk_.Name;
    for (const std::string &name : path) {
      out += '/';
      out += Listed(name);
    }
    return out;
  }

  // The folder of a path, made with default values where not described yet.
  std::uint16_t Parent(const std::vector<std::string> &path, int line) {
    std::vector<std::string> prefix;
    std::uint16_t id = dirs_.at({});
    for (std::size_t k = 0; k + 1 < path.size(); ++k) {
      prefix.push_back(path[k]);
      const auto found = dirs_.find(prefix);
      if (found != dirs_.end()) {
        id = found->second;
        continue;
      }
      const std::uint16_t dir = NewId(line);
      Place({.Id = dir, .ParentId = id, .Attr = testing::kDirAttr, .Name = Stored(path[k], false)},
            {}, line);
      dirs_[prefix] = dir;
      AddTree(TreePath(prefix), true);
      ++summary_.Dirs;
      id = dir;
    }
    return id;
  }

  // A chain of parts; returns the descriptor offsets of the header chunks.
  std::vector<std::uint32_t> Chain(std::uint16_t parent, const std::string &name,
                                   const std::vector<std::uint8_t> &content, const Statement &s) {
    const std::size_t partSize = s.Part ? s.Part : std::max<std::size_t>(content.size(), 1);
    const std::size_t parts = content.empty() ? 1 : (content.size() + partSize - 1) / partSize;
    std::vector<std::uint16_t> ids;
    for (std::size_t i = 0; i < parts; ++i) ids.push_back(NewId(s.Line));
    std::vector<std::uint32_t> slots;
    for (std::size_t i = 0; i < parts; ++i) {
      const std::size_t from = i * partSize, to = std::min(content.size(), from + partSize);
      const std::vector<std::uint8_t> piece(content.begin() + static_cast<std::ptrdiff_t>(from),
                                            content.begin() + static_cast<std::ptrdiff_t>(to));
      const testing::PartFields p{.Id = ids[i],
                                .ParentId = parent,
                                .Time = s.Time,
                                .Date = s.Date,
                                .Attr = s.Attr,
                                .PrevId = i == 0 ? testing::kNoPartId : ids[i - 1],
                                .NextId = i + 1 < parts ? ids[i + 1] : testing::kNoPartId,
                                .Name = name};
      slots.push_back(Place(p, piece, s.Line));
      if (s.What == Kind::Orphan) {
        Lost(p.Id, testing::PartHeaderBytes(p));
        Lost(p.Id + 1u, piece);
      }
      if (s.Spread) cursor_ = (cursor_ + 1) % fs_.BlockCount();
    }
    return slots;
  }

  std::vector<std::uint8_t> ContentOf(const Statement &s, const std::string &key) {
    Prng pick(SeedFor(description_.Seed,
                      disk_.Name + ":" + std::to_string(s.Line) + ":" + std::to_string(s.Index)));
    const std::size_t size = pick.Pick(s.Size);
    Prng prng(SeedFor(description_.Seed, disk_.Name + ":" + key));
    return Content(prng, size, s.Text, s.Path.back());
  }

  // A chunk a reader lists under LostBlocks.
  void Lost(std::uint32_t id, const std::vector<std::uint8_t> &data) {
    if (!lostDir_) {
      lostDir_ = true;
      if (disk_.NoRoot) AddTree(disk_.Name, true);
      AddTree(disk_.Name + "/LostBlocks", true);
    }
    AddTree(disk_.Name + "/LostBlocks/block " + std::to_string(id) + ".bin", false, data);
    ++summary_.LostChunks;
  }

  void Write(const Statement &s) {
    switch (s.What) {
      case Kind::Dir: {
        const std::uint16_t parent = Parent(s.Path, s.Line);
        const std::uint16_t id = NewId(s.Line);
        Place({.Id = id,
               .ParentId = parent,
               .Time = s.Time,
               .Date = s.Date,
               .Attr = s.Attr,
               .Name = Stored(s.Path.back(), s.Utf8)},
              {}, s.Line);
        dirs_[s.Path] = id;
        AddTree(TreePath(s.Path), true, {}, &s);
        ++summary_.Dirs;
        return;
      }
      case Kind::File:
      case Kind::Deleted: {
        const std::uint16_t parent = Parent(s.Path, s.Line);
        std::vector<std::uint8_t> content = ContentOf(s, Joined(s.Path));
        const std::vector<std::uint32_t> slots =
            Chain(parent, Stored(s.Path.back(), s.Utf8), content, s);
        if (s.What == Kind::Deleted) {
          // Deleting marks the descriptors of both chunks of every part with
          // 0; the data stays in the block until it is erased.
          for (const std::uint32_t slot : slots) sample_.Dump.U32(slot, 0).U32(slot - 16, 0);
          summary_.DeadSlots += 2 * slots.size();
          return;
        }
        summary_.ContentBytes += content.size();
        ++summary_.Files;
        AddTree(TreePath(s.Path), false, std::move(content), &s);
        return;
      }
      case Kind::Orphan: {
        const std::vector<std::uint8_t> content = ContentOf(s, "orphan:" + s.Path.back());
        Chain(kMissingParent, Stored(s.Path.back(), s.Utf8), content, s);
        return;
      }
      case Kind::Dead: {
        testing::FlashBlock &block = Room(0, static_cast<int>(s.Count), s.Line);
        for (std::uint32_t i = 0; i < s.Count; ++i) block.DeadSlot();
        summary_.DeadSlots += s.Count;
        return;
      }
      case Kind::Eeprom:
      case Kind::Lost:
        for (std::uint64_t id = s.Id.Low; id <= s.Id.High; ++id)
          Raw(s, static_cast<std::uint32_t>(id));
        return;
    }
  }

  // A chunk outside the file system: an EEPROM block, or a lost chunk.
  void Raw(const Statement &s, std::uint32_t id) {
    Prng pick(SeedFor(description_.Seed, disk_.Name + ":chunk:" + std::to_string(id)));
    const std::size_t size = pick.Pick(s.Size);
    const auto version = static_cast<std::uint8_t>(pick.Pick(s.Ver));
    std::vector<std::uint8_t> payload(size);
    pick.Fill(payload.data(), size);
    std::vector<std::uint8_t> chunk = payload;
    if (disk_.IsEepromLite()) chunk.push_back(version);              // the version is the last byte
    if (disk_.IsEepromFull()) chunk.insert(chunk.begin(), version);  // or the first
    testing::FlashBlock &block = Room(Align4(chunk.size()), 1, s.Line);
    block.Chunk(id, chunk);
    raw_.push_back({id, chunk, s.Line});
    if (s.What == Kind::Lost) {
      Lost(id, chunk);
      return;
    }
    const int number = static_cast<int>(id) + (disk_.IsEepromFull() ? 5000 : 0);
    const std::string name = disk_.Name + "/eeprom 1_" + std::to_string(number);
    if (!eepromRoot_ && disk_.NoRoot) AddTree(disk_.Name, true);
    eepromRoot_ = true;
    AddTree(name + ".bin", false, payload);
    const std::string bid = BlockDescription(number, version);
    AddTree(name + ".bid", false, std::vector<std::uint8_t>(bid.begin(), bid.end()));
    ++summary_.EepromBlocks;
  }

  // Two leftover chunks K and K + 1 whose first bytes read as a part header
  // would pair into a part and vanish from the listing.
  void CheckLeftovers() {
    std::map<std::uint32_t, const RawChunk *> byId;
    for (const RawChunk &c : raw_) byId[c.Id] = &c;
    for (const auto &[id, chunk] : byId) {
      if (id % 2 != 0 || !byId.count(id + 1) || chunk->Data.size() < 16) continue;
      const std::vector<std::uint8_t> &d = chunk->Data;
      if ((d[0] | d[1] << 8) == static_cast<int>(id) &&
          (d[8] | d[9] << 8) == static_cast<int>(id + 1))
        Fail(chunk->Line, "chunks " + std::to_string(id) + " and " + std::to_string(id + 1) +
                              " would read as a part; change an id or the seed");
    }
  }

  Sample &sample_;
  const Description &description_;
  const DiskDescription &disk_;
  testing::FlashFs fs_;
  DiskSummary &summary_;
  std::size_t cursor_ = 0;
  std::set<std::uint32_t> reserved_;
  std::map<std::vector<std::string>, std::uint16_t> dirs_;
  std::set<std::string> paths_;
  std::vector<RawChunk> raw_;
  bool lostDir_ = false;
  bool eepromRoot_ = false;
};

}  // namespace detail

// Builds the dump and its tree; throws DescriptionError when the description
// does not fit in a dump.
inline Sample BuildSample(const Description &description) {
  using detail::Fail;
  Sample sample;
  testing::DumpBuilder &dump = sample.Dump;
  const std::uint32_t dumpSize = dump.Size();

  if (description.Firmware > dumpSize - kSystemEnd)
    throw DescriptionError("firmware size=" + std::to_string(description.Firmware) +
                           " does not fit after the first 128 KiB of the dump");
  {
    Prng prng(SeedFor(description.Seed, "firmware"));
    prng.Fill(dump.Data().data() + kSystemEnd, description.Firmware);
  }

  // Blocks: adjacent, aligned to the block size, after the firmware.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> taken = {
      {0, kSystemEnd + description.Firmware}};
  std::uint64_t next = kSystemEnd + description.Firmware;
  std::uint32_t table = kTablesOffset;
  for (std::size_t i = 0; i < description.Disks.size(); ++i) {
    const DiskDescription &disk = description.Disks[i];
    const std::uint64_t bytes = std::uint64_t{disk.Blocks} * disk.BlockSize;
    const std::uint64_t start =
        disk.At ? *disk.At : (next + disk.BlockSize - 1) / disk.BlockSize * disk.BlockSize;
    if (start + bytes > dumpSize)
      Fail(disk.Line, "disk " + disk.Name + " does not fit: " + std::to_string(disk.Blocks) +
                          " blocks of " + std::to_string(disk.BlockSize) + " bytes from " +
                          std::to_string(start) + " run past the dump's end (" +
                          std::to_string(dumpSize) + ")");
    for (const auto &[from, length] : taken) {
      if (bytes && start < std::uint64_t{from} + length && from < start + bytes)
        Fail(disk.Line,
             "disk " + disk.Name + " overlaps the system area, the firmware or a disk before it");
    }
    taken.emplace_back(static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(bytes));
    next = std::max<std::uint64_t>(next, start + bytes);

    std::vector<testing::BlockRef> blocks;
    for (std::uint32_t b = 0; b < disk.Blocks; ++b)
      blocks.push_back(
          {testing::At(static_cast<std::uint32_t>(start) + b * disk.BlockSize), disk.BlockSize});
    if (disk.Shuffle) {
      Prng prng(SeedFor(description.Seed, "shuffle:" + disk.Name));
      for (std::size_t k = blocks.size(); k > 1; --k)
        std::swap(blocks[k - 1], blocks[prng.Next() % k]);
    }
    if (table + 8u * blocks.size() > kSystemEnd)
      Fail(disk.Line, "too many blocks for the block tables");
    dump.Disk(kRecordsOffset + 44 * static_cast<std::uint32_t>(i), disk.Name,
              kNamesOffset + 16 * static_cast<std::uint32_t>(i), table, blocks, false);
    table += 8 * static_cast<std::uint32_t>(blocks.size());

    sample.Disks.push_back({.Name = disk.Name,
                            .Offset = static_cast<std::uint32_t>(start),
                            .Blocks = disk.Blocks,
                            .BlockSize = disk.BlockSize});
    detail::DiskWriter(sample, description, disk, blocks).Write();

    // The raw image: the blocks in table order.
    std::vector<std::uint8_t> image;
    image.reserve(bytes);
    for (const testing::BlockRef &b : blocks) {
      const auto *from = dump.Data().data() + (b.Addr & 0x1FFFFFF);
      image.insert(image.end(), from, from + b.Size);
    }
    sample.Tree.push_back({.Path = disk.Name + ".BIN", .Bytes = std::move(image)});
  }
  return sample;
}

}  // namespace quarn::sample

#endif
