// Prepared statements and their exported C interface.
#include "api/statement.h"

#include <cfloat>
#include <cmath>
#include <new>
#include <utility>

#include "api/command_table.h"
#include "api/export.h"
#include "api/vox_nosql.h"
#include "lang/literal.h"
#include "ops/refusal.h"
#include "startup/startup.h"

namespace nosql_db {
namespace {

// An integer into a place of type t: integers that hold it exactly, and
// floating-point types that represent it exactly.
template <class I>
bool integer_into(value_box& box, scalar t, I v) {
  return visit_scalar(t, false, [&]<class T>(type_tag<T>) {
    if constexpr (std::is_integral_v<T>) {
      if (!std::in_range<T>(v)) return false;
      box.set<T>(static_cast<T>(v));
      return true;
    } else if constexpr (std::is_floating_point_v<T>) {
      const T f = static_cast<T>(v);
      // Back to I only when in its range; equal then means exact.
      constexpr T limit = std::is_signed_v<I> ? T(9223372036854775808.0) : T(18446744073709551616.0);
      if (!(f < limit) || static_cast<I>(f) != v) return false;
      box.set<T>(f);
      return true;
    } else {
      return false;
    }
  });
}

bool real_into(value_box& box, scalar t, double v) {
  if (t == scalar::f64) {
    box.set<double>(v);
    return true;
  }
  // A finite value beyond the float range does not fit; NaN and the
  // infinities do.
  if (t != scalar::f32 || (std::isfinite(v) && std::fabs(v) > FLT_MAX)) return false;
  box.set<float>(static_cast<float>(v));
  return true;
}

}  // namespace

std::unique_ptr<statement> statement::prepare(store& s, const char* line, int64_t len) {
  clear_failure();
  if (!line || len <= 0) return fail(failure::empty_line), nullptr;
  const command_row* r = find_command(line, len);
  if (!r || !r->element()) return fail(failure::not_preparable), nullptr;
  token t[max_tokens];
  const int n = split_tokens(line, len, t);
  std::unique_ptr<statement> st(new statement(s));
  read_guard l(s.lock);
  element_command& cmd = st->cmd_;
  if (!parse_element_words(s, *r, t, n, &cmd)) return nullptr;
  if (cmd.word_placeholder) return fail(failure::placeholder_word), nullptr;
  if (!answers(r->family, cmd.row, cmd.c->kind_id())) {
    if (cmd.row == word::none) return fail(failure::unknown_word), nullptr;
    return fail(failure::kind_lacks_word, cmd.c->kind_name().data()), nullptr;
  }
  if (!st->collect_placeholders() || !st->read_written_literals()) return nullptr;
  st->serial_ = cmd.c->serial();
  // The words live in the caller's line: nothing reads them from now on.
  for (std::string_view& w : cmd.text) w = {};
  return st;
}

bool statement::collect_placeholders() {
  const row_sig sig = signature(cmd_.cmd, cmd_.row);
  for (uint8_t slot = 0; slot < arg_slots; ++slot) {
    if (!cmd_.placeholder[slot]) continue;
    placeholder& p = ph_[count_++];
    p.slot = slot;
    for (uint8_t i = 0; i < sig.n; ++i) {
      if (sig.args[i].slot != slot) continue;
      p.read = true;
      p.type = role_type(*cmd_.c, sig.args[i].role);
    }
  }
  return true;
}

bool statement::read_written_literals() {
  const row_sig sig = signature(cmd_.cmd, cmd_.row);
  for (uint8_t i = 0; i < sig.n; ++i) {
    const arg_sig a = sig.args[i];
    if (cmd_.placeholder[a.slot]) continue;
    if (!values_[a.slot].parse(role_type(*cmd_.c, a.role), cmd_.text[a.slot])) return false;
  }
  return true;
}

statement::placeholder* statement::at(int index) noexcept {
  if (index < 1 || index > count_) return fail(failure::no_such_placeholder), nullptr;
  return &ph_[index - 1];
}

template <class F>
bool statement::bind(int index, F&& convert) {
  clear_failure();
  placeholder* p = at(index);
  if (!p) return false;
  // A place the command does not read takes any value and ignores it.
  if (p->read && !convert(values_[p->slot], p->type))
    return fail(failure::bad_argument, type_name(desc_of(p->type)).data());
  p->bound = true;
  return true;
}

bool statement::bind_int64(int index, int64_t v) {
  return bind(index, [&](value_box& b, scalar t) { return integer_into(b, t, v); });
}
bool statement::bind_uint64(int index, uint64_t v) {
  return bind(index, [&](value_box& b, scalar t) { return integer_into(b, t, v); });
}
bool statement::bind_double(int index, double v) {
  return bind(index, [&](value_box& b, scalar t) { return real_into(b, t, v); });
}
bool statement::bind_text(int index, std::string_view v) {
  return bind(index, [&](value_box& b, scalar t) {
    if (t != scalar::string) return false;
    b.set_text(v);
    return true;
  });
}
bool statement::bind_date(int index, uint32_t year, uint32_t month, uint32_t day) {
  return bind(index, [&](value_box& b, scalar t) {
    date d;
    if (t != scalar::date || !make_date(year, month, day, &d)) return false;
    b.set(d);
    return true;
  });
}
bool statement::bind_time(int index, uint32_t hour, uint32_t minute, uint32_t second, uint32_t nanosecond) {
  return bind(index, [&](value_box& b, scalar t) {
    time tm;
    if (t != scalar::time || !make_time(hour, minute, second, nanosecond, &tm)) return false;
    b.set(tm);
    return true;
  });
}
bool statement::bind_datetime(int index, uint32_t year, uint32_t month, uint32_t day, uint32_t hour,
                              uint32_t minute, uint32_t second, uint32_t nanosecond) {
  return bind(index, [&](value_box& b, scalar t) {
    date d;
    time tm;
    if (t != scalar::datetime || !make_date(year, month, day, &d) || !make_time(hour, minute, second, nanosecond, &tm))
      return false;
    b.set(date_time{d.year, d.month, d.day, tm.hour, tm.minute, tm.second, tm.nanosecond});
    return true;
  });
}

element_command* statement::ready(arg_values** v) noexcept {
  for (int i = 0; i < count_; ++i)
    if (ph_[i].read && !ph_[i].bound) return fail(failure::unbound), nullptr;
  ab_adt* c = s_.at(cmd_.vkey);
  if (!c || c->serial() != serial_) return fail(failure::stale_statement), nullptr;
  cmd_.c = c;
  *v = &values_;
  return &cmd_;
}

uint64_t statement::text_bytes() const noexcept {
  uint64_t n = 0;
  for (const value_box& b : values_) n += b.get<xstring>().size();
  return n;
}

const datas* statement::run() {
  clear_failure();
  answer_.cols.clear();
  answer_.owned_elsewhere = true;
  read_guard l(s_.lock);
  arg_values* v;
  element_command* cmd = ready(&v);
  if (!cmd || !run_element(*cmd, *v, &answer_, false)) return nullptr;
  return &answer_;
}

void statement::reset() noexcept {
  answer_.cols.clear();
  for (int i = 0; i < count_; ++i) ph_[i].bound = false;
}

}  // namespace nosql_db

