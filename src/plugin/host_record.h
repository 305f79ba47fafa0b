// Filling the host's tHeaderData for one entry, in the host's conventions:
// on Windows the interface's own values; on Linux what Double Commander
// reads there ('/' separators, a Unix st_mode, Unix seconds).
#ifndef QUARN_PLUGIN_HOST_RECORD_H
#define QUARN_PLUGIN_HOST_RECORD_H

#include <cstdint>
#include <string>
#include <string_view>

#include "entries/sie_file.h"
#include "wcxhead.h"

namespace quarn {

// `path` is the entry's listing path (backslash-separated); each record
// takes it in the host's form, cut to what its field holds.
void FillHeader(tHeaderData &header, const char (&arcName)[260], const TSieFile &entry,
                std::string_view path);
// The long records: 1023 bytes or UTF-16 units of name, 64-bit sizes (high
// halves 0: no entry reaches 4 GiB).
void FillHeader(tHeaderDataEx &header, const std::string &arcName, const TSieFile &entry,
                std::string_view path);
void FillHeader(tHeaderDataExW &header, const std::u16string &arcName, const TSieFile &entry,
                std::u16string_view path);

// Listing-side values, exposed for the tests.
std::int32_t HostFileTime(std::uint16_t dosDate, std::uint16_t dosTime);
std::int32_t HostFileAttr(std::uint32_t attr);

}  // namespace quarn

#endif
