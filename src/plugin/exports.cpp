// The WCX exports. Each is a thin forward to the archive object inside a
// catch-all: no exception ever reaches the host.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "flash/dump_format.h"
#include "platform/platform.h"
#include "plugin/load_dump.h"
#include "plugin/quarn.h"
#include "plugin/settings.h"
#include "wcxhead.h"

using quarn::TQuarn;

namespace {

TQuarn *ArchiveOf(void *handle) { return TQuarn::FromHandle(handle); }

// Whether the file opened as `file` is a dump; the file is closed.
bool IsDump(HANDLE file) { return quarn::RecogniseFile(file) == quarn::TRecognition::Dump; }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens an archive from the host's record, narrow or UTF-16.
template <typename Record>
void *Open(Record *data) {
  if (data == nullptr) return nullptr;
  try {
    auto archive = std::make_unique<TQuarn>(data);
    if (!archive->Opened()) {
      if (data->OpenResult == 0) data->OpenResult = E_BAD_ARCHIVE;
      return nullptr;
    }
    return archive.release();
  } catch (...) {
    data->OpenResult = E_NO_MEMORY;
    return nullptr;
  }
}

// Runs `call` on the archive behind `handle`: E_BAD_ARCHIVE for a handle
// that names none, E_NO_MEMORY for anything raised.
template <typename Call>
int WithArchive(void *handle, Call call) {
  TQuarn *archive = ArchiveOf(handle);
  if (archive == nullptr) return E_BAD_ARCHIVE;
  try {
    return call(*archive);
  } catch (...) {
    return E_NO_MEMORY;
  }
}

// The ini file a host's record names: DefaultIniName to its NUL, read no
// further than the record's own size, which may exceed this declaration's
// (Double Commander's longer MAX_PATH on Linux). A record too short to hold
// any of the name, or whose name has no NUL within it, names none.
std::string IniFileOf(const PackDefaultParamStruct *record) {
  constexpr std::size_t kNameOffset = offsetof(PackDefaultParamStruct, DefaultIniName);
  if (record == nullptr || record->size <= static_cast<int>(kNameOffset)) return {};
  const char *name = reinterpret_cast<const char *>(record) + kNameOffset;
  const auto *end = static_cast<const char *>(
      std::memchr(name, '\0', static_cast<std::size_t>(record->size) - kNameOffset));
  return end == nullptr ? std::string() : std::string(name, end);
}

}  // namespace

extern "C" {

WCX_EXPORT void *WCX_CALL OpenArchive(tOpenArchiveData *ArchiveData) { return Open(ArchiveData); }

WCX_EXPORT void *WCX_CALL OpenArchiveW(tOpenArchiveDataW *ArchiveData) { return Open(ArchiveData); }

WCX_EXPORT int WCX_CALL ReadHeader(void *hArcData, tHeaderData *HeaderData) {
  if (HeaderData == nullptr) return E_BAD_ARCHIVE;
  return WithArchive(hArcData, [&](TQuarn &archive) { return archive.ReadHeader(HeaderData); });
}

WCX_EXPORT int WCX_CALL ReadHeaderEx(void *hArcData, tHeaderDataEx *HeaderData) {
  if (HeaderData == nullptr) return E_BAD_ARCHIVE;
  return WithArchive(hArcData, [&](TQuarn &archive) { return archive.ReadHeaderEx(HeaderData); });
}

WCX_EXPORT int WCX_CALL ReadHeaderExW(void *hArcData, tHeaderDataExW *HeaderData) {
  if (HeaderData == nullptr) return E_BAD_ARCHIVE;
  return WithArchive(hArcData, [&](TQuarn &archive) { return archive.ReadHeaderExW(HeaderData); });
}

WCX_EXPORT int WCX_CALL ProcessFile(void *hArcData, int Operation, char * /*DestPath*/,
                                    char *DestName) {
  return WithArchive(hArcData,
                     [&](TQuarn &archive) { return archive.ProcessFile(Operation, DestName); });
}

WCX_EXPORT int WCX_CALL ProcessFileW(void *hArcData, int Operation, WCX_WCHAR * /*DestPath*/,
                                     WCX_WCHAR *DestName) {
  return WithArchive(hArcData,
                     [&](TQuarn &archive) { return archive.ProcessFileW(Operation, DestName); });
}

WCX_EXPORT int WCX_CALL CloseArchive(void *hArcData) {
  // The one place the handle comes back: the archive object is destroyed
  // here, and its destructor catches whatever its fix-up might raise.
  delete ArchiveOf(hArcData);
  return 0;
}

WCX_EXPORT void WCX_CALL SetChangeVolProc(void *hArcData, tChangeVolProc pChangeVolProc1) {
  if (TQuarn *archive = ArchiveOf(hArcData)) archive->SetChangeVolProc(pChangeVolProc1);
}

WCX_EXPORT void WCX_CALL SetChangeVolProcW(void *hArcData, tChangeVolProcW pChangeVolProc1) {
  if (TQuarn *archive = ArchiveOf(hArcData)) archive->SetChangeVolProcW(pChangeVolProc1);
}

WCX_EXPORT void WCX_CALL SetProcessDataProc(void *hArcData, tProcessDataProc pProcessDataProc) {
  if (TQuarn *archive = ArchiveOf(hArcData)) archive->SetProcessDataProc(pProcessDataProc);
}

WCX_EXPORT void WCX_CALL SetProcessDataProcW(void *hArcData, tProcessDataProcW pProcessDataProc) {
  if (TQuarn *archive = ArchiveOf(hArcData)) archive->SetProcessDataProcW(pProcessDataProc);
}

WCX_EXPORT int WCX_CALL CanYouHandleThisFile(char *FileName) {
  if (FileName == nullptr) return 0;
  try {
    return IsDump(CreateFileA(FileName, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr))
               ? 1
               : 0;
  } catch (...) {
    return 0;
  }
}

WCX_EXPORT int WCX_CALL CanYouHandleThisFileW(WCX_WCHAR *FileName) {
  if (FileName == nullptr) return 0;
  try {
    return IsDump(CreateFileW(FileName, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr))
               ? 1
               : 0;
  } catch (...) {
    return 0;
  }
}

WCX_EXPORT int WCX_CALL GetPackerCaps(void) { return PK_CAPS_BY_CONTENT; }

// Two archives share nothing: each may be listed and extracted on a thread
// of its own, also while another is open on another.
WCX_EXPORT int WCX_CALL GetBackgroundFlags(void) { return BACKGROUND_UNPACK; }

// Called once the host has loaded the plugin. The name is copied: nothing of
// the record is kept.
WCX_EXPORT void WCX_CALL PackSetDefaultParams(PackDefaultParamStruct *dps) {
  try {
    quarn::SetSettingsFile(IniFileOf(dps));
  } catch (...) {
  }
}

}  // extern "C"
