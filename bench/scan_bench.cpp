// Opening costs: the partition scan over a 32 MiB dump against reading the
// dump into memory, and whole opens of crafted dumps.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "bench_support.h"
#include "dump_builder.h"
#include "flash/flash_image.h"
#include "flash/partition_table.h"
#include "test_files.h"
#include "wcx_session.h"

namespace {

using quarn::bench::Saved;
using quarn::testing::At;
using quarn::testing::BlockRef;
using quarn::testing::DumpBuilder;

// A dump of pseudo-random bytes, like code and data, with no table.
const DumpBuilder &RandomDump() {
  static const DumpBuilder dump = [] {
    DumpBuilder d;
    std::mt19937 random(20261208);
    for (std::uint8_t &b : d.Data()) b = static_cast<std::uint8_t>(random());
    return d;
  }();
  return dump;
}

// Reading the dump into memory: one read into a new block, as any program
// reads a file; and the same into a block offered huge pages, as opening
// does.
void ReadDump(benchmark::State &state, bool hugePages) {
  const std::string path = Saved(RandomDump(), "random.bin");
  for (auto _ : state) quarn::bench::ReadDumpIntoMemory(path, hugePages);
  state.SetBytesProcessed(state.iterations() * quarn::testing::kFullDumpSize);
}
void BM_ReadDumpIntoMemory(benchmark::State &state) { ReadDump(state, false); }
BENCHMARK(BM_ReadDumpIntoMemory)->Unit(benchmark::kMillisecond);
void BM_ReadDumpIntoHugePages(benchmark::State &state) { ReadDump(state, true); }
BENCHMARK(BM_ReadDumpIntoHugePages)->Unit(benchmark::kMillisecond);

// The scan of every fourth offset of a dump without a partition table.
void ScanNoTable(benchmark::State &state, const DumpBuilder &dump) {
  const quarn::TFlashImage image(dump.Data().data(), dump.Size());
  for (auto _ : state) {
    quarn::TPartitionScan scan(image);
    benchmark::DoNotOptimize(scan.FindRun(0, 4));
  }
  state.SetBytesProcessed(state.iterations() * dump.Size());
}
void BM_ScanNoTableRandom(benchmark::State &state) { ScanNoTable(state, RandomDump()); }
BENCHMARK(BM_ScanNoTableRandom)->Unit(benchmark::kMillisecond);
void BM_ScanNoTableErased(benchmark::State &state) {
  static const DumpBuilder erased;
  ScanNoTable(state, erased);
}
BENCHMARK(BM_ScanNoTableErased)->Unit(benchmark::kMillisecond);

// Whole opens and listings of crafted dumps.
void OpenAndList(benchmark::State &state, const DumpBuilder &dump, const std::string &name) {
  const std::string path = Saved(dump, name);
  for (auto _ : state) {
    quarn::testing::WcxArchive archive(path);
    benchmark::DoNotOptimize(archive.List().size());
  }
}

// Consecutive valid records from 4 KiB to 16 MiB, all sharing one
// 65,535-entry table whose blocks all cover the same 16 MiB.
void BM_OpenRecordsSharingOneHugeTable(benchmark::State &state) {
  static const DumpBuilder dump = [] {
    DumpBuilder d;
    d.BlockTable(0x1000000, std::vector<BlockRef>(0xFFFF, BlockRef{At(0), 0xFFF000}));
    d.Name(0x100, "X");
    for (std::uint32_t o = 0x1000; o + 44 <= 0x1000000; o += 44)
      d.Descriptor(o,
                   {.NameAddr = At(0x100), .NumBlocks = 0xFFFF, .BlockTableAddr = At(0x1000000)});
    return d;
  }();
  OpenAndList(state, dump, "shared-table.bin");
}
BENCHMARK(BM_OpenRecordsSharingOneHugeTable)->Unit(benchmark::kMillisecond);

// Hundreds of thousands of candidates, each one entry short of a valid
// 65,535-entry table.
void BM_OpenCandidatesOneEntryShort(benchmark::State &state) {
  static const DumpBuilder dump = [] {
    DumpBuilder d(quarn::testing::kFullDumpSize, 0);
    d.BlockTable(0x1000000, std::vector<BlockRef>(0xFFFE, BlockRef{At(0), 0}));
    d.Name(0x100, "X");
    for (std::uint32_t o = 0x1000; o + 48 <= 0x1000000; o += 48)
      d.Descriptor(o,
                   {.NameAddr = At(0x100), .NumBlocks = 0xFFFF, .BlockTableAddr = At(0x1000000)});
    return d;
  }();
  OpenAndList(state, dump, "one-short.bin");
}
BENCHMARK(BM_OpenCandidatesOneEntryShort)->Unit(benchmark::kMillisecond);

// An honest dump: three disks.
void BM_OpenThreeDisks(benchmark::State &state) {
  static const DumpBuilder dump = quarn::testing::ThreeDiskDump();
  OpenAndList(state, dump, "three.bin");
}
BENCHMARK(BM_OpenThreeDisks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
