// TSieFile: one item of an opened dump's listing (a disk's raw image, a
// directory or file of a disk's flash file system, an EEPROM block, a lost
// chunk), or the archive object's nameless root; what kind it is, and what
// the reader found wrong with it. Its content is an ordered list of
// extents, each lying in the image at a phone address or in a buffer the
// entry owns. How names and paths are cut and escaped: listing_path.h;
// numbered apart: unique_names.h; where extraction put an entry:
// extract_paths.h.
#ifndef QUARN_ENTRIES_SIE_FILE_H
#define QUARN_ENTRIES_SIE_FILE_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "util/tlist.h"

namespace quarn {

// What an entry knows of the disk it belongs to: the disk's name, which
// stands before the path of an entry that hangs below no other.
class TEntryDisk {
 public:
  virtual std::string DiskName() const = 0;

 protected:
  TEntryDisk() = default;
  TEntryDisk(const TEntryDisk &) = default;
  TEntryDisk &operator=(const TEntryDisk &) = default;
  ~TEntryDisk() = default;
};

// What an entry stands for. The reader says so when it makes the entry, so
// that nothing after it has to guess from a name or an address.
enum class TEntryKind : std::uint8_t {
  Root,         // the archive's nameless root
  DiskImage,    // a disk's raw ".BIN" image
  Folder,       // a folder of a flash file system, made from its parts
  File,         // a file of a flash file system, made from its parts
  MadeFolder,   // a folder the reader made: a disk's root without a root part,
                // "LostBlocks", or the folder that takes in a file's children
  LostFiles,    // the folder the reader made for what no listed folder reaches
  EepromBlock,  // an EEPROM block's payload
  EepromText,   // an EEPROM block's ".bid" description
  LostBlock,    // a chunk no file claims
  Deleted,      // the folder the reader made for what dead descriptors still hold
};

// What reading an entry's chain of parts found wrong. None on a sound dump;
// any of them makes testing or extracting the entry answer that its data is
// bad, after every part that is there was written.
enum TEntryDamage : std::uint16_t {
  kChainEndsAtMissingPart = 1 << 0,  // the last part's NextId names no part
  kChainLoops = 1 << 1,              // the links come back to a part already in the chain
  kChainCutByLimit = 1 << 2,         // the archive's allowance of extents ran out
  kChainPrevMismatch = 1 << 3,       // a part's PrevId names another part than the one before
  kChainLeftover = 1 << 4,           // a part names the last one as its previous one, unlinked
  kChunkIdRepeated = 1 << 5,         // another live chunk has the id of one of the entry's
  kChunkPastBlock = 1 << 6,          // a chunk's data reaches past its flash block (cut there)
  kChunkOverlaps = 1 << 7,           // a chunk's data overlaps another live chunk's in its block
  kBlocksOverlap = 1 << 8,           // a disk image whose block table lists overlapping blocks
  kDataMissing = 1 << 9,             // a part's data chunk is not among the live ones
  kChainHeadMissing = 1 << 10,       // a tail of a chain whose earlier parts are gone or elsewhere
};

// One thing wrong with an entry's chain, as the reader found it, and where.
struct TEntryFinding {
  TEntryDamage Damage = kChainEndsAtMissingPart;
  std::uint16_t PartId = 0;   // the part (or the chunk) where it shows
  std::uint32_t Address = 0;  // where that lies, as a phone address: the part's header, a
                              // chunk's data, a disk's partition record
};

// One piece of an entry's content.
struct TExtent {
  std::uint16_t Id = 0;                    // part id of the piece (its header chunk's id), or
                                           // the id of the chunk an EEPROM or lost block is
  std::uint16_t DataId = 0;                // id of the part's data chunk (of that chunk)
  std::uint32_t HeaderDescAddr = 0;        // phone address of the part's header chunk descriptor
  std::uint32_t HeaderDataAddr = 0;        // phone address of the part's header
  std::uint32_t DataAddr = 0;              // phone address of the first byte; 0 when in Buffer
  std::uint32_t Size = 0;                  // bytes in the piece
  std::unique_ptr<std::uint8_t[]> Buffer;  // the bytes, when they do not lie in the image
};

class TSieFile {
 public:
  TSieFile() = default;
  TSieFile(const TSieFile &) = delete;
  TSieFile &operator=(const TSieFile &) = delete;
  // Releases the entry's extents and buffers; children are not touched.
  virtual ~TSieFile() = default;

