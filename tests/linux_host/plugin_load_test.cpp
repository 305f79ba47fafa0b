// Loads the built quarn.wcx as Double Commander does (dlopen, plain C
// symbols, packed 64-bit records) and checks what crosses the boundary.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "dump_builder.h"
#include "ffs_builder.h"
#include "sample/default_sample.h"
#include "sample/description.h"
#include "sample/layout.h"
#include "sample_fs.h"
#include "test_files.h"

namespace quarn::testing {
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

// UTF-8 and UTF-16 through the C++ library, for the host's side.
std::u16string Utf16(const std::string &utf8) { return std::filesystem::path(utf8).u16string(); }
std::string Utf8(const std::u16string &utf16) {
  const std::u8string text = std::filesystem::path(utf16).u8string();
  return std::string(text.begin(), text.end());
}

int32_t At32(const std::vector<std::uint8_t> &record, std::size_t offset) {
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

std::string LinuxPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// The DOS date and time read as UTC; an entry without a valid date gets 0.
int32_t LinuxTime(std::uint16_t date, std::uint16_t time) {
  const DosFields f = SplitDos(date, time);
  if (f.Month == 0 || f.Day == 0) return 0;
  return static_cast<int32_t>(UnixSeconds(f.Year, f.Month, f.Day, f.Hour, f.Minute, f.Second));
}

// st_mode: a directory rwxr-xr-x, a file rw-r--r--, read-only without the
// write bits.
int32_t LinuxMode(std::uint32_t attr) {
  int32_t mode = (attr & 0x10) != 0 ? 040755 : 0100644;
  if ((attr & 0x01) != 0) mode &= ~0222;
  return mode;
}

// Sizes the plugin reported to the progress callback, in order.
std::vector<int> progressSizes;
int RecordProgress(char *, int size) {
  progressSizes.push_back(size);
  return 1;
}
int RecordProgressW(char16_t *, int size) {
  progressSizes.push_back(size);
  return 1;
}

// Which interface a test drives: the ANSI exports, or the Unicode ones that
// Double Commander prefers whenever a plugin has them.
enum class Interface { Ansi, Unicode };

class PluginTest : public ::testing::TestWithParam<Interface> {
 protected:
  void SetUp() override {
    library_ = dlopen(QUARN_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
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
  int lastResult_ = 0;
  TempDir dir_;
};

TEST_P(PluginTest, ExportsOnlyTheInterface) {
  EXPECT_EQ(caps_(), 64);
  for (const char *internal : {"CreateFileA", "ReadFile", "GetLocalTime", "CharUpperBuffA"})
    EXPECT_EQ(dlsym(library_, internal), nullptr) << internal;
}

TEST_P(PluginTest, AnswersExactlyZeroOrOne) {
  std::string dump = SaveDump(DumpBuilder());
  std::string other = dir_.File("other.bin");
  WriteBytes(other, std::vector<std::uint8_t>(100, 0));
  auto canHandle = [&](std::string &path) {
    std::u16string wide = Utf16(path);
    return Unicode() ? canHandleW_(wide.data()) : canHandle_(path.data());
  };
  EXPECT_EQ(canHandle(dump), 1);
  EXPECT_EQ(canHandle(other), 0);
}

TEST_P(PluginTest, ListsInDoubleCommandersConventions) {
  DumpBuilder dump;
  dump.Disk(0x100, "FFS", 0x1000, 0x2000, {{At(0x100000), 0x10000}, {At(0x110000), 0x10000}});
  dump.Disk(0x100 + 44, "a/b\\c", 0x1010, 0x2100, {{At(0x200000), 0x1000}});
  std::string path = SaveDump(dump);
  void *handle = Open(path, 0);
  ASSERT_NE(handle, nullptr);
  setChangeVol_(handle, nullptr);
  setProgress_(handle, nullptr);

  std::vector<std::uint8_t> record(600, 0xCC);
  ASSERT_EQ(read_(handle, record.data()), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(record.data())), path);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(record.data() + kFileName)), "FFS.BIN");
  EXPECT_EQ(record[kFileName + 8], 0xCC);  // past the name's NUL: untouched
  EXPECT_EQ(At32(record, kFlags), 0);
  EXPECT_EQ(At32(record, kPackSize), 0x20000);
  EXPECT_EQ(At32(record, kUnpSize), 0x20000);
  EXPECT_EQ(At32(record, kHostOS), 0);
  EXPECT_EQ(static_cast<std::uint32_t>(At32(record, kFileCRC)), 0xCCCCCCCCu);
  EXPECT_EQ(At32(record, kFileTime), 1110890096);  // Unix seconds
  EXPECT_EQ(At32(record, kUnpVer), 0);
  EXPECT_EQ(At32(record, kMethod), 0);
  EXPECT_EQ(At32(record, kFileAttr), 0100644);  // a regular file, rw-r--r--
  for (std::size_t i = kCmtBuf; i < record.size(); ++i) ASSERT_EQ(record[i], 0xCC) << i;
  EXPECT_EQ(process_(handle, 0, nullptr, const_cast<char *>("")), 0);

  ASSERT_EQ(read_(handle, record.data()), 0);
  // A '/' in a name is shown as %2F, a backslash separates.
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(record.data() + kFileName)), "a%2Fb/c.BIN");
  EXPECT_EQ(read_(handle, record.data()), 10);
  EXPECT_EQ(close_(handle), 0);
  EXPECT_LE(kRecordSize, record.size());
}

