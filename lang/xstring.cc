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
  if (n < cap_) return;  // n + 1 <= cap_
  if (n > max_length) throw std::bad_alloc();
  const uint64_t cap = data_ ? (n + 1) * 2 : n + 1;
  char* p = static_cast<char*>(::operator new(cap));  // throws std::bad_alloc
  if (len_) std::memcpy(p, data_, len_);
  p[len_] = 0;
  ::operator delete(data_);
  data_ = p;
  cap_ = cap;
}

void xstring::assign(const char* p, uint64_t n) {
  if (n == 0) {
    clear();
    return;
  }
  if (n > max_length) throw std::bad_alloc();
  if (n + 1 > cap_) {
    // A fresh buffer, filled before the old one goes (p may point into it).
    const uint64_t cap = data_ ? (n + 1) * 2 : n + 1;
    char* fresh = static_cast<char*>(::operator new(cap));
    std::memcpy(fresh, p, n);
    ::operator delete(data_);
    data_ = fresh;
    cap_ = cap;
  } else {
    std::memmove(data_, p, n);
  }
  len_ = n;
  data_[n] = 0;
}

void xstring::append(const char* p, uint64_t n) {
  if (n == 0) return;
  if (n > max_length - len_) throw std::bad_alloc();
  if (len_ + n + 1 > cap_) {
    xstring tmp(p, n);  // p may alias our buffer
    reserve_for(len_ + n);
    std::memcpy(data_ + len_, tmp.data_, n);
  } else {
    std::memmove(data_ + len_, p, n);
  }
  len_ += n;
  data_[len_] = 0;
}

void xstring::resize(uint64_t n, char fill) {
  if (n > len_) {
    reserve_for(n);
    std::memset(data_ + len_, fill, n - len_);
  }
  len_ = n;
  if (data_) data_[n] = 0;
}

int compare_bytes(std::string_view a, std::string_view b) noexcept {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<int8_t>(a[i]);
    const auto y = static_cast<int8_t>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace nosql_db
