// Names and listing paths as the listing shows them: a short name's cut at
// 255 bytes, "." and ".." pieces escaped, a disk's entries named. The join of
// one step of a path is TSieFile::JoinPath and AppendJoinedPath (defined in
// listing_path.cpp, with the rest of the rules a path is made by); numbering
// duplicates apart is unique_names.h's.
#ifndef QUARN_ENTRIES_LISTING_PATH_H
#define QUARN_ENTRIES_LISTING_PATH_H

#include <string>
#include <string_view>

#include "entries/sie_file.h"

namespace quarn {

// Cuts a byte string to a short name's length.
std::string ShortName(std::string text);

// A name as it may stand in a listing path: every piece between backslashes
// or slashes that is exactly "." or ".." has its dots written as "%2E", so no
// name can lead a host out of the folder it extracts into.
std::string EscapeDotPieces(const std::string &name);
// The same in UTF-16, cut to kMaxWideName units.
std::u16string EscapeDotPieces(std::u16string_view name);

// The name a disk's entries are listed under: the disk's name with `suffix`
// (".BIN" for its raw image, nothing for its root directory), as any other
// name is escaped and cut.
std::string DiskEntryName(const std::string &diskName, std::string_view suffix = {});

}  // namespace quarn

#endif
