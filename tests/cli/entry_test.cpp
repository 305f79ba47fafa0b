#include "cli/entry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

namespace quarn::cli {
namespace {

constexpr std::uint32_t Dos(int year, int month, int day, int hour, int minute, int second) {
  const auto date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const auto time = static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return date << 16 | time;
}

TEST(EntryTimeTest, DosAndUnixFormsOfOneMomentPrintAlike) {
  // 2005-03-01 12:00:00 UTC.
  EXPECT_EQ(FormatDateTime(DateTimeFromDos(Dos(2005, 3, 1, 12, 0, 0))), "2005-03-01 12:00:00");
  EXPECT_EQ(FormatDateTime(DateTimeFromUnix(1109678400)), "2005-03-01 12:00:00");
  EXPECT_EQ(FormatDateTime(DateTimeFromUnix(1109678400), 'T'), "2005-03-01T12:00:00");
}

TEST(EntryTimeTest, CalendarEdges) {
  EXPECT_EQ(FormatDateTime(DateTimeFromUnix(0)), "1970-01-01 00:00:00");
  EXPECT_EQ(FormatDateTime(DateTimeFromUnix(0x7FFFFFFF)), "2038-01-19 03:14:07");
  EXPECT_EQ(FormatDateTime(DateTimeFromUnix(951782400)), "2000-02-29 00:00:00");
  EXPECT_EQ(FormatDateTime(DateTimeFromUnix(-1)), "1969-12-31 23:59:59");
  EXPECT_EQ(FormatDateTime(DateTimeFromDos(Dos(2107, 12, 31, 23, 59, 58))), "2107-12-31 23:59:58");
  // Fields that make no date are shown as they are.
  EXPECT_EQ(FormatDateTime(DateTimeFromDos(0)), "1980-00-00 00:00:00");
}

void SetName(tHeaderDataExW &header, std::u16string_view name) {
  std::copy(name.begin(), name.end(), header.FileName);
}

TEST(EntryTimeTest, AnEntryWithoutAValidDateShowsNone) {
  tHeaderDataExW header{};
  SetName(header, u"EELITE");
#ifdef _WIN32
  header.FileTime = 0;  // month 0: no date
  header.FileAttr = 0x10;
#else
  header.FileTime = 0;  // what the plugin gives for an invalid DOS date
  header.FileAttr = 040755;
#endif
  const Entry entry = EntryFromHeader(header);
  EXPECT_FALSE(entry.timeValid);
  EXPECT_EQ(EntryDateTime(entry), std::string(19, ' '));
  std::string json;
  AppendEntryJson(json, entry);
  EXPECT_EQ(json, "{\"path\":\"EELITE\",\"size\":0,\"time\":null,\"attr\":\"D....\",\"raw_attr\":" +
                      std::to_string(header.FileAttr) + ",\"dir\":true}");
}

TEST(EntryAttributeTest, FatBitsAndUnixModes) {
  Entry entry;
  SetAttributesFromFat(entry, 0x10);
  EXPECT_EQ(AttributeString(entry), "D....");
  SetAttributesFromFat(entry, 0x27);
  EXPECT_EQ(AttributeString(entry), ".RHSA");
  SetAttributesFromFat(entry, 0x04);
  EXPECT_EQ(AttributeString(entry), "...S.");
  SetAttributesFromMode(entry, 040755);
  EXPECT_EQ(AttributeString(entry), "D....");
  SetAttributesFromMode(entry, 0100644);
  EXPECT_EQ(AttributeString(entry), ".....");
  SetAttributesFromMode(entry, 0100444);
  EXPECT_EQ(AttributeString(entry), ".R...");
  SetAttributesFromMode(entry, 040555);
  EXPECT_EQ(AttributeString(entry), "DR...");
}

TEST(EntryHeaderTest, DecodesThisPlatformsRecord) {
  tHeaderDataExW header{};
  SetName(header, u"FFS/\u00c4\u20ac\U0001F600.BIN");
  header.PackSize = header.UnpSize = 0x20000;
  header.UnpSizeHigh = 1;
#ifdef _WIN32
  header.FileTime = static_cast<int>(Dos(2005, 3, 1, 12, 0, 0));
  header.FileAttr = 0x04;
  const char *attr = "...S.";
#else
  header.FileTime = 1109678400;
  header.FileAttr = 0100644;
  const char *attr = ".....";
#endif
  const Entry entry = EntryFromHeader(header);
  EXPECT_EQ(entry.path, "FFS/\xc3\x84\xe2\x82\xac\xf0\x9f\x98\x80.BIN");
  EXPECT_EQ(entry.size, 0x100020000u);
  EXPECT_FALSE(entry.directory);
  EXPECT_EQ(FormatDateTime(entry.time), "2005-03-01 12:00:00");
  EXPECT_EQ(AttributeString(entry), attr);
}

TEST(EntryHeaderTest, FileNameWithoutTerminatorStaysInsideTheField) {
  tHeaderDataExW header{};
  std::fill(std::begin(header.FileName), std::end(header.FileName), u'x');
  EXPECT_EQ(EntryFromHeader(header).path.size(), std::size(header.FileName));
}

TEST(JsonStringTest, EscapesWhatJsonRequires) {
  EXPECT_EQ(JsonString("plain"), "\"plain\"");
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString("\n\r\t\x01\x1f\x7f"), "\"\\n\\r\\t\\u0001\\u001f\\u007f\"");
  EXPECT_EQ(JsonString(std::string_view("a\0b", 3)), "\"a\\u0000b\"");
}

TEST(JsonStringTest, KeepsValidUtf8AndEscapesOtherBytesAsLatin1) {
  EXPECT_EQ(JsonString("K\xc3\xa4se \xe2\x82\xac \xf0\x9f\x93\xb1"),
            "\"K\xc3\xa4se \xe2\x82\xac \xf0\x9f\x93\xb1\"");
  EXPECT_EQ(JsonString("K\xe4se"), "\"K\\u00e4se\"");                             // Latin-1 byte
  EXPECT_EQ(JsonString("\xc3"), "\"\\u00c3\"");                                   // cut short
  EXPECT_EQ(JsonString("\xc0\x80"), "\"\\u00c0\\u0080\"");                        // overlong NUL
  EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"");             // surrogate
  EXPECT_EQ(JsonString("\xf4\x90\x80\x80"), "\"\\u00f4\\u0090\\u0080\\u0080\"");  // > U+10FFFF
  EXPECT_EQ(JsonString("\xe2\x82"), "\"\\u00e2\\u0082\"");
}

