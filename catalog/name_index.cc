// The name directory's hash table.
#include "catalog/name_index.h"

#include <cstring>
#include <new>
#include <utility>

namespace nosql_db {
namespace {

// Names are mostly short: compared in place, without a call.
bool same_bytes(const char* a, const char* b, uint64_t n) noexcept {
  if (n > 16) return std::memcmp(a, b, n) == 0;
  for (uint64_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

}  // namespace

name_index::~name_index() { ::operator delete(t_); }

uint64_t name_index::hash_of(std::string_view s) noexcept {
  // Eight bytes at a time, each mixed in with a multiply; a finalizer
  // spreads the high bits down to the ones the table indexes with.
  constexpr uint64_t m = 0x9E3779B97F4A7C15ull;
  uint64_t h = s.size() * m;
  size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    h = (h ^ w) * m;
    h ^= h >> 29;
  }
  uint64_t w = 0;
  for (unsigned k = 0; i + k < s.size(); ++k) w |= uint64_t{static_cast<uint8_t>(s[i + k])} << (8 * k);
  h = (h ^ w) * m;
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ull;
  return h ^ (h >> 32);
}

uint64_t name_index::slot_of(std::string_view name, uint64_t h) const noexcept {
  const uint64_t mask = cap_ - 1;
  for (uint64_t i = h & mask;; i = (i + 1) & mask) {
    const entry& e = t_[i];
    if (!e.p || (e.hash == h && e.len == name.size() && same_bytes(e.p, name.data(), name.size()))) return i;
  }
}

bool name_index::find(std::string_view name, uint32_t* v) const noexcept {
  if (n_ == 0) return false;
  const entry& e = t_[slot_of(name, hash_of(name))];
  if (!e.p) return false;
  *v = e.v;
  return true;
}

void name_index::grow() {
  const uint64_t cap = cap_ ? cap_ * 2 : 16;
  auto* t = static_cast<entry*>(::operator new(cap * sizeof(entry)));
  std::memset(static_cast<void*>(t), 0, cap * sizeof(entry));
  for (uint64_t i = 0; i < cap_; ++i) {
    const entry& e = t_[i];
    if (!e.p) continue;
    uint64_t j = e.hash & (cap - 1);
    while (t[j].p) j = (j + 1) & (cap - 1);
    t[j] = e;
  }
  ::operator delete(t_);
  t_ = t;
  cap_ = cap;
}

void name_index::insert(std::string_view name, uint32_t v) {
  if ((n_ + 1) * 2 > cap_) grow();
  const uint64_t h = hash_of(name);
  const uint64_t i = slot_of(name, h);
  // An empty name's view may have a null pointer; the slot needs one.
  t_[i] = entry{name.data() ? name.data() : "", name.size(), h, v};
  ++n_;
}

void name_index::erase(std::string_view name) noexcept {
  if (n_ == 0) return;
  const uint64_t mask = cap_ - 1;
  uint64_t i = slot_of(name, hash_of(name));
  if (!t_[i].p) return;
  // Backward shift: move each later entry of the run into the hole when
  // its home slot does not lie between the hole and it.
  for (uint64_t j = (i + 1) & mask; t_[j].p; j = (j + 1) & mask) {
    const uint64_t home = t_[j].hash & mask;
    const bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
    if (stays) continue;
    t_[i] = t_[j];
    i = j;
  }
  t_[i].p = nullptr;
  --n_;
}

void name_index::clear() noexcept {
  if (t_) std::memset(static_cast<void*>(t_), 0, cap_ * sizeof(entry));
  n_ = 0;
}

void name_index::swap(name_index& o) noexcept {
  std::swap(t_, o.t_);
  std::swap(cap_, o.cap_);
  std::swap(n_, o.n_);
}

}  // namespace nosql_db
