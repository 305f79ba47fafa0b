// Runs the built `quarn` as a user does, on dumps made by the dump builder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "dump_builder.h"
#include "sample_fs.h"

extern char **environ;

namespace quarn::cli {
namespace {

namespace fs = std::filesystem;
using quarn::testing::DumpBuilder;
using quarn::testing::ThreeDiskDump;

// 2005-03-01 12:00:00 UTC: the dump's mtime, which its .BIN entries carry.
constexpr time_t kDumpTime = 1109678400;

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

std::string ReadText(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> ReadBytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The bytes of blocks given as (image offset, size), one after the other.
std::vector<std::uint8_t> Blocks(
    const DumpBuilder &dump,
    std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> blocks) {
  std::vector<std::uint8_t> bytes;
  for (const auto &[offset, size] : blocks) {
    bytes.insert(bytes.end(), dump.Data().begin() + offset, dump.Data().begin() + offset + size);
  }
  return bytes;
}

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<unsigned> counter{0};
    dir_ = fs::temp_directory_path() /
           ("quarn-cli-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    dumpPath_ = Save(ThreeDiskDump(), "dump.bin");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_ / "locked", fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
  }

  std::string Save(const DumpBuilder &dump, const std::string &name) {
    const fs::path path = dir_ / name;
    dump.Save(path.string());
    const timespec times[2] = {{kDumpTime, 0}, {kDumpTime, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
    return path.string();
  }

  // Runs quarn with `args` in the test's folder; stdin is empty, stdout and
  // stderr are files (so not terminals). `stdoutPath` replaces stdout's file
  // ("-": stdout closed).
  Outcome Run(const std::vector<std::string> &args, const std::string &stdoutPath = "") {
    const fs::path outFile = dir_ / "stdout.txt", errFile = dir_ / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutPath == "-")
      posix_spawn_file_actions_addclose(&actions, 1);
    else
      posix_spawn_file_actions_addopen(&actions, 1,
                                       stdoutPath.empty() ? outFile.c_str() : stdoutPath.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
    std::vector<std::string> all = {QUARN_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);

    Outcome outcome;
    pid_t pid;
    if (posix_spawn(&pid, QUARN_CLI_PATH, &actions, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      outcome.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    outcome.out = ReadText(outFile);
    outcome.err = ReadText(errFile);
    return outcome;
  }

  fs::path dir_;
  std::string dumpPath_;
};

bool Contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

TEST_F(CommandTest, HelpVersionAndUsageErrors) {
  Outcome help = Run({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: quarn"));
  EXPECT_EQ(Run({"--version"}).code, 0);

  for (const std::vector<std::string> &args :
       std::vector<std::vector<std::string>>{{},
                                             {"frob"},
                                             {"list"},
                                             {"list", "a", "b"},
                                             {"list", "--bogus", "dump.bin"},
                                             {"probe"},
                                             {"test", "--json", "dump.bin"},
                                             {"extract", "dump.bin", "-o"},
                                             {"extract"}}) {
    const Outcome outcome = Run(args);
    EXPECT_EQ(outcome.code, 2) << (args.empty() ? "(none)" : args[0]);
    EXPECT_FALSE(outcome.err.empty());
    EXPECT_TRUE(outcome.out.empty());
  }
  EXPECT_TRUE(Contains(Run({"frob"}).err, "unknown command frob"));
}

TEST_F(CommandTest, ProbeGivesTheReason) {
  std::ofstream(dir_ / "small.bin") << std::string(123, 'x');
  Save(DumpBuilder(quarn::testing::kFullDumpSize, 0xFF, false), "unsigned.bin");

  Outcome dump = Run({"probe", "dump.bin"});
  EXPECT_EQ(dump.code, 0);
  EXPECT_EQ(dump.out, "dump.bin: Siemens flash dump\n");

  Outcome mixed = Run({"probe", "dump.bin", "small.bin", "unsigned.bin"});
  EXPECT_EQ(mixed.code, 1);
  EXPECT_EQ(mixed.out,
            "dump.bin: Siemens flash dump\n"
            "small.bin: not a Siemens flash dump (size 123 bytes, expected 33554432)\n"
            "unsigned.bin: not a Siemens flash dump (no \"SIEMENS\" signature at offset 544)\n");

  Outcome missing = Run({"probe", "dump.bin", "missing.bin"});
  EXPECT_EQ(missing.code, 3);
  EXPECT_EQ(missing.err, "quarn: missing.bin: no such file\n");
  EXPECT_EQ(Run({"probe", "."}).code, 5);
}

TEST_F(CommandTest, OpenErrorsHaveTheirOwnCodes) {
  for (const char *command : {"list", "test", "extract"}) {
    // extract and test fail to start with 2; list tells the cases apart.
    const bool listing = std::string(command) == "list";
    const Outcome missing = Run({command, "missing.bin"});
    EXPECT_EQ(missing.code, listing ? 3 : 2) << command;
    EXPECT_EQ(missing.err, "quarn: missing.bin: no such file\n") << command;

    fs::create_directories(dir_ / "folder.bin");
    const Outcome folder = Run({command, "folder.bin"});
    EXPECT_EQ(folder.code, listing ? 5 : 2) << command;
    EXPECT_EQ(folder.err, "quarn: folder.bin: is a directory\n") << command;
  }
}

TEST_F(CommandTest, UnreadableFile) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
  fs::create_directories(dir_ / "locked");
  Save(ThreeDiskDump(), "locked/dump.bin");
  fs::permissions(dir_ / "locked" / "dump.bin", fs::perms::none);
  const Outcome outcome = Run({"list", "locked/dump.bin"});
  EXPECT_EQ(outcome.code, 4);
  EXPECT_TRUE(Contains(outcome.err, "locked/dump.bin: cannot read: Permission denied"))
      << outcome.err;
}

TEST_F(CommandTest, ListsLikeSevenZip) {
  const Outcome outcome = Run({"list", "dump.bin"});
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.out,
            "   Date      Time    Attr         Size  Name\n"
            "------------------- ----- ------------  ------------------------\n"
            "2005-03-01 12:00:00 .....       196608  EEFULL.BIN\n"
            "2005-03-01 12:00:00 .....        65536  EELITE.BIN\n"
            "2005-03-01 12:00:00 .....       131072  FFS.BIN\n"
            "------------------- ----- ------------  ------------------------\n"
            "2005-03-01 12:00:00             393216  3 files, 0 folders\n");
}

TEST_F(CommandTest, ListsJsonLines) {
  const Outcome outcome = Run({"list", "--json", "dump.bin"});
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  const std::string tail =
      "\"time\":\"2005-03-01T12:00:00\",\"attr\":\".....\",\"raw_attr\":33188,"
      "\"dir\":false}\n";
  EXPECT_EQ(outcome.out, "{\"path\":\"EEFULL.BIN\",\"size\":196608," + tail +
                             "{\"path\":\"EELITE.BIN\",\"size\":65536," + tail +
                             "{\"path\":\"FFS.BIN\",\"size\":131072," + tail);
}

TEST_F(CommandTest, WarnsAboutAMissingSignatureButListsAnyway) {
  DumpBuilder dump = ThreeDiskDump();
  dump.Bytes(quarn::testing::kSignatureOffset, "siemens", 7);
  Save(dump, "lower.bin");
  const Outcome outcome = Run({"list", "--json", "lower.bin"});
  EXPECT_EQ(outcome.code, 0);
  EXPECT_EQ(outcome.err,
            "quarn: warning: lower.bin: not a Siemens flash dump (no \"SIEMENS\" signature at "
            "offset 544); reading it anyway\n");
  EXPECT_TRUE(Contains(outcome.out, "\"path\":\"FFS.BIN\""));
}

TEST_F(CommandTest, ExtractsBinFilesBlockByBlockInTableOrder) {
  const Outcome outcome = Run({"extract", "dump.bin", "-o", "out"});
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  // Not a terminal: no progress display, nothing on stderr.
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.out, "Everything is Ok\n\nFolders: 0\nFiles: 3\nSize: 393216\n");

  const DumpBuilder dump = ThreeDiskDump();
  EXPECT_EQ(ReadBytes(dir_ / "out" / "FFS.BIN"),
            Blocks(dump, {{0x100000, 0x10000}, {0x110000, 0x10000}}));
  EXPECT_EQ(ReadBytes(dir_ / "out" / "EELITE.BIN"), Blocks(dump, {{0x200000, 0x10000}}));
  EXPECT_EQ(ReadBytes(dir_ / "out" / "EEFULL.BIN"),
            Blocks(dump, {{0x300000, 0x10000}, {0x320000, 0x10000}, {0x310000, 0x10000}}));
}

TEST_F(CommandTest, ExtractsOnlyTheSelectedEntries) {
  Outcome glob = Run({"extract", "dump.bin", "-o", "out", "EE*"});
  EXPECT_EQ(glob.code, 0) << glob.err;
  EXPECT_TRUE(fs::exists(dir_ / "out" / "EEFULL.BIN"));
  EXPECT_TRUE(fs::exists(dir_ / "out" / "EELITE.BIN"));
  EXPECT_FALSE(fs::exists(dir_ / "out" / "FFS.BIN"));

  // The default folder is the current one.
  Outcome path = Run({"extract", "dump.bin", "FFS.BIN", "nothing*"});
  EXPECT_EQ(path.code, 1);
  EXPECT_EQ(path.err, "quarn: nothing*: no such entry in dump.bin\n");
  EXPECT_EQ(fs::file_size(dir_ / "FFS.BIN"), 0x20000u);
  EXPECT_FALSE(fs::exists(dir_ / "EELITE.BIN"));
}

TEST_F(CommandTest, KeepsExistingFilesUnlessToldToOverwrite) {
  fs::create_directories(dir_ / "out");
  std::ofstream(dir_ / "out" / "FFS.BIN") << "old";

  const Outcome kept = Run({"extract", "dump.bin", "-o", "out"});
  EXPECT_EQ(kept.code, 1);
  EXPECT_EQ(kept.err, "quarn: FFS.BIN: exists, not overwritten (use --overwrite)\n");
  EXPECT_TRUE(kept.out.starts_with("Errors: 1\n"));
  EXPECT_EQ(ReadText(dir_ / "out" / "FFS.BIN"), "old");
  EXPECT_EQ(fs::file_size(dir_ / "out" / "EELITE.BIN"), 0x10000u);

  const Outcome replaced = Run({"extract", "--overwrite", "dump.bin", "-o", "out"});
  EXPECT_EQ(replaced.code, 0) << replaced.err;
  EXPECT_EQ(fs::file_size(dir_ / "out" / "FFS.BIN"), 0x20000u);
}

TEST_F(CommandTest, NeverWritesThroughALinkInTheOutputFolder) {
  fs::create_directories(dir_ / "out");
  fs::create_directories(dir_ / "elsewhere");
  std::ofstream(dir_ / "elsewhere" / "FFS.BIN") << "outside";
  fs::create_symlink(dir_ / "elsewhere" / "FFS.BIN", dir_ / "out" / "FFS.BIN");

  const Outcome kept = Run({"extract", "dump.bin", "-o", "out", "FFS.BIN"});
  EXPECT_EQ(kept.code, 1);
  EXPECT_EQ(ReadText(dir_ / "elsewhere" / "FFS.BIN"), "outside");

  const Outcome replaced = Run({"extract", "dump.bin", "-o", "out", "--overwrite", "FFS.BIN"});
  EXPECT_EQ(replaced.code, 0) << replaced.err;
  EXPECT_EQ(ReadText(dir_ / "elsewhere" / "FFS.BIN"), "outside");
  EXPECT_FALSE(fs::is_symlink(dir_ / "out" / "FFS.BIN"));
  EXPECT_EQ(fs::file_size(dir_ / "out" / "FFS.BIN"), 0x20000u);
}

TEST_F(CommandTest, ReportsAnOutputFolderThatCannotBeMade) {
  const Outcome outcome = Run({"extract", "dump.bin", "-o", "dump.bin/out"});
  EXPECT_EQ(outcome.code, 1);
  EXPECT_TRUE(Contains(outcome.err, "dump.bin/out: cannot create the output folder"))
      << outcome.err;
}

TEST_F(CommandTest, TestsEveryEntry) {
  const Outcome outcome = Run({"test", "dump.bin"});
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  EXPECT_EQ(
      outcome.out,
      "Testing archive: dump.bin\n\nEverything is Ok\n\nFolders: 0\nFiles: 3\nSize: 393216\n");
}

TEST_F(CommandTest, AClosedOrFullStandardOutputIsAnError) {
  for (const char *out : {"/dev/full", "-"}) {
    for (const std::vector<std::string> &args : {std::vector<std::string>{"list", "dump.bin"},
                                                 {"list", "--json", "dump.bin"},
                                                 {"probe", "dump.bin"},
                                                 {"test", "dump.bin"}}) {
      const Outcome outcome = Run(args, out);
      EXPECT_EQ(outcome.code, 7) << out << " " << args[0];
      EXPECT_TRUE(Contains(outcome.err, "cannot write to standard output")) << outcome.err;
    }
  }
}

TEST_F(CommandTest, APipeIsReadToItsEnd) {
  // A FIFO whose writer comes after the command has started.
  const fs::path fifo = dir_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    const std::vector<std::uint8_t> bytes = ReadBytes(dumpPath_);
    std::ofstream(fifo, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  });
  const Outcome outcome = Run({"test", "fifo"});
  writer.join();
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "");
  EXPECT_TRUE(Contains(outcome.out, "Everything is Ok\n\nFolders: 0\nFiles: 3\n")) << outcome.out;
}

TEST_F(CommandTest, EmptyListingOfAFileWithoutPartitions) {
  std::ofstream(dir_ / "small.bin") << std::string(100, 'x');
  const Outcome outcome = Run({"list", "small.bin"});
  EXPECT_EQ(outcome.code, 0);
  EXPECT_TRUE(Contains(outcome.err, "size 100 bytes")) << outcome.err;
  EXPECT_TRUE(Contains(outcome.out, "0  0 files, 0 folders\n")) << outcome.out;
}

// The flash file system dump: folders nested in each disk's root directory.
class TreeCommandTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    Save(sample_.Dump, "tree.bin");
  }

