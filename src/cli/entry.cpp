#include "cli/entry.h"

#include <cstdio>

#include "util/civil_date.h"
#include "util/utf8.h"

namespace quarn::cli {
namespace {

constexpr int kFatReadOnly = 0x01;
constexpr int kFatHidden = 0x02;
constexpr int kFatSystem = 0x04;
constexpr int kFatDirectory = 0x10;
constexpr int kFatArchive = 0x20;

constexpr int kModeTypeMask = 0170000;
constexpr int kModeDirectory = 0040000;
constexpr int kModeWriteBits = 0222;

// `text` as a JSON string literal appended to `out`.
void AppendJsonString(std::string &out, std::string_view text) {
  out += '"';
  const auto *bytes = reinterpret_cast<const unsigned char *>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = bytes[i];
    std::size_t length = 1;
    char32_t ignored = 0;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n' || c == '\r' || c == '\t') {
      out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
    } else if (c >= 0x20 && c != 0x7F &&
               (length = DecodeUtf8(bytes + i, text.size() - i, &ignored)) > 0) {
      out.append(text.substr(i, length));
    } else {
      // A control character, or a byte of no valid UTF-8 sequence.
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
      length = 1;
    }
    i += length;
  }
  out += '"';
}

}  // namespace

DateTime DateTimeFromDos(std::uint32_t dosDateTime) {
  // The date in the high half (year since 1980, month, day), the time in the
  // low one (hours, minutes, seconds / 2).
  const auto field = [dosDateTime](int shift, std::uint32_t mask) {
    return static_cast<int>(dosDateTime >> shift & mask);
  };
  return {1980 + field(25, 0x7F), field(21, 0x0F), field(16, 0x1F),
          field(11, 0x1F),        field(5, 0x3F),  field(0, 0x1F) * 2};
}

DateTime DateTimeFromUnix(std::int64_t seconds) {
  const auto secondOfDay = static_cast<int>((seconds % 86400 + 86400) % 86400);
  const CivilDate date = CivilFromDays((seconds - secondOfDay) / 86400);
  return {static_cast<int>(date.Year), date.Month,      date.Day, secondOfDay / 3600,
          secondOfDay / 60 % 60,       secondOfDay % 60};
}

void SetAttributesFromFat(Entry &entry, int attr) {
  entry.directory = (attr & kFatDirectory) != 0;
  entry.readOnly = (attr & kFatReadOnly) != 0;
  entry.hidden = (attr & kFatHidden) != 0;
  entry.system = (attr & kFatSystem) != 0;
  entry.archive = (attr & kFatArchive) != 0;
}

void SetAttributesFromMode(Entry &entry, int mode) {
  entry.directory = (mode & kModeTypeMask) == kModeDirectory;
  entry.readOnly = (mode & kModeWriteBits) == 0;
  entry.hidden = entry.system = entry.archive = false;
}

Entry EntryFromHeader(const tHeaderDataExW &header) {
  Entry entry;
  std::u16string_view name(reinterpret_cast<const char16_t *>(header.FileName),
                           std::size(header.FileName));
  entry.path = Utf8FromUtf16(name.substr(0, name.find(u'\0')));
  entry.size = static_cast<std::uint64_t>(header.UnpSizeHigh) << 32 | header.UnpSize;
  entry.rawAttr = header.FileAttr;
#ifdef _WIN32
  entry.time = DateTimeFromDos(static_cast<std::uint32_t>(header.FileTime));
  entry.timeValid = IsValidDosDateTime(static_cast<std::uint16_t>(header.FileTime >> 16),
                                       static_cast<std::uint16_t>(header.FileTime));
  SetAttributesFromFat(entry, header.FileAttr);
#else
  // The plugin gives 0 for a DOS date and time that name no moment; a valid
  // one is 1980 or later.
  entry.time = DateTimeFromUnix(header.FileTime);
  entry.timeValid = header.FileTime != 0;
  SetAttributesFromMode(entry, header.FileAttr);
#endif
  return entry;
}

