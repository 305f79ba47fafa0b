#include "cli/safe_path.h"

#include <gtest/gtest.h>

#include <random>

#ifdef _WIN32
#include <windows.h>
#endif
#include <string>
#include <vector>

namespace quarn::cli {
namespace {

struct Case {
  std::string entry;
  std::string expected;
  bool renamed;
};

void ExpectAll(PathStyle style, const std::vector<Case> &cases) {
  for (const Case &c : cases) {
    const SafePath safe = MakeSafePath(c.entry, style);
    EXPECT_EQ(safe.path, c.expected) << "entry: " << c.entry;
    EXPECT_EQ(safe.renamed, c.renamed) << "entry: " << c.entry;
  }
}

TEST(SafePathTest, PosixKeepsOrdinaryPaths) {
  ExpectAll(PathStyle::kPosix, {
                                   {"FFS.BIN", "FFS.BIN", false},
                                   {"FFS/Misc/a b.txt", "FFS/Misc/a b.txt", false},
                                   // Legal names on Linux, however odd.
                                   {"...", "...", false},
                                   {"a\\..\\b", "a\\..\\b", false},
                                   {"C:/x", "C:/x", false},
                                   {"con.txt", "con.txt", false},
                                   {"a<b>|?*", "a<b>|?*", false},
                               });
}

TEST(SafePathTest, PosixDotComponentsAndAbsolutePaths) {
  ExpectAll(PathStyle::kPosix, {
                                   {"..", "__", true},
                                   {"../x", "__/x", true},
                                   {"a/../../b", "a/__/__/b", true},
                                   {"./a", "_/a", true},
                                   {"a/.", "a/_", true},
                                   {"/etc/passwd", "etc/passwd", true},
                                   {"//a//b/", "a/b", true},
                                   {"", "_", true},
                                   {"/", "_", true},
                               });
}

TEST(SafePathTest, WindowsKeepsOrdinaryPathsAndTakesEitherSeparator) {
  ExpectAll(PathStyle::kWindows, {
                                     {"FFS.BIN", "FFS.BIN", false},
                                     {"FFS\\Misc\\a b.txt", "FFS\\Misc\\a b.txt", false},
                                     {"FFS/Misc/a.txt", "FFS\\Misc\\a.txt", false},
                                     {"COM0", "COM0", false},
                                     {"COM10", "COM10", false},
                                     {"CONSOLE.txt", "CONSOLE.txt", false},
                                     {"a.b.c", "a.b.c", false},
                                 });
}

TEST(SafePathTest, WindowsDotComponentsAbsolutePathsAndDrives) {
  ExpectAll(PathStyle::kWindows, {
                                     {"..\\x", "__\\x", true},
                                     {"a\\..\\..\\b", "a\\__\\__\\b", true},
                                     {"a/../b", "a\\__\\b", true},
                                     {".\\a", "_\\a", true},
                                     {"\\Windows\\x", "Windows\\x", true},
                                     {"\\\\server\\share\\x", "server\\share\\x", true},
                                     {"C:\\Windows\\x", "C_\\Windows\\x", true},
                                     {"C:x", "C_x", true},
                                     {"\\\\?\\C:\\x", "_\\C_\\x", true},
                                 });
}

TEST(SafePathTest, WindowsInvalidCharactersAndTrailingDotsOrSpaces) {
  ExpectAll(PathStyle::kWindows, {
                                     {"a<b>c:d\"e|f?g*h", "a_b_c_d_e_f_g_h", true},
                                     {"tab\tname\x01", "tab_name_", true},
                                     {"name.", "name_", true},
                                     {"name. .", "name___", true},
                                     {"dir \\x", "dir_\\x", true},
                                     {"...", "___", true},
                                     {"file:stream", "file_stream", true},
                                 });
}

TEST(SafePathTest, WindowsReservedDeviceNames) {
  ExpectAll(PathStyle::kWindows, {
                                     {"CON", "_CON", true},
                                     {"con.txt", "_con.txt", true},
                                     {"Lpt9.tar.gz", "_Lpt9.tar.gz", true},
                                     {"aux .txt", "_aux .txt", true},
                                     {"COM1", "_COM1", true},
                                     {"prn", "_prn", true},
                                     {"dir\\nul\\x", "dir\\_nul\\x", true},
                                     {"CONOUT$", "_CONOUT$", true},
                                     // The trailing dot goes first, and "CON_" is no device.
                                     {"CON.", "CON_", true},
                                 });
}

TEST(SafePathTest, WindowsNestedCombination) {
  ExpectAll(PathStyle::kWindows, {{"\\a\\..\\CON\\b:c.", "a\\__\\_CON\\b_c_", true}});
}

#ifdef _WIN32
// In Shift-JIS (code page 932) U+8868 is 0x95 0x5C: its second byte is a
// backslash that must neither split the name nor be replaced.
TEST(SafePathTest, WindowsDoubleByteCharactersStayWhole) {
  if (GetACP() != 932) GTEST_SKIP() << "needs the Shift-JIS code page";
  ExpectAll(PathStyle::kWindows,
            {{"\x95\x5c\\x", "\x95\x5c\\x", false}, {"\x95\x7c.txt", "\x95\x7c.txt", false}});
}
#endif

// Whatever the entry's path, the result is relative, has no empty, "." or
// ".." component, and on Windows no character or ending Windows would read
// differently.
TEST(SafePathTest, RandomPathsNeverEscape) {
  const std::string alphabet = "./\\:a ";
  std::mt19937 random(20240601);  // fixed seed: failures reproduce
  for (const PathStyle style : {PathStyle::kPosix, PathStyle::kWindows}) {
    const char separator = style == PathStyle::kWindows ? '\\' : '/';
    for (int round = 0; round < 20000; ++round) {
      std::string entry;
      const int length = static_cast<int>(random() % 12);
      for (int i = 0; i < length; ++i) entry += alphabet[random() % alphabet.size()];
      const std::string path = MakeSafePath(entry, style).path;
      SCOPED_TRACE("entry: \"" + entry + "\" -> \"" + path + "\"");
      ASSERT_FALSE(path.empty());
      std::size_t start = 0;
      while (true) {
        const std::size_t end = path.find(separator, start);
        const std::string component = path.substr(start, end - start);
        ASSERT_FALSE(component.empty());
        ASSERT_NE(component, ".");
        ASSERT_NE(component, "..");
        if (style == PathStyle::kWindows) {
          ASSERT_EQ(component.find_first_of(":/"), std::string::npos);
          ASSERT_NE(component.back(), '.');
          ASSERT_NE(component.back(), ' ');
        }
        if (end == std::string::npos) break;
        start = end + 1;
      }
    }
  }
}

}  // namespace
}  // namespace quarn::cli
