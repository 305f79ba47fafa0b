// The sample generator: its description format refuses what it cannot build,
// naming the line, and the built-in sample builds. On Linux, the dump it
// writes extracts to exactly the tree it writes beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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
      // The view of deleted files: what it could not list as described.
      {kDisk + "file /Deleted size=1", "line 2: /Deleted is where the reader shows deleted files"},
      {kDisk + "dir /Deleted/x deleted", "/Deleted is where the reader shows deleted files"},
      {kDisk + "dir /T deleted\nfile /T/a size=1",
       "line 3: /T is a deleted folder (line 2): what lies in it must be deleted too"},
      {kDisk + "dir /T deleted\ndeleted /T/x/a size=1",
       "/T/x is below a deleted folder: describe it first with dir /T/x deleted"},
      {kDisk + "dir /T\ndir /T deleted", "a deleted folder needs a path of its own"},
      {kDisk + "file /a size=1 reuse", "the latest deleted file on FFS, and there is none before"},
      {kDisk + "deleted /d/a size=1\nfile /d/a size=2 reuse",
       "line 3: reuse with the name and folder of the deleted file on line 2"},
      {kDisk + "deleted /a size=1\nfile /b size=1 reuse\nfile /c size=1 reuse",
       "line 4: the part ids of the deleted file on line 2 are taken already (line 3)"},
      {kDisk + "deleted /a size=1\nfile /b#.txt size=1 count=2 reuse", "no count="},
      {kDisk + "deleted /a size=1\nfile /b size=1 reuse rewritten", "do not go together"},
      {kDisk + "file /a size=1 erased", "'erased' is no flag of file"},
      {kDisk + "deleted /a size=1 reuse", "'reuse' is no flag of deleted"},
      {kDisk + "deleted /a size=1 erased spread", "no spread"},
      {"disk FFS blocks=1 blocksize=4k\ndeleted /a size=1 erased",
       "line 2: an erased file needs a block that holds nothing yet, and FFS has none left"},
      {kDisk + "deleted /a size=5000 part=1000 erased", "do not fit in a block of 4096"},
      {kDisk + "deleted /a size=1\ndeleted /a size=2",
       "line 3: FFS/Deleted/a would be listed twice among the deleted files (line 2)"},
      {kDisk + "deleted /d size=1\ndeleted /d/a size=1",
       "line 3: FFS/Deleted/d would be listed twice among the deleted files (line 2)"},
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

const TreeEntry *Find(const std::vector<TreeEntry> &tree, const std::string &path) {
  for (const TreeEntry &e : tree)
    if (e.Path == path) return &e;
  return nullptr;
}

