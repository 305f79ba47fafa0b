// File times and attributes of the Linux stand-in: the birth time (statx) as
// the creation time, access and write times to the nanosecond.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>

#include "platform/linux_internal.h"
#include "platform/platform.h"

namespace quarn::platform {
namespace {

// Windows keeps FILETIME from 1601 on; earlier or far later stamps are pinned
// to the ends of the range rather than wrapped.
FILETIME FileTimeOfTimestamp(std::int64_t seconds, std::uint32_t nanoseconds) {
  constexpr std::int64_t kLastSecond =
      static_cast<std::int64_t>(UINT64_MAX / kTicksPerSecond) - kSecondsFrom1601To1970 - 1;
  if (seconds < -kSecondsFrom1601To1970) return FileTimeOf(0);
  if (seconds > kLastSecond) return FileTimeOf(UINT64_MAX);
  const auto whole = static_cast<std::uint64_t>(seconds + kSecondsFrom1601To1970);
  return FileTimeOf(whole * kTicksPerSecond + nanoseconds / 100);
}

// The timespec SetFileTime sets: a null or zero FILETIME leaves the time
// alone, and so does all ones (on Windows it stops the system's own updates
// for the handle, which Linux cannot do). False for a value past the range.
bool TimespecOfFileTime(const FILETIME *time, timespec *result) {
  result->tv_sec = 0;
  result->tv_nsec = UTIME_OMIT;
  if (time == nullptr) return true;
  const std::uint64_t ticks = TicksOf(*time);
  if (ticks == 0 || ticks == UINT64_MAX) return true;
  if (ticks > static_cast<std::uint64_t>(INT64_MAX)) return false;
  result->tv_sec = static_cast<time_t>(static_cast<std::int64_t>(ticks / kTicksPerSecond) -
                                       kSecondsFrom1601To1970);
  result->tv_nsec = static_cast<long>(ticks % kTicksPerSecond) * 100;
  return true;
}

}  // namespace
}  // namespace quarn::platform

using namespace quarn::platform;

BOOL GetFileTime(HANDLE file, FILETIME *creation, FILETIME *lastAccess, FILETIME *lastWrite) {
  const int descriptor = ValidDescriptor(file);
  if (descriptor < 0) return FALSE;
  FILETIME born = FileTimeOf(0);
  FILETIME accessed;
  FILETIME modified;
  struct statx extended;
  constexpr unsigned kWanted = STATX_BTIME | STATX_ATIME | STATX_MTIME;
  if (statx(descriptor, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, kWanted, &extended) == 0 &&
      (extended.stx_mask & (STATX_ATIME | STATX_MTIME)) == (STATX_ATIME | STATX_MTIME)) {
    if ((extended.stx_mask & STATX_BTIME) != 0) {
      born = FileTimeOfTimestamp(extended.stx_btime.tv_sec, extended.stx_btime.tv_nsec);
    }
    accessed = FileTimeOfTimestamp(extended.stx_atime.tv_sec, extended.stx_atime.tv_nsec);
    modified = FileTimeOfTimestamp(extended.stx_mtime.tv_sec, extended.stx_mtime.tv_nsec);
  } else {
    // Kernels or sandboxes without statx: no birth time.
    struct stat status;
    if (fstat(descriptor, &status) != 0) {
      SetLastErrorFromErrno(errno);
      return FALSE;
    }
    accessed = FileTimeOfTimestamp(status.st_atim.tv_sec, status.st_atim.tv_nsec);
    modified = FileTimeOfTimestamp(status.st_mtim.tv_sec, status.st_mtim.tv_nsec);
  }
  if (creation != nullptr) *creation = born;
  if (lastAccess != nullptr) *lastAccess = accessed;
  if (lastWrite != nullptr) *lastWrite = modified;
  return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME * /*creation*/, const FILETIME *lastAccess,
                 const FILETIME *lastWrite) {
  const int descriptor = ValidDescriptor(file);
  if (descriptor < 0) return FALSE;
  timespec times[2];
  if (!TimespecOfFileTime(lastAccess, &times[0]) || !TimespecOfFileTime(lastWrite, &times[1])) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (times[0].tv_nsec == UTIME_OMIT && times[1].tv_nsec == UTIME_OMIT) return TRUE;
  if (futimens(descriptor, times) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

BOOL SetFileAttributesA(LPCSTR name, DWORD attributes) {
  if (name == nullptr) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct stat status;
  if (stat(name, &status) != 0) {
    SetLastErrorCode(PathError(name, errno));
    return FALSE;
  }
  // The host chose the directory's permissions when it made it.
  if (S_ISDIR(status.st_mode)) return TRUE;
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return TRUE;
  const mode_t permissions = status.st_mode & 07777;
  const mode_t readOnly = permissions & ~static_cast<mode_t>(0222);
  if (readOnly != permissions && chmod(name, readOnly) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes) {
  std::string narrow;
  if (!NarrowFileName(name, narrow)) return FALSE;
  return SetFileAttributesA(narrow.c_str(), attributes);
}
