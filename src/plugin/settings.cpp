#include "plugin/settings.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <utility>

#include "platform/platform.h"
#include "plugin/file_handle.h"

namespace quarn {

namespace {

// An ini file is read no further than this: a settings file holds a few
// lines, and even the one the packer plugins share never nears it.
constexpr DWORD kMaxIniBytes = 1 << 20;

// What a UTF-16 character outside ASCII reads as: a byte that no section,
// key or value read here holds, and never a line break, '[' or '='.
constexpr char kOtherCharacter = '\xFF';

std::mutex settingsLock;
std::string settingsFile;                   // the host's ini file; empty: none
std::optional<TSettings> settingsOverride;  // a caller's own, over any file

// The first kMaxIniBytes of the file; `cut` tells whether it holds more.
// Nothing when it cannot be opened or read.
std::string ReadStart(const std::string &path, bool &cut) {
  cut = false;
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return {};
  // One byte more than is read tells whether the file goes on; a size that
  // cannot be had (INVALID_FILE_SIZE) asks for the most.
  DWORD sizeHigh = 0;
  const DWORD size = GetFileSize(file.Get(), &sizeHigh);
  const DWORD wanted = sizeHigh != 0 || size >= kMaxIniBytes ? kMaxIniBytes + 1 : size + 1;
  std::string bytes(wanted, '\0');
  DWORD read = 0;
  if (!ReadFile(file.Get(), bytes.data(), wanted, &read, nullptr)) return {};
  cut = read > kMaxIniBytes;
  bytes.resize(std::min(read, kMaxIniBytes));
  return bytes;
}

// The text one character a byte. A UTF-16LE text (BOM FF FE: Total
// Commander writes its ini files so once they hold Unicode) is narrowed into
// `storage`, a character outside ASCII as kOtherCharacter: only ASCII
// matters to what is read here. Otherwise the bytes themselves, past a UTF-8
// BOM.
std::string_view Characters(std::string_view text, std::string &storage) {
  if (text.starts_with("\xFF\xFE")) {
    storage.reserve(text.size() / 2);
    for (std::size_t i = 2; i + 1 < text.size(); i += 2) {
      const auto unit = static_cast<unsigned>(static_cast<std::uint8_t>(text[i])) |
                        static_cast<unsigned>(static_cast<std::uint8_t>(text[i + 1])) << 8;
      storage.push_back(unit < 0x80 ? static_cast<char>(unit) : kOtherCharacter);
    }
    return storage;
  }
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  return text;
}

std::string_view Trim(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameWord(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

// A value without the comment a line may carry after it, past a blank
// ("ShowDeleted=1   ; why").
std::string_view Value(std::string_view text) {
  for (std::size_t i = 1; i < text.size(); ++i) {
    if ((text[i] == ';' || text[i] == '#') && (text[i - 1] == ' ' || text[i - 1] == '\t')) {
      text = text.substr(0, i);
      break;
    }
  }
  return Trim(text);
}

bool IsYes(std::string_view value) {
  return SameWord(value, "1") || SameWord(value, "true") || SameWord(value, "yes") ||
         SameWord(value, "on");
}

// The settings of an ini text given one character a byte.
TSettings ParseCharacters(std::string_view text) {
  TSettings settings;
  bool inQuarn = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close != std::string_view::npos)
        inQuarn = SameWord(Trim(line.substr(1, close - 1)), "Quarn");
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inQuarn || equals == std::string_view::npos) continue;
    if (SameWord(Trim(line.substr(0, equals)), "ShowDeleted"))
      settings.ShowDeleted = IsYes(Value(line.substr(equals + 1)));
  }
  return settings;
}

}  // namespace

void SetSettingsFile(std::string path) {
  try {
    const std::lock_guard lock(settingsLock);
    settingsFile = std::move(path);
  } catch (...) {
    // The lock could not be had: the file named before stays.
  }
}

void SetSettingsOverride(std::optional<TSettings> settings) {
  try {
    const std::lock_guard lock(settingsLock);
    settingsOverride = settings;
  } catch (...) {
  }
}

TSettings OpeningSettings() {
  try {
    std::string path;
    {
      const std::lock_guard lock(settingsLock);
      if (settingsOverride) return *settingsOverride;
      path = settingsFile;
    }
    if (path.empty()) return {};
    bool cut = false;
    const std::string bytes = ReadStart(path, cut);
    std::string storage;
    std::string_view text = Characters(bytes, storage);
    // A line the limit cuts is not read: "ShowDeleted=10" must not read as
    // "ShowDeleted=1".
    if (cut) text = text.substr(0, text.rfind('\n') + 1);
    return ParseCharacters(text);
  } catch (...) {
    return {};
  }
}

TSettings ParseSettings(std::string_view iniText) {
  try {
    std::string storage;
    return ParseCharacters(Characters(iniText, storage));
  } catch (...) {
    return {};
  }
}

}  // namespace quarn
