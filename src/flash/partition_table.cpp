#include "flash/partition_table.h"

#include <algorithm>
#include <new>
#include <string>

namespace quarn {

bool TPartitionScan::PassesQuickTests(const std::uint8_t *record) const {
  return (LoadU32(record + descriptor::NumBlocks) & 0xFFFF0000) == 0 &&
         InFlashWindow(LoadU32(record + descriptor::BlockTableAddr)) &&
         InRamWindow(LoadU32(record + descriptor::RamAddr));
}

namespace {

constexpr std::size_t kScanGroup = 64;
// Bytes of candidate offsets one group covers.
constexpr std::uint64_t kScanGroupBytes = kScanGroup * 4;

// Whether any of kScanGroup consecutive dwords has a top byte of the RAM
// window (0xA8 or 0xA9). Written without branches, so it runs on vectors.
bool AnyRamTop(const std::uint8_t *p) {
  std::uint32_t hit = 0;
  for (std::size_t k = 0; k < kScanGroup; ++k)
    hit |= static_cast<std::uint32_t>((LoadU32(p + 4 * k) & 0xFE000000u) == 0xA8000000u);
  return hit != 0;
}

}  // namespace

bool TPartitionScan::ValidEntry(std::uint32_t offset) const {
  if (offset > image_.Size() || image_.Size() - offset < kBlockRefSize) return false;
  const std::uint8_t *entry = image_.Data() + offset;
  return InFlashWindow(LoadU32(entry)) && (LoadU32(entry + 4) & 0xFF000FFF) == 0;
}

std::uint32_t TPartitionScan::ValidEntries(std::uint32_t offset) {
  const std::uint32_t size = image_.Size();
  if (!entryRuns_) {
    entryRuns_.reset(static_cast<std::uint32_t *>(std::calloc(size, sizeof(std::uint32_t))));
    if (!entryRuns_) throw std::bad_alloc();
  }
  // Walk forward to the first entry that is invalid, missing or already
  // known, then fill the counts back in.
  std::uint32_t end = offset;
  std::uint32_t tail = 0;
  for (;;) {
    if (end >= size || size - end < kBlockRefSize) break;
    if (entryRuns_[end] != 0) {
      tail = entryRuns_[end] - 1;
      break;
    }
    if (!ValidEntry(end)) {
      entryRuns_[end] = 1;
      break;
    }
    end += kBlockRefSize;
  }
  std::uint32_t count = tail;
  for (std::uint32_t at = end; at != offset;) {
    at -= kBlockRefSize;
    ++count;
    entryRuns_[at] = count + 1;
  }
  return count;
}

bool TPartitionScan::ValidateDescriptor(std::uint32_t offset) {
  if (offset > image_.Size() || image_.Size() - offset < kDescriptorSize) return false;
  const std::uint8_t *record = image_.Data() + offset;
  if (!PassesQuickTests(record)) return false;

  // A name of at most 10 characters has its NUL among its first 11 bytes.
  std::string name;
  const std::uint32_t nameAddr = LoadU32(record + descriptor::NameAddr);
  if (!image_.ReadDiskName(nameAddr, name) || name.size() > 10) return false;

  const std::uint32_t numBlocks = LoadU32(record + descriptor::NumBlocks);
  if (numBlocks == 0) return true;
  std::uint32_t table = 0;
  // The whole table must lie inside the image: numBlocks entries of 8 bytes.
  if (!image_.Offset(LoadU32(record + descriptor::BlockTableAddr), numBlocks * kBlockRefSize,
                     table))
    return false;
  return ValidEntries(table) >= numBlocks;
}

std::vector<std::uint32_t> TPartitionScan::RunAfterDamage(std::uint32_t damagedRecord) {
  std::vector<std::uint32_t> run;
  const std::uint32_t limit = std::min(image_.Size(), FlashWindowSize);
  for (std::uint32_t k = 1; k <= kRecordsPastDamage; ++k) {
    const std::uint64_t at = damagedRecord + std::uint64_t{k} * kDescriptorSize;
    if (at + kDescriptorSize > limit) break;
    if (!ValidateDescriptor(static_cast<std::uint32_t>(at))) continue;
    for (std::uint64_t next = at;
         next + kDescriptorSize <= limit && run.size() < TPartitionLimits::MaxDisks &&
         ValidateDescriptor(static_cast<std::uint32_t>(next));
         next += kDescriptorSize)
      run.push_back(static_cast<std::uint32_t>(next));
    break;
  }
  return run;
}

std::vector<std::uint32_t> TPartitionScan::FindRun(std::uint32_t start, std::uint32_t step) {
  std::vector<std::uint32_t> run;
  const std::uint32_t size = image_.Size();
  const std::uint8_t *data = image_.Data();
  if (data == nullptr || step == 0) return run;
  // Candidates past the flash window's 32 MiB cannot translate.
  const std::uint32_t limit = std::min(size, FlashWindowSize);

  std::uint64_t next = start;
  while (next + kDescriptorSize <= limit) {
    // Nearly all of a dump is code, data or erased flash without a byte of
    // the RAM window's top: with every fourth offset a candidate, 64 of them
    // are looked at together and passed over when none has one.
    std::uint64_t stop = next + step;
    if (step == 4 && limit - next >= kScanGroupBytes + kDescriptorSize) {
      if (!AnyRamTop(data + next + descriptor::RamAddr)) {
        next += kScanGroupBytes;
        continue;
      }
      stop = next + kScanGroupBytes;
    }
    for (; next < stop && next + kDescriptorSize <= limit; next += step) {
      const auto o = static_cast<std::uint32_t>(next);
      // The RAM window test alone turns away nearly every offset; look at one
      // byte first and at the whole record only when it fits.
      if ((data[o + descriptor::RamAddr + 3] & 0xFE) != 0xA8) continue;
      if (!ValidateDescriptor(o)) continue;

      std::uint64_t blocks = 0;
      std::uint64_t bytes = 0;
      for (std::uint32_t at = o; limit - at >= kDescriptorSize && ValidateDescriptor(at);
           at += kDescriptorSize) {
        const std::uint8_t *record = data + at;
        const std::uint32_t numBlocks = LoadU32(record + descriptor::NumBlocks);
        std::uint64_t diskBytes = 0;
        if (numBlocks != 0) {
          const std::uint8_t *table =
              image_.Span(LoadU32(record + descriptor::BlockTableAddr), numBlocks * kBlockRefSize);
          for (std::uint32_t i = 0; i < numBlocks; ++i)
            diskBytes += LoadU32(table + static_cast<std::size_t>(i) * kBlockRefSize + 4);
        }
        if (run.size() >= TPartitionLimits::MaxDisks ||
            blocks + numBlocks > TPartitionLimits::MaxBlocks ||
            bytes + diskBytes > TPartitionLimits::MaxBlockBytes)
          break;
        blocks += numBlocks;
        bytes += diskBytes;
        run.push_back(at);
      }
      return run;
    }
  }
  return run;
}

}  // namespace quarn
