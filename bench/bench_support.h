// What the benchmarks share: a folder for their dumps, and reading a dump
// into memory, the baseline the opening benchmarks are measured against.
#ifndef QUARN_BENCH_BENCH_SUPPORT_H
#define QUARN_BENCH_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "dump_builder.h"
#include "platform/large_buffer.h"
#include "platform/platform.h"
#include "test_files.h"

namespace quarn::bench {

inline const testing::TempDir &Folder() {
  static const testing::TempDir dir;
  return dir;
}

// Saves a dump for the benchmarks; also into $QUARN_BENCH_DUMPS when set, to
// measure the command on the same file.
inline std::string Saved(const testing::DumpBuilder &dump, const std::string &name) {
  const std::string path = Folder().File(name);
  dump.Save(path);
  if (const char *keep = std::getenv("QUARN_BENCH_DUMPS"))
    dump.Save(std::string(keep) + "/" + name);
  return path;
}

// One read of the whole file into a new block, as any program reads a file;
// with `hugePages`, into a block offered huge pages, as opening does.
inline void ReadDumpIntoMemory(const std::string &path, bool hugePages) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD high = 0;
  const DWORD size = GetFileSize(file, &high);
  std::unique_ptr<std::uint8_t[]> image(new std::uint8_t[size]);
  if (hugePages) AdviseLargeBuffer(image.get(), size);
  DWORD read = 0;
  ReadFile(file, image.get(), size, &read, nullptr);
  CloseHandle(file);
  benchmark::DoNotOptimize(image.get());
}

}  // namespace quarn::bench

#endif
