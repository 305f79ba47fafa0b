// The plugin's exports, its recognition of dumps and its raw disk images, in a Windows host.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "wcxhead.h"
#include "win_host_fixture.h"
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

bool Exists(const std::string &path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
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

int WCX_CALL NeverChangeVolume(char *, int) { return 0; }

TEST_F(WinHost, ExportsByPlainNameAndDeclaresOnlyByContentAndBackgroundUnpacking) {
  EXPECT_EQ(Wcx().GetPackerCaps(), PK_CAPS_BY_CONTENT);
  EXPECT_EQ(Wcx().GetBackgroundFlags(), BACKGROUND_UNPACK);
}

TEST_F(WinHost, TakesTheSettingsFileAsTotalCommanderHandsItOver) {
  // The packer plugins' shared file beside wincmd.ini.
  const std::string ini = dir_ + "pkplugin.ini";
  MakeFile(ini, 0, 0, "[Quarn]\r\nShowDeleted=1\r\n");
  PackDefaultParamStruct params{};
  params.size = sizeof params;
  params.PluginInterfaceVersionLow = 10;
  params.PluginInterfaceVersionHi = 2;
  lstrcpynA(params.DefaultIniName, ini.c_str(), MAX_PATH);
  Wcx().PackSetDefaultParams(&params);
  Wcx().PackSetDefaultParams(nullptr);
  Wcx().PackSetDefaultParams(&params);
  std::memset(&params, 0xCC, sizeof params);  // nothing of the record is kept
  void *handle = Open(dumpPath_, PK_OM_LIST);
  ASSERT_NE(handle, nullptr);
  tHeaderData header{};
  EXPECT_FALSE(SeekTo(handle, "no such entry", header));
  EXPECT_EQ(Wcx().CloseArchive(handle), 0);
  Wcx().PackSetDefaultParams(nullptr);
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

}  // namespace
