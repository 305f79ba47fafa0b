// Writes a sample flash dump to try Quarn on, since no real dump can ship: a
// full 32 MiB image with a partition table, disks with flash file systems and
// EEPROM blocks, built from a description (sample/description.h); without
// one, from the built-in sample (sample/default_sample.h).
//
//   make-sample [--desc DESC] [--tree DIR [--deleted]] [FILE]   (FILE: sample.bin)
//   make-sample --print-desc
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "sample/default_sample.h"
#include "sample/description.h"
#include "sample/layout.h"
#include "util/civil_date.h"

namespace {

namespace fs = std::filesystem;
using quarn::sample::DescriptionError;

const char kUsage[] = R"(Usage: make-sample [--desc DESC] [--tree DIR [--deleted]] [FILE]
       make-sample --print-desc

Writes a 32 MiB Siemens flash dump to FILE (default: sample.bin), laid out as
the description DESC tells ("-": standard input), or the built-in sample.

  --desc DESC    the description to build
  --tree DIR     also write every file a reader should find in the dump into
                 DIR (new or empty): DISK.BIN images, folders, files, EEPROM
                 blocks with their .bid texts and LostBlocks
  --deleted      with --tree: also what the reader's view of deleted files
                 (quarn --deleted) adds: on every disk with a file system
                 that has any, DISK/Deleted with the deleted files and
                 folders rebuilt at their old paths
  --print-desc   print the built-in description and stop
  -h, --help     show this help

A description has one statement a line; '#' starts a comment. Numbers are
decimal or 0x-hex, with an optional k (KiB) or M (MiB); where A-B is allowed,
a value is picked from the range for every file or block. A path or name with
blanks goes in "double quotes".

  seed N                    seed of all pseudo-random content (default 1)
  firmware size=N           N pseudo-random bytes from 128 KiB on
  disk NAME blocks=N blocksize=N [at=OFFSET] [shuffle] [noroot]
      a disk of N adjacent blocks (blocksize a multiple of 4k, at most
      0xFFF000), after the firmware and the disks before it or at OFFSET;
      shuffle: its block table lists them in a scrambled order; noroot: no
      root directory. NAME: up to 10 letters, digits, '_' or '-'. EELITE
      and EEFULL are the EEPROM disks. What follows belongs to this disk:
  dir /PATH [date=YYYY-MM-DD] [time=HH:MM:SS] [attr=N] [utf8] [deleted]
      deleted: the folder is written and deleted; what lies in it must be
      deleted too (deleted, dir ... deleted)
  file /PATH size=A-B [part=N] [count=N] [spread] [text] [utf8]
       [date=...] [time=...] [attr=N] [reuse] [rewritten]
      a file of size bytes in parts of at most `part` bytes (default: one
      part), chained by their ids; spread: each part in the next block.
      count=N makes N files, numbering the last run of # in the name. text:
      readable words, else pseudo-random bytes. Folders on the way are made
      as needed. Names are stored as ASCII, or as 0x1F and UTF-8 when they
      are not ASCII or utf8 is given. Seconds must be even (DOS time).
      reuse: its parts take the part ids the latest deleted file on the
      disk freed, in order (more parts get fresh ids); it must differ from
      that file in name or folder. rewritten: first written with other
      content, which is deleted, then written with the same ids.
  deleted /PATH size=A-B [part=N] [erased] [spread] [text] [utf8]
          [date=...] [time=...] [attr=N]
      a file written and deleted: its descriptors are marked dead (0).
      erased: written in a block that holds nothing yet, which is then
      erased (all 0xFF) and free again: nothing of the file remains.
      A deleted file's ids go to no later file but through reuse.
  dead count=N              N dead descriptors in the current block
  eeprom id=A-B size=A-B [ver=A-B]
      on EELITE or EEFULL, a chunk outside the file system for every id:
      size bytes of payload and a version byte (last on EELITE, first on
      EEFULL), listed as "eeprom 1_N.bin" and ".bid" (N: the id, on EEFULL
      the id + 5000)
  lost id=A-B size=A-B      on other disks, a chunk outside the file system
                            for every id: listed as LostBlocks/block N.bin
  orphan NAME size=A-B [part=N] [text]
      a file whose folder does not exist: listed as LostFiles/NAME
)";