  // The dump's time, as its raw images and EEPROM blocks carry it.
  const quarn::testing::SampleFs sample_ = quarn::testing::FlashFsSample(
      quarn::testing::DosDate(2005, 3, 1), quarn::testing::DosTime(12, 0, 0), "\xC3\xA9");
};

// Seconds since 1970 of an entry's DOS date and time, read as UTC.
time_t EntryTime(const quarn::testing::SampleEntry &entry) {
  const quarn::testing::DosFields f = quarn::testing::SplitDos(entry.Date, entry.Time);
  tm fields{};
  fields.tm_year = f.Year - 1900;
  fields.tm_mon = f.Month - 1;
  fields.tm_mday = f.Day;
  fields.tm_hour = f.Hour;
  fields.tm_min = f.Minute;
  fields.tm_sec = f.Second;
  return timegm(&fields);
}

time_t ModifiedTime(const fs::path &path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? status.st_mtime : -1;
}

std::string LinuxPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

TEST_F(TreeCommandTest, ListsTheFoldersAndFilesOfEachDisk) {
  const Outcome outcome = Run({"list", "tree.bin"});
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "");
  // The EELITE directory is made for its blocks and has no date of its own.
  EXPECT_EQ(outcome.out,
            "   Date      Time    Attr         Size  Name\n"
            "------------------- ----- ------------  ------------------------\n"
            "2024-06-15 10:30:12 D....               EEFULL\n"
            "2005-03-01 12:00:00 .....        65536  EEFULL.BIN\n"
            "2008-02-29 12:00:00 .....            9  EEFULL/cal.txt\n"
            "2005-03-01 12:00:00 .....          100  EEFULL/eeprom 1_5012.bid\n"
            "2005-03-01 12:00:00 .....            9  EEFULL/eeprom 1_5012.bin\n"
            "1970-01-01 00:00:00 D....               EELITE\n"
            "2005-03-01 12:00:00 .....        65536  EELITE.BIN\n"
            "2005-03-01 12:00:00 .....           98  EELITE/eeprom 1_12.bid\n"
            "2005-03-01 12:00:00 .....            9  EELITE/eeprom 1_12.bin\n"
            "2005-03-01 12:00:00 .....           98  EELITE/eeprom 1_14.bid\n"
            "2005-03-01 12:00:00 .....            4  EELITE/eeprom 1_14.bin\n"
            "2024-06-15 10:30:12 D....               FFS\n"
            "2005-03-01 12:00:00 .....       131072  FFS.BIN\n"
            "2001-02-03 04:05:06 D....               FFS/Docs\n"
            "2002-03-04 05:06:08 D....               FFS/Docs/Notes\n"
            "2003-04-05 06:07:08 .....           19  FFS/Docs/Notes/deep.txt\n"
            "2010-01-02 03:04:06 .....           16  FFS/Docs/caf\xC3\xA9.txt\n"
            "2005-03-01 12:00:00 D....               FFS/LostBlocks\n"
            "2005-03-01 12:00:00 .....           10  FFS/LostBlocks/block 301.bin\n"
            "1999-12-31 23:59:58 .....         2033  FFS/chain.dat\n"
            "2006-11-30 23:58:00 .....            0  FFS/empty.txt\n"
            "2004-06-07 08:09:10 .R...           13  FFS/readonly.txt\n"
            "------------------- ----- ------------  ------------------------\n"
            "2024-06-15 10:30:12             264562  16 files, 6 folders\n");
}

