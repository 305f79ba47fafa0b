#include "flash/sie_disk.h"

#include "plugin/quarn.h"

namespace quarn {

std::uint32_t TSieDisk::BlockCount() const {
  return Descriptor != nullptr ? LoadU32(Descriptor + descriptor::NumBlocks) : 0;
}

std::string TSieDisk::DiskName() const {
  std::string name;
  if (Owner == nullptr || Descriptor == nullptr) return name;
  if (!Owner->ReadDiskName(LoadU32(Descriptor + descriptor::NameAddr), name)) name.clear();
  return name;
}

TBlockRef TSieDisk::Block(std::uint32_t index) const {
  // The scan that made the disk checked that all BlockCount entries lie
  // inside the image.
  if (BlockTable == nullptr || index >= BlockCount()) return {};
  const std::uint8_t *entry = BlockTable + static_cast<std::size_t>(index) * kBlockRefSize;
  return {LoadU32(entry), LoadU32(entry + 4)};
}

TSieFile *TSieDisk::NewEntry() {
  if (entryBlocks_.empty() || entriesUsed_ == kEntryBlock) {
    entryBlocks_.push_back(std::make_unique<TSieFile[]>(kEntryBlock));
    entriesUsed_ = 0;
  }
  return &entryBlocks_.back()[entriesUsed_++];
}

void TSieDisk::ReleaseEntries() {
  Root = nullptr;
  Entries.reset();
  // Later entries hang below earlier ones: the last block goes first, and a
  // block destroys its entries from its end.
  while (!entryBlocks_.empty()) entryBlocks_.pop_back();
  entriesUsed_ = 0;
}

}  // namespace quarn
