#include "cli/entry.h"

#include <cstdio>
#include <cstring>

#include "cli/os.h"
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

// The calendar date of a count of days since 1970-01-01.
void CivilFromDays(std::int64_t days, DateTime &out) {
  const CivilDate date = quarn::CivilFromDays(days);
  out.year = static_cast<int>(date.Year);
  out.month = date.Month;
  out.day = date.Day;
}

// Length of the valid UTF-8 sequence at text[0], or 0 if it is not one.
std::size_t Utf8SequenceLength(std::string_view text) {
  char32_t ignored = 0;
  return DecodeUtf8(reinterpret_cast<const unsigned char *>(text.data()), text.size(), &ignored);
}

}  // namespace

DateTime DateTimeFromDos(std::uint32_t dosDateTime) {
  const std::uint32_t date = dosDateTime >> 16;
  const std::uint32_t time = dosDateTime & 0xFFFF;
  DateTime result;
  result.year = 1980 + static_cast<int>(date >> 9);
  result.month = static_cast<int>((date >> 5) & 0x0F);
  result.day = static_cast<int>(date & 0x1F);
  result.hour = static_cast<int>(time >> 11);
  result.minute = static_cast<int>((time >> 5) & 0x3F);
  result.second = static_cast<int>((time & 0x1F) * 2);
  return result;
}

DateTime DateTimeFromUnix(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t secondOfDay = seconds % 86400;
  if (secondOfDay < 0) {
    secondOfDay += 86400;
    --days;
  }
  DateTime result;
  CivilFromDays(days, result);
  result.hour = static_cast<int>(secondOfDay / 3600);
  result.minute = static_cast<int>(secondOfDay / 60 % 60);
  result.second = static_cast<int>(secondOfDay % 60);
  return result;
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
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d", time.year, time.month,
                time.day, separator, time.hour, time.minute, time.second);
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

void AppendJsonString(std::string &out, std::string_view text) {
  out += '"';
  char escape[8];
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c == '\n') {
      out += "\\n", ++i;
    } else if (c == '\r') {
      out += "\\r", ++i;
    } else if (c == '\t') {
      out += "\\t", ++i;
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
      ++i;
    } else if (const std::size_t length = Utf8SequenceLength(text.substr(i)); length > 0) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
      ++i;
    }
  }
  out += '"';
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
