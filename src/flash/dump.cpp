#include "flash/dump.h"

#include <algorithm>
#include <cstring>

namespace quarn {

std::unique_ptr<TDump> TDump::Copy(const std::uint8_t *data, std::size_t size,
                                   std::uint16_t arcDate, std::uint16_t arcTime) {
  const auto kept = static_cast<std::uint32_t>(std::min<std::size_t>(size, FlashWindowSize));
  auto bytes = std::make_unique<std::uint8_t[]>(kept == 0 ? 1 : kept);
  if (kept != 0) std::memcpy(bytes.get(), data, kept);
  return std::make_unique<TDump>(std::move(bytes), kept, arcDate, arcTime);
}

}  // namespace quarn
