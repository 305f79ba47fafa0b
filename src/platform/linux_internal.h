// Helpers shared by the pieces of the Linux stand-in; not part of the
// interface the rest of Quarn sees.
#ifndef QUARN_PLATFORM_LINUX_INTERNAL_H
#define QUARN_PLATFORM_LINUX_INTERNAL_H

#ifndef _WIN32

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/platform.h"

namespace quarn::platform {

// 100 ns intervals in a second, and from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
constexpr std::uint64_t kTicksFrom1601To1970 =
    static_cast<std::uint64_t>(kSecondsFrom1601To1970) * kTicksPerSecond;

// Windows error numbers the stand-in reports that the header does not name.
constexpr DWORD kErrorTooManyOpenFiles = 4;
constexpr DWORD kErrorWriteProtect = 19;
constexpr DWORD kErrorGenFailure = 31;
constexpr DWORD kErrorSharingViolation = 32;
constexpr DWORD kErrorNegativeSeek = 131;
constexpr DWORD kErrorFilenameTooLong = 206;
constexpr DWORD kErrorFileTooLarge = 223;
constexpr DWORD kErrorCantResolveFilename = 1921;

void SetLastErrorCode(DWORD code);
// The Windows error closest to an errno value.
DWORD ErrorFromErrno(int error);
inline void SetLastErrorFromErrno(int error) { SetLastErrorCode(ErrorFromErrno(error)); }

// A UTF-16 file name in UTF-8, as the file system takes it; false (with the
// last error set) when it is not valid UTF-16.
bool NarrowFileName(const WCHAR *name, std::string &narrow);

// The descriptor behind a handle, or -1 (with the last error set) for a
// value no open call returns.
int ValidDescriptor(HANDLE handle);
// The Windows error for a failed call on the path `name`: a missing file
// (ERROR_FILE_NOT_FOUND) told from a missing folder on the way to it.
DWORD PathError(const char *name, int error);

inline std::uint64_t TicksOf(const FILETIME &time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline FILETIME FileTimeOf(std::uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace quarn::platform

#endif  // _WIN32

#endif
