// A hint for the one large buffer the archive object holds: the whole dump.
// Reading 32 MiB into fresh memory costs one page fault per 4 KiB page; on
// Linux the buffer's aligned interior is offered transparent huge pages, so a
// dump loads with a few dozen faults instead of eight thousand. Windows needs
// a privilege for large pages, so there the hint does nothing.
#ifndef QUARN_PLATFORM_LARGE_BUFFER_H
#define QUARN_PLATFORM_LARGE_BUFFER_H

#include <cstddef>

namespace quarn {

#ifdef _WIN32
inline void AdviseLargeBuffer(void * /*data*/, std::size_t /*size*/) {}
#else
void AdviseLargeBuffer(void *data, std::size_t size);
#endif

}  // namespace quarn

#endif
