// Which entries of a listing the user asked for on the command line.
#ifndef QUARN_CLI_SELECTION_H
#define QUARN_CLI_SELECTION_H

#include <string>
#include <string_view>
#include <vector>

#include "cli/safe_path.h"

namespace quarn::cli {

// Shell-style matching of a whole path: '*' is any run of characters and '?'
// any one character, neither crossing a '/'; "[abc]", "[a-z]" and "[!a-z]"
// (or "[^a-z]") are one character of a set. There is no escape character: a
// literal '*' is written "[*]".
bool GlobMatch(std::string_view pattern, std::string_view path);

// The patterns of one command line. An entry is selected when a pattern
// matches its path or the path of one of its ancestor directories, so a
// directory selects everything below it. With no pattern every entry is
// selected. Paths are compared with '/' as the separator; on Windows '\' is
// taken as '/' in both and letters compare without regard to case.
class Selection {
 public:
  Selection(std::vector<std::string> patterns, PathStyle style);

  bool SelectsAll() const { return patterns_.empty(); }
  // Notes which patterns matched, for Unmatched().
  bool Selects(std::string_view entryPath);
  // The patterns (as given) that selected nothing so far.
  std::vector<std::string> Unmatched() const;

 private:
  std::string Normalize(std::string_view path) const;

  std::vector<std::string> given_;
  std::vector<std::string> patterns_;
  std::vector<bool> used_;
  PathStyle style_;
};

}  // namespace quarn::cli

#endif
