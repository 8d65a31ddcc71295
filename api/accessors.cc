// The exported result-set accessors and del_datas.
#include <cstdlib>
#include <cstring>

#include "api/export.h"
#include "api/vox_nosql.h"
#include "lang/result_set.h"

namespace {

template <class T>
T read_value(const datas_cell* c) {
  T v;
  std::memcpy(&v, c->value, sizeof v);
  return v;
}

}  // namespace

NOSQL_EXPORT void del_datas(datas* d) {
  if (d && d != nosql_db::empty_result() && !d->owned_elsewhere) nosql_db::free_result(d);
}

NOSQL_EXPORT uint64_t cols_of(const datas* d) { return d ? d->cols.size() : 0; }

NOSQL_EXPORT uint64_t rows_of(const datas* d) { return d && !d->cols.empty() ? d->cols[0].rows() : 0; }

NOSQL_EXPORT const datas_col* col_of(const datas* d, int32_t index) {
  const auto i = static_cast<uint64_t>(static_cast<int64_t>(index));
  if (!d || i >= d->cols.size()) return nullptr;
  return &d->cols[i];
}

NOSQL_EXPORT const char* col_name(uint32_t* len, const datas* d, int32_t index) {
  const datas_col* c = col_of(d, index);
  if (!c) return nullptr;
  *len = static_cast<uint32_t>(c->name.size());
  return c->name.data() ? c->name.data() : "";
}

NOSQL_EXPORT const datas_cell* at(uint64_t row, uint64_t col, const datas* d) {
  if (!d || d->cols.empty() || row >= d->cols[0].rows() || col >= d->cols.size()) return nullptr;
  // Every column has the first column's cell count.
  return d->cols[col].cell(row);
}

NOSQL_EXPORT uint64_t val_size(const datas_col* c) {
  switch (c->desc.size) {
    case 0: return 1;
    case 1: return 2;
    case 2: return 4;
    default: return 8;
  }
}

NOSQL_EXPORT int32_t val_type(const datas_col* c) {
  return c->desc.cls <= nosql_db::class_code(nosql_db::type_class::datetime) ? c->desc.cls : -1;
}

NOSQL_EXPORT int32_t val_sign(const datas_col* c) { return c->desc.sign != 0 ? 1 : 0; }

// Each signed/unsigned pair is one function exported under two names.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wunknown-warning-option"
#pragma GCC diagnostic ignored "-Wattribute-alias"
NOSQL_EXPORT int8_t as_int8(const datas_cell* c) { return read_value<int8_t>(c); }
NOSQL_EXPORT int16_t as_int16(const datas_cell* c) { return read_value<int16_t>(c); }
NOSQL_EXPORT int32_t as_int32(const datas_cell* c) { return read_value<int32_t>(c); }
NOSQL_EXPORT int64_t as_int64(const datas_cell* c) { return read_value<int64_t>(c); }
NOSQL_EXPORT uint8_t as_uint8(const datas_cell* c) __attribute__((alias("as_int8")));
NOSQL_EXPORT uint16_t as_uint16(const datas_cell* c) __attribute__((alias("as_int16")));
NOSQL_EXPORT uint32_t as_uint32(const datas_cell* c) __attribute__((alias("as_int32")));
NOSQL_EXPORT uint64_t as_uint64(const datas_cell* c) __attribute__((alias("as_int64")));
#pragma GCC diagnostic pop

NOSQL_EXPORT float as_float(const datas_cell* c) { return read_value<float>(c); }

NOSQL_EXPORT double as_double(const datas_cell* c) { return read_value<double>(c); }

NOSQL_EXPORT void as_str(char** out, uint64_t* len, const datas_cell* c) {
  const std::string_view t = c->text();
  char* p = static_cast<char*>(std::malloc(t.size()));
  if (p && !t.empty()) std::memcpy(p, t.data(), t.size());
  *out = p;
  // An allocation failure reports an empty text rather than a bad length.
  *len = p ? t.size() : 0;
}

NOSQL_EXPORT void as_date(uint32_t* year, uint32_t* month, uint32_t* day, const datas_cell* c) {
  const auto v = read_value<nosql_db::date_time>(c);
  *year = v.year;
  *month = v.month;
  *day = v.day;
}

NOSQL_EXPORT void as_time(uint32_t* hour, uint32_t* minute, uint32_t* second, uint32_t* nanosecond,
                          const datas_cell* c) {
  const auto v = read_value<nosql_db::date_time>(c);
  *hour = v.hour;
  *minute = v.minute;
  *second = v.second;
  *nanosecond = v.nanosecond;
}

NOSQL_EXPORT void as_datetime(uint32_t* year, uint32_t* month, uint32_t* day, uint32_t* hour,
                              uint32_t* minute, uint32_t* second, uint32_t* nanosecond,
                              const datas_cell* c) {
  as_date(year, month, day, c);
  as_time(hour, minute, second, nanosecond, c);
}
