// elem_array<T>: the growable element array (data, size, capacity).
//
// Storage of the vector, stack and heap, and the type of every result list
// that a container fills. Growth: resizing past the capacity reallocates to
// 2 * n slots; the capacity never shrinks. Slots past size keep what they
// last held (a string slot keeps its buffer for reuse); fresh slots of
// plain types hold no defined value until written. Every growth
// allocates before it changes anything, so std::bad_alloc leaves the array
// as it was.
#pragma once

#include <algorithm>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

namespace nosql_db {

template <class T>
class elem_array {
 public:
  elem_array() noexcept = default;
  elem_array(const elem_array&) = delete;
  elem_array& operator=(const elem_array&) = delete;
  elem_array(elem_array&& o) noexcept { swap(o); }
  elem_array& operator=(elem_array&& o) noexcept {
    swap(o);
    return *this;
  }
  ~elem_array() { delete[] data_; }

  uint64_t size() const noexcept { return size_; }
  uint64_t capacity() const noexcept { return cap_; }
  bool empty() const noexcept { return size_ == 0; }
  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  T& operator[](uint64_t i) noexcept { return data_[i]; }
  const T& operator[](uint64_t i) const noexcept { return data_[i]; }
  T* begin() noexcept { return data_; }
  T* end() noexcept { return data_ + size_; }
  const T* begin() const noexcept { return data_; }
  const T* end() const noexcept { return data_ + size_; }

  // Makes the size n, growing to capacity 2 * n when n exceeds it.
  void resize(uint64_t n) {
    if (n <= cap_) {
      size_ = n;
      return;
    }
    grow_to(n);
    size_ = n;
  }
  // Ensures capacity for n elements without changing the size.
  void reserve(uint64_t n) {
    if (n > cap_) grow_to(n);
  }
  void push_back(const T& v) {
    if (size_ == cap_) {
      T copy(v);  // v may live in this array
      resize(size_ + 1);
      data_[size_ - 1] = std::move(copy);
    } else {
      data_[size_] = v;  // may throw: the size grows only afterwards
      ++size_;
    }
  }
  void clear() noexcept { size_ = 0; }
  void swap(elem_array& o) noexcept {
    std::swap(data_, o.data_);
    std::swap(size_, o.size_);
    std::swap(cap_, o.cap_);
  }

  // Inserts v at slot i (0 <= i <= size): slots i.. move up by one.
  void insert_at(uint64_t i, const T& v) {
    T copy(v);  // v may live in this array
    resize(size_ + 1);
    std::rotate(data_ + i, data_ + size_ - 1, data_ + size_);
    data_[i] = std::move(copy);
  }
  // Removes k slots from slot i; the removed values end up past the size.
  void erase_at(uint64_t i, uint64_t k) noexcept {
    std::rotate(data_ + i, data_ + i + k, data_ + size_);
    size_ -= k;
  }
  // The inverse of erase_at: opens k slots at slot i, which take what the
  // k slots past the size held; slots i.. move up by k. Never allocates.
  // REQUIRES: i <= size, size + k <= capacity.
  void open_at(uint64_t i, uint64_t k) noexcept {
    size_ += k;
    std::rotate(data_ + i, data_ + size_ - k, data_ + size_);
  }

 private:
  void grow_to(uint64_t n) {
    if (n > max_elements()) throw std::bad_alloc();
    const uint64_t cap = n * 2;
    // Slots of plain types are left unset: every slot is written before it
    // is read, and untouched capacity costs no page of memory.
    T* fresh = std::is_trivially_default_constructible_v<T> ? new T[cap] : new T[cap]();
    const uint64_t keep = cap_ < cap ? cap_ : cap;  // always cap_ (cap > n > cap_); said for g++'s bounds check
    for (uint64_t i = 0; i < keep; ++i) fresh[i] = std::move(data_[i]);
    delete[] data_;
    data_ = fresh;
    cap_ = cap;
  }
  static constexpr uint64_t max_elements() { return (UINT64_MAX / 4) / sizeof(T); }

  T* data_ = nullptr;
  uint64_t size_ = 0;
  uint64_t cap_ = 0;
};

}  // namespace nosql_db
