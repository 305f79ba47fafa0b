// Entry names: raw and UTF-8 part names, the 255-byte cut, and names that
// could lead a host out of its target folder.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "entries/listing_path.h"
#include "entries/sie_file.h"
#include "ffs/flash_fs.h"
#include "ffs_builder.h"
#include "platform/platform.h"
#include "plugin/quarn.h"
#include "test_files.h"

namespace quarn::testing {
namespace {

std::string Decode(const std::string &bytes, bool cut = false) {
  return DecodePartName(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size(), cut);
}

// U+00E9 in the host's narrow code page.
std::string EAcute() {
#ifdef _WIN32
  if (GetACP() != 1252) return std::string();
  return "\xE9";
#else
  return "\xC3\xA9";
#endif
}

TEST(PartNameTest, RawAndUtf8Names) {
  EXPECT_EQ(Decode("plain.txt"), "plain.txt");
  EXPECT_EQ(Decode("\xE4\xF6\xFC"), "\xE4\xF6\xFC");  // raw bytes stay raw
  // Nothing stored, or the mark alone: what was stored, never empty.
  EXPECT_EQ(Decode(""), "%00");
  EXPECT_EQ(Decode("\x1F"), "%1F");
  EXPECT_EQ(Decode("\x1F"
                   "caf"),
            "caf");
  if (!EAcute().empty()) {
    EXPECT_EQ(Decode("\x1F\xC3\xA9"), EAcute());
    // Overlong and lead bytes the phone writes are read leniently.
    EXPECT_EQ(Decode("\x1F\xE0\x83\xA9"), EAcute());
  }
  // A sequence cut short, or a following byte outside 0x80..0xBF: its
  // bytes as %XX, the characters around it kept.
  EXPECT_EQ(Decode("\x1F"
                   "ab\xC3"),
            "ab%C3");
  EXPECT_EQ(Decode("\x1F\xC3\x41"), "%C3A");
  EXPECT_EQ(Decode("\x1F\xE2\x82"), "%E2%82");
  EXPECT_EQ(Decode("\x1F\xE2\x82x\xFF\xFF"), "%E2%82x%FF%FF");
  // An overlong character 0 ends the name where a host would end it; a
  // name it ends at once shows its stored bytes.
  EXPECT_EQ(Decode("\x1F"
                   "a\xC0\x80"
                   "b"),
            "a");
  EXPECT_EQ(Decode("\x1F\xC0\x80"), "%1F%C0%80");
#ifndef _WIN32
  EXPECT_EQ(Decode("\x1F\xE2\x82\xAC"), "\xE2\x82\xAC");
  // A lone surrogate cannot be written in UTF-8: the replacement character.
  EXPECT_EQ(Decode("\x1F\xED\xA0\x80"), "\xEF\xBF\xBD");
#endif
}

TEST(PartNameTest, TheCutOfALongNameKeepsWholeCharacters) {
  // 255 bytes taken from a longer valid name: the last character straddles
  // the cut and is dropped, the rest stays.
  const std::string name = "\x1F" + std::string(253, 'a') + "\xC3";
  EXPECT_EQ(Decode(name, true), std::string(253, 'a'));
  // The same bytes as a whole name, ended by its NUL: the broken byte would
  // show, but no part of its %XX fits.
  EXPECT_EQ(Decode(name, false), std::string(253, 'a'));
  EXPECT_EQ(Decode("\x1F" + std::string(251, 'a') + "\xFF\xFF"), std::string(251, 'a') + "%FF");
  // A raw name is cut to 255 bytes as it stands.
  EXPECT_EQ(Decode(std::string(300, 'r')).size(), 255u);
}

TEST(PartNameTest, DotPiecesAreEscaped) {
  EXPECT_EQ(EscapeDotPieces("."), "%2E");
  EXPECT_EQ(EscapeDotPieces(".."), "%2E%2E");
  EXPECT_EQ(EscapeDotPieces("..\\..\\evil"), "%2E%2E\\%2E%2E\\evil");
  EXPECT_EQ(EscapeDotPieces("a\\.\\b"), "a\\%2E\\b");
  EXPECT_EQ(EscapeDotPieces("../x"), "%2E%2E/x");
  EXPECT_EQ(EscapeDotPieces("x\\.."), "x\\%2E%2E");
  for (const char *kept : {"...", ".hidden", "a..", "..a", "a.b", "", "\\", "a\\\\b"})
    EXPECT_EQ(EscapeDotPieces(kept), kept);
  EXPECT_EQ(EscapeDotPieces(std::string(200, '.') + "\\..\\" + std::string(100, 'x')).size(), 255u);
}

// Names as they reach the listing, through a dump.
class NamesInADumpTest : public ::testing::Test {
 protected:
  std::vector<std::string> Names(const std::vector<std::string> &names,
                                 const std::string &diskName = "FFS") {
    DumpBuilder dump(0x200000);
    dump.Disk(0x100, diskName, 0x1000, 0x2000, {{At(0x100000), 0x10000}}, false);
    FlashBlock block(dump, 0x100000, 0x10000);
    block.Part({.Id = 2, .ParentId = 2, .Attr = 0x10, .Name = "root's own"});
    std::uint16_t id = 4;
    for (const std::string &name : names) {
      block.Part({.Id = id, .ParentId = 2, .Name = name});
      id = static_cast<std::uint16_t>(id + 2);
    }
    const std::string path = dir_.File("names.bin");
    dump.Save(path);
    tOpenArchiveData data{};
    data.ArcName = const_cast<char *>(path.c_str());
    TQuarn archive(&data);
    std::vector<std::string> result;
    for (const TSieFile *e : *archive.Disks()[0]->Entries()) result.push_back(e->Name);
    return result;
  }
  TempDir dir_;
};

TEST_F(NamesInADumpTest, QuestionMarksDotsAndLongNames) {
  EXPECT_EQ(Names({"????", "???", "?????", "a???", "\x1F????"}),
            (std::vector<std::string>{"FFS", "%3F%3F%3F%3F", "???", "?????", "a???",
                                      "%3F%3F%3F%3F (2)"}));
  // Dots stored raw, or decoded from overlong UTF-8 forms of '.' and '\'.
  EXPECT_EQ(Names({"..", ".", "\x1F\xC0\xAE\xC0\xAE",
                   "\x1F\xC0\xAE\xC0\xAE\xC1\x9C"
                   "x"}),
            (std::vector<std::string>{"FFS", "%2E%2E", "%2E", "%2E%2E (2)", "%2E%2E\\x"}));
  // 300 bytes of name: the first 255; a valid UTF-8 name cut inside its
  // last character keeps the characters before it.
  const std::string utf8 = "\x1F" + std::string(253, 'u') + "\xC3\xA9" + "tail";
  const std::vector<std::string> longNames = Names({std::string(300, 'n'), utf8});
  EXPECT_EQ(longNames[1], std::string(255, 'n'));
  EXPECT_EQ(longNames[2], std::string(253, 'u'));
  // The root is named after its disk, and its name is never "????"-tested.
  EXPECT_EQ(Names({}, "????")[0], "????");
  EXPECT_EQ(Names({}, "..")[0], "%2E%2E");
}

}  // namespace
}  // namespace quarn::testing
