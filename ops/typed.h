// Bridges from runtime types to typed container calls, used by every
// command: the container's adt<K> view, and type-erased holders for values
// and value lists of the container's value type V, so that no command
// instantiates code for K x V.
#pragma once

#include <memory>
#include <string_view>

#include "lang/result_set.h"
#include "containers/container.h"
#include "lang/failure.h"
#include "lang/literal.h"

namespace nosql_db {

// Calls f(adt<K>&) with the container's element-operation interface.
// REQUIRES: c takes element commands (not a placeholder).
template <class C, class F>
bool with_adt(C& c, F&& f) {
  return visit_scalar(c.key_type(), false, [&]<class K>(type_tag<K>) -> bool {
    using A = std::conditional_t<std::is_const_v<C>, const adt<K>, adt<K>>;
    return f(static_cast<A&>(c));
  });
}

// Reads an argument token as T (positions, counts and handles as uint64_t);
// false, with the reason "not a T" recorded, when the parser rejects it.
template <class T>
bool read_arg(std::string_view tok, T* out) {
  return parse_literal(tok, out) || fail(failure::bad_argument, scalar_traits<T>::name.data());
}

// One value of any scalar type.
class value_box {
 public:
  // Reads tok with the literal parser of type t; false, with the reason
  // recorded, when it rejects.
  bool parse(scalar t, std::string_view tok);
  // Holds the default value of type t.
  void set_default(scalar t);
  value_ref ref() const noexcept { return {type_, type_ == scalar::string ? static_cast<const void*>(&str_) : raw_}; }

 private:
  scalar type_ = scalar::none;
  alignas(8) unsigned char raw_[16] = {};
  xstring str_;
};

// A result list of the value type, and its conversion to a column.
class value_list_sink {
 public:
  virtual ~value_list_sink() = default;
  virtual value_list_ref ref() noexcept = 0;
  virtual void to_column(datas_col& col) const = 0;
};
// A value_list_sink of any value type, built in place (no heap block).
class value_list_box {
 public:
  value_list_box() noexcept = default;
  value_list_box(const value_list_box&) = delete;
  value_list_box& operator=(const value_list_box&) = delete;
  ~value_list_box() {
    if (sink_) sink_->~value_list_sink();
  }
  // Makes an empty list of type t; false for scalar::none.
  bool make(scalar t) noexcept;
  value_list_sink* operator->() noexcept { return sink_; }

 private:
  alignas(16) unsigned char buf_[48];
  value_list_sink* sink_ = nullptr;
};

// Appends one cell per element, in order.
template <class T>
void list_to_column(const elem_array<T>& l, datas_col& col) {
  col.cells.reserve(col.cells.size() + l.size());
  for (const T& v : l) append_value(col, v);
}

}  // namespace nosql_db
