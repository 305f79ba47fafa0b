// Lays out a described sample in a 32 MiB dump, and keeps the tree of files
// that a reader of the dump should find in it.
//
// The dump: "SIEMENS" at byte 544; the partition records at 0x400, the disk
// names at 0x3000 and the block tables from 0x4000, all inside the first
// 128 KiB; then the firmware's pseudo-random bytes, if described; then the
// disks, each a run of adjacent blocks aligned to its block size (or at its
// `at=`), listed in address order or, with `shuffle`, in a scrambled order.
// Every disk's file system is written as the phone writes it: part after part
// into the current block until it is full, then into the next one in table
// order.
#ifndef QUARN_TOOLS_SAMPLE_LAYOUT_H
#define QUARN_TOOLS_SAMPLE_LAYOUT_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "description.h"
#include "disk_writer.h"
#include "dump_builder.h"
#include "sample.h"

namespace quarn::sample {

constexpr std::uint32_t kRecordsOffset = 0x400;
constexpr std::uint32_t kNamesOffset = 0x3000;
constexpr std::uint32_t kTablesOffset = 0x4000;
constexpr std::uint32_t kSystemEnd = 0x20000;

// Builds the dump and its tree; throws DescriptionError when the description
// does not fit in a dump.
inline Sample BuildSample(const Description &description) {
  using detail::Fail;
  Sample sample;
  testing::DumpBuilder &dump = sample.Dump;
  const std::uint32_t dumpSize = dump.Size();

  if (description.Firmware > dumpSize - kSystemEnd)
    throw DescriptionError("firmware size=" + std::to_string(description.Firmware) +
                           " does not fit after the first 128 KiB of the dump");
  {
    Prng prng(SeedFor(description.Seed, "firmware"));
    prng.Fill(dump.Data().data() + kSystemEnd, description.Firmware);
  }

  // Blocks: adjacent, aligned to the block size, after the firmware.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> taken = {
      {0, kSystemEnd + description.Firmware}};
  std::uint64_t next = kSystemEnd + description.Firmware;
  std::uint32_t table = kTablesOffset;
  for (std::size_t i = 0; i < description.Disks.size(); ++i) {
    const DiskDescription &disk = description.Disks[i];
    const std::uint64_t bytes = std::uint64_t{disk.Blocks} * disk.BlockSize;
    const std::uint64_t start =
        disk.At ? *disk.At : (next + disk.BlockSize - 1) / disk.BlockSize * disk.BlockSize;
    if (start + bytes > dumpSize)
      Fail(disk.Line, "disk " + disk.Name + " does not fit: " + std::to_string(disk.Blocks) +
                          " blocks of " + std::to_string(disk.BlockSize) + " bytes from " +
                          std::to_string(start) + " run past the dump's end (" +
                          std::to_string(dumpSize) + ")");
    for (const auto &[from, length] : taken) {
      if (bytes && start < std::uint64_t{from} + length && from < start + bytes)
        Fail(disk.Line,
             "disk " + disk.Name + " overlaps the system area, the firmware or a disk before it");
    }
    taken.emplace_back(static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(bytes));
    next = std::max<std::uint64_t>(next, start + bytes);

    std::vector<testing::BlockRef> blocks;
    for (std::uint32_t b = 0; b < disk.Blocks; ++b)
      blocks.push_back(
          {testing::At(static_cast<std::uint32_t>(start) + b * disk.BlockSize), disk.BlockSize});
    if (disk.Shuffle) {
      Prng prng(SeedFor(description.Seed, "shuffle:" + disk.Name));
      for (std::size_t k = blocks.size(); k > 1; --k)
        std::swap(blocks[k - 1], blocks[prng.Next() % k]);
    }
    if (table + 8u * blocks.size() > kSystemEnd)
      Fail(disk.Line, "too many blocks for the block tables");
    dump.Disk(kRecordsOffset + 44 * static_cast<std::uint32_t>(i), disk.Name,
              kNamesOffset + 16 * static_cast<std::uint32_t>(i), table, blocks, false);
    table += 8 * static_cast<std::uint32_t>(blocks.size());

    sample.Disks.push_back({.Name = disk.Name,
                            .Offset = static_cast<std::uint32_t>(start),
                            .Blocks = disk.Blocks,
                            .BlockSize = disk.BlockSize});
    detail::DiskWriter(sample, description, disk, blocks).Write();

    // The raw image: the blocks in table order.
    std::vector<std::uint8_t> image;
    image.reserve(bytes);
    for (const testing::BlockRef &b : blocks) {
      const auto *from = dump.Data().data() + (b.Addr & 0x1FFFFFF);
      image.insert(image.end(), from, from + b.Size);
    }
    sample.Tree.push_back({.Path = disk.Name + ".BIN", .Bytes = std::move(image)});
  }
  return sample;
}

}  // namespace quarn::sample

#endif
