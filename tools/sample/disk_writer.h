// One disk's file system in a sample dump, written part after part as the phone writes it.
#ifndef QUARN_TOOLS_SAMPLE_DISK_WRITER_H
#define QUARN_TOOLS_SAMPLE_DISK_WRITER_H

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "description.h"
#include "dump_builder.h"
#include "ffs_builder.h"
#include "sample.h"

namespace quarn::sample {

// A parent id no part has (ids are handed out below 0xFFFE): orphans name it.
constexpr std::uint16_t kMissingParent = 0xFFFE;

namespace detail {

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

  // What stands at a path of the view of deleted files: a folder made on the
  // way to a rebuilt entry, or a rebuilt folder or file.
  enum class Rebuilt { kWay, kFolder, kFile };

  // What the reader's view of deleted files rebuilds from the dead parts of a
  // deleted file or folder: the entry at its old path below the disk's
  // Deleted folder. A deleted entry in a deleted folder stands in that rebuilt
  // folder, one in a live folder in a folder of that folder's path made on the
  // way, which has no times of its own. EEPROM disks have no such view.
  void ListDeleted(const Statement &s, std::vector<std::uint8_t> bytes = {}) {
    if (disk_.IsEeprom()) return;
    std::string path = disk_.Name + "/Deleted";
    AddDeleted(path, Rebuilt::kWay, s.Line);
    for (std::size_t k = 0; k + 1 < s.Path.size(); ++k)
      AddDeleted(path += "/" + Listed(s.Path[k]), Rebuilt::kWay, s.Line);
    path += "/" + Listed(s.Path.back());
    const bool dir = s.What == Kind::Dir;
    AddDeleted(path, dir ? Rebuilt::kFolder : Rebuilt::kFile, s.Line);
    sample_.Deleted.push_back({.Path = path,
                               .Dir = dir,
                               .Bytes = std::move(bytes),
                               .Stamped = true,
                               .Date = s.Date,
                               .Time = s.Time});
    ++(dir ? summary_.DeletedDirs : summary_.DeletedFiles);
  }

  // Each path of the deleted view once; a folder on the way may pass
  // through a rebuilt folder, but the view has no rule for two entries at one
  // path (a deleted folder where a live one stands, a file deleted twice).
  void AddDeleted(const std::string &path, Rebuilt what, int line) {
    const auto [it, fresh] = deleted_.emplace(path, std::make_pair(what, line));
    if (fresh) {
      if (what == Rebuilt::kWay)
        sample_.Deleted.push_back({.Path = path, .Dir = true, .Bytes = {}});
      return;
    }
    if (what == Rebuilt::kWay && it->second.first != Rebuilt::kFile) return;
    Fail(line, path + " would be listed twice among the deleted files (line " +
                   std::to_string(it->second.second) + ")");
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

  // The content as its parts hold it: at most `part` bytes a part, and one
  // part even when it is empty.
  static std::vector<std::vector<std::uint8_t>> Pieces(const std::vector<std::uint8_t> &content,
                                                       const Statement &s) {
    const std::size_t partSize = s.Part ? s.Part : std::max<std::size_t>(content.size(), 1);
    std::vector<std::vector<std::uint8_t>> pieces;
    for (std::size_t from = 0; from < content.size() || pieces.empty(); from += partSize) {
      const std::size_t to = std::min(content.size(), from + partSize);
      pieces.emplace_back(content.begin() + static_cast<std::ptrdiff_t>(from),
                          content.begin() + static_cast<std::ptrdiff_t>(to));
    }
    return pieces;
  }

  // The part ids of a file of `parts` parts: those its deletion freed, in
  // order, for a file that reuses them, then fresh ones.
  std::vector<std::uint16_t> Ids(std::size_t parts, const Statement &s) {
    std::vector<std::uint16_t> ids;
    if (s.Reuse) {
      const std::vector<std::uint16_t> &freed = freed_.at(s.ReuseOf);
      ids.assign(freed.begin(),
                 freed.begin() + static_cast<std::ptrdiff_t>(std::min(parts, freed.size())));
    }
    while (ids.size() < parts) ids.push_back(NewId(s.Line));
    return ids;
  }

  // A chain of parts; returns the descriptor offsets of the header chunks.
  std::vector<std::uint32_t> Chain(std::uint16_t parent, const std::string &name,
                                   const std::vector<std::vector<std::uint8_t>> &pieces,
                                   const std::vector<std::uint16_t> &ids, const Statement &s) {
    std::vector<std::uint32_t> slots;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      const testing::PartFields p{.Id = ids[i],
                                  .ParentId = parent,
                                  .Time = s.Time,
                                  .Date = s.Date,
                                  .Attr = s.Attr,
                                  .PrevId = i == 0 ? testing::kNoPartId : ids[i - 1],
                                  .NextId = i + 1 < ids.size() ? ids[i + 1] : testing::kNoPartId,
                                  .Name = name};
      slots.push_back(Place(p, pieces[i], s.Line));
      if (s.Spread) cursor_ = (cursor_ + 1) % fs_.BlockCount();
    }
    return slots;
  }

  // Deleting marks the descriptors of both chunks of every part dead (0);
  // the data stays in the block until the block is erased.
  void Kill(const std::vector<std::uint32_t> &slots, bool count = true) {
    for (const std::uint32_t slot : slots) sample_.Dump.U32(slot, 0).U32(slot - 16, 0);
    if (count) summary_.DeadSlots += 2 * slots.size();
  }