// The exported interface: a vox_stmt is a statement on the library's
// store, behind a type that C can name.
namespace {

vox_stmt* to_c(nosql_db::statement* s) noexcept { return reinterpret_cast<vox_stmt*>(s); }
nosql_db::statement* as_statement(vox_stmt* s) noexcept { return reinterpret_cast<nosql_db::statement*>(s); }

// Runs a bind and turns its answer into a code; memory exhaustion (a long
// text) is a failure like any other. A null statement has no placeholders.
template <class F>
int32_t bind_code(vox_stmt* s, F&& f) noexcept {
  if (!s) return nosql_db::fail(nosql_db::failure::no_such_placeholder), VOX_E_NO_SUCH_PLACEHOLDER;
  try {
    if (f(*as_statement(s))) return VOX_E_NONE;
  } catch (...) {
    nosql_db::fail(nosql_db::failure::out_of_memory);
  }
  return nosql_db::thread_failure.code;
}

}  // namespace

NOSQL_EXPORT vox_stmt* vox_prepare(const char* line, int32_t len) {
  using namespace nosql_db;
  store* s = global_store();
  if (!s) return fail(failure::out_of_memory), nullptr;
  try {
    return to_c(statement::prepare(*s, line, len).release());
  } catch (...) {
    fail(failure::out_of_memory);
    return nullptr;
  }
}

NOSQL_EXPORT int32_t vox_bind_int64(vox_stmt* s, int32_t index, int64_t value) {
  return bind_code(s, [&](nosql_db::statement& st) { return st.bind_int64(index, value); });
}
NOSQL_EXPORT int32_t vox_bind_uint64(vox_stmt* s, int32_t index, uint64_t value) {
  return bind_code(s, [&](nosql_db::statement& st) { return st.bind_uint64(index, value); });
}
NOSQL_EXPORT int32_t vox_bind_double(vox_stmt* s, int32_t index, double value) {
  return bind_code(s, [&](nosql_db::statement& st) { return st.bind_double(index, value); });
}
NOSQL_EXPORT int32_t vox_bind_text(vox_stmt* s, int32_t index, const char* text, uint64_t len) {
  return bind_code(s, [&](nosql_db::statement& st) {
    return st.bind_text(index, std::string_view(text ? text : "", text ? len : 0));
  });
}
NOSQL_EXPORT int32_t vox_bind_date(vox_stmt* s, int32_t index, uint32_t year, uint32_t month, uint32_t day) {
  return bind_code(s, [&](nosql_db::statement& st) { return st.bind_date(index, year, month, day); });
}
NOSQL_EXPORT int32_t vox_bind_time(vox_stmt* s, int32_t index, uint32_t hour, uint32_t minute, uint32_t second,
                                   uint32_t nanosecond) {
  return bind_code(s, [&](nosql_db::statement& st) { return st.bind_time(index, hour, minute, second, nanosecond); });
}
NOSQL_EXPORT int32_t vox_bind_datetime(vox_stmt* s, int32_t index, uint32_t year, uint32_t month, uint32_t day,
                                       uint32_t hour, uint32_t minute, uint32_t second, uint32_t nanosecond) {
  return bind_code(s, [&](nosql_db::statement& st) {
    return st.bind_datetime(index, year, month, day, hour, minute, second, nanosecond);
  });
}

NOSQL_EXPORT int32_t vox_placeholder_count(const vox_stmt* s) {
  return s ? reinterpret_cast<const nosql_db::statement*>(s)->placeholders() : 0;
}

NOSQL_EXPORT const datas* vox_run(vox_stmt* s) {
  if (!s) return nosql_db::fail(nosql_db::failure::stale_statement), nullptr;
  try {
    return as_statement(s)->run();
  } catch (...) {
    nosql_db::fail(nosql_db::failure::out_of_memory);
    return nullptr;
  }
}

NOSQL_EXPORT void vox_reset(vox_stmt* s) {
  if (s) as_statement(s)->reset();
}

NOSQL_EXPORT void vox_finalize(vox_stmt* s) { delete as_statement(s); }

NOSQL_EXPORT const void* vox_col_values(const datas_col* c, uint64_t* count) {
  uint64_t n = 0;
  const void* p = c ? c->values(&n) : nullptr;
  if (count) *count = p ? n : 0;
  return p;
}
