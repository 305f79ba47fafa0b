// Extraction through the exports, the destinations it learns and the
// directory fix-up at close.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "dump_builder.h"
#include "ffs_builder.h"
#include "open_dump.h"
#include "platform/host_path.h"
#include "platform/platform.h"
#include "plugin/host_text.h"
#include "plugin/quarn.h"
#include "test_files.h"
#include "wcx_session.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

namespace quarn::testing {
namespace {

constexpr std::int64_t kDumpTime = 1110890096;  // 2005-03-15 12:34:56 UTC

// What the progress callback saw, and when it asks to stop.
struct Progress {
  std::vector<int> Sizes;
  std::vector<std::string> Names;
  int AbortBeforeCall = -1;  // the call that returns 0
};
Progress g_progress;

int WCX_CALL RecordProgress(char *name, int size) {
  g_progress.Names.emplace_back(name);
  g_progress.Sizes.push_back(size);
  return static_cast<int>(g_progress.Sizes.size()) - 1 == g_progress.AbortBeforeCall ? 0 : 1;
}

std::vector<std::uint8_t> Slice(const DumpBuilder &dump, std::uint32_t offset, std::uint32_t size) {
  return {dump.Data().begin() + offset, dump.Data().begin() + offset + size};
}

// EEFULL's blocks in table order: 0x300000, 0x320000, 0x310000.
std::vector<std::uint8_t> EefullBytes(const DumpBuilder &dump) {
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t offset : {0x300000u, 0x320000u, 0x310000u}) {
    const auto block = Slice(dump, offset, 0x10000);
    bytes.insert(bytes.end(), block.begin(), block.end());
  }
  return bytes;
}

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_progress = Progress();
    dumpPath_ = dir_.File("dump.bin");
    dump_.Save(dumpPath_);
    SetModifiedTime(dumpPath_, kDumpTime);
  }
  std::string Target(const std::string &name) const { return dir_.File(name); }

  TempDir dir_;
  DumpBuilder dump_ = ThreeDiskDump();
  std::string dumpPath_;
};

TEST_F(ExtractTest, ARawImageIsWrittenBlockByBlockInTableOrder) {
  WcxArchive archive(dumpPath_, PK_OM_EXTRACT);
  ASSERT_TRUE(archive.SeekTo("EEFULL.BIN"));
  SetProcessDataProc(archive.Handle(), RecordProgress);
  const std::string target = Target("EEFULL.BIN");
  ASSERT_EQ(archive.Extract(target), 0);
  EXPECT_EQ(ReadBytes(target), EefullBytes(dump_));
  EXPECT_EQ(ModifiedTime(target), kDumpTime);  // the DOS time as it is, not shifted
  EXPECT_EQ(g_progress.Sizes, (std::vector<int>{0, 0x10000, 0x10000}));
  EXPECT_EQ(g_progress.Names.front(), target);
}

TEST_F(ExtractTest, AbortingBeforeTheSecondBlockKeepsTheFirst) {
  WcxArchive archive(dumpPath_, PK_OM_EXTRACT);
  ASSERT_TRUE(archive.SeekTo("EEFULL.BIN"));
  SetProcessDataProc(archive.Handle(), RecordProgress);
  g_progress.AbortBeforeCall = 1;
  const std::string target = Target("part.BIN");
  EXPECT_EQ(archive.Extract(target), E_EABORTED);
  EXPECT_EQ(ReadBytes(target), Slice(dump_, 0x300000, 0x10000));
  EXPECT_EQ(ModifiedTime(target), kDumpTime);  // still stamped
}

