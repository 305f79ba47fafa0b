// Opening and listing dumps through the exports, as a host does.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "dump_builder.h"
#include "plugin/settings.h"
#include "test_files.h"
#include "wcx_session.h"
#include "wcxhead.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quarn::testing {
namespace {

// 2005-03-15 12:34:56 UTC, and its DOS date and time.
constexpr std::int64_t kDumpTime = 1110890096;
constexpr int kDumpDosDate = 0x326F;
constexpr int kDumpDosTime = 0x645C;

int HostTime(int dosDate, int dosTime, std::int64_t unixSeconds) {
#ifdef _WIN32
  (void)unixSeconds;
  return (dosDate << 16) | dosTime;
#else
  (void)dosDate;
  (void)dosTime;
  return static_cast<int>(unixSeconds);
#endif
}

int HostAttr(int fatAttr) {
#ifdef _WIN32
  return fatAttr & 0x37;
#else
  int mode = (fatAttr & 0x10) ? 040755 : 0100644;
  if (fatAttr & 0x01) mode &= ~0222;
  return mode;
#endif
}

#ifndef _WIN32
// Whether the file at `path` is mapped into this process.
bool IsMapped(const std::string &path) {
  const std::string name = " " + std::filesystem::canonical(path).string();
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);)
    if (line.ends_with(name)) return true;
  return false;
}
#endif

class ArchiveTest : public ::testing::Test {
 protected:
  std::string Save(const DumpBuilder &dump, const std::string &name = "dump.bin") {
    const std::string path = dir_.File(name);
    dump.Save(path);
    EXPECT_TRUE(SetModifiedTime(path, kDumpTime));
    return path;
  }
  TempDir dir_;
};

TEST_F(ArchiveTest, RecognisesADumpBySizeAndSignature) {
  EXPECT_EQ(GetPackerCaps(), PK_CAPS_BY_CONTENT);
  auto answer = [](const std::string &path) {
    std::string copy = path;
    return CanYouHandleThisFile(copy.data());
  };
  EXPECT_EQ(answer(Save(DumpBuilder(), "good.bin")), 1);
  EXPECT_EQ(answer(Save(DumpBuilder(0x2000001), "long.bin")), 0);
  EXPECT_EQ(answer(Save(DumpBuilder(0x1FFFFFF), "short.bin")), 0);
  DumpBuilder lower;
  lower.Bytes(544, "siemens", 7);
  EXPECT_EQ(answer(Save(lower, "lower.bin")), 0);
  DumpBuilder nul;
  nul.U8(547, 0);
  EXPECT_EQ(answer(Save(nul, "nul.bin")), 0);
  EXPECT_EQ(answer(dir_.File("missing.bin")), 0);
  EXPECT_EQ(answer(dir_.Path().string()), 0);
  EXPECT_EQ(CanYouHandleThisFile(nullptr), 0);
}

TEST_F(ArchiveTest, ListsOneRawImagePerDiskInOrdinalOrder) {
  WcxArchive archive(Save(ThreeDiskDump()));
  ASSERT_NE(archive.Handle(), nullptr);
  EXPECT_EQ(archive.OpenResult(), 0);
  const std::vector<Listed> entries = archive.List();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Path, "EEFULL.BIN");
  EXPECT_EQ(entries[1].Path, "EELITE.BIN");
  EXPECT_EQ(entries[2].Path, "FFS.BIN");
  EXPECT_EQ(entries[0].UnpSize, 0x30000);
  EXPECT_EQ(entries[1].UnpSize, 0x10000);
  EXPECT_EQ(entries[2].UnpSize, 0x20000);
  for (const Listed &e : entries) {
    EXPECT_EQ(e.PackSize, e.UnpSize);
    EXPECT_EQ(e.FileAttr, HostAttr(4));
    EXPECT_EQ(e.FileTime, HostTime(kDumpDosDate, kDumpDosTime, kDumpTime));
  }
  tHeaderData header;
  EXPECT_EQ(archive.Next(header), E_END_ARCHIVE);
  EXPECT_EQ(archive.Next(header), E_END_ARCHIVE);
  EXPECT_EQ(archive.Close(), 0);
}

