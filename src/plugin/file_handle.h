// A file handle of the platform layer that closes itself.
#ifndef QUARN_PLUGIN_FILE_HANDLE_H
#define QUARN_PLUGIN_FILE_HANDLE_H

#include "platform/platform.h"

namespace quarn {

// Closes the file when it goes out of scope; INVALID_HANDLE_VALUE, which a
// failed open gives, holds nothing.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle &) = delete;
  FileHandle &operator=(const FileHandle &) = delete;
  ~FileHandle() { Close(); }
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }
  void Close() {
    if (Valid()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

}  // namespace quarn

#endif
