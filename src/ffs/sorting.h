// The two orderings the file-system reader works with: lists sorted by a
// 16-bit key (a chunk's or part's id, a parent id), and the bisection that
// finds the first record of a key in them.
#ifndef QUARN_FFS_SORTING_H
#define QUARN_FFS_SORTING_H

#include <array>
#include <cstdint>
#include <vector>

#include "util/tlist.h"

namespace quarn {

// The smallest index whose key equals `value`, or -1, in a list sorted by
// that key. The first of a run is found, since callers walk the run forward.
template <typename List, typename Key>
inline int FindFirst(const List &list, std::uint32_t value, Key key) {
  if (list.Count() == 0) return -1;
  int lo = 0;
  int hi = list.Count() - 1;
  if (key(list[0]) == value) return 0;
  while (hi - lo > 1) {
    const int mid = lo + (hi - lo) / 2;
    if (key(list[mid]) < value)
      lo = mid;
    else
      hi = mid;
  }
  return key(list[hi]) == value ? hi : -1;
}

// Sorts a list by a 16-bit key, keeping the order of equal keys: two
// counting passes of eight bits each, linear in the items and with tables
// small enough to stay in the cache.
template <typename T, typename Key>
inline void SortBy16(TList<T> &list, Key key) {
  const int n = list.Count();
  if (n < 2) return;
  std::vector<T> other(static_cast<std::size_t>(n));
  auto pass = [&key](auto from, auto to, auto out, unsigned shift) {
    std::array<std::uint32_t, 257> start{};
    for (auto it = from; it != to; ++it) ++start[((key(*it) >> shift) & 0xFFu) + 1];
    for (std::size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
    for (auto it = from; it != to; ++it) out[start[(key(*it) >> shift) & 0xFFu]++] = *it;
  };
  pass(list.begin(), list.end(), other.begin(), 0);
  pass(other.begin(), other.end(), list.begin(), 8);
}

}  // namespace quarn

#endif
