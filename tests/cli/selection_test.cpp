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

}  // namespace
}  // namespace quarn::cli
