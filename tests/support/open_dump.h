// Builds the archive object of a dump built in memory, for tests that look
// inside it: no file is written.
#ifndef QUARN_TESTS_OPEN_DUMP_H
#define QUARN_TESTS_OPEN_DUMP_H

#include <memory>

#include "dump_builder.h"
#include "ffs_builder.h"
#include "flash/dump.h"
#include "plugin/quarn.h"

namespace quarn::testing {

// The dump's own date and time that entries made from no part carry.
constexpr std::uint16_t kInMemoryDate = (25 << 9) | (3 << 5) | 1;  // 2005-03-01
constexpr std::uint16_t kInMemoryTime = (12 << 11);                // 12:00:00

inline std::unique_ptr<TQuarn> OpenInMemory(const DumpBuilder &dump, int mode = PK_OM_LIST,
                                            TSettings settings = {}) {
  return std::make_unique<TQuarn>(
      TDump::Copy(dump.Data().data(), dump.Data().size(), kInMemoryDate, kInMemoryTime), mode,
      "dump.bin", settings);
}

class OpenedDump {
 public:
  // Builds the archive of `dump`; the previous one, if any, goes first.
  TQuarn &Open(const DumpBuilder &dump, TSettings settings = {}) {
    archive_.reset();
    archive_ = OpenInMemory(dump, PK_OM_LIST, settings);
    return *archive_;
  }
  TQuarn &Archive() { return *archive_; }

 private:
  std::unique_ptr<TQuarn> archive_;
};

}  // namespace quarn::testing

#endif
