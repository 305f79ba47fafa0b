// The plugin's settings: the ini text read, the file named by the host read
// afresh at each opening, and the host's record taken through the export.
#include "plugin/settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "test_files.h"
#include "wcxhead.h"

namespace quarn::testing {
namespace {

// A UTF-16LE text with its BOM, as Total Commander writes an ini file that
// holds Unicode.
std::string Utf16Le(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

void WriteText(const std::string &path, std::string_view text) {
  WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

TEST(ParseSettings, ReadsShowDeletedFromTheQuarnSectionOnly) {
  struct Case {
    const char *Name;
    std::string Text;
    bool ShowDeleted;
  };
  const Case cases[] = {
      {"empty", "", false},
      {"plain", "[Quarn]\nShowDeleted=1\n", true},
      {"no line break at the end", "[Quarn]\nShowDeleted=1", true},
      {"CRLF, letter case, blanks", "  [ qUARN ]  \r\n\t showdeleted  =  YES \r\n", true},
      {"true", "[Quarn]\nShowDeleted=True", true},
      {"on", "[Quarn]\nShowDeleted=ON", true},
      {"0", "[Quarn]\nShowDeleted=0", false},
      {"a word that starts like yes", "[Quarn]\nShowDeleted=yess", false},
      {"comment after the value", "[Quarn]\nShowDeleted=1   ; deleted files too\n", true},
      {"comment lines", "[Quarn]\n;ShowDeleted=1\n  # ShowDeleted=1\n", false},
      {"the last occurrence wins", "[Quarn]\nShowDeleted=1\nShowDeleted=off\n", false},
      {"the last one in a later section", "[Quarn]\nShowDeleted=0\n[x]\n[Quarn]\nShowDeleted=1",
       true},
      {"another section", "[Other]\nShowDeleted=1\n", false},
      {"another section after", "[Quarn]\nShowDeleted=1\n[Other]\nShowDeleted=0\n", true},
      {"before any section", "ShowDeleted=1\n[Quarn]\n", false},
      {"a longer section name", "[QuarnX]\nShowDeleted=1\n", false},
      {"a longer key", "[Quarn]\nShowDeletedFiles=1\n", false},
      {"UTF-8 BOM", "\xEF\xBB\xBF[Quarn]\r\nShowDeleted=1\r\n", true},
      {"UTF-16LE", Utf16Le(u"[Quarn]\r\nPath=C:\\M\u00FCll\r\nShowDeleted=1\r\n"), true},
      // U+5B0A is the bytes 0A 5B, "\n[" if the text were read by bytes.
      {"UTF-16LE read by units", Utf16Le(u"[Other]\r\nNote=\u5B0AQuarn]\r\nShowDeleted=1\r\n"),
       false},
  };
  for (const Case &c : cases) EXPECT_EQ(ParseSettings(c.Text).ShowDeleted, c.ShowDeleted) << c.Name;
}

// Every test leaves the process's settings as it found them: none.
class SettingsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetSettingsFile("");
    SetSettingsOverride(std::nullopt);
  }
  TempDir dir_;
};

TEST_F(SettingsTest, TheFileIsReadAtEachOpeningAndTheOverrideWins) {
  const std::string ini = dir_.File("pkplugin.ini");
  EXPECT_FALSE(OpeningSettings().ShowDeleted);  // no file named

  SetSettingsFile(ini);
  EXPECT_FALSE(OpeningSettings().ShowDeleted);  // named, not there
  WriteText(ini, "[Quarn]\r\nShowDeleted=1\r\n");
  EXPECT_TRUE(OpeningSettings().ShowDeleted);
  WriteText(ini, "[Quarn]\r\nShowDeleted=0\r\n");  // edited between two archives
  EXPECT_FALSE(OpeningSettings().ShowDeleted);

  SetSettingsOverride(TSettings{.ShowDeleted = true});
  EXPECT_TRUE(OpeningSettings().ShowDeleted);
  SetSettingsOverride(std::nullopt);
  EXPECT_FALSE(OpeningSettings().ShowDeleted);

  WriteText(ini, "[Quarn]\nShowDeleted=1\n");
  std::filesystem::remove(ini);
  EXPECT_FALSE(OpeningSettings().ShowDeleted);
  SetSettingsFile(dir_.Path().string());  // a folder: no file to read
  EXPECT_FALSE(OpeningSettings().ShowDeleted);
}

TEST_F(SettingsTest, OnlyTheFirstMebibyteIsReadAndALineItCutsIsNot) {
  constexpr std::size_t kLimit = 1 << 20;
  const std::string ini = dir_.File("big.ini");
  SetSettingsFile(ini);

  std::string text = "[Quarn]\nShowDeleted=1\n;";
  text.append(kLimit + 100 - text.size(), 'x');
  WriteText(ini, text);
  EXPECT_TRUE(OpeningSettings().ShowDeleted);

  // "ShowDeleted=10" straddles the limit, where its first part would read as
  // a yes; what follows lies past it.
  text = "[Quarn]\n;";
  const std::string straddling = "ShowDeleted=1";
  text.append(kLimit - straddling.size() - 1 - text.size(), 'x');
  text += "\n" + straddling + "0\nShowDeleted=1\n";
  ASSERT_EQ(text.find("0\nShowDeleted=1\n"), kLimit);
  WriteText(ini, text);
  EXPECT_FALSE(OpeningSettings().ShowDeleted);
}

TEST_F(SettingsTest, TheExportTakesTheNameWithinTheRecordsSize) {
  const std::string ini = dir_.File("wcx.ini");
  WriteText(ini, "[Quarn]\nShowDeleted=1\n");
#ifdef _WIN32
  const std::string longName = ini;
#else
  // Longer than the 260 bytes declared, as Double Commander's MAX_PATH allows.
  const std::string longName = dir_.Path().string() + std::string(300, '/') + "wcx.ini";
#endif
  constexpr int kNameOffset = 12;
  struct Case {
    const char *Name;
    std::string IniName;
    int Size;  // the record's size field; the buffer holds the name whole
    bool ShowDeleted;
  };
  const Case cases[] = {
      {"Total Commander's record", ini, sizeof(PackDefaultParamStruct), true},
      {"a longer record and name", longName, 4096 + kNameOffset, true},
      {"the size ends at the NUL", ini, static_cast<int>(kNameOffset + ini.size() + 1), true},
      {"the size cuts the name", ini, static_cast<int>(kNameOffset + ini.size()), false},
      {"no room for the name", ini, kNameOffset, false},
      {"a negative size", ini, -1, false},
  };
  for (const Case &c : cases) {
    std::vector<char> record(kNameOffset + 4096 + 1, '\0');
    std::memcpy(record.data(), &c.Size, sizeof c.Size);
    std::memcpy(record.data() + kNameOffset, c.IniName.data(), c.IniName.size());
    SetSettingsFile(ini);  // what the call replaces
    PackSetDefaultParams(reinterpret_cast<PackDefaultParamStruct *>(record.data()));
    EXPECT_EQ(OpeningSettings().ShowDeleted, c.ShowDeleted) << c.Name;
  }
  SetSettingsFile(ini);
  PackSetDefaultParams(nullptr);
  EXPECT_FALSE(OpeningSettings().ShowDeleted) << "a null record names no file";
}

}  // namespace
}  // namespace quarn::testing