TEST_P(PluginTest, ExtractsWithTheEntrysTime) {
  const DumpBuilder dump = ThreeDiskDump();
  std::string path = SaveDump(dump);
  void *handle = Open(path, 1);
  ASSERT_NE(handle, nullptr);
  std::vector<std::uint8_t> record(600);
  std::string target = dir_.File("FFS.BIN");
  while (read_(handle, record.data()) == 0) {
    if (std::string(reinterpret_cast<const char *>(record.data() + kFileName)) == "FFS.BIN") {
      EXPECT_EQ(process_(handle, 2, nullptr, target.data()), 0);
    } else {
      EXPECT_EQ(process_(handle, 0, nullptr, const_cast<char *>("")), 0);
    }
  }
  EXPECT_EQ(close_(handle), 0);
  const std::vector<std::uint8_t> bytes = ReadBytes(target);
  ASSERT_EQ(bytes.size(), 0x20000u);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), dump.Data().begin() + 0x100000));
  EXPECT_EQ(ModifiedTime(target), 1110890096);
}

TEST_P(PluginTest, ListsAFlashFileSystemTreeInLinuxForm) {
  const SampleFs sample = FlashFsSample(kDumpDosDate, kDumpDosTime, "\xC3\xA9");
  std::string path = SaveDump(sample.Dump);
  void *handle = Open(path, 0);
  ASSERT_NE(handle, nullptr);
  const std::vector<HostEntry> listed = ListAll(handle);
  EXPECT_EQ(close_(handle), 0);

  // The core's order (by backslash paths), each path in the host's form.
  std::vector<std::string> expectedPaths, listedPaths;
  for (const SampleEntry &e : sample.Listing) expectedPaths.push_back(LinuxPath(e.Path));
  for (const HostEntry &e : listed) listedPaths.push_back(e.Path);
  ASSERT_EQ(listedPaths, expectedPaths);
  // The UTF-8 name stays UTF-8 on Linux.
  EXPECT_NE(std::find(listedPaths.begin(), listedPaths.end(), "FFS/Docs/caf\xC3\xA9.txt"),
            listedPaths.end());
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const SampleEntry &e = sample.Listing[i];
    SCOPED_TRACE(listed[i].Path);
    EXPECT_EQ(listed[i].PackSize, static_cast<int32_t>(e.Size()));
    EXPECT_EQ(listed[i].UnpSize, static_cast<int32_t>(e.Size()));
    EXPECT_EQ(listed[i].FileTime, LinuxTime(e.Date, e.Time));
    EXPECT_EQ(listed[i].FileAttr, LinuxMode(e.Attr));
  }
}

