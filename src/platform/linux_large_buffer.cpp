#include <sys/mman.h>

#include <cstdint>

#include "platform/large_buffer.h"

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

}  // namespace quarn
