// The one large buffer the archive object holds: the whole dump, copied into
// memory, or a view of the dump's file.
//
// Reading 32 MiB into fresh memory costs one page fault per 4 KiB page; on
// Linux the buffer's aligned interior is offered transparent huge pages, so a
// dump loads with a few dozen faults instead of eight thousand. Windows needs
// a privilege for large pages, so there the hint does nothing.
//
// A view costs no copy at all: the pages are the file's own, read when first
// touched. It is for a host that can live with what a view implies (the
// command): the bytes are the file's as they are now, and a page the file no
// longer has, because another program cut the file while it was mapped,
// raises SIGBUS when touched. A host that loads the plugin expects neither,
// so it keeps its copy. Windows offers no view here: a page of a file whose
// network drive went away raises an in-page error that only structured
// exception handling would catch.
#ifndef QUARN_PLATFORM_LARGE_BUFFER_H
#define QUARN_PLATFORM_LARGE_BUFFER_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace quarn {

#ifdef _WIN32
inline void AdviseLargeBuffer(void * /*data*/, std::size_t /*size*/) {}
#else
void AdviseLargeBuffer(void *data, std::size_t size);
#endif

// A read-only view of the first bytes of an open file; unmapped when it goes.
class TFileView {
 public:
  // A view of the first `size` bytes of `file`; none where the file cannot
  // be mapped (a pipe, a device, an empty file) or the system offers none.
  // The file may be closed afterwards.
  static std::unique_ptr<TFileView> Map(HANDLE file, std::uint32_t size);
  ~TFileView();
  TFileView(const TFileView &) = delete;
  TFileView &operator=(const TFileView &) = delete;

  const std::uint8_t *Data() const { return static_cast<const std::uint8_t *>(view_); }
  std::uint32_t Size() const { return size_; }

 private:
  TFileView(void *view, std::uint32_t size) : view_(view), size_(size) {}
  void *view_;
  std::uint32_t size_;
};

#ifdef _WIN32
inline std::unique_ptr<TFileView> TFileView::Map(HANDLE /*file*/, std::uint32_t /*size*/) {
  return nullptr;
}
inline TFileView::~TFileView() = default;
#endif

}  // namespace quarn

#endif