TEST(JsonStringTest, EntryLine) {
  Entry entry;
  entry.path = "FFS/a \"b\".txt";
  entry.size = 5;
  entry.time = DateTimeFromUnix(1109678400);
  entry.rawAttr = 0100444;
  SetAttributesFromMode(entry, entry.rawAttr);
  std::string json;
  AppendEntryJson(json, entry);
  EXPECT_EQ(json,
            "{\"path\":\"FFS/a \\\"b\\\".txt\",\"size\":5,\"time\":\"2005-03-01T12:00:00\","
            "\"attr\":\".R...\",\"raw_attr\":33060,\"dir\":false}");

  // With where it lies.
  TEntryFacts facts;
  facts.Disk = 1;
  facts.DiskName = "EELITE";
  facts.Ids = {12};
  facts.Generated = true;
  json.clear();
  AppendEntryJson(json, entry, &facts);
  EXPECT_TRUE(json.ends_with(
      ",\"dir\":false,\"disk\":\"EELITE\",\"ids\":[12],\"extents\":null,\"complete\":true}"))
      << json;

  facts.Generated = false;
  facts.Disk = -1;
  facts.Ids = {4, 8, 6};
  facts.Extents = {{0x100000, 1000}, {0x110000, 0}, {4294967295u, 7}};
  facts.Problem = "incomplete: the chain ends at a missing part";
  json.clear();
  AppendEntryJson(json, entry, &facts);
  EXPECT_TRUE(
      json.ends_with(",\"disk\":null,\"ids\":[4,8,6],\"extents\":[[1048576,1000],"
                     "[1114112,0],[4294967295,7]],\"complete\":false}"))
      << json;
}

}  // namespace
}  // namespace quarn::cli
