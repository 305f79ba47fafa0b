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

Selection::Selection(std::vector<std::string> patterns, PathStyle style)
    : given_(std::move(patterns)), used_(given_.size(), false), style_(style) {
  for (const std::string &pattern : given_) {
    std::string normalized = Normalize(pattern);
    while (normalized.size() > 1 && normalized.back() == '/') normalized.pop_back();
    patterns_.push_back(std::move(normalized));
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

bool Selection::Selects(std::string_view entryPath) {
  if (patterns_.empty()) return true;
  const std::string path = Normalize(entryPath);
  bool selected = false;
  for (std::size_t i = 0; i < patterns_.size(); ++i) {
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
  return selected;
}

std::vector<std::string> Selection::Unmatched() const {
  std::vector<std::string> unmatched;
  for (std::size_t i = 0; i < given_.size(); ++i) {
    if (!used_[i]) unmatched.push_back(given_[i]);
  }
  return unmatched;
}

}  // namespace quarn::cli
