// No two entries of a listing share a path. A damaged dump can make them do
// so: two EEPROM blocks of one id, two disks of one name, a folder's two
// children of one name (on Windows also names that differ only in case), a
// name that holds a backslash, paths cut to their limit. Where that happens,
// every entry after the first (in listing order) gets " (2)", " (3)"...
// before its extension, the first number that collides with nothing else:
// "eeprom 1_34 (2).bin". Paths are compared as the host's file system
// compares them: case-blind on Windows, byte by byte on Linux.
//
// Each interface has its own names: the narrow ones (the ANSI code page on
// Windows, UTF-8 on Linux; at most 255 bytes) and the UTF-16 ones of the
// Unicode interface (at most 1023 units). Where two names meet in one and
// not in the other (two Cyrillic names the ANSI code page writes alike),
// only the one they meet in numbers them.
#ifndef QUARN_ENTRIES_UNIQUE_NAMES_H
#define QUARN_ENTRIES_UNIQUE_NAMES_H

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "entries/sie_file.h"

namespace quarn {

// Renames children of one entry that share a name with an earlier child, in
// every folder of the tree below `top` (top included): their Name, or with
// `wide` their WideName.
void RenameDuplicateChildren(TSieFile &top, bool wide = false);

// `name` with " (number)" before its extension, its stem cut so that the
// whole fits in `limit` units without splitting a character. The extension
// is what follows the last dot of the last piece (a first dot starts no
// extension).
std::string NumberedName(std::string_view name, int number,
                         std::size_t limit = TSieFile::kMaxShortName);
std::u16string NumberedName(std::u16string_view name, int number,
                            std::size_t limit = TSieFile::kMaxWideName);

// The one rule for duplicates, for names in a folder and for whole paths
// alike: where several of `names` meet as the host compares them, every one
// after the first (in the order given) gets NumberedName with the first
// number from 2 up that meets none of `names` and no new name given before.
// The new names with their indexes, in that order.
std::vector<std::pair<std::size_t, std::string>> NumberApart(
    const std::vector<std::string_view> &names, std::size_t limit = TSieFile::kMaxShortName);
std::vector<std::pair<std::size_t, std::u16string>> NumberApart(
    const std::vector<std::u16string_view> &names, std::size_t limit = TSieFile::kMaxWideName);

// The form in which the host's file system compares a name or path: its
// host form, upper-cased on Windows.
std::string HostKey(std::string_view name);
std::u16string HostKey(std::u16string_view name);

}  // namespace quarn

#endif
