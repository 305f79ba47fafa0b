// One listed entry as the command sees it, decoded from the host record that
// ReadHeaderExW fills, and the ways the command writes it out.
#ifndef QUARN_CLI_ENTRY_H
#define QUARN_CLI_ENTRY_H

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "plugin/inspect.h"
#include "wcxhead.h"

namespace quarn::cli {

// A calendar date and time of day, as the entry carries it (no time zone).
struct DateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  // NOLINTNEXTLINE(modernize-use-nullptr): clang-tidy 14 misreads a defaulted <=>
  auto operator<=>(const DateTime &) const = default;
};

struct Entry {
  std::string path;  // FileName in UTF-8, with the host's separator
  std::uint64_t size = 0;
  DateTime time;
  bool timeValid = true;  // the dump gave the entry a valid date and time
  int rawAttr = 0;        // FileAttr as the exports give it on this platform
  bool directory = false;
  bool readOnly = false;
  bool hidden = false;
  bool system = false;
  bool archive = false;
};

// The exports' FileTime on Windows: (DOS date << 16) | DOS time. The fields
// are taken as they are, even when they make no valid date.
DateTime DateTimeFromDos(std::uint32_t dosDateTime);
// The exports' FileTime on Linux: seconds since 1970 in UTC.
DateTime DateTimeFromUnix(std::int64_t seconds);

// FileAttr on Windows: FAT attribute bits.
void SetAttributesFromFat(Entry &entry, int attr);
// FileAttr on Linux: a Unix st_mode; read-only is a file without write bits.
// Hidden, system and archive have no counterpart there.
void SetAttributesFromMode(Entry &entry, int mode);

// Decodes ReadHeaderExW's record with this platform's conventions.
Entry EntryFromHeader(const tHeaderDataExW &header);

// "2005-03-01 12:00:00", or with 'T' as the separator "2005-03-01T12:00:00".
std::string FormatDateTime(const DateTime &time, char separator = ' ');
// "0x0012ABCD": at least eight hex digits, as offsets and addresses are shown.
std::string Hex(std::uint64_t value);
// The entry's date and time for a table: as above, or blank (as wide) when
// the dump gave it none.
std::string EntryDateTime(const Entry &entry);
// The path for a terminal: control characters become '?'.
std::string DisplayPath(std::string_view path);
// Five columns like 7-Zip's: D(irectory) R(ead-only) H(idden) S(ystem)
// A(rchive), '.' for a bit that is not set, e.g. "D....", "...S.".
std::string AttributeString(const Entry &entry);
// JSON text appended to a string; the writer puts the commas between the
// members of an object and the elements of an array. Numbers are integers.
class JsonWriter {
 public:
  explicit JsonWriter(std::string &out) : out_(out) {}
  JsonWriter &Object() { return Open('{'); }
  JsonWriter &Array() { return Open('['); }
  JsonWriter &End();  // of the innermost object or array
  JsonWriter &Key(std::string_view name);
  JsonWriter &String(std::string_view text);  // as JsonString writes it
  JsonWriter &Bool(bool value) { return Literal(value ? "true" : "false"); }
  JsonWriter &Null() { return Literal("null"); }
  template <typename Integer>
  JsonWriter &Number(Integer value) {
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
    return Literal({digits, static_cast<std::size_t>(end.ptr - digits)});
  }

 private:
  JsonWriter &Open(char bracket);
  JsonWriter &Literal(std::string_view text);
  void Separate();

  std::string &out_;
  std::string open_;       // the brackets not closed yet, innermost last
  bool first_ = true;      // nothing written yet in the innermost one
  bool afterKey_ = false;  // a key waits for its value
};

// A JSON string literal, quotes included. `text` is UTF-8 as far as it is
// valid; every byte that is not part of a valid UTF-8 sequence is written as
// \u00XX, i.e. read as Latin-1, so the result is always valid JSON.
std::string JsonString(std::string_view text);
// One line of JSON for the entry, without the newline, appended to `out`:
// {"path":...,"size":N,"time":"..."|null,"attr":"D....","raw_attr":N,"dir":true}
// With `facts`, followed by where the entry lies:
// ,"disk":"FFS","ids":[N,...],"extents":[[offset,length],...]|null,"complete":true
void AppendEntryJson(std::string &out, const Entry &entry, const TEntryFacts *facts = nullptr);

}  // namespace quarn::cli

#endif