  // A file deleted, and then its block erased: written into a block that
  // holds nothing yet, which is erased after and free again for what comes
  // later; nothing of the file remains.
  void WriteErased(std::uint16_t parent, const std::string &name,
                   const std::vector<std::vector<std::uint8_t>> &pieces,
                   const std::vector<std::uint16_t> &ids, const Statement &s) {
    std::size_t bytes = 0;
    for (const std::vector<std::uint8_t> &piece : pieces)
      bytes += Align4(testing::PartHeaderBytes({.Name = name}).size()) + Align4(piece.size());
    const std::size_t slots = 2 * pieces.size();
    if (bytes + 16 * slots + 32 > disk_.BlockSize)
      Fail(s.Line, "an erased file is written in one block, and its " + std::to_string(bytes) +
                       " bytes in " + std::to_string(pieces.size()) +
                       " parts do not fit in a block of " + std::to_string(disk_.BlockSize));
    for (std::size_t tried = 0; tried < fs_.BlockCount(); ++tried) {
      const std::size_t index = (cursor_ + tried) % fs_.BlockCount();
      testing::FlashBlock &block = fs_.Block(index);
      if (block.FreeBytes() + 16 != block.Size()) continue;  // holds something
      const std::size_t cursor = cursor_;
      cursor_ = index;
      Kill(Chain(parent, name, pieces, ids, s), false);
      cursor_ = cursor;
      block = testing::FlashBlock(sample_.Dump, block.Offset(), block.Size());
      return;
    }
    Fail(s.Line, "an erased file needs a block that holds nothing yet, and " + disk_.Name +
                     " has none left; give it more blocks or describe the file earlier");
  }

  std::vector<std::uint8_t> ContentOf(const Statement &s, const std::string &key) {
    Prng pick(SeedFor(description_.Seed,
                      disk_.Name + ":" + std::to_string(s.Line) + ":" + std::to_string(s.Index)));
    const std::size_t size = pick.Pick(s.Size);
    Prng prng(SeedFor(description_.Seed, disk_.Name + ":" + key));
    return Content(prng, size, s.Text, s.Path.back());
  }

  // A disk without a root part still lists a root folder for what a
  // reader finds on it: once.
  void ListRoot() {
    if (!disk_.NoRoot || rootListed_) return;
    rootListed_ = true;
    AddTree(disk_.Name, true);
  }

  // A chunk a reader lists under LostBlocks.
  void Lost(std::uint32_t id, const std::vector<std::uint8_t> &data) {
    if (!lostDir_) {
      lostDir_ = true;
      ListRoot();
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
        const std::uint32_t slot = Place({.Id = id,
                                          .ParentId = parent,
                                          .Time = s.Time,
                                          .Date = s.Date,
                                          .Attr = s.Attr,
                                          .Name = Stored(s.Path.back(), s.Utf8)},
                                         {}, s.Line);
        dirs_[s.Path] = id;  // what is deleted in it names it as its parent
        if (s.Deleted) {
          Kill({slot});
          ListDeleted(s);
          return;
        }
        AddTree(TreePath(s.Path), true, {}, &s);
        ++summary_.Dirs;
        return;
      }
      case Kind::File:
      case Kind::Deleted: {
        const std::uint16_t parent = Parent(s.Path, s.Line);
        const std::string name = Stored(s.Path.back(), s.Utf8);
        std::vector<std::uint8_t> content = ContentOf(s, Joined(s.Path));
        const std::vector<std::vector<std::uint8_t>> pieces = Pieces(content, s);
        const std::vector<std::uint16_t> ids = Ids(pieces.size(), s);
        if (s.Rewritten) {
          // The file as it was before: as large, other bytes, the same parts
          // (the phone writes a file anew under its ids and deletes the old
          // parts). A reader tells them from a deleted file by the live parts
          // of the same ids, name and folder.
          Prng prng(SeedFor(description_.Seed, disk_.Name + ":before:" + Joined(s.Path)));
          const std::vector<std::uint8_t> before =
              Content(prng, content.size(), s.Text, s.Path.back());
          Kill(Chain(parent, name, Pieces(before, s), ids, s));
        }
        if (s.What == Kind::Deleted) {
          freed_[s.Line] = ids;
          if (s.Erased) {
            WriteErased(parent, name, pieces, ids, s);
            return;
          }
          Kill(Chain(parent, name, pieces, ids, s));
          ListDeleted(s, std::move(content));
          return;
        }
        Chain(parent, name, pieces, ids, s);
        summary_.ContentBytes += content.size();
        ++summary_.Files;
        AddTree(TreePath(s.Path), false, std::move(content), &s);
        return;
      }
      case Kind::Orphan: {
        // A reader keeps it, with its name, in the disk's LostFiles.
        std::vector<std::uint8_t> content = ContentOf(s, "orphan:" + s.Path.back());
        const std::vector<std::vector<std::uint8_t>> pieces = Pieces(content, s);
        Chain(kMissingParent, Stored(s.Path.back(), s.Utf8), pieces, Ids(pieces.size(), s), s);
        if (!lostFilesDir_) {
          lostFilesDir_ = true;
          ListRoot();
          AddTree(disk_.Name + "/LostFiles", true);
        }
        summary_.ContentBytes += content.size();
        ++summary_.Files;
        AddTree(disk_.Name + "/LostFiles/" + Listed(s.Path.back()), false, std::move(content), &s);
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
    ListRoot();
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
  std::map<int, std::vector<std::uint16_t>> freed_;         // a deleted file's line: its part ids
  std::map<std::string, std::pair<Rebuilt, int>> deleted_;  // the deleted view's paths, lines
  std::vector<RawChunk> raw_;
  bool lostDir_ = false;
  bool lostFilesDir_ = false;
  bool rootListed_ = false;
};

}  // namespace detail
}  // namespace quarn::sample

#endif
