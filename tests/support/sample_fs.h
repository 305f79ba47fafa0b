// A dump whose disks hold flash file systems, and the listing a host must
// see of it, for the tests that drive the built plugin and the command:
//
//   FFS     a root with nested folders, a UTF-8 name, a file chained over
//           three parts in two blocks, a read-only file, an empty file and
//           one chunk that belongs to no entry (a lost block);
//   EELITE  no file system, two leftover chunks: EEPROM blocks 12 and 14;
//   EEFULL  a root with one file, and one leftover chunk: EEPROM block 5012.
//
//   const SampleFs sample = FlashFsSample(DosDate(2005, 3, 15), DosTime(12, 34, 56), "\xC3\xA9");
//   sample.Dump.Save(path);                      // then give the file that last-write time
//   for (const SampleEntry &e : sample.Listing)  // in the plugin's order
#ifndef QUARN_TESTS_SAMPLE_FS_H
#define QUARN_TESTS_SAMPLE_FS_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "ffs_builder.h"

namespace quarn::testing {

constexpr std::uint16_t DosDate(int year, int month, int day) {
  return static_cast<std::uint16_t>((year - 1980) << 9 | month << 5 | day);
}
constexpr std::uint16_t DosTime(int hour, int minute, int second) {
  return static_cast<std::uint16_t>(hour << 11 | minute << 5 | second / 2);
}

// The calendar fields of a DOS date and time.
struct DosFields {
  int Year, Month, Day, Hour, Minute, Second;
};
constexpr DosFields SplitDos(std::uint16_t date, std::uint16_t time) {
  return {1980 + (date >> 9), date >> 5 & 0x0F, date & 0x1F,
          time >> 11,         time >> 5 & 0x3F, (time & 0x1F) * 2};
}

// One entry as the core lists it.
struct SampleEntry {
  std::string Path;    // backslash-separated, names in the host's narrow code page
  std::uint32_t Attr;  // FAT attribute bits as stored
  std::uint16_t Date;  // DOS date
  std::uint16_t Time;  // DOS time
  std::vector<std::uint8_t> Content{};