std::string ReadAll(std::istream &in) {
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path PathOf(const std::string &utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

// The DOS date and time of an entry, taken as UTC: the stamp the reader
// gives an extracted file.
fs::file_time_type FileTime(std::uint16_t date, std::uint16_t time) {
  using namespace std::chrono;
  const std::int64_t days = quarn::DaysFromCivil(1980 + (date >> 9), (date >> 5) & 15, date & 31);
  const sys_seconds at{
      seconds(days * 86400 + (time >> 11) * 3600 + ((time >> 5) & 63) * 60 + 2 * (time & 31))};
  return file_clock::from_sys(at);
}

void WriteTree(const std::vector<quarn::sample::TreeEntry> &tree, const fs::path &dir) {
  std::error_code error;
  fs::create_directories(dir);
  for (const quarn::sample::TreeEntry &entry : tree) {
    const fs::path path = dir / PathOf(entry.Path);
    if (entry.Dir) {
      fs::create_directories(path);
      continue;
    }
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(entry.Bytes.data()),
              static_cast<std::streamsize>(entry.Bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
    if (entry.Stamped) fs::last_write_time(path, FileTime(entry.Date, entry.Time), error);
  }
}

std::string Mib(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024 * 1024));
  return text;
}

}  // namespace

int main(int argc, char **argv) {
  std::string descPath, treeDir, output;
  bool printDesc = false, deleted = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if ((arg == "--desc" || arg == "--tree") && i + 1 < argc) {
      (arg == "--desc" ? descPath : treeDir) = argv[++i];
    } else if (arg == "--print-desc") {
      printDesc = true;
    } else if (arg == "--deleted") {
      deleted = true;
    } else if (arg.rfind('-', 0) != 0 && output.empty()) {
      output = arg;
    } else {
      std::fprintf(stderr, "make-sample: unexpected argument '%s'\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (printDesc) {
    std::fputs(quarn::sample::kDefaultDescription, stdout);
    return 0;
  }
  if (deleted && treeDir.empty()) {
    std::fprintf(stderr, "make-sample: --deleted goes with --tree DIR\n%s", kUsage);
    return 2;
  }
  if (output.empty()) output = "sample.bin";

  quarn::sample::Sample sample;
  try {
    std::string text = quarn::sample::kDefaultDescription;
    if (descPath == "-") {
      text = ReadAll(std::cin);
    } else if (!descPath.empty()) {
      std::ifstream in(descPath, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "make-sample: cannot read %s\n", descPath.c_str());
        return 2;
      }
      text = ReadAll(in);
    }
    sample = quarn::sample::BuildSample(quarn::sample::ParseDescription(text));
  } catch (const DescriptionError &e) {
    std::fprintf(stderr, "make-sample: %s: %s\n",
                 descPath.empty() ? "built-in sample" : descPath.c_str(), e.what());
    return 2;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "make-sample: %s\n", e.what());
    return 1;
  }

  try {
    std::error_code error;
    if (!treeDir.empty() && fs::exists(PathOf(treeDir)) && !fs::is_empty(PathOf(treeDir), error))
      throw std::runtime_error(treeDir + " is not empty");
    sample.Dump.Save(output);
    if (!treeDir.empty()) WriteTree(sample.Tree, PathOf(treeDir));
    if (deleted) WriteTree(sample.Deleted, PathOf(treeDir));
  } catch (const std::exception &e) {
    std::fprintf(stderr, "make-sample: %s\n", e.what());
    return 1;
  }

  std::printf("%s: sample dump written (%u bytes)\n", output.c_str(), sample.Dump.Size());
  for (const quarn::sample::DiskSummary &d : sample.Disks) {
    std::printf("  %-10s %5u blocks of %3u KiB at 0x%07X: %zu files, %zu folders (%s)",
                d.Name.c_str(), d.Blocks, d.BlockSize / 1024, d.Offset, d.Files, d.Dirs,
                Mib(d.ContentBytes).c_str());
    if (d.EepromBlocks) std::printf(", %zu EEPROM blocks", d.EepromBlocks);
    if (d.LostChunks) std::printf(", %zu lost chunks", d.LostChunks);
    if (d.DeadSlots) std::printf(", %zu dead slots", d.DeadSlots);
    if (d.DeletedFiles) std::printf(", %zu deleted files", d.DeletedFiles);
    if (d.DeletedDirs) std::printf(", %zu deleted folders", d.DeletedDirs);
    std::printf("\n");
  }
  if (!treeDir.empty())
    std::printf("%s: the files a reader should find%s\n", treeDir.c_str(),
                deleted ? ", and in its view of deleted files" : "");
  return 0;
}
