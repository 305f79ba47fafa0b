// The WCX exports. Each is a thin forward to the archive object inside a
// catch-all: no exception ever reaches the host.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "flash/dump_format.h"
#include "platform/platform.h"
#include "plugin/quarn.h"
#include "wcxhead.h"

using quarn::TQuarn;

namespace {

TQuarn *ArchiveOf(void *handle) { return TQuarn::FromHandle(handle); }

bool IsDump(const char *fileName) {
  const HANDLE file =
      CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool answer = false;
  DWORD sizeHigh = 0;
  const DWORD sizeLow = GetFileSize(file, &sizeHigh);
  if (sizeHigh == 0 && sizeLow == quarn::kDumpSize &&
      SetFilePointer(file, quarn::kSignatureOffset, nullptr, FILE_BEGIN) !=
          INVALID_SET_FILE_POINTER) {
    char buffer[sizeof quarn::kSignature] = {};
    DWORD read = 0;
    if (ReadFile(file, buffer, sizeof buffer, &read, nullptr))
      answer = std::equal(buffer, buffer + sizeof buffer, quarn::kSignature);
  }
  CloseHandle(file);
  return answer;
}

}  // namespace

extern "C" {

WCX_EXPORT void *WCX_CALL OpenArchive(tOpenArchiveData *ArchiveData) {
  if (ArchiveData == nullptr) return nullptr;
  try {
    auto archive = std::make_unique<TQuarn>(ArchiveData);
    if (!archive->Opened()) {
      if (ArchiveData->OpenResult == 0) ArchiveData->OpenResult = E_BAD_ARCHIVE;
      return nullptr;
    }
    return archive.release();
  } catch (...) {
    ArchiveData->OpenResult = E_NO_MEMORY;
    return nullptr;
  }
}

WCX_EXPORT int WCX_CALL ReadHeader(void *hArcData, tHeaderData *HeaderData) {
  TQuarn *archive = ArchiveOf(hArcData);
  if (archive == nullptr || HeaderData == nullptr) return E_BAD_ARCHIVE;
  try {
    return archive->ReadHeader(HeaderData);
  } catch (...) {
    return E_NO_MEMORY;
  }
}

WCX_EXPORT int WCX_CALL ProcessFile(void *hArcData, int Operation, char * /*DestPath*/,
                                    char *DestName) {
  TQuarn *archive = ArchiveOf(hArcData);
  if (archive == nullptr) return E_BAD_ARCHIVE;
  try {
    return archive->ProcessFile(Operation, DestName);
  } catch (...) {
    return E_NO_MEMORY;
  }
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

WCX_EXPORT void WCX_CALL SetProcessDataProc(void *hArcData, tProcessDataProc pProcessDataProc) {
  if (TQuarn *archive = ArchiveOf(hArcData)) archive->SetProcessDataProc(pProcessDataProc);
}

WCX_EXPORT int WCX_CALL CanYouHandleThisFile(char *FileName) {
  if (FileName == nullptr) return 0;
  try {
    return IsDump(FileName) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

WCX_EXPORT int WCX_CALL GetPackerCaps(void) { return PK_CAPS_BY_CONTENT; }

}  // extern "C"
