#include "cli/selection.h"

#include <gtest/gtest.h>

namespace quarn::cli {
namespace {

TEST(GlobMatchTest, StarsAndQuestionMarksStayWithinOneComponent) {
  EXPECT_TRUE(GlobMatch("*.BIN", "FFS.BIN"));
  EXPECT_FALSE(GlobMatch("*.BIN", "FFS/a.BIN"));
  EXPECT_TRUE(GlobMatch("FFS/*", "FFS/a.txt"));
  EXPECT_FALSE(GlobMatch("FFS/*", "FFS/sub/a.txt"));
  EXPECT_TRUE(GlobMatch("*/*/a.txt", "FFS/sub/a.txt"));
  EXPECT_TRUE(GlobMatch("?FS.BIN", "FFS.BIN"));
  EXPECT_FALSE(GlobMatch("FFS?a", "FFS/a"));
  EXPECT_TRUE(GlobMatch("a*b*c", "aXbYbZc"));
  EXPECT_FALSE(GlobMatch("a*b*c", "aXbYbZ"));
  EXPECT_TRUE(GlobMatch("*", ""));
  EXPECT_TRUE(GlobMatch("**x", "abx"));
  EXPECT_FALSE(GlobMatch("", "a"));
  EXPECT_TRUE(GlobMatch("*a/b*", "xa/b"));
  EXPECT_FALSE(GlobMatch("*a/b*", "x/a/b"));
}

TEST(GlobMatchTest, BracketExpressions) {
  EXPECT_TRUE(GlobMatch("[EF]*.BIN", "EEFULL.BIN"));
  EXPECT_TRUE(GlobMatch("[EF]*.BIN", "FFS.BIN"));
  EXPECT_FALSE(GlobMatch("[!E]*", "EEFULL.BIN"));
  EXPECT_TRUE(GlobMatch("[^E]*", "FFS.BIN"));
  EXPECT_TRUE(GlobMatch("x[0-9]", "x7"));
  EXPECT_FALSE(GlobMatch("x[0-9]", "xa"));
  EXPECT_TRUE(GlobMatch("[]]", "]"));
  EXPECT_TRUE(GlobMatch("a[-]b", "a-b"));
  EXPECT_TRUE(GlobMatch("[*]", "*"));
  EXPECT_FALSE(GlobMatch("[*]", "a"));
  // An unclosed bracket is an ordinary character.
  EXPECT_TRUE(GlobMatch("a[b", "a[b"));
  EXPECT_FALSE(GlobMatch("a[/]b", "a/b"));
}

TEST(SelectionTest, DirectorySelectsEverythingBelowIt) {
  Selection selection({"FFS/Misc/", "*.BIN"}, PathStyle::kPosix);
  EXPECT_TRUE(selection.Selects("FFS/Misc"));
  EXPECT_TRUE(selection.Selects("FFS/Misc/a/b.txt"));
  EXPECT_FALSE(selection.Selects("FFS/Misc2/a"));
  EXPECT_FALSE(selection.Selects("FFS"));
  EXPECT_TRUE(selection.Selects("EELITE.BIN"));
  EXPECT_TRUE(selection.Unmatched().empty());
}

TEST(SelectionTest, ReportsPatternsThatMatchedNothing) {
  Selection selection({"FFS", "nope*"}, PathStyle::kPosix);
  EXPECT_TRUE(selection.Selects("FFS/a"));
  EXPECT_FALSE(selection.Selects("FFS.BIN"));
  EXPECT_EQ(selection.Unmatched(), std::vector<std::string>{"nope*"});
}

TEST(SelectionTest, NoPatternSelectsAll) {
  Selection selection({}, PathStyle::kPosix);
  EXPECT_TRUE(selection.SelectsAll());
  EXPECT_TRUE(selection.Selects("anything/at/all"));
}

TEST(SelectionTest, WindowsIgnoresCaseAndTakesEitherSeparator) {
  Selection selection({"ffs\\misc", "eelite.bin"}, PathStyle::kWindows);
  EXPECT_TRUE(selection.Selects("FFS\\Misc\\a.txt"));
  EXPECT_TRUE(selection.Selects("EELITE.BIN"));
  Selection posix({"ffs.bin"}, PathStyle::kPosix);
  EXPECT_FALSE(posix.Selects("FFS.BIN"));
}

TEST(SelectionTest, PatternsAreCleanedAsTarCleansNames) {
  const struct {
    const char *Given, *Clean;
  } kCases[] = {
      {"/FFS/Pictures", "FFS/Pictures"},
      {"./FFS/Pictures", "FFS/Pictures"},
      {"FFS//Pictures", "FFS/Pictures"},
      {"FFS/./Pictures/", "FFS/Pictures"},
      {"//././/FFS", "FFS"},
      {"/", ""},
      {".", ""},
      {"FFS/../x", "FFS/../x"},
      {".hidden/x", ".hidden/x"},
      {"*/a.txt", "*/a.txt"},
  };
  for (const auto &c : kCases) EXPECT_EQ(CleanPattern(c.Given), c.Clean) << c.Given;

  Selection selection({"/FFS//Docs/", "./EELITE.BIN"}, PathStyle::kPosix);
  EXPECT_TRUE(selection.Selects("FFS/Docs/a.txt"));
  EXPECT_TRUE(selection.Selects("EELITE.BIN"));
  EXPECT_FALSE(selection.Selects("FFS.BIN"));
  EXPECT_TRUE(selection.Unmatched().empty());
  // What is left of "/" or "." selects everything.
  Selection all({"./"}, PathStyle::kPosix);
  EXPECT_TRUE(all.Selects("FFS/a"));
  EXPECT_TRUE(all.Unmatched().empty());
}

TEST(SelectionTest, ExclusionsMatchAnyRunOfWholeComponents) {
  Selection selection({}, PathStyle::kPosix, {"*.jpg", "LostBlocks", "Docs/Notes", "/./*.BIN"});
  EXPECT_FALSE(selection.SelectsAll());
  const struct {
    const char *Path;
    bool Selected;
  } kCases[] = {
      {"FFS/a.jpg", false},
      {"FFS/Pictures/deep/b.jpg", false},
      {"FFS/a.jpg.txt", true},
      {"FFS/LostBlocks", false},
      {"FFS/LostBlocks/b 1.bin", false},
      {"FFS/NotLostBlocks", true},
      {"FFS/Docs/Notes/x", false},
      {"FFS/Docs/Notesx", true},
      {"FFS.BIN", false},
      {"FFS/IMG.BIN", false},
      {"FFS/Docs", true},
  };
  for (const auto &c : kCases) EXPECT_EQ(selection.Selects(c.Path), c.Selected) << c.Path;

  // With patterns too: selected by one, then dropped by an exclusion; the
  // pattern still counts as matched.
  Selection both({"FFS"}, PathStyle::kPosix, {"*.jpg"});
  EXPECT_TRUE(both.Selects("FFS/a.txt"));
  EXPECT_FALSE(both.Selects("FFS/a.jpg"));
  EXPECT_FALSE(both.Selects("EELITE.BIN"));
  Selection only({"FFS/a.jpg"}, PathStyle::kPosix, {"*.jpg"});
  EXPECT_FALSE(only.Selects("FFS/a.jpg"));
  EXPECT_TRUE(only.Unmatched().empty());

  Selection windows({}, PathStyle::kWindows, {"\\lostblocks"});
  EXPECT_FALSE(windows.Selects("FFS\\LostBlocks\\block 1.bin"));
  EXPECT_TRUE(windows.Selects("FFS\\a.txt"));
}

}  // namespace
}  // namespace quarn::cli
