// Dump-file encoding: a buffered writer and a bounded reader.
//
// All integers are little-endian and unpadded. Elements are encoded at their
// own width (date 4 bytes, time 7, datetime 11, packed records as they
// stand); a string is a u64 byte count and the bytes.
//
// dump_out collects bytes in a buffer and writes them to a file descriptor;
// the first failed write makes it sticky-bad and every later put is a no-op.
// It can also append to a string in memory (a container's copy kept for a
// dump, a journal record). dump_in reads from a file descriptor of known
// size, or from bytes in memory; every get returns false when the bytes are
// not there, and lengths are checked against what remains before anything
// is allocated.
//
// Format: docs/FORMATS.md, "General rules", "Type descriptors" and "Element encodings".
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "lang/scalar.h"

namespace nosql_db {

static_assert(std::endian::native == std::endian::little, "the dump encoding assumes a little-endian host");

// Encoded width of a fixed-width element type; 0 for strings.
template <class T>
constexpr uint64_t fixed_width() {
  if constexpr (std::is_same_v<T, xstring>) return 0;
  else return sizeof(T);
}
// The fewest bytes one encoded element of T can take.
template <class T>
constexpr uint64_t min_encoded_size() {
  if constexpr (std::is_same_v<T, xstring>) return 8;
  else return sizeof(T);
}

class dump_out {
 public:
  explicit dump_out(int fd);
  // Appends to *memory instead (growing it; may throw std::bad_alloc).
  explicit dump_out(std::string* memory) noexcept;
  ~dump_out();
  dump_out(const dump_out&) = delete;
  dump_out& operator=(const dump_out&) = delete;

  // Inline for the common case, so that a fixed-width element (a constant
  // n) is a single move into the buffer.
  void put_bytes(const void* p, uint64_t n) {
    if (n <= capacity_ - used_) {
      if (n != 0) std::memcpy(buf_.get() + used_, p, n);  // p may be null when n is 0
      used_ += n;
    } else {
      put_bytes_slow(p, n);
    }
  }
  void put_u8(uint8_t v) { put_bytes(&v, 1); }
  void put_u32(uint32_t v) { put_bytes(&v, 4); }
  void put_u64(uint64_t v) { put_bytes(&v, 8); }
  void put_text(std::string_view t) {
    put_u64(t.size());
    put_bytes(t.data(), t.size());
  }
  void put_desc(type_desc d) {
    const uint8_t b[3] = {d.size, d.sign, d.cls};
    put_bytes(b, 3);
  }
  template <class T>
  void put_elem(const T& v) {
    if constexpr (std::is_same_v<T, xstring>) put_text(v.view());
    else put_bytes(&v, sizeof v);
  }
  // n elements stored back to back; fixed-width types go out in one write.
  template <class T>
  void put_elems(const T* p, uint64_t n) {
    if constexpr (std::is_same_v<T, xstring>) {
      for (uint64_t i = 0; i < n; ++i) put_text(p[i].view());
    } else {
      put_bytes(p, n * sizeof(T));
    }
  }

  // Writes out the buffer; false once any write has failed.
  bool flush();
  bool ok() const noexcept { return ok_; }
  // Marks the output bad (a part that could not be written): every later
  // put is dropped and flush() answers false.
  void fail() noexcept {
    ok_ = false;
    capacity_ = 0;
  }
  // Bytes put so far, and their CRC-32C (file mode: of the bytes written
  // out, so flush() first).
  uint64_t written() const noexcept { return written_; }
  uint32_t crc() const noexcept { return crc_; }

 private:
  void put_bytes_slow(const void* p, uint64_t n);
  bool write_out(const char* p, uint64_t n);

  int fd_;
  std::string* memory_ = nullptr;
  bool ok_ = true;
  uint32_t crc_ = 0;
  std::unique_ptr<char[]> buf_;
  uint64_t capacity_;     // of buf_; 0 once a write failed, so every put
                          // takes the slow path, which drops it
  uint64_t used_ = 0;
  uint64_t written_ = 0;  // bytes handed to the kernel
  uint64_t started_ = 0;  // of which writeback was requested
};

class dump_in {
 public:
  // Reads from fd, which holds size bytes from its current offset on.
  dump_in(int fd, uint64_t size);
  // Reads the n bytes at p, which must stay there meanwhile.
  dump_in(const char* p, uint64_t n) noexcept;
  ~dump_in();
  dump_in(const dump_in&) = delete;
  dump_in& operator=(const dump_in&) = delete;

  uint64_t remaining() const noexcept { return remaining_; }
  // Bytes handed out so far.
  uint64_t consumed() const noexcept { return size_ - remaining_; }
  bool get_bytes(void* p, uint64_t n);
  bool get_u8(uint8_t* v) { return get_bytes(v, 1); }
  bool get_u32(uint32_t* v) { return get_bytes(v, 4); }
  bool get_u64(uint64_t* v) { return get_bytes(v, 8); }
  bool get_desc(type_desc* d) {
    uint8_t b[3];
    if (!get_bytes(b, 3)) return false;
    *d = type_desc{b[0], b[1], b[2]};
    return true;
  }
  // A text: u64 length, bounded by what remains, then the bytes.
  bool get_text(xstring* out);
  template <class T>
  bool get_elem(T* out) {
    if constexpr (std::is_same_v<T, xstring>) return get_text(out);
    else return get_bytes(out, sizeof(T));
  }
  // Reads an element count and checks that count elements can still be in
  // the file (count * min_encoded_size<T>() <= remaining).
  // Format: docs/FORMATS.md, "Reading a dump" (bounds before lengths).
  template <class T>
  bool get_count(uint64_t* n, uint64_t per_element = min_encoded_size<T>()) {
    if (!get_u64(n)) return false;
    return *n <= remaining_ / per_element;
  }

 private:
  bool refill();

  int fd_;
  uint64_t size_;
  uint64_t remaining_;  // bytes of the file not yet handed out
  std::unique_ptr<char[]> buf_;
  const char* data_;    // buf_, or the bytes in memory
  uint64_t pos_ = 0;
  uint64_t end_ = 0;
};

}  // namespace nosql_db
