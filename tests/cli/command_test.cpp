// Runs the built `quarn` as a user does, on dumps made by the dump builder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mman.h>
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
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/os.h"
#include "crafted_dumps.h"
#include "dump_builder.h"
#include "sample_fs.h"
#include "util/utf8.h"

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

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A JSON value, and a strict parser: what the command writes must be JSON
// that any reader takes.
struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json &operator[](const std::string &key) const {
    static const Json none;
    for (const auto &[name, value] : members)
      if (name == key) return value;
    return none;
  }
  std::uint64_t Number() const { return static_cast<std::uint64_t>(number); }
};

class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}
  std::optional<Json> Document() {
    Json value;
    if (!Value(value, 0)) return std::nullopt;
    Space();
    if (at_ != text_.size()) return std::nullopt;
    return value;
  }

 private:
  void Space() {
    while (at_ < text_.size() && std::string_view(" \t\r\n").find(text_[at_]) != text_.npos) ++at_;
  }
  bool Literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }
  bool Value(Json &value, int depth) {
    if (depth > 64) return false;
    Space();
    if (at_ >= text_.size()) return false;
    const char c = text_[at_];
    if (c == 'n') return Literal("null");
    if (c == 't' || c == 'f') {
      value.kind = Json::kBool;
      value.boolean = c == 't';
      return Literal(c == 't' ? "true" : "false");
    }
    if (c == '"') {
      value.kind = Json::kString;
      return String(value.text);
    }
    if (c == '[') {
      value.kind = Json::kArray;
      ++at_;
      Space();
      if (at_ < text_.size() && text_[at_] == ']') return ++at_, true;
      for (;;) {
        if (!Value(value.items.emplace_back(), depth + 1)) return false;
        Space();
        if (at_ >= text_.size()) return false;
        if (text_[at_++] == ']') return true;
        if (text_[at_ - 1] != ',') return false;
      }
    }
    if (c == '{') {
      value.kind = Json::kObject;
      ++at_;
      Space();
      if (at_ < text_.size() && text_[at_] == '}') return ++at_, true;
      for (;;) {
        Space();
        auto &member = value.members.emplace_back();
        if (at_ >= text_.size() || text_[at_] != '"' || !String(member.first)) return false;
        Space();
        if (at_ >= text_.size() || text_[at_++] != ':') return false;
        if (!Value(member.second, depth + 1)) return false;
        Space();
        if (at_ >= text_.size()) return false;
        if (text_[at_++] == '}') return true;
        if (text_[at_ - 1] != ',') return false;
      }
    }
    return Number(value);
  }
  bool Number(Json &value) {
    const std::size_t start = at_;
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    auto digits = [&] {
      const std::size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ > from;
    };
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;
    } else if (!digits()) {
      return false;
    }
    if (at_ < text_.size() && text_[at_] == '.' && (++at_, !digits())) return false;
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!digits()) return false;
    }
    value.kind = Json::kNumber;
    value.number = std::stod(std::string(text_.substr(start, at_ - start)));
    return true;
  }
  bool String(std::string &out) {
    ++at_;  // the opening quote
    while (at_ < text_.size()) {
      const auto c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') return ++at_, true;
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++at_ >= text_.size()) return false;
        const char e = text_[at_++];
        if (e == 'u') {
          if (at_ + 4 > text_.size()) return false;
          const std::string hex(text_.substr(at_, 4));
          if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
          const unsigned long code = std::stoul(hex, nullptr, 16);
          at_ += 4;
          if (code < 0x80) {
            out += static_cast<char>(code);
          } else if (code < 0x800) {  // enough for the tests: the BMP as UTF-8
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
          } else {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
          }
        } else if (std::string_view("\"\\/bfnrt").find(e) != std::string_view::npos) {
          out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
        } else {
          return false;
        }
        continue;
      }
      char32_t ignored = 0;
      const std::size_t length =
          DecodeUtf8(reinterpret_cast<const unsigned char *>(text_.data() + at_),
                     text_.size() - at_, &ignored);
      if (length == 0) return false;  // JSON text is UTF-8
      out.append(text_.substr(at_, length));
      at_ += length;
    }
    return false;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

std::optional<Json> ParseJson(std::string_view text) { return JsonParser(text).Document(); }

// The paths a plain listing shows, in order.
std::vector<std::string> ListedPaths(const std::string &table) {
  std::vector<std::string> paths;
  const std::vector<std::string> lines = Lines(table);
  for (std::size_t i = 2; i + 2 < lines.size(); ++i) paths.push_back(lines[i].substr(40));
  return paths;
}

