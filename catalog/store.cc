// Store: slot table, free-vkey list, name directory, reference resolution.
#include "catalog/store.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>

#include "lang/failure.h"

// Leak checkers scan the heap and the globals, not private mappings. When
// the process carries LeakSanitizer (an ASan-built host, or this library
// built with it), tell it that the slot table holds the pointers that keep
// the containers alive, so that a host that exits without clearing the
// store gets no leak report. The references are weak: the dynamic loader
// resolves them to the sanitizer's functions when the process has them,
// and to null otherwise.
extern "C" {
[[gnu::weak]] void __lsan_register_root_region(const void* p, size_t size);
[[gnu::weak]] void __lsan_unregister_root_region(const void* p, size_t size);
}

namespace nosql_db {
namespace {

constexpr uint32_t nil = 0xFFFFFFFFu;

// The slot table and the free-list arrays live in their own anonymous
// mappings: building a store touches none of their pages, and a reset hands
// the touched pages back (they read as zero again) instead of clearing
// 8 MiB on every clear and every dump read.
template <class T>
T* map_zeroed(uint64_t n) noexcept {
  void* p = ::mmap(nullptr, n * sizeof(T), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<T*>(p);
}
template <class T>
void unmap(T* p, uint64_t n) noexcept {
  if (p) ::munmap(p, n * sizeof(T));
}
void rezero_u32(uint32_t* p, uint64_t n) noexcept {
  if (::madvise(p, n * sizeof(uint32_t), MADV_DONTNEED) != 0) std::memset(p, 0, n * sizeof(uint32_t));
}

bool is_space(char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

}  // namespace

store::store() {
  slots_ = map_zeroed<ab_adt*>(slot_count);
  next_delta_ = map_zeroed<uint32_t>(slot_count);
  prev_delta_ = map_zeroed<uint32_t>(slot_count);
  if (!slots_ || !next_delta_ || !prev_delta_) {
    unmap(slots_, slot_count);
    unmap(next_delta_, slot_count);
    unmap(prev_delta_, slot_count);
    throw std::bad_alloc();
  }
  if (__lsan_register_root_region) __lsan_register_root_region(slots_, slot_count * sizeof(ab_adt*));
}

store::~store() {
  clear();
  if (__lsan_unregister_root_region) __lsan_unregister_root_region(slots_, slot_count * sizeof(ab_adt*));
  unmap(slots_, slot_count);
  unmap(next_delta_, slot_count);
  unmap(prev_delta_, slot_count);
}

void store::unlink_free(uint32_t v) noexcept {
  const uint32_t p = prev(v), n = next(v);
  if (is_nil(p)) head_ = is_nil(n) ? nil : n;
  else set_next(p, is_nil(n) ? nil : n);
  if (is_nil(n)) tail_ = is_nil(p) ? nil : p;
  else set_prev(n, is_nil(p) ? nil : p);
  --free_count_;
}

void store::push_free_front(uint32_t v) noexcept {
  set_next(v, head_);
  set_prev(v, nil);
  if (is_nil(head_)) tail_ = v;
  else set_prev(head_, v);
  head_ = v;
  ++free_count_;
}

bool store::move_to_front(uint64_t v) noexcept {
  if (v >= slot_count || slots_[v]) return false;
  unlink_free(static_cast<uint32_t>(v));
  push_free_front(static_cast<uint32_t>(v));
  return true;
}

uint64_t store::add(std::unique_ptr<ab_adt> c) {
  const uint32_t v = head_;
  if (!c->name().empty()) names_.insert(c->name().view(), v);  // may throw: nothing changed yet
  unlink_free(v);
  slots_[v] = c.release();
  return v;
}

std::unique_ptr<ab_adt> store::remove(uint64_t v) noexcept {
  ab_adt* c = at(v);
  if (!c) return nullptr;
  slots_[v] = nullptr;
  if (!c->name().empty()) names_.erase(c->name().view());
  push_free_front(static_cast<uint32_t>(v));
  return std::unique_ptr<ab_adt>(c);
}

void store::swap(store& o) noexcept {
  std::swap(slots_, o.slots_);
  std::swap(next_delta_, o.next_delta_);
  std::swap(prev_delta_, o.prev_delta_);
  std::swap(head_, o.head_);
  std::swap(tail_, o.tail_);
  std::swap(free_count_, o.free_count_);
  names_.swap(o.names_);
}

std::vector<uint32_t> store::free_prefix() const {
  // The ascending run at the end of the list, found from the tail.
  uint32_t start = tail_;
  while (!is_nil(start) && !is_nil(prev(start)) && prev(start) < start) start = prev(start);
  std::vector<uint32_t> out;
  for (uint32_t v = head_; !is_nil(v) && v != start; v = next(v)) out.push_back(v);
  return out;
}

bool store::set_free_prefix(const std::vector<uint32_t>& prefix) {
  std::vector<uint32_t> sorted(prefix);
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return false;
  for (uint32_t v : prefix)
    if (v >= slot_count || slots_[v]) return false;
  // Moved to the front last one first, so that they end up in order.
  for (size_t i = prefix.size(); i-- > 0;) move_to_front(prefix[i]);
  return true;
}

void store::reset_free_list() noexcept {
  // Zeroed arrays are the ascending list.
  rezero_u32(next_delta_, slot_count);
  rezero_u32(prev_delta_, slot_count);
  head_ = 0;
  tail_ = slot_count - 1;
  free_count_ = slot_count;
}

void store::clear() noexcept {
  names_.clear();
  uint64_t left = container_count();
  for (uint64_t v = 0; v < slot_count && left > 0; ++v) {
    if (ab_adt* c = slots_[v]) {
      slots_[v] = nullptr;
      delete c;
      --left;
    }
  }
  reset_free_list();
}

bool store::find_name(std::string_view name, uint64_t* v) const noexcept {
  uint32_t found;
  if (!names_.find(name, &found)) return false;
  *v = found;
  return true;
}

bool find_container_id(const store& s, const token& t, bool is_name, uint64_t* out) noexcept {
  const std::string_view b = t.view();
  if (is_name) return s.find_name(b, out) || fail(failure::unknown_name);
  size_t i = 0;
  uint64_t v = 0;
  const bool hex = b.size() >= 2 && (b[1] == 'x' || b[1] == 'X');
  while (i < b.size() && is_space(b[i])) ++i;
  if (i < b.size() && b[i] == '+') ++i;
  if (hex) {
    if (i + 1 >= b.size() || b[i] != '0' || (b[i + 1] != 'x' && b[i + 1] != 'X'))
      return fail(failure::not_a_reference);
    i += 2;
    for (; i < b.size(); ++i) {
      const char c = b[i];
      unsigned d;
      if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
      else return fail(failure::not_a_reference);
      // Anything past the slot table fails anyway; saturate instead of wrapping.
      v = v > (UINT64_MAX >> 4) ? UINT64_MAX : v * 16 + d;
    }
  } else {
    for (; i < b.size(); ++i) {
      const char c = b[i];
      if (c < '0' || c > '9') return fail(failure::not_a_reference);
      const auto d = static_cast<unsigned>(c - '0');
      v = v > (UINT64_MAX - d) / 10 ? UINT64_MAX : v * 10 + d;
    }
  }
  *out = v;
  return true;
}

ab_adt* resolve_container(const store& s, const token& t, uint64_t* vkey) noexcept {
  uint64_t v;
  if (!find_container_id(s, t, t.is_name(), &v)) return nullptr;
  ab_adt* c = s.at(v);
  if (!c) fail(v < store::slot_count ? failure::empty_slot : failure::vkey_out_of_range);
  else if (vkey) *vkey = v;
  return c;
}

}  // namespace nosql_db
