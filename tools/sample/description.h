// The description of a sample dump: a small text format, one statement a
// line, read by make-sample and by its tests.
//
//   # A comment runs from '#' to the end of the line.
//   seed 7                              content seed (default 1)
//   firmware size=8M                    pseudo-random bytes after the partition table
//   disk FFS blocks=96 blocksize=64k [at=ADDR] [shuffle] [noroot]
//   dir /Pictures [date=2024-05-01] [time=09:00:00] [attr=0x10] [deleted]
//   file /Pictures/photo.jpg size=40000 [part=4000] [spread] [text] [utf8]
//        [count=N] [date=...] [time=...] [attr=0x20] [reuse] [rewritten]
//   deleted /Misc/old.log size=5000 [part=1000] [erased]
//   dead count=3
//   eeprom id=0-39 size=10-200 [ver=1]  (on EELITE and EEFULL)
//   lost id=60000 size=100              (on other disks)
//   orphan name.txt size=300 [part=N]
//
// Everything after a `disk` line belongs to that disk. Numbers are decimal or
// 0x-hex and may end in k (KiB) or M (MiB); `size`, `ver` and `id` also take
// a range A-B: `size` and `ver` then get a value picked from it for every
// file or block, and `id` makes one EEPROM block or lost chunk per id. A path
// with spaces goes in double quotes. The details are in Usage() of
// make_sample.cpp.
//
// Deleting marks the descriptors of a file's or folder's parts dead and leaves
// their data; a reader's view of deleted files rebuilds them from that. The
// statements that leave such traces:
//   - `deleted`: a file written and deleted; `erased`: in a block of its own
//     that is erased afterwards, so that nothing of it remains;
//   - `dir ... deleted`: a deleted folder; what lies in it must be deleted too,
//     and folders below it must be described (a folder made on the way would
//     be live);
//   - `file ... reuse`: a new file whose parts take the ids the latest
//     deleted file on the disk freed, which must differ in name or folder, or
//     the dead parts would read as an older state of the new file;
//   - `file ... rewritten`: a file written with other content, deleted and
//     written again under the same ids, name and folder, which a reader
//     lists only once.
// Other than through `reuse`, a deleted file's ids go to no later file. A
// top-level /Deleted is refused on disks with a file system: the view lists
// the deleted files there.
#ifndef QUARN_TOOLS_SAMPLE_DESCRIPTION_H
#define QUARN_TOOLS_SAMPLE_DESCRIPTION_H

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "description_values.h"

namespace quarn::sample {
namespace detail {

// The options a keyword takes; a bare word is a flag.
struct Options {
  std::map<std::string, std::string> Values;
  std::set<std::string> Flags;

  bool Has(const std::string &key) const { return Values.count(key) != 0; }
  const std::string &Get(const std::string &key) const { return Values.at(key); }
};

inline Options ReadOptions(const std::vector<std::string> &tokens, std::size_t from,
                           const std::string &keyword, const std::set<std::string> &keys,
                           const std::set<std::string> &flags, int line) {
  Options options;
  for (std::size_t i = from; i < tokens.size(); ++i) {
    const std::string &token = tokens[i];
    const std::size_t eq = token.find('=');
    if (eq == std::string::npos) {
      if (!flags.count(token)) Fail(line, "'" + token + "' is no flag of " + keyword);
      options.Flags.insert(token);
      continue;
    }
    const std::string key = token.substr(0, eq);
    if (!keys.count(key)) {
      std::string known;
      for (const std::string &k : keys) known += (known.empty() ? "" : ", ") + k;
      Fail(line, "'" + key + "' is no option of " + keyword + " (it takes: " + known + ")");
    }
    if (options.Values.count(key)) Fail(line, key + "= is given twice");
    options.Values[key] = token.substr(eq + 1);
  }
  return options;
}

inline void Require(const Options &options, const std::string &key, const std::string &keyword,
                    int line) {
  if (!options.Has(key)) Fail(line, keyword + " needs " + key + "=");
}

inline std::uint32_t Small(std::uint64_t value, std::uint64_t limit, const std::string &what,
                           int line) {
  if (value > limit) Fail(line, what + " is at most " + std::to_string(limit));
  return static_cast<std::uint32_t>(value);
}

inline void ReadTimes(const Options &o, Statement &s, int line) {
  if (o.Has("date")) s.Date = DosDate(o.Get("date"), line);
  if (o.Has("time")) s.Time = DosTime(o.Get("time"), line);
}

inline DiskDescription ReadDisk(const std::vector<std::string> &t, int line) {
  if (t.size() < 2 || t[1].find('=') != std::string::npos) Fail(line, "disk needs a name");
  DiskDescription disk;
  disk.Line = line;
  disk.Name = t[1];
  if (disk.Name.size() > 10) Fail(line, "disk name \"" + disk.Name + "\" is longer than 10");
  for (const char c : disk.Name) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
          c == '-'))
      Fail(line, "disk name \"" + disk.Name + "\": use letters, digits, '_' and '-'");
  }
  const Options o =
      ReadOptions(t, 2, "disk", {"blocks", "blocksize", "at"}, {"shuffle", "noroot"}, line);
  Require(o, "blocks", "disk", line);
  Require(o, "blocksize", "disk", line);
  disk.Blocks = Small(Number(o.Get("blocks"), line, "blocks"), kMaxBlocks - 1, "blocks", line);
  disk.BlockSize =
      Small(Number(o.Get("blocksize"), line, "blocksize"), kMaxBlockSize, "blocksize", line);
  if (disk.BlockSize == 0 || disk.BlockSize % 4096 != 0)
    Fail(line, "blocksize must be a multiple of 4096 (4k)");
  if (o.Has("at")) {
    std::uint64_t at = Number(o.Get("at"), line, "at");
    if (at >= 0xA0000000 && at <= 0xA1FFFFFF) at -= 0xA0000000;  // a phone address
    if (at % 4096 != 0) Fail(line, "at= must be a multiple of 4096");
    disk.At = static_cast<std::uint32_t>(at);
  }
  disk.Shuffle = o.Flags.count("shuffle") != 0;
  disk.NoRoot = o.Flags.count("noroot") != 0;
  return disk;
}

