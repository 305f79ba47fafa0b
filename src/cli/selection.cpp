#include "cli/selection.h"

namespace quarn::cli {
namespace {

// Matches one bracket expression at pattern[0] == '['. Returns the length of
// the expression, or 0 when it has no closing ']' (then '[' is literal).
std::size_t MatchBracket(std::string_view pattern, char c, bool &matched) {
  std::size_t i = 1;
  bool negate = false;
  if (i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^')) {
    negate = true;
    ++i;
  }
  bool found = false;
  bool first = true;
  for (; i < pattern.size(); ++i) {
    // A ']' right after the opening is a member, not the end.
    if (pattern[i] == ']' && !first) {
      matched = found != negate;
      return i + 1;
    }
    first = false;
    if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
      const auto low = static_cast<unsigned char>(pattern[i]);
      const auto high = static_cast<unsigned char>(pattern[i + 2]);
      const auto value = static_cast<unsigned char>(c);
      if (low <= value && value <= high) found = true;
      i += 2;
    } else if (pattern[i] == c) {
      found = true;
    }
  }
  return 0;
}

}  // namespace

bool GlobMatch(std::string_view pattern, std::string_view path) {
  // Iterative matching with one backtrack point for the last '*': linear in
  // practice, and no recursion however many stars the pattern has. A star
  // cannot cross '/', so backtracking stops at a separator.
  std::size_t p = 0, s = 0;
  std::size_t starP = std::string_view::npos, starS = 0;
  while (s < path.size()) {
    bool advanced = false;
    if (p < pattern.size()) {
      const char pc = pattern[p];
      if (pc == '*') {
        starP = ++p;
        starS = s;
        continue;
      }
      if (pc == '?' && path[s] != '/') {
        ++p;
        ++s;
        advanced = true;
      } else if (pc == '[' && path[s] != '/') {
        bool matched = false;
        const std::size_t length = MatchBracket(pattern.substr(p), path[s], matched);
        if (length == 0 ? path[s] == '[' : matched) {
          p += length == 0 ? 1 : length;
          ++s;
          advanced = true;
        }
      } else if (pc != '?' && pc != '[' && pc == path[s]) {
        ++p;
        ++s;
        advanced = true;
      }
    }
    if (advanced) continue;
    if (starP == std::string_view::npos || path[starS] == '/') return false;
    p = starP;
    s = ++starS;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::string CleanPattern(std::string_view pattern) {
  std::string clean;
  clean.reserve(pattern.size());
  // Component by component: empty ones and "." go.
  for (std::size_t start = 0; start <= pattern.size();) {
    std::size_t end = pattern.find('/', start);
    if (end == std::string_view::npos) end = pattern.size();
    const std::string_view piece = pattern.substr(start, end - start);
    if (!piece.empty() && piece != ".") {
      if (!clean.empty()) clean += '/';
      clean.append(piece);
    }
    start = end + 1;
  }
  return clean;
}

Selection::Selection(std::vector<std::string> patterns, PathStyle style,
                     std::vector<std::string> excludes)
    : given_(std::move(patterns)), used_(given_.size(), false), style_(style) {
  for (const std::string &pattern : given_) patterns_.push_back(CleanPattern(Normalize(pattern)));
  for (const std::string &pattern : excludes) {
    std::string clean = CleanPattern(Normalize(pattern));
    if (!clean.empty()) excludes_.push_back(std::move(clean));
  }
}

std::string Selection::Normalize(std::string_view path) const {
  std::string result(path);
  if (style_ == PathStyle::kWindows) {
    for (char &c : result) {
      if (c == '\\') c = '/';
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return result;
}

bool Selection::Excludes(std::string_view path) const {
  // Every run of whole components: each start after a separator, each end
  // before one.
  for (const std::string &pattern : excludes_) {
    for (std::size_t start = 0; start < path.size();) {
      for (std::size_t end = path.find('/', start);; end = path.find('/', end + 1)) {
        if (end == std::string_view::npos) end = path.size();
        if (GlobMatch(pattern, path.substr(start, end - start))) return true;
        if (end == path.size()) break;
      }
      const std::size_t next = path.find('/', start);
      if (next == std::string_view::npos) break;
      start = next + 1;
    }
  }
  return false;
}

bool Selection::Selects(std::string_view entryPath) {
  if (SelectsAll()) return true;
  const std::string path = Normalize(entryPath);
  bool selected = patterns_.empty();
  for (std::size_t i = 0; i < patterns_.size(); ++i) {
    if (patterns_[i].empty()) {
      used_[i] = true;
      selected = true;
      continue;
    }
    // The path itself, then each ancestor: "a/b/c", "a/b", "a".
    for (std::size_t end = path.size(); end != std::string::npos && end > 0;
         end = path.rfind('/', end - 1)) {
      if (GlobMatch(patterns_[i], std::string_view(path).substr(0, end))) {
        used_[i] = true;
        selected = true;
        break;
      }
    }
  }
  return selected && !Excludes(path);
}

std::vector<std::string> Selection::Unmatched() const {
  std::vector<std::string> unmatched;
  for (std::size_t i = 0; i < given_.size(); ++i) {
    if (!used_[i]) unmatched.push_back(given_[i]);
  }
  return unmatched;
}

}  // namespace quarn::cli