TEST_P(PluginTest, ExtractsEveryFileOfTheTreeWithItsBytesAndTime) {
  const SampleFs sample = FlashFsSample(kDumpDosDate, kDumpDosTime, "\xC3\xA9");
  std::map<std::string, const SampleEntry *> byPath;
  for (const SampleEntry &e : sample.Listing) byPath[LinuxPath(e.Path)] = &e;
  std::string path = SaveDump(sample.Dump);
  const std::filesystem::path out = dir_.Path() / "out";

  // As Double Commander extracts: it makes the folders, skips the directory
  // entries and names every file's full target path.
  void *handle = Open(path, 1);
  ASSERT_NE(handle, nullptr);
  if (Unicode())
    setProgressW_(handle, reinterpret_cast<void *>(&RecordProgressW));
  else
    setProgress_(handle, reinterpret_cast<void *>(&RecordProgress));
  HostEntry entry;
  std::size_t files = 0;
  while (Next(handle, entry)) {
    const std::string name = entry.Path;
    ASSERT_EQ(byPath.count(name), 1u) << name;
    const std::filesystem::path target = out / name;
    if (byPath[name]->Directory()) {
      std::filesystem::create_directories(target);
      EXPECT_EQ(Process(handle, 0), 0) << name;
      continue;
    }
    std::filesystem::create_directories(target.parent_path());
    progressSizes.clear();
    EXPECT_EQ(Process(handle, 2, target.string()), 0) << name;
    ++files;
    // One report before each part of a chained file: none written yet, then
    // each part's size.
    if (name == "FFS/chain.dat") {
      EXPECT_EQ(progressSizes, (std::vector<int>{0, 1000, 700}));
    }
  }
  EXPECT_EQ(close_(handle), 0);

  std::size_t expectedFiles = 0;
  for (const auto &[name, e] : byPath) {
    SCOPED_TRACE(name);
    const std::filesystem::path target = out / name;
    if (e->Directory()) {
      EXPECT_TRUE(std::filesystem::is_directory(target));
      continue;
    }
    ++expectedFiles;
    EXPECT_EQ(ReadBytes(target.string()), e->Content);
    EXPECT_EQ(ModifiedTime(target.string()), LinuxTime(e->Date, e->Time));
  }
  EXPECT_EQ(files, expectedFiles);
  std::size_t written = 0;
  for (const auto &item : std::filesystem::recursive_directory_iterator(out))
    written += item.is_regular_file() ? 1 : 0;
  EXPECT_EQ(written, expectedFiles);
}

TEST_P(PluginTest, MissingDumpFailsToOpen) {
  std::string missing = dir_.File("missing.bin");
  EXPECT_EQ(Open(missing, 0), nullptr);
  EXPECT_EQ(lastResult_, 15);
}

// The Unicode interface's own: its records, names as the phone stored them,
// bad input, and two archives on two threads.
class UnicodeTest : public PluginTest {
 protected:
  // A dump of one disk whose root holds a file of each name (UTF-8 on flash).
  std::string SaveNames(const std::vector<std::string> &names) {
    DumpBuilder dump(0x200000);
    dump.Disk(0x100, "FFS", 0x1000, 0x2000, {{At(0x100000), 0x40000}}, false);
    FlashFs fs(dump, {{At(0x100000), 0x40000}});
    std::uint16_t parent = fs.Root();
    for (const std::string &name : names) {
      if (name == "/")  // the next names go one folder down, its name ending in U+1F600
        parent = fs.Dir(parent, "\x1F" + std::string(120, 'd') + "\xED\xA0\xBD\xED\xB8\x80");
      else if (name == "+")  // a folder of 36 letters
        parent = fs.Dir(parent, std::string(36, 'e'));
      else
        fs.File(parent, "\x1F" + name, Bytes(name));
    }
    return SaveDump(dump);
  }
};

