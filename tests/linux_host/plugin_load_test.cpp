// Loads the built quarn.wcx as Double Commander does (dlopen, plain C
// symbols, packed 64-bit records) and checks what crosses the boundary,
// through the ANSI and the Unicode exports alike.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "plugin_host.h"
#include "sample/default_sample.h"
#include "sample/description.h"
#include "sample/layout.h"
#include "sample_fs.h"
#include "test_files.h"

namespace quarn::testing {
namespace {

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

TEST_P(PluginTest, TakesTheSettingsFileAsDoubleCommanderHandsItOver) {
  const std::string ini = dir_.File("wcx.ini");
  const std::string text = "[Quarn]\nShowDeleted=1\n";
  WriteBytes(ini, std::vector<std::uint8_t>(text.begin(), text.end()));
  // Its record on Linux: the name field is longer than the 260 bytes of
  // Windows, and `size` says so.
  std::vector<char> record(12 + 4096, '\0');
  const int size = static_cast<int>(record.size());
  const std::uint32_t versionLow = 10, versionHigh = 2;
  std::memcpy(record.data(), &size, 4);
  std::memcpy(record.data() + 4, &versionLow, 4);
  std::memcpy(record.data() + 8, &versionHigh, 4);
  std::memcpy(record.data() + 12, ini.c_str(), ini.size() + 1);
  setDefaults_(record.data());
  setDefaults_(nullptr);
  setDefaults_(record.data());
  // The record is not kept: the plugin reads the file when an archive opens,
  // and then lists and extracts the sample's deleted files as they were.
  std::fill(record.begin(), record.end(), '\xCC');
  const sample::Sample built =
      sample::BuildSample(sample::ParseDescription(sample::kDefaultDescription));
  std::string dump = SaveDump(built.Dump);
  const auto countDeleted = [this, &dump, &built](bool extract) {
    void *handle = Open(dump, extract ? 1 : 0);
    EXPECT_NE(handle, nullptr);
    std::size_t deleted = 0;
    HostEntry entry;
    while (handle != nullptr && Next(handle, entry)) {
      const auto want = std::find_if(built.Deleted.begin(), built.Deleted.end(),
                                     [&entry](const auto &e) { return e.Path == entry.Path; });
      if (want == built.Deleted.end() || want->Dir || !extract) {
        deleted += entry.Path.find("/Deleted") != std::string::npos ? 1 : 0;
        EXPECT_EQ(Process(handle, 0), 0);
        continue;
      }
      ++deleted;
      const std::string target = dir_.File("recovered");
      EXPECT_EQ(Process(handle, 2, target), 0) << entry.Path;
      EXPECT_EQ(ReadBytes(target), want->Bytes) << entry.Path;
      EXPECT_EQ(ModifiedTime(target), LinuxTime(want->Date, want->Time)) << entry.Path;
    }
    if (handle != nullptr) {
      EXPECT_EQ(close_(handle), 0);
    }
    return deleted;
  };
  EXPECT_EQ(countDeleted(false), built.Deleted.size());
  EXPECT_EQ(countDeleted(true), built.Deleted.size());
  // Without a settings file, the default: what the phone shows.
  setDefaults_(nullptr);
  EXPECT_EQ(countDeleted(false), 0u);
}

TEST_P(PluginTest, MissingDumpFailsToOpen) {
  std::string missing = dir_.File("missing.bin");
  EXPECT_EQ(Open(missing, 0), nullptr);
  EXPECT_EQ(lastResult_, 15);
}

INSTANTIATE_TEST_SUITE_P(BothInterfaces, PluginTest,
                         ::testing::Values(Interface::Ansi, Interface::Unicode),
                         [](const auto &info) {
                           return info.param == Interface::Ansi ? "Ansi" : "Unicode";
                         });

}  // namespace
}  // namespace quarn::testing
