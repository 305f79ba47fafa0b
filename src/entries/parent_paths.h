// Parent paths: the one rule by which a value of every entry (a listing path,
// a destination) is worked out from its parent's. Owns the values it keeps,
// each worked out once: from an entry up to its nearest ancestor already
// known, then down again, in a loop (trees can be 200,000 deep).
#ifndef QUARN_ENTRIES_PARENT_PATHS_H
#define QUARN_ENTRIES_PARENT_PATHS_H

#include <cstddef>
#include <unordered_map>
#include <utility>
#include <vector>

#include "entries/sie_file.h"

namespace quarn {

template <typename Value>
class TParentPaths {
 public:
  // The value of `entry`. `make(node, parentValue)` gives a node's value
  // from its parent's (null for an entry with no parent); `keep(node)` tells
  // whether a node's value is kept for the entries asked for later (a caller
  // short of memory keeps only those with children). A kept value stays
  // where it is; one not kept, until the next call.
  template <typename Make, typename Keep>
  const Value &Of(const TSieFile &entry, const Make &make, const Keep &keep) {
    chain_.clear();
    const Value *known = nullptr;
    for (const TSieFile *e = &entry; e != nullptr; e = e->Parent()) {
      const auto at = kept_.find(e);
      if (at != kept_.end()) {
        known = &at->second;
        break;
      }
      chain_.push_back(e);
    }
    for (std::size_t i = chain_.size(); i-- > 0;) {
      last_ = make(*chain_[i], known);  // made before `known` (maybe last_) is overwritten
      known = keep(*chain_[i]) ? &kept_.emplace(chain_[i], std::move(last_)).first->second : &last_;
    }
    return known != nullptr ? *known : last_;  // always set: the entry was found or made
  }

 private:
  std::unordered_map<const TSieFile *, Value> kept_;
  std::vector<const TSieFile *> chain_;
  Value last_{};  // the value last worked out, where it was not kept
};

}  // namespace quarn

#endif
