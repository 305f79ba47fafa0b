// The description of a sample dump: a small text format, one statement a
// line, read by make-sample and by its tests.
//
//   # A comment runs from '#' to the end of the line.
//   seed 7                              content seed (default 1)
//   firmware size=8M                    pseudo-random bytes after the partition table
//   disk FFS blocks=96 blocksize=64k [at=ADDR] [shuffle] [noroot]
//   dir /Pictures [date=2024-05-01] [time=09:00:00] [attr=0x10]
//   file /Pictures/photo.jpg size=40000 [part=4000] [spread] [text] [utf8]
//        [count=N] [date=...] [time=...] [attr=0x20]
//   deleted /Misc/old.log size=5000 [part=1000]
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
#ifndef QUARN_TOOLS_SAMPLE_DESCRIPTION_H
#define QUARN_TOOLS_SAMPLE_DESCRIPTION_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quarn::sample {

// A bad description; what() names the line.
class DescriptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Range {
  std::uint64_t Low = 0;
  std::uint64_t High = 0;
};

constexpr std::uint16_t kDefaultDate = (44 << 9) | (6 << 5) | 15;   // 2024-06-15
constexpr std::uint16_t kDefaultTime = (10 << 11) | (30 << 5) | 6;  // 10:30:12

enum class Kind { Dir, File, Deleted, Dead, Eeprom, Lost, Orphan };

// One statement below a disk. A `file` with count=N is stored as N
// statements, each with its own path and Index.
struct Statement {
  int Line = 0;
  Kind What = Kind::File;
  std::vector<std::string> Path;  // components below the disk's root; Orphan: the name
  int Index = 0;                  // which of a count=N run
  Range Size;                     // content bytes (EEPROM: payload bytes)
  std::uint32_t Part = 0;         // content bytes a part; 0: all in one part
  std::uint32_t Count = 1;        // Dead: slots
  bool Spread = false;            // every part in the next block
  bool Text = false;              // readable text instead of binary content
  bool Utf8 = false;              // store the name as UTF-8 even when it is ASCII
  std::uint16_t Date = kDefaultDate;
  std::uint16_t Time = kDefaultTime;
  std::uint16_t Attr = 0;
  Range Id;   // Eeprom, Lost
  Range Ver;  // Eeprom
};

struct DiskDescription {
  int Line = 0;
  std::string Name;
  std::uint32_t Blocks = 0;
  std::uint32_t BlockSize = 0;
  std::optional<std::uint32_t> At;  // image offset of the first block
  bool Shuffle = false;             // block table in a scrambled order
  bool NoRoot = false;              // no root directory part
  std::vector<Statement> Statements;

  bool IsEepromLite() const { return Name == "EELITE"; }
  bool IsEepromFull() const { return Name == "EEFULL"; }
  bool IsEeprom() const { return IsEepromLite() || IsEepromFull(); }
};

struct Description {
  std::uint64_t Seed = 1;
  std::uint32_t Firmware = 0;
  std::vector<DiskDescription> Disks;
};

// Limits of the dump: the partition scan takes at most 256 disks and 65,536
// blocks; a block is a multiple of 4 KiB of at most 0xFFF000 bytes.
constexpr std::uint32_t kMaxDisks = 256;
constexpr std::uint32_t kMaxBlocks = 65536;
constexpr std::uint32_t kMaxBlockSize = 0xFFF000;
constexpr std::size_t kMaxNameBytes = 255;

namespace detail {

[[noreturn]] inline void Fail(int line, const std::string &message) {
  throw DescriptionError("line " + std::to_string(line) + ": " + message);
}

// Splits a line at blanks; "..." keeps blanks inside one token.
inline std::vector<std::string> Tokens(const std::string &line, int number) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
      ++i;
    } else if (line[i] == '#') {
      break;
    } else if (line[i] == '"') {
      const std::size_t end = line.find('"', i + 1);
      if (end == std::string::npos) Fail(number, "a quote is not closed");
      tokens.push_back(line.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      std::size_t end = i;
      while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') ++end;
      tokens.push_back(line.substr(i, end - i));
      i = end;
    }
  }
  return tokens;
}

