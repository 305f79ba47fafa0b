// The operating-system calls Quarn makes. On Windows they are the real Win32
// API; on Linux a small stand-in of our own gives the same calls the Windows
// meaning the rest of the code relies on:
//   - FILETIME counts 100 ns intervals since 1601-01-01 (UTC unless a call
//     says it holds local time);
//   - DOS date and time pack year-1980/month/day and hour/minute/second÷2;
//   - local time is the system's time zone (TZ, /etc/localtime);
//   - a file's creation time is the file system's birth time (statx), or
//     zero where the file system keeps none;
//   - the narrow ("ANSI") code page is UTF-8.
#ifndef QUARN_PLATFORM_H
#define QUARN_PLATFORM_H

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#else  // Linux stand-in

#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using HANDLE = void *;
using LPCSTR = const char *;
using WCHAR = char16_t;
using LPCWSTR = const WCHAR *;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#define INVALID_SET_FILE_POINTER (static_cast<DWORD>(-1))
#define INVALID_FILE_SIZE (static_cast<DWORD>(0xFFFFFFFF))

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD GENERIC_ALL = 0x10000000;
constexpr DWORD FILE_WRITE_ATTRIBUTES = 0x100;

constexpr DWORD FILE_SHARE_READ = 1;
constexpr DWORD FILE_SHARE_WRITE = 2;
constexpr DWORD FILE_SHARE_DELETE = 4;

constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;

// Errors that GetLastError reports; the stand-in maps errno onto them.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_HANDLE_DISK_FULL = 39;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_DIRECTORY = 267;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;

constexpr DWORD MB_ERR_INVALID_CHARS = 8;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;

// Files. A HANDLE is a file descriptor. Opening a directory needs
// FILE_FLAG_BACKUP_SEMANTICS, as on Windows. Share modes are accepted and not
// enforced. CreateFileA sets the last error on failure; OPEN_ALWAYS sets it
// to ERROR_ALREADY_EXISTS when the file was there before, as Windows does.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void *security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
// The same with a UTF-16 name, which is written in UTF-8 to reach the file
// system; a name that is not valid UTF-16 (a lone surrogate) names no file
// (ERROR_NO_UNICODE_TRANSLATION).
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void *security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
DWORD GetFileSize(HANDLE file, DWORD *sizeHigh);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG *distanceHigh, DWORD method);
BOOL ReadFile(HANDLE file, void *buffer, DWORD toRead, DWORD *read, void *overlapped);
BOOL WriteFile(HANDLE file, const void *buffer, DWORD toWrite, DWORD *written, void *overlapped);
BOOL SetEndOfFile(HANDLE file);
BOOL CloseHandle(HANDLE object);
DWORD GetLastError();

// File times: creation is the birth time (zero when the file system keeps
// none); SetFileTime sets last access and last write, and cannot set a
// creation time, which Linux has no call for.
BOOL GetFileTime(HANDLE file, FILETIME *creation, FILETIME *lastAccess, FILETIME *lastWrite);
BOOL SetFileTime(HANDLE file, const FILETIME *creation, const FILETIME *lastAccess,
                 const FILETIME *lastWrite);

// A read-only file loses its write permissions; a directory's permissions are
// left as they are (the host chooses them when it creates the directory).
BOOL SetFileAttributesA(LPCSTR name, DWORD attributes);
BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes);

// Time conversions, with the Windows meaning and limits: DOS dates run from
// 1980-01-01 to 2107-12-31; invalid fields make the call fail.
BOOL FileTimeToDosDateTime(const FILETIME *fileTime, WORD *fatDate, WORD *fatTime);
BOOL DosDateTimeToFileTime(WORD fatDate, WORD fatTime, FILETIME *fileTime);
BOOL FileTimeToLocalFileTime(const FILETIME *utc, FILETIME *local);
BOOL LocalFileTimeToFileTime(const FILETIME *local, FILETIME *utc);
BOOL FileTimeToSystemTime(const FILETIME *fileTime, SYSTEMTIME *systemTime);
BOOL SystemTimeToFileTime(const SYSTEMTIME *systemTime, FILETIME *fileTime);
void GetLocalTime(SYSTEMTIME *systemTime);

// Text. The narrow code page is UTF-8: CP_ACP and CP_UTF8 both encode UTF-8;
// an unpaired surrogate becomes U+FFFD. With dstLen 0 the call returns the
// size needed.
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR *src, int srcLen, char *dst,
                        int dstLen, const char *defaultChar, BOOL *usedDefault);
// UTF-8 to UTF-16: an ill-formed sequence becomes U+FFFD, or with
// MB_ERR_INVALID_CHARS fails the call. With dstLen 0 the call returns the
// size needed.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char *src, int srcLen, WCHAR *dst,
                        int dstLen);
// Upper-cases ASCII letters and every UTF-8 character whose upper-case form
// has the same encoded length; other bytes are left alone.
DWORD CharUpperBuffA(char *text, DWORD length);
// Upper-cases UTF-16 units one by one, as Windows does: surrogates and the
// characters whose upper case lies outside the first plane are left alone.
DWORD CharUpperBuffW(WCHAR *text, DWORD length);
// UTF-8 has no double-byte lead bytes.
BOOL IsDBCSLeadByte(BYTE testChar);

#endif  // _WIN32

#endif
