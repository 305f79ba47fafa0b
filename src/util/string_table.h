// A table from byte strings to small numbers, by open addressing over views:
// the strings stay where their owner keeps them, and a table of hundreds of
// thousands costs a few allocations instead of one per key.
#ifndef QUARN_UTIL_STRING_TABLE_H
#define QUARN_UTIL_STRING_TABLE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace quarn {

class TStringTable {
 public:
  // Empties the table, with room for `expected` keys without growing.
  void Reset(std::size_t expected) {
    std::size_t capacity = 16;
    while (capacity < expected * 2) capacity <<= 1;
    slots_.assign(capacity, Slot{});
    count_ = 0;
  }
  std::size_t Count() const { return count_; }

  // The value stored for `key`, or none.
  int *Find(std::string_view key) {
    if (slots_.empty()) return nullptr;
    Slot &slot = Probe(key, Hash(key));
    return slot.Used ? &slot.Value : nullptr;
  }
  // Stores `key` (which must outlive the table's use of it) with `value`
  // unless it is there; the value stored, and whether it was new.
  std::pair<int *, bool> Insert(std::string_view key, int value) {
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    const std::size_t hash = Hash(key);
    Slot &slot = Probe(key, hash);
    if (slot.Used) return {&slot.Value, false};
    slot = Slot{key, hash, value, true};
    ++count_;
    return {&slot.Value, true};
  }

 private:
  struct Slot {
    std::string_view Key;
    std::size_t Hash = 0;
    int Value = 0;
    bool Used = false;
  };

  static std::size_t Hash(std::string_view key) { return std::hash<std::string_view>{}(key); }

  Slot &Probe(std::string_view key, std::size_t hash) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      Slot &slot = slots_[i];
      if (!slot.Used || (slot.Hash == hash && slot.Key == key)) return slot;
    }
  }

  void Grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 16 : old.size() * 2, Slot{});
    count_ = 0;
    for (const Slot &slot : old)
      if (slot.Used) {
        Probe(slot.Key, slot.Hash) = slot;
        ++count_;
      }
  }

  std::vector<Slot> slots_;
  std::size_t count_ = 0;
};

}  // namespace quarn

#endif
