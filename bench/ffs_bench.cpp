// Reading the disks' file systems: opening and listing a dense dump against
// reading the same dump into memory, and crafted dumps that a careless reader
// would never finish.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench_support.h"
#include "crafted_dumps.h"
#include "dense_dump.h"
#include "entries/listing_order.h"
#include "plugin/quarn.h"
#include "plugin/settings.h"
#include "sample/default_sample.h"
#include "sample/description.h"
#include "sample/layout.h"
#include "test_files.h"
#include "wcx_session.h"

namespace {

using quarn::bench::Saved;
using quarn::testing::DumpBuilder;

const std::string &DensePath() {
  static const std::string path = Saved(quarn::testing::DenseDump(), "dense.bin");
  return path;
}

// Reading the dense dump into memory: one read into a new block, as any
// program reads a file; and the same into a block offered huge pages, as
// opening does.
void ReadDense(benchmark::State &state, bool hugePages) {
  const std::string &path = DensePath();
  for (auto _ : state) quarn::bench::ReadDumpIntoMemory(path, hugePages);
}
void BM_ReadDenseDump(benchmark::State &state) { ReadDense(state, false); }
BENCHMARK(BM_ReadDenseDump)->Unit(benchmark::kMillisecond);
void BM_ReadDenseDumpHugePages(benchmark::State &state) { ReadDense(state, true); }
BENCHMARK(BM_ReadDenseDumpHugePages)->Unit(benchmark::kMillisecond);

void OpenAndList(benchmark::State &state, const std::string &path) {
  std::size_t entries = 0;
  for (auto _ : state) {
    quarn::testing::WcxArchive archive(path);
    entries = archive.List().size();
    benchmark::DoNotOptimize(entries);
  }
  state.counters["entries"] = static_cast<double>(entries);
}

// Listing (PK_SKIP after each header) against testing (PK_TEST after each),
// as `quarn list` and `quarn test` do: testing checks every extent and chain
// and should cost little more.
void OpenAndWalk(benchmark::State &state, const std::string &path, int operation) {
  std::size_t entries = 0;
  for (auto _ : state) {
    quarn::testing::WcxArchive archive(path);
    tHeaderData header;
    entries = 0;
    char empty[] = "";
    while (archive.Next(header) == 0) {
      ProcessFile(archive.Handle(), operation, nullptr, empty);
      ++entries;
    }
  }
  state.counters["entries"] = static_cast<double>(entries);
}

const std::string &SamplePath() {
  static const std::string path =
      Saved(quarn::sample::BuildSample(
                quarn::sample::ParseDescription(quarn::sample::kDefaultDescription))
                .Dump,
            "sample.bin");
  return path;
}
void BM_ListSample(benchmark::State &state) { OpenAndWalk(state, SamplePath(), PK_SKIP); }
BENCHMARK(BM_ListSample)->Unit(benchmark::kMillisecond);
void BM_TestSample(benchmark::State &state) { OpenAndWalk(state, SamplePath(), PK_TEST); }
BENCHMARK(BM_TestSample)->Unit(benchmark::kMillisecond);

// Opening and listing it as a host does: read, partition scan, every disk's
// file system, EEPROM blocks, the sorted listing and every record.
void BM_OpenAndListDenseDump(benchmark::State &state) { OpenAndList(state, DensePath()); }
BENCHMARK(BM_OpenAndListDenseDump)->Unit(benchmark::kMillisecond);
// The same through a view of the file, as the command reads a dump: no copy.
void BM_OpenAndListDenseDumpInAView(benchmark::State &state) {
  quarn::SetSettingsOverride(quarn::TSettings{.MapDump = true});
  OpenAndList(state, DensePath());
  quarn::SetSettingsOverride(std::nullopt);
}
BENCHMARK(BM_OpenAndListDenseDumpInAView)->Unit(benchmark::kMillisecond);

// The listing order of the dense dump's entries alone, found folder by
// folder as opening does, and by sorting whole paths: what keeps the
// folder-by-folder order worth its code.
void ListingOrderOfDense(benchmark::State &state, quarn::TListingOrder::TMethod method) {
  static const DumpBuilder dump = quarn::testing::DenseDump();
  const quarn::TQuarn archive(quarn::TDump::Copy(dump.Data().data(), dump.Size()), PK_OM_LIST);
  // The entries as opening lists them before the order: disk by disk, each
  // disk's raw image after its entries.
  quarn::TList<quarn::TSieFile *> listed;
  int image = 0;
  const quarn::TList<quarn::TSieFile *> &top = archive.RootEntry().Children();
  for (const auto &disk : archive.Disks()) {
    if (const auto *entries = disk->Entries())
      for (quarn::TSieFile *entry : *entries) listed.Add(entry);
    while (image < top.Count() && top[image]->Disk != nullptr) ++image;
    if (image < top.Count()) listed.Add(top[image++]);
  }
  for (auto _ : state) {
    const quarn::TListingOrder order(listed, &archive.RootEntry(), method);
    benchmark::DoNotOptimize(order.Count());
  }
  state.counters["entries"] = archive.Listing().Count();
}
void BM_ListingOrderDenseByFolder(benchmark::State &state) {
  ListingOrderOfDense(state, quarn::TListingOrder::TMethod::Tree);
}
BENCHMARK(BM_ListingOrderDenseByFolder)->Unit(benchmark::kMillisecond);
void BM_ListingOrderDenseWholePaths(benchmark::State &state) {
  ListingOrderOfDense(state, quarn::TListingOrder::TMethod::WholePaths);
}
BENCHMARK(BM_ListingOrderDenseWholePaths)->Unit(benchmark::kMillisecond);

// The deleted view against the listing the phone shows, side by side, as a
// host opens them (the view asked for as the command asks: no settings file
// read). The sample holds a few deleted files and a deleted folder; the
// dense dump with every descriptor dead has all its 14,500 files and
// folders to rebuild from dead parts.
void OpenAndListInView(benchmark::State &state, const std::string &path, bool deleted) {
  quarn::SetSettingsOverride(quarn::TSettings{.ShowDeleted = deleted});
  OpenAndList(state, path);
  quarn::SetSettingsOverride(std::nullopt);
}
void BM_OpenSampleAsThePhoneShowsIt(benchmark::State &state) {
  OpenAndListInView(state, SamplePath(), false);
}
BENCHMARK(BM_OpenSampleAsThePhoneShowsIt)->Unit(benchmark::kMillisecond);
void BM_OpenSampleWithDeleted(benchmark::State &state) {
  OpenAndListInView(state, SamplePath(), true);
}
BENCHMARK(BM_OpenSampleWithDeleted)->Unit(benchmark::kMillisecond);
void BM_OpenDenseAllDeletedWithDeleted(benchmark::State &state) {
  static const std::string path =
      Saved(quarn::testing::AllDeleted(quarn::testing::DenseDump()), "dense-all-deleted.bin");
  OpenAndListInView(state, path, true);
}
BENCHMARK(BM_OpenDenseAllDeletedWithDeleted)->Unit(benchmark::kMillisecond);

void BM_OpenEverySlotLive(benchmark::State &state) {
  static const std::string path =
      Saved(quarn::testing::EverySlotLiveDump("EELITE"), "every-slot-live.bin");
  OpenAndList(state, path);
}
BENCHMARK(BM_OpenEverySlotLive)->Unit(benchmark::kMillisecond);

// The allowance of entries reached through leftover chunks: 511 blocks
// over the same 128 KiB, as EEPROM blocks and as lost blocks.
void BM_OpenOverlappingEepromBlocks(benchmark::State &state) {
  static const std::string path =
      Saved(quarn::testing::OverlappingBlocksDump("EELITE"), "overlapping-eeprom.bin");
  OpenAndList(state, path);
}
BENCHMARK(BM_OpenOverlappingEepromBlocks)->Unit(benchmark::kMillisecond);

void BM_OpenOverlappingLostBlocks(benchmark::State &state) {
  static const std::string path =
      Saved(quarn::testing::OverlappingBlocksDump("FFS"), "overlapping-lost.bin");
  OpenAndList(state, path);
}
BENCHMARK(BM_OpenOverlappingLostBlocks)->Unit(benchmark::kMillisecond);

void BM_OpenSharedTail(benchmark::State &state) {
  static const std::string path = Saved(quarn::testing::SharedTailDump(), "shared-tail.bin");
  OpenAndList(state, path);
}
BENCHMARK(BM_OpenSharedTail)->Unit(benchmark::kMillisecond);

void BM_OpenDeepNesting(benchmark::State &state) {
  static const std::string path = Saved(quarn::testing::DeepNestingDump(), "deep-nesting.bin");
  OpenAndList(state, path);
}
BENCHMARK(BM_OpenDeepNesting)->Unit(benchmark::kMillisecond);

}  // namespace
