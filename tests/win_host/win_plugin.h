// The built plugin as a Windows host loads it: LoadLibrary from beside this
// program, every export found by its plain name.
#ifndef QUARN_TESTS_WIN_PLUGIN_H
#define QUARN_TESTS_WIN_PLUGIN_H

#include <windows.h>

#include <string>

#include "wcxhead.h"

// In no unnamed namespace: the WinHost fixture, which two files share, calls
// these, and the whole program loads the plugin once, through Wcx().

// The exports, resolved once, as a host resolves them when it loads a plugin.
struct Plugin {
  HMODULE Module = nullptr;
  decltype(&::OpenArchive) OpenArchive = nullptr;
  decltype(&::ReadHeader) ReadHeader = nullptr;
  decltype(&::ProcessFile) ProcessFile = nullptr;
  decltype(&::CloseArchive) CloseArchive = nullptr;
  decltype(&::SetChangeVolProc) SetChangeVolProc = nullptr;
  decltype(&::SetProcessDataProc) SetProcessDataProc = nullptr;
  decltype(&::CanYouHandleThisFile) CanYouHandleThisFile = nullptr;
  decltype(&::GetPackerCaps) GetPackerCaps = nullptr;
  decltype(&::GetBackgroundFlags) GetBackgroundFlags = nullptr;
  decltype(&::OpenArchiveW) OpenArchiveW = nullptr;
  decltype(&::ReadHeaderEx) ReadHeaderEx = nullptr;
  decltype(&::ReadHeaderExW) ReadHeaderExW = nullptr;
  decltype(&::ProcessFileW) ProcessFileW = nullptr;
  decltype(&::SetChangeVolProcW) SetChangeVolProcW = nullptr;
  decltype(&::SetProcessDataProcW) SetProcessDataProcW = nullptr;
  decltype(&::CanYouHandleThisFileW) CanYouHandleThisFileW = nullptr;
  decltype(&::PackSetDefaultParams) PackSetDefaultParams = nullptr;
};

inline std::string ProgramDirectory() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, length);
  return dir.substr(0, dir.find_last_of("\\/") + 1);
}

template <typename Function>
void Resolve(HMODULE module, const char *name, Function &function) {
  // Through the generic function pointer type, which converts to any other.
  function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

inline const Plugin &Wcx() {
  static const Plugin plugin = [] {
    Plugin p;
    p.Module = LoadLibraryA((ProgramDirectory() + QUARN_PLUGIN_NAME).c_str());
    if (p.Module == nullptr) return p;
    Resolve(p.Module, "OpenArchive", p.OpenArchive);
    Resolve(p.Module, "ReadHeader", p.ReadHeader);
    Resolve(p.Module, "ProcessFile", p.ProcessFile);
    Resolve(p.Module, "CloseArchive", p.CloseArchive);
    Resolve(p.Module, "SetChangeVolProc", p.SetChangeVolProc);
    Resolve(p.Module, "SetProcessDataProc", p.SetProcessDataProc);
    Resolve(p.Module, "CanYouHandleThisFile", p.CanYouHandleThisFile);
    Resolve(p.Module, "GetPackerCaps", p.GetPackerCaps);
    Resolve(p.Module, "GetBackgroundFlags", p.GetBackgroundFlags);
    Resolve(p.Module, "OpenArchiveW", p.OpenArchiveW);
    Resolve(p.Module, "ReadHeaderEx", p.ReadHeaderEx);
    Resolve(p.Module, "ReadHeaderExW", p.ReadHeaderExW);
    Resolve(p.Module, "ProcessFileW", p.ProcessFileW);
    Resolve(p.Module, "SetChangeVolProcW", p.SetChangeVolProcW);
    Resolve(p.Module, "SetProcessDataProcW", p.SetProcessDataProcW);
    Resolve(p.Module, "CanYouHandleThisFileW", p.CanYouHandleThisFileW);
    Resolve(p.Module, "PackSetDefaultParams", p.PackSetDefaultParams);
    return p;
  }();
  return plugin;
}

inline bool AllExportsFound() {
  const Plugin &p = Wcx();
  return p.Module != nullptr && p.OpenArchive != nullptr && p.ReadHeader != nullptr &&
         p.ProcessFile != nullptr && p.CloseArchive != nullptr && p.SetChangeVolProc != nullptr &&
         p.SetProcessDataProc != nullptr && p.CanYouHandleThisFile != nullptr &&
         p.GetBackgroundFlags != nullptr && p.OpenArchiveW != nullptr &&
         p.ReadHeaderEx != nullptr && p.ReadHeaderExW != nullptr && p.ProcessFileW != nullptr &&
         p.SetChangeVolProcW != nullptr && p.SetProcessDataProcW != nullptr &&
         p.CanYouHandleThisFileW != nullptr && p.GetPackerCaps != nullptr &&
         p.PackSetDefaultParams != nullptr;
}

#endif