TEST_F(ArchiveTest, FillsTheRecordAsTheHostExpects) {
  const std::string path = Save(ThreeDiskDump());
  WcxArchive archive(path);
  tHeaderData header;
  ASSERT_EQ(archive.Next(header, 0xCC), 0);
  EXPECT_EQ(std::string(header.ArcName), path);
  for (std::size_t i = path.size(); i < sizeof header.ArcName; ++i)
    ASSERT_EQ(header.ArcName[i], 0) << i;
  EXPECT_STREQ(header.FileName, "EEFULL.BIN");
  EXPECT_EQ(static_cast<unsigned char>(header.FileName[11]), 0xCC);  // past the NUL: untouched
  EXPECT_EQ(header.Flags, 0);
  EXPECT_EQ(header.HostOS, 0);
  EXPECT_EQ(static_cast<unsigned>(header.FileCRC), 0xCCCCCCCCu);
  EXPECT_EQ(header.UnpVer, 0);
  EXPECT_EQ(header.Method, 0);
#if defined(_WIN32) && !defined(_WIN64)
  EXPECT_EQ(header.CmtBuf, nullptr);
  EXPECT_EQ(header.CmtState, 0);
#else
  const auto *bytes = reinterpret_cast<const unsigned char *>(&header);
  for (std::size_t i = 556; i < sizeof header; ++i) ASSERT_EQ(bytes[i], 0xCC) << i;
#endif
}

TEST_F(ArchiveTest, OpenFailuresReportTheirCode) {
  WcxArchive missing(dir_.File("missing.bin"));
  EXPECT_EQ(missing.Handle(), nullptr);
  EXPECT_EQ(missing.OpenResult(), E_EOPEN);
  WcxArchive folder(dir_.Path().string());
  EXPECT_EQ(folder.Handle(), nullptr);
  EXPECT_EQ(folder.OpenResult(), E_EOPEN);
  EXPECT_EQ(OpenArchive(nullptr), nullptr);
}

TEST_F(ArchiveTest, HandlesThatNameNoArchiveAreRefusedHarmlessly) {
  // Hosts set callbacks with INVALID_HANDLE_VALUE before packing or deleting.
  for (void *handle : {static_cast<void *>(nullptr), reinterpret_cast<void *>(-1)}) {
    SetChangeVolProc(handle, nullptr);
    SetProcessDataProc(handle, nullptr);
    tHeaderData header{};
    EXPECT_EQ(ReadHeader(handle, &header), E_BAD_ARCHIVE);
    char name[] = "x";
    EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, nullptr, name), E_BAD_ARCHIVE);
    EXPECT_EQ(CloseArchive(handle), 0);
  }
}

TEST_F(ArchiveTest, FilesOfAnySizeOpenWithWhatTheyHold) {
  for (std::uint32_t size : {0u, 1u, 44u, 45u, 1000u}) {
    WcxArchive archive(Save(DumpBuilder(size, 0), "small.bin"));
    ASSERT_NE(archive.Handle(), nullptr) << size;
    EXPECT_TRUE(archive.List().empty()) << size;
  }
  WcxArchive blank(Save(DumpBuilder(), "blank.bin"));
  ASSERT_NE(blank.Handle(), nullptr);
  EXPECT_TRUE(blank.List().empty());

  // A long file: only the flash window's 32 MiB matter.
  DumpBuilder longer(0x2000000 + 0x1000);
  longer.Disk(0x100, "D", 0x1000, 0x2000, {{At(0x4000), 0x1000}});
  WcxArchive archive(Save(longer, "long.bin"));
  ASSERT_EQ(archive.List().size(), 1u);
}

#ifndef _WIN32
TEST_F(ArchiveTest, APipeIsReadToItsEndAsFarAsTheWindow) {
  // A FIFO has no size: it is read until its writer closes it, and lists as
  // the same bytes in a file would; a longer stream is read to 32 MiB. (The
  // plugin never waits for a writer: a reader held here lets one connect.)
  for (const std::uint32_t size : {0x200000u, 0x2000000u + 0x5000u}) {
    DumpBuilder dump(size);
    dump.Disk(0x100, "D", 0x1000, 0x2000, {{At(0x4000), 0x1000}, {At(0x1FFF000), 0x1000}});
    const std::string fifo = dir_.File("fifo");
    std::filesystem::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int held = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(held, 0);
    std::thread writer([&] {
      std::ofstream out(fifo, std::ios::binary);
      out.write(reinterpret_cast<const char *>(dump.Data().data()), dump.Size());
    });
    while (true) {  // until the writer is there
      pollfd connected{held, POLLIN, 0};
      if (poll(&connected, 1, 10) > 0) break;
    }
    WcxArchive archive(fifo);
    writer.join();
    close(held);
    ASSERT_NE(archive.Handle(), nullptr) << size;
    const std::vector<Listed> listed = archive.List();
    ASSERT_EQ(listed.size(), 1u) << size;
    EXPECT_EQ(listed[0].UnpSize, 0x2000) << size;
  }
}
#endif

