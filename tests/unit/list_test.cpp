#include <gtest/gtest.h>

#include <string>

#include "util/tlist.h"

namespace quarn {
namespace {

TEST(ListTest, BadIndexRaisesWithTheListMessage) {
  TList<int> list;
  list.Add(7);
  try {
    list.Get(1);
    FAIL() << "no error for index 1 of a one-item list";
  } catch (const EListError &e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (1)");
  }
  EXPECT_THROW(list.Get(-1), EListError);
  EXPECT_THROW(list.Put(5, 1), EListError);
  EXPECT_THROW(list.Delete(1), EListError);
  try {
    list.SetCount(-2);
    FAIL();
  } catch (const EListError &e) {
    EXPECT_STREQ(e.what(), "List count out of bounds (-2)");
  }
  try {
    list.SetCapacity(0);
    FAIL();
  } catch (const EListError &e) {
    EXPECT_STREQ(e.what(), "List capacity out of bounds (0)");
  }
}

TEST(ListTest, DeleteMovesLaterItemsDownAndIndexOfFindsTheFirst) {
  TList<int> list;
  for (int v : {10, 20, 30, 20}) list.Add(v);
  EXPECT_EQ(list.IndexOf(20), 1);
  EXPECT_EQ(list.IndexOf(99), -1);
  list.Delete(1);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list[0], 10);
  EXPECT_EQ(list[1], 30);
  EXPECT_EQ(list[2], 20);
  EXPECT_EQ(list.IndexOf(20), 2);
}

TEST(ListTest, CapacityGrowsInTheListsSteps) {
  TList<int> list;
  list.Add(0);
  EXPECT_EQ(list.Capacity(), 4);
  while (list.Count() < 5) list.Add(0);
  EXPECT_EQ(list.Capacity(), 8);
  while (list.Count() < 9) list.Add(0);
  EXPECT_EQ(list.Capacity(), 12);  // 8 is not above 8: still by 4
  while (list.Count() < 13) list.Add(0);
  EXPECT_EQ(list.Capacity(), 28);  // above 8: by 16
}

TEST(ListTest, SortIsDeterministicForEqualKeys) {
  TList<std::pair<int, std::string>> list;
  list.Add({2, "a"});
  list.Add({1, "b"});
  list.Add({2, "c"});
  list.Add({1, "d"});
  list.Sort([](const auto &x, const auto &y) { return x.first - y.first; });
  EXPECT_EQ(list[0].second, "b");
  EXPECT_EQ(list[1].second, "d");
  EXPECT_EQ(list[2].second, "a");
  EXPECT_EQ(list[3].second, "c");
}

}  // namespace
}  // namespace quarn
