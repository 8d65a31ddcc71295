// Result sets: typed columns of equal length, built by the command handlers
// and read by the host through the exported accessors.
//
// A cell holds up to 11 value bytes (a little-endian number or a packed
// calendar record) and, for strings, its own copy of the text. Texts keep
// their full length: the accessors hand out 64-bit lengths, so nothing is
// cut at 65,535 bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "lang/scalar.h"

// The exported opaque types, defined here for the library.
struct datas_cell {
 public:
  datas_cell() noexcept = default;
  datas_cell(const datas_cell& o) : datas_cell() { copy_from(o); }
  datas_cell(datas_cell&& o) noexcept { take(o); }
  datas_cell& operator=(const datas_cell& o);
  datas_cell& operator=(datas_cell&& o) noexcept;
  ~datas_cell();

  void set_text(std::string_view t);  // throws std::bad_alloc
  std::string_view text() const noexcept { return {text_ ? text_ : "", static_cast<size_t>(text_len_)}; }

  uint8_t value[11] = {};

 private:
  void copy_from(const datas_cell& o);
  void take(datas_cell& o) noexcept;

  char* text_ = nullptr;  // owned (new[])
  uint64_t text_len_ = 0;
};

struct datas_col {
  using type_desc = nosql_db::type_desc;
  using xstring = nosql_db::xstring;
  xstring name;
  type_desc desc = nosql_db::no_type_desc;
  std::vector<datas_cell> cells;
};

struct datas {
  std::vector<datas_col> cols;
};

namespace nosql_db {

// The result set of every success without columns: shared, never freed.
datas* empty_result() noexcept;

// Appends a column with the given name and descriptor; returns it.
datas_col& add_column(datas* d, std::string_view name, type_desc desc);

// Appends one cell holding v to a column; T is one of the fourteen types.
template <class T>
void append_value(datas_col& col, const T& v) {
  datas_cell& c = col.cells.emplace_back();
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
inline void append_text(datas_col& col, std::string_view t) { col.cells.emplace_back().set_text(t); }

}  // namespace nosql_db
