// WCX packer-plugin interface: the records, callbacks and codes that pass
// between a file manager (Total Commander, Double Commander) and Quarn.
//
// 32-bit Windows uses the interface's published layout; on 64-bit targets the
// records are packed, as Double Commander declares them (identical to the
// natural layout on i686).
#ifndef QUARN_WCXHEAD_H
#define QUARN_WCXHEAD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Result codes.
#define E_SUCCESS 0
#define E_END_ARCHIVE 10
#define E_NO_MEMORY 11
#define E_BAD_DATA 12
#define E_BAD_ARCHIVE 13
#define E_UNKNOWN_FORMAT 14
#define E_EOPEN 15
#define E_ECREATE 16
#define E_ECLOSE 17
#define E_EREAD 18
#define E_EWRITE 19
#define E_SMALL_BUF 20
#define E_EABORTED 21
#define E_NO_FILES 22
#define E_TOO_MANY_FILES 23
#define E_NOT_SUPPORTED 24

// ProcessFile operations.
#define PK_SKIP 0
#define PK_TEST 1
#define PK_EXTRACT 2

// OpenArchive modes.
#define PK_OM_LIST 0
#define PK_OM_EXTRACT 1

// GetBackgroundFlags bits.
#define BACKGROUND_UNPACK 1
#define BACKGROUND_PACK 2
#define BACKGROUND_MEMPACK 4

// GetPackerCaps bits.
#define PK_CAPS_NEW 1
#define PK_CAPS_MODIFY 2
#define PK_CAPS_MULTIPLE 4
#define PK_CAPS_DELETE 8
#define PK_CAPS_OPTIONS 16
#define PK_CAPS_MEMPACK 32
#define PK_CAPS_BY_CONTENT 64
#define PK_CAPS_SEARCHTEXT 128
#define PK_CAPS_HIDE 256
#define PK_CAPS_ENCRYPT 512

// Calling convention of the exports and of the host's callbacks: stdcall on
// 32-bit Windows, the platform's C convention everywhere else.
#if defined(_WIN32) && !defined(_WIN64)
#define WCX_CALL __stdcall
#else
#define WCX_CALL
#endif

#if defined(_WIN32)
#define WCX_EXPORT __declspec(dllexport)
#else
#define WCX_EXPORT __attribute__((visibility("default")))
#endif

// The wide character of the Unicode interface: 16-bit UTF-16 on every host,
// Linux included (Pascal's WideChar), never a 4-byte wchar_t.
#if defined(_WIN32)
typedef wchar_t WCX_WCHAR;
#elif defined(__cplusplus)
typedef char16_t WCX_WCHAR;
#else
typedef uint16_t WCX_WCHAR;
#endif

typedef int(WCX_CALL *tChangeVolProc)(char *ArcName, int Mode);
typedef int(WCX_CALL *tProcessDataProc)(char *FileName, int Size);
typedef int(WCX_CALL *tChangeVolProcW)(WCX_WCHAR *ArcName, int Mode);
typedef int(WCX_CALL *tProcessDataProcW)(WCX_WCHAR *FileName, int Size);

#pragma pack(push, 1)

typedef struct {
  char *ArcName;
  int OpenMode;
  int OpenResult;
  char *CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
} tOpenArchiveData;

typedef struct {
  char ArcName[260];
  char FileName[260];
  int Flags;
  int PackSize;
  int UnpSize;
  int HostOS;
  int FileCRC;
  int FileTime;
  int UnpVer;
  int Method;
  int FileAttr;
  char *CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
} tHeaderData;

// The Unicode interface and the ANSI one with long names and 64-bit sizes.
// Up to FileAttr every layout agrees, packed or natural; past it hosts may
// differ, and nothing is written there.
typedef struct {
  WCX_WCHAR *ArcName;
  int OpenMode;
  int OpenResult;
  WCX_WCHAR *CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
} tOpenArchiveDataW;

typedef struct {
  char ArcName[1024];
  char FileName[1024];
  int Flags;
  unsigned int PackSize;
  unsigned int PackSizeHigh;
  unsigned int UnpSize;
  unsigned int UnpSizeHigh;
  int HostOS;
  int FileCRC;
  int FileTime;
  int UnpVer;
  int Method;
  int FileAttr;
  char *CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
  char Reserved[1024];
} tHeaderDataEx;

typedef struct {
  WCX_WCHAR ArcName[1024];
  WCX_WCHAR FileName[1024];
  int Flags;
  unsigned int PackSize;
  unsigned int PackSizeHigh;
  unsigned int UnpSize;
  unsigned int UnpSizeHigh;
  int HostOS;
  int FileCRC;
  int FileTime;
  int UnpVer;
  int Method;
  int FileAttr;
  WCX_WCHAR *CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
  char Reserved[1024];
} tHeaderDataExW;

