// xstring: the library's owned byte string (data, length, capacity).
//
// A string that never held bytes has no buffer. Once it has one, the byte
// after the last is always 0, so capacity >= length + 1. Growth: capacity
// n + 1 on the first allocation, (n + 1) * 2 afterwards. Copying copies the
// bytes; assigning into a string with enough capacity reuses its buffer.
// Allocation failure throws std::bad_alloc and leaves the string unchanged.
#pragma once

#include <cstdint>
#include <new>
#include <string_view>

namespace nosql_db {

class xstring {
 public:
  xstring() noexcept = default;
  xstring(const char* p, uint64_t n) { assign(p, n); }
  explicit xstring(std::string_view s) { assign(s.data(), s.size()); }
  xstring(const xstring& o) { assign(o.data_, o.len_); }
  xstring(xstring&& o) noexcept : data_(o.data_), len_(o.len_), cap_(o.cap_) {
    o.data_ = nullptr;
    o.len_ = o.cap_ = 0;
  }
  xstring& operator=(const xstring& o) {
    if (this != &o) assign(o.data_, o.len_);
    return *this;
  }
  xstring& operator=(xstring&& o) noexcept {
    swap(o);
    return *this;
  }
  // Inline so that the many never-filled strings (tokens, cells) cost one
  // test and no call.
  ~xstring() {
    if (data_) ::operator delete(data_);
  }

  // Makes the content the n bytes at p (p may point into this string).
  void assign(const char* p, uint64_t n);
  // Appends n bytes at p.
  void append(const char* p, uint64_t n);
  void push_back(char c) { append(&c, 1); }
  // Makes room for n bytes without changing the content.
  void reserve(uint64_t n) { reserve_for(n); }
  // Resizes to n bytes, new bytes set to fill.
  void resize(uint64_t n, char fill = 0);
  void clear() noexcept {
    len_ = 0;
    if (data_) data_[0] = 0;
  }
  void swap(xstring& o) noexcept {
    std::swap(data_, o.data_);
    std::swap(len_, o.len_);
    std::swap(cap_, o.cap_);
  }

  const char* data() const noexcept { return data_; }
  char* data() noexcept { return data_; }
  uint64_t size() const noexcept { return len_; }
  uint64_t capacity() const noexcept { return cap_; }
  bool empty() const noexcept { return len_ == 0; }
  std::string_view view() const noexcept { return {data_ ? data_ : "", static_cast<size_t>(len_)}; }

 private:
  // Ensures room for n bytes plus the terminator, keeping the content.
  void reserve_for(uint64_t n);

  char* data_ = nullptr;
  uint64_t len_ = 0;
  uint64_t cap_ = 0;
};

// Three-way comparison of byte strings with bytes read as signed 8-bit
// numbers; a proper prefix orders first. Returns -1, 0 or 1.
int compare_bytes(std::string_view a, std::string_view b) noexcept;

inline bool operator==(const xstring& a, const xstring& b) noexcept { return a.view() == b.view(); }

}  // namespace nosql_db
