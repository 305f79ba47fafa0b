// The order a dump's entries are listed in, and their listing paths.
//
// Every listed entry's FullPath is worked out once, and the entries are
// sorted by it byte by byte as unsigned values, a path before its extensions
// (so a disk's "FFS.BIN" comes before its folder "FFS", whose contents follow
// as "FFS\..."). Where two paths are equal, every entry after the first (in
// the order they were listed) is numbered as unique_names.h tells, so no two
// share a path byte for byte; RenameDuplicateChildren, run before, makes
// that hold as the host compares paths too. The same dump always lists the
// same way.
#ifndef QUARN_ENTRIES_LISTING_ORDER_H
#define QUARN_ENTRIES_LISTING_ORDER_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "entries/sie_file.h"
#include "util/tlist.h"

namespace quarn {

class TListingOrder {
 public:
  TListingOrder() = default;
  // How the order is found: folder by folder where the tree allows it (an
  // honest dump always does, at three quarters of the cost), else by
  // sorting whole paths. `WholePaths` forces the second, to measure both.
  enum class TMethod { Tree, WholePaths };
  // `listed`: the entries to list, each once, all hanging below
  // `namelessRoot` (which is not listed itself) or below no entry at all.
  TListingOrder(const TList<TSieFile *> &listed, const TSieFile *namelessRoot,
                TMethod method = TMethod::Tree);

  int Count() const { return static_cast<int>(entries_.size()); }
  const std::vector<TSieFile *> &Entries() const { return entries_; }
  TSieFile *Entry(int index) const { return entries_[static_cast<std::size_t>(index)]; }
  // The FullPath of the entry at `index`; empty outside the listing.
  std::string_view Path(int index) const;
  // Where the entry at `index` stood in the list the order was made from:
  // the order in which the first of equal paths is chosen.
  std::uint32_t ListedAt(int index) const { return listedAt_[static_cast<std::size_t>(index)]; }

 private:
  std::vector<TSieFile *> entries_;
  std::vector<std::uint32_t> listedAt_;
  // Entry i's path is pathLength_[i] bytes of pathText_ from pathAt_[i]:
  // the sort reads one block of text far faster than strings all over memory.
  std::string pathText_;
  std::vector<std::uint32_t> pathAt_;
  std::vector<std::uint32_t> pathLength_;
};

}  // namespace quarn

#endif
