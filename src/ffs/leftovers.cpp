// The last stage of reading a disk: the chunks no entry uses. On the two
// EEPROM disks each is an EEPROM block, listed as its payload and a short
// description; on every other disk they are lost blocks, listed as they lie
// for whoever recovers data from a damaged phone.
#include <algorithm>
#include <charconv>
#include <string_view>

#include "entries/listing_path.h"
#include "ffs/flash_fs.h"
#include "flash/sie_disk.h"

namespace quarn {

namespace {

// The phone's hardware id that every description file states.
constexpr int kPhoneHwId = 5000;
// EEFULL blocks are numbered after EELITE's.
constexpr int kFullBlockBase = 5000;
constexpr std::uint32_t kRootAttr = 0x18;

// Appends a number in decimal.
void AppendDecimal(std::string &text, int number) {
  char digits[16];
  const auto result = std::to_chars(digits, digits + sizeof digits, number);
  text.append(digits, result.ptr);
}

// `prefix`, the number in decimal, then `suffix`: the names "eeprom 1_%d.bin"
// and "block %d.bin" without a trip through a format string per entry.
std::string Numbered(std::string_view prefix, int number, std::string_view suffix) {
  std::string text;
  text.reserve(prefix.size() + 11 + suffix.size());  // one allocation at most
  text.append(prefix);
  AppendDecimal(text, number);
  text.append(suffix);
  return text;
}

}  // namespace

DiskKind ClassifyDisk(const std::string &diskName) {
  DiskKind kind = DiskKind::Plain;
  if (diskName == "EELITE") kind = DiskKind::EepromLite;
  if (diskName == "EEFULL") kind = DiskKind::EepromFull;
  return kind;
}

std::string EepromBlockText(int blockNumber, int versionByte) {
  // "EEPROM block additional file.\r\nPhone HWid:\r\n %d \r\nEEPROM BlockId:\r\n
  // %d \r\nEEPROM BlockVer:\r\n %d \r\n" with the hardware id, the block's
  // number and its version: 91 bytes and the digits, never near 255.
  std::string text;
  text.reserve(112);
  auto number = [&text](int value) {
    text += ' ';
    AppendDecimal(text, value);
    text.append(" \r\n");
  };
  text.append("EEPROM block additional file.\r\nPhone HWid:\r\n");
  number(kPhoneHwId);
  text.append("EEPROM BlockId:\r\n");
  number(blockNumber);
  text.append("EEPROM BlockVer:\r\n");
  number(versionByte);
  if (text.size() > kMaxNameBytes) text.resize(kMaxNameBytes);
  return text;
}

void TDiskReader::EnsureRoot() {
  if (disk_.Root() != nullptr) return;
  TSieFile *root = NewEntry(nullptr);
  root->Attr = kRootAttr;
  root->Kind = TEntryKind::MadeFolder;
  root->Name = DiskEntryName(disk_.DiskName());
  disk_.SetRoot(root);
}

void TDiskReader::ListLeftovers() {
  const DiskKind kind = ClassifyDisk(disk_.DiskName());
  const int chunks = ChunkList.Count();
  if (kind == DiskKind::Plain && chunks == 0) return;
  if (disk_.Root() == nullptr && !budget_.TakeEntry()) return;
  EnsureRoot();
  const std::uint16_t date = disk_.Dump().ArcDate();
  const std::uint16_t time = disk_.Dump().ArcTime();
  // Room for every file to come at once: a crafted disk's hundreds of
  // thousands would otherwise move their lists many times.
  const int coming = static_cast<int>(std::min<std::uint64_t>(
      std::uint64_t{static_cast<std::uint32_t>(chunks)} * (kind == DiskKind::Plain ? 1 : 2),
      budget_.Entries));
  disk_.ReserveEntries(coming + 1);

  if (kind == DiskKind::Plain) {
    if (!budget_.TakeEntry()) return;
    TSieFile *folder = NewFolder(disk_.Root(), TEntryKind::MadeFolder, "LostBlocks");
    folder->ReserveChildren(coming);
    for (int i = 0; i < chunks && budget_.TakeEntry(); ++i) {
      const TChunk &chunk = ChunkList[i];
      TSieFile *block = NewEntry(folder);
      block->Name = Numbered("block ", static_cast<int>(chunk.Id), ".bin");
      block->Kind = TEntryKind::LostBlock;
      block->Date = date;
      block->Time = time;
      TExtent extent;
      extent.Id = extent.DataId = static_cast<std::uint16_t>(chunk.Id);
      extent.DataAddr = chunk.DataAddr;
      extent.Size = chunk.Size;
      block->Extents.SetCapacity(1);  // its one extent: a crafted disk has many such files
      block->AddExtent(std::move(extent));
      NoteFlaws(block, chunk, static_cast<std::uint16_t>(chunk.Id), chunk.DataAddr);
      disk_.AddEntry(block);
    }
    return;
  }

  const bool full = kind == DiskKind::EepromFull;
  disk_.Root()->ReserveChildren(disk_.Root()->Children().Count() + coming);
  // A block file and its description come in pairs.
  for (int i = 0; i < chunks && budget_.TakeEntry(2); ++i) {
    const TChunk &chunk = ChunkList[i];
    const int number = static_cast<int>(chunk.Id) + (full ? kFullBlockBase : 0);

    // One byte of the chunk is the block's version, the rest its payload. A
    // chunk of size 0 has neither: an empty block of version 0.
    const std::uint32_t payloadSize = chunk.Size > 0 ? chunk.Size - 1 : 0;
    TSieFile *block = NewEntry(disk_.Root());
    block->Name = Numbered("eeprom 1_", number, ".bin");
    block->Kind = TEntryKind::EepromBlock;
    block->Date = date;
    block->Time = time;
    TExtent payload;
    payload.Id = payload.DataId = static_cast<std::uint16_t>(chunk.Id);
    payload.DataAddr = full ? chunk.DataAddr + 1 : chunk.DataAddr;
    payload.Size = payloadSize;
    block->Extents.SetCapacity(1);  // its one extent: a crafted disk has many such files
    block->AddExtent(std::move(payload));
    NoteFlaws(block, chunk, static_cast<std::uint16_t>(chunk.Id), chunk.DataAddr);
    disk_.AddEntry(block);

    int version = 0;
    if (chunk.Size > 0)
      version = image_.ReadByte(full ? chunk.DataAddr : chunk.DataAddr + chunk.Size - 1);
    const std::string text = EepromBlockText(number, version);
    TSieFile *description = NewEntry(disk_.Root());
    description->Name = Numbered("eeprom 1_", number, ".bid");
    description->Kind = TEntryKind::EepromText;
    description->Date = date;
    description->Time = time;
    TExtent textExtent;
    textExtent.Id = textExtent.DataId = static_cast<std::uint16_t>(chunk.Id);
    textExtent.Size = static_cast<std::uint32_t>(text.size());
    textExtent.Buffer = std::make_unique_for_overwrite<std::uint8_t[]>(text.size());
    std::copy(text.begin(), text.end(), textExtent.Buffer.get());
    description->Extents.SetCapacity(1);
    description->AddExtent(std::move(textExtent));
    disk_.AddEntry(description);
  }
}

}  // namespace quarn
