#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "entries/listing_order.h"
#include "entries/parent_paths.h"
#include "entries/sie_file.h"
#include "entries/unique_names.h"
#include "entries/wide_listing.h"
#include "platform/host_path.h"
#include "plugin/host_record.h"

namespace quarn {
namespace {

// Entries made for one test, owned here.
class Tree {
 public:
  TSieFile *Make(const std::string &name, TSieFile *parent = nullptr) {
    entries_.push_back(std::make_unique<TSieFile>());
    TSieFile *e = entries_.back().get();
    e->Name = name;
    if (parent != nullptr) e->SetParent(parent);
    return e;
  }

 private:
  std::vector<std::unique_ptr<TSieFile>> entries_;
};

const std::string kDelim(1, kPathDelimiter);

TEST(FullPathTest, JoinsNamesFromTheTopWithBackslashes) {
  Tree t;
  TSieFile *root = t.Make("");
  TSieFile *a = t.Make("A", root);
  TSieFile *b = t.Make("B", a);
  EXPECT_EQ(root->FullPath(), "");
  EXPECT_EQ(a->FullPath(), "A");
  EXPECT_EQ(b->FullPath(), "A\\B");
  EXPECT_EQ(t.Make("", a)->FullPath(), "A\\");  // the trailing backslash stays
  EXPECT_EQ(t.Make("x\\\\\\y", a)->FullPath(), "A\\x\\y");
}

TEST(FullPathTest, CutsAt255BytesBeforeCollapsing) {
  Tree t;
  TSieFile *a = t.Make(std::string(200, 'a'));
  TSieFile *b = t.Make(std::string(99, 'b'), a);
  EXPECT_EQ(b->FullPath(), std::string(200, 'a') + "\\" + std::string(54, 'b'));
  TSieFile *c = t.Make("c", b);
  EXPECT_EQ(c->FullPath(), b->FullPath());  // no room left below a full path

  // Backslashes that straddle the cut: the result is shorter than 255.
  TSieFile *d = t.Make(std::string(250, 'd'));
  TSieFile *e = t.Make("\\\\\\\\\\\\\\\\", d);
  EXPECT_EQ(e->FullPath(), std::string(250, 'd') + "\\");
}

TEST(FullPathTest, ACutNeverLeavesADotPieceLast) {
  // "..x" and ".y" starting at byte 254 or 255: the cut would leave ".." or
  // "."; the path ends before that piece.
  Tree t;
  TSieFile *a = t.Make(std::string(252, 'a'));
  EXPECT_EQ(t.Make("..x", a)->FullPath(), std::string(252, 'a'));
  TSieFile *b = t.Make(std::string(253, 'b'));
  EXPECT_EQ(t.Make(".y", b)->FullPath(), std::string(253, 'b'));
  EXPECT_EQ(t.Make("..", b)->FullPath(), std::string(253, 'b'));
  TSieFile *c = t.Make(std::string(251, 'c'));
  EXPECT_EQ(t.Make("...x", c)->FullPath(), std::string(251, 'c') + "\\...");  // not a dot piece
  EXPECT_EQ(t.Make(".x", a)->FullPath(), std::string(252, 'a') + "\\.x");
}

TEST(FullPathTest, DeepTreesNeedNoRecursion) {
  Tree t;
  TSieFile *e = t.Make("top");
  for (int i = 0; i < 200000; ++i) e = t.Make("d", e);
  EXPECT_EQ(e->FullPath().size(), 255u);
  EXPECT_EQ(e->ExtractDir().size(), 4u + 2u * 199999);  // "top" and each "d", delimited
}

TEST(ParentPathsTest, EachKeptValueIsMadeOnceHoweverDeep) {
  Tree t;
  TSieFile *top = t.Make("top");
  TSieFile *e = top;
  for (int i = 0; i < 200000; ++i) e = t.Make("d", e);
  int made = 0;
  auto depth = [&made](const TSieFile &, const int *parent) {
    ++made;
    return parent != nullptr ? *parent + 1 : 0;
  };
  auto withChildren = [](const TSieFile &node) { return node.Children().Count() > 0; };
  TParentPaths<int> paths;
  EXPECT_EQ(paths.Of(*e, depth, withChildren), 200000);
  EXPECT_EQ(made, 200001);
  // The leaf was not kept: asked again, it alone is made again.
  EXPECT_EQ(paths.Of(*e, depth, withChildren), 200000);
  EXPECT_EQ(made, 200002);
  EXPECT_EQ(paths.Of(*top, depth, withChildren), 0);
  EXPECT_EQ(paths.Of(*t.Make("sibling", e->Parent()), depth, withChildren), 200000);
  EXPECT_EQ(made, 200003);
}

TEST(ExtractDirTest, FollowsTheNearestLearnedDestination) {
  Tree t;
  TSieFile *root = t.Make("");
  TSieFile *disk = t.Make("FFS", root);
  TSieFile *data = t.Make("data", disk);
  TSieFile *file = t.Make("a.txt", data);
  EXPECT_EQ(t.Make("lonely")->ExtractDir(), "");
  EXPECT_EQ(disk->ExtractDir(), kDelim);  // below a nameless root that never learned
  disk->DestDir = "out" + kDelim;
  EXPECT_EQ(disk->ExtractDir(), "out" + kDelim);
  EXPECT_EQ(data->ExtractDir(), "out" + kDelim + "FFS" + kDelim);
  EXPECT_EQ(file->ExtractDir(), "out" + kDelim + "FFS" + kDelim + "data" + kDelim);
}

TEST(ParentTest, SetParentMovesBetweenChildLists) {
  Tree t;
  TSieFile *p1 = t.Make("p1");
  TSieFile *p2 = t.Make("p2");
  TSieFile *x = t.Make("x", p1);
  TSieFile *y = t.Make("y", p1);
  x->SetParent(p1);  // the current parent: nothing changes
  ASSERT_EQ(p1->Children().Count(), 2);
  EXPECT_EQ(p1->Children()[0], x);

  x->SetParent(p2);
  EXPECT_EQ(x->Parent(), p2);
  ASSERT_EQ(p1->Children().Count(), 1);
  EXPECT_EQ(p1->Children()[0], y);
  ASSERT_EQ(p2->Children().Count(), 1);

  x->SetParent(nullptr);
  EXPECT_EQ(x->Parent(), nullptr);
  EXPECT_EQ(p2->Children().Count(), 0);
}

TEST(ParentTest, AddChildKeepsAnExistingPositionAndRemoveChildDetaches) {
  Tree t;
  TSieFile *p = t.Make("p");
  TSieFile *other = t.Make("other");
  TSieFile *a = t.Make("a", p);
  TSieFile *b = t.Make("b", other);
  EXPECT_EQ(p->AddChild(a), 0);
  EXPECT_EQ(p->AddChild(b), 1);
  EXPECT_EQ(b->Parent(), p);
  EXPECT_EQ(other->Children().Count(), 0);
  EXPECT_EQ(p->Children().Count(), 2);

  p->RemoveChild(a);
  EXPECT_EQ(a->Parent(), nullptr);
  ASSERT_EQ(p->Children().Count(), 1);
  EXPECT_EQ(p->Children()[0], b);
  p->RemoveChild(a);  // absent: nothing happens
  EXPECT_EQ(p->Children().Count(), 1);
}

TEST(ExtentTest, SizeIsTheWholeSumOfExtentsAndTheRecordsCarryIt) {
  TSieFile e;
  TExtent big;
  big.Size = 0xFFFFF000;
  e.AddExtent(std::move(big));
  TExtent more;
  more.Size = 0x2000;
  e.AddExtent(std::move(more));
  EXPECT_EQ(e.Size, 0x100001000u);
  EXPECT_EQ(e.Extents.Count(), 2);
  // ReadHeader's record holds the low 32 bits; the others the whole size.
  tHeaderData narrow{};
  const char arcName[260] = "a";
  FillHeader(narrow, arcName, e, "f");
  EXPECT_EQ(static_cast<std::uint32_t>(narrow.UnpSize), 0x1000u);
  tHeaderDataEx ex{};
  FillHeader(ex, "a", e, "f");
  tHeaderDataExW wide{};
  FillHeader(wide, u"a", e, u"f");
  for (const auto &[low, high] :
       {std::pair{ex.UnpSize, ex.UnpSizeHigh}, std::pair{ex.PackSize, ex.PackSizeHigh},
        std::pair{wide.UnpSize, wide.UnpSizeHigh}}) {
    EXPECT_EQ(low, 0x1000u);
    EXPECT_EQ(high, 1u);
  }
}

TEST(UniqueNamesTest, CopiesAfterTheFirstAreNumberedPastEveryName) {
  EXPECT_EQ(NumberedName("eeprom 1_34.bin", 2), "eeprom 1_34 (2).bin");
  EXPECT_EQ(NumberedName(".hidden", 3), ".hidden (3)");
  EXPECT_EQ(NumberedName("a.tar.gz", 2), "a.tar (2).gz");
  EXPECT_EQ(NumberedName("d.x\\name", 2), "d.x\\name (2)");
  EXPECT_EQ(NumberedName(std::string(255, 'n'), 12), std::string(250, 'n') + " (12)");
  // An extension that fills the limit is cut.
  EXPECT_EQ(NumberedName("x." + std::string(253, 'e'), 2), " (2)." + std::string(250, 'e'));
#ifndef _WIN32
  // The stem's cut never splits a character.
  EXPECT_EQ(NumberedName(std::string(250, 'n') + "\xC3\xA9", 2), std::string(250, 'n') + " (2)");
#endif

  Tree t;
  TSieFile *top = t.Make("");
  TSieFile *dir = t.Make("d", top);
  for (const char *name : {"a.txt", "a.txt", "a (2).txt", "b", "a.txt", "B"}) t.Make(name, dir);
  TSieFile *again = t.Make("d", top);  // a second folder "d", with a child of its own
  t.Make("b", again);
  RenameDuplicateChildren(*top);
  std::vector<std::string> names;
  for (const TSieFile *e : dir->Children()) names.push_back(e->Name);
#ifdef _WIN32
  // Case-blind, as the Windows file system compares names.
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "a (3).txt", "a (2).txt", "b", "a (4).txt",
                                             "B (2)"}));
  // Trailing dots and spaces dropped, as the Windows file API drops them.
  TSieFile *dots = t.Make("dots", top);
  for (const char *name : {"a", "a.", "a ", "a. ."}) t.Make(name, dots);
  RenameDuplicateChildren(*top);
  std::vector<std::string> dotted;
  for (const TSieFile *e : dots->Children()) dotted.push_back(e->Name);
  EXPECT_EQ(dotted, (std::vector<std::string>{"a", "a (2).", "a  (3)", "a.  (4)."}));
