#include "plugin/load_dump.h"

#include <algorithm>
#include <new>
#include <vector>

#include "platform/large_buffer.h"
#include "plugin/file_handle.h"
#include "wcxhead.h"

namespace quarn {

namespace {

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

// The rest of a stream whose first `size` bytes are in `bytes` and whose
// next byte is `next`: read to its end or to the window's, then `bytes` and
// `size` hold it all.
int ReadRest(HANDLE file, std::unique_ptr<std::uint8_t[]> &bytes, std::uint32_t &size,
             std::uint8_t next) {
  std::vector<std::uint8_t> all;
  try {
    all.reserve(static_cast<std::size_t>(size) + 0x10000);
    all.assign(bytes.get(), bytes.get() + size);
    all.push_back(next);
    while (all.size() < FlashWindowSize) {
      const std::size_t have = all.size();
      const auto chunk = static_cast<DWORD>(
          std::min<std::size_t>(std::max<std::size_t>(have, 0x10000), FlashWindowSize - have));
      all.resize(have + chunk);
      DWORD read = 0;
      if (!ReadFile(file, all.data() + have, chunk, &read, nullptr)) return E_EREAD;
      all.resize(have + read);
      if (read == 0) break;
    }
  } catch (const std::bad_alloc &) {
    return E_NO_MEMORY;
  }
  std::unique_ptr<std::uint8_t[]> whole(new (std::nothrow) std::uint8_t[all.size()]);
  if (!whole) return E_NO_MEMORY;
  std::copy(all.begin(), all.end(), whole.get());
  bytes = std::move(whole);
  size = static_cast<std::uint32_t>(all.size());
  return 0;
}

}  // namespace

int LoadDump(HANDLE opened, std::unique_ptr<TDump> &dump, bool map) {
  FileHandle file(opened);
  if (!file.Valid()) return E_EOPEN;

  DWORD sizeHigh = 0;
  const DWORD sizeLow = GetFileSize(file.Get(), &sizeHigh);
  std::uint32_t size = (sizeHigh != 0 || sizeLow > FlashWindowSize) ? FlashWindowSize : sizeLow;

  // The dump's own last-write time, as the file system gives it: not
  // shifted to local time.
  std::uint16_t date = 0;
  std::uint16_t time = 0;
  FILETIME written{};
  if (GetFileTime(file.Get(), nullptr, nullptr, &written) &&
      !FileTimeToDosDateTime(&written, &date, &time))
    ClampedDosDateTime(written, date, time);

  if (std::unique_ptr<TFileView> view = map ? TFileView::Map(file.Get(), size) : nullptr) {
    file.Close();
    dump = std::make_unique<TDump>(std::move(view), date, time);
    return 0;
  }
  std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[size == 0 ? 1 : size]);
  if (!bytes) return E_NO_MEMORY;
  AdviseLargeBuffer(bytes.get(), size);

  DWORD read = 0;
  SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
  const BOOL ok = ReadFile(file.Get(), bytes.get(), size, &read, nullptr);
  if (!ok || read != size) return E_EREAD;
  if (size < FlashWindowSize) {
    // A pipe, a character device or another file without a size (its size
    // reads as 0) is read to its end, as far as the window reaches. A
    // regular file is at its end already: one read of nothing tells.
    std::uint8_t probe = 0;
    DWORD more = 0;
    if (!ReadFile(file.Get(), &probe, 1, &more, nullptr)) return E_EREAD;
    if (more == 1) {
      const int result = ReadRest(file.Get(), bytes, size, probe);
      if (result != 0) return result;
    }
  }
  file.Close();
  dump = std::make_unique<TDump>(std::move(bytes), size, date, time);
  return 0;
}

TRecognition RecogniseFile(HANDLE file, std::uint64_t *size) {
  if (file == INVALID_HANDLE_VALUE) return TRecognition::Unreadable;
  DWORD sizeHigh = 0;
  const DWORD sizeLow = GetFileSize(file, &sizeHigh);
  const std::uint64_t bytes = (std::uint64_t{sizeHigh} << 32) | sizeLow;
  if (size != nullptr) *size = bytes;
  char found[sizeof kSignature] = {};
  DWORD read = 0;
  if (bytes == kDumpSize &&
      SetFilePointer(file, kSignatureOffset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
      !ReadFile(file, found, sizeof found, &read, nullptr))
    read = 0;
  CloseHandle(file);
  return Recognise(bytes, found, read);
}

}  // namespace quarn
