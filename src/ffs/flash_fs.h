// The flash file system of one disk, and the reader that turns it into
// entries.
//
// Every flash block of a disk holds chunk data, placed by offset from the
// block's first byte, and a table of 16-byte chunk descriptors growing down
// from the block's end. A chunk has a 16-bit id. Every file or directory is
// stored as one or more parts; a part is a pair of chunks: an even-id header
// chunk whose data begins with a part header, and the chunk with the next
// (odd) id, which holds the part's content. The parts of one entry are
// chained by part ids (previous and next); each part names the part id of the
// directory that holds it, and the disk's root directory is its own parent.
#ifndef QUARN_FFS_FLASH_FS_H
#define QUARN_FFS_FLASH_FS_H

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "entries/entry_budget.h"
#include "entries/sie_file.h"
#include "flash/flash_image.h"
#include "util/tlist.h"

namespace quarn {

class TSieDisk;

// A chunk descriptor, 16 bytes on flash.
namespace chunk_descriptor {
constexpr std::uint32_t Marker = 0;       // u32: ChunkMarker for a live chunk
constexpr std::uint32_t Id = 4;           // u32: chunk id, 0..0xFFFF
constexpr std::uint32_t Size = 8;         // u32: bytes of data
constexpr std::uint32_t DataOffset = 12;  // u32: from the block's first byte
constexpr std::uint32_t kSize = 16;
}  // namespace chunk_descriptor

constexpr std::uint32_t ChunkMarker = 0xFFFFFFC0;
// A descriptor slot whose first byte is still erased ends the block's table.
constexpr std::uint8_t kUnwrittenSlot = 0xFF;

// A part header, at the start of an even-id chunk's data; the name follows.
namespace part_header {
constexpr std::uint32_t Id = 0;        // u16: the part's id, its header chunk's id
constexpr std::uint32_t ParentId = 2;  // u16: the directory's part id
constexpr std::uint32_t Time = 4;      // u16: DOS time
constexpr std::uint32_t Date = 6;      // u16: DOS date
constexpr std::uint32_t DataId = 8;    // u16: the content chunk's id, Id + 1
constexpr std::uint32_t Attr = 10;     // u16: FAT attribute bits
constexpr std::uint32_t PrevId = 12;   // u16: previous part of the entry, or kNoPart
constexpr std::uint32_t NextId = 14;   // u16: next part of the entry
constexpr std::uint32_t Name = 16;     // NUL-terminated, 0x1F first for UTF-8
constexpr std::uint32_t kSize = 16;
}  // namespace part_header

// PrevId of an entry's first part; as an odd id it never names a part.
constexpr std::uint16_t kNoPart = 0xFFFF;
// The attribute bit of a directory (FAT layout).
constexpr std::uint32_t kDirectoryAttr = 0x10;
// Name bytes taken from a header at most.
constexpr std::uint32_t kMaxNameBytes = 255;

// What the chunk scan finds wrong with a chunk's place: no honest chunk's
// data reaches past the flash block that holds it, nor overlaps another live
// chunk's.
enum TChunkFlaw : std::uint8_t {
  kPastItsBlock = 1 << 0,  // Size is cut to what lies inside the block
  kOverlapping = 1 << 1,
};

// One live chunk descriptor.
struct TChunk {
  std::uint32_t DescAddr = 0;  // phone address of the descriptor
  std::uint32_t Id = 0;        // 0..0xFFFF
  std::uint32_t Size = 0;      // bytes of data, at most to the block's end
  std::uint32_t DataAddr = 0;  // block address + DataOffset, wrapping
  std::uint8_t Flaws = 0;      // TChunkFlaw bits
};

// One header/data chunk pair.
struct TPartRec {
  const std::uint8_t *Header = nullptr;  // the part header in the image
  std::uint16_t Id = 0;
  const TChunk *HeaderChunk = nullptr;
  std::uint16_t ParentId = 0;
  std::uint16_t DataId = 0;
  const TChunk *DataChunk = nullptr;  // none when the data chunk is missing
  std::uint16_t NextId = 0;
  const TPartRec *Next = nullptr;  // the part NextId names, or none
  std::uint16_t PrevId = 0;
  const std::uint8_t *Name = nullptr;  // the name bytes in the image
  // The header's other fields, read once while its bytes are at hand.
  std::uint16_t Attr = 0;
  std::uint16_t Date = 0;
  std::uint16_t Time = 0;
  std::uint16_t NameLength = 0;  // bytes before the NUL, at most kMaxNameBytes
  bool NameCut = false;          // the name goes on past kMaxNameBytes
};

// How a disk's leftover chunks are listed.
enum class DiskKind { Plain, EepromLite, EepromFull };
DiskKind ClassifyDisk(const std::string &diskName);

// The name an entry gets from a part header's name bytes: raw bytes as they
// stand, or, after a leading 0x1F, UTF-8 decoded and converted to the narrow
// code page. `cut` tells that the name went on past the bytes given. With
// `wide`, a UTF-8 name is also given as decoded, in UTF-16, for the Unicode
// interface (a raw one leaves it empty: the narrow code page reads it).
std::string DecodePartName(const std::uint8_t *bytes, std::size_t length, bool cut,
                           std::u16string *wide = nullptr);

// The text of an EEPROM block's ".bid" description file.
std::string EepromBlockText(int blockNumber, int versionByte);

// Reads one disk's file system: the working lists of one ParseDisk call and
// its stages, in calling order.
class TDiskReader {
 public:
  // Reads `disk`, drawing on `budget` for what it makes.
  TDiskReader(TSieDisk &disk, TEntryBudget &budget);