TEST_F(CommandTest, HelpVersionAndUsageErrors) {
  Outcome help = Run({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: quarn"));
  EXPECT_EQ(Run({"help"}).out, help.out);
  // "quarn VERSION" first, as scripts read it, then the commit where the
  // build knew it; three spellings, one answer.
  const Outcome version = Run({"version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_TRUE(std::regex_match(
      version.out, std::regex(R"(quarn \d+\.\d+\.\d+( \(commit [0-9a-f]{7,}(-modified)?\))?\n)")))
      << version.out;
  EXPECT_EQ(Run({"--version"}).out, version.out);
  EXPECT_EQ(Run({"-V"}).out, version.out);

  // Each usage error names what is wrong on its first line, writes nothing
  // to stdout and exits with 2.
  const struct {
    std::vector<std::string> Args;
    std::string Message;
  } kCases[] = {
      {{}, ""},
      {{"frob"}, "unknown command frob"},
      {{"help", "frob"}, "unknown command frob"},
      {{"version", "list"}, "version takes no arguments"},
      {{"--version", "x"}, "--version takes no arguments"},
      {{"list"}, "list needs a dump"},
      {{"info", "a", "b"}, "info needs exactly one dump"},
      {{"list", "--bogus", "dump.bin"}, "unknown option --bogus"},
      {{"list", "dump.bin", "-z"}, "unknown option -z"},
      {{"list", "dump.bin", "--json=yes"}, "--json takes no value"},
      {{"probe"}, "probe needs at least one file"},
      {{"test", "--json", "dump.bin"}, "--json does not apply to test"},
      {{"extract", "--json", "dump.bin"}, "--json does not apply to extract"},
      {{"info", "dump.bin", "-x", "*.BIN"}, "-x does not apply to info"},
      {{"list", "dump.bin", "-O"}, "-O does not apply to list"},
      {{"extract", "dump.bin", "-o"}, "-o needs a folder"},
      {{"extract", "dump.bin", "--exclude"}, "--exclude needs a pattern"},
      {{"extract", "dump.bin", "-x", ""}, "-x needs a pattern"},
      {{"extract", "dump.bin", "--output="}, "the output folder name is empty"},
      {{"extract"}, "extract needs a dump"},
      {{"extract", "dump.bin", "-overwrite"},
       "unknown option -overwrite (did you mean --overwrite?)"},
      {{"extract", "dump.bin", "-output=out"}, "(did you mean --output=out?)"},
      {{"extract", "dump.bin", "-kz"}, "unknown option -z (in -kz)"},
      {{"extract", "dump.bin", "-O", "-o", "out"},
       "-O and -o cannot be used together: the bytes go to standard output"},
      {{"extract", "dump.bin", "--stdout", "-C", "out"}, "--stdout and -C cannot be used together"},
      {{"extract", "dump.bin", "-O", "--overwrite"}, "-O and --overwrite cannot be used together"},
      {{"extract", "dump.bin", "-Ok"}, "-O and -k cannot be used together"},
      {{"extract", "dump.bin", "--keep", "--overwrite"},
       "--keep and --overwrite cannot be used together"},
      {{"extract", "dump.bin", "--skip-existing", "--overwrite"},
       "--skip-existing and --overwrite cannot be used together"},
      {{"extract", "dump.bin", "-qv"}, "-q and -v cannot be used together"},
      {{"extract", "dump.bin", "-o", "a", "-Cb"}, "the output folder is given twice (-o and -C)"},
  };
  for (const auto &c : kCases) {
    const std::string what = c.Args.empty() ? "(none)" : c.Args.back();
    const Outcome outcome = Run(c.Args);
    EXPECT_EQ(outcome.code, 2) << what;
    EXPECT_TRUE(outcome.out.empty()) << what;
    const std::vector<std::string> lines = Lines(outcome.err);
    ASSERT_FALSE(lines.empty()) << what;
    if (!c.Message.empty()) {
      EXPECT_TRUE(Contains(lines[0], c.Message)) << lines[0];
    }
  }
  EXPECT_FALSE(fs::exists(dir_ / "verwrite"));
}

TEST_F(CommandTest, EveryCommandHasItsHelp) {
  for (const char *command : {"probe", "list", "extract", "test", "info"}) {
    const Outcome help = Run({"help", command});
    EXPECT_EQ(help.code, 0) << command;
    EXPECT_TRUE(help.out.starts_with(std::string("Usage: quarn ") + command + " ")) << help.out;
    EXPECT_EQ(help.err, "");
    for (const std::vector<std::string> &args : {std::vector<std::string>{command, "--help"},
                                                 {command, "-h"},
                                                 {command, "dump.bin", "--bogus", "-h"}}) {
      const Outcome same = Run(args);
      EXPECT_EQ(same.code, 0) << command;
      EXPECT_EQ(same.out, help.out) << command;
    }
  }
  // After "--" it is an operand.
  EXPECT_EQ(Run({"list", "--", "-h"}).code, 3);
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
      "\"dir\":false,";
  // A raw image's extents are its blocks in table order.
  EXPECT_EQ(outcome.out,
            "{\"path\":\"EEFULL.BIN\",\"size\":196608," + tail +
                "\"disk\":\"EEFULL\",\"ids\":[],\"extents\":[[3145728,65536],[3276800,65536],"
                "[3211264,65536]],\"complete\":true}\n"
                "{\"path\":\"EELITE.BIN\",\"size\":65536," +
                tail +
                "\"disk\":\"EELITE\",\"ids\":[],\"extents\":[[2097152,65536]],\"complete\":true}\n"
                "{\"path\":\"FFS.BIN\",\"size\":131072," +
                tail +
                "\"disk\":\"FFS\",\"ids\":[],\"extents\":[[1048576,65536],[1114112,65536]],"
                "\"complete\":true}\n");
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
  EXPECT_EQ(kept.err, "quarn: FFS.BIN: exists, not overwritten (use --overwrite or --keep)\n");
  EXPECT_TRUE(kept.out.starts_with("Errors: 1\n"));
  EXPECT_EQ(ReadText(dir_ / "out" / "FFS.BIN"), "old");
  EXPECT_EQ(fs::file_size(dir_ / "out" / "EELITE.BIN"), 0x10000u);

  // As tar --skip-old-files: what exists is left, and that is no failure.
  for (const char *keep : {"-k", "--keep", "--skip-existing"}) {
    const Outcome skipped = Run({"extract", "dump.bin", keep, "-C", "out"});
    EXPECT_EQ(skipped.code, 0) << skipped.err;
    EXPECT_EQ(skipped.err, "");
    EXPECT_EQ(skipped.out,
              "Everything is Ok\n\nFolders: 0\nFiles: 0\nSize: 0\nSkipped: 3 (they exist)\n");
    EXPECT_EQ(ReadText(dir_ / "out" / "FFS.BIN"), "old");
  }

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

// The core reads the command's dump through a view of the file: a page the
// file no longer has, because it was cut meanwhile, ends the command with a
// message instead of a crash.
TEST_F(CommandTest, ADumpCutWhileItIsReadEndsWithAMessage) {
  EXPECT_EXIT(
      {
        CatchCutDump("dump.bin", 4);
        const int file = open(dumpPath_.c_str(), O_RDONLY);
        const auto *view = static_cast<const volatile char *>(
            mmap(nullptr, 0x10000, PROT_READ, MAP_PRIVATE, file, 0));
        if (file < 0 || view == MAP_FAILED || truncate(dumpPath_.c_str(), 0) != 0) std::exit(9);
        std::exit(view[0x8000]);  // the page is gone
      },
      ::testing::ExitedWithCode(4), "quarn: dump.bin: the file was cut short while it was read");
}

// info and list --json on hostile and damaged dumps: valid JSON, every
// entry listed, in bounded time.
TEST_F(CommandTest, HostileDumpsGiveValidJsonInBoundedTime) {
  using namespace quarn::testing;
  std::vector<std::pair<std::string, DumpBuilder>> dumps = {
      {"every-slot-live", EverySlotLiveDump("FFS")},
      {"overlapping-eeprom", OverlappingBlocksDump("EEFULL")},
      {"overlapping-lost", OverlappingBlocksDump("FFS")},
      {"shared-tail", SharedTailDump()},
      {"deep-nesting", DeepNestingDump()},
  };
  const DumpBuilder tree = FlashFsSample(DosDate(2005, 3, 1), DosTime(12, 0, 0), "\xC3\xA9").Dump;
  for (const std::uint32_t length : {0u, 0x130u, 0x2004u, 0x100010u, 0x10FFF8u}) {
    DumpBuilder cut(length);
    if (length > 0) cut.Bytes(0, tree.Data().data(), length);
    dumps.emplace_back("cut-" + std::to_string(length), cut);
  }
  std::mt19937 random(13);
  for (int round = 0; round < 3; ++round) {
    DumpBuilder damaged = tree;
    for (int i = 0; i < 300; ++i) {
      const std::uint8_t byte = static_cast<std::uint8_t>(random());
      damaged.Bytes(0x100000 + random() % 0x210000, &byte, 1);
    }
    dumps.emplace_back("random-" + std::to_string(round), damaged);
  }

  for (const auto &[name, dump] : dumps) {
    SCOPED_TRACE(name);
    Save(dump, "hostile.bin");
    const auto start = std::chrono::steady_clock::now();
    const Outcome info = Run({"info", "--json", "hostile.bin"});
    const Outcome list = Run({"list", "--json", "hostile.bin"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(info.code, 0) << info.err;
    EXPECT_EQ(list.code, 0) << list.err;
    const std::optional<Json> report = ParseJson(info.out);
    ASSERT_TRUE(report) << info.out.substr(0, 2000);
    std::size_t lines = 0;
    for (const std::string &line : Lines(list.out)) {
      ++lines;
      ASSERT_TRUE(ParseJson(line)) << line;
    }
    EXPECT_EQ((*report)["entries"].Number(), lines);
    EXPECT_EQ(Run({"info", "hostile.bin"}).code, 0);
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
  // The EELITE directory is made for its blocks and has no date of its own:
  // its date is blank.
  EXPECT_EQ(outcome.out,
            "   Date      Time    Attr         Size  Name\n"
            "------------------- ----- ------------  ------------------------\n"
            "2024-06-15 10:30:12 D....               EEFULL\n"
            "2005-03-01 12:00:00 .....        65536  EEFULL.BIN\n"
            "2008-02-29 12:00:00 .....            9  EEFULL/cal.txt\n"
            "2005-03-01 12:00:00 .....          100  EEFULL/eeprom 1_5012.bid\n"
            "2005-03-01 12:00:00 .....            9  EEFULL/eeprom 1_5012.bin\n"
            "                    D....               EELITE\n"
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
  // Cut before FFS's second block: chain.dat loses the part there (its
  // parts after the gap are kept in LostFiles, their head missing), and the
  // raw images of every disk reach past the end.
  const std::vector<std::uint8_t> bytes = ReadBytes(dir_ / "tree.bin");
  std::ofstream(dir_ / "cut.bin", std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), 0x110000);
  const Outcome outcome = Run({"test", "cut.bin"});
  EXPECT_EQ(outcome.code, 1);
  EXPECT_FALSE(Contains(outcome.out, "Everything is Ok")) << outcome.out;
  EXPECT_TRUE(Contains(outcome.out, "Errors: 6\n")) << outcome.out;
  EXPECT_TRUE(Contains(outcome.out,
                       "Found: FFS/LostFiles: 1 entry whose folder or first parts "
                       "are gone\n"))
      << outcome.out;
  // An empty input, and EELITE's partition record zeroed before EEFULL's:
  // what the listing cannot show fails the test.
  std::ofstream(dir_ / "empty.bin", std::ios::binary).close();
  std::vector<std::uint8_t> table = bytes;
  std::fill_n(table.begin() + 0x100 + 44, 44, 0);
  std::ofstream(dir_ / "table.bin", std::ios::binary)
      .write(reinterpret_cast<const char *>(table.data()),
             static_cast<std::streamsize>(table.size()));
  for (const auto &[dump, line] :
       {std::pair{"empty.bin", "empty.bin: not a whole dump: 0 bytes, a full dump has 33554432\n"},
        std::pair{"table.bin",
                  "table.bin: the partition record at 0x0000012C is damaged: the disks "
                  "after it are not listed: EEFULL\n"}}) {
    const Outcome other = Run({"test", dump});
    EXPECT_EQ(other.code, 1) << dump;
    EXPECT_TRUE(Contains(other.err, line)) << other.err;
  }
  // The deleted view lists the disk the damaged record hid, and still
  // tells of the damage.
  const Outcome hidden = Run({"--deleted", "list", "table.bin", "EEFULL.BIN", "EEFULL"});
  EXPECT_EQ(hidden.code, 0) << hidden.err;
  EXPECT_TRUE(Contains(hidden.out, " EEFULL.BIN\n")) << hidden.out;
  EXPECT_TRUE(Contains(hidden.out, " EEFULL/eeprom 1_5012.bin\n")) << hidden.out;
  EXPECT_TRUE(Contains(Run({"test", "--deleted", "table.bin"}).err,
                       "damaged: the disks after it are listed from their records: EEFULL\n"));
  for (const char *line : {"cut.bin: not a whole dump: 1114112 bytes, a full dump has 33554432\n",
                           "FFS/chain.dat: incomplete: the chain ends at a missing part\n",
                           "FFS/LostFiles/chain.dat: incomplete: the parts before this one are "
                           "missing\n",
                           "FFS.BIN: bad data: content lies outside the dump\n",
                           "EELITE.BIN: bad data: content lies outside the dump\n"})
    EXPECT_TRUE(Contains(outcome.err, line)) << outcome.err;
}

TEST_F(TreeCommandTest, ListsTheSelectedEntries) {
  const struct {
    std::vector<std::string> Args;
    std::vector<std::string> Paths;
  } kCases[] = {
      {{"FFS/Docs"},
       {"FFS/Docs", "FFS/Docs/Notes", "FFS/Docs/Notes/deep.txt", "FFS/Docs/caf\xC3\xA9.txt"}},
      // Cleaned as tar cleans names.
      {{"/FFS/Docs/Notes", "./FFS//empty.txt"},
       {"FFS/Docs/Notes", "FFS/Docs/Notes/deep.txt", "FFS/empty.txt"}},
      {{"EE*/*.bin"},
       {"EEFULL/eeprom 1_5012.bin", "EELITE/eeprom 1_12.bin", "EELITE/eeprom 1_14.bin"}},
      {{"FFS", "-x", "Docs", "--exclude=*.txt", "--exclude", "LostBlocks"},
       {"FFS", "FFS/chain.dat"}},
      {{"-x", "*.bi?", "-x", "*.BIN", "EE*"}, {"EEFULL", "EEFULL/cal.txt", "EELITE"}},
  };
  for (const auto &c : kCases) {
    std::vector<std::string> args = {"list", "tree.bin"};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const Outcome outcome = Run(args);
    EXPECT_EQ(outcome.code, 0) << c.Args[0] << outcome.err;
    EXPECT_EQ(ListedPaths(outcome.out), c.Paths) << c.Args[0];
  }
  const Outcome missing = Run({"list", "tree.bin", "FFS/nothing", "FFS/chain.dat"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err, "quarn: FFS/nothing: no such entry in tree.bin\n");
  EXPECT_EQ(ListedPaths(missing.out), std::vector<std::string>{"FFS/chain.dat"});
}

// For every file, the ranges of the dump that list --json gives are, one
// after another, exactly the bytes extraction writes, and -O writes the same;
// "complete" is false exactly for the entries test names. On the sound dump
// and on dumps cut inside a block, at a block's end and inside a chain.
TEST_F(TreeCommandTest, JsonListingTellsWhereEveryByteLies) {
  const std::vector<std::uint8_t> whole = ReadBytes(dir_ / "tree.bin");
  for (const std::size_t cut :
       {whole.size(), std::size_t{0x108000}, std::size_t{0x110000}, std::size_t{0x300010}}) {
    SCOPED_TRACE(cut);
    const std::vector<std::uint8_t> bytes(whole.begin(),
                                          whole.begin() + static_cast<std::ptrdiff_t>(cut));
    std::ofstream(dir_ / "cut.bin", std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    fs::remove_all(dir_ / "out");
    const Outcome listing = Run({"list", "--json", "cut.bin"});
    const Outcome tested = Run({"test", "cut.bin"});
    const Outcome extracted = Run({"extract", "cut.bin", "-o", "out"});
    const Outcome piped = Run({"extract", "cut.bin", "-O"}, (dir_ / "piped").string());
    EXPECT_EQ(listing.code, 0) << listing.err;
    EXPECT_EQ(extracted.code, tested.code);
    EXPECT_EQ(piped.code, tested.code) << piped.err;

    std::vector<std::uint8_t> concatenated;
    std::size_t files = 0, incomplete = 0;
    for (const std::string &line : Lines(listing.out)) {
      const std::optional<Json> entry = ParseJson(line);
      ASSERT_TRUE(entry) << line;
      const std::string path = (*entry)["path"].text;
      EXPECT_EQ((*entry)["complete"].boolean, !Contains(tested.err, "quarn: " + path + ": "))
          << path;
      incomplete += (*entry)["complete"].boolean ? 0 : 1;
      if (path == "EELITE") {
        EXPECT_EQ((*entry)["time"].kind, Json::kNull);
      }
      if ((*entry)["dir"].boolean) {
        EXPECT_TRUE((*entry)["extents"].items.empty()) << path;
        continue;
      }
      ++files;
      const std::vector<std::uint8_t> written = ReadBytes(dir_ / "out" / path);
      concatenated.insert(concatenated.end(), written.begin(), written.end());
      const Json &extents = (*entry)["extents"];
      if (extents.kind == Json::kNull) {
        EXPECT_TRUE(path.ends_with(".bid")) << path;  // a text the reader made
        continue;
      }
      std::vector<std::uint8_t> fromDump;
      for (const Json &range : extents.items) {
        ASSERT_EQ(range.items.size(), 2u) << path;
        const std::uint64_t offset = range.items[0].Number(), length = range.items[1].Number();
        ASSERT_LE(offset + length, bytes.size()) << path;
        fromDump.insert(fromDump.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                        bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
      }
      EXPECT_TRUE(fromDump == written) << path;
    }
    EXPECT_EQ(ReadBytes(dir_ / "piped"), concatenated);
    EXPECT_GT(files, 0u);
    EXPECT_EQ(incomplete == 0, cut == whole.size());
  }
}

TEST_F(TreeCommandTest, ExtractsToStandardOutput) {
  // In listing order, whatever the order of the patterns; nothing else on
  // stdout, and with -v the names on stderr.
  const Outcome outcome =
      Run({"extract", "tree.bin", "-O", "-v", "FFS/chain.dat", "FFS/Docs", "-x", "Notes"});
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  std::vector<std::uint8_t> expected;
  for (const char *path : {"FFS\\Docs\\caf\xC3\xA9.txt", "FFS\\chain.dat"}) {
    for (const quarn::testing::SampleEntry &entry : sample_.Listing)
      if (entry.Path == path)
        expected.insert(expected.end(), entry.Content.begin(), entry.Content.end());
  }
  EXPECT_EQ(std::vector<std::uint8_t>(outcome.out.begin(), outcome.out.end()), expected);
  EXPECT_EQ(outcome.err, "FFS/Docs/caf\xC3\xA9.txt\nFFS/chain.dat\n");
  EXPECT_FALSE(fs::exists(dir_ / "FFS"));

  // A stdout that cannot be written: one line naming why, exit 7.
  for (const auto &[out, reason] :
       {std::pair<std::string, std::string>{"/dev/full", "No space left on device"},
        {"-", "Bad file descriptor"}}) {
    const Outcome failed = Run({"extract", "tree.bin", "-O", "FFS.BIN"}, out);
    EXPECT_EQ(failed.code, 7) << out;
    EXPECT_EQ(failed.err, "quarn: cannot write to standard output: " + reason + "\n");
  }
}

TEST_F(TreeCommandTest, VerboseQuietAndReadOnly) {
  const Outcome verbose =
      Run({"extract", "tree.bin", "-v", "-o", "out", "FFS/Docs", "FFS/readonly.txt"});
  EXPECT_EQ(verbose.code, 0) << verbose.err;
  EXPECT_EQ(verbose.out,
            "FFS/Docs/\nFFS/Docs/Notes/\nFFS/Docs/Notes/deep.txt\nFFS/Docs/caf\xC3\xA9.txt\n"
            "FFS/readonly.txt\n"
            "Everything is Ok\n\nFolders: 2\nFiles: 3\nSize: 48\n");
  // A read-only entry loses its write permission once written; the others
  // keep theirs.
  const fs::perms writable =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  EXPECT_EQ(fs::status(dir_ / "out" / "FFS" / "readonly.txt").permissions() & writable,
            fs::perms::none);
  EXPECT_NE(fs::status(dir_ / "out" / "FFS" / "Docs" / "Notes" / "deep.txt").permissions() &
                fs::perms::owner_write,
            fs::perms::none);
  EXPECT_EQ(
      ModifiedTime(dir_ / "out" / "FFS" / "readonly.txt"),
      EntryTime({"", 0, quarn::testing::DosDate(2004, 6, 7), quarn::testing::DosTime(8, 9, 10)}));

  // Quiet: nothing but errors; a read-only file is replaced like any other.
  const Outcome quiet = Run({"extract", "tree.bin", "-q", "--overwrite", "-o", "out"});
  EXPECT_EQ(quiet.code, 0) << quiet.err;
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(ReadText(dir_ / "out" / "FFS" / "readonly.txt"), "do not touch\n");
  const Outcome quietFailure = Run({"extract", "tree.bin", "-q", "-o", "out", "FFS/chain.dat"});
  EXPECT_EQ(quietFailure.code, 1);
  EXPECT_EQ(quietFailure.out, "");
  EXPECT_TRUE(Contains(quietFailure.err, "FFS/chain.dat: exists")) << quietFailure.err;
  const Outcome quietTest = Run({"test", "-q", "tree.bin", "FFS"});
  EXPECT_EQ(quietTest.code, 0);
  EXPECT_EQ(quietTest.out + quietTest.err, "");
}

TEST_F(TreeCommandTest, InfoReportsTheDumpAsAWhole) {
  const Outcome outcome = Run({"info", "tree.bin"});
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(
      outcome.out,
      "Dump:       tree.bin\n"
      "Size:       33554432 bytes (a full dump)\n"
      "Signature:  SIEMENS at offset 544\n"
      "Written:    2005-03-01 12:00:00\n"
      "Entries:    22, 0 of them damaged\n"
      "Disks:      3\n"
      "\n"
      "Partition table (offsets in the dump; phone address = 0xA0000000 + offset)\n"
      "  Disk        Record  Blocks  Block size  Blocks at\n"
      "  FFS     0x00000100       2      64 KiB  0x00100000-0x0011FFFF\n"
      "  EELITE  0x0000012C       1      64 KiB  0x00200000-0x0020FFFF\n"
      "  EEFULL  0x00000158       1      64 KiB  0x00300000-0x0030FFFF\n"
      "\n"
      "Contents (descriptor slots: live, dead, unwritten)\n"
      "  Disk    Holds        Live  Dead  Unwritten  Parts  Files  Folders  Bytes  EEPROM  Lost\n"
      "  FFS     file system    21     0       8169     10      5        2   2081       0     1\n"
      "  EELITE  EEPROM          2     0       4093      0      0        0      0       2     0\n"
      "  EEFULL  EEPROM          5     0       4090      2      1        0      9       1     0\n"
      "\n"
      "Flash (bytes of chunk data: live, dead = what deleted files left, unwritten)\n"
      "  Disk    Live  Dead  Unwritten  Dead chunks\n"
      "  FFS     2341     0     128369            0\n"
      "  EELITE    15     0      65487            0\n"
      "  EEFULL    67     0      65386            0\n"
      "\n"
      "Damage: none found\n");

  const Outcome json = Run({"info", "--json", "tree.bin"});
  EXPECT_EQ(json.code, 0);
  const std::optional<Json> info = ParseJson(json.out);
  ASSERT_TRUE(info) << json.out;
  EXPECT_TRUE((*info)["recognised"].boolean);
  EXPECT_EQ((*info)["signature"].text, "SIEMENS");
  EXPECT_EQ((*info)["time"].text, "2005-03-01T12:00:00");
  EXPECT_EQ((*info)["entries"].Number(), 22u);
  ASSERT_EQ((*info)["disks"].items.size(), 3u);
  const Json &ffs = (*info)["disks"].items[0];
  EXPECT_EQ(ffs["name"].text, "FFS");
  EXPECT_EQ(ffs["holds"].text, "file_system");
  EXPECT_EQ(ffs["record_offset"].Number(), 0x100u);
  EXPECT_EQ(ffs["record_address"].Number(), 0xA0000100u);
  EXPECT_EQ(ffs["block_size"].Number(), 0x10000u);
  ASSERT_EQ(ffs["blocks"].items.size(), 2u);
  EXPECT_EQ(ffs["blocks"].items[1]["offset"].Number(), 0x110000u);
  EXPECT_EQ(ffs["blocks"].items[1]["address"].Number(), 0xA0110000u);
  EXPECT_EQ(ffs["slots"]["live"].Number(), 21u);
  EXPECT_EQ(ffs["parts"].Number(), 10u);
  EXPECT_EQ(ffs["files"].Number(), 5u);
  EXPECT_EQ(ffs["bytes"].Number(), 2081u);
  EXPECT_EQ(ffs["lost_chunks"].Number(), 1u);
  EXPECT_TRUE(ffs["damage"].items.empty());
  EXPECT_EQ((*info)["disks"].items[1]["holds"].text, "eeprom");
}

TEST_F(TreeCommandTest, EverythingDeletedComesBackWithTheDeletedView) {
  // The FFS disk with every descriptor dead: its root too, so its files and
  // folders stand at the top of FFS/Deleted.
  Save(quarn::testing::AllDeleted(sample_.Dump), "deleted.bin");
  EXPECT_FALSE(Contains(Run({"list", "deleted.bin"}).out, "Deleted"));
  const Outcome listed = Run({"list", "--deleted", "--json", "deleted.bin", "FFS/Deleted"});
  EXPECT_EQ(listed.code, 0) << listed.err;
  std::size_t deleted = 0;
  std::istringstream lines(listed.out);
  for (std::string line; std::getline(lines, line);) {
    const std::optional<Json> entry = ParseJson(line);
    ASSERT_TRUE(entry) << line;
    deleted += (*entry)["deleted"].boolean ? 1 : 0;
  }
  std::size_t files = 0, folders = 0;
  for (const quarn::testing::SampleEntry &e : sample_.Listing) {
    // A lost chunk is no file: nothing rebuilds it.
    if (e.Path.rfind("FFS\\", 0) != 0 || Contains(e.Path, "LostBlocks")) continue;
    ++(e.Directory() ? folders : files);
    if (e.Directory()) continue;
    // Each file back byte for byte, and sound.
    const std::string path = "FFS/Deleted/" + LinuxPath(e.Path.substr(4));
    const Outcome bytes = Run({"extract", "-O", "--deleted", "deleted.bin", path});
    EXPECT_EQ(bytes.code, 0) << path << bytes.err;
    EXPECT_EQ(bytes.out, std::string(e.Content.begin(), e.Content.end())) << path;
  }
  EXPECT_EQ(deleted, files + folders);
  EXPECT_EQ(Run({"--deleted", "test", "-q", "deleted.bin", "FFS/Deleted"}).code, 0);
  const std::optional<Json> info =
      ParseJson(Run({"info", "--json", "--deleted", "deleted.bin"}).out);
  ASSERT_TRUE(info);
  EXPECT_TRUE((*info)["deleted_view"].boolean);
  const Json &ffs = (*info)["disks"].items[0];
  EXPECT_EQ(ffs["deleted"]["files"].Number(), files);
  EXPECT_EQ(ffs["deleted"]["complete"].Number(), files);
  EXPECT_EQ(ffs["deleted"]["folders"].Number(), folders);
  EXPECT_EQ(ffs["flash"]["live_bytes"].Number(), 0u);
  EXPECT_EQ(ffs["flash"]["dead_chunks"].Number(), ffs["slots"]["dead"].Number());
}

TEST_F(TreeCommandTest, InfoNamesEveryDamageWithWhereItLies) {
  // Cut after FFS's first block, with a fourth disk that takes EELITE's
  // name again, with one EEPROM block: it is listed as "EELITE (2)".
  quarn::testing::DumpBuilder dump = sample_.Dump;
  dump.Disk(0x100 + 132, "EELITE", 0x1030, 0x2300, {{quarn::testing::At(0xF0000), 0x10000}}, false);
  quarn::testing::FlashBlock(dump, 0xF0000, 0x10000).Chunk(3, {1, 2, 3});
  const std::vector<std::uint8_t> &bytes = dump.Data();
  std::ofstream(dir_ / "damaged.bin", std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), 0x110000);
  // chain.dat keeps its first part, whose next one lay in the lost block:
  // the chain ends at that part's header, 16 bytes before its name.
  const std::string name = "chain.dat";
  const auto found =
      std::search(bytes.begin() + 0x100000, bytes.begin() + 0x110000, name.begin(), name.end());
  char chainHeader[16];
  std::snprintf(chainHeader, sizeof chainHeader, "0x%08X",
                static_cast<unsigned>(found - bytes.begin() - 16));

  const Outcome outcome = Run({"info", "damaged.bin"});
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  const std::string report = outcome.out.substr(outcome.out.find("Damage:"));
  // The first EELITE's block lies past the cut, so only the second one has a
  // folder, "EELITE"; its raw image is numbered, and names the disk.
  EXPECT_EQ(
      report,
      "Damage: 7\n"
      "  The dump: not a whole dump: 1114112 bytes, a full dump has 33554432\n"
      "  Disk        Offset      Path: what is wrong\n"
      "  FFS         0x00110000  FFS.BIN: bad data: content lies outside the dump\n"
      "  FFS         0x001004F4  FFS/LostFiles/chain.dat: incomplete: the parts before this one "
      "are missing\n"
      "  FFS         " +
          std::string(chainHeader) +
          "  FFS/chain.dat: incomplete: the chain ends at a missing part\n"
          "  EELITE      0x00200000  EELITE.BIN: bad data: content lies outside the dump\n"
          "  EEFULL      0x00300000  EEFULL.BIN: bad data: content lies outside the dump\n"
          "  EELITE (2)  0x00000184  EELITE (2).BIN: renamed duplicate: another entry came first "
          "on the same path\n")
      << outcome.out;
  const Outcome listing = Run({"list", "--json", "damaged.bin", "EELITE"});
  EXPECT_TRUE(Contains(listing.out, "{\"path\":\"EELITE/eeprom 1_3.bin\"")) << listing.out;
  EXPECT_TRUE(Contains(listing.out, "\"disk\":\"EELITE (2)\",\"ids\":[3],\"extents\":[[983040,2]]"))
      << listing.out;

  const std::optional<Json> info = ParseJson(Run({"info", "--json", "damaged.bin"}).out);
  ASSERT_TRUE(info);
  EXPECT_EQ((*info)["size"].Number(), 0x110000u);
  EXPECT_FALSE((*info)["recognised"].boolean);
  EXPECT_EQ((*info)["damaged"].Number(), 5u);
  const Json &chain = (*info)["disks"].items[0]["damage"].items[2];
  EXPECT_EQ(chain["path"].text, "FFS/chain.dat");
  EXPECT_EQ(chain["reason"].text, "incomplete: the chain ends at a missing part");
  EXPECT_EQ(chain["address"].Number(), 0xA0000000u + chain["offset"].Number());
  EXPECT_EQ((*info)["disks"].items[3]["listed_as"].text, "EELITE (2)");
  EXPECT_EQ((*info)["disks"].items[3]["name"].text, "EELITE");
  EXPECT_EQ((*info)["disks"].items[3]["eeprom_blocks"].Number(), 1u);
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
