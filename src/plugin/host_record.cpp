#include "plugin/host_record.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/host_path.h"
#include "platform/platform.h"
#include "util/utf8.h"

namespace quarn {

#ifdef _WIN32

namespace {

// Attribute bits the listing shows: read-only, hidden, system, directory,
// archive.
constexpr std::uint32_t kListedAttributes = 0x37;

}  // namespace

std::int32_t HostFileTime(std::uint16_t dosDate, std::uint16_t dosTime) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(dosDate) << 16) | dosTime);
}

std::int32_t HostFileAttr(std::uint32_t attr) {
  return static_cast<std::int32_t>(attr & kListedAttributes);
}

#else

std::int32_t HostFileTime(std::uint16_t dosDate, std::uint16_t dosTime) {
  // The DOS date and time read as UTC, as the extracted file's own times are.
  FILETIME time{};
  if (!DosDateTimeToFileTime(dosDate, dosTime, &time)) return 0;
  const auto ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  constexpr std::uint64_t kTicksPerSecond = 10000000;
  constexpr std::uint64_t kUnixEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
  const std::uint64_t seconds = ticks / kTicksPerSecond - kUnixEpochSeconds;
  // The field is a signed 32-bit count: dates after 2038-01-19 are clamped.
  return seconds > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<std::int32_t>(seconds);
}

std::int32_t HostFileAttr(std::uint32_t attr) {
  constexpr std::uint32_t kDirectory = 0040000;
  constexpr std::uint32_t kRegular = 0100000;
  std::uint32_t mode = (attr & FILE_ATTRIBUTE_DIRECTORY) != 0 ? kDirectory | 0755 : kRegular | 0644;
  if ((attr & FILE_ATTRIBUTE_READONLY) != 0) mode &= ~0222u;
  return static_cast<std::int32_t>(mode);
}

#endif

namespace {

// The fields from Flags to FileAttr, which every record has alike.
template <typename Record>
void FillCommon(Record &header, const TSieFile &entry) {
  header.Flags = 0;
  header.PackSize = static_cast<std::uint32_t>(entry.Size);
  header.PackSizeHigh = static_cast<std::uint32_t>(entry.Size >> 32);
  header.UnpSize = static_cast<std::uint32_t>(entry.Size);
  header.UnpSizeHigh = static_cast<std::uint32_t>(entry.Size >> 32);
  header.HostOS = 0;
  header.FileTime = HostFileTime(entry.Date, entry.Time);
  header.UnpVer = 0;
  header.Method = 0;
  header.FileAttr = HostFileAttr(entry.Attr);
}

// `text` into a field of `capacity` units, cut to capacity - 1 and ended by
// a NUL; a UTF-16 cut never splits a surrogate pair.
void CopyInto(WCX_WCHAR *field, std::size_t capacity, std::u16string_view text) {
  const std::size_t used = Utf16Cut(text, capacity - 1);
  for (std::size_t i = 0; i < used; ++i) field[i] = static_cast<WCX_WCHAR>(text[i]);
  field[used] = 0;
}

}  // namespace

void FillHeader(tHeaderDataEx &header, const std::string &arcName, const TSieFile &entry,
                std::string_view path) {
  const std::size_t arcLength = std::min(arcName.size(), sizeof header.ArcName - 1);
  std::memcpy(header.ArcName, arcName.data(), arcLength);
  header.ArcName[arcLength] = '\0';
  HostPathInto(header.FileName, sizeof header.FileName, path);
  FillCommon(header, entry);
  // Nothing past FileAttr: hosts disagree on where the comment fields lie.
}

void FillHeader(tHeaderDataExW &header, const std::u16string &arcName, const TSieFile &entry,
                std::u16string_view path) {
  CopyInto(header.ArcName, std::size(header.ArcName), arcName);
  CopyInto(header.FileName, std::size(header.FileName), HostName(path));
  FillCommon(header, entry);
}

void FillHeader(tHeaderData &header, const char (&arcName)[260], const TSieFile &entry,
                std::string_view path) {
  std::memcpy(header.ArcName, arcName, sizeof header.ArcName);
  HostPathInto(header.FileName, sizeof header.FileName, path);
  header.Flags = 0;
  // The record holds the low 32 bits; ReadHeaderEx and ReadHeaderExW give
  // the whole size.
  header.PackSize = static_cast<int>(static_cast<std::uint32_t>(entry.Size));
  header.UnpSize = static_cast<int>(static_cast<std::uint32_t>(entry.Size));
  header.HostOS = 0;
  header.FileTime = HostFileTime(entry.Date, entry.Time);
  header.UnpVer = 0;
  header.Method = 0;
  header.FileAttr = HostFileAttr(entry.Attr);
#if defined(_WIN32) && !defined(_WIN64)
  header.CmtBuf = nullptr;
  header.CmtBufSize = 0;
  header.CmtSize = 0;
  header.CmtState = 0;
#endif
  // On 64-bit hosts nothing past FileAttr is written: hosts disagree on
  // where the comment fields lie there.
}

}  // namespace quarn
