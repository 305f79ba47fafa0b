// The sample generator: its description format refuses what it cannot build,
// naming the line, and the built-in sample builds. On Linux, the dump it
// writes extracts to exactly the tree it writes beside it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sample/default_sample.h"
#include "sample/description.h"
#include "sample/layout.h"

#if defined(QUARN_MAKE_SAMPLE_PATH) && defined(QUARN_CLI_PATH)
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

extern char **environ;
#endif

namespace quarn::sample {
namespace {

// The message of the DescriptionError that `text` raises, or "" when it
// builds.
std::string ErrorOf(const std::string &text) {
  try {
    BuildSample(ParseDescription(text));
  } catch (const DescriptionError &e) {
    return e.what();
  }
  return "";
}

const std::string kDisk = "disk FFS blocks=4 blocksize=4k\n";

TEST(SampleDescriptionTest, RefusesMalformedLinesNamingTheLine) {
  const struct {
    std::string Text;
    std::string Message;
  } kCases[] = {
      {"frobnicate", "line 1: unknown statement 'frobnicate'"},
      {"\n# comment\nfile /a size=1", "line 3: file comes before any disk line"},
      {"disk FFS blocks=2", "line 1: disk needs blocksize="},
      {"disk FFS blocks=2 blocksize=5000", "blocksize must be a multiple of 4096"},
      {"disk FFS blocks=2 blocksize=16M", "blocksize is at most 16773120"},
      {"disk FFS blocks=65536 blocksize=4k", "blocks is at most 65535"},
      {"disk ELEVENCHARS blocks=1 blocksize=4k", "longer than 10"},
      {"disk F/S blocks=1 blocksize=4k", "use letters, digits"},
      {kDisk + kDisk, "line 2: disk FFS is described twice (line 1)"},
      {kDisk + "file /a", "line 2: file needs size="},
      {kDisk + "file /a size=12q", "size=12q is not a number"},
      {kDisk + "file /a size=99999999999", "is too large"},
      {kDisk + "file /a size=9-3", "the range runs backwards"},
      {kDisk + "file a size=1", "must begin with /"},
      {kDisk + "file \"/a b size=1", "a quote is not closed"},
      {kDisk + "file /a size=1 colour=red",
       "'colour' is no option of file (it takes: attr, count, date, part, size, time)"},
      {kDisk + "file /a size=1 bold", "'bold' is no flag of file"},
      {kDisk + "file /a size=1 size=2", "size= is given twice"},
      {kDisk + "file /a.txt size=1 count=3", "needs a run of # in the name"},
      {kDisk + "file /a size=1 part=0", "part must be at least 1"},
      {kDisk + "file /a size=1 attr=0x10", "attr 0x10 marks a directory"},
      {kDisk + "file /a size=1 date=2024-02-30", "no day of the calendar"},
      {kDisk + "file /a size=1 date=1979-12-31", "1980 to 2107"},
      {kDisk + "file /a size=1 time=10:00:01", "even seconds only"},
      {kDisk + "file /a//b size=1", "empty name"},
      {kDisk + "file /a/../b size=1", "\"..\" cannot be a name"},
      {kDisk + "file /a\\b size=1", "a backslash separates folders"},
      {kDisk + "file /\xF0\x9F\x98\x80 size=1", "characters above U+FFFF cannot be stored"},
      {kDisk + "file /\xC3 size=1", "is not UTF-8"},
      {kDisk + "file /\xE0\x80\xAE size=1", "is not UTF-8"},  // an overlong '.'
      {kDisk + "file /" + std::string(255, 'n') + " size=1 utf8", "256 bytes on flash"},
      {kDisk + "file /a size=1\nfile /a size=2", "line 3: /a exists already (line 2)"},
      {kDisk + "file /a size=1\nfile /a/b size=1", "line 3: /a is a file (line 2)"},
      {kDisk + "file /d/x size=1\ndir /d", "describe a folder before its contents"},
      {kDisk + "file /LostBlocks/x size=1", "pick another name"},
      {kDisk + "eeprom id=1 size=1", "eeprom blocks belong on EELITE or EEFULL"},
      {kDisk + "lost id=70000 size=1", "chunk ids run from 0 to 65535"},
      {kDisk + "dead", "dead needs count="},
      {"disk EELITE blocks=1 blocksize=4k\nlost id=1 size=1", "use eeprom"},
      {"disk EEFULL blocks=1 blocksize=4k\neeprom id=1 size=1 ver=256", "0 to 255"},
      {"disk EELITE blocks=1 blocksize=4k\norphan x size=1", "would read as EEPROM blocks"},
      {"disk FFS blocks=1 blocksize=4k noroot\nfile /a size=1", "has no root directory"},
  };
  for (const auto &c : kCases) {
    const std::string error = ErrorOf(c.Text);
    EXPECT_NE(error.find(c.Message), std::string::npos)
        << "description:\n"
        << c.Text << "\ngave: " << error << "\nexpected: " << c.Message;
  }
}

TEST(SampleDescriptionTest, RefusesWhatDoesNotFitInTheDump) {
  EXPECT_NE(ErrorOf("disk FFS blocks=600 blocksize=64k").find("line 1: disk FFS does not fit"),
            std::string::npos);
  EXPECT_NE(ErrorOf("firmware size=32M").find("does not fit after the first 128 KiB"),
            std::string::npos);
  EXPECT_NE(ErrorOf("disk A blocks=2 blocksize=4k at=0x100000\n"
                    "disk B blocks=1 blocksize=4k at=0x101000")
                .find("line 2: disk B overlaps"),
            std::string::npos);
  EXPECT_NE(ErrorOf(kDisk + "file /big size=5000").find("line 2: a piece of"), std::string::npos);
  EXPECT_NE(ErrorOf(kDisk + "file /f#.bin count=5 size=3000").find("FFS is full"),
            std::string::npos);
  EXPECT_NE(ErrorOf(kDisk + "lost id=4-6 size=1\nlost id=6 size=1")
                .find("line 3: chunk id 6 is taken already (line 2)"),
            std::string::npos);
}

TEST(SampleDescriptionTest, NumbersRangesAndCounts) {
  const Description d = ParseDescription(
      "seed 0x10\ndisk FFS blocks=2 blocksize=64k\n"
      "file \"/My Pictures/img###.jpg\" count=3 size=1k-2M part=8k spread date=2004-02-29\n");
  EXPECT_EQ(d.Seed, 16u);
  ASSERT_EQ(d.Disks.size(), 1u);
  ASSERT_EQ(d.Disks[0].Statements.size(), 3u);
  const Statement &third = d.Disks[0].Statements[2];
  EXPECT_EQ(third.Path, (std::vector<std::string>{"My Pictures", "img003.jpg"}));
  EXPECT_EQ(third.Size.Low, 1024u);
  EXPECT_EQ(third.Size.High, 2u * 1024 * 1024);
  EXPECT_EQ(third.Part, 8192u);
  EXPECT_TRUE(third.Spread);
  EXPECT_EQ(third.Date, (24 << 9) | (2 << 5) | 29);
}

const TreeEntry *Find(const Sample &sample, const std::string &path) {
  for (const TreeEntry &e : sample.Tree)
    if (e.Path == path) return &e;
  return nullptr;
}

TEST(SampleDescriptionTest, TheBuiltInSampleBuildsTheSameEveryTime) {
  const Sample sample = BuildSample(ParseDescription(kDefaultDescription));
  EXPECT_EQ(sample.Dump.Size(), 0x2000000u);
  ASSERT_EQ(sample.Disks.size(), 5u);
  EXPECT_EQ(sample.Disks[3].Name, "EELITE");
  EXPECT_EQ(sample.Disks[4].Name, "EEFULL");

  const TreeEntry *song = Find(sample, "FFS/Sounds/Музыка/песня.mp3");
  ASSERT_NE(song, nullptr);
  EXPECT_EQ(song->Bytes.size(), 700u * 1024);
  EXPECT_EQ(song->Bytes[0], 'I');  // ID3
  ASSERT_NE(Find(sample, "FFS_C/SMS/%3F%3F%3F%3F"), nullptr);
  ASSERT_NE(Find(sample, "FFS_C/LostBlocks/block 60001.bin"), nullptr);
  EXPECT_EQ(Find(sample, "FFS/Misc/old.log"), nullptr);  // deleted
  const TreeEntry *empty = Find(sample, "EELITE/eeprom 1_300.bin");
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->Bytes.empty());
  ASSERT_NE(Find(sample, "EEFULL/eeprom 1_5119.bid"), nullptr);

