// xstring: buffer management and the signed-byte comparison.
#include "lang/xstring.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace nosql_db {
namespace {

// No string can be this long; larger requests fail as memory exhaustion
// before any size arithmetic could overflow.
constexpr uint64_t max_length = (uint64_t{1} << 62) - 1;

}  // namespace

void xstring::reserve_for(uint64_t n) {
  if (n < capacity()) return;  // n + 1 <= capacity
  if (n > max_length) throw std::bad_alloc();
  const uint64_t cap = is_heap() ? (n + 1) * 2 : n + 1;
  char* p = static_cast<char*>(::operator new(cap));  // throws std::bad_alloc
  const uint64_t len = size();
  if (len) std::memcpy(p, data(), len);
  p[len] = 0;
  if (is_heap()) ::operator delete(h_.ptr);
  h_.ptr = p;
  h_.len = len;
  h_.cap = cap | heap_flag;
}

void xstring::assign(const char* p, uint64_t n) {
  if (n > max_length) throw std::bad_alloc();
  if (n + 1 > capacity()) {
    // A fresh buffer, filled before the old one goes (p may point into it).
    const uint64_t cap = is_heap() ? (n + 1) * 2 : n + 1;
    char* fresh = static_cast<char*>(::operator new(cap));
    std::memcpy(fresh, p, n);
    fresh[n] = 0;
    if (is_heap()) ::operator delete(h_.ptr);
    h_.ptr = fresh;
    h_.len = n;
    h_.cap = cap | heap_flag;
    return;
  }
  if (n != 0) std::memmove(data(), p, n);
  set_size(n);
}

void xstring::append(const char* p, uint64_t n) {
  if (n == 0) return;
  const uint64_t len = size();
  if (n > max_length - len) throw std::bad_alloc();
  if (len + n + 1 > capacity()) {
    xstring tmp(p, n);  // p may alias our buffer
    reserve_for(len + n);
    std::memcpy(data() + len, tmp.data(), n);
  } else {
    std::memmove(data() + len, p, n);
  }
  set_size(len + n);
}

void xstring::resize(uint64_t n, char fill) {
  const uint64_t len = size();
  if (n > len) {
    reserve_for(n);
    std::memset(data() + len, fill, n - len);
  }
  set_size(n);
}

int compare_bytes(std::string_view a, std::string_view b) noexcept {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  size_t i = 0;
  // Eight bytes at a time: read big-endian and flip each byte's top bit,
  // and unsigned order of the words is signed order of the bytes.
  for (; i + 8 <= n; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) {
      x = __builtin_bswap64(x) ^ 0x8080808080808080u;
      y = __builtin_bswap64(y) ^ 0x8080808080808080u;
      return x < y ? -1 : 1;
    }
  }
  for (; i < n; ++i) {
    const auto x = static_cast<int8_t>(a[i]);
    const auto y = static_cast<int8_t>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace nosql_db
