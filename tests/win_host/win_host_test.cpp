// The built plugin as Total Commander sees it: loaded with LoadLibrary from
// beside this program, its eight exports found by their plain names, and
// driven only through them and the host's records and callbacks. Cross-built
// with mingw-w64, it runs under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "sample_fs.h"
#include "wcxhead.h"
#include "win_plugin.h"

namespace {

using quarn::testing::kFullDumpSize;
using quarn::testing::kSignatureOffset;

constexpr unsigned char kSentinel = 0xCC;
// The 64-bit record's size is unsettled between hosts; a buffer beyond both
// layouts shows any byte written past FileAttr.
constexpr std::size_t kRecordBuffer = 600;
constexpr std::size_t kCommentOffset = 556;  // CmtBuf: where the comment fields start
constexpr int kBlockSize = 0x10000;          // every block of the three-disk dump

std::uint32_t U32At(const unsigned char *record, std::size_t offset) {
  std::uint32_t value = 0;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

std::uint64_t Ticks(const FILETIME &time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool Exists(const std::string &path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<unsigned char> ReadAll(const std::string &path) {
  std::vector<unsigned char> bytes;
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(GetFileSize(file, nullptr));
  DWORD read = 0;
  if (!bytes.empty() &&
      !ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
    read = 0;
  bytes.resize(read);
  CloseHandle(file);
  return bytes;
}

FILETIME LastWriteTime(const std::string &path) {
  FILETIME written{};
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return written;
  GetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
  return written;
}

// A file of `size` bytes, zero apart from `text` at `offset`.
void MakeFile(const std::string &path, std::uint32_t size, std::uint32_t offset = 0,
              const std::string &text = {}) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  SetFilePointer(file, static_cast<LONG>(size), nullptr, FILE_BEGIN);
  SetEndOfFile(file);
  if (!text.empty()) {
    DWORD written = 0;
    SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN);
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
  CloseHandle(file);
}

// Progress callback: records what the plugin reports, and answers 0 ("stop")
// from the call numbered `stopAt` (counting from 1) on.
struct ProgressLog {
  std::vector<int> Sizes;
  std::vector<std::string> Names;
  std::size_t StopAt = 0;
};
ProgressLog progressLog;

int WCX_CALL RecordProgress(char *fileName, int size) {
  progressLog.Names.emplace_back(fileName != nullptr ? fileName : "(null)");
  progressLog.Sizes.push_back(size);
  return progressLog.StopAt != 0 && progressLog.Sizes.size() >= progressLog.StopAt ? 0 : 1;
}

int WCX_CALL NeverChangeVolume(char *, int) { return 0; }

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

class WinHost : public ::testing::Test {
 protected:
  // One dump for the suite: the three-disk dump, with a last-write time set
  // in UTC, at a moment whose DOS date and time differ from the local ones.
  static void SetUpTestSuite() {
    suiteDir_ = NewDirectory("suite");
    dumpPath_ = suiteDir_ + "THREE.BIN";
    quarn::testing::ThreeDiskDump().Save(dumpPath_);
    SYSTEMTIME when{};
    when.wYear = 2021;
    when.wMonth = 12;
    when.wDay = 31;
    when.wHour = 22;
    when.wMinute = 47;
    when.wSecond = 18;
    SystemTimeToFileTime(&when, &dumpTime_);
    const HANDLE file = CreateFileA(dumpPath_.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &dumpTime_));
    CloseHandle(file);
  }
  static void TearDownTestSuite() { RemoveTree(suiteDir_); }

  void SetUp() override {
    ASSERT_TRUE(AllExportsFound())
        << "cannot load " << ProgramDirectory() << QUARN_PLUGIN_NAME << " or find its exports";
    dir_ = NewDirectory(::testing::UnitTest::GetInstance()->current_test_info()->name());
    progressLog = ProgressLog{};
  }
  void TearDown() override { RemoveTree(dir_); }

  // A fresh directory under the temporary directory, with its delimiter.
  static std::string NewDirectory(const std::string &name) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + "quarn-win-host-" +
                             std::to_string(GetCurrentProcessId()) + "-" + name + "\\";
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
  }
  static void RemoveTree(const std::string &dir) {
    WIN32_FIND_DATAA found{};
    const HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
          RemoveTree(dir + name + "\\");
        else
          DeleteFileA((dir + name).c_str());
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
    RemoveDirectoryA(dir.c_str());
  }

  static void *Open(const std::string &path, int mode, int *result = nullptr) {
    tOpenArchiveData data{};
    data.ArcName = const_cast<char *>(path.c_str());
    data.OpenMode = mode;
    data.OpenResult = -1;
    void *handle = Wcx().OpenArchive(&data);
    if (result != nullptr) *result = data.OpenResult;
    return handle;
  }

  // Reads headers until one names `fileName`; false at the end of the listing.
  static bool SeekTo(void *handle, const std::string &fileName, tHeaderData &header) {
    while (Wcx().ReadHeader(handle, &header) == 0)
      if (fileName == header.FileName) return true;
    return false;
  }

  static std::string suiteDir_;
  static std::string dumpPath_;
  static FILETIME dumpTime_;
  std::string dir_;
};

std::string WinHost::suiteDir_;
std::string WinHost::dumpPath_;
FILETIME WinHost::dumpTime_;

TEST_F(WinHost, ExportsByPlainNameAndDeclaresOnlyByContentAndBackgroundUnpacking) {
  EXPECT_EQ(Wcx().GetPackerCaps(), PK_CAPS_BY_CONTENT);
  EXPECT_EQ(Wcx().GetBackgroundFlags(), BACKGROUND_UNPACK);
}

TEST_F(WinHost, RecognisesExactlyTheFullSizeDumpWithTheSignature) {
  struct Case {
    const char *Name;
    std::uint32_t Size;
    std::string Text;
    int Expected;
  };
  const Case cases[] = {
      {"exact.bin", kFullDumpSize, "SIEMENS", 1},
      {"longer.bin", kFullDumpSize + 1, "SIEMENS", 0},
      {"shorter.bin", kFullDumpSize - 1, "SIEMENS", 0},
      {"lower.bin", kFullDumpSize, "siemens", 0},
      {"nul.bin", kFullDumpSize, std::string("SIEM\0NS", 7), 0},
      {"none.bin", kFullDumpSize, "", 0},
  };
  for (const Case &c : cases) {
    const std::string path = dir_ + c.Name;
    MakeFile(path, c.Size, kSignatureOffset, c.Text);
    EXPECT_EQ(Wcx().CanYouHandleThisFile(const_cast<char *>(path.c_str())), c.Expected) << c.Name;
    DeleteFileA(path.c_str());
  }
  std::string missing = dir_ + "missing.bin";
  EXPECT_EQ(Wcx().CanYouHandleThisFile(missing.data()), 0);
  std::string directory = dir_;
  EXPECT_EQ(Wcx().CanYouHandleThisFile(directory.data()), 0);
}

TEST_F(WinHost, ListsTheRawDiskImagesInRecordsOfTheHostsLayout) {
  void *handle = Open(dumpPath_, PK_OM_LIST);
  ASSERT_NE(handle, nullptr);
  Wcx().SetChangeVolProc(handle, NeverChangeVolume);
  Wcx().SetProcessDataProc(handle, RecordProgress);

  WORD dosDate = 0;
  WORD dosTime = 0;
  ASSERT_TRUE(FileTimeToDosDateTime(&dumpTime_, &dosDate, &dosTime));
  const std::uint32_t fileTime = (static_cast<std::uint32_t>(dosDate) << 16) | dosTime;

  struct Expected {
    const char *Name;
    std::uint32_t Size;
  };
  // Ordinal order of the paths; sizes are the sums of each disk's blocks.
  const Expected expected[] = {
      {"EEFULL.BIN", 3 * kBlockSize}, {"EELITE.BIN", kBlockSize}, {"FFS.BIN", 2 * kBlockSize}};
  std::size_t next = 0;
  for (;;) {
    unsigned char record[kRecordBuffer];
    std::memset(record, kSentinel, sizeof record);
    const int result = Wcx().ReadHeader(handle, reinterpret_cast<tHeaderData *>(record));
    if (result != 0) {
      EXPECT_EQ(result, E_END_ARCHIVE);
      break;
    }
    const std::string name(reinterpret_cast<const char *>(record + 260));
    // Entries inside the disks' directories are not this test's concern.
    if (name.find('\\') != std::string::npos) continue;
    ASSERT_LT(next, std::size(expected)) << "unexpected top-level entry " << name;
    const Expected &e = expected[next++];
    SCOPED_TRACE(e.Name);
    EXPECT_EQ(name, e.Name);

    // ArcName: the archive's path, then zeros to the field's end.
    EXPECT_EQ(0, std::memcmp(record, dumpPath_.data(), dumpPath_.size()));
    for (std::size_t i = dumpPath_.size(); i < 260; ++i) ASSERT_EQ(record[i], 0) << "ArcName " << i;
    // FileName: the path and its NUL; the host's bytes after it untouched.
    for (std::size_t i = 260 + name.size() + 1; i < 520; ++i)
      ASSERT_EQ(record[i], kSentinel) << "FileName " << i;
    EXPECT_EQ(U32At(record, 520), 0u);           // Flags
    EXPECT_EQ(U32At(record, 524), e.Size);       // PackSize
    EXPECT_EQ(U32At(record, 528), e.Size);       // UnpSize
    EXPECT_EQ(U32At(record, 532), 0u);           // HostOS
    EXPECT_EQ(U32At(record, 536), 0xCCCCCCCCu);  // FileCRC: the host's
    EXPECT_EQ(U32At(record, 540), fileTime);     // FileTime: the dump's own, not local
    EXPECT_EQ(U32At(record, 544), 0u);           // UnpVer
    EXPECT_EQ(U32At(record, 548), 0u);           // Method
    EXPECT_EQ(U32At(record, 552), 4u);           // FileAttr: system
#ifdef _WIN64
    // Hosts disagree on the 64-bit layout past FileAttr: nothing written.
    for (std::size_t i = kCommentOffset; i < kRecordBuffer; ++i)
      ASSERT_EQ(record[i], kSentinel) << "offset " << i;
#else
    for (std::size_t i = kCommentOffset; i < 572; ++i)
      ASSERT_EQ(record[i], 0) << "comment fields, offset " << i;
    for (std::size_t i = 572; i < kRecordBuffer; ++i)
      ASSERT_EQ(record[i], kSentinel) << "past the record, offset " << i;
#endif
  }
  EXPECT_EQ(next, std::size(expected));
  tHeaderData header{};
  EXPECT_EQ(Wcx().ReadHeader(handle, &header), E_END_ARCHIVE);
  EXPECT_EQ(Wcx().ReadHeader(handle, &header), E_END_ARCHIVE);
  EXPECT_TRUE(progressLog.Sizes.empty());
  EXPECT_EQ(Wcx().CloseArchive(handle), 0);
}

TEST_F(WinHost, OpenFailsOnlyWhenTheFileCannotBeOpened) {
  int result = 0;
  EXPECT_EQ(Open(dir_ + "missing.bin", PK_OM_LIST, &result), nullptr);
  EXPECT_EQ(result, E_EOPEN);
  result = 0;
  EXPECT_EQ(Open(dir_, PK_OM_LIST, &result), nullptr);
  EXPECT_EQ(result, E_EOPEN);

  // Neither size nor signature is checked on opening: a file without a
  // partition table lists nothing, and stays at the end.
  for (const std::uint32_t size : {0u, 44u}) {
    SCOPED_TRACE(size);
    const std::string path = dir_ + "small.bin";
    MakeFile(path, size);
    tOpenArchiveData data{};
    data.ArcName = const_cast<char *>(path.c_str());
    data.OpenMode = PK_OM_LIST;
    data.OpenResult = -1;
    data.CmtBufSize = 0x5A5A;
    data.CmtSize = 0x5A5A;
    data.CmtState = 0x5A5A;
    void *handle = Wcx().OpenArchive(&data);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(data.OpenResult, 0);
    EXPECT_EQ(data.CmtBuf, nullptr);
    EXPECT_EQ(data.CmtBufSize, 0x5A5A);
    EXPECT_EQ(data.CmtSize, 0x5A5A);
    EXPECT_EQ(data.CmtState, 0x5A5A);
    tHeaderData header{};
    EXPECT_EQ(Wcx().ReadHeader(handle, &header), E_END_ARCHIVE);
    EXPECT_EQ(Wcx().ReadHeader(handle, &header), E_END_ARCHIVE);
    EXPECT_EQ(Wcx().CloseArchive(handle), 0);
    DeleteFileA(path.c_str());
  }
}

TEST_F(WinHost, ExtractsARawImageBlockByBlockInTableOrderWithUnconvertedTimes) {
  void *handle = Open(dumpPath_, PK_OM_EXTRACT);
  ASSERT_NE(handle, nullptr);
  Wcx().SetProcessDataProc(handle, RecordProgress);
  tHeaderData header{};
  ASSERT_TRUE(SeekTo(handle, "EEFULL.BIN", header));
  std::string target = dir_ + "EEFULL.BIN";
  ASSERT_EQ(Wcx().ProcessFile(handle, PK_EXTRACT, nullptr, target.data()), 0);
  EXPECT_EQ(Wcx().CloseArchive(handle), 0);

  // The table lists the blocks at 0x300000, 0x320000, 0x310000; the dump
  // fills each with 0x30 plus its index in the table.
  const std::vector<unsigned char> bytes = ReadAll(target);
  ASSERT_EQ(bytes.size(), 3u * kBlockSize);
  for (int block = 0; block < 3; ++block)
    for (int i = 0; i < kBlockSize; i += 4093)
      ASSERT_EQ(bytes[block * kBlockSize + i], 0x30 + block) << "block " << block << " byte " << i;

  // One call before each block: nothing written yet, then each block's size.
  EXPECT_EQ(progressLog.Sizes, (std::vector<int>{0, kBlockSize, kBlockSize}));
  for (const std::string &name : progressLog.Names) EXPECT_EQ(name, target);

  // The listed DOS date and time, read as they are, not as local time.
  const auto fileTime = static_cast<std::uint32_t>(header.FileTime);
  FILETIME expected{};
  ASSERT_TRUE(DosDateTimeToFileTime(static_cast<WORD>(fileTime >> 16),
                                    static_cast<WORD>(fileTime & 0xFFFF), &expected));
  EXPECT_EQ(Ticks(LastWriteTime(target)), Ticks(expected));
}

TEST_F(WinHost, StopsWhenTheProgressCallbackSaysSoKeepingTheBlocksWritten) {
  void *handle = Open(dumpPath_, PK_OM_EXTRACT);
  ASSERT_NE(handle, nullptr);
  Wcx().SetProcessDataProc(handle, RecordProgress);
  progressLog.StopAt = 2;  // before the second block
  tHeaderData header{};
  ASSERT_TRUE(SeekTo(handle, "EEFULL.BIN", header));
  std::string target = dir_ + "EEFULL.BIN";
  EXPECT_EQ(Wcx().ProcessFile(handle, PK_EXTRACT, nullptr, target.data()), E_EABORTED);
  EXPECT_EQ(Wcx().CloseArchive(handle), 0);
  EXPECT_EQ(ReadAll(target), std::vector<unsigned char>(kBlockSize, 0x30));
}

TEST_F(WinHost, SkipsTestsAndRefusesOtherOperationsWithoutTouchingTheDisk) {
  void *handle = Open(dumpPath_, PK_OM_EXTRACT);
  ASSERT_NE(handle, nullptr);
  tHeaderData header{};
  ASSERT_TRUE(SeekTo(handle, "FFS.BIN", header));
  std::string target = dir_ + "FFS.BIN";
  std::string empty;
  EXPECT_EQ(Wcx().ProcessFile(handle, PK_SKIP, nullptr, empty.data()), 0);
  EXPECT_EQ(Wcx().ProcessFile(handle, PK_TEST, nullptr, empty.data()), 0);
  EXPECT_EQ(Wcx().ProcessFile(handle, PK_TEST, nullptr, nullptr), 0);
  EXPECT_EQ(Wcx().ProcessFile(handle, 3, nullptr, target.data()), E_NOT_SUPPORTED);
  EXPECT_FALSE(Exists(target));

  std::string unreachable = dir_ + "missing\\FFS.BIN";
  EXPECT_EQ(Wcx().ProcessFile(handle, PK_EXTRACT, nullptr, unreachable.data()), E_ECREATE);
  EXPECT_FALSE(Exists(unreachable));
  EXPECT_EQ(Wcx().CloseArchive(handle), 0);
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