TEST_F(TreeCommandTest, ExtractsTheTreeIntoNestedFolders) {
  const Outcome outcome = Run({"extract", "tree.bin", "-o", "out"});
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.out, "Everything is Ok\n\nFolders: 6\nFiles: 16\nSize: 264562\n");

  std::size_t files = 0;
  for (const quarn::testing::SampleEntry &entry : sample_.Listing) {
    const fs::path target = dir_ / "out" / LinuxPath(entry.Path);
    SCOPED_TRACE(target.string());
    if (entry.Directory()) {
      EXPECT_TRUE(fs::is_directory(target));
      continue;
    }
    ++files;
    EXPECT_EQ(ReadBytes(target), entry.Content);
    EXPECT_EQ(ModifiedTime(target), EntryTime(entry));
  }
  std::size_t written = 0;
  for (const auto &item : fs::recursive_directory_iterator(dir_ / "out"))
    written += item.is_regular_file() ? 1 : 0;
  EXPECT_EQ(written, files);
}

TEST_F(TreeCommandTest, TestNamesEachBadEntryWithItsReason) {
  // Cut before FFS's second block: chain.dat loses the part there, and the
  // raw images of every disk reach past the end.
  const std::vector<std::uint8_t> bytes = ReadBytes(dir_ / "tree.bin");
  std::ofstream(dir_ / "cut.bin", std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), 0x110000);
  const Outcome outcome = Run({"test", "cut.bin"});
  EXPECT_EQ(outcome.code, 1);
  EXPECT_FALSE(Contains(outcome.out, "Everything is Ok")) << outcome.out;
  EXPECT_TRUE(Contains(outcome.out, "Errors: 4\n")) << outcome.out;
  for (const char *line : {"FFS/chain.dat: incomplete: the chain ends at a missing part\n",
                           "FFS.BIN: bad data: content lies outside the dump\n",
                           "EELITE.BIN: bad data: content lies outside the dump\n"})
    EXPECT_TRUE(Contains(outcome.err, line)) << outcome.err;
}

TEST_F(TreeCommandTest, ExtractsAFolderWithEverythingBelowIt) {
  const Outcome outcome = Run({"extract", "tree.bin", "-o", "out", "FFS/Docs"});
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "Everything is Ok\n\nFolders: 2\nFiles: 2\nSize: 35\n");
  EXPECT_EQ(ReadText(dir_ / "out" / "FFS" / "Docs" / "Notes" / "deep.txt"), "three folders down\n");
  EXPECT_EQ(ReadText(dir_ / "out" / "FFS" / "Docs" / "caf\xC3\xA9.txt"), "a name in UTF-8\n");
  EXPECT_FALSE(fs::exists(dir_ / "out" / "FFS" / "chain.dat"));
  EXPECT_FALSE(fs::exists(dir_ / "out" / "FFS.BIN"));
}

}  // namespace
}  // namespace quarn::cli
