#include "flash/sie_disk.h"

namespace quarn {

std::uint32_t TSieDisk::BlockCount() const {
  return descriptor_ != nullptr ? LoadU32(descriptor_ + descriptor::NumBlocks) : 0;
}

std::string TSieDisk::DiskName() const {
  std::string name;
  if (descriptor_ == nullptr) return name;
  if (!dump_->Window().ReadDiskName(LoadU32(descriptor_ + descriptor::NameAddr), name))
    name.clear();
  return name;
}

TBlockRef TSieDisk::Block(std::uint32_t index) const {
  // The scan that made the disk checked that all BlockCount entries lie
  // inside the image.
  if (blockTable_ == nullptr || index >= BlockCount()) return {};
  const std::uint8_t *entry = blockTable_ + static_cast<std::size_t>(index) * kBlockRefSize;
  return {LoadU32(entry), LoadU32(entry + 4)};
}

TSieFile *TSieDisk::NewEntry() {
  if (entryBlocks_.empty() || entriesUsed_ == kEntryBlock) {
    entryBlocks_.push_back(std::make_unique<TSieFile[]>(kEntryBlock));
    entriesUsed_ = 0;
  }
  return &entryBlocks_.back()[entriesUsed_++];
}

void TSieDisk::SetRoot(TSieFile *root) {
  if (root_ != nullptr) return;
  root_ = root;
  if (!entries_) entries_ = std::make_unique<TList<TSieFile *>>();
  AddEntry(root);
}

void TSieDisk::AddEntry(TSieFile *entry) {
  if (!entries_) entries_ = std::make_unique<TList<TSieFile *>>();
  entries_->Add(entry);
}

void TSieDisk::ReserveEntries(int count) {
  if (!entries_) entries_ = std::make_unique<TList<TSieFile *>>();
  if (entries_->Count() + count > entries_->Capacity())
    entries_->SetCapacity(entries_->Count() + count);
}

void TSieDisk::ReleaseEntries() {
  stats_ = TDiskStats();
  root_ = nullptr;
  entries_.reset();
  // Later entries hang below earlier ones: the last block goes first, and a
  // block destroys its entries from its end.
  while (!entryBlocks_.empty()) entryBlocks_.pop_back();
  entriesUsed_ = 0;
}

namespace {

// The disk whose record lies at image offset `offset`.
std::unique_ptr<TSieDisk> DiskAt(TDump &dump, std::uint32_t offset) {
  const TFlashImage &window = dump.Window();
  const std::uint8_t *record = window.Data() + offset;
  return std::make_unique<TSieDisk>(dump, record,
                                    window.Translate(LoadU32(record + descriptor::BlockTableAddr)));
}

}  // namespace

std::vector<std::unique_ptr<TSieDisk>> FindDisks(TDump &dump, std::uint32_t start,
                                                 std::uint32_t step) {
  std::vector<std::unique_ptr<TSieDisk>> disks;
  const TFlashImage &window = dump.Window();
  if (window.Data() == nullptr) return disks;
  TPartitionScan scan(window);
  const std::vector<std::uint32_t> run = scan.FindRun(start, step);
  for (const std::uint32_t offset : run) disks.push_back(DiskAt(dump, offset));
  // A run that ended at a record that is not valid, with valid ones after
  // it: a damaged record hides the disks that follow it.
  if (!run.empty()) {
    const std::uint64_t next = std::uint64_t{run.back()} + kDescriptorSize;
    if (next + kDescriptorSize <= window.Size() &&
        !scan.ValidateDescriptor(static_cast<std::uint32_t>(next))) {
      TDump::TTableDamage damage;
      damage.Record = static_cast<std::uint32_t>(next);
      damage.RecordsAfter = scan.RunAfterDamage(damage.Record);
      for (const std::uint32_t offset : damage.RecordsAfter) {
        std::string name;
        window.ReadDiskName(LoadU32(window.Data() + offset + descriptor::NameAddr), name);
        damage.DisksAfter.push_back(std::move(name));
      }
      if (!damage.RecordsAfter.empty()) dump.SetTableDamage(std::move(damage));
    }
  }
  return disks;
}

std::vector<std::unique_ptr<TSieDisk>> DisksAfterDamage(TDump &dump) {
  std::vector<std::unique_ptr<TSieDisk>> disks;
  if (!dump.TableDamage()) return disks;
  // FindDisks validated these records: names, block tables and all.
  for (const std::uint32_t offset : dump.TableDamage()->RecordsAfter)
    disks.push_back(DiskAt(dump, offset));
  return disks;
}

}  // namespace quarn
