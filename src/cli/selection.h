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

// A pattern as tar cleans a member name: leading "/" and "./" go, and so do
// doubled separators, "." components and a trailing separator. '/' is the
// separator here; "" is what is left of "/" or ".".
std::string CleanPattern(std::string_view pattern);

// The patterns of one command line. An entry is selected when a pattern
// matches its path or the path of one of its ancestor directories, so a
// directory selects everything below it; a pattern cleaned to nothing ("."
// or "/") selects everything. With no pattern every entry is selected. An
// exclusion, as tar's --exclude, matches any run of whole components of the
// path ("*.jpg" every .jpg at any depth, "LostBlocks" every such folder and
// what is below it), and drops what it matches. Paths are compared with '/'
// as the separator; on Windows '\' is taken as '/' in both and letters
// compare without regard to case.
class Selection {
 public:
  Selection(std::vector<std::string> patterns, PathStyle style,
            std::vector<std::string> excludes = {});

  bool SelectsAll() const { return patterns_.empty() && excludes_.empty(); }
  // Notes which patterns matched, for Unmatched().
  bool Selects(std::string_view entryPath);
  // The patterns (as given) that selected nothing so far.
  std::vector<std::string> Unmatched() const;

 private:
  std::string Normalize(std::string_view path) const;
  bool Excludes(std::string_view path) const;

  std::vector<std::string> given_;
  std::vector<std::string> patterns_;
  std::vector<std::string> excludes_;
  std::vector<bool> used_;
  PathStyle style_;
};

}  // namespace quarn::cli

#endif
