// Where extraction put entries: the destinations learned from the host's
// targets, through either interface, and the fix-up that stamps at close the
// directories an extraction created.
#include <optional>
#include <string>

#include "entries/extract_paths.h"
#include "platform/host_path.h"
#include "platform/platform.h"
#include "plugin/host_text.h"
#include "plugin/quarn.h"
#include "util/civil_date.h"

namespace quarn {

namespace {

// The longest directory path the fix-up will build: no host creates a longer
// one, and a dump cannot make the fix-up build longer ones.
#ifdef _WIN32
constexpr std::size_t kMaxHostPath = 32767;
#else
constexpr std::size_t kMaxHostPath = 4096;
#endif

// Where the last component of a target starts: after its last delimiter,
// passing over the trail bytes of double-byte characters.
std::size_t LastComponent(const std::string &path) {
  std::size_t split = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (IsDBCSLeadByte(c) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (IsPathDelimiter(path[i])) split = i + 1;
  }
  return split;
}
std::size_t LastComponent(const std::u16string &path) {
  std::size_t split = 0;
  for (std::size_t i = 0; i < path.size(); ++i)
    if (path[i] < 0x80 && IsPathDelimiter(static_cast<char>(path[i]))) split = i + 1;
  return split;
}

std::string &DestOf(TSieFile &entry, const std::string *) { return entry.DestDir; }
std::u16string &DestOf(TSieFile &entry, const std::u16string *) { return entry.DestDirW; }
const std::string &NameOf(const TSieFile &entry, const std::string *) { return entry.Name; }
const std::u16string &NameOf(const TSieFile &entry, const std::u16string *) {
  return entry.WideName;
}

template <typename String>
void Learn(TSieFile *entry, const String &target) {
  constexpr const String *kForm = nullptr;
  const auto delimiter = static_cast<typename String::value_type>(kPathDelimiter);
  String path = target;
  // Upwards through the ancestors, one level per step.
  for (TSieFile *e = entry; e != nullptr; e = e->Parent()) {
    if (!DestOf(*e, kForm).empty()) return;
    const std::size_t split = LastComponent(path);
    String dir = path.substr(0, split);
    if (!TQuarn::NameMatches(path.substr(split), HostName(NameOf(*e, kForm)))) return;
    if (e->Parent() != nullptr || !e->FullPath().empty())
      DestOf(*e, kForm) = dir;
    else
      DestOf(*e, kForm) = path + delimiter;  // the nameless root: the target is its directory
    if (!dir.empty()) dir.pop_back();
    path = std::move(dir);
  }
}

HANDLE OpenDirectory(const std::string &path) {
  return CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}
HANDLE OpenDirectory(const std::u16string &path) {
  const std::vector<WCX_WCHAR> name = HostWide(path);
  return CreateFileW(name.data(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}
void SetAttributes(const std::string &path, DWORD attributes) {
  SetFileAttributesA(path.c_str(), attributes);
}
void SetAttributes(const std::u16string &path, DWORD attributes) {
  SetFileAttributesW(HostWide(path).data(), attributes);
}

}  // namespace

void TQuarn::LearnDestination(TSieFile *entry, const std::string &target) { Learn(entry, target); }

void TQuarn::LearnDestination(TSieFile *entry, const std::u16string &target) {
  Learn(entry, target);
}

bool TQuarn::NameMatches(std::string a, std::string b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  CharUpperBuffA(a.data(), static_cast<DWORD>(a.size()));
  CharUpperBuffA(b.data(), static_cast<DWORD>(b.size()));
  return a == b;
}

bool TQuarn::NameMatches(std::u16string a, std::u16string b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  CharUpperBuffW(reinterpret_cast<WCHAR *>(a.data()), static_cast<DWORD>(a.size()));
  CharUpperBuffW(reinterpret_cast<WCHAR *>(b.data()), static_cast<DWORD>(b.size()));
  return a == b;
}

template <typename String>
void TQuarn::FixUpIn() {
  // Only folders the extraction placed, below a destination it learned.
  TExtractPathsOf<String> places(kMaxHostPath);
  for (const TSieFile *entry : listing_) {
    if ((entry->Attr & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
    const std::optional<String> &path = places.PathOf(*entry);
    if (!path) continue;
    const HANDLE dir = OpenDirectory(*path);
    if (dir == INVALID_HANDLE_VALUE) continue;
    FILETIME created{};
    FILETIME localCreated{};
    SYSTEMTIME when{};
    bool stamped = false;
    if (GetFileTime(dir, &created, nullptr, nullptr) &&
        FileTimeToLocalFileTime(&created, &localCreated) &&
        FileTimeToSystemTime(&localCreated, &when) &&
        DaysSince1899(when.wYear, when.wMonth, when.wDay, when.wHour, when.wMinute, when.wSecond,
                      when.wMilliseconds) > openedAt_) {
      // Created after the archive was opened: by this extraction. The
      // entry's DOS date and time count as local time here.
      FILETIME local{};
      FILETIME utc{};
      if (DosDateTimeToFileTime(entry->Date, entry->Time, &local) &&
          LocalFileTimeToFileTime(&local, &utc))
        SetFileTime(dir, &utc, &utc, &utc);
      stamped = true;
    }
    CloseHandle(dir);
    if (stamped) SetAttributes(*path, entry->Attr);
  }
}

void TQuarn::FixUpDirectories() {
  // Failures here are silent: the archive is being closed. Destinations
  // learned through either interface are stamped through the same one.
  try {
    FixUpIn<std::string>();
    if (wide_) FixUpIn<std::u16string>();
  } catch (...) {
  }
}

}  // namespace quarn
