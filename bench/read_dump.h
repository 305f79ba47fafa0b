// Reading a dump into memory, the baseline the opening benchmarks are
// measured against.
#ifndef QUARN_BENCH_READ_DUMP_H
#define QUARN_BENCH_READ_DUMP_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/large_buffer.h"
#include "platform/platform.h"

namespace quarn::bench {

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
