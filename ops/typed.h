// Bridges from runtime types to typed container calls, used by every
// command: the container's adt<K> view, and type-erased holders for values
// and value lists of the container's value type V, so that no command
// instantiates code for K x V.
#pragma once

#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <tuple>

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
  value_box() noexcept = default;
  value_box(const value_box&) = delete;
  value_box& operator=(const value_box&) = delete;
  ~value_box() {
    if (type_ == scalar::string) str().~xstring();
  }

  // Reads tok with the literal parser of type t; false, with the reason
  // recorded, when it rejects.
  bool parse(scalar t, std::string_view tok);
  template <class T>
  bool parse_as(std::string_view tok) {
    if constexpr (std::is_same_v<T, xstring>) {
      return read_arg(tok, &make_string());
    } else {
      drop_string();
      type_ = scalar_traits<T>::id;
      return read_arg(tok, ::new (raw_) T());
    }
  }
  // Holds the default value of type t.
  void set_default(scalar t);
  value_ref ref() const noexcept { return {type_, raw_}; }
  scalar type() const noexcept { return type_; }

  // The value as T: a copy of the bytes for the fixed-width types (any
  // bytes: a place that the row does not read holds zeros or another
  // type's value), the string itself for strings.
  template <class T>
  decltype(auto) get() const noexcept {
    if constexpr (std::is_same_v<T, xstring>) {
      // A place the row does not read holds no string: an empty one then.
      static const xstring none;
      return type_ == scalar::string ? static_cast<const xstring&>(str()) : none;
    } else {
      static_assert(sizeof(T) <= sizeof raw_ && std::is_trivially_copyable_v<T>);
      T v;
      std::memcpy(&v, raw_, sizeof v);
      return v;
    }
  }
  // Holds v (a copy; may throw std::bad_alloc for a string).
  template <class T>
  void set(const T& v) {
    if constexpr (std::is_same_v<T, xstring>) {
      make_string().assign(v.data(), v.size());
    } else {
      static_assert(sizeof(T) <= sizeof raw_ && std::is_trivially_copyable_v<T>);
      drop_string();
      ::new (raw_) T(v);
      type_ = scalar_traits<T>::id;
    }
  }
  void set_text(std::string_view t) { make_string().assign(t.data(), t.size()); }

 private:
  // An empty string, made in raw_ unless there is one already.
  xstring& make_string() noexcept {
    if (type_ != scalar::string) {
      ::new (raw_) xstring();
      type_ = scalar::string;
    }
    return str();
  }
  void drop_string() noexcept {
    if (type_ == scalar::string) str().~xstring();
    type_ = scalar::none;
  }
  xstring& str() noexcept { return *std::launder(reinterpret_cast<xstring*>(raw_)); }
  const xstring& str() const noexcept { return *std::launder(reinterpret_cast<const xstring*>(raw_)); }

  scalar type_ = scalar::none;
  // The value: a fixed-width one's bytes, or a string object.
  alignas(8) unsigned char raw_[sizeof(xstring)];
};

// The list a get fills, kept per thread and element type so that answers
// of a few elements allocate nothing; one that grew large is let go
// afterwards. A thread's lists sit in one heap block that it allocates on
// its first get; the block is reached through one pointer of static TLS (a
// library that a host loads late has little of that) and freed when the
// thread ends. One scratch_list<T> at a time per thread and type.
#define NOSQL_LIST_OF(tag, T, ...) elem_array<T>,
using thread_lists = std::tuple<NOSQL_FOR_EACH_SCALAR(NOSQL_LIST_OF) int>;
#undef NOSQL_LIST_OF
extern thread_local thread_lists* t_lists [[gnu::tls_model("initial-exec")]];
thread_lists& make_thread_lists();  // throws std::bad_alloc

template <class T>
struct scratch_list {
  elem_array<T>& l;
  scratch_list() : l(std::get<elem_array<T>>(t_lists ? *t_lists : make_thread_lists())) { l.clear(); }
  ~scratch_list() {
    if (l.capacity() > 4096) l = elem_array<T>();
  }
  scratch_list(const scratch_list&) = delete;
  scratch_list& operator=(const scratch_list&) = delete;
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
  bool make(scalar t);  // may throw std::bad_alloc
  value_list_sink* operator->() noexcept { return sink_; }

 private:
  alignas(16) unsigned char buf_[48];
  value_list_sink* sink_ = nullptr;
};

// Appends one cell per element, in order.
template <class T>
void list_to_column(const elem_array<T>& l, datas_col& col) {
  append_values(col, l.data(), l.size());
}

}  // namespace nosql_db