TEST_F(ExtractTest, OperationsOtherThanExtractWriteNothing) {
  WcxArchive archive(dumpPath_, PK_OM_EXTRACT);
  ASSERT_TRUE(archive.SeekTo("FFS.BIN"));
  std::string target = Target("nothing.bin");
  EXPECT_EQ(ProcessFile(archive.Handle(), PK_TEST, nullptr, target.data()), 0);
  EXPECT_EQ(ProcessFile(archive.Handle(), PK_SKIP, nullptr, target.data()), 0);
  EXPECT_EQ(ProcessFile(archive.Handle(), 3, nullptr, target.data()), E_NOT_SUPPORTED);
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(ExtractTest, AfterTheEndTheLastEntryIsExtracted) {
  WcxArchive archive(dumpPath_, PK_OM_EXTRACT);
  tHeaderData header;
  while (archive.Next(header) == 0) {
  }
  const std::string target = Target("last.bin");
  ASSERT_EQ(archive.Extract(target), 0);
  EXPECT_EQ(ReadBytes(target).size(), 0x20000u);  // FFS.BIN, the last in order
  ASSERT_EQ(archive.Extract(target), 0);          // and again: the cursor stays
  EXPECT_EQ(ReadBytes(target).size(), 0x20000u);
}

TEST_F(ExtractTest, ALongerExistingTargetIsCutToTheEntry) {
  const std::string target = Target("EELITE.BIN");
  WriteBytes(target, std::vector<std::uint8_t>(0x30000, 0xEE));
  WcxArchive archive(dumpPath_, PK_OM_EXTRACT);
  ASSERT_TRUE(archive.SeekTo("EELITE.BIN"));
  ASSERT_EQ(archive.Extract(target), 0);
  EXPECT_EQ(ReadBytes(target), Slice(dump_, 0x200000, 0x10000));
}

TEST_F(ExtractTest, ATargetThatCannotBeCreatedIsReported) {
  WcxArchive archive(dumpPath_, PK_OM_EXTRACT);
  ASSERT_TRUE(archive.SeekTo("FFS.BIN"));
  EXPECT_EQ(archive.Extract(dir_.File("no-such-folder") + kPathDelimiter + "FFS.BIN"), E_ECREATE);
  EXPECT_EQ(archive.Extract(dir_.Path().string()), E_ECREATE);  // a folder is in the way
  EXPECT_EQ(ProcessFile(archive.Handle(), PK_EXTRACT, nullptr, nullptr), E_ECREATE);
}

TEST_F(ExtractTest, BlocksPastTheEndOfAShortDumpAreNotInvented) {
  DumpBuilder shortDump(0x6000, 0x11, false);
  // Three blocks: inside, straddling the end, wholly past it.
  shortDump.Disk(0x100, "CUT", 0x1000, 0x2000,
                 {{At(0x3000), 0x1000}, {At(0x5000), 0x2000}, {At(0x9000), 0x1000}}, false);
  const std::string path = dir_.File("short.bin");
  shortDump.Save(path);
  WcxArchive archive(path, PK_OM_EXTRACT);
  ASSERT_TRUE(archive.SeekTo("CUT.BIN"));
  const std::string target = Target("CUT.BIN");
  EXPECT_EQ(archive.Extract(target), E_BAD_DATA);
  const std::vector<std::uint8_t> written = ReadBytes(target);
  ASSERT_EQ(written.size(), 0x2000u);  // the first block and what lies inside of the second
  EXPECT_EQ(written, std::vector<std::uint8_t>(0x2000, 0x11));
}

TEST_F(ExtractTest, AnEmptyListingHasNothingToExtract) {
  const std::string path = dir_.File("blank.bin");
  DumpBuilder().Save(path);
  WcxArchive archive(path, PK_OM_EXTRACT);
  tHeaderData header;
  ASSERT_EQ(archive.Next(header), E_END_ARCHIVE);
  EXPECT_EQ(archive.Extract(Target("x.bin")), E_END_ARCHIVE);
  EXPECT_FALSE(std::filesystem::exists(Target("x.bin")));
  char empty[] = "";
  EXPECT_EQ(ProcessFile(archive.Handle(), PK_SKIP, nullptr, empty), 0);
}

#ifndef _WIN32
TEST_F(ExtractTest, AFullDiskIsAWriteError) {
  // A file-size limit stands in for a full disk; the child process keeps
  // the limit to itself.
  const std::string target = Target("FFS.BIN");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {0x18000, 0x18000};
    setrlimit(RLIMIT_FSIZE, &limit);
    WcxArchive archive(dumpPath_, PK_OM_EXTRACT);
    if (!archive.SeekTo("FFS.BIN")) _exit(100);
    _exit(archive.Extract(target));
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), E_EWRITE);
  EXPECT_EQ(ReadBytes(target).size(), 0x18000u);
}
#endif

// Learning destinations, on entries made here.
class LearnTest : public ::testing::Test {
 protected:
  TSieFile *Make(const std::string &name, TSieFile *parent) {
    entries_.push_back(std::make_unique<TSieFile>());
    TSieFile *e = entries_.back().get();
    e->Name = name;
    e->SetParent(parent);
    return e;
  }
  static std::string P(std::initializer_list<const char *> parts, bool trailing = false) {
    std::string path;
    for (const char *part : parts) {
      if (!path.empty()) path += kPathDelimiter;
      path += part;
    }
    if (trailing) path += kPathDelimiter;
    return path;
  }
  std::vector<std::unique_ptr<TSieFile>> entries_;
  TSieFile *root_ = Make("", nullptr);
  TSieFile *disk_ = Make("disk", root_);
  TSieFile *data_ = Make("data", disk_);
  TSieFile *file_ = Make("a.txt", data_);
};

