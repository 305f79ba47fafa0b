#include <sys/mman.h>

#include <cstdint>

#include "platform/large_buffer.h"
#include "platform/linux_internal.h"

namespace quarn {

void AdviseLargeBuffer(void *data, std::size_t size) {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + size) & ~(kHugePage - 1);
  if (data == nullptr || last <= first) return;
  // Only a hint: where the kernel offers no huge pages the call fails and
  // the buffer stays as it is.
  madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
}

std::unique_ptr<TFileView> TFileView::Map(HANDLE file, std::uint32_t size) {
  const int descriptor = platform::ValidDescriptor(file);
  if (descriptor < 0 || size == 0) return nullptr;
  // Private and read-only: nothing is ever written through the view, and
  // what another program writes to the file may or may not show through.
  void *view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0);
  if (view == MAP_FAILED) return nullptr;
  return std::unique_ptr<TFileView>(new TFileView(view, size));
}

TFileView::~TFileView() { munmap(view_, size_); }

}  // namespace quarn
