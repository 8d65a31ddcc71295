// Result sets: typed columns of equal length, built by the command handlers
// and read by the host through the exported accessors.
//
// A cell holds up to 11 value bytes (a little-endian number or a packed
// calendar record) and, for strings, its own copy of the text. Texts keep
// their full length: the accessors hand out 64-bit lengths, so nothing is
// cut at 65,535 bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <new>
#include <utility>

#include "lang/scalar.h"

namespace nosql_db {

// A growable array whose first element lives inside the object: most
// answers are one column of one cell, and then the whole result set is one
// heap block. Growth doubles and moves the elements (which must move
// without throwing); std::bad_alloc leaves the array as it was.
template <class T>
class inline_vec {
 public:
  constexpr inline_vec() noexcept = default;
  inline_vec(const inline_vec&) = delete;
  inline_vec& operator=(const inline_vec&) = delete;
  inline_vec(inline_vec&& o) noexcept { take(o); }
  inline_vec& operator=(inline_vec&& o) noexcept {
    if (this != &o) {
      clear();
      take(o);
    }
    return *this;
  }
  ~inline_vec() { clear(); }

  uint64_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T* data() noexcept { return heap_ ? heap_ : reinterpret_cast<T*>(one_); }
  const T* data() const noexcept { return heap_ ? heap_ : reinterpret_cast<const T*>(one_); }
  T& operator[](uint64_t i) noexcept { return data()[i]; }
  const T& operator[](uint64_t i) const noexcept { return data()[i]; }
  T* begin() noexcept { return data(); }
  T* end() noexcept { return data() + size_; }
  const T* begin() const noexcept { return data(); }
  const T* end() const noexcept { return data() + size_; }

  void reserve(uint64_t n) {
    if (n > capacity()) grow(n);
  }
  [[gnu::always_inline]] T& emplace_back() {
    if (size_ == capacity()) [[unlikely]] grow(capacity() * 2);
    T* p = ::new (data() + size_) T();
    ++size_;
    return *p;
  }
  void clear() noexcept {
    T* d = data();
    for (uint64_t i = 0; i < size_; ++i) d[i].~T();
    ::operator delete(heap_);
    heap_ = nullptr;
    size_ = 0;
    cap_ = 1;
  }

 private:
  uint64_t capacity() const noexcept { return cap_; }
  [[gnu::noinline]] void grow(uint64_t n) {
    if (n > (uint64_t{1} << 58) / sizeof(T)) throw std::bad_alloc();
    T* fresh = static_cast<T*>(::operator new(n * sizeof(T)));
    T* d = data();
    for (uint64_t i = 0; i < size_; ++i) {
      ::new (fresh + i) T(std::move(d[i]));
      d[i].~T();
    }
    ::operator delete(heap_);
    heap_ = fresh;
    cap_ = n;
  }
  void take(inline_vec& o) noexcept {
    size_ = o.size_;
    cap_ = o.cap_;
    heap_ = o.heap_;
    if (!heap_) {
      T* from = reinterpret_cast<T*>(o.one_);
      for (uint64_t i = 0; i < size_; ++i) {
        ::new (reinterpret_cast<T*>(one_) + i) T(std::move(from[i]));
        from[i].~T();
      }
    }
    o.heap_ = nullptr;
    o.size_ = 0;
    o.cap_ = 1;
  }

  T* heap_ = nullptr;  // null: the elements (at most one) are in one_
  uint64_t size_ = 0;
  uint64_t cap_ = 1;
  alignas(T) unsigned char one_[sizeof(T)];
};

}  // namespace nosql_db

// The exported opaque types, defined here for the library. A cell holds its
// value bytes and, for strings, its own copy of the text (short texts
// inside the cell).
struct datas_cell {
  uint8_t value[11] = {};
  nosql_db::xstring text_;

  void set_text(std::string_view t) { text_.assign(t.data(), t.size()); }  // throws std::bad_alloc
  std::string_view text() const noexcept { return text_.view(); }
};