TEST_F(LearnTest, EachAncestorLearnsWhileTheNamesMatch) {
  TQuarn::LearnDestination(file_, P({"", "out", "disk", "data", "a.txt"}));
  EXPECT_EQ(file_->DestDir, P({"", "out", "disk", "data"}, true));
  EXPECT_EQ(data_->DestDir, P({"", "out", "disk"}, true));
  EXPECT_EQ(disk_->DestDir, P({"", "out"}, true));
  EXPECT_EQ(root_->DestDir, "");  // "out" is not the nameless root's name
  // Learned once: a later target changes nothing.
  TQuarn::LearnDestination(file_, P({"", "elsewhere", "a.txt"}));
  EXPECT_EQ(file_->DestDir, P({"", "out", "disk", "data"}, true));
}

TEST_F(LearnTest, CaseDoesNotMatterButTheNameDoes) {
  TQuarn::LearnDestination(file_, P({"", "X", "DISK", "Data", "A.TXT"}));
  EXPECT_EQ(file_->DestDir, P({"", "X", "DISK", "Data"}, true));
  EXPECT_EQ(disk_->DestDir, P({"", "X"}, true));

  TSieFile *other = Make("b.txt", data_);
  TSieFile *sub = Make("sub", disk_);
  TSieFile *inSub = Make("c.txt", sub);
  TQuarn::LearnDestination(inSub, P({"", "y", "sub", "renamed.txt"}));
  EXPECT_EQ(inSub->DestDir, "");
  EXPECT_EQ(sub->DestDir, "");
  // A sibling never extracted follows its parent, under the entry's own name.
  EXPECT_EQ(other->ExtractDir(), P({"", "X", "DISK", "data"}, true));
}

TEST_F(LearnTest, TheNamelessRootTakesTheTargetItselfAsItsDirectory) {
  TQuarn::LearnDestination(root_, "");
  EXPECT_EQ(root_->DestDir, std::string(1, kPathDelimiter));
}

TEST_F(LearnTest, UnicodeTargetsTeachTheirOwnDestinationsCaseBlind) {
  // "Данные" (data) stored in lower case, named in upper case by the host.
  data_->WideName = u"\u0434\u0430\u043D\u043D\u044B\u0435";
  file_->WideName = u"a.txt";
  disk_->WideName = u"disk";
  const std::u16string delimiter(1, static_cast<char16_t>(kPathDelimiter));
  TQuarn::LearnDestination(file_, u"out" + delimiter + u"disk" + delimiter +
                                      u"\u0414\u0410\u041D\u041D\u042B\u0415" + delimiter +
                                      u"A.TXT");
  EXPECT_EQ(data_->DestDirW, u"out" + delimiter + u"disk" + delimiter);
  EXPECT_EQ(disk_->DestDirW, u"out" + delimiter);
  EXPECT_EQ(data_->DestDir, "");  // the narrow destinations are the other interface's
}

TEST(NameMatchesTest, ComparesWithoutCase) {
  EXPECT_TRUE(TQuarn::NameMatches("a.txt", "A.TXT"));
  EXPECT_TRUE(TQuarn::NameMatches("", ""));
  EXPECT_FALSE(TQuarn::NameMatches("a.txt", "b.txt"));
  EXPECT_FALSE(TQuarn::NameMatches("a.txt", "a.txt "));
}

