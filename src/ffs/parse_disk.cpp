// Reading a flash disk's file system into entries.
#include "ffs/flash_fs.h"
#include "flash/sie_disk.h"

namespace quarn {

void TSieDisk::ParseDisk() {
  ReleaseEntries();
  TDiskReader reader(*this, Dump().Budget());
  reader.Run();
}

void TDiskReader::Run() {
  ChunkScan();
  if (ChunkList.Count() > 0) {
    SortChunks();
    PairParts();
    JoinLinks();
    // A disk without a root part still lists its leftover chunks; one whose
    // root part is refused lists nothing of its own.
    const TPartRec *rootPart = FindRootPart();
    if (rootPart != nullptr) {
      if (!BuildTree(rootPart)) return;
    } else if (FindLostFiles()) {
      ConsumeUsed();
      AdoptChildrenOfFiles();
    }
    ListLeftovers();
  }
  // After the live tree, which it mirrors and which supersedes it.
  ListDeleted();
}

}  // namespace quarn