TEST_P(UnicodeTest, RecordsAreFilledUpToFileAttrAndNoFurther) {
  std::string path = SaveDump(ThreeDiskDump());
  void *handle = Open(path, 0);
  ASSERT_NE(handle, nullptr);
  std::vector<std::uint8_t> record(kWideRecordSize + 64, 0xCC);
  ASSERT_EQ(readExW_(handle, record.data()), 0);
  EXPECT_EQ(Utf8(reinterpret_cast<const char16_t *>(record.data())), path);
  EXPECT_EQ(Utf8(reinterpret_cast<const char16_t *>(record.data() + kWideFileName)), "EEFULL.BIN");
  EXPECT_EQ(At32(record, kWidePackSize), 0x30000);
  EXPECT_EQ(At32(record, kWidePackSizeHigh), 0);
  EXPECT_EQ(At32(record, kWideUnpSizeHigh), 0);
  EXPECT_EQ(At32(record, kWideFileAttr), 0100644);
  for (std::size_t i = kWideFileAttr + 4; i < record.size(); ++i) ASSERT_EQ(record[i], 0xCC) << i;
  // The long ANSI record walks the same listing.
  std::vector<std::uint8_t> ex(3200, 0xCC);
  ASSERT_EQ(readEx_(handle, ex.data()), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(ex.data() + kExFileName)), "EELITE.BIN");
  EXPECT_EQ(At32(ex, kExPackSize), 0x10000);
  for (std::size_t i = kExFileAttr + 4; i < ex.size(); ++i) ASSERT_EQ(ex[i], 0xCC) << i;
  EXPECT_EQ(close_(handle), 0);
  EXPECT_EQ(background_(), 1);
}

TEST_P(UnicodeTest, NamesArriveAsThePhoneStoredThemAndPathsAreCutWholeCharacters) {
  // Cyrillic, Greek, CJK, accents; then folders deep enough that the path
  // passes 1023 units with a surrogate pair (the last of each deep folder's
  // 122 units) at units 1022 and 1023: the pair goes whole.
  const std::vector<std::string> names = {
      "\xD0\x9E\xD1\x82\xD0\xBF\xD1\x83\xD1\x81\xD0\xBA.txt",  // Отпуск.txt
      "\xCE\xB1\xCE\xB2\xCE\xB3",                              // αβγ
      "\xE5\x86\x99\xE7\x9C\x9F.png",                          // 写真.png
      "Z\xC3\xBCrich caf\xC3\xA9",                             // Zürich café
      "+",
      "/",
      "/",
      "/",
      "/",
      "/",
      "/",
      "/",
      "/",
      "deep.txt"};
  std::string path = SaveNames(names);
  void *handle = Open(path, 0);
  ASSERT_NE(handle, nullptr);
  std::vector<std::string> listed;
  for (const HostEntry &e : ListAll(handle)) listed.push_back(e.Path);
  EXPECT_EQ(close_(handle), 0);
  for (std::size_t i = 0; i < 4; ++i)
    EXPECT_NE(std::find(listed.begin(), listed.end(), "FFS/" + names[i]), listed.end()) << i;
  // The deepest folder's path is cut before the pair, at 1022 units.
  bool cutBeforePair = false;
  for (const std::string &p : listed) {
    const std::u16string wide = Utf16(p);
    ASSERT_LE(wide.size(), 1023u);
    ASSERT_FALSE(!wide.empty() && wide.back() >= 0xD800 && wide.back() <= 0xDBFF) << p;
    cutBeforePair |= wide.size() == 1022 && wide.back() == u'd';
  }
  EXPECT_TRUE(cutBeforePair);
}

