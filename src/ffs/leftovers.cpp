// The last stage of reading a disk: the chunks no entry uses. On the two
// EEPROM disks each is an EEPROM block, listed as its payload and a short
// description; on every other disk they are lost blocks, listed as they lie
// for whoever recovers data from a damaged phone.
#include <algorithm>
#include <cstdio>

#include "ffs/flash_fs.h"
#include "flash/sie_disk.h"
#include "plugin/quarn.h"

namespace quarn {

namespace {

// The phone's hardware id that every description file states.
constexpr int kPhoneHwId = 5000;
// EEFULL blocks are numbered after EELITE's.
constexpr int kFullBlockBase = 5000;
constexpr std::uint32_t kRootAttr = 0x18;
constexpr std::uint32_t kDirAttr = 0x10;

std::string Format(const char *format, int number) {
  char text[64];
  const int length = std::snprintf(text, sizeof text, format, number);
  return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

}  // namespace

DiskKind ClassifyDisk(const std::string &diskName) {
  DiskKind kind = DiskKind::Plain;
  if (diskName == "EELITE") kind = DiskKind::EepromLite;
  if (diskName == "EEFULL") kind = DiskKind::EepromFull;
  return kind;
}

std::string EepromBlockText(int blockNumber, int versionByte) {
  char text[256];
  const int length = std::snprintf(text, sizeof text,
                                   "EEPROM block additional file.\r\nPhone HWid:\r\n %d \r\n"
                                   "EEPROM BlockId:\r\n %d \r\nEEPROM BlockVer:\r\n %d \r\n",
                                   kPhoneHwId, blockNumber, versionByte);
  if (length <= 0) return std::string();
  return std::string(text, static_cast<std::size_t>(length) < sizeof text - 1
                               ? static_cast<std::size_t>(length)
                               : sizeof text - 1);
}

void TDiskReader::AddEntry(TSieFile *entry) {
  if (!disk_.Entries) disk_.Entries = std::make_unique<TList<TSieFile *>>();
  disk_.Entries->Add(entry);
}

void TDiskReader::EnsureRoot() {
  if (disk_.Root != nullptr) return;
  TSieFile *root = NewEntry(nullptr);
  root->Attr = kRootAttr;
  root->Name = EscapeDotPieces(ShortName(disk_.DiskName()));
  disk_.Root = root;
  AddEntry(root);
}

void TDiskReader::ListLeftovers() {
  const DiskKind kind = ClassifyDisk(disk_.DiskName());
  const int chunks = ChunkList.Count();
  if (kind == DiskKind::Plain && chunks == 0) return;
  if (disk_.Root == nullptr && !budget_.TakeEntry()) return;
  EnsureRoot();
  const std::uint16_t date = disk_.Owner != nullptr ? disk_.Owner->ArcDate : 0;
  const std::uint16_t time = disk_.Owner != nullptr ? disk_.Owner->ArcTime : 0;

  if (kind == DiskKind::Plain) {
    if (!budget_.TakeEntry()) return;
    TSieFile *folder = NewEntry(disk_.Root);
    folder->Name = "LostBlocks";
    folder->Attr = kDirAttr;
    folder->Date = date;
    folder->Time = time;
    AddEntry(folder);
    for (int i = 0; i < chunks && budget_.TakeEntry(); ++i) {
      const TChunk &chunk = ChunkList[i];
      TSieFile *block = NewEntry(folder);
      block->Name = Format("block %d.bin", static_cast<int>(chunk.Id));
      block->Date = date;
      block->Time = time;
      TExtent extent;
      extent.DataAddr = chunk.DataAddr;
      extent.Size = chunk.Size;
      block->AddExtent(std::move(extent));
      AddEntry(block);
    }
    return;
  }

  const bool full = kind == DiskKind::EepromFull;
  for (int i = 0; i < chunks && budget_.Entries >= 2; ++i) {
    budget_.Entries -= 2;
    const TChunk &chunk = ChunkList[i];
    const int number = static_cast<int>(chunk.Id) + (full ? kFullBlockBase : 0);

    // One byte of the chunk is the block's version, the rest its payload. A
    // chunk of size 0 has neither: an empty block of version 0.
    const std::uint32_t payloadSize = chunk.Size > 0 ? chunk.Size - 1 : 0;
    TSieFile *block = NewEntry(disk_.Root);
    block->Name = Format("eeprom 1_%d.bin", number);
    block->Date = date;
    block->Time = time;
    TExtent payload;
    payload.DataAddr = full ? chunk.DataAddr + 1 : chunk.DataAddr;
    payload.Size = payloadSize;
    block->AddExtent(std::move(payload));
    AddEntry(block);

    int version = 0;
    if (chunk.Size > 0)
      version = image_.ReadByte(full ? chunk.DataAddr : chunk.DataAddr + chunk.Size - 1);
    const std::string text = EepromBlockText(number, version);
    TSieFile *description = NewEntry(disk_.Root);
    description->Name = Format("eeprom 1_%d.bid", number);
    description->Date = date;
    description->Time = time;
    TExtent textExtent;
    textExtent.Size = static_cast<std::uint32_t>(text.size());
    textExtent.Buffer = std::make_unique<std::uint8_t[]>(text.size());
    std::copy(text.begin(), text.end(), textExtent.Buffer.get());
    description->AddExtent(std::move(textExtent));
    AddEntry(description);
  }
}

}  // namespace quarn