  // The tree. An entry is among the children of exactly the entry its
  // parent names; only these three operations change the links.
  TSieFile *Parent() const { return parent_; }
  const TList<TSieFile *> &Children() const { return children_; }
  // Moves the entry under `newParent` (or detaches it with nullptr): out of
  // the old parent's children, appended to the new one's.
  void SetParent(TSieFile *newParent);
  // Hangs `child` below this entry; its position among the children. A child
  // already there keeps its position.
  int AddChild(TSieFile *child);
  // Takes `child` out of the children (later ones move down) and detaches it.
  void RemoveChild(TSieFile *child);
  // Room for `count` children in all, for a creator that knows how many come.
  void ReserveChildren(int count) {
    if (count > children_.Capacity()) children_.SetCapacity(count);
  }

  // Appends an extent and adds its size to Size.
  void AddExtent(TExtent extent);

  // The entry's path in the listing: the names from its disk's root down,
  // joined by backslashes, at most 255 bytes (cut, then runs of backslashes
  // collapsed, then one leading backslash dropped).
  std::string FullPath() const;
  // The directory the entry is, or would be, extracted into: its own learned
  // DestDir, else its parent's ExtractDir followed by the parent's name and a
  // path delimiter; empty when nothing is learned and there is no parent.
  std::string ExtractDir() const;

  // One step of FullPath: the path of a child named `name` of an entry whose
  // path is `parentPath`.
  static std::string JoinPath(const std::string &parentPath, const std::string &name);
  // The same, appended to `out`. `parentPath` may lie in `out` when `out`
  // has room for 255 more bytes, so that appending does not move it.
  // `parentJoined` tells that `parentPath` came from a join, so it holds no
  // run of backslashes.
  static void AppendJoinedPath(std::string &out, std::string_view parentPath, std::string_view name,
                               bool parentJoined = false);
  // The same for the Unicode interface's paths: at most kMaxWideName units,
  // never cut inside a surrogate pair.
  static void AppendJoinedPath(std::u16string &out, std::u16string_view parentPath,
                               std::u16string_view name, bool parentJoined = false);

  // Notes a finding of the reader's; only the first of each kind is kept.
  void AddFinding(TEntryDamage damage, std::uint16_t partId, std::uint32_t address);
  // The kinds of damage found, as bits; 0 when the entry is sound.
  std::uint16_t Damage() const { return damage_; }
  // The findings in the order they were made.
  const std::vector<TEntryFinding> &Findings() const { return findings_; }

  TEntryKind Kind = TEntryKind::Root;
  const TEntryDisk *Disk = nullptr;  // none for the nameless root and raw images
  TList<TExtent> Extents;
  std::uint32_t HeaderDescAddr = 0;  // descriptor of the first part's header chunk
  std::uint32_t HeaderDataAddr = 0;  // the first part's header
  std::uint32_t DataAddr = 0;        // the first part's content
  std::uint16_t Id = 0;              // part id of the first part
  std::uint16_t ParentId = 0;        // the first part's parent id as stored
  std::uint32_t Attr = 0;            // FAT attribute bits; 0x10 marks a directory
  // Sum of the extents' sizes: what extraction writes of a sound entry. In
  // 64 bits, so that no count of parts can make it wrap.
  std::uint64_t Size = 0;
  std::string Name;  // at most 255 bytes, narrow code page
  // The name in UTF-16, for the Unicode interface: as the phone stored it
  // where that was UTF-8, else Name as the narrow code page reads it (see
  // SetWideNames). At most kMaxWideName units.
  std::u16string WideName;
  std::uint16_t Date = 0;               // DOS date
  std::uint16_t Time = 0;               // DOS time
  bool Renamed = false;                 // numbered apart from another entry on its path
  bool Deleted = false;                 // rebuilt from the dead parts of a deleted file or folder
  mutable std::uint32_t OrderSlot = 0;  // kept by the listing order while it works
  std::string DestDir;                  // learned destination, ends with a delimiter
  std::u16string DestDirW;              // the same, learned through the Unicode interface

  // Longest name or listing path, in bytes.
  static constexpr std::size_t kMaxShortName = 255;
  // Longest name or listing path of the Unicode interface, in UTF-16 units.
  static constexpr std::size_t kMaxWideName = 1023;

 private:
  TSieFile *parent_ = nullptr;
  TList<TSieFile *> children_;
  std::vector<TEntryFinding> findings_;
  std::uint16_t damage_ = 0;  // TEntryDamage bits of findings_
};

}  // namespace quarn

#endif
