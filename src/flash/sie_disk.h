// TSieDisk: one flash disk (partition) of the dump, found in the partition
// table. It answers its name and block table, and owns the entries its flash
// file system is read into.
#ifndef QUARN_FLASH_SIE_DISK_H
#define QUARN_FLASH_SIE_DISK_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "entries/sie_file.h"
#include "flash/dump.h"
#include "flash/partition_table.h"
#include "util/tlist.h"

namespace quarn {

// What reading a disk's file system found, for whoever reports on a dump.
struct TDiskStats {
  std::uint32_t LiveSlots = 0;       // descriptors of live chunks
  std::uint32_t DeadSlots = 0;       // descriptors passed over (marked dead, or unreadable)
  std::uint32_t UnwrittenSlots = 0;  // erased slots, from the first of a block's down
  std::uint32_t Parts = 0;           // header and data chunks paired into parts
  bool CutByLimit = false;           // the archive's allowance of chunks ran out in this disk
  // The flash, in bytes: data of live chunks, data of dead chunks (what a
  // deleted file left), and the room between a block's data and its
  // descriptor table that nothing has written yet.
  std::uint64_t LiveBytes = 0;
  std::uint64_t DeadBytes = 0;
  std::uint64_t UnwrittenBytes = 0;
  // Dead descriptors whose chunk lies inside its block, with an id a chunk
  // can have: what the deleted files are rebuilt from.
  std::uint32_t DeadChunks = 0;
  // The deleted view (only when the dump shows it): files rebuilt whole and
  // with parts missing, folders rebuilt, and dead parts not listed because
  // a live part of the same id, name and folder supersedes them or because
  // no rebuilt chain reaches them.
  std::uint32_t DeletedFiles = 0;
  std::uint32_t DeletedIncomplete = 0;
  std::uint32_t DeletedFolders = 0;
  std::uint32_t DeadPartsSuperseded = 0;
  std::uint32_t DeadPartsUnreached = 0;
};

class TSieDisk final : public TEntryDisk {
 public:
  // A disk of `dump` whose record lies at `descriptor` and whose block table
  // starts at `blockTable`, both in the dump's image.
  TSieDisk(TDump &dump, const std::uint8_t *descriptor, const std::uint8_t *blockTable)
      : dump_(&dump), descriptor_(descriptor), blockTable_(blockTable) {}
  TSieDisk(const TSieDisk &) = delete;
  TSieDisk &operator=(const TSieDisk &) = delete;
  // Releases the disk's entry tree and entry list.
  virtual ~TSieDisk() = default;

  // NumBlocks of the descriptor; 0 without one.
  std::uint32_t BlockCount() const;
  // The disk's name; empty without a descriptor or a valid name.
  std::string DiskName() const override;
  // Block `index` of the block table, in table order; {0, 0} past its end.
  TBlockRef Block(std::uint32_t index) const;
  // The dump the disk lies in.
  TDump &Dump() const { return *dump_; }
  // Where the disk's record lies: its offset in the image.
  std::uint32_t RecordOffset() const {
    return descriptor_ != nullptr ? static_cast<std::uint32_t>(descriptor_ - dump_->Window().Data())
                                  : 0;
  }

  // Reads the disk's flash file system into Root and Entries, releasing
  // what an earlier call made. The file-system reader's work (src/ffs).
  void ParseDisk();

  // The root directory, or none.
  TSieFile *Root() const { return root_; }
  // Every entry of the disk, the root first, or none.
  const TList<TSieFile *> *Entries() const { return entries_.get(); }

  // A new entry owned by the disk; it lives until ReleaseEntries or the
  // disk's destruction.
  TSieFile *NewEntry();
  // Makes `root` (an entry of the disk's own) its root directory and
  // appends it to its entries. Only while the disk has no root.
  void SetRoot(TSieFile *root);
  // Appends an entry of the disk's own to its entry list.
  void AddEntry(TSieFile *entry);
  // Room for `count` more entries, for a creator that knows how many come.
  void ReserveEntries(int count);
  // Releases the entry tree and the entry list: Root and Entries are none.
  void ReleaseEntries();

  // What the last ParseDisk found.
  TDiskStats &Stats() { return stats_; }
  const TDiskStats &Stats() const { return stats_; }

 private:
  TDump *dump_;
  const std::uint8_t *descriptor_;  // the disk's record in the image
  const std::uint8_t *blockTable_;  // its first block-table entry in the image
  TSieFile *root_ = nullptr;
  std::unique_ptr<TList<TSieFile *>> entries_;
  TDiskStats stats_;
  // Owns what NewEntry made, in blocks of kEntryBlock: entries keep their
  // addresses, and a disk's thousands of entries cost a few allocations.
  static constexpr std::size_t kEntryBlock = 256;
  std::vector<std::unique_ptr<TSieFile[]>> entryBlocks_;
  std::size_t entriesUsed_ = 0;  // in the last block
};

// The disks of the first run of valid records of the dump's partition table
// (see TPartitionScan), in table order; none when there is no table. Notes
// in the dump where a damaged record ended the run (TDump::TableDamage).
std::vector<std::unique_ptr<TSieDisk>> FindDisks(TDump &dump, std::uint32_t start,
                                                 std::uint32_t step);
// The disks the valid records after a damaged one name, in table order; none
// when the dump's table is sound.
std::vector<std::unique_ptr<TSieDisk>> DisksAfterDamage(TDump &dump);

}  // namespace quarn

#endif