  bool Directory() const { return (Attr & 0x10) != 0; }
  std::uint32_t Size() const { return static_cast<std::uint32_t>(Content.size()); }
};

struct SampleFs {
  DumpBuilder Dump;
  std::vector<SampleEntry> Listing;  // sorted by path, byte by byte, as the plugin sorts
};

// The bytes of a disk's blocks, one after the other.
inline std::vector<std::uint8_t> BlockBytes(const DumpBuilder &dump,
                                            const std::vector<BlockRef> &blocks) {
  std::vector<std::uint8_t> bytes;
  for (const BlockRef &b : blocks) {
    const auto from = dump.Data().begin() + (b.Addr & 0x1FFFFFF);
    bytes.insert(bytes.end(), from, from + b.Size);
  }
  return bytes;
}

// `arcDate` and `arcTime` are the DOS form of the last-write time the dump's
// file will be given: raw images, EEPROM blocks and lost blocks carry it.
// `eAcute` is U+00E9 in the host's narrow code page.
inline SampleFs FlashFsSample(std::uint16_t arcDate, std::uint16_t arcTime,
                              const std::string &eAcute) {
  SampleFs sample;
  DumpBuilder &dump = sample.Dump;
  std::vector<SampleEntry> &listing = sample.Listing;
  const std::vector<BlockRef> ffsBlocks = {{At(0x100000), 0x10000}, {At(0x110000), 0x10000}};
  const std::vector<BlockRef> liteBlocks = {{At(0x200000), 0x10000}};
  const std::vector<BlockRef> fullBlocks = {{At(0x300000), 0x10000}};
  dump.Disk(0x100, "FFS", 0x1000, 0x2000, ffsBlocks, false);
  dump.Disk(0x100 + 44, "EELITE", 0x1010, 0x2100, liteBlocks, false);
  dump.Disk(0x100 + 88, "EEFULL", 0x1020, 0x2200, fullBlocks, false);

  // An entry of one part, placed where the file system has room.
  auto put = [](FlashFs &fs, std::uint16_t parent, const std::string &name, std::uint16_t attr,
                std::uint16_t date, std::uint16_t time, const std::vector<std::uint8_t> &content) {
    const std::uint16_t id = fs.NewId();
    fs.Place({.Id = id, .ParentId = parent, .Time = time, .Date = date, .Attr = attr, .Name = name},
             content);
    return id;
  };

  // FFS. The root part's own name gives way to the disk's.
  FlashFs ffs(dump, ffsBlocks);
  const std::uint16_t root = ffs.Root("FLASH");
  listing.push_back({"FFS", kDirAttr, kSampleDate, kSampleTime});

  const std::uint16_t docs =
      put(ffs, root, "Docs", kDirAttr, DosDate(2001, 2, 3), DosTime(4, 5, 6), {});
  listing.push_back({"FFS\\Docs", kDirAttr, DosDate(2001, 2, 3), DosTime(4, 5, 6)});
  const std::uint16_t notes =
      put(ffs, docs, "Notes", kDirAttr, DosDate(2002, 3, 4), DosTime(5, 6, 8), {});
  listing.push_back({"FFS\\Docs\\Notes", kDirAttr, DosDate(2002, 3, 4), DosTime(5, 6, 8)});
  const std::vector<std::uint8_t> deep = Bytes("three folders down\n");
  put(ffs, notes, "deep.txt", kFileAttr, DosDate(2003, 4, 5), DosTime(6, 7, 8), deep);
  listing.push_back(
      {"FFS\\Docs\\Notes\\deep.txt", kFileAttr, DosDate(2003, 4, 5), DosTime(6, 7, 8), deep});
  const std::vector<std::uint8_t> cafe = Bytes("a name in UTF-8\n");
  put(ffs, docs,
      "\x1F"
      "caf\xC3\xA9.txt",
      kFileAttr, DosDate(2010, 1, 2), DosTime(3, 4, 6), cafe);
  listing.push_back(
      {"FFS\\Docs\\caf" + eAcute + ".txt", kFileAttr, DosDate(2010, 1, 2), DosTime(3, 4, 6), cafe});

  const std::vector<std::uint8_t> readOnly = Bytes("do not touch\n");
  put(ffs, root, "readonly.txt", 0x21, DosDate(2004, 6, 7), DosTime(8, 9, 10), readOnly);
  listing.push_back({"FFS\\readonly.txt", 0x21, DosDate(2004, 6, 7), DosTime(8, 9, 10), readOnly});
  put(ffs, root, "empty.txt", kFileAttr, DosDate(2006, 11, 30), DosTime(23, 58, 0), {});
  listing.push_back({"FFS\\empty.txt", kFileAttr, DosDate(2006, 11, 30), DosTime(23, 58, 0)});

  // chain.dat: parts a, c and b in that chain order, so content follows the
  // links and not the ids; a and b in the first block, c in the second.
  std::vector<std::uint8_t> chain(1000 + 700 + 333);
  for (std::size_t i = 0; i < chain.size(); ++i)
    chain[i] = static_cast<std::uint8_t>(i * 7 + i / 256 + 3);
  const auto piece = [&](std::size_t from, std::size_t length) {
    return std::vector<std::uint8_t>(chain.begin() + static_cast<std::ptrdiff_t>(from),
                                     chain.begin() + static_cast<std::ptrdiff_t>(from + length));
  };
  const std::uint16_t a = ffs.NewId(), b = ffs.NewId(), c = ffs.NewId();
  const std::uint16_t chainDate = DosDate(1999, 12, 31), chainTime = DosTime(23, 59, 58);
  PartFields part{.ParentId = root, .Time = chainTime, .Date = chainDate, .Name = "chain.dat"};
  part.Id = a, part.PrevId = kNoPartId, part.NextId = c;
  ffs.Place(part, piece(0, 1000));
  ffs.NextBlock();
  part.Id = c, part.PrevId = a, part.NextId = b;
  ffs.Place(part, piece(1000, 700));
  ffs.NextBlock();
  part.Id = b, part.PrevId = c, part.NextId = kNoPartId;
  ffs.Place(part, piece(1700, 333));
  listing.push_back({"FFS\\chain.dat", kFileAttr, chainDate, chainTime, chain});

  // A chunk no entry uses, on a disk that is not an EEPROM disk.
  const std::vector<std::uint8_t> lost = Bytes("lost bytes");
  ffs.Block(1).Chunk(301, lost);
  listing.push_back({"FFS\\LostBlocks", kDirAttr, arcDate, arcTime});
  listing.push_back({"FFS\\LostBlocks\\block 301.bin", 0, arcDate, arcTime, lost});

  // EELITE: no root part, so the disk's root is made for the blocks, with
  // attributes 0x18 and no date. Block 12: payload 0x00..0x08, version 9;
  // block 14: payload 0xA0..0xA3, version 7.
  FlashBlock lite(dump, 0x200000, 0x10000);
  lite.Chunk(12, {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09});
  lite.Chunk(14, {0xA0, 0xA1, 0xA2, 0xA3, 0x07});
  listing.push_back({"EELITE", 0x18, 0, 0});
  listing.push_back({"EELITE\\eeprom 1_12.bin",
                     0,
                     arcDate,
                     arcTime,
                     {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}});
  listing.push_back({"EELITE\\eeprom 1_12.bid", 0, arcDate, arcTime,
                     Bytes("EEPROM block additional file.\r\nPhone HWid:\r\n 5000 \r\n"
                           "EEPROM BlockId:\r\n 12 \r\nEEPROM BlockVer:\r\n 9 \r\n")});
  listing.push_back({"EELITE\\eeprom 1_14.bin", 0, arcDate, arcTime, {0xA0, 0xA1, 0xA2, 0xA3}});
  listing.push_back({"EELITE\\eeprom 1_14.bid", 0, arcDate, arcTime,
                     Bytes("EEPROM block additional file.\r\nPhone HWid:\r\n 5000 \r\n"
                           "EEPROM BlockId:\r\n 14 \r\nEEPROM BlockVer:\r\n 7 \r\n")});

  // EEFULL: a file system whose root also holds the EEPROM block; the
  // version is the chunk's first byte, the payload the rest.
  FlashFs full(dump, fullBlocks);
  const std::uint16_t fullRoot = full.Root("ignored");
  listing.push_back({"EEFULL", kDirAttr, kSampleDate, kSampleTime});
  const std::vector<std::uint8_t> calendar = Bytes("calendar\n");
  put(full, fullRoot, "cal.txt", kFileAttr, DosDate(2008, 2, 29), DosTime(12, 0, 0), calendar);
  listing.push_back(
      {"EEFULL\\cal.txt", kFileAttr, DosDate(2008, 2, 29), DosTime(12, 0, 0), calendar});
  full.Block(0).Chunk(12, {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09});
  listing.push_back({"EEFULL\\eeprom 1_5012.bin",
                     0,
                     arcDate,
                     arcTime,
                     {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09}});
  listing.push_back({"EEFULL\\eeprom 1_5012.bid", 0, arcDate, arcTime,
                     Bytes("EEPROM block additional file.\r\nPhone HWid:\r\n 5000 \r\n"
                           "EEPROM BlockId:\r\n 5012 \r\nEEPROM BlockVer:\r\n 0 \r\n")});

  // The raw images, as the file systems left the blocks.
  listing.push_back({"FFS.BIN", 4, arcDate, arcTime, BlockBytes(dump, ffsBlocks)});
  listing.push_back({"EELITE.BIN", 4, arcDate, arcTime, BlockBytes(dump, liteBlocks)});
  listing.push_back({"EEFULL.BIN", 4, arcDate, arcTime, BlockBytes(dump, fullBlocks)});

  // std::string compares bytes as unsigned values, as the plugin's sort does.
  std::sort(listing.begin(), listing.end(),
            [](const SampleEntry &x, const SampleEntry &y) { return x.Path < y.Path; });
  return sample;
}

}  // namespace quarn::testing

#endif
