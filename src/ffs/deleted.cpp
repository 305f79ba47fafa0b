// The deleted view of a disk. The file system is a log on NOR flash:
// deleting a file marks the descriptors of its chunks dead (the marker
// changes; id, size and data offset stay as written) and leaves the data in
// place until the block is erased to make room. So the dead descriptors of
// most dumps still hold whole files a user deleted. They are rebuilt here as
// the live ones are, part by part, with three differences: an id may have
// several dead parts (a file deleted, its id used again and deleted again),
// a dead part that a live part of the same id, folder and name supersedes is
// the earlier version of a rewritten file and is left out, and a chain is
// followed only through dead parts whose PrevId names the part before.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "ffs/flash_fs.h"
#include "ffs/sorting.h"
#include "flash/sie_disk.h"

namespace quarn {

namespace {

// The order dead parts are kept in: by id, then by the id of the part
// before; the scan's order among equals.
std::uint32_t ChainKey(std::uint16_t id, std::uint16_t prevId) {
  return (std::uint32_t{id} << 16) | prevId;
}

}  // namespace

std::optional<TChunk> TDiskReader::ReadDeadChunk(std::uint32_t blockAddr, std::uint32_t blockSize,
                                                 std::uint32_t descAddr) const {
  const std::uint8_t *d = image_.Span(descAddr, chunk_descriptor::kSize);
  if (d == nullptr || LoadU32(d + chunk_descriptor::Marker) == ChunkMarker) return std::nullopt;
  const std::uint32_t id = LoadU32(d + chunk_descriptor::Id);
  const std::uint32_t offset = LoadU32(d + chunk_descriptor::DataOffset);
  const std::uint32_t size = LoadU32(d + chunk_descriptor::Size);
  // Whatever marked it dead, a descriptor whose data would not lie inside
  // its block describes nothing that can be read back.
  if (id > 0xFFFF || offset >= blockSize || size > blockSize - offset) return std::nullopt;
  TChunk chunk;
  chunk.DescAddr = descAddr;
  chunk.Id = id;
  chunk.Size = size;
  chunk.DataAddr = blockAddr + offset;
  return chunk;
}

std::uint32_t TDiskReader::NoteDeadSlot(std::uint32_t blockAddr, std::uint32_t blockSize,
                                        std::uint32_t descAddr) {
  const std::optional<TChunk> chunk = ReadDeadChunk(blockAddr, blockSize, descAddr);
  if (!chunk) return 0;
  TDiskStats &stats = disk_.Stats();
  ++stats.DeadChunks;
  stats.DeadBytes += chunk->Size;
  if (collectDead_ && disk_.Dump().DeletedBudget().TakeChunk()) deadChunks_.Add(*chunk);
  return chunk->DataAddr - blockAddr + chunk->Size;
}

bool TDiskReader::Superseded(const TPartRec &dead) const {
  if (liveHeaders_.empty()) return false;
  const TLiveHeader &live = liveHeaders_[dead.Id];
  if (live.Name == nullptr) return false;
  // A header rewritten alone (a file renamed, moved or given other
  // attributes) leaves its old header dead and its data live.
  if (dead.DataChunk == nullptr) return true;
  return live.ParentId == dead.ParentId && live.NameLength == dead.NameLength &&
         std::memcmp(live.Name, dead.Name, dead.NameLength) == 0;
}

void TDiskReader::PairDeadParts() {
  SortBy16(deadChunks_, [](const TChunk &c) { return c.Id; });
  TDiskStats &stats = disk_.Stats();
  const int n = deadChunks_.Count();
  for (int k = 0; k < n;) {
    int end = k + 1;
    while (end < n && deadChunks_[end].Id == deadChunks_[k].Id) ++end;
    const int run = k;
    k = end;
    if ((deadChunks_[run].Id & 1) != 0) continue;
    const bool dataRun = end < n && deadChunks_[end].Id == deadChunks_[run].Id + 1;
    // Every dead header chunk of the id with a sound header is a part of
    // its own: each deletion of a file that had the id left one.
    for (int i = run; i < end; ++i) {
      TPartRec part;
      const TChunk &header = deadChunks_[i];
      if (!PartFromHeader(header, dataRun ? PairedData(deadChunks_, end, header) : nullptr, part))
        continue;
      // The root is its own parent: an earlier version of its header
      // rebuilds nothing.
      if (part.Id == part.ParentId) continue;
      if (Superseded(part)) {
        ++stats.DeadPartsSuperseded;
        continue;
      }
      deadParts_.Add(part);
    }
  }
  // Two stable passes: by PrevId, then by Id.
  SortBy16(deadParts_, [](const TPartRec &p) { return std::uint32_t{p.PrevId}; });
  SortBy16(deadParts_, [](const TPartRec &p) { return std::uint32_t{p.Id}; });
  // The first part of each run of one (Id, PrevId) no chain has taken yet:
  // kept at the run's first index.
  deadRunNext_.assign(static_cast<std::size_t>(deadParts_.Count()), 0);
  for (int i = 0; i < deadParts_.Count(); ++i) deadRunNext_[static_cast<std::size_t>(i)] = i;
}

TSieFile *TDiskReader::DeletedEntry(TSieFile *parent, const TPartRec &start) {
  TEntryBudget &budget = disk_.Dump().DeletedBudget();
  if (!budget.TakeEntry()) return nullptr;
  TSieFile *entry = NewEntry(parent);
  DescribeEntry(entry, start);
  entry->Deleted = true;
  // The dead part of `id` that goes on from part `prevId`, taken once:
  // each run of one (Id, PrevId) gives its parts in the scan's order, so no
  // part is in two chains and a chain cannot come back to its own parts.
  auto take = [this](std::uint16_t id, std::uint16_t prevId) -> const TPartRec * {
    const std::uint32_t key = ChainKey(id, prevId);
    const auto at = std::lower_bound(
        deadParts_.begin(), deadParts_.end(), key,
        [](const TPartRec &p, std::uint32_t k) { return ChainKey(p.Id, p.PrevId) < k; });
    if (at == deadParts_.end() || ChainKey(at->Id, at->PrevId) != key) return nullptr;
    int &next = deadRunNext_[static_cast<std::size_t>(at - deadParts_.begin())];
    if (next >= deadParts_.Count() || ChainKey(deadParts_[next].Id, deadParts_[next].PrevId) != key)
      return nullptr;
    return &deadParts_[next++];
  };
  TDiskStats &stats = disk_.Stats();
  const TPartRec *last = nullptr;
  for (const TPartRec *q = &start; q != nullptr;) {
    // The first part always counts; further ones while the allowance lasts.
    if (!budget.TakeExtent() && last != nullptr) {
      entry->AddFinding(kChainCutByLimit, last->Id, last->HeaderChunk->DataAddr);
      break;
    }
    AddPart(entry, *q);
    ++deadPartsUsed_;
    last = q;
    if (q->NextId == kNoPart) break;
    q = take(q->NextId, q->Id);
    // The rest was erased, or written over by a live part.
    if (q == nullptr)
      entry->AddFinding(kChainEndsAtMissingPart, last->Id, last->HeaderChunk->DataAddr);
  }
  if (entry->Kind == TEntryKind::Folder) {
    ++stats.DeletedFolders;
  } else {
    ++stats.DeletedFiles;
    if (entry->Damage() != 0) ++stats.DeletedIncomplete;
  }
  disk_.AddEntry(entry);
  return entry;
}

TSieFile *TDiskReader::MirrorFolder(TSieFile *deleted, TSieFile *folder) {
  if (folder == disk_.Root()) return deleted;
  if (const auto found = mirrors_.find(folder); found != mirrors_.end()) return found->second;
  // The live folders from below the root down to `folder`; the live tree
  // has no cycle, and its depth is bounded by its entries.
  std::vector<TSieFile *> way;
  for (TSieFile *f = folder; f != nullptr && f != disk_.Root(); f = f->Parent()) way.push_back(f);
  std::reverse(way.begin(), way.end());
  TSieFile *mirror = deleted;
  for (TSieFile *live : way) {
    const auto [found, made] = mirrors_.try_emplace(live, nullptr);
    if (made) {
      if (!disk_.Dump().DeletedBudget().TakeEntry()) {
        mirrors_.erase(found);
        return nullptr;
      }
      found->second = NewFolder(mirror, TEntryKind::MadeFolder, nullptr, live);
    }
    mirror = found->second;
  }
  return mirror;
}

void TDiskReader::ListDeleted() {
  if (!collectDead_ || deadChunks_.Count() == 0) return;
  PairDeadParts();
  TDiskStats &stats = disk_.Stats();
  // Only a dead first part starts a rebuilt entry, in id order.
  std::vector<int> starts;
  for (int i = 0; i < deadParts_.Count(); ++i)
    if (deadParts_[i].PrevId == kNoPart) starts.push_back(i);
  stats.DeadPartsUnreached = static_cast<std::uint32_t>(deadParts_.Count());
  if (starts.empty()) return;

  // Where a parent id leads: the first rebuilt folder of that id, else the
  // live folder of that id (mirrored below Deleted), else the top.
  std::vector<int> deadFolderAt(0x10000, -1);
  for (const int s : starts) {
    const TPartRec &p = deadParts_[s];
    if ((p.Attr & kDirectoryAttr) != 0 && deadFolderAt[p.Id] < 0) deadFolderAt[p.Id] = s;
  }
  std::vector<TSieFile *> liveFolder(0x10000, nullptr);
  if (const TList<TSieFile *> *entries = disk_.Entries()) {
    for (TSieFile *entry : *entries)
      if (entry->Kind == TEntryKind::Folder && liveFolder[entry->Id] == nullptr)
        liveFolder[entry->Id] = entry;
  }

  TEntryBudget &budget = disk_.Dump().DeletedBudget();
  if (disk_.Root() == nullptr) {
    if (!budget.TakeEntry()) return;
    EnsureRoot();
  }
  if (!budget.TakeEntry()) return;
  TSieFile *deleted = NewFolder(disk_.Root(), TEntryKind::Deleted, "Deleted");

  // The starts by parent id, for the walk below each rebuilt folder.
  std::vector<std::pair<std::uint16_t, int>> byParent;
  byParent.reserve(starts.size());
  for (const int s : starts) byParent.emplace_back(deadParts_[s].ParentId, s);
  std::stable_sort(byParent.begin(), byParent.end(),
                   [](const auto &a, const auto &b) { return a.first < b.first; });
  std::vector<std::uint8_t> made(static_cast<std::size_t>(deadParts_.Count()), 0);
  std::vector<std::pair<TSieFile *, int>> folders;  // rebuilt folders, by the start they came from
  auto make = [&](int s, TSieFile *parent) {
    made[static_cast<std::size_t>(s)] = 1;
    TSieFile *entry = DeletedEntry(parent, deadParts_[s]);
    if (entry != nullptr && entry->Kind == TEntryKind::Folder) folders.emplace_back(entry, s);
    return entry != nullptr;
  };
  // Breadth-first below each rebuilt folder; the list grows behind the walk.
  std::size_t walked = 0;
  auto walk = [&]() {
    for (; walked < folders.size(); ++walked) {
      const auto [folder, s] = folders[walked];
      if (deadFolderAt[deadParts_[s].Id] != s) continue;
      const auto run = std::equal_range(
          byParent.begin(), byParent.end(), std::pair<std::uint16_t, int>{deadParts_[s].Id, 0},
          [](const auto &a, const auto &b) { return a.first < b.first; });
      for (auto it = run.first; it != run.second; ++it)
        if (made[static_cast<std::size_t>(it->second)] == 0 && !make(it->second, folder))
          return false;
    }
    return true;
  };
  for (const int s : starts) {
    const std::uint16_t parentId = deadParts_[s].ParentId;
    const int folderAt = deadFolderAt[parentId];
    if (folderAt >= 0 && folderAt != s) continue;  // found below that folder
    TSieFile *parent = deleted;
    if (liveFolder[parentId] != nullptr) parent = MirrorFolder(deleted, liveFolder[parentId]);
    if (parent == nullptr || !make(s, parent)) return;
  }
  if (!walk()) return;
  // What only a cycle of parent ids kept from the top: each at the top,
  // with what stands below it.
  for (const int s : starts) {
    if (made[static_cast<std::size_t>(s)] != 0) continue;
    if (!make(s, deleted) || !walk()) return;
  }
  stats.DeadPartsUnreached = static_cast<std::uint32_t>(deadParts_.Count()) - deadPartsUsed_;
}

}  // namespace quarn