std::string FormatDateTime(const DateTime &time, char separator) {
  const auto fits = [](int value, int limit) { return value >= 0 && value < limit; };
  if (!fits(time.year, 10000) || !fits(time.month, 100) || !fits(time.day, 100) ||
      !fits(time.hour, 100) || !fits(time.minute, 100) || !fits(time.second, 100)) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d", time.year, time.month,
                  time.day, separator, time.hour, time.minute, time.second);
    return text;
  }
  // The common case without printf: a listing formats one for every entry.
  std::string text = "0000-00-00 00:00:00";
  text[10] = separator;
  const auto put = [&text](std::size_t end, int value) {
    for (std::size_t i = end; value > 0; value /= 10)
      text[--i] = static_cast<char>('0' + value % 10);
  };
  put(4, time.year);
  put(7, time.month);
  put(10, time.day);
  put(13, time.hour);
  put(16, time.minute);
  put(19, time.second);
  return text;
}

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
  return text;
}

std::string EntryDateTime(const Entry &entry) {
  return entry.timeValid ? FormatDateTime(entry.time) : std::string(19, ' ');
}

std::string DisplayPath(std::string_view path) {
  std::string text(path);
  for (char &c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text;
}

std::string AttributeString(const Entry &entry) {
  std::string text = ".....";
  if (entry.directory) text[0] = 'D';
  if (entry.readOnly) text[1] = 'R';
  if (entry.hidden) text[2] = 'H';
  if (entry.system) text[3] = 'S';
  if (entry.archive) text[4] = 'A';
  return text;
}

std::string JsonString(std::string_view text) {
  std::string out;
  AppendJsonString(out, text);
  return out;
}

void JsonWriter::Separate() {
  if (afterKey_) {
    afterKey_ = false;
  } else {
    if (!first_) out_ += ',';
    first_ = false;
  }
}

JsonWriter &JsonWriter::Open(char bracket) {
  Separate();
  out_ += bracket;
  open_ += bracket;
  first_ = true;
  return *this;
}

JsonWriter &JsonWriter::End() {
  out_ += open_.back() == '{' ? '}' : ']';
  open_.pop_back();
  first_ = false;
  return *this;
}

JsonWriter &JsonWriter::Key(std::string_view name) {
  Separate();
  AppendJsonString(out_, name);
  out_ += ':';
  afterKey_ = true;
  return *this;
}

JsonWriter &JsonWriter::String(std::string_view text) {
  Separate();
  AppendJsonString(out_, text);
  return *this;
}

JsonWriter &JsonWriter::Literal(std::string_view text) {
  Separate();
  out_ += text;
  return *this;
}

void AppendEntryJson(std::string &out, const Entry &entry, const TEntryFacts *facts) {
  JsonWriter json(out);
  json.Object().Key("path").String(entry.path).Key("size").Number(entry.size);
  json.Key("time");
  if (entry.timeValid)
    json.String(FormatDateTime(entry.time, 'T'));
  else
    json.Null();
  json.Key("attr").String(AttributeString(entry)).Key("raw_attr").Number(entry.rawAttr);
  json.Key("dir").Bool(entry.directory);
  if (facts != nullptr) {
    json.Key("disk");
    if (facts->Disk >= 0)
      json.String(facts->DiskName);  // printable ASCII, as every disk name
    else
      json.Null();
    json.Key("ids").Array();
    for (const std::uint32_t id : facts->Ids) json.Number(id);
    json.End().Key("extents");
    if (facts->Generated) {
      json.Null();
    } else {
      json.Array();
      for (const TDumpRange &extent : facts->Extents)
        json.Array().Number(extent.Offset).Number(extent.Length).End();
      json.End();
    }
    json.Key("complete").Bool(facts->Problem.empty());
    if (facts->Deleted) json.Key("deleted").Bool(true);
  }
  json.End();
}

}  // namespace quarn::cli
