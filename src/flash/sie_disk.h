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
#include "flash/partition_table.h"
#include "util/tlist.h"

namespace quarn {

class TQuarn;

class TSieDisk {
 public:
  explicit TSieDisk(TQuarn *owner) : Owner(owner) {}
  TSieDisk(const TSieDisk &) = delete;
  TSieDisk &operator=(const TSieDisk &) = delete;
  // Releases the disk's entry tree and entry list.
  virtual ~TSieDisk() = default;

  // NumBlocks of the descriptor; 0 without one.
  std::uint32_t BlockCount() const;
  // The disk's name; empty without an owner, a descriptor or a valid name.
  std::string DiskName() const;
  // Block `index` of the block table, in table order; {0, 0} past its end.
  TBlockRef Block(std::uint32_t index) const;

  // Reads the disk's flash file system into Root and Entries, releasing
  // what an earlier call made.
  void ParseDisk();

  // A new entry owned by the disk; it lives until ReleaseEntries or the
  // disk's destruction.
  TSieFile *NewEntry();
  // Releases the entry tree and the entry list: Root and Entries are none.
  void ReleaseEntries();

  TQuarn *Owner = nullptr;
  const std::uint8_t *Descriptor = nullptr;    // the disk's record in the image
  const std::uint8_t *BlockTable = nullptr;    // its first block-table entry in the image
  TSieFile *Root = nullptr;                    // root directory, or none
  std::unique_ptr<TList<TSieFile *>> Entries;  // every entry of the disk, or none

 private:
  // Owns what NewEntry made, in blocks of kEntryBlock: entries keep their
  // addresses, and a disk's thousands of entries cost a few allocations.
  static constexpr std::size_t kEntryBlock = 256;
  std::vector<std::unique_ptr<TSieFile[]>> entryBlocks_;
  std::size_t entriesUsed_ = 0;  // in the last block
};

}  // namespace quarn

#endif
