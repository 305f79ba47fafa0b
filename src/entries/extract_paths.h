// Destination paths: where extraction put an entry on the target disk, from
// the destinations it learned. TSieFile::ExtractDir (defined in
// extract_paths.cpp) gives one entry's folder; TExtractPathsOf gives the
// paths of every entry of a tree, each worked out once.
#ifndef QUARN_ENTRIES_EXTRACT_PATHS_H
#define QUARN_ENTRIES_EXTRACT_PATHS_H

#include <cstddef>
#include <optional>
#include <string>

#include "entries/parent_paths.h"
#include "entries/sie_file.h"

namespace quarn {

// Where extraction put the entries of one tree, from the destinations it
// learned: an entry's path on the target disk is its ExtractDir followed by
// its name in the host's form. Each path is worked out once, for callers that
// ask of every entry of a tree (the directory fix-up at close). For the
// narrow interface, from DestDir and Name; for the Unicode one, from DestDirW
// and WideName.
template <typename String>
class TExtractPathsOf {
 public:
  // Paths longer than `maxLength` count as none, and so do those below them.
  explicit TExtractPathsOf(std::size_t maxLength);
  // None when no learned destination anchors the entry: nothing was
  // extracted into its folder, or above it.
  const std::optional<String> &PathOf(const TSieFile &entry);

 private:
  std::size_t maxLength_;
  TParentPaths<std::optional<String>> paths_;
};

}  // namespace quarn

#endif
