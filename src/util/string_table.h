// A table from byte strings to small numbers, by open addressing over views:
// the strings stay where their owner keeps them, and a table of hundreds of
// thousands costs a few allocations and a dozen bytes a key.
#ifndef QUARN_UTIL_STRING_TABLE_H
#define QUARN_UTIL_STRING_TABLE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

namespace quarn {

class TStringTable {
 public:
  // Empties the table.
  void Clear() {
    slots_.clear();
    keys_.clear();
    values_.clear();
  }
  std::size_t Count() const { return keys_.size(); }

  // The value stored for `key`, or none.
  int *Find(std::string_view key) {
    if (slots_.empty()) return nullptr;
    const std::uint32_t index = slots_[Probe(key, Hash(key))].Index;
    return index != 0 ? &values_[index - 1] : nullptr;
  }
  // Stores `key` (which must outlive the table's use of it) with `value`
  // unless it is there; the value stored (valid until the next Insert), and
  // whether it was new.
  std::pair<int *, bool> Insert(std::string_view key, int value) {
    if ((keys_.size() + 1) * 2 > slots_.size()) Grow();
    const std::uint32_t hash = Hash(key);
    Slot &slot = slots_[Probe(key, hash)];
    if (slot.Index != 0) return {&values_[slot.Index - 1], false};
    keys_.push_back(key);
    values_.push_back(value);
    slot = Slot{hash, static_cast<std::uint32_t>(keys_.size())};
    return {&values_.back(), true};
  }

 private:
  struct Slot {
    std::uint32_t Hash = 0;
    std::uint32_t Index = 0;  // 1 + the key's index in keys_; 0 when free
  };

  static std::uint32_t Hash(std::string_view key) {
    const auto hash = static_cast<std::uint64_t>(std::hash<std::string_view>{}(key));
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
  }

  std::size_t Probe(std::string_view key, std::uint32_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot &slot = slots_[i];
      if (slot.Index == 0 || (slot.Hash == hash && keys_[slot.Index - 1] == key)) return i;
    }
  }

  void Grow() {
    std::vector<Slot> old(slots_.empty() ? 16 : slots_.size() * 2, Slot{});
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot &slot : old) {
      if (slot.Index == 0) continue;
      std::size_t i = slot.Hash & mask;
      while (slots_[i].Index != 0) i = (i + 1) & mask;
      slots_[i] = slot;
    }
  }

  std::vector<Slot> slots_;
  std::vector<std::string_view> keys_;
  std::vector<int> values_;
};

}  // namespace quarn

#endif