inline std::uint16_t ReadAttr(const Options &o, std::uint16_t fallback, int line) {
  if (!o.Has("attr")) return fallback;
  return static_cast<std::uint16_t>(Small(Number(o.Get("attr"), line, "attr"), 0xFF, "attr", line));
}

}  // namespace detail

// Reads a description; throws DescriptionError naming the line of the first
// fault.
inline Description ParseDescription(const std::string &text) {
  using namespace detail;
  Description description;
  // Per disk: every path made so far, true for a folder, and the line that made it;
  // the folders described as deleted; the latest deleted file, whose part ids
  // a `reuse` file may take once.
  std::map<std::vector<std::string>, std::pair<bool, int>> paths;
  std::map<std::vector<std::string>, int> deletedDirs;
  struct {
    int Line = 0;
    std::vector<std::string> Path;
    bool Erased = false;
    int TakenBy = 0;
  } freed;
  std::size_t blocks = 0;
  int line = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    ++line;
    const std::vector<std::string> t = Tokens(text.substr(start, end - start), line);
    start = end + 1;
    if (t.empty()) continue;
    const std::string &keyword = t[0];

    if (keyword == "seed") {
      if (t.size() != 2) Fail(line, "seed takes one number");
      description.Seed = Number(t[1], line, "seed");
      continue;
    }
    if (keyword == "firmware") {
      const Options o = ReadOptions(t, 1, "firmware", {"size"}, {}, line);
      Require(o, "size", "firmware", line);
      description.Firmware = static_cast<std::uint32_t>(Number(o.Get("size"), line, "size"));
      continue;
    }
    if (keyword == "disk") {
      DiskDescription disk = ReadDisk(t, line);
      for (const DiskDescription &other : description.Disks) {
        if (other.Name == disk.Name)
          Fail(line, "disk " + disk.Name + " is described twice (line " +
                         std::to_string(other.Line) + ")");
      }
      if (description.Disks.size() == kMaxDisks) Fail(line, "more than 256 disks");
      blocks += disk.Blocks;
      if (blocks > kMaxBlocks) Fail(line, "more than 65536 blocks over all disks");
      description.Disks.push_back(std::move(disk));
      paths.clear();
      deletedDirs.clear();
      freed = {};
      continue;
    }

    static const std::map<std::string, Kind> kKinds = {
        {"dir", Kind::Dir},      {"file", Kind::File},     {"deleted", Kind::Deleted},
        {"dead", Kind::Dead},    {"eeprom", Kind::Eeprom}, {"lost", Kind::Lost},
        {"orphan", Kind::Orphan}};
    const auto kind = kKinds.find(keyword);
    if (kind == kKinds.end()) Fail(line, "unknown statement '" + keyword + "'");
    if (description.Disks.empty()) Fail(line, keyword + " comes before any disk line");
    DiskDescription &disk = description.Disks.back();

    Statement s;
    s.Line = line;
    s.What = kind->second;
    switch (s.What) {
      case Kind::Dead: {
        const Options o = ReadOptions(t, 1, keyword, {"count"}, {}, line);
        Require(o, "count", keyword, line);
        s.Count = Small(Number(o.Get("count"), line, "count"), 4096, "count", line);
        disk.Statements.push_back(s);
        continue;
      }
      case Kind::Eeprom:
      case Kind::Lost: {
        if (s.What == Kind::Eeprom && !disk.IsEeprom())
          Fail(line, "eeprom blocks belong on EELITE or EEFULL; use lost on " + disk.Name);
        if (s.What == Kind::Lost && disk.IsEeprom())
          Fail(line, "every leftover chunk of " + disk.Name + " is an EEPROM block: use eeprom");
        const std::set<std::string> keys = s.What == Kind::Eeprom
                                               ? std::set<std::string>{"id", "size", "ver"}
                                               : std::set<std::string>{"id", "size"};
        const Options o = ReadOptions(t, 1, keyword, keys, {}, line);
        Require(o, "id", keyword, line);
        Require(o, "size", keyword, line);
        s.Id = NumberRange(o.Get("id"), line, "id");
        if (s.Id.High > 0xFFFF) Fail(line, "chunk ids run from 0 to 65535");
        s.Size = NumberRange(o.Get("size"), line, "size");
        s.Ver = o.Has("ver") ? NumberRange(o.Get("ver"), line, "ver") : Range{1, 1};
        if (s.Ver.High > 255) Fail(line, "ver is one byte: 0 to 255");
        if (s.What == Kind::Eeprom && s.Size.High > kMaxBlockSize)
          Fail(line, "size is too large for any block");
        disk.Statements.push_back(s);
        continue;
      }
      default:
        break;
    }

    // dir, file, deleted, orphan: a path (orphan: a name) first.
    if (t.size() < 2 || t[1].find('=') != std::string::npos)
      Fail(line, keyword + " needs a " + (s.What == Kind::Orphan ? "name" : "path"));
    if (disk.NoRoot && s.What != Kind::Orphan)
      Fail(line, "disk " + disk.Name + " has no root directory (noroot) to hold " + t[1]);
    if (s.What == Kind::Orphan && disk.IsEeprom())
      Fail(line, "the chunks of an orphan on " + disk.Name + " would read as EEPROM blocks");
    std::set<std::string> keys = {"size", "part", "date", "time", "attr"};
    std::set<std::string> flags = {"text", "utf8", "spread"};
    if (s.What == Kind::Dir) keys = {"date", "time", "attr"}, flags = {"utf8", "deleted"};
    if (s.What == Kind::File) keys.insert("count"), flags.insert({"reuse", "rewritten"});
    if (s.What == Kind::Deleted) flags.insert("erased");
    const Options o = ReadOptions(t, 2, keyword, keys, flags, line);
    if (s.What != Kind::Dir) Require(o, "size", keyword, line);
    ReadTimes(o, s, line);
    s.Text = o.Flags.count("text") != 0;
    s.Utf8 = o.Flags.count("utf8") != 0;
    s.Spread = o.Flags.count("spread") != 0;
    s.Deleted = o.Flags.count("deleted") != 0;
    s.Reuse = o.Flags.count("reuse") != 0;
    s.Rewritten = o.Flags.count("rewritten") != 0;
    s.Erased = o.Flags.count("erased") != 0;
    if (s.Reuse && s.Rewritten)
      Fail(line, "reuse and rewritten do not go together: an id would hold two dead parts");
    if (s.Reuse && o.Has("count")) Fail(line, "reuse takes the ids of one deleted file: no count=");
    if (s.Erased && s.Spread) Fail(line, "an erased file is written in one block: no spread");
    if (o.Has("size")) {
      s.Size = NumberRange(o.Get("size"), line, "size");
      if (s.Size.High > 0x7FFFFFFF) Fail(line, "size is too large for a dump");
    }
    if (o.Has("part")) {
      s.Part = Small(Number(o.Get("part"), line, "part"), kMaxBlockSize, "part", line);
      if (s.Part == 0) Fail(line, "part must be at least 1");
    }
    if (s.What == Kind::Dir) {
      s.Attr = ReadAttr(o, 0x10, line);
      if (!(s.Attr & 0x10)) Fail(line, "a directory's attr must have 0x10 set");
    } else {
      s.Attr = ReadAttr(o, 0x20, line);
      if (s.Attr & 0x10) Fail(line, "attr 0x10 marks a directory; use dir");
    }

    if (s.What == Kind::Orphan) {
      if (t[1].find('/') != std::string::npos) Fail(line, "an orphan has a name, not a path");
      CheckName(t[1], s.Utf8, line);
      s.Path = {t[1]};
      disk.Statements.push_back(s);
      continue;
    }

    const std::vector<std::string> path = SplitPath(t[1], line);
    std::uint32_t count = 1;
    if (o.Has("count")) {
      count = Small(Number(o.Get("count"), line, "count"), 30000, "count", line);
      if (count == 0) Fail(line, "count must be at least 1");
      if (path.back().find('#') == std::string::npos)
        Fail(line, "count=" + o.Get("count") + " needs a run of # in the name to number");
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      Statement one = s;
      one.Path = path;
      one.Index = static_cast<int>(i);
      if (o.Has("count")) one.Path.back() = Numbered(path.back(), i + 1);
      bool belowDeleted = false;
      for (std::size_t k = 0; k < one.Path.size(); ++k) {
        const bool last = k + 1 == one.Path.size();
        CheckName(one.Path[k], last && one.Utf8, line);
        if (k == 0 && one.Path[k] == "LostBlocks" && !disk.IsEeprom())
          Fail(line, "/LostBlocks is where the reader shows lost chunks; pick another name");
        if (k == 0 && one.Path[k] == "Deleted" && !disk.IsEeprom())
          Fail(line, "/Deleted is where the reader shows deleted files; pick another name");
        const std::vector<std::string> prefix(
            one.Path.begin(), one.Path.begin() + static_cast<std::ptrdiff_t>(k + 1));
        std::string slashed;
        for (const std::string &name : prefix) slashed += "/" + name;
        const auto found = paths.find(prefix);
        if (!last) {
          if (found == paths.end()) {
            // A folder made on the way would be live, below a dead one.
            if (belowDeleted)
              Fail(line, slashed + " is below a deleted folder: describe it first with dir " +
                             slashed + " deleted");
            paths[prefix] = {true, line};
          } else if (!found->second.first) {
            Fail(line, "/" + prefix.back() + " is a file (line " +
                           std::to_string(found->second.second) + "), not a folder");
          }
          const auto dead = deletedDirs.find(prefix);
          if (dead != deletedDirs.end()) {
            belowDeleted = true;
            if (!one.Gone())
              Fail(line, slashed + " is a deleted folder (line " + std::to_string(dead->second) +
                             "): what lies in it must be deleted too");
          }
          continue;
        }
        if (one.What == Kind::Deleted) continue;  // a deleted file lists nothing
        if (found != paths.end() && one.Deleted)
          Fail(line, t[1] + " exists already (line " + std::to_string(found->second.second) +
                         "); a deleted folder needs a path of its own");
        if (found != paths.end())
          Fail(line, t[1] + (count > 1 ? " (" + one.Path.back() + ")" : "") +
                         " exists already (line " + std::to_string(found->second.second) + ")" +
                         (found->second.first ? "; describe a folder before its contents" : ""));
        paths[prefix] = {one.What == Kind::Dir, line};
        if (one.Deleted) deletedDirs[prefix] = line;
      }
      if (one.Reuse) {
        // The new file's parts must differ from the deleted file's in name or
        // folder, or a reader takes the dead parts for an older state of it.
        if (!freed.Line)
          Fail(line, "reuse takes the part ids of the latest deleted file on " + disk.Name +
                         ", and there is none before");
        if (freed.TakenBy)
          Fail(line, "the part ids of the deleted file on line " + std::to_string(freed.Line) +
                         " are taken already (line " + std::to_string(freed.TakenBy) + ")");
        if (!freed.Erased && freed.Path == one.Path)
          Fail(line, "reuse with the name and folder of the deleted file on line " +
                         std::to_string(freed.Line) +
                         " would make it read as an older state of this one; rename one");
        one.ReuseOf = freed.Line;
        freed.TakenBy = line;
      }
      if (one.What == Kind::Deleted) freed = {line, one.Path, one.Erased, 0};
      disk.Statements.push_back(one);
    }
  }
  return description;
}

}  // namespace quarn::sample

#endif
