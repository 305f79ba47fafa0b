// Filling the host's tHeaderData for one entry, in the host's conventions:
// on Windows the interface's own values; on Linux what Double Commander
// reads there ('/' separators, a Unix st_mode, Unix seconds).
#ifndef QUARN_PLUGIN_HOST_RECORD_H
#define QUARN_PLUGIN_HOST_RECORD_H

#include <cstdint>
#include <string_view>

#include "entries/sie_file.h"
#include "wcxhead.h"

namespace quarn {

// `path` is the entry's FullPath.
void FillHeader(tHeaderData &header, const char (&arcName)[260], const TSieFile &entry,
                std::string_view path);

// Listing-side values, exposed for the tests.
std::int32_t HostFileTime(std::uint16_t dosDate, std::uint16_t dosTime);
std::int32_t HostFileAttr(std::uint32_t attr);

}  // namespace quarn

#endif
