// The second stage of reading a disk: the root entry, the tree below it
// breadth-first, and the removal of every part and chunk an entry uses.
#include <algorithm>

#include "entries/listing_path.h"
#include "ffs/flash_fs.h"
#include "flash/sie_disk.h"

namespace quarn {

TSieFile *TDiskReader::NewEntry(TSieFile *parent) {
  TSieFile *entry = disk_.NewEntry();
  if (parent != nullptr) entry->SetParent(parent);
  entry->Disk = &disk_;
  return entry;
}

TSieFile *TDiskReader::NewFolder(TSieFile *parent, TEntryKind kind, const char *name,
                                 const TSieFile *like) {
  TSieFile *folder = NewEntry(parent);
  folder->Attr = kDirectoryAttr;
  folder->Kind = kind;
  if (like != nullptr) {
    folder->Name = like->Name;
    folder->WideName = like->WideName;
    folder->Date = like->Date;
    folder->Time = like->Time;
  } else {
    folder->Name = name;
    folder->Date = disk_.Dump().ArcDate();
    folder->Time = disk_.Dump().ArcTime();
  }
  disk_.AddEntry(folder);
  return folder;
}

const TPartRec *TDiskReader::FindRootPart() const {
  for (const TPartRec &part : PartList)
    if (part.Id == part.ParentId) return &part;
  return nullptr;
}

TSieFile *TDiskReader::EntryFromPart(TSieFile *parent, const TPartRec *part, bool lost) {
  // Only an entry's first part starts it, under the directory it names; the
  // root part, its own parent, never becomes a child of the root.
  if (part == nullptr) return nullptr;
  if (!lost) {
    if (part->PrevId != kNoPart) return nullptr;
    if (parent != nullptr && (part->ParentId != parent->Id || part->Id == parent->Id))
      return nullptr;
  }
  if (!budget_.TakeEntry()) return nullptr;

  TSieFile *entry = NewEntry(parent);
  DescribeEntry(entry, *part);

  // The content: every part of the chain, in Next order. Nothing keeps the
  // links from coming back to a part already in the chain, so the walk ends
  // there: the entry holds each part of the loop once. What the walk finds
  // wrong with the chain is noted, for testing and extraction to report.
  if (chainMark_.size() != static_cast<std::size_t>(PartList.Count()))
    chainMark_.assign(static_cast<std::size_t>(PartList.Count()), 0);
  ++chainSerial_;
  const TPartRec *first = &PartList[0];
  const TPartRec *last = nullptr;
  // A finding at the chain's end shows at its last part, whose link goes wrong.
  auto atLast = [&](TEntryDamage damage) {
    const TPartRec *at = last != nullptr ? last : part;
    entry->AddFinding(damage, at->Id, at->HeaderChunk->DataAddr);
  };
  for (const TPartRec *q = part; q != nullptr; q = q->Next) {
    std::uint32_t &mark = chainMark_[static_cast<std::size_t>(q - first)];
    if (mark == chainSerial_) {
      atLast(kChainLoops);
      break;
    }
    mark = chainSerial_;
    if (reached_.size() > q->Id) reached_[q->Id] = 1;
    // The first part always counts; further ones only while the archive's
    // allowance lasts.
    if (!budget_.TakeExtent() && q != part) {
      atLast(kChainCutByLimit);
      break;
    }
    if (last != nullptr && q->PrevId != last->Id)
      entry->AddFinding(kChainPrevMismatch, q->Id, q->HeaderChunk->DataAddr);
    if (IsRepeated(q->Id) || IsRepeated(q->DataId))
      entry->AddFinding(kChunkIdRepeated, q->Id, q->HeaderChunk->DataAddr);
    AddPart(entry, *q);
    last = q;
  }
  if (last != nullptr && last->Next == nullptr) {
    // 0xFFFF ends a chain; any other NextId that names no part lost the rest.
    if (last->NextId != kNoPart)
      atLast(kChainEndsAtMissingPart);
    else if (namedAsPrev_.size() > last->Id && namedAsPrev_[last->Id] != 0)
      atLast(kChainLeftover);
  }
  return entry;
}

void TDiskReader::DescribeEntry(TSieFile *entry, const TPartRec &part) const {
  entry->HeaderDescAddr = part.HeaderChunk->DescAddr;
  entry->HeaderDataAddr = part.HeaderChunk->DataAddr;
  entry->DataAddr = part.DataChunk != nullptr ? part.DataChunk->DataAddr : 0;
  entry->Id = part.Id;
  entry->ParentId = part.ParentId;
  entry->Attr = part.Attr;
  entry->Kind = (part.Attr & kDirectoryAttr) != 0 ? TEntryKind::Folder : TEntryKind::File;
  entry->Date = part.Date;
  entry->Time = part.Time;
  std::u16string wide;
  entry->Name = EscapeDotPieces(DecodePartName(part.Name, part.NameLength, part.NameCut, &wide));
  if (!wide.empty()) entry->WideName = EscapeDotPieces(wide);
  // "????" is how the phone writes a name it could not store.
  if (entry->Name == "????") entry->Name = "%3F%3F%3F%3F";
  if (entry->WideName == u"????") entry->WideName = u"%3F%3F%3F%3F";
}

void TDiskReader::AddPart(TSieFile *entry, const TPartRec &q) {
  NoteFlaws(entry, *q.HeaderChunk, q.Id, q.HeaderChunk->DataAddr);
  TExtent extent;
  extent.Id = q.Id;
  extent.DataId = q.DataId;
  extent.HeaderDescAddr = q.HeaderChunk->DescAddr;
  extent.HeaderDataAddr = q.HeaderChunk->DataAddr;
  if (q.DataChunk != nullptr) {
    NoteFlaws(entry, *q.DataChunk, q.Id, q.HeaderChunk->DataAddr);
    extent.DataAddr = q.DataChunk->DataAddr;
    extent.Size = q.DataChunk->Size;
  } else {
    // Nothing of the part's content is there: an empty piece where it
    // stood, so that the parts after it are still written.
    entry->AddFinding(kDataMissing, q.Id, q.HeaderChunk->DataAddr);
    extent.DataAddr = q.HeaderChunk->DataAddr;
  }
  entry->AddExtent(std::move(extent));
}

bool TDiskReader::IsRepeated(std::uint16_t id) const {
  return repeatedId_.size() > id && repeatedId_[id] != 0;
}

bool TDiskReader::BuildTree(const TPartRec *rootPart) {
  TSieFile *root = EntryFromPart(nullptr, rootPart);
  if (root == nullptr) return false;
  // The disk's root carries the disk's name, whatever its header says.
  root->Name = DiskEntryName(disk_.DiskName());
  root->WideName.clear();
  disk_.SetRoot(root);
  WalkTree();
  FindLostFiles();
  ConsumeUsed();
  AdoptChildrenOfFiles();
  return true;
}

void TDiskReader::AdoptChildrenOfFiles() {
  // A part whose parent id names a file (its directory bit lost to damage)
  // made a file with children: a path would be both a file and a folder,
  // and nothing below it could be extracted. The children move to a folder
  // of the file's name beside it, which the listing numbers "name (2)".
  const TList<TSieFile *> &entries = *disk_.Entries();
  const int count = entries.Count();
  for (int i = 0; i < count; ++i) {
    TSieFile *file = entries[i];
    if ((file->Attr & kDirectoryAttr) != 0 || file->Children().Count() == 0) continue;
    if (file->Parent() == nullptr) {
      // The disk's root is a folder whatever its header says.
      file->Attr |= kDirectoryAttr;
      file->Kind = TEntryKind::Folder;
      continue;
    }
    if (!budget_.TakeEntry()) return;
    TSieFile *folder = NewFolder(file->Parent(), TEntryKind::MadeFolder, nullptr, file);
    while (file->Children().Count() > 0) file->Children()[0]->SetParent(folder);
  }
}

void TDiskReader::WalkTree(int from, bool skipReached) {
  const TList<TSieFile *> &entries = *disk_.Entries();
  // The list grows behind the position being walked: each entry is walked
  // once, and a part can only become the child of the one entry whose id its
  // parent id names, so the walk ends after one step per part.
  for (int i = from; i < entries.Count(); ++i) {
    TSieFile *parent = entries[i];
    // The run of parts whose parent id is the entry's, from where
    // FindFirstChild finds it: the same bisection, over the keys alone.
    int k = 0;
    int end = PartsByParent.Count();
    if (parentKeys_.size() == static_cast<std::size_t>(end)) {
      const auto run = std::equal_range(parentKeys_.begin(), parentKeys_.end(), parent->Id);
      k = static_cast<int>(run.first - parentKeys_.begin());
      end = static_cast<int>(run.second - parentKeys_.begin());
    } else if ((k = FindFirstChild(parent->Id)) < 0) {
      k = end;
    }
    for (; k < end; ++k) {
      const TPartRec *child = PartsByParent[k];
      if (child->ParentId != parent->Id) break;
      if (child->PrevId != kNoPart) continue;
      if (skipReached && reached_[child->Id] != 0) continue;
      TSieFile *entry = EntryFromPart(parent, child);
      if (entry == nullptr) continue;
      disk_.AddEntry(entry);
    }
  }
}

bool TDiskReader::FindLostFiles() {
  if (ClassifyDisk(disk_.DiskName()) != DiskKind::Plain || PartList.Count() == 0) return false;
  // Parts no entry holds, and of those the ones that go on from another
  // such part: the rest each start what is left of a chain.
  std::vector<std::uint8_t> continued(0x10000, 0);
  for (const TPartRec &q : PartList) {
    if (reached_[q.Id] == 0 && q.Next != nullptr && reached_[q.Next->Id] == 0 &&
        q.Next->PrevId == q.Id)
      continued[q.Next->Id] = 1;
  }
  std::vector<const TPartRec *> starts;
  for (const TPartRec &p : PartList)
    if (reached_[p.Id] == 0 && continued[p.Id] == 0) starts.push_back(&p);
  if (starts.empty()) return false;
  // A first part whose parent id names another first part among them is
  // found below it by the walk; the others stand at the top of LostFiles.
  std::vector<std::uint8_t> foundBelow(starts.size(), 0);
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const TPartRec *part = starts[i];
    const int at = part->PrevId == kNoPart ? FindPart(part->ParentId) : -1;
    if (at < 0) continue;
    const TPartRec &parent = PartList[at];
    foundBelow[i] = parent.Id != part->Id && reached_[parent.Id] == 0 &&
                    continued[parent.Id] == 0 && parent.PrevId == kNoPart;
  }

