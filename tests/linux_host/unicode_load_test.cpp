// The Unicode interface of the built quarn.wcx, loaded as Double Commander loads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "dump_builder.h"
#include "ffs_builder.h"
#include "plugin_host.h"
#include "sample/default_sample.h"
#include "sample/description.h"
#include "sample/layout.h"
#include "sample_fs.h"

namespace quarn::testing {
namespace {

// The Unicode interface's own: its records, names as the phone stored them,
// bad input, and two archives on two threads.
class UnicodeTest : public PluginTest {
 protected:
  // A dump of one disk whose root holds a file of each name (UTF-8 on flash).
  std::string SaveNames(const std::vector<std::string> &names) {
    DumpBuilder dump(0x200000);
    dump.Disk(0x100, "FFS", 0x1000, 0x2000, {{At(0x100000), 0x40000}}, false);
    FlashFs fs(dump, {{At(0x100000), 0x40000}});
    std::uint16_t parent = fs.Root();
    for (const std::string &name : names) {
      if (name == "/")  // the next names go one folder down, its name ending in U+1F600
        parent = fs.Dir(parent, "\x1F" + std::string(120, 'd') + "\xED\xA0\xBD\xED\xB8\x80");
      else if (name == "+")  // a folder of 36 letters
        parent = fs.Dir(parent, std::string(36, 'e'));
      else
        fs.File(parent, "\x1F" + name, Bytes(name));
    }
    return SaveDump(dump);
  }
};

TEST_P(UnicodeTest, RecordsAreFilledUpToFileAttrAndNoFurther) {
  std::string path = SaveDump(ThreeDiskDump());
  void *handle = Open(path, 0);
  ASSERT_NE(handle, nullptr);
  std::vector<std::uint8_t> record(kWideRecordSize + 64, 0xCC);
  ASSERT_EQ(readExW_(handle, record.data()), 0);
  EXPECT_EQ(Utf8(reinterpret_cast<const char16_t *>(record.data())), path);
  EXPECT_EQ(Utf8(reinterpret_cast<const char16_t *>(record.data() + kWideFileName)), "EEFULL.BIN");
  EXPECT_EQ(At32(record, kWidePackSize), 0x30000);
  EXPECT_EQ(At32(record, kWidePackSizeHigh), 0);
  EXPECT_EQ(At32(record, kWideUnpSizeHigh), 0);
  EXPECT_EQ(At32(record, kWideFileAttr), 0100644);
  for (std::size_t i = kWideFileAttr + 4; i < record.size(); ++i) ASSERT_EQ(record[i], 0xCC) << i;
  // The long ANSI record walks the same listing.
  std::vector<std::uint8_t> ex(3200, 0xCC);
  ASSERT_EQ(readEx_(handle, ex.data()), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(ex.data() + kExFileName)), "EELITE.BIN");
  EXPECT_EQ(At32(ex, kExPackSize), 0x10000);
  for (std::size_t i = kExFileAttr + 4; i < ex.size(); ++i) ASSERT_EQ(ex[i], 0xCC) << i;
  EXPECT_EQ(close_(handle), 0);
  EXPECT_EQ(background_(), 1);
}

TEST_P(UnicodeTest, NamesArriveAsThePhoneStoredThemAndPathsAreCutWholeCharacters) {
  // Cyrillic, Greek, CJK, accents; then folders deep enough that the path
  // passes 1023 units with a surrogate pair (the last of each deep folder's
  // 122 units) at units 1022 and 1023: the pair goes whole.
  const std::vector<std::string> names = {
      "\xD0\x9E\xD1\x82\xD0\xBF\xD1\x83\xD1\x81\xD0\xBA.txt",  // Отпуск.txt
      "\xCE\xB1\xCE\xB2\xCE\xB3",                              // αβγ
      "\xE5\x86\x99\xE7\x9C\x9F.png",                          // 写真.png
      "Z\xC3\xBCrich caf\xC3\xA9",                             // Zürich café
      "+",
      "/",
      "/",
      "/",
      "/",
      "/",
      "/",
      "/",
      "/",
      "deep.txt"};
  std::string path = SaveNames(names);
  void *handle = Open(path, 0);
  ASSERT_NE(handle, nullptr);
  std::vector<std::string> listed;
  for (const HostEntry &e : ListAll(handle)) listed.push_back(e.Path);
  EXPECT_EQ(close_(handle), 0);
  for (std::size_t i = 0; i < 4; ++i)
    EXPECT_NE(std::find(listed.begin(), listed.end(), "FFS/" + names[i]), listed.end()) << i;
  // The deepest folder's path is cut before the pair, at 1022 units.
  bool cutBeforePair = false;
  for (const std::string &p : listed) {
    const std::u16string wide = Utf16(p);
    ASSERT_LE(wide.size(), 1023u);
    ASSERT_FALSE(!wide.empty() && wide.back() >= 0xD800 && wide.back() <= 0xDBFF) << p;
    cutBeforePair |= wide.size() == 1022 && wide.back() == u'd';
  }
  EXPECT_TRUE(cutBeforePair);
}

TEST_P(UnicodeTest, BadHandlesRecordsAndTargetsAreRefused) {
  std::vector<std::uint8_t> record(kWideRecordSize);
  char16_t name[] = u"x";
  for (void *handle : {static_cast<void *>(nullptr), reinterpret_cast<void *>(-1)}) {
    setProgressW_(handle, nullptr);
    setChangeVolW_(handle, nullptr);
    EXPECT_EQ(readExW_(handle, record.data()), 12 + 1);  // E_BAD_ARCHIVE
    EXPECT_EQ(processW_(handle, 2, nullptr, name), 13);
  }
  EXPECT_EQ(openW_(nullptr), nullptr);
  EXPECT_EQ(canHandleW_(nullptr), 0);
  std::string path = SaveDump(ThreeDiskDump());
  void *handle = Open(path, 1);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(readExW_(handle, nullptr), 13);
  ASSERT_EQ(readExW_(handle, record.data()), 0);
  EXPECT_EQ(processW_(handle, 2, nullptr, nullptr), 16);  // E_ECREATE
  std::u16string lone = Utf16(dir_.File("x")) + u'\xD800';
  EXPECT_EQ(processW_(handle, 2, nullptr, lone.data()), 16);
  EXPECT_EQ(close_(handle), 0);
}

TEST_P(UnicodeTest, TwoArchivesListAndExtractOnTwoThreadsAtOnce) {
  const SampleFs sample = FlashFsSample(kDumpDosDate, kDumpDosTime, "\xC3\xA9");
  std::string path = SaveDump(sample.Dump);
  auto work = [&](int thread, std::vector<std::string> *paths) {
    for (int round = 0; round < 20; ++round) {
      void *handle = Open(path, 1);
      if (handle == nullptr) return;
      HostEntry entry;
      const std::string target = dir_.File("t" + std::to_string(thread));
      while (Next(handle, entry)) {
        if (round == 0) paths->push_back(entry.Path);
        Process(handle, (entry.FileAttr & 040000) != 0 ? 0 : 2, target);
      }
      close_(handle);
    }
  };
  std::vector<std::string> first, second;
  std::thread a(work, 1, &first);
  std::thread b(work, 2, &second);
  a.join();
  b.join();
  EXPECT_EQ(first.size(), sample.Listing.size());
  EXPECT_EQ(first, second);
}

TEST_P(UnicodeTest, TheSampleListsAlikeThroughBothInterfaces) {
  // Double Commander takes the Unicode exports as soon as a plugin has them:
  // the realistic sample must list through them as through the ANSI ones.
  const sample::Sample built =
      sample::BuildSample(sample::ParseDescription(sample::kDefaultDescription));
  std::string path = SaveDump(built.Dump);
  void *handle = Open(path, 0);
  ASSERT_NE(handle, nullptr);
  const std::vector<HostEntry> wide = ListAll(handle);
  EXPECT_EQ(close_(handle), 0);
  OpenData data{};
  data.ArcName = path.data();
  handle = open_(&data);
  ASSERT_NE(handle, nullptr);
  std::vector<std::uint8_t> record(600);
  std::size_t i = 0;
  for (; read_(handle, record.data()) == 0; ++i) {
    ASSERT_LT(i, wide.size());
    EXPECT_EQ(wide[i].Path, Name(record));
    EXPECT_EQ(wide[i].UnpSize, At32(record, kUnpSize));
    EXPECT_EQ(wide[i].FileTime, At32(record, kFileTime));
    EXPECT_EQ(wide[i].FileAttr, At32(record, kFileAttr));
  }
  EXPECT_EQ(i, wide.size());
  EXPECT_GT(i, 800u);
  EXPECT_EQ(close_(handle), 0);
}

INSTANTIATE_TEST_SUITE_P(Unicode, UnicodeTest, ::testing::Values(Interface::Unicode),
                         [](const auto &) { return "W"; });

}  // namespace
}  // namespace quarn::testing