// The fix-up at close: a disk with the folders "made", "kept" and "never",
// each holding a file, extracted as a host does.
class FixUpTest : public ExtractTest {
 protected:
  FixUpTest() {
    dump_.Disk(0x100, "FFS", 0x1000, 0x2000, {{At(0x100000), 0x10000}}, false);
    FlashFs fs(dump_, {{At(0x100000), 0x10000}});
    const std::uint16_t root = fs.Root();
    for (const char *name : {"made", "kept", "never"}) fs.File(fs.Dir(root, name), "f", Bytes("x"));
  }
  // Extracts FFS\<folder>\f into out/FFS/<folder>/f, through the ANSI
  // interface or the Unicode one; false when not listed.
  bool ExtractInto(TQuarn &archive, const std::filesystem::path &out, const std::string &folder,
                   bool wide = false) {
    const std::filesystem::path target = out / "FFS" / folder / "f";
    if (wide) {
      tHeaderDataExW header{};
      while (archive.ReadHeaderExW(&header) == 0) {
        if (WideText(header.FileName) != HostName(u"FFS\\" + WideFromNarrow(folder) + u"\\f"))
          continue;
        std::vector<WCX_WCHAR> name = HostWide(target.u16string());
        return archive.ProcessFileW(PK_EXTRACT, name.data()) == 0;
      }
      return false;
    }
    tHeaderData header{};
    while (archive.ReadHeader(&header) == 0) {
      if (HostName("FFS\\" + folder + "\\f") != header.FileName) continue;
      std::string name = target.string();
      return archive.ProcessFile(PK_EXTRACT, name.data()) == 0;
    }
    return false;
  }
  // The moment the folders' DOS date and time name, taken as local time.
  static std::int64_t EntryMomentAsLocal() {
    FILETIME local{};
    FILETIME utc{};
    DosDateTimeToFileTime(kSampleDate, kSampleTime, &local);
    LocalFileTimeToFileTime(&local, &utc);
    const auto ticks = (static_cast<std::uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
    return static_cast<std::int64_t>(ticks / 10000000) - 11644473600LL;
  }
  DumpBuilder dump_{0x200000};
};

TEST_F(FixUpTest, DirectoriesCreatedDuringExtractionGetTheirEntrysTime) {
  // Through either interface: the Unicode one stamps through the W calls.
  for (const bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "Unicode" : "ANSI");

    const std::filesystem::path out = dir_.Path() / (wide ? "out-wide" : "out");
    std::filesystem::create_directories(out / "FFS" / "kept");
    std::filesystem::create_directories(out / "FFS" / "never");
    const std::int64_t keptTime = ModifiedTime((out / "FFS" / "kept").string());
    const std::int64_t neverTime = ModifiedTime((out / "FFS" / "never").string());
    std::unique_ptr<TQuarn> archive = OpenInMemory(dump_, PK_OM_EXTRACT);

    // The host creates "made" during the extraction, after the archive opened
    // (both moments are kept to the millisecond).
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::filesystem::create_directories(out / "FFS" / "made");
    FILETIME birth{};
    {
      const HANDLE probe =
          CreateFileA((out / "FFS" / "made").string().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      ASSERT_NE(probe, INVALID_HANDLE_VALUE);
      GetFileTime(probe, &birth, nullptr, nullptr);
      CloseHandle(probe);
    }
    if (birth.dwHighDateTime == 0 && birth.dwLowDateTime == 0)
      GTEST_SKIP()
          << "this file system keeps no creation times: the fix-up leaves directories alone";

    ASSERT_TRUE(ExtractInto(*archive, out, "made", wide));
    // "kept" is placed without writing into it: where a file system keeps no
    // birth time (Wine takes the inode's change time), a file written into a
    // folder would make it look new.
    for (int i = 0; i < archive->Listing().Count(); ++i) {
      if (archive->ListingPath(i) != "FFS\\kept") continue;
      if (wide)
        TQuarn::LearnDestination(archive->Listing()[i], (out / "FFS" / "kept").u16string());
      else
        TQuarn::LearnDestination(archive->Listing()[i], (out / "FFS" / "kept").string());
    }
    archive.reset();  // close: the fix-up runs

    EXPECT_EQ(ModifiedTime((out / "FFS" / "made").string()), EntryMomentAsLocal());
    EXPECT_EQ(ModifiedTime((out / "FFS" / "kept").string()), keptTime);
    EXPECT_EQ(ModifiedTime((out / "FFS" / "never").string()), neverTime);  // not placed by the host
  }
}

TEST_F(FixUpTest, AnArchiveOpenedForListingTouchesNothing) {
  const std::filesystem::path out = dir_.Path() / "out";
  std::unique_ptr<TQuarn> archive = OpenInMemory(dump_, PK_OM_LIST);
  std::filesystem::create_directories(out / "FFS" / "made");
  const std::int64_t before = ModifiedTime((out / "FFS" / "made").string());
  ASSERT_TRUE(ExtractInto(*archive, out, "made"));
  archive.reset();
  EXPECT_EQ(ModifiedTime((out / "FFS" / "made").string()), before);
}

}  // namespace
}  // namespace quarn::testing