const TreeEntry *Find(const Sample &sample, const std::string &path) {
  return Find(sample.Tree, path);
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

// A chunk as a disk's image holds it, with the part header its data begins
// with when it is a header chunk.
struct Chunk {
  bool Live = false;
  std::uint32_t Id = 0;
  std::vector<std::uint8_t> Data;
  std::uint16_t Field(int k) const {
    return static_cast<std::uint16_t>(Data[2 * k] | Data[2 * k + 1] << 8);
  }
  std::uint16_t Parent() const { return Field(1); }
  std::uint16_t Prev() const { return Field(6); }
  std::uint16_t Next() const { return Field(7); }
  std::string Name() const {
    return Data.size() <= 16 ? "" : std::string(reinterpret_cast<const char *>(&Data[16]));
  }
};

// Every descriptor of every block, live and dead, up to the first unwritten slot.
std::vector<Chunk> ChunksOf(const std::vector<std::uint8_t> &image, std::uint32_t blockSize) {
  auto u32 = [&image](std::size_t at) {
    return static_cast<std::uint32_t>(image[at] | image[at + 1] << 8 | image[at + 2] << 16 |
                                      static_cast<std::uint32_t>(image[at + 3]) << 24);
  };
  std::vector<Chunk> chunks;
  for (std::size_t base = 0; base < image.size(); base += blockSize) {
    for (std::size_t slot = base + blockSize - 16; image[slot] != 0xFF; slot -= 16) {
      const auto data = image.begin() + static_cast<std::ptrdiff_t>(base + u32(slot + 12));
      chunks.push_back({.Live = u32(slot) == 0xFFFFFFC0,
                        .Id = u32(slot + 4),
                        .Data = {data, data + u32(slot + 8)}});
    }
  }
  return chunks;
}

// The header chunks of that name, live or dead, in the order of the dump.
std::vector<const Chunk *> Headers(const std::vector<Chunk> &chunks, const std::string &name,
                                   bool live) {
  std::vector<const Chunk *> found;
  for (const Chunk &c : chunks)
    if (c.Live == live && c.Id % 2 == 0 && c.Data.size() > 16 && c.Name() == name)
      found.push_back(&c);
  return found;
}

// A deleted file's content as its dead parts hold it, from its first part on.
std::vector<std::uint8_t> DeadContent(const std::vector<Chunk> &chunks, const std::string &name) {
  std::vector<std::uint8_t> bytes;
  const std::vector<const Chunk *> parts = Headers(chunks, name, false);
  auto after = [&parts](std::uint32_t prev, std::uint32_t id) -> const Chunk * {
    for (const Chunk *c : parts)
      if (c->Prev() == prev && (prev == 0xFFFF || c->Id == id)) return c;
    return nullptr;
  };
  for (const Chunk *part = after(0xFFFF, 0); part; part = after(part->Id, part->Next())) {
    for (const Chunk &c : chunks)
      if (!c.Live && c.Id == part->Id + 1) bytes.insert(bytes.end(), c.Data.begin(), c.Data.end());
    if (part->Next() == 0xFFFF) break;
  }
  return bytes;
}

// The view of deleted files lists what the dead parts rebuild and nothing a
// live part explains; the dump holds the parts the rules read.
TEST(SampleDescriptionTest, TheBuiltInSamplesDeletedFiles) {
  const Sample sample = BuildSample(ParseDescription(kDefaultDescription));
  std::vector<std::string> paths;
  for (const TreeEntry &e : sample.Deleted) paths.push_back(e.Path + (e.Dir ? "/" : ""));
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths,
            (std::vector<std::string>{
                "FFS/Deleted/", "FFS/Deleted/Misc/", "FFS/Deleted/Misc/old.log",
                "FFS/Deleted/Trip/", "FFS/Deleted/Trip/beach.jpg", "FFS/Deleted/Trip/harbour.jpg",
                "FFS_C/Deleted/", "FFS_C/Deleted/SMS/", "FFS_C/Deleted/SMS/draft.txt"}));
  const TreeEntry *trip = Find(sample.Deleted, "FFS/Deleted/Trip");
  ASSERT_NE(trip, nullptr);
  EXPECT_TRUE(trip->Stamped);
  EXPECT_EQ(trip->Date, (44 << 9) | (8 << 5) | 11);
  EXPECT_FALSE(Find(sample.Deleted, "FFS/Deleted/Misc")->Stamped);  // made on the way
  EXPECT_EQ(Find(sample.Deleted, "FFS/Deleted/Misc/old.log")->Bytes.size(), 50u * 1024);
  ASSERT_NE(Find(sample, "FFS/Misc/diary.txt"), nullptr);  // rewritten: live once
  ASSERT_NE(Find(sample, "FFS/Misc/todo.txt"), nullptr);

  const std::vector<Chunk> ffs = ChunksOf(Find(sample, "FFS.BIN")->Bytes, 64 * 1024);
  // The deleted folder and what was in it: dead, naming it as their parent.
  const std::vector<const Chunk *> tripDir = Headers(ffs, "Trip", false);
  ASSERT_EQ(tripDir.size(), 1u);
  EXPECT_EQ(tripDir[0]->Field(5), 0x10);
  for (const Chunk *part : Headers(ffs, "harbour.jpg", false))
    EXPECT_EQ(part->Parent(), tripDir[0]->Id);
  EXPECT_EQ(Headers(ffs, "harbour.jpg", true).size(), 0u);
  // The rebuilt bytes are those of the dead parts, not of what took their ids.
  for (const std::string path : {"Misc/old.log", "Trip/beach.jpg", "Trip/harbour.jpg"}) {
    EXPECT_EQ(DeadContent(ffs, path.substr(5)), Find(sample.Deleted, "FFS/Deleted/" + path)->Bytes)
        << path;
  }
  // harbour.jpg's three ids went to todo.txt's first three parts, whose live
  // parts stand beside the dead ones; its other two parts have fresh ids.
  const std::vector<const Chunk *> freed = Headers(ffs, "harbour.jpg", false),
                                   reused = Headers(ffs, "todo.txt", true);
  ASSERT_EQ(freed.size(), 3u);
  ASSERT_EQ(reused.size(), 5u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(reused[i]->Id, freed[i]->Id);
  for (std::size_t i = 3; i < 5; ++i) EXPECT_GT(reused[i]->Id, freed[2]->Id);
  // diary.txt: dead parts of other bytes under its live parts' ids, parent and name.
  const std::vector<const Chunk *> before = Headers(ffs, "diary.txt", false),
                                   now = Headers(ffs, "diary.txt", true);
  ASSERT_EQ(before.size(), 3u);
  ASSERT_EQ(now.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(before[i]->Id, now[i]->Id);
    EXPECT_EQ(before[i]->Parent(), now[i]->Parent());
  }
  EXPECT_NE(DeadContent(ffs, "diary.txt"), Find(sample, "FFS/Misc/diary.txt")->Bytes);
  EXPECT_EQ(DeadContent(ffs, "diary.txt").size(), 4000u);

  // outbox.txt's block was erased: FFS_C's image is as if it had never been.
  std::string without = kDefaultDescription;
  without.erase(without.find("deleted /SMS/outbox.txt"));
  EXPECT_EQ(Find(sample, "FFS_C.BIN")->Bytes,
            Find(BuildSample(ParseDescription(without)), "FFS_C.BIN")->Bytes);
  EXPECT_TRUE(
      Headers(ChunksOf(Find(sample, "FFS_C.BIN")->Bytes, 4096), "outbox.txt", false).empty());
}

// An erased block is free again: the files fill both blocks. Nothing is left
// of an erased file for its ids' new file to be taken for.
TEST(SampleDescriptionTest, AnErasedBlockTakesLaterParts) {
  const Sample sample = BuildSample(ParseDescription(
      "disk FFS blocks=2 blocksize=4k\ndeleted /x size=3000 erased\ndeleted /y size=3000 erased\n"
      "file /a size=3000\nfile /b size=3000\nfile /y size=10 reuse\n"));
  for (const char *path : {"FFS/a", "FFS/b", "FFS/y"})
    EXPECT_NE(Find(sample, path), nullptr) << path;
  EXPECT_TRUE(sample.Deleted.empty());
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
  // The tree extraction gives, file for file, byte for byte, with the file
  // system's own files' stamps (the rest carry the dump's).
  const auto compare = [](const fs::path &tree, const fs::path &out) {
    const std::map<std::string, Found> want = Walk(tree), got = Walk(out);
    for (const auto &[path, w] : want) {
      const auto g = got.find(path);
      if (g == got.end()) {
        ADD_FAILURE() << "not extracted: " << path;
        continue;
      }
      EXPECT_EQ(g->second.Dir, w.Dir) << path;
      EXPECT_TRUE(g->second.Bytes == w.Bytes) << "content differs: " << path;
      const bool stamped = !w.Dir && path.find(".BIN") == std::string::npos &&
                           path.find("LostBlocks") == std::string::npos && path.find("EE") != 0;
      if (stamped) {
        EXPECT_TRUE(g->second.Time == w.Time) << "time differs: " << path;
      }
    }
    for (const auto &[path, g] : got)
      EXPECT_TRUE(want.count(path)) << "extracted, not described: " << path;
    return want;
  };
  ASSERT_EQ(Spawn({QUARN_CLI_PATH, "extract", dump, "-o", (dir / "out").string()}), 0);
  const std::map<std::string, Found> want = compare(dir / "tree", dir / "out");

  // --deleted adds each disk's Deleted folder to the same tree, and the
  // deleted view extracts to exactly that.
  EXPECT_EQ(Spawn({QUARN_MAKE_SAMPLE_PATH, "--deleted", (dir / "again.bin").string()}), 2);
  ASSERT_EQ(Spawn({QUARN_MAKE_SAMPLE_PATH, "--tree", (dir / "deleted").string(), "--deleted",
                   (dir / "again.bin").string()}),
            0);
  ASSERT_EQ(Spawn({QUARN_CLI_PATH, "extract", "--deleted", dump, "-o", (dir / "out2").string()}),
            0);
  std::map<std::string, Found> more = compare(dir / "deleted", dir / "out2");
  for (const auto &[path, w] : want) more.erase(path);
  for (const auto &[path, m] : more)
    EXPECT_EQ(path.find("/Deleted"), path.find('/')) << "not below a disk's Deleted: " << path;
  EXPECT_TRUE(more.count("FFS/Deleted/Trip/harbour.jpg"));
  EXPECT_TRUE(more.count("FFS_C/Deleted/SMS/draft.txt"));
  fs::remove_all(dir);
}

#endif

}  // namespace
}  // namespace quarn::sample