// A column. Numbers (integer and floating-point columns) of more than one
// row are kept as one packed array of their values, which a host can read
// in bulk (vox_col_values); their cells are made from it on the first
// request for one, once, by whichever reader asks first. A column of one
// number keeps it in its first cell, whose value bytes start with it. Every
// other column is a list of cells.
struct datas_col {
  datas_col() noexcept = default;
  datas_col(const datas_col&) = delete;
  datas_col& operator=(const datas_col&) = delete;
  datas_col(datas_col&& o) noexcept
      : name(std::move(o.name)), desc(o.desc), cells_(std::move(o.cells_)),
        packed_(std::exchange(o.packed_, nullptr)), rows_(std::exchange(o.rows_, 0)),
        packed_cap_(std::exchange(o.packed_cap_, 0)),
        made_(o.made_.exchange(nullptr, std::memory_order_relaxed)) {}
  ~datas_col() {
    if (datas_cell* m = made_.load(std::memory_order_relaxed)) delete[] m;
    if (packed_) ::operator delete(packed_);
  }

  nosql_db::xstring name;
  nosql_db::type_desc desc = nosql_db::no_type_desc;

  uint64_t rows() const noexcept { return packed_ ? rows_ : cells_.size(); }
  // Cell i (i < rows()); null only when the cells of a packed column cannot
  // be made for want of memory.
  const datas_cell* cell(uint64_t i) const noexcept {
    if (!packed_) return &cells_[i];
    datas_cell* m = made_.load(std::memory_order_acquire);
    if (!m) m = make_cells();
    return m ? m + i : nullptr;
  }
  // The values of a number column as one array (*n of them, n may be
  // null); null for a column of another type.
  const void* values(uint64_t* n) const noexcept;

  // Building (one thread, before the column is handed out).
  datas_cell& append_cell() { return cells_.emplace_back(); }
  // Appends n numbers of `width` bytes each; REQUIRES a number column.
  void append_numbers(const void* p, uint64_t n, uint32_t width) {
    if (!packed_ && cells_.empty() && n == 1) {
      std::memcpy(cells_.emplace_back().value, p, width);  // one number: its cell
      return;
    }
    append_packed(p, n, width);
  }
  // Capacity for n more cells of a column of cells.
  void reserve_cells(uint64_t n) { cells_.reserve(cells_.size() + n); }

 private:
  bool is_number() const noexcept { return desc.cls <= class_code(nosql_db::type_class::floating); }
  void append_packed(const void* p, uint64_t n, uint32_t width);
  datas_cell* make_cells() const noexcept;

  nosql_db::inline_vec<datas_cell> cells_;
  char* packed_ = nullptr;  // rows_ values of the column's width
  uint64_t rows_ = 0;
  uint64_t packed_cap_ = 0;  // bytes
  mutable std::atomic<datas_cell*> made_{nullptr};
};

struct datas {
  nosql_db::inline_vec<datas_col> cols;
  // Set on a result set that something else owns (a prepared statement's
  // answer): del_datas leaves it alone.
  bool owned_elsewhere = false;
};

namespace nosql_db {

// The result set of every success without columns: shared, never freed.
datas* empty_result() noexcept;

// An empty result set for a command to fill in place and hand to the host,
// and its release. Each thread keeps the block of the last one it released
// for the next it makes, so a host that frees each answer before asking
// again allocates nothing for it.
datas* new_result();  // throws std::bad_alloc
void free_result(datas* d) noexcept;

// Appends a column with the given name and descriptor; returns it.
datas_col& add_column(datas* d, std::string_view name, type_desc desc);

// Appends one cell holding v to a column; T is one of the fourteen types.
template <class T>
void append_value(datas_col& col, const T& v) {
  if constexpr (std::is_arithmetic_v<T>) {
    col.append_numbers(&v, 1, sizeof v);
  } else {
    datas_cell& c = col.append_cell();
    if constexpr (std::is_same_v<T, xstring>) {
      c.set_text(v.view());
    } else if constexpr (std::is_same_v<T, time>) {
      // Time fields sit where a datetime keeps them.
      std::memcpy(c.value + 4, &v, sizeof v);
    } else {
      static_assert(sizeof(T) <= sizeof c.value);
      std::memcpy(c.value, &v, sizeof v);
    }
  }
}
// Appends n values.
template <class T>
void append_values(datas_col& col, const T* p, uint64_t n) {
  if constexpr (std::is_arithmetic_v<T>) {
    col.append_numbers(p, n, sizeof(T));
  } else {
    col.reserve_cells(n);
    for (uint64_t i = 0; i < n; ++i) append_value(col, p[i]);
  }
}
inline void append_text(datas_col& col, std::string_view t) { col.append_cell().set_text(t); }

}  // namespace nosql_db
