// The first stage of reading a disk: collect the live chunks, pair header and
// data chunks into parts, link each part to the next part of its entry. Every
// step is a sort, one pass over neighbours, a sort-merge join or a bisection,
// so the stage is O(n log n) in the number of live chunks.
#include <algorithm>

#include "ffs/flash_fs.h"
#include "ffs/sorting.h"
#include "flash/sie_disk.h"

namespace quarn {

namespace {

constexpr int kPrefetchAhead = 8;

}  // namespace

TDiskReader::TDiskReader(TSieDisk &disk, TEntryBudget &budget)
    : disk_(disk), budget_(budget), image_(disk.Dump().Window()) {}

void TDiskReader::ChunkScan() {
  TDiskStats &stats = disk_.Stats();
  collectDead_ = disk_.Dump().ShowDeleted() && ClassifyDisk(disk_.DiskName()) == DiskKind::Plain;
  const std::uint32_t blocks = disk_.BlockCount();
  for (std::uint32_t b = 0; b < blocks; ++b) {
    const TBlockRef block = disk_.Block(b);
    const std::uint32_t a = block.Addr;
    // The slot at the block's first byte is never a descriptor: a block of S
    // bytes has S/16 - 1 slots. Blocks lie in the flash window and are at
    // most 16 MiB, so the end cannot wrap; guard it all the same.
    const std::uint64_t end = static_cast<std::uint64_t>(a) + block.Size;
    if (block.Size < 2 * chunk_descriptor::kSize || end > 0x100000000ULL) continue;
    const int first = ChunkList.Count();
    // Where the descriptor table ends below, and the furthest a dead chunk's
    // data reaches, as offsets in the block: what lies between the data and
    // the table is unwritten.
    std::uint32_t tableLow = block.Size;
    std::uint32_t deadReach = 0;
    for (auto d = static_cast<std::uint32_t>(end - chunk_descriptor::kSize); d > a;
         d -= chunk_descriptor::kSize) {
      const std::uint8_t *slot = image_.Translate(d);
      if (slot != nullptr && *slot == kUnwrittenSlot) {
        // This slot and every one below it are still erased.
        stats.UnwrittenSlots += (d - a) / chunk_descriptor::kSize;
        tableLow = d + chunk_descriptor::kSize - a;
        break;
      }
      tableLow = d - a;
      if (std::optional<TChunk> chunk = ReadChunk(a, d)) {
        // Past the archive's allowance, no further chunk is collected.
        if (!budget_.TakeChunk()) {
          stats.CutByLimit = true;
          CheckPlaces(first, a, block.Size);
          return;
        }
        ChunkList.Add(*chunk);
        ++stats.LiveSlots;
      } else {
        ++stats.DeadSlots;
        deadReach = std::max(deadReach, NoteDeadSlot(a, block.Size, d));
      }
    }
    const std::uint32_t dataEnd = std::max(CheckPlaces(first, a, block.Size), deadReach);
    if (tableLow > dataEnd) stats.UnwrittenBytes += tableLow - dataEnd;
  }
}

std::optional<TChunk> TDiskReader::ReadChunk(std::uint32_t blockAddr,
                                             std::uint32_t descAddr) const {
  // A descriptor is taken only when all its 16 bytes lie inside the image.
  const std::uint8_t *d = image_.Span(descAddr, chunk_descriptor::kSize);
  if (d == nullptr || LoadU32(d + chunk_descriptor::Marker) != ChunkMarker) return std::nullopt;
  const std::uint32_t id = LoadU32(d + chunk_descriptor::Id);
  if (id > 0xFFFF) return std::nullopt;
  TChunk chunk;
  chunk.DescAddr = descAddr;
  chunk.Id = id;
  chunk.Size = LoadU32(d + chunk_descriptor::Size);
  chunk.DataAddr = blockAddr + LoadU32(d + chunk_descriptor::DataOffset);
  return chunk;
}

std::uint32_t TDiskReader::CheckPlaces(int first, std::uint32_t blockAddr,
                                       std::uint32_t blockSize) {
  const int last = ChunkList.Count();
  byPlace_.clear();
  for (int i = first; i < last; ++i) {
    TChunk &chunk = ChunkList[i];
    // The data offset is unsigned: an address below the block wraps to an
    // offset past its end.
    const std::uint32_t offset = chunk.DataAddr - blockAddr;
    if (offset >= blockSize) {
      chunk.Size = 0;
      chunk.Flaws |= kPastItsBlock;
    } else if (chunk.Size > blockSize - offset) {
      chunk.Size = blockSize - offset;
      chunk.Flaws |= kPastItsBlock;
    }
    if (chunk.Size > 0) byPlace_.emplace_back(offset, i);
    disk_.Stats().LiveBytes += chunk.Size;
  }
  // Live chunks of one block share no byte: by data address, each must begin
  // where every one before it has ended.
  std::sort(byPlace_.begin(), byPlace_.end());
  std::uint64_t reach = 0;  // the furthest end so far, as an offset
  int reacher = -1;         // the chunk that reaches it
  for (const auto &[offset, i] : byPlace_) {
    TChunk &chunk = ChunkList[i];
    if (reacher >= 0 && offset < reach) {
      chunk.Flaws |= kOverlapping;
      ChunkList[reacher].Flaws |= kOverlapping;
    }
    const std::uint64_t end = std::uint64_t{offset} + chunk.Size;
    if (end > reach) {
      reach = end;
      reacher = i;
    }
  }
  return static_cast<std::uint32_t>(reach);
}

const TChunk *TDiskReader::PairedData(const TList<TChunk> &chunks, int run, const TChunk &header) {
  const std::uint32_t id = header.Id + 1;
  for (int i = run; i < chunks.Count() && chunks[i].Id == id; ++i)
    if (chunks[i].DescAddr == header.DescAddr - chunk_descriptor::kSize) return &chunks[i];
  return &chunks[run];
}

bool TDiskReader::PartFromHeader(const TChunk &q, const TChunk *data, TPartRec &part) const {
  if ((q.Id & 1) != 0 || q.Size < part_header::kSize) return false;
  const std::uint8_t *header = image_.Span(q.DataAddr, part_header::kSize);
  if (header == nullptr || LoadU16(header + part_header::Id) != q.Id ||
      LoadU16(header + part_header::DataId) != q.Id + 1)
    return false;
  // The name, up to the NUL or the 255 bytes taken when there is none, must
  // lie inside the image.
  const std::uint32_t nameAddr = q.DataAddr + part_header::Name;
  const std::uint32_t available = image_.Available(nameAddr);
  const std::uint8_t *name = image_.Translate(nameAddr);
  if (name == nullptr) return false;
  const std::uint32_t limit = available < kMaxNameBytes ? available : kMaxNameBytes;
  std::uint32_t length = 0;
  while (length < limit && name[length] != 0) ++length;
  if (length == limit && limit < kMaxNameBytes) return false;

  part = TPartRec();
  part.Header = header;
  part.Id = static_cast<std::uint16_t>(q.Id);
  part.HeaderChunk = &q;
  part.ParentId = LoadU16(header + part_header::ParentId);
  part.DataId = static_cast<std::uint16_t>(q.Id + 1);
  part.DataChunk = data;
  part.NextId = LoadU16(header + part_header::NextId);
  part.PrevId = LoadU16(header + part_header::PrevId);
  part.Attr = LoadU16(header + part_header::Attr);
  part.Date = LoadU16(header + part_header::Date);
  part.Time = LoadU16(header + part_header::Time);
  part.Name = name;
  part.NameLength = static_cast<std::uint16_t>(length);
  part.NameCut = length == kMaxNameBytes && (available == kMaxNameBytes || name[length] != 0);
  return true;
}

void TDiskReader::NoteFlaws(TSieFile *entry, const TChunk &chunk, std::uint16_t partId,
                            std::uint32_t address) {
  if ((chunk.Flaws & kPastItsBlock) != 0) entry->AddFinding(kChunkPastBlock, partId, address);
  if ((chunk.Flaws & kOverlapping) != 0) entry->AddFinding(kChunkOverlaps, partId, address);
}

void TDiskReader::SortChunks() {
  // Ids are 16-bit: a radix sort, linear and stable, so chunks with equal
  // ids keep the order the scan found them in and a dump always reads the
  // same way.
  SortBy16(ChunkList, [](const TChunk &c) { return c.Id; });
  repeatedId_.assign(0x10000, 0);
  for (int k = 1; k < ChunkList.Count(); ++k)
    if (ChunkList[k].Id == ChunkList[k - 1].Id) repeatedId_[ChunkList[k].Id] = 1;
}

void TDiskReader::PairParts() {
  const int n = ChunkList.Count();
  PartList.SetCapacity(n / 2 + 1);
  // On a file system's disk a header whose data chunk is gone still makes
  // its part, so that its entry, the entries below it and the rest of its
  // chain are not lost; on the EEPROM disks such a chunk stays an EEPROM
  // block.
  const bool keepDataless = ClassifyDisk(disk_.DiskName()) == DiskKind::Plain;
  // The deleted view asks which live part has which id, parent and name.
  if (keepDataless && disk_.Dump().ShowDeleted()) liveHeaders_.assign(0x10000, {});
  // Run by run of one id: the header is the last chunk of the run that holds
  // a sound header (a stale or foreign chunk of the same id does not hide
  // it), the data chunk the one of the next id written right after it in
  // the same block, else the first of that run.
  for (int k = 0; k < n;) {
    int end = k + 1;
    while (end < n && ChunkList[end].Id == ChunkList[k].Id) ++end;
    const int run = k;
    k = end;
    // Headers lie all over the dump, in no order the ids follow: ask for a
    // later one while this one is read.
    if (end + kPrefetchAhead < n) {
      if (const std::uint8_t *ahead = image_.Translate(ChunkList[end + kPrefetchAhead].DataAddr))
        __builtin_prefetch(ahead);
    }
    const std::uint32_t id = ChunkList[run].Id;
    if ((id & 1) != 0) continue;
    const bool dataRun = end < n && ChunkList[end].Id == id + 1;
    if (!dataRun && !keepDataless) continue;
    TPartRec part;
    const TChunk *found = nullptr;
    for (int i = end; i-- > run;) {
      if (PartFromHeader(ChunkList[i], nullptr, part)) {
        found = &ChunkList[i];
        break;
      }
    }
    if (found == nullptr) continue;
    if (dataRun) part.DataChunk = PairedData(ChunkList, end, *found);
    if (!liveHeaders_.empty()) liveHeaders_[id] = {part.Name, part.NameLength, part.ParentId};
    PartList.Add(part);
  }
  disk_.Stats().Parts = static_cast<std::uint32_t>(PartList.Count());
  // Made in ascending chunk order, so already sorted by Id; part ids are
  // unique, as a part forms only where the run of one id meets the next.
}

void TDiskReader::JoinLinks() {
  const int n = PartList.Count();
  PartsByParent.SetCapacity(n);
  for (const TPartRec &part : PartList) PartsByParent.Add(&part);
  SortBy16(PartsByParent, [](const TPartRec *p) { return std::uint32_t{p->NextId}; });

  // One sort-merge join of the parts by Id against the parts by NextId. On
  // equal keys the NextId side advances, so every part naming an existing
  // part is linked to it.
  for (int i = 0, j = 0; i < n && j < n;) {
    const TPartRec &p = PartList[i];
    auto *c = const_cast<TPartRec *>(PartsByParent[j]);
    if (p.Id == c->NextId) c->Next = &p;
    if (p.Id < c->NextId)
      ++i;
    else
      ++j;
  }

  // Children of one directory in part id order: the copy is taken afresh from
  // PartList, and the sort keeps that order among equal parents.
  for (int i = 0; i < n; ++i) PartsByParent.Put(i, &PartList[i]);
  SortBy16(PartsByParent, [](const TPartRec *p) { return std::uint32_t{p->ParentId}; });
  // The tree walk looks each directory's children up in these, without a
  // trip to every record on the way.
  parentKeys_.resize(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) parentKeys_[static_cast<std::size_t>(i)] = PartsByParent[i]->ParentId;
  // A chain that ends although a part goes on from its last one lost a link.
  namedAsPrev_.assign(0x10000, 0);
  reached_.assign(0x10000, 0);
  for (const TPartRec &p : PartList)
    if (p.PrevId != kNoPart) namedAsPrev_[p.PrevId] = 1;
}

int TDiskReader::FindChunk(std::uint32_t id) const {
  return FindFirst(ChunkList, id, [](const TChunk &c) { return c.Id; });
}

int TDiskReader::FindPart(std::uint32_t id) const {
  return FindFirst(PartList, id, [](const TPartRec &p) { return std::uint32_t{p.Id}; });
}

int TDiskReader::FindFirstChild(std::uint32_t parentId) const {
  return FindFirst(PartsByParent, parentId,
                   [](const TPartRec *p) { return std::uint32_t{p->ParentId}; });
}

void TDiskReader::RemoveChunk(std::uint32_t id) {
  const int index = FindChunk(id);
  if (index >= 0) ChunkList.Delete(index);
}

void TDiskReader::RemovePart(std::uint32_t id) {
  const int index = FindPart(id);
  if (index >= 0) PartList.Delete(index);
}

}  // namespace quarn
