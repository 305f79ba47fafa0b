// The realistic sample, damaged as dumps users bring are: cut at every disk's
// boundaries and inside chains of parts, a thousand random bytes over its
// file systems, chunk ids duplicated. Each must open, list, test and extract
// without a fault (the sanitizer run checks every read), and every entry
// whose bytes differ from the sound dump's through a structural break must
// be reported by test. Changed content bytes cannot be told: the file system
// keeps no checksums. Seeds are printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "entries/wide_listing.h"
#include "flash/dump.h"
#include "plugin/content.h"
#include "plugin/quarn.h"
#include "sample/default_sample.h"
#include "sample/description.h"
#include "sample/layout.h"
#include "util/utf8.h"

namespace quarn::testing {
namespace {

// What a host gets of one entry: its bytes as extraction writes them, the
// chain of part ids, and whether testing reports it.
struct Got {
  std::vector<std::uint8_t> Bytes;
  std::vector<std::uint16_t> Ids;
  bool Reported = false;
  std::string Problem;     // why, when reported
  bool Directory = false;  // a host creates it and extracts nothing of it
  // The dump's bytes a file of a file system is made of: each part's two
  // descriptors (the data chunk's lies one slot below the header's in the
  // sample), its header with the longest name, and its content.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Own;
};

std::vector<std::uint8_t> ContentOf(const TQuarn &archive, const TSieFile &entry) {
  std::vector<std::uint8_t> bytes;
  ForEachPiece(archive.Dump().Window(), entry,
               [&bytes](const std::uint8_t *from, std::uint32_t length, const std::uint32_t *) {
                 bytes.insert(bytes.end(), from, from + length);
                 return true;
               });
  return bytes;
}

std::map<std::string, Got> Read(const std::vector<std::uint8_t> &dump, std::uint32_t length) {
  TQuarn archive(TDump::Copy(dump.data(), std::min<std::size_t>(length, dump.size())), PK_OM_LIST);
  std::map<std::string, Got> got;
  tHeaderData header{};
  while (archive.ReadHeader(&header) == 0) {
    const TSieFile &entry = *archive.Current();
    Got &g = got[header.FileName];
    g.Bytes = ContentOf(archive, entry);
    for (const TExtent &x : entry.Extents) {
      g.Ids.push_back(x.Id);
      if (x.HeaderDescAddr == 0) continue;
      g.Own.emplace_back((x.HeaderDescAddr & 0x1FFFFFF) - 16, 32);
      g.Own.emplace_back(x.HeaderDataAddr & 0x1FFFFFF, 16 + 256);
      g.Own.emplace_back(x.DataAddr & 0x1FFFFFF, x.Size);
    }
    g.Reported = archive.ProcessFile(PK_TEST, nullptr) != 0;
    if (g.Reported) g.Problem = archive.Problem(entry);
    g.Directory = (entry.Attr & 0x10) != 0;
  }
  return got;
}

class SampleDamageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sample_ = new sample::Sample(
        sample::BuildSample(sample::ParseDescription(sample::kDefaultDescription)));
    sound_ = new std::map<std::string, Got>(Read(Bytes(), 0xFFFFFFFF));
  }
  static void TearDownTestSuite() {
    delete sound_;
    delete sample_;
  }
  static const std::vector<std::uint8_t> &Bytes() { return sample_->Dump.Data(); }

  // What a damage may change without a structural break, and so what is
  // compared: every file's bytes (a cut changes none without one); the
  // bytes of the file systems' files (raw images and EEPROM blocks are what
  // the bytes say); or only their chains of parts (content bytes too hit).
  enum Compare { kAllBytes, kFileBytes, kChains };

  // Every file both list that differs as `compare` says must be reported;
  // the number that differ.
  static int Check(const std::map<std::string, Got> &damaged, Compare compare,
                   const std::string &what) {
    int differing = 0;
    for (const auto &[path, got] : damaged) {
      const auto sound = sound_->find(path);
      if (sound == sound_->end() || got.Directory || sound->second.Directory) continue;
      const bool fileSystem = !sound->second.Ids.empty() && sound->second.Ids[0] != 0;
      if (compare != kAllBytes && !fileSystem) continue;
      const bool differs =
          compare == kChains ? got.Ids != sound->second.Ids : got.Bytes != sound->second.Bytes;
      if (!differs) continue;
      ++differing;
      EXPECT_TRUE(got.Reported) << what << ": " << path << " differs and was not reported";
    }
    return differing;
  }