TEST_P(UnicodeTest, BadHandlesRecordsAndTargetsAreRefused) {
  std::vector<std::uint8_t> record(kWideRecordSize);
  char16_t name[] = u"x";
  for (void *handle : {static_cast<void *>(nullptr), reinterpret_cast<void *>(-1)}) {
    setProgressW_(handle, nullptr);
    setChangeVolW_(handle, nullptr);
    EXPECT_EQ(readExW_(handle, record.data()), 12 + 1);  // E_BAD_ARCHIVE
    EXPECT_EQ(processW_(handle, 2, nullptr, name), 13);
  }
  EXPECT_EQ(openW_(nullptr), nullptr);
  EXPECT_EQ(canHandleW_(nullptr), 0);
  std::string path = SaveDump(ThreeDiskDump());
  void *handle = Open(path, 1);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(readExW_(handle, nullptr), 13);
  ASSERT_EQ(readExW_(handle, record.data()), 0);
  EXPECT_EQ(processW_(handle, 2, nullptr, nullptr), 16);  // E_ECREATE
  std::u16string lone = Utf16(dir_.File("x")) + u'\xD800';
  EXPECT_EQ(processW_(handle, 2, nullptr, lone.data()), 16);
  EXPECT_EQ(close_(handle), 0);
}

TEST_P(UnicodeTest, TwoArchivesListAndExtractOnTwoThreadsAtOnce) {
  const SampleFs sample = FlashFsSample(kDumpDosDate, kDumpDosTime, "\xC3\xA9");
  std::string path = SaveDump(sample.Dump);
  auto work = [&](int thread, std::vector<std::string> *paths) {
    for (int round = 0; round < 20; ++round) {
      void *handle = Open(path, 1);
      if (handle == nullptr) return;
      HostEntry entry;
      const std::string target = dir_.File("t" + std::to_string(thread));
      while (Next(handle, entry)) {
        if (round == 0) paths->push_back(entry.Path);
        Process(handle, (entry.FileAttr & 040000) != 0 ? 0 : 2, target);
      }
      close_(handle);
    }
  };
  std::vector<std::string> first, second;
  std::thread a(work, 1, &first);
  std::thread b(work, 2, &second);
  a.join();
  b.join();
  EXPECT_EQ(first.size(), sample.Listing.size());
  EXPECT_EQ(first, second);
}

TEST_P(UnicodeTest, TheSampleListsAlikeThroughBothInterfaces) {
  // Double Commander takes the Unicode exports as soon as a plugin has them:
  // the realistic sample must list through them as through the ANSI ones.
  const sample::Sample built =
      sample::BuildSample(sample::ParseDescription(sample::kDefaultDescription));
  std::string path = SaveDump(built.Dump);
  void *handle = Open(path, 0);
  ASSERT_NE(handle, nullptr);
  const std::vector<HostEntry> wide = ListAll(handle);
  EXPECT_EQ(close_(handle), 0);
  OpenData data{};
  data.ArcName = path.data();
  handle = open_(&data);
  ASSERT_NE(handle, nullptr);
  std::vector<std::uint8_t> record(600);
  std::size_t i = 0;
  for (; read_(handle, record.data()) == 0; ++i) {
    ASSERT_LT(i, wide.size());
    EXPECT_EQ(wide[i].Path, Name(record));
    EXPECT_EQ(wide[i].UnpSize, At32(record, kUnpSize));
    EXPECT_EQ(wide[i].FileTime, At32(record, kFileTime));
    EXPECT_EQ(wide[i].FileAttr, At32(record, kFileAttr));
  }
  EXPECT_EQ(i, wide.size());
  EXPECT_GT(i, 800u);
  EXPECT_EQ(close_(handle), 0);
}

INSTANTIATE_TEST_SUITE_P(Unicode, UnicodeTest, ::testing::Values(Interface::Unicode),
                         [](const auto &) { return "W"; });

INSTANTIATE_TEST_SUITE_P(BothInterfaces, PluginTest,
                         ::testing::Values(Interface::Ansi, Interface::Unicode),
                         [](const auto &info) {
                           return info.param == Interface::Ansi ? "Ansi" : "Unicode";
                         });

}  // namespace
}  // namespace quarn::testing
