// What a built sample holds, and the seeded bytes and small helpers that it is built from.
#ifndef QUARN_TOOLS_SAMPLE_SAMPLE_H
#define QUARN_TOOLS_SAMPLE_SAMPLE_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "description.h"
#include "dump_builder.h"

namespace quarn::sample {

// One file or folder a reader should list, with the content it should give.
struct TreeEntry {
  std::string Path;  // UTF-8, '/' between names, from the dump's top: "FFS/Misc/a.txt"
  bool Dir = false;
  std::vector<std::uint8_t> Bytes;
  bool Stamped = false;  // Date and Time are the entry's own
  std::uint16_t Date = 0;
  std::uint16_t Time = 0;
};

struct DiskSummary {
  std::string Name;
  std::uint32_t Offset = 0;
  std::uint32_t Blocks = 0;
  std::uint32_t BlockSize = 0;
  std::size_t Files = 0;
  std::size_t Dirs = 0;
  std::size_t EepromBlocks = 0;
  std::size_t LostChunks = 0;
  std::size_t DeadSlots = 0;
  std::size_t DeletedFiles = 0;  // what the view of deleted files rebuilds
  std::size_t DeletedDirs = 0;
  std::uint64_t ContentBytes = 0;
};

struct Sample {
  testing::DumpBuilder Dump;
  std::vector<TreeEntry> Tree;     // what a reader lists
  std::vector<TreeEntry> Deleted;  // what its view of deleted files adds: DISK/Deleted/...
  std::vector<DiskSummary> Disks;
};

// splitmix64: small, fast and the same everywhere.
class Prng {
 public:
  explicit Prng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint64_t Pick(const Range &r) { return r.Low + Next() % (r.High - r.Low + 1); }
  void Fill(std::uint8_t *bytes, std::size_t size) {
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
      const std::uint64_t v = Next();
      for (int k = 0; k < 8; ++k) bytes[i + k] = static_cast<std::uint8_t>(v >> (8 * k));
    }
    const std::uint64_t v = Next();
    for (int k = 0; i < size; ++i, ++k) bytes[i] = static_cast<std::uint8_t>(v >> (8 * k));
  }

 private:
  std::uint64_t state_;
};

// A seed of its own for every named thing, so that adding a file leaves the
// content of the others as it was.
inline std::uint64_t SeedFor(std::uint64_t seed, const std::string &key) {
  std::uint64_t h = 0xCBF29CE484222325ull;
  for (const char c : key) h = (h ^ static_cast<std::uint8_t>(c)) * 0x100000001B3ull;
  return h ^ (seed * 0x9E3779B97F4A7C15ull);
}

namespace detail {

inline std::uint32_t Align4(std::size_t n) {
  return static_cast<std::uint32_t>((n + 3) & ~std::size_t{3});
}

inline std::string Joined(const std::vector<std::string> &parts) {
  std::string path;
  for (const std::string &p : parts) {
    if (!path.empty()) path += '/';
    path += p;
  }
  return path;
}

inline std::string Extension(const std::string &name) {
  const std::size_t dot = name.rfind('.');
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  for (char &c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext;
}

// Content: readable text, or pseudo-random bytes behind the signature that
// files of the name's type begin with.
inline std::vector<std::uint8_t> Content(Prng &prng, std::size_t size, bool text,
                                         const std::string &name) {
  std::vector<std::uint8_t> bytes(size);
  if (text) {
    static const char *const kWords[] = {
        "phone", "call",  "flash", "block", "chunk", "memo",   "meeting", "at",   "noon",
        "the",   "a",     "and",   "to",    "call",  "back",   "battery", "low",  "signal",
        "new",   "photo", "ring",  "tone",  "alarm", "friday", "bring",   "list", "of"};
    std::size_t i = 0, column = 0;
    while (i < size) {
      std::string word = kWords[prng.Next() % (sizeof kWords / sizeof *kWords)];
      word += column + word.size() > 70 ? "\n" : " ";
      column = word.back() == '\n' ? 0 : column + word.size();
      for (std::size_t k = 0; k < word.size() && i < size; ++k) bytes[i++] = word[k];
    }
    return bytes;
  }
  prng.Fill(bytes.data(), size);
  static const std::map<std::string, std::string> kMagic = {
      {"jpg", std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11)},
      {"gif", "GIF89a"},
      {"png", "\x89PNG\r\n\x1A\n"},
      {"mid", "MThd"},
      {"mp3", "ID3\x03"},
      {"amr", "#!AMR\n"},
      {"3gp", std::string("\x00\x00\x00\x18"
                          "ftyp3gp4",
                          12)},
      {"jar", "PK\x03\x04"},
      {"zip", "PK\x03\x04"}};
  const auto magic = kMagic.find(Extension(name));
  if (magic != kMagic.end())
    std::memcpy(bytes.data(), magic->second.data(), std::min(size, magic->second.size()));
  return bytes;
}

// The .bid text that goes with an EEPROM block.
inline std::string BlockDescription(int number, int version) {
  return "EEPROM block additional file.\r\nPhone HWid:\r\n 5000 \r\nEEPROM BlockId:\r\n " +
         std::to_string(number) + " \r\nEEPROM BlockVer:\r\n " + std::to_string(version) + " \r\n";
}

}  // namespace detail
}  // namespace quarn::sample

#endif