  // Every file of the file systems that no damaged byte touched must still
  // be listed somewhere (in its folder, or in LostFiles when its folder or
  // the rest of its chain is gone) under its name, with its bytes. The
  // number checked.
  static int CheckIntactFilesListed(const std::map<std::string, Got> &damaged,
                                    const std::vector<std::uint32_t> &hits,
                                    const std::string &what) {
    std::multimap<std::size_t, const std::string *> byContent;
    auto hashOf = [](const std::vector<std::uint8_t> &bytes) {
      return std::hash<std::string_view>{}(
          std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
    };
    for (const auto &[path, got] : damaged)
      if (!got.Directory) byContent.emplace(hashOf(got.Bytes), &path);
    auto nameOf = [](const std::string &path) { return path.substr(path.find_last_of("/\\") + 1); };
    int checked = 0;
    for (const auto &[path, sound] : *sound_) {
      if (sound.Directory || sound.Own.empty()) continue;
      const bool touched = std::any_of(sound.Own.begin(), sound.Own.end(), [&](const auto &own) {
        const auto from = std::lower_bound(hits.begin(), hits.end(), own.first);
        return from != hits.end() && *from - own.first < own.second;
      });
      if (touched) continue;
      ++checked;
      bool found = false;
      const auto [first, last] = byContent.equal_range(hashOf(sound.Bytes));
      for (auto it = first; it != last && !found; ++it) {
        const std::string name = nameOf(*it->second), soundName = nameOf(path);
        found = damaged.at(*it->second).Bytes == sound.Bytes &&
                (name == soundName || name.starts_with(soundName.substr(0, soundName.rfind('.'))));
      }
      std::string alike;  // what is listed under its name
      for (const auto &[other, got] : damaged)
        if (nameOf(other) == nameOf(path))
          alike += " " + other + " (" + got.Problem + ", " + std::to_string(got.Bytes.size()) +
                   " bytes)";
      EXPECT_TRUE(found) << what << ": " << path << " is intact but not listed;" << alike;
    }
    return checked;
  }

  static sample::Sample *sample_;
  static std::map<std::string, Got> *sound_;
};

sample::Sample *SampleDamageTest::sample_ = nullptr;
std::map<std::string, Got> *SampleDamageTest::sound_ = nullptr;

TEST_F(SampleDamageTest, TheSoundSampleReportsNothing) {
  EXPECT_GT(sound_->size(), 800u);
  for (const auto &[path, got] : *sound_) EXPECT_FALSE(got.Reported) << path;
}

TEST_F(SampleDamageTest, CutsAtDiskBoundariesAndInsideChains) {
  // Each disk's first and last bytes, and the middle of the second part of
  // files chained over several, and just after its header.
  std::vector<std::uint32_t> lengths;
  for (const sample::DiskSummary &disk : sample_->Disks) {
    lengths.push_back(disk.Offset);
    lengths.push_back(disk.Offset + 1);
    lengths.push_back(disk.Offset + disk.Blocks * disk.BlockSize - 1);
  }
  TQuarn archive(TDump::Copy(Bytes().data(), Bytes().size()), PK_OM_LIST);
  int chains = 0;
  for (const TSieFile *entry : archive.Listing()) {
    if (entry->Extents.Count() < 3 || chains++ % 37 != 0) continue;
    const TExtent &second = entry->Extents[1];
    lengths.push_back((second.DataAddr & 0x1FFFFFF) + second.Size / 2);
    lengths.push_back((second.HeaderDataAddr & 0x1FFFFFF) + 8);
  }
  int differing = 0;
  for (const std::uint32_t length : lengths)
    differing += Check(Read(Bytes(), length), kAllBytes, "cut at " + std::to_string(length));
  EXPECT_GT(differing, 20);
}

TEST_F(SampleDamageTest, AThousandRandomBytesOverTheFileSystems) {
  const unsigned seed = 20261209;
  std::printf("SampleDamageTest random bytes seed: %u\n", seed);
  std::mt19937 random(seed);
  int differing = 0;
  int intact = 0;
  for (int round = 0; round < 8; ++round) {
    std::vector<std::uint8_t> dump = Bytes();
    std::vector<std::uint32_t> hits;
    for (int hit = 0; hit < 1000; ++hit) {
      const sample::DiskSummary &disk = sample_->Disks[random() % sample_->Disks.size()];
      const std::uint32_t span = disk.Blocks * disk.BlockSize;
      // Half at the blocks' ends, where descriptors lie, half anywhere.
      std::uint32_t at = disk.Offset + random() % span;
      if (random() % 2 == 0) at = (at | (disk.BlockSize - 1)) - random() % 256;
      dump[at] = static_cast<std::uint8_t>(random());
      hits.push_back(at);
    }
    std::sort(hits.begin(), hits.end());
    const std::map<std::string, Got> damaged = Read(dump, 0xFFFFFFFF);
    const std::string what = "round " + std::to_string(round);
    differing += Check(damaged, kChains, what);
    intact += CheckIntactFilesListed(damaged, hits, what);
  }
  EXPECT_GT(differing, 0);
  EXPECT_GT(intact, 1000);
}

// A listing path, given in UTF-8, as ReadHeader gives it on this platform:
// on Windows with backslashes, in the ANSI code page.
std::string HostPath(std::string path) {
#ifdef _WIN32
  std::replace(path.begin(), path.end(), '/', '\\');
  std::u16string wide;
  if (Utf16FromUtf8(path, wide)) path = NarrowFromWide(wide);
#endif
  return path;
}

TEST_F(SampleDamageTest, DamageOnlyTheReaderCanTell) {
  struct Case {
    const char *What;
    std::function<void(std::vector<std::uint8_t> &)> Damage;
    const char *Path;      // an entry that must be listed
    bool Reported;         // whether testing it fails
    const char *SameAs;    // the sound sample's entry whose bytes it holds, if any
    std::size_t MaxBytes;  // else at most so many bytes
  };
  auto erase = [](std::uint32_t at) {
    return [at](std::vector<std::uint8_t> &d) { std::fill_n(d.begin() + at, 0x10000, 0xFF); };
  };
  const Case cases[] = {
      {"a data chunk's size reaching past its 4 KiB block",
       [](std::vector<std::uint8_t> &d) { d[0x168ef6a] ^= 0x80; }, "FFS_C/SMS/Inbox/sms125.txt",
       true, nullptr, 0x1000},
      {"a flipped bit in the marker of one of nine data chunks",
       [](std::vector<std::uint8_t> &d) { d[0xb6ff21] ^= 0x10; }, "FFS/Pictures/Photo_022.jpg",
       true, nullptr, 100000},
      {"the block of FFS's root folder erased: its folders and files are kept", erase(0xA20000),
       "FFS/LostFiles/Photo_002.jpg", false, "FFS/Pictures/Photo_002.jpg", 0},
      {"a block in the middle of a chain erased: the parts after it are kept", erase(0xCA0000),
       "FFS/LostFiles/песня.mp3", true, nullptr, 716800 - 229376},
  };
  for (const Case &c : cases) {
    std::vector<std::uint8_t> dump = Bytes();
    c.Damage(dump);
    const std::map<std::string, Got> damaged = Read(dump, 0xFFFFFFFF);
    const auto got = damaged.find(HostPath(c.Path));
    ASSERT_NE(got, damaged.end()) << c.What;
    EXPECT_EQ(got->second.Reported, c.Reported) << c.What;
    if (c.SameAs != nullptr)
      EXPECT_EQ(got->second.Bytes, sound_->at(HostPath(c.SameAs)).Bytes) << c.What;
    else
      EXPECT_LE(got->second.Bytes.size(), c.MaxBytes) << c.What;
  }
}

TEST_F(SampleDamageTest, DuplicatedChunkIds) {
  // A live descriptor copied into the first unwritten slot of another block,
  // as a stale copy: its id is there twice, its data offset now into bytes
  // of the other block.
  const unsigned seed = 91226;
  std::printf("SampleDamageTest duplicated ids seed: %u\n", seed);
  std::mt19937 random(seed);
  TQuarn archive(TDump::Copy(Bytes().data(), Bytes().size()), PK_OM_LIST);
  std::vector<const TExtent *> parts;
  for (const TSieFile *entry : archive.Listing())
    for (const TExtent &x : entry->Extents)
      if (x.HeaderDescAddr != 0) parts.push_back(&x);
  int differing = 0;
  for (int round = 0; round < 12; ++round) {
    std::vector<std::uint8_t> dump = Bytes();
    for (int copy = 0; copy < 20; ++copy) {
      const TExtent &x = *parts[random() % parts.size()];
      // The data chunk's descriptor lies next to the header's, one slot below.
      const std::uint32_t desc = (x.HeaderDescAddr & 0x1FFFFFF) - (random() % 2) * 16;
      const sample::DiskSummary *disk = nullptr;
      for (const sample::DiskSummary &d : sample_->Disks)
        if (desc >= d.Offset && desc < d.Offset + d.Blocks * d.BlockSize) disk = &d;
      if (disk == nullptr) continue;
      const std::uint32_t block = disk->Offset + (random() % disk->Blocks) * disk->BlockSize;
      for (std::uint32_t slot = block + disk->BlockSize - 16; slot > block; slot -= 16) {
        if (dump[slot] != 0xFF) continue;
        std::copy(dump.begin() + desc, dump.begin() + desc + 16, dump.begin() + slot);
        break;
      }
    }
    const std::map<std::string, Got> damaged = Read(dump, 0xFFFFFFFF);
    differing += Check(damaged, kFileBytes, "round " + std::to_string(round));
    int reported = 0;
    for (const auto &[path, got] : damaged) reported += got.Reported ? 1 : 0;
    EXPECT_GT(reported, 0) << round;
  }
  // Each file's header is the chunk of its id that holds a sound header, its
  // data the chunk written right after it: a stale copy takes neither's place.
  EXPECT_EQ(differing, 0);
}

}  // namespace
}  // namespace quarn::testing