TEST_F(ArchiveTest, AShortDumpIsNeverReadPastItsEnd) {
  // A table inside, names and blocks past the end of a 16 KiB dump.
  DumpBuilder dump(0x4000, 0, false);
  dump.Disk(0x100, "IN", 0x1000, 0x2000, {{At(0x3000), 0x1000}, {At(0x100000), 0x1000}}, false);
  dump.Descriptor(0x100 + 44,
                  {.NameAddr = At(0x8000), .NumBlocks = 1, .BlockTableAddr = At(0x2000)});
  WcxArchive archive(Save(dump));
  const std::vector<Listed> entries = archive.List();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Path, "IN.BIN");
  EXPECT_EQ(entries[0].UnpSize, 0x2000);
}

TEST_F(ArchiveTest, AViewOfTheFileListsAndExtractsAsTheCopy) {
  // The command's way of reading (a view of the file, no copy) against the
  // host's: a short dump whose table points past its end, and a file longer
  // than the window.
  DumpBuilder shortDump(0x4000, 0, false);
  shortDump.Disk(0x100, "IN", 0x1000, 0x2000, {{At(0x3000), 0x1000}, {At(0x100000), 0x1000}},
                 false);
  DumpBuilder longDump(0x2000000 + 0x1000);
  longDump.Disk(0x100, "D", 0x1000, 0x2000, {{At(0x4000), 0x1000}, {At(0x1FFF000), 0x1000}});
  // The short one's second block is not in the file: what is there is
  // written, and the entry is bad data.
  for (const auto &[dump, result, written] :
       {std::tuple{&shortDump, E_BAD_DATA, 0x1000u}, std::tuple{&longDump, 0, 0x2000u}}) {
    const std::string path = Save(*dump);
    std::vector<std::vector<Listed>> listed;
    std::vector<std::vector<std::uint8_t>> images;
    for (const bool map : {false, true}) {
      SetSettingsOverride(TSettings{.MapDump = map});
      listed.push_back(WcxArchive(path).List());
      WcxArchive archive(path, PK_OM_EXTRACT);
#ifndef _WIN32
      EXPECT_EQ(IsMapped(path), map);
#endif
      const std::string target = dir_.File(map ? "mapped.bin" : "copied.bin");
      EXPECT_TRUE(archive.SeekTo(listed.back().at(0).Path));
      EXPECT_EQ(archive.Extract(target), result);
      images.push_back(ReadBytes(target));
    }
    SetSettingsOverride(std::nullopt);
    ASSERT_EQ(listed[0].size(), 1u);
    EXPECT_EQ(listed[1].size(), 1u);
    EXPECT_EQ(listed[0][0].Path, listed[1][0].Path);
    EXPECT_EQ(listed[0][0].UnpSize, listed[1][0].UnpSize);
    EXPECT_EQ(images[0].size(), written);
    EXPECT_EQ(images[0], images[1]);
  }
}

TEST_F(ArchiveTest, CrowdedTablesStayBounded) {
  // Hundreds of thousands of consecutive valid records, each with the same
  // 65,535-entry table: the run ends at the limits.
  DumpBuilder dump;
  dump.BlockTable(0x1000000, std::vector<BlockRef>(0xFFFF, BlockRef{At(0), 0}));
  dump.Name(0x100, "X");
  for (std::uint32_t o = 0x1000; o + 44 <= 0x1000000; o += 44)
    dump.Descriptor(o,
                    {.NameAddr = At(0x100), .NumBlocks = 0xFFFF, .BlockTableAddr = At(0x1000000)});
  WcxArchive archive(Save(dump));
  const std::vector<Listed> entries = archive.List();
  EXPECT_EQ(entries.size(), 1u);  // a second disk would pass 65,536 blocks
}

#ifndef _WIN32
TEST_F(ArchiveTest, ALongArchivePathIsHandedBackCut) {
  std::filesystem::path deep = dir_.Path();
  while (deep.string().size() < 300) deep /= "folder";
  std::filesystem::create_directories(deep);
  const std::string path = (deep / "dump.bin").string();
  ThreeDiskDump().Save(path);
  WcxArchive archive(path);
  tHeaderData header;
  ASSERT_EQ(archive.Next(header), 0);
  EXPECT_EQ(std::string(header.ArcName), path.substr(0, 259));
}

TEST_F(ArchiveTest, LinuxPathsUseSlashesAndShowASlashInANameEscaped) {
  DumpBuilder dump;
  dump.Disk(0x100, "A/B\\C", 0x1000, 0x2000, {{At(0x4000), 0x1000}});
  WcxArchive archive(Save(dump));
  const std::vector<Listed> entries = archive.List();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Path, "A%2FB/C.BIN");
}
#endif

}  // namespace
}  // namespace quarn::testing
