// Prepared statements: an element command parsed once (container resolved,
// word classified, written literals read) and run many times with values
// bound to its placeholders. exec runs the same parsed form (ops/command.h),
// so a statement answers exactly what exec answers for the line with the
// values written in.
//
// A statement remembers its container by vkey and serial number; a run
// finds the slot holding another container (erased and re-created, cleared,
// replaced by a read) and fails instead of touching it. One thread at a
// time may use a statement.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "catalog/store.h"
#include "lang/result_set.h"
#include "ops/command.h"

namespace nosql_db {

class statement {
 public:
  // Null, with the reason recorded, when the line cannot run for any
  // values. Takes the store lock shared. May throw std::bad_alloc.
  static std::unique_ptr<statement> prepare(store& s, const char* line, int64_t len);

  int placeholders() const noexcept { return count_; }
  // The type placeholder `index` takes; scalar::none for a place that the
  // command does not read, or an index with no placeholder.
  scalar placeholder_type(int index) const noexcept {
    return index >= 1 && index <= count_ && ph_[index - 1].read ? ph_[index - 1].type : scalar::none;
  }

  // Each gives placeholder `index` (from 1) a value; false, with the
  // reason recorded, when there is no such placeholder or the value does
  // not fit the type its place takes. bind_text may throw std::bad_alloc.
  bool bind_int64(int index, int64_t v);
  bool bind_uint64(int index, uint64_t v);
  bool bind_double(int index, double v);
  bool bind_text(int index, std::string_view v);
  bool bind_date(int index, uint32_t year, uint32_t month, uint32_t day);
  bool bind_time(int index, uint32_t hour, uint32_t minute, uint32_t second, uint32_t nanosecond);
  bool bind_datetime(int index, uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                     uint32_t second, uint32_t nanosecond);

  // Runs the command; the answer (owned by the statement) or null with the
  // reason recorded. Takes the store lock shared. May throw std::bad_alloc.
  const datas* run();
  // Forgets the bound values and the answer.
  void reset() noexcept;
  // For a batch, which holds the store lock already: the command, its
  // container found again, and the values to run it with; null, with the
  // reason recorded, when the container is gone or a value is missing.
  element_command* ready(arg_values** v) noexcept;
  store& owner() const noexcept { return s_; }
  // The bytes of its string values, bound or written.
  uint64_t text_bytes() const noexcept;

 private:
  // A placeholder: its argument place, whether the command reads that
  // place, the type it takes there, and whether it has a value.
  struct placeholder {
    uint8_t slot = 0;
    bool read = false;
    scalar type = scalar::none;
    bool bound = false;
  };

  explicit statement(store& s) noexcept : s_(s) {}
  bool collect_placeholders();
  bool read_written_literals();
  // The placeholder at index, or null with the reason recorded.
  placeholder* at(int index) noexcept;
  // Stores a value through convert(box, type) -> bool.
  template <class F>
  bool bind(int index, F&& convert);

  store& s_;
  element_command cmd_;
  uint64_t serial_ = 0;
  arg_values values_;
  placeholder ph_[arg_slots];
  int count_ = 0;
  datas answer_;
};

}  // namespace nosql_db
