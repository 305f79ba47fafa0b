// TList: the ordered list behind every collection of the archive object, the
// disks and the entries. A thin typed layer over std::vector that keeps the
// list's contract: indices are checked and a bad one raises EListError,
// capacity grows in the list's own steps, and Sort takes a three-way compare.
#ifndef QUARN_UTIL_TLIST_H
#define QUARN_UTIL_TLIST_H

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quarn {

class EListError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// Raises EListError with one of the list's three messages.
[[noreturn]] void ListError(const char *format, long long value);

template <typename T>
class TList {
 public:
  TList() = default;

  int Count() const { return static_cast<int>(items_.size()); }
  int Capacity() const { return static_cast<int>(items_.capacity()); }

  // Appends an item; returns its index.
  int Add(T item) {
    if (items_.size() == items_.capacity()) Grow();
    items_.push_back(std::move(item));
    return Count() - 1;
  }

  // Removes the item at `index`; later items move down one place.
  void Delete(int index) {
    CheckIndex(index);
    items_.erase(items_.begin() + index);
  }

  const T &Get(int index) const {
    CheckIndex(index);
    return items_[static_cast<std::size_t>(index)];
  }
  T &Get(int index) {
    CheckIndex(index);
    return items_[static_cast<std::size_t>(index)];
  }
  void Put(int index, T item) {
    CheckIndex(index);
    items_[static_cast<std::size_t>(index)] = std::move(item);
  }
  const T &operator[](int index) const { return Get(index); }
  T &operator[](int index) { return Get(index); }

  // The index of the first item equal to `item`, or -1.
  template <typename U>
  int IndexOf(const U &item) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
      if (items_[i] == item) return static_cast<int>(i);
    return -1;
  }

  void SetCount(int count) {
    if (count < 0) ListError("List count out of bounds (%d)", count);
    items_.resize(static_cast<std::size_t>(count));
  }
  void SetCapacity(int capacity) {
    if (capacity < Count()) ListError("List capacity out of bounds (%d)", capacity);
    if (static_cast<std::size_t>(capacity) < items_.capacity()) {
      std::vector<T> smaller;
      smaller.reserve(static_cast<std::size_t>(capacity));
      std::move(items_.begin(), items_.end(), std::back_inserter(smaller));
      items_.swap(smaller);
    } else {
      items_.reserve(static_cast<std::size_t>(capacity));
    }
  }
  void Clear() {
    items_.clear();
    items_.shrink_to_fit();
  }

  // Sorts by a three-way compare (negative, zero, positive). Items that
  // compare equal keep their order, so the same input always sorts the same.
  template <typename Compare>
  void Sort(Compare compare) {
    std::stable_sort(items_.begin(), items_.end(),
                     [&compare](const T &a, const T &b) { return compare(a, b) < 0; });
  }

  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  void CheckIndex(int index) const {
    if (index < 0 || index >= Count()) ListError("List index out of bounds (%d)", index);
  }

  // Grows by a quarter above 64 items, by 16 above 8, else by 4.
  void Grow() {
    const std::size_t capacity = items_.capacity();
    std::size_t delta = 4;
    if (capacity > 64)
      delta = capacity / 4;
    else if (capacity > 8)
      delta = 16;
    items_.reserve(capacity + delta);
  }

  std::vector<T> items_;
};

}  // namespace quarn

#endif
