// The PluginTest fixture: quarn.wcx loaded as Double Commander loads it, and the host's records.
#ifndef QUARN_TESTS_PLUGIN_HOST_H
#define QUARN_TESTS_PLUGIN_HOST_H

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "sample_fs.h"
#include "test_files.h"

namespace quarn::testing {
// Unnamed, as in each test file, so that these names come first there
// (kFileAttr: the record's field, not the support headers' attribute), and
// each file's fixture is its own: no suite spans two files.
namespace {

// The records as Double Commander declares them on x86_64: packed.
#pragma pack(push, 1)
struct OpenData {
  char *ArcName;
  int OpenMode;
  int OpenResult;
  char *CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
};
#pragma pack(pop)
static_assert(sizeof(OpenData) == 36);
static_assert(offsetof(OpenData, OpenResult) == 12);

constexpr std::size_t kFileName = 260, kFlags = 520, kPackSize = 524, kUnpSize = 528, kHostOS = 532,
                      kFileCRC = 536, kFileTime = 540, kUnpVer = 544, kMethod = 548,
                      kFileAttr = 552, kCmtBuf = 556, kRecordSize = 576;

// The Unicode interface's records, packed as Double Commander declares them:
// UTF-16 units (char16_t, never the 4-byte wchar_t of Linux).
#pragma pack(push, 1)
struct OpenDataW {
  char16_t *ArcName;
  int OpenMode;
  int OpenResult;
  char16_t *CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
};
#pragma pack(pop)
static_assert(sizeof(OpenDataW) == 36);
constexpr std::size_t kWideFileName = 2048, kWideFlags = 4096, kWidePackSize = 4100,
                      kWidePackSizeHigh = 4104, kWideUnpSize = 4108, kWideUnpSizeHigh = 4112,
                      kWideFileTime = 4124, kWideFileAttr = 4136, kWideRecordSize = 5164;
constexpr std::size_t kExFileName = 1024, kExPackSize = 2052, kExFileAttr = 2088;

using OpenArchiveFn = void *(*)(OpenData *);
using OpenArchiveWFn = void *(*)(OpenDataW *);
using ProcessFileWFn = int (*)(void *, int, char16_t *, char16_t *);
using CanHandleWFn = int (*)(char16_t *);
using ReadHeaderFn = int (*)(void *, void *);
using ProcessFileFn = int (*)(void *, int, char *, char *);
using CloseArchiveFn = int (*)(void *);
using SetProcFn = void (*)(void *, void *);
using CanHandleFn = int (*)(char *);
using CapsFn = int (*)();
using SetDefaultsFn = void (*)(void *);

// UTF-8 and UTF-16 through the C++ library, for the host's side.
inline std::u16string Utf16(const std::string &utf8) {
  return std::filesystem::path(utf8).u16string();
}
inline std::string Utf8(const std::u16string &utf16) {
  const std::u8string text = std::filesystem::path(utf16).u8string();
  return std::string(text.begin(), text.end());
}

inline int32_t At32(const std::vector<std::uint8_t> &record, std::size_t offset) {
  int32_t value;
  std::memcpy(&value, record.data() + offset, 4);
  return value;
}

// 2005-03-15 12:34:56 UTC: the last-write time every saved dump gets.
constexpr std::int64_t kDumpTime = 1110890096;
constexpr std::uint16_t kDumpDosDate = DosDate(2005, 3, 15);
constexpr std::uint16_t kDumpDosTime = DosTime(12, 34, 56);

// One record as Double Commander reads it.
struct HostEntry {
  std::string Path;
  int32_t PackSize;
  int32_t UnpSize;
  int32_t FileTime;
  int32_t FileAttr;
};

// Which interface a test drives: the ANSI exports, or the Unicode ones that
// Double Commander prefers whenever a plugin has them.
enum class Interface { Ansi, Unicode };

class PluginTest : public ::testing::TestWithParam<Interface> {
 protected:
  void SetUp() override {
    // QUARN_TEST_PLUGIN: another copy of the plugin to load, such as the
    // stripped one a package installs; by default the one built beside.
    const char *plugin = std::getenv("QUARN_TEST_PLUGIN");
    if (plugin == nullptr || *plugin == '\0') plugin = QUARN_PLUGIN_PATH;
    library_ = dlopen(plugin, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    open_ = Symbol<OpenArchiveFn>("OpenArchive");
    read_ = Symbol<ReadHeaderFn>("ReadHeader");
    process_ = Symbol<ProcessFileFn>("ProcessFile");
    close_ = Symbol<CloseArchiveFn>("CloseArchive");
    setProgress_ = Symbol<SetProcFn>("SetProcessDataProc");
    setChangeVol_ = Symbol<SetProcFn>("SetChangeVolProc");
    canHandle_ = Symbol<CanHandleFn>("CanYouHandleThisFile");
    caps_ = Symbol<CapsFn>("GetPackerCaps");
    openW_ = Symbol<OpenArchiveWFn>("OpenArchiveW");
    readExW_ = Symbol<ReadHeaderFn>("ReadHeaderExW");
    readEx_ = Symbol<ReadHeaderFn>("ReadHeaderEx");
    processW_ = Symbol<ProcessFileWFn>("ProcessFileW");
    setProgressW_ = Symbol<SetProcFn>("SetProcessDataProcW");
    setChangeVolW_ = Symbol<SetProcFn>("SetChangeVolProcW");
    canHandleW_ = Symbol<CanHandleWFn>("CanYouHandleThisFileW");
    background_ = Symbol<CapsFn>("GetBackgroundFlags");
    setDefaults_ = Symbol<SetDefaultsFn>("PackSetDefaultParams");
  }
  bool Unicode() const { return GetParam() == Interface::Unicode; }
  void TearDown() override {
    if (library_ != nullptr) dlclose(library_);
  }
  template <typename F>
  F Symbol(const char *name) {
    void *symbol = dlsym(library_, name);
    EXPECT_NE(symbol, nullptr) << name;
    return reinterpret_cast<F>(symbol);
  }
  std::string SaveDump(const DumpBuilder &dump) {
    const std::string path = dir_.File("dump.bin");
    dump.Save(path);
    SetModifiedTime(path, kDumpTime);
    return path;
  }
  std::string Name(const std::vector<std::uint8_t> &record) const {
    return reinterpret_cast<const char *>(record.data() + kFileName);
  }
  // The next record through the test's interface, its name as UTF-8.
  bool Next(void *handle, HostEntry &entry) {
    if (!Unicode()) {
      std::vector<std::uint8_t> record(600);
      if (read_(handle, record.data()) != 0) return false;
      entry = {Name(record), At32(record, kPackSize), At32(record, kUnpSize),
               At32(record, kFileTime), At32(record, kFileAttr)};
      return true;
    }
    std::vector<std::uint8_t> record(kWideRecordSize);
    if (readExW_(handle, record.data()) != 0) return false;
    std::u16string name;
    for (std::size_t i = kWideFileName; i < kWideFlags; i += 2) {
      char16_t unit;
      std::memcpy(&unit, record.data() + i, 2);
      if (unit == 0) break;
      name += unit;
    }
    entry = {Utf8(name), At32(record, kWidePackSize), At32(record, kWideUnpSize),
             At32(record, kWideFileTime), At32(record, kWideFileAttr)};
    return true;
  }
  // PK_SKIP, PK_TEST or PK_EXTRACT to `target` (UTF-8) through the interface.
  int Process(void *handle, int operation, const std::string &target = "") {
    if (!Unicode()) return process_(handle, operation, nullptr, std::string(target).data());
    std::u16string wide = Utf16(target);
    return processW_(handle, operation, nullptr, wide.data());
  }
  // Every record of a listing, with PK_SKIP after each as the host does.
  std::vector<HostEntry> ListAll(void *handle) {
    std::vector<HostEntry> entries;
    HostEntry entry;
    while (Next(handle, entry)) {
      entries.push_back(entry);
      EXPECT_EQ(Process(handle, 0), 0);
    }
    return entries;
  }
  void *Open(std::string &path, int mode) {
    if (Unicode()) {
      std::u16string wide = Utf16(path);
      OpenDataW data{};
      data.ArcName = wide.data();
      data.OpenMode = mode;
      data.OpenResult = -1;
      void *handle = openW_(&data);
      lastResult_ = data.OpenResult;
      return handle;
    }
    OpenData data{};
    data.ArcName = path.data();
    data.OpenMode = mode;
    data.OpenResult = -1;
    void *handle = open_(&data);
    lastResult_ = data.OpenResult;
    return handle;
  }

  void *library_ = nullptr;
  OpenArchiveFn open_ = nullptr;
  ReadHeaderFn read_ = nullptr;
  ProcessFileFn process_ = nullptr;
  CloseArchiveFn close_ = nullptr;
  SetProcFn setProgress_ = nullptr;
  SetProcFn setChangeVol_ = nullptr;
  CanHandleFn canHandle_ = nullptr;
  CapsFn caps_ = nullptr;
  OpenArchiveWFn openW_ = nullptr;
  ReadHeaderFn readExW_ = nullptr;
  ReadHeaderFn readEx_ = nullptr;
  ProcessFileWFn processW_ = nullptr;
  SetProcFn setProgressW_ = nullptr;
  SetProcFn setChangeVolW_ = nullptr;
  CanHandleWFn canHandleW_ = nullptr;
  CapsFn background_ = nullptr;
  SetDefaultsFn setDefaults_ = nullptr;
  int lastResult_ = 0;
  TempDir dir_;
};

}  // namespace
}  // namespace quarn::testing

#endif