  // All stages, after the disk's old entries are released.
  void Run();

  // Every live chunk of every block, in table order, each checked against
  // its block (see TChunkFlaw).
  void ChunkScan();
  // The chunk a descriptor describes, or none when it is not live or does not
  // lie wholly inside the image.
  std::optional<TChunk> ReadChunk(std::uint32_t blockAddr, std::uint32_t descAddr) const;
  // ChunkList by Id; equal ids keep the scan's order.
  void SortChunks();
  // Parts from neighbouring chunks of the sorted ChunkList; PartList by Id.
  void PairParts();
  // PartsByParent, the Next links, then PartsByParent by ParentId.
  void JoinLinks();

  // The smallest index whose key is `value`, or -1.
  int FindChunk(std::uint32_t id) const;
  int FindPart(std::uint32_t id) const;
  int FindFirstChild(std::uint32_t parentId) const;
  // Removes one record with the id, if any.
  void RemoveChunk(std::uint32_t id);
  void RemovePart(std::uint32_t id);

  // The first part (by Id) that is its own parent, or none.
  const TPartRec *FindRootPart() const;
  // A new entry for the first part of a chain, hung under `parent`, or none.
  // With `lost`, for any part that starts what is left of a chain, hung
  // under `parent` whatever its parent id says.
  TSieFile *EntryFromPart(TSieFile *parent, const TPartRec *part, bool lost = false);
  // The root entry, then every entry reachable from it, breadth-first, then
  // what no entry reaches (FindLostFiles). False when the root part is
  // refused.
  bool BuildTree(const TPartRec *rootPart);
  // The children of every entry from the `from`th of the disk's list on,
  // breadth-first; with `skipReached`, not the parts an entry holds already.
  void WalkTree(int from = 0, bool skipReached = false);
  // Every part no entry holds that starts a chain (a first part, or a tail
  // whose part before it is gone or elsewhere), with the subtree below it,
  // in a folder "LostFiles" below the root, so that a lost folder keeps its
  // files and a cut chain its later parts. Not on the EEPROM disks. True
  // when it made entries.
  bool FindLostFiles();
  // Drops the parts and chunks the entries use: what the removals of each
  // entry's id and extents would drop, in one pass over each list.
  void ConsumeUsed();
  // Moves the children of a file to a folder of their own.
  void AdoptChildrenOfFiles();
  // EEPROM block files, or the lost blocks of a plain disk.
  void ListLeftovers();
  // The deleted view, when the dump shows it: the files and folders the
  // dead descriptors still hold, rebuilt in a folder "Deleted" below the
  // root. Not on the EEPROM disks.
  void ListDeleted();

  // The working lists as the stages left them, to look at, not to change.
  const TList<TChunk> &Chunks() const { return ChunkList; }
  const TList<TPartRec> &Parts() const { return PartList; }

 private:
  // The live chunks (by id after SortChunks), the parts paired from them (by
  // id), and the same parts by parent id for the tree walk. ConsumeUsed drops
  // from the first two what the entries hold; the leftovers are what stays.
  TList<TChunk> ChunkList;
  TList<TPartRec> PartList;
  TList<const TPartRec *> PartsByParent;

