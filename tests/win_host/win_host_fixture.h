// The WinHost fixture and the helpers that its tests share.
//
// The built plugin as Total Commander sees it: loaded with LoadLibrary from
// beside this program, its eight exports found by their plain names, and
// driven only through them and the host's records and callbacks. Cross-built
// with mingw-w64, it runs under Wine.
#ifndef QUARN_TESTS_WIN_HOST_FIXTURE_H
#define QUARN_TESTS_WIN_HOST_FIXTURE_H

#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sample_fs.h"
#include "wcxhead.h"
#include "win_plugin.h"

inline std::uint64_t Ticks(const FILETIME &time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline std::vector<unsigned char> ReadAll(const std::string &path) {
  std::vector<unsigned char> bytes;
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(GetFileSize(file, nullptr));
  DWORD read = 0;
  if (!bytes.empty() &&
      !ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
    read = 0;
  bytes.resize(read);
  CloseHandle(file);
  return bytes;
}

inline FILETIME LastWriteTime(const std::string &path) {
  FILETIME written{};
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return written;
  GetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
  return written;
}

// Progress callback: records what the plugin reports, and answers 0 ("stop")
// from the call numbered `stopAt` (counting from 1) on.
struct ProgressLog {
  std::vector<int> Sizes;
  std::vector<std::string> Names;
  std::size_t StopAt = 0;
};
inline ProgressLog progressLog;

inline int WCX_CALL RecordProgress(char *fileName, int size) {
  progressLog.Names.emplace_back(fileName != nullptr ? fileName : "(null)");
  progressLog.Sizes.push_back(size);
  return progressLog.StopAt != 0 && progressLog.Sizes.size() >= progressLog.StopAt ? 0 : 1;
}

class WinHost : public ::testing::Test {
 protected:
  // One dump for the suite: the three-disk dump, with a last-write time set
  // in UTC, at a moment whose DOS date and time differ from the local ones.
  static void SetUpTestSuite() {
    suiteDir_ = NewDirectory("suite");
    dumpPath_ = suiteDir_ + "THREE.BIN";
    quarn::testing::ThreeDiskDump().Save(dumpPath_);
    SYSTEMTIME when{};
    when.wYear = 2021;
    when.wMonth = 12;
    when.wDay = 31;
    when.wHour = 22;
    when.wMinute = 47;
    when.wSecond = 18;
    SystemTimeToFileTime(&when, &dumpTime_);
    const HANDLE file = CreateFileA(dumpPath_.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &dumpTime_));
    CloseHandle(file);
  }
  static void TearDownTestSuite() { RemoveTree(suiteDir_); }

  void SetUp() override {
    ASSERT_TRUE(AllExportsFound())
        << "cannot load " << ProgramDirectory() << QUARN_PLUGIN_NAME << " or find its exports";
    dir_ = NewDirectory(::testing::UnitTest::GetInstance()->current_test_info()->name());
    progressLog = ProgressLog{};
  }
  void TearDown() override { RemoveTree(dir_); }

  // A fresh directory under the temporary directory, with its delimiter.
  static std::string NewDirectory(const std::string &name) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + "quarn-win-host-" +
                             std::to_string(GetCurrentProcessId()) + "-" + name + "\\";
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
  }
  static void RemoveTree(const std::string &dir) {
    WIN32_FIND_DATAA found{};
    const HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
          RemoveTree(dir + name + "\\");
        else
          DeleteFileA((dir + name).c_str());
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
    RemoveDirectoryA(dir.c_str());
  }

  static void *Open(const std::string &path, int mode, int *result = nullptr) {
    tOpenArchiveData data{};
    data.ArcName = const_cast<char *>(path.c_str());
    data.OpenMode = mode;
    data.OpenResult = -1;
    void *handle = Wcx().OpenArchive(&data);
    if (result != nullptr) *result = data.OpenResult;
    return handle;
  }

  // Reads headers until one names `fileName`; false at the end of the listing.
  static bool SeekTo(void *handle, const std::string &fileName, tHeaderData &header) {
    while (Wcx().ReadHeader(handle, &header) == 0)
      if (fileName == header.FileName) return true;
    return false;
  }

  inline static std::string suiteDir_;
  inline static std::string dumpPath_;
  inline static FILETIME dumpTime_;
  std::string dir_;
};

#endif