// 123, 0x7B, 64k, 2M.
inline std::uint64_t Number(const std::string &text, int line, const std::string &key) {
  std::string digits = text;
  std::uint64_t unit = 1;
  if (!digits.empty() && (digits.back() == 'k' || digits.back() == 'K')) unit = 1024;
  if (!digits.empty() && (digits.back() == 'm' || digits.back() == 'M')) unit = 1024 * 1024;
  if (unit != 1) digits.pop_back();
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
    base = 16;
  }
  std::uint64_t value = 0;
  bool any = false;
  for (const char c : digits) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      Fail(line, key + "=" + text + " is not a number");
    }
    if (value > (0xFFFFFFFFull << 8)) Fail(line, key + "=" + text + " is too large");
    value = value * base + digit;
    any = true;
  }
  if (!any) Fail(line, key + "=" + text + " is not a number");
  if (value > 0xFFFFFFFFull) Fail(line, key + "=" + text + " is too large");
  value *= unit;
  if (value > 0xFFFFFFFFull) Fail(line, key + "=" + text + " is too large");
  return value;
}

// A number or a range A-B.
inline Range NumberRange(const std::string &text, int line, const std::string &key) {
  const std::size_t dash = text.find('-');
  if (dash == std::string::npos) {
    const std::uint64_t v = Number(text, line, key);
    return {v, v};
  }
  const Range r{Number(text.substr(0, dash), line, key), Number(text.substr(dash + 1), line, key)};
  if (r.Low > r.High) Fail(line, key + "=" + text + ": the range runs backwards");
  return r;
}

inline bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// YYYY-MM-DD as a DOS date.
inline std::uint16_t DosDate(const std::string &text, int line) {
  int y = 0, m = 0, d = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3 || text.size() != 10)
    Fail(line, "date=" + text + " is not YYYY-MM-DD");
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1980 || y > 2107) Fail(line, "date=" + text + ": a DOS date holds 1980 to 2107");
  if (m < 1 || m > 12 || d < 1 || d > kDays[m - 1] + (m == 2 && IsLeap(y) ? 1 : 0))
    Fail(line, "date=" + text + " is no day of the calendar");
  return static_cast<std::uint16_t>(((y - 1980) << 9) | (m << 5) | d);
}

// HH:MM:SS as a DOS time, which counts seconds in twos.
inline std::uint16_t DosTime(const std::string &text, int line) {
  int h = 0, m = 0, s = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%2d:%2d:%2d%c", &h, &m, &s, &tail) != 3 || text.size() != 8)
    Fail(line, "time=" + text + " is not HH:MM:SS");
  if (h > 23 || m > 59 || s > 59) Fail(line, "time=" + text + " is no time of day");
  if (s % 2 != 0) Fail(line, "time=" + text + ": a DOS time holds even seconds only");
  return static_cast<std::uint16_t>((h << 11) | (m << 5) | (s / 2));
}

// A name must survive the trip through the flash file system and back
// unchanged: UTF-8 of one to three bytes a character (the file system knows
// no four-byte form), no control characters, no "." or "..".
inline void CheckName(const std::string &name, bool utf8, int line) {
  if (name.empty()) Fail(line, "a path has an empty name in it");
  if (name == "." || name == "..") Fail(line, "\"" + name + "\" cannot be a name");
  bool ascii = true;
  for (std::size_t i = 0; i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7F) Fail(line, "name \"" + name + "\" holds a control character");
    if (c == '\\') Fail(line, "name \"" + name + "\": a backslash separates folders on Windows");
    if (c < 0x80) {
      ++i;
      continue;
    }
    ascii = false;
    std::size_t length;
    std::uint32_t code;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      Fail(line, "name \"" + name + "\": characters above U+FFFF cannot be stored");
    } else {
      Fail(line, "name \"" + name + "\" is not UTF-8");
    }
    if (i + length > name.size()) Fail(line, "name \"" + name + "\" is not UTF-8");
    for (std::size_t k = 1; k < length; ++k) {
      const auto follow = static_cast<unsigned char>(name[i + k]);
      if ((follow & 0xC0) != 0x80) Fail(line, "name \"" + name + "\" is not UTF-8");
      code = (code << 6) | (follow & 0x3F);
    }
    if ((length == 3 && code < 0x800) || (code >= 0xD800 && code <= 0xDFFF))
      Fail(line, "name \"" + name + "\" is not UTF-8");
    i += length;
  }
  const std::size_t stored = name.size() + (ascii && !utf8 ? 0 : 1);
  if (stored > kMaxNameBytes)
    Fail(line, "name \"" + name.substr(0, 20) + "...\" takes " + std::to_string(stored) +
                   " bytes on flash; at most 255 fit");
}

