#include "plugin/load_dump.h"

#include <new>

#include "platform/large_buffer.h"
#include "platform/platform.h"
#include "wcxhead.h"

namespace quarn {

namespace {

// Closes a file handle when it goes out of scope.
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

// DOS date and time of a file time outside what DOS dates can hold: the
// first or the last moment they can.
void ClampedDosDateTime(const FILETIME &time, std::uint16_t &date, std::uint16_t &clock) {
  FILETIME first{};
  DosDateTimeToFileTime(0x0021, 0x0000, &first);  // 1980-01-01 00:00:00
  const auto value = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  const auto firstValue =
      (static_cast<std::uint64_t>(first.dwHighDateTime) << 32) | first.dwLowDateTime;
  if (value < firstValue) {
    date = 0x0021;
    clock = 0x0000;
  } else {
    date = (127 << 9) | (12 << 5) | 31;   // 2107-12-31
    clock = (23 << 11) | (59 << 5) | 29;  // 23:59:58
  }
}

}  // namespace

int LoadDump(const char *path, std::unique_ptr<TDump> &dump) {
  FileHandle file(path != nullptr ? CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                                  : INVALID_HANDLE_VALUE);
  if (!file.Valid()) return E_EOPEN;

  DWORD sizeHigh = 0;
  const DWORD sizeLow = GetFileSize(file.Get(), &sizeHigh);
  const std::uint32_t size =
      (sizeHigh != 0 || sizeLow > FlashWindowSize) ? FlashWindowSize : sizeLow;
  std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[size == 0 ? 1 : size]);
  if (!bytes) return E_NO_MEMORY;
  AdviseLargeBuffer(bytes.get(), size);

  // The dump's own last-write time, as the file system gives it: not
  // shifted to local time.
  std::uint16_t date = 0;
  std::uint16_t time = 0;
  FILETIME written{};
  if (GetFileTime(file.Get(), nullptr, nullptr, &written) &&
      !FileTimeToDosDateTime(&written, &date, &time))
    ClampedDosDateTime(written, date, time);

  DWORD read = 0;
  SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
  const BOOL ok = ReadFile(file.Get(), bytes.get(), size, &read, nullptr);
  file.Close();
  if (!ok || read != size) return E_EREAD;
  dump = std::make_unique<TDump>(std::move(bytes), size, date, time);
  return 0;
}

}  // namespace quarn
