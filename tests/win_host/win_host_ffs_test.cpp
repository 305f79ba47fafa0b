// A flash file system tree, listed and extracted as Total Commander does it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "sample_fs.h"
#include "wcxhead.h"
#include "win_host_fixture.h"
#include "win_plugin.h"

namespace {

// Every folder of `path` from `base` down, as a host makes them before it
// extracts into them; `path` is relative, with backslashes.
void MakeFolders(const std::string &base, const std::string &path) {
  for (std::size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryA((base + path.substr(0, at)).c_str(), nullptr);
  CreateDirectoryA((base + path).c_str(), nullptr);
}

std::size_t CountFiles(const std::string &dir) {
  std::size_t count = 0;
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      count += CountFiles(dir + name + "\\");
    else
      ++count;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return count;
}

// The flash file system dump, with U+00E9 as code page 1252 writes it, saved
// with a last-write time of 2005-03-15 12:34:56 UTC.
constexpr std::uint16_t kSampleDosDate = quarn::testing::DosDate(2005, 3, 15);
constexpr std::uint16_t kSampleDosTime = quarn::testing::DosTime(12, 34, 56);

quarn::testing::SampleFs SaveSample(const std::string &path) {
  quarn::testing::SampleFs sample =
      quarn::testing::FlashFsSample(kSampleDosDate, kSampleDosTime, "\xE9");
  sample.Dump.Save(path);
  FILETIME written{};
  DosDateTimeToFileTime(kSampleDosDate, kSampleDosTime, &written);
  const HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
  }
  return sample;
}

// Under another ANSI code page than 1252 the UTF-8 name converts to other
// bytes, and only that entry's path cannot be foretold.
bool PathIsForetold(const std::string &path) {
  return GetACP() == 1252 || path.rfind("FFS\\Docs\\caf", 0) != 0;
}

TEST_F(WinHost, ListsAFlashFileSystemTreeWithBackslashesFatAttributesAndDosTimes) {
  const quarn::testing::SampleFs sample = SaveSample(dir_ + "FFS.DMP");
  void *handle = Open(dir_ + "FFS.DMP", PK_OM_LIST);
  ASSERT_NE(handle, nullptr);
  struct Seen {
    std::string Path;
    std::uint32_t PackSize, UnpSize, FileTime, FileAttr;
  };
  std::vector<Seen> seen;
  tHeaderData header{};
  while (Wcx().ReadHeader(handle, &header) == 0) {
    if (PathIsForetold(header.FileName))
      seen.push_back({header.FileName, static_cast<std::uint32_t>(header.PackSize),
                      static_cast<std::uint32_t>(header.UnpSize),
                      static_cast<std::uint32_t>(header.FileTime),
                      static_cast<std::uint32_t>(header.FileAttr)});
    std::string empty;
    EXPECT_EQ(Wcx().ProcessFile(handle, PK_SKIP, nullptr, empty.data()), 0);
  }
  EXPECT_EQ(Wcx().CloseArchive(handle), 0);

  std::vector<const quarn::testing::SampleEntry *> expected;
  for (const quarn::testing::SampleEntry &e : sample.Listing)
    if (PathIsForetold(e.Path)) expected.push_back(&e);
  std::vector<std::string> seenPaths, expectedPaths;
  for (const Seen &s : seen) seenPaths.push_back(s.Path);
  for (const quarn::testing::SampleEntry *e : expected) expectedPaths.push_back(e->Path);
  ASSERT_EQ(seenPaths, expectedPaths);
  if (GetACP() == 1252) {
    EXPECT_NE(std::find(seenPaths.begin(), seenPaths.end(), "FFS\\Docs\\caf\xE9.txt"),
              seenPaths.end());
  }
  for (std::size_t i = 0; i < seen.size(); ++i) {
    const quarn::testing::SampleEntry &e = *expected[i];
    SCOPED_TRACE(seen[i].Path);
    EXPECT_EQ(seen[i].PackSize, e.Size());
    EXPECT_EQ(seen[i].UnpSize, e.Size());
    // The DOS date and time as stored; an EEPROM disk's made-up root has none.
    EXPECT_EQ(seen[i].FileTime, static_cast<std::uint32_t>(e.Date) << 16 | e.Time);
    // 0x18 on that root shows as 0x10; a read-only file keeps 0x21.
    EXPECT_EQ(seen[i].FileAttr, e.Attr & 0x37);
  }
}

TEST_F(WinHost, ExtractsEveryFileOfAFlashFileSystemTreeByteForByte) {
  const quarn::testing::SampleFs sample = SaveSample(dir_ + "FFS.DMP");
  const std::string out = dir_ + "out\\";
  CreateDirectoryA(out.c_str(), nullptr);
  void *handle = Open(dir_ + "FFS.DMP", PK_OM_EXTRACT);
  ASSERT_NE(handle, nullptr);
  Wcx().SetProcessDataProc(handle, RecordProgress);
  std::size_t extracted = 0;
  tHeaderData header{};
  std::string empty;
  while (Wcx().ReadHeader(handle, &header) == 0) {
    const std::string name = header.FileName;
    if (!PathIsForetold(name)) {
      EXPECT_EQ(Wcx().ProcessFile(handle, PK_SKIP, nullptr, empty.data()), 0);
      continue;
    }
    if ((header.FileAttr & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      MakeFolders(out, name);
      EXPECT_EQ(Wcx().ProcessFile(handle, PK_SKIP, nullptr, empty.data()), 0);
      continue;
    }
    const std::size_t slash = name.find_last_of('\\');
    if (slash != std::string::npos) MakeFolders(out, name.substr(0, slash));
    std::string target = out + name;
    progressLog = ProgressLog{};
    EXPECT_EQ(Wcx().ProcessFile(handle, PK_EXTRACT, nullptr, target.data()), 0) << name;
    ++extracted;
    // The parts of a chained file, one report before each.
    if (name == "FFS\\chain.dat") {
      EXPECT_EQ(progressLog.Sizes, (std::vector<int>{0, 1000, 700}));
    }
  }
  EXPECT_EQ(Wcx().CloseArchive(handle), 0);

  std::size_t expectedFiles = 0;
  for (const quarn::testing::SampleEntry &e : sample.Listing) {
    if (!PathIsForetold(e.Path)) continue;
    SCOPED_TRACE(e.Path);
    const std::string target = out + e.Path;
    if (e.Directory()) {
      const DWORD attributes = GetFileAttributesA(target.c_str());
      EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
      EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
      continue;
    }
    ++expectedFiles;
    EXPECT_EQ(ReadAll(target), std::vector<unsigned char>(e.Content.begin(), e.Content.end()));
    FILETIME stamped{};
    ASSERT_TRUE(DosDateTimeToFileTime(e.Date, e.Time, &stamped));
    EXPECT_EQ(Ticks(LastWriteTime(target)), Ticks(stamped));
  }
  EXPECT_EQ(extracted, expectedFiles);
  EXPECT_EQ(CountFiles(out), expectedFiles);
}

}  // namespace
