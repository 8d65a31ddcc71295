// xstring: the library's owned byte string (data, length, capacity).
//
// Short strings live inside the object: up to 23 bytes need no heap block,
// which is most keys, names and values. Longer ones own a heap buffer.
// Either way the byte after the last is always 0, so capacity >= length + 1
// (capacity counts the terminator). Heap growth: capacity n + 1 on the first
// heap buffer, (n + 1) * 2 afterwards. Copying copies the bytes; assigning
// into a string with enough capacity reuses its buffer. Allocation failure
// throws std::bad_alloc and leaves the string unchanged.
//
// The object holds no pointer into itself, so it may be relocated with a
// plain byte copy (the ordered kinds' tree nodes move elements that way);
// the source of such a copy must then be forgotten, not destroyed.
//
// Layout (24 bytes): inline, bytes 0..22 hold the text and byte 23 holds
// 23 - length (so a 23-byte text ends in the 0 that byte 23 then is); on
// the heap, a pointer, the length, and the capacity with its top bit set,
// which byte 23 shows.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

namespace nosql_db {

class xstring {
 public:
  static constexpr uint64_t inline_max = 23;

  xstring() noexcept { set_inline_size(0); }
  xstring(const char* p, uint64_t n) : xstring() { assign(p, n); }
  explicit xstring(std::string_view s) : xstring() { assign(s.data(), s.size()); }
  xstring(const xstring& o) : xstring() {
    if (o.is_heap()) assign(o.h_.ptr, o.h_.len);
    else std::memcpy(raw_, o.raw_, sizeof raw_);
  }
  xstring(xstring&& o) noexcept {
    std::memcpy(raw_, o.raw_, sizeof raw_);
    o.set_inline_size(0);
  }
  xstring& operator=(const xstring& o) {
    if (this != &o) assign(o.data(), o.size());
    return *this;
  }
  xstring& operator=(xstring&& o) noexcept {
    swap(o);
    return *this;
  }
  // Inline so that the many never-filled strings (tokens, cells) cost one
  // test and no call.
  ~xstring() {
    if (is_heap()) ::operator delete(h_.ptr);
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
    if (is_heap()) {
      h_.len = 0;
      h_.ptr[0] = 0;
    } else {
      set_inline_size(0);
    }
  }
  void swap(xstring& o) noexcept {
    unsigned char t[sizeof raw_];
    std::memcpy(t, raw_, sizeof raw_);
    std::memcpy(raw_, o.raw_, sizeof raw_);
    std::memcpy(o.raw_, t, sizeof raw_);
  }

  const char* data() const noexcept { return is_heap() ? h_.ptr : reinterpret_cast<const char*>(raw_); }
  char* data() noexcept { return is_heap() ? h_.ptr : reinterpret_cast<char*>(raw_); }
  uint64_t size() const noexcept { return is_heap() ? h_.len : inline_max - raw_[inline_max]; }
  // Bytes available including the terminator.
  uint64_t capacity() const noexcept { return is_heap() ? h_.cap & ~heap_flag : inline_max + 1; }
  bool empty() const noexcept { return size() == 0; }
  // True when the text lives in a heap buffer of its own.
  bool on_heap() const noexcept { return is_heap(); }
  std::string_view view() const noexcept { return {data(), static_cast<size_t>(size())}; }

 private:
  static constexpr uint64_t heap_flag = uint64_t{1} << 63;

  bool is_heap() const noexcept { return (raw_[inline_max] & 0x80) != 0; }
  void set_inline_size(uint64_t n) noexcept {
    raw_[n] = 0;
    raw_[inline_max] = static_cast<unsigned char>(inline_max - n);
  }
  // Sets the length, writing the terminator, in either form.
  void set_size(uint64_t n) noexcept {
    if (is_heap()) {
      h_.len = n;
      h_.ptr[n] = 0;
    } else {
      set_inline_size(n);
    }
  }
  // Ensures room for n bytes plus the terminator, keeping the content.
  void reserve_for(uint64_t n);

  struct heap {
    char* ptr;
    uint64_t len;
    uint64_t cap;  // with heap_flag set
  };
  union {
    heap h_;
    unsigned char raw_[24];
  };
};
static_assert(sizeof(xstring) == 24);

// Three-way comparison of byte strings with bytes read as signed 8-bit
// numbers; a proper prefix orders first. Returns -1, 0 or 1.
int compare_bytes(std::string_view a, std::string_view b) noexcept;

inline bool operator==(const xstring& a, const xstring& b) noexcept { return a.view() == b.view(); }

}  // namespace nosql_db
