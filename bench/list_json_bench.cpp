// quarn list --json of the dense dump as the command makes it: every record
// as a JSON line, today's fields alone against the same with where each entry
// lies (its disk, parts' ids, extents and completeness, asked of the core).
// The command's budget for the second is 1.3 times the first.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench_support.h"
#include "cli/entry.h"
#include "dense_dump.h"
#include "plugin/inspect.h"
#include "wcx_session.h"

namespace {

const std::string &DensePath() {
  static const std::string path = quarn::bench::Saved(quarn::testing::DenseDump(), "dense.bin");
  return path;
}

void ListJson(benchmark::State &state, bool withFacts) {
  const std::string &path = DensePath();
  std::FILE *out = std::fopen("/dev/null", "wb");
  std::size_t entries = 0, bytes = 0;
  for (auto _ : state) {
    quarn::testing::WcxArchive archive(path);
    const quarn::TInspector inspector(archive.Handle());
    quarn::TEntryFacts facts;
    tHeaderDataExW header;
    std::string line;
    char empty[] = "";
    entries = bytes = 0;
    while (ReadHeaderExW(archive.Handle(), &header) == 0) {
      const quarn::cli::Entry entry = quarn::cli::EntryFromHeader(header);
      line.clear();
      quarn::cli::AppendEntryJson(line, entry,
                                  withFacts && inspector.Current(facts) ? &facts : nullptr);
      line += '\n';
      std::fwrite(line.data(), 1, line.size(), out);
      ProcessFile(archive.Handle(), PK_SKIP, nullptr, empty);
      ++entries;
      bytes += line.size();
    }
  }
  std::fclose(out);
  state.counters["entries"] = static_cast<double>(entries);
  state.counters["json_bytes"] = static_cast<double>(bytes);
}

void BM_ListJsonDenseDump(benchmark::State &state) { ListJson(state, false); }
BENCHMARK(BM_ListJsonDenseDump)->Unit(benchmark::kMillisecond);
void BM_ListJsonDenseDumpWithExtents(benchmark::State &state) { ListJson(state, true); }
BENCHMARK(BM_ListJsonDenseDumpWithExtents)->Unit(benchmark::kMillisecond);

}  // namespace