  if (disk_.Root() == nullptr) {
    if (!budget_.TakeEntry()) return false;
    EnsureRoot();
  }
  if (!budget_.TakeEntry()) return false;
  TSieFile *folder = NewFolder(disk_.Root(), TEntryKind::LostFiles, "LostFiles");
  // Twice at most: the second round takes the starts that only a cycle of
  // parent ids kept from the top.
  for (int round = 0; round < 2; ++round) {
    const int from = disk_.Entries()->Count();
    for (std::size_t i = 0; i < starts.size(); ++i) {
      const TPartRec *start = starts[i];
      if (reached_[start->Id] != 0 || (round == 0 && foundBelow[i] != 0)) continue;
      TSieFile *entry = EntryFromPart(folder, start, true);
      if (entry == nullptr) break;
      if (start->PrevId != kNoPart)
        entry->AddFinding(kChainHeadMissing, start->Id, start->HeaderChunk->DataAddr);
      disk_.AddEntry(entry);
    }
    WalkTree(from, true);
  }
  return true;
}

void TDiskReader::ConsumeUsed() {
  // Each entry removes its own part and header chunk, and for every extent
  // the part, its header chunk and its data chunk. A removal takes the first
  // remaining record with the id, so what goes is, for every id, the first
  // as many chunks of its run as removals name it: counted here, then
  // dropped in one pass over each list.
  std::vector<std::uint32_t> chunkRemovals(0x10000, 0);
  std::vector<std::uint8_t> partRemoved(0x10000, 0);
  for (const TSieFile *entry : *disk_.Entries()) {
    partRemoved[entry->Id] = 1;
    ++chunkRemovals[entry->Id];
    for (const TExtent &extent : entry->Extents) {
      partRemoved[extent.Id] = 1;
      ++chunkRemovals[extent.Id];
      ++chunkRemovals[extent.DataId];
    }
  }

  int kept = 0;
  for (int i = 0; i < ChunkList.Count(); ++i) {
    std::uint32_t &removals = chunkRemovals[ChunkList[i].Id];
    if (removals > 0) {
      --removals;
      continue;
    }
    if (kept != i) ChunkList.Put(kept, ChunkList[i]);
    ++kept;
  }
  ChunkList.SetCount(kept);

  // From here on the links and PartsByParent are not followed again.
  kept = 0;
  for (int i = 0; i < PartList.Count(); ++i) {
    if (partRemoved[PartList[i].Id] != 0) continue;
    if (kept != i) PartList.Put(kept, PartList[i]);
    ++kept;
  }
  PartList.SetCount(kept);
}

}  // namespace quarn