  EXPECT_EQ(BuildSample(ParseDescription(kDefaultDescription)).Dump.Data(), sample.Dump.Data());
}

// A file's content depends on the seed, its disk and its path alone, so a
// description can grow without changing what is there; shuffling the block
// table moves the disk's blocks in the dump, not its image or its files.
TEST(SampleDescriptionTest, ContentFollowsThePathNotThePlace) {
  const std::string files = "file /a.txt size=3000 part=500 spread text\nfile /b.jpg size=700\n";
  const Sample plain = BuildSample(ParseDescription("disk FFS blocks=8 blocksize=4k\n" + files));
  const Sample grown =
      BuildSample(ParseDescription("disk FFS blocks=8 blocksize=4k\nfile /new size=999\n" + files));
  const Sample shuffled =
      BuildSample(ParseDescription("disk FFS blocks=8 blocksize=4k shuffle\n" + files));
  for (const char *path : {"FFS/a.txt", "FFS/b.jpg"}) {
    ASSERT_NE(Find(plain, path), nullptr);
    EXPECT_EQ(Find(grown, path)->Bytes, Find(plain, path)->Bytes) << path;
    EXPECT_EQ(Find(shuffled, path)->Bytes, Find(plain, path)->Bytes) << path;
  }
  // The file system fills blocks in table order, so the disk's image is the
  // same; the dump holds its blocks elsewhere.
  EXPECT_EQ(Find(shuffled, "FFS.BIN")->Bytes, Find(plain, "FFS.BIN")->Bytes);
  EXPECT_NE(shuffled.Dump.Data(), plain.Dump.Data());
  const Sample reseeded =
      BuildSample(ParseDescription("seed 2\ndisk FFS blocks=8 blocksize=4k\n" + files));
  EXPECT_NE(Find(reseeded, "FFS/a.txt")->Bytes, Find(plain, "FFS/a.txt")->Bytes);
}

#if defined(QUARN_MAKE_SAMPLE_PATH) && defined(QUARN_CLI_PATH)

namespace fs = std::filesystem;

int Spawn(std::vector<std::string> args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<char *> argv;
  for (std::string &arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int status = -1;
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
    waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Found {
  bool Dir = false;
  std::string Bytes;
  fs::file_time_type Time;
};

std::map<std::string, Found> Walk(const fs::path &top) {
  std::map<std::string, Found> found;
  for (const fs::directory_entry &e : fs::recursive_directory_iterator(top)) {
    Found f{.Dir = e.is_directory(), .Bytes = {}, .Time = e.last_write_time()};
    if (!f.Dir) {
      std::ifstream in(e.path(), std::ios::binary);
      f.Bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    found[fs::relative(e.path(), top).string()] = std::move(f);
  }
  return found;
}

TEST(SampleDumpTest, ExtractsToExactlyTheTreeWrittenBesideIt) {
  const fs::path dir = fs::temp_directory_path() / ("quarn-sample-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string dump = (dir / "sample.bin").string();
  ASSERT_EQ(Spawn({QUARN_MAKE_SAMPLE_PATH, "--tree", (dir / "tree").string(), dump}), 0);
  ASSERT_EQ(Spawn({QUARN_CLI_PATH, "extract", dump, "-o", (dir / "out").string()}), 0);

  const std::map<std::string, Found> want = Walk(dir / "tree"), got = Walk(dir / "out");
  for (const auto &[path, w] : want) {
    const auto g = got.find(path);
    if (g == got.end()) {
      ADD_FAILURE() << "not extracted: " << path;
      continue;
    }
    EXPECT_EQ(g->second.Dir, w.Dir) << path;
    EXPECT_TRUE(g->second.Bytes == w.Bytes) << "content differs: " << path;
    // The file system's own files carry their stamps; the rest the dump's.
    const bool stamped = !w.Dir && path.find(".BIN") == std::string::npos &&
                         path.find("LostBlocks") == std::string::npos && path.find("EE") != 0;
    if (stamped) {
      EXPECT_TRUE(g->second.Time == w.Time) << "time differs: " << path;
    }
  }
  for (const auto &[path, g] : got)
    EXPECT_TRUE(want.count(path)) << "extracted, not described: " << path;
  fs::remove_all(dir);
}

#endif

}  // namespace
}  // namespace quarn::sample