  TSieFile *NewEntry(TSieFile *parent);
  // A folder the reader makes below `parent`, in the disk's list: named and
  // stamped as `like`, or without one named `name` and stamped with the
  // dump's own time.
  TSieFile *NewFolder(TSieFile *parent, TEntryKind kind, const char *name,
                      const TSieFile *like = nullptr);
  // Whether chunk `q` holds a part header for its own id, with its name
  // inside the image; if so, the part it starts, paired with `data`.
  bool PartFromHeader(const TChunk &q, const TChunk *data, TPartRec &part) const;
  // The data chunk of the part whose header chunk is `header`, from the run
  // of its id in `chunks` that begins at `run`: the one written right after
  // the header in the same block, else the run's first.
  static const TChunk *PairedData(const TList<TChunk> &chunks, int run, const TChunk &header);
  // Name, times and attributes of an entry from its first part.
  void DescribeEntry(TSieFile *entry, const TPartRec &part) const;
  // Appends part `q` to `entry`'s content, noting what is wrong with its
  // chunks.
  static void AddPart(TSieFile *entry, const TPartRec &q);
  // A dead descriptor's chunk, for the deleted view: none when its id is no
  // chunk's or its data does not lie inside its block.
  std::optional<TChunk> ReadDeadChunk(std::uint32_t blockAddr, std::uint32_t blockSize,
                                      std::uint32_t descAddr) const;
  // Counts the block's dead chunk at `descAddr` in the disk's flash figures
  // and, for the deleted view, collects it. The end of its data, as an
  // offset in the block; 0 when it lies outside.
  std::uint32_t NoteDeadSlot(std::uint32_t blockAddr, std::uint32_t blockSize,
                             std::uint32_t descAddr);
  // Parts paired from the dead chunks, each dead header chunk with a sound
  // header making one; those a live part supersedes are left out.
  void PairDeadParts();
  // Whether a live part of `dead`'s id makes it an earlier state of itself:
  // with its parent and name, or with the data `dead` lacks.
  bool Superseded(const TPartRec &dead) const;
  // The entry rebuilt from dead first part `start` and the dead parts its
  // links lead to, hung under `parent`.
  TSieFile *DeletedEntry(TSieFile *parent, const TPartRec &start);
  // The folder below `deleted` standing for live folder `folder`, with the
  // folders on its way from the root, made when first asked for.
  TSieFile *MirrorFolder(TSieFile *deleted, TSieFile *folder);
  // Checks the chunks of one block, ChunkList from `first` on, against the
  // block at `blockAddr` of `blockSize` bytes.
  // Returns the furthest their data reaches, as an offset in the block.
  std::uint32_t CheckPlaces(int first, std::uint32_t blockAddr, std::uint32_t blockSize);
  // Notes on `entry` what is wrong with the place of `chunk`.
  static void NoteFlaws(TSieFile *entry, const TChunk &chunk, std::uint16_t partId,
                        std::uint32_t address);
  void EnsureRoot();
  bool IsRepeated(std::uint16_t id) const;

  TSieDisk &disk_;
  TEntryBudget &budget_;
  const TFlashImage &image_;
  // The parent ids of PartsByParent, side by side, for the tree walk's
  // lookups; filled by JoinLinks.
  std::vector<std::uint16_t> parentKeys_;
  // By id: whether more than one live chunk has it (filled by SortChunks),
  // and whether a part names it as its previous one (filled by JoinLinks).
  std::vector<std::uint8_t> repeatedId_;
  std::vector<std::uint8_t> namedAsPrev_;
  // By part id: whether an entry holds the part.
  std::vector<std::uint8_t> reached_;
  // Serial of the entry whose chain last visited a part, by PartList index.
  std::vector<std::uint32_t> chainMark_;
  std::uint32_t chainSerial_ = 0;
  // One block's chunks by data address, for CheckPlaces.
  std::vector<std::pair<std::uint32_t, int>> byPlace_;

  // The deleted view's working lists: the dead chunks (by id after
  // PairDeadParts), the parts paired from them by (Id, PrevId), and where
  // each run of one (Id, PrevId) has its first part no chain has taken.
  TList<TChunk> deadChunks_;
  TList<TPartRec> deadParts_;
  std::vector<int> deadRunNext_;
  bool collectDead_ = false;         // the dump shows the deleted view, and this disk has one
  std::uint32_t deadPartsUsed_ = 0;  // dead parts the rebuilt entries hold
  // By id: the parent id and name of the live part of that id, kept from
  // the pairing for the deleted view (a live part supersedes a dead one of
  // the same id, parent and name: the earlier version of a rewritten file).
  struct TLiveHeader {
    const std::uint8_t *Name = nullptr;
    std::uint16_t NameLength = 0;
    std::uint16_t ParentId = 0;
  };
  std::vector<TLiveHeader> liveHeaders_;
  // Mirrors of live folders below the deleted view's folder.
  std::unordered_map<const TSieFile *, TSieFile *> mirrors_;
};

}  // namespace quarn

#endif