// What a host tells a plugin once it has loaded it: the interface's version
// and the ini file it suggests for the plugin's settings, in the narrow code
// page. DWORD is 32 bits on every host, Linux included. Double Commander's
// MAX_PATH on Linux may exceed 260: the record is `size` bytes long, and
// DefaultIniName runs to its NUL within them.
typedef struct {
  int size;
  unsigned int PluginInterfaceVersionLow;
  unsigned int PluginInterfaceVersionHi;
  char DefaultIniName[260];
} PackDefaultParamStruct;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(tOpenArchiveData) == 20 + 2 * sizeof(void *),
              "tOpenArchiveData: 28 bytes on 32-bit, 36 packed on 64-bit");
static_assert(sizeof(tHeaderData) == 568 + sizeof(void *),
              "tHeaderData: 572 bytes on 32-bit, 576 packed on 64-bit");
static_assert(__builtin_offsetof(tHeaderData, FileAttr) == 552, "tHeaderData layout");
static_assert(__builtin_offsetof(tHeaderData, CmtBuf) == 556, "tHeaderData layout");
static_assert(sizeof(WCX_WCHAR) == 2, "UTF-16 units");
static_assert(__builtin_offsetof(tOpenArchiveDataW, OpenMode) == sizeof(void *), "layout");
static_assert(__builtin_offsetof(tHeaderDataEx, Flags) == 2048, "tHeaderDataEx layout");
static_assert(__builtin_offsetof(tHeaderDataEx, FileAttr) == 2088, "tHeaderDataEx layout");
static_assert(__builtin_offsetof(tHeaderDataExW, Flags) == 4096, "tHeaderDataExW layout");
static_assert(__builtin_offsetof(tHeaderDataExW, FileAttr) == 4136, "tHeaderDataExW layout");
static_assert(__builtin_offsetof(PackDefaultParamStruct, DefaultIniName) == 12,
              "PackDefaultParamStruct layout");
static_assert(sizeof(PackDefaultParamStruct) == 272, "PackDefaultParamStruct layout");
#if !defined(_WIN64) && !defined(__x86_64__)
static_assert(sizeof(tOpenArchiveData) == 28, "tOpenArchiveData layout");
static_assert(sizeof(tHeaderData) == 572, "tHeaderData layout");
#endif
#endif

WCX_EXPORT void *WCX_CALL OpenArchive(tOpenArchiveData *ArchiveData);
WCX_EXPORT int WCX_CALL ReadHeader(void *hArcData, tHeaderData *HeaderData);
WCX_EXPORT int WCX_CALL ProcessFile(void *hArcData, int Operation, char *DestPath, char *DestName);
WCX_EXPORT int WCX_CALL CloseArchive(void *hArcData);
WCX_EXPORT void WCX_CALL SetChangeVolProc(void *hArcData, tChangeVolProc pChangeVolProc1);
WCX_EXPORT void WCX_CALL SetProcessDataProc(void *hArcData, tProcessDataProc pProcessDataProc);
WCX_EXPORT int WCX_CALL CanYouHandleThisFile(char *FileName);
WCX_EXPORT int WCX_CALL GetPackerCaps(void);
WCX_EXPORT int WCX_CALL GetBackgroundFlags(void);
WCX_EXPORT void WCX_CALL PackSetDefaultParams(PackDefaultParamStruct *dps);

WCX_EXPORT void *WCX_CALL OpenArchiveW(tOpenArchiveDataW *ArchiveData);
WCX_EXPORT int WCX_CALL ReadHeaderEx(void *hArcData, tHeaderDataEx *HeaderData);
WCX_EXPORT int WCX_CALL ReadHeaderExW(void *hArcData, tHeaderDataExW *HeaderData);
WCX_EXPORT int WCX_CALL ProcessFileW(void *hArcData, int Operation, WCX_WCHAR *DestPath,
                                     WCX_WCHAR *DestName);
WCX_EXPORT void WCX_CALL SetChangeVolProcW(void *hArcData, tChangeVolProcW pChangeVolProc1);
WCX_EXPORT void WCX_CALL SetProcessDataProcW(void *hArcData, tProcessDataProcW pProcessDataProc);
WCX_EXPORT int WCX_CALL CanYouHandleThisFileW(WCX_WCHAR *FileName);

#ifdef __cplusplus
}
#endif

#endif