inline std::vector<std::string> SplitPath(const std::string &path, int line) {
  if (path.empty() || path[0] != '/') Fail(line, "path \"" + path + "\" must begin with /");
  std::vector<std::string> parts;
  std::size_t i = 1;
  while (i <= path.size()) {
    const std::size_t end = std::min(path.find('/', i), path.size());
    parts.push_back(path.substr(i, end - i));
    i = end + 1;
  }
  if (parts.size() == 1 && parts[0].empty()) Fail(line, "path \"/\" names the root, not an entry");
  return parts;
}

// The last run of '#' in a name, replaced by the number zero-padded to the
// run's length: "img###.jpg" and 7 give "img007.jpg".
inline std::string Numbered(const std::string &name, std::uint32_t number) {
  const std::size_t last = name.rfind('#');
  std::size_t first = last;
  while (first > 0 && name[first - 1] == '#') --first;
  std::string digits = std::to_string(number);
  const std::size_t width = last - first + 1;
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return name.substr(0, first) + digits + name.substr(last + 1);
}

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
  // Per disk: every path made so far, true for a folder, and the line that made it.
  std::map<std::vector<std::string>, std::pair<bool, int>> paths;
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
    if (s.What == Kind::Dir) keys = {"date", "time", "attr"}, flags = {"utf8"};
    if (s.What == Kind::File) keys.insert("count");
    const Options o = ReadOptions(t, 2, keyword, keys, flags, line);
    if (s.What != Kind::Dir) Require(o, "size", keyword, line);
    ReadTimes(o, s, line);
    s.Text = o.Flags.count("text") != 0;
    s.Utf8 = o.Flags.count("utf8") != 0;
    s.Spread = o.Flags.count("spread") != 0;
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
      for (std::size_t k = 0; k < one.Path.size(); ++k) {
        const bool last = k + 1 == one.Path.size();
        CheckName(one.Path[k], last && one.Utf8, line);
        if (k == 0 && one.Path[k] == "LostBlocks" && !disk.IsEeprom())
          Fail(line, "/LostBlocks is where the reader shows lost chunks; pick another name");
        const std::vector<std::string> prefix(
            one.Path.begin(), one.Path.begin() + static_cast<std::ptrdiff_t>(k + 1));
        const auto found = paths.find(prefix);
        if (!last) {
          if (found == paths.end()) {
            paths[prefix] = {true, line};
          } else if (!found->second.first) {
            Fail(line, "/" + prefix.back() + " is a file (line " +
                           std::to_string(found->second.second) + "), not a folder");
          }
          continue;
        }
        if (one.What == Kind::Deleted) continue;  // a deleted file lists nothing
        if (found != paths.end())
          Fail(line, t[1] + (count > 1 ? " (" + one.Path.back() + ")" : "") +
                         " exists already (line " + std::to_string(found->second.second) + ")" +
                         (found->second.first ? "; describe a folder before its contents" : ""));
        paths[prefix] = {one.What == Kind::Dir, line};
      }
      disk.Statements.push_back(one);
    }
  }
  return description;
}

}  // namespace quarn::sample

#endif
