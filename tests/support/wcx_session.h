// Drives the WCX exports as a host does, for the tests.
#ifndef QUARN_TESTS_WCX_SESSION_H
#define QUARN_TESTS_WCX_SESSION_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "wcxhead.h"

namespace quarn::testing {

// One listed entry as the host saw it.
struct Listed {
  std::string Path;
  int PackSize;
  int UnpSize;
  int FileTime;
  int FileAttr;
};

// The host's path separator and the Linux conventions of the records.
#ifdef _WIN32
constexpr char kHostSeparator = '\\';
#else
constexpr char kHostSeparator = '/';
#endif

class WcxArchive {
 public:
  explicit WcxArchive(const std::string &path, int mode = PK_OM_LIST) : path_(path) {
    tOpenArchiveData data{};
    data.ArcName = path_.data();
    data.OpenMode = mode;
    data.OpenResult = -1;
    handle_ = OpenArchive(&data);
    openResult_ = data.OpenResult;
  }
  WcxArchive(const WcxArchive &) = delete;
  WcxArchive &operator=(const WcxArchive &) = delete;
  ~WcxArchive() { Close(); }

  void *Handle() const { return handle_; }
  int OpenResult() const { return openResult_; }
  int Close() {
    int result = 0;
    if (handle_ != nullptr) result = CloseArchive(handle_);
    handle_ = nullptr;
    return result;
  }

  // ReadHeader into a record prefilled with `fill`; its result.
  int Next(tHeaderData &header, std::uint8_t fill = 0xCC) {
    std::memset(&header, fill, sizeof header);
    return ReadHeader(handle_, &header);
  }

  // The whole listing, with PK_SKIP after each entry as Double Commander does.
  std::vector<Listed> List() {
    std::vector<Listed> entries;
    tHeaderData header;
    while (Next(header) == 0) {
      entries.push_back(
          {header.FileName, header.PackSize, header.UnpSize, header.FileTime, header.FileAttr});
      char empty[] = "";
      ProcessFile(handle_, PK_SKIP, nullptr, empty);
    }
    return entries;
  }

  // Moves to the entry at `path` (host form); whether it was found.
  bool SeekTo(const std::string &path) {
    tHeaderData header;
    while (Next(header) == 0)
      if (path == header.FileName) return true;
    return false;
  }

  int Extract(const std::string &target) {
    std::string copy = target;
    return ProcessFile(handle_, PK_EXTRACT, nullptr, copy.data());
  }

 private:
  std::string path_;
  void *handle_ = nullptr;
  int openResult_ = -1;
};

}  // namespace quarn::testing

#endif
