// The data of a sample's description, and the readers of its single values: numbers, dates, names.
#ifndef QUARN_TOOLS_SAMPLE_DESCRIPTION_VALUES_H
#define QUARN_TOOLS_SAMPLE_DESCRIPTION_VALUES_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
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
  bool Deleted = false;           // Dir: the folder is written, then deleted
  bool Reuse = false;             // File: its parts take the ids the deletion on ReuseOf freed
  bool Rewritten = false;         // File: first written with other content, which is deleted
  bool Erased = false;            // Deleted: the block that held it is erased afterwards
  int ReuseOf = 0;                // Reuse: the line of the deleted file whose ids it takes
  std::uint16_t Date = kDefaultDate;
  std::uint16_t Time = kDefaultTime;
  std::uint16_t Attr = 0;
  Range Id;   // Eeprom, Lost
  Range Ver;  // Eeprom

  // Written and deleted: its descriptors end up dead.
  bool Gone() const { return What == Kind::Deleted || (What == Kind::Dir && Deleted); }
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

}  // namespace detail
}  // namespace quarn::sample

#endif
