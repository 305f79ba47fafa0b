// What the command asks of an open archive beyond what a WCX record holds.
// A host sees only the exports; the command, linked with the core, may also
// ask these of a handle OpenArchive gave it. They never change the archive.
// Plain structs only: the command sees no class of the core.
#ifndef QUARN_PLUGIN_INSPECT_H
#define QUARN_PLUGIN_INSPECT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "flash/dump_format.h"

namespace quarn {

class TQuarn;
class TSieFile;
class TEntryDisk;

// Recognition of the file a narrow path names (as CanYouHandleThisFile
// opens it), with its size where it is known.
TRecognition RecognisePath(const std::string &path, std::uint64_t &size);
// The same for a UTF-16 path, as CanYouHandleThisFileW opens it.
TRecognition RecognisePath(const std::u16string &path, std::uint64_t &size);

// Why testing the entry ReadHeader returned last answers bad data, in words
// ("incomplete: the chain ends at a missing part"); empty when it passes or
// when the handle names no archive.
std::string EntryProblem(void *handle);

// Where something lies: the phone address it is found at and, when that
// address lies in the flash window, its offset in the dump (which may be past
// the end of a short dump).
struct TDumpPlace {
  bool Known = false;  // false: it lies nowhere in the dump (a text the reader made)
  std::uint32_t Address = 0;
  bool InWindow = false;
  std::uint32_t Offset = 0;
};

// A run of the dump's bytes.
struct TDumpRange {
  std::uint32_t Offset = 0;
  std::uint32_t Length = 0;
};

// What the core knows of one listed entry beyond its record.
struct TEntryFacts {
  int Disk = -1;                    // index in TDumpFacts::Disks; -1 for none
  std::string_view DiskName;        // its disk's listed name (TDiskFacts::ListedAs)
  std::vector<std::uint32_t> Ids;   // its parts' ids in chain order; a leftover chunk's id
  bool Generated = false;           // its content is a text the reader made (".bid")
  std::vector<TDumpRange> Extents;  // what extraction writes, in order; none for a folder
  std::string_view Problem;         // why testing fails; empty when it passes
  TDumpPlace ProblemAt;             // where that problem lies
  bool Renamed = false;             // numbered apart from another entry on its path
  bool Deleted = false;             // rebuilt from the dead parts of a deleted file or folder
  TDumpPlace At;                    // where the entry itself lies
};

struct TBlockFacts {
  std::uint32_t Address = 0;  // phone address, as the block table gives it
  std::uint32_t Size = 0;
};

enum class TDiskHolds {
  FileSystem,  // a flash file system (and perhaps lost chunks)
  Eeprom,      // EEPROM blocks (EELITE, EEFULL), and whatever file system is there
  LostChunks,  // no file system, only chunks no entry claims
  RawOnly,     // nothing but its raw image
};

struct TDiskFacts {
  std::string Name;      // as the partition table gives it
  std::string ListedAs;  // its raw image's name without ".BIN": unique among the disks
  std::uint32_t RecordOffset = 0;
  std::vector<TBlockFacts> Blocks;  // in table order
  TDiskHolds Holds = TDiskHolds::RawOnly;
  std::uint32_t LiveSlots = 0, DeadSlots = 0, UnwrittenSlots = 0, Parts = 0;
  std::uint32_t Files = 0, Folders = 0;  // of the file system, its root not counted
  std::uint64_t Bytes = 0;               // of those files
  std::uint32_t EepromBlocks = 0, LostChunks = 0;
  bool CutByLimit = false;  // the archive's allowance of chunks ran out in this disk
  // Files and folders listed in the disk's LostFiles: their folder, or the
  // first parts of their chain, are gone. Counted in Files and Folders too.
  std::uint32_t LostFiles = 0;
  bool RootPartMissing = false;  // the disk's file system has parts but no root part
  // The flash in bytes: data of live chunks, of dead ones (what deleted
  // files left), and unwritten room; dead descriptors that describe a chunk.
  std::uint64_t LiveBytes = 0, DeadBytes = 0, UnwrittenBytes = 0;
  std::uint32_t DeadChunks = 0;
  // The deleted view (when shown): files rebuilt (of them, with parts
  // missing), folders rebuilt, dead parts left out because a live part
  // supersedes them or because no rebuilt chain reaches them.
  std::uint32_t DeletedFiles = 0, DeletedIncomplete = 0, DeletedFolders = 0;
  std::uint32_t DeadPartsSuperseded = 0, DeadPartsUnreached = 0;
};

struct TDumpFacts {
  std::uint32_t Size = 0;   // bytes loaded: at most the 32 MiB of the flash window
  std::string Signature;    // the bytes at 544 (up to 7, as far as the dump goes)
  bool Recognised = false;  // what CanYouHandleThisFile answers for such a file
  std::uint16_t Date = 0;   // the dump's last-write time, DOS date and time
  std::uint16_t Time = 0;
  std::vector<TDiskFacts> Disks;  // in table order
  // A damaged record ended the partition table's run although valid records
  // follow it: the disks those name are not listed.
  bool TableDamaged = false;
  std::uint32_t DamagedRecordOffset = 0;
  std::vector<std::string> DisksAfterDamage;
  // The listing is the deleted view: it holds each disk's Deleted folder,
  // and the disks after a damaged record (listed last, from their records).
  bool ShowsDeleted = false;
};

// Asks an open archive for facts. Made once per handle: it indexes the
// archive's disks, so that asking of every entry stays cheap.
class TInspector {
 public:
  explicit TInspector(void *handle);
  TInspector(const TInspector &) = delete;
  TInspector &operator=(const TInspector &) = delete;
  ~TInspector();

  bool Valid() const { return archive_ != nullptr; }
  TDumpFacts Dump() const;
  // Facts of the entry ReadHeader returned last; false when there is none.
  // `facts` keeps its vectors' room between calls.
  bool Current(TEntryFacts &facts) const;
  // Hands `write` the content of the entry ReadHeader returned last, piece
  // by piece, exactly as extraction writes it. Returns 0, E_BAD_DATA when
  // extraction would (after the same bytes), E_EWRITE when `write` answered
  // false, E_END_ARCHIVE without an entry. A folder has no content.
  int WriteCurrent(const std::function<bool(const std::uint8_t *, std::size_t)> &write) const;

 private:
  int DiskOf(const TSieFile &entry) const;
  TDumpPlace RecordPlace(int disk) const;

  const TQuarn *archive_ = nullptr;
  std::vector<const TEntryDisk *> disks_;    // by index
  std::vector<const TSieFile *> rawImages_;  // each disk's ".BIN" entry, by index
  std::vector<std::string> listedNames_;
  mutable int lastDisk_ = 0;
};

}  // namespace quarn

#endif
