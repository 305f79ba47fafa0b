// No two entries of a listing share a path. A damaged dump can make them do
// so: two EEPROM blocks of one id, two disks of one name, a folder's two
// children of one name (on Windows also names that differ only in case), a
// name that holds a backslash, paths cut to their 255 bytes. Where that
// happens, every entry after the first (in listing order) gets " (2)",
// " (3)"... before its extension, the first number that collides with
// nothing else: "eeprom 1_34 (2).bin". Paths are compared as the host's file
// system compares them: case-blind on Windows, byte by byte on Linux.
#ifndef QUARN_ENTRIES_UNIQUE_NAMES_H
#define QUARN_ENTRIES_UNIQUE_NAMES_H

#include <cstddef>
#include <string>
#include <string_view>

#include "entries/sie_file.h"

namespace quarn {

// Renames children of one entry that share a name with an earlier child, in
// every folder of the tree below `top` (top included).
void RenameDuplicateChildren(TSieFile &top);

// `name` with " (number)" before its extension, its stem cut so that the
// whole fits in `limit` bytes without splitting a character of the narrow
// code page. The extension is what follows the last dot of the last piece
// (a first dot starts no extension).
std::string NumberedName(std::string_view name, int number,
                         std::size_t limit = TSieFile::kMaxShortName);

// The form in which the host's file system compares a name or path: its
// host form, upper-cased on Windows.
std::string HostKey(std::string_view name);

}  // namespace quarn

#endif
