// The first stage of reading a disk: collect the live chunks, pair header and
// data chunks into parts, link each part to the next part of its entry. Every
// step is a sort, one pass over neighbours, a sort-merge join or a bisection,
// so the stage is O(n log n) in the number of live chunks.
#include <algorithm>
#include <array>

#include "ffs/flash_fs.h"
#include "flash/sie_disk.h"

namespace quarn {

namespace {

// The smallest index whose key equals `value`, or -1, in a list sorted by
// that key. The first of a run is found, since callers walk the run forward.
template <typename List, typename Key>
int FindFirst(const List &list, std::uint32_t value, Key key) {
  if (list.Count() == 0) return -1;
  int lo = 0;
  int hi = list.Count() - 1;
  if (key(list[0]) == value) return 0;
  while (hi - lo > 1) {
    const int mid = lo + (hi - lo) / 2;
    if (key(list[mid]) < value)
      lo = mid;
    else
      hi = mid;
  }
  return key(list[hi]) == value ? hi : -1;
}

// Sorts a list by a 16-bit key, keeping the order of equal keys: two
// counting passes of eight bits each, linear in the items and with tables
// small enough to stay in the cache.
template <typename T, typename Key>
void SortBy16(TList<T> &list, Key key) {
  const int n = list.Count();
  if (n < 2) return;
  std::vector<T> other(static_cast<std::size_t>(n));
  auto pass = [&key](auto from, auto to, auto out, unsigned shift) {
    std::array<std::uint32_t, 257> start{};
    for (auto it = from; it != to; ++it) ++start[((key(*it) >> shift) & 0xFFu) + 1];
    for (std::size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
    for (auto it = from; it != to; ++it) out[start[(key(*it) >> shift) & 0xFFu]++] = *it;
  };
  pass(list.begin(), list.end(), other.begin(), 0);
  pass(other.begin(), other.end(), list.begin(), 8);
}

constexpr int kPrefetchAhead = 8;

}  // namespace

TDiskReader::TDiskReader(TSieDisk &disk, TEntryBudget &budget)
    : disk_(disk), budget_(budget), image_(disk.Dump().Window()) {}

void TDiskReader::ChunkScan() {
  TDiskStats &stats = disk_.Stats();
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
    for (auto d = static_cast<std::uint32_t>(end - chunk_descriptor::kSize); d > a;
         d -= chunk_descriptor::kSize) {
      const std::uint8_t *slot = image_.Translate(d);
      if (slot != nullptr && *slot == kUnwrittenSlot) {
        // This slot and every one below it are still erased.
        stats.UnwrittenSlots += (d - a) / chunk_descriptor::kSize;
        break;
      }
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
      }
    }
    CheckPlaces(first, a, block.Size);
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

void TDiskReader::CheckPlaces(int first, std::uint32_t blockAddr, std::uint32_t blockSize) {
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
  // Whether chunk q holds a part header for its own id, with its name inside
  // the image (up to the NUL, or the 255 bytes taken when there is none).
  struct Header {
    const std::uint8_t *Bytes = nullptr;
    const std::uint8_t *Name = nullptr;
    std::uint32_t Length = 0;
    std::uint32_t Available = 0;
  };
  auto headerOf = [this](const TChunk &q, Header &h) {
    if ((q.Id & 1) != 0 || q.Size < part_header::kSize) return false;
    h.Bytes = image_.Span(q.DataAddr, part_header::kSize);
    if (h.Bytes == nullptr || LoadU16(h.Bytes + part_header::Id) != q.Id ||
        LoadU16(h.Bytes + part_header::DataId) != q.Id + 1)
      return false;
    const std::uint32_t nameAddr = q.DataAddr + part_header::Name;
    h.Available = image_.Available(nameAddr);
    h.Name = image_.Translate(nameAddr);
    if (h.Name == nullptr) return false;
    const std::uint32_t limit = h.Available < kMaxNameBytes ? h.Available : kMaxNameBytes;
    h.Length = 0;
    while (h.Length < limit && h.Name[h.Length] != 0) ++h.Length;
    // The image ended before the NUL and before the 255 bytes taken.
    return !(h.Length == limit && limit < kMaxNameBytes);
  };
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
    const TChunk *found = nullptr;
    Header h;
    for (int i = end; i-- > run;) {
      if (headerOf(ChunkList[i], h)) {
        found = &ChunkList[i];
        break;
      }
    }
    if (found == nullptr) continue;
    const TChunk &q = *found;
    const TChunk *r = nullptr;
    if (dataRun) {
      r = &ChunkList[end];
      for (int i = end; i < n && ChunkList[i].Id == id + 1; ++i) {
        if (ChunkList[i].DescAddr == q.DescAddr - chunk_descriptor::kSize) {
          r = &ChunkList[i];
          break;
        }
      }
    }

    TPartRec part;
    part.Header = h.Bytes;
    part.Id = static_cast<std::uint16_t>(q.Id);
    part.HeaderChunk = &q;
    part.ParentId = LoadU16(h.Bytes + part_header::ParentId);
    part.DataId = static_cast<std::uint16_t>(id + 1);
    part.DataChunk = r;
    part.NextId = LoadU16(h.Bytes + part_header::NextId);
    part.PrevId = LoadU16(h.Bytes + part_header::PrevId);
    part.Attr = LoadU16(h.Bytes + part_header::Attr);
    part.Date = LoadU16(h.Bytes + part_header::Date);
    part.Time = LoadU16(h.Bytes + part_header::Time);
    part.Name = h.Name;
    part.NameLength = static_cast<std::uint16_t>(h.Length);
    part.NameCut =
        h.Length == kMaxNameBytes && (h.Available == kMaxNameBytes || h.Name[h.Length] != 0);
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