#else
  EXPECT_EQ(names,
            (std::vector<std::string>{"a.txt", "a (3).txt", "a (2).txt", "b", "a (4).txt", "B"}));
#endif
  EXPECT_EQ(again->Name, "d (2)");
  EXPECT_EQ(again->Children()[0]->Name, "b");
}

TEST(ListingOrderTest, WholePathsByteByByteEqualOnesInListedOrder) {
  // Names that are starts of one another, with characters on both sides of
  // the backslash, duplicates, and (in some rounds) a backslash or an empty
  // name, listed in random order below a disk's root.
  const std::vector<std::string> names = {"a", "a b",  "a!",   "ab", "a~", "b",  "A",       "a.",
                                          "",  "a\\x", "\x7F", "a]", "a[", "ZZ", "\xC3\xA9"};
  std::mt19937 random(7);
  for (int round = 0; round < 30; ++round) {
    Tree t;
    TSieFile *nameless = t.Make("");
    std::vector<TSieFile *> folders{t.Make("FFS", nameless)};
    TList<TSieFile *> listed;
    listed.Add(folders[0]);
    listed.Add(t.Make("FFS.BIN", nameless));
    std::set<std::pair<TSieFile *, std::string>> used;
    const bool plain = round % 3 != 0;  // no backslash, no empty name
    for (int i = 0; i < 60; ++i) {
      std::string name = names[random() % names.size()];
      TSieFile *parent = folders[random() % folders.size()];
      if (plain) {
        if (name.empty() || name.find('\\') != std::string::npos) name.assign(1, 'n');
        if (round % 2 == 0)  // distinct names below each folder
          while (!used.insert({parent, name}).second) name.push_back('~');
      }
      listed.Add(t.Make(name, parent));
      if (random() % 3 == 0) folders.push_back(listed[listed.Count() - 1]);
    }
    std::shuffle(listed.begin(), listed.end(), random);
    // As an archive lists: folders' children named apart first (that one is
    // the order's to make true as the host compares paths), then the order.
    RenameDuplicateChildren(*nameless);

    // Sorted by whole paths; equal ones (as the host compares them) in
    // listed order, the first keeping its path, the others numbered.
    std::vector<TSieFile *> expected(listed.begin(), listed.end());
    std::stable_sort(expected.begin(), expected.end(), [](const TSieFile *a, const TSieFile *b) {
      return a->FullPath() < b->FullPath();  // std::string compares bytes as unsigned
    });
    const TListingOrder order(listed, nameless);
    ASSERT_EQ(order.Count(), listed.Count());
    std::set<std::string> firsts;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const std::string path = expected[i]->FullPath();
      const bool first = firsts.insert(HostKey(path)).second;
      const auto at = std::find(order.Entries().begin(), order.Entries().end(), expected[i]);
      ASSERT_NE(at, order.Entries().end());
      const int index = static_cast<int>(at - order.Entries().begin());
      if (first)
        EXPECT_EQ(order.Path(index), path) << round;
      else
        EXPECT_NE(order.Path(index), path) << round;
    }
    for (int i = 1; i < order.Count(); ++i) ASSERT_LT(order.Path(i - 1), order.Path(i)) << round;
    // The Unicode interface numbers the same entries, with the same numbers.
    const TWideListing wide(order, *nameless);
    for (int i = 0; i < order.Count(); ++i)
      EXPECT_EQ(wide.Path(i), WideFromNarrow(order.Path(i))) << round << " " << order.Path(i);
  }
}

}  // namespace
}  // namespace quarn
