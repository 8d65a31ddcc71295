// The describe command: name, vkey, size, kind and types of one container
// or of every container, in ascending vkey order.
#include "lang/format.h"
#include "ops/ops.h"

namespace nosql_db {
namespace {

constexpr type_desc u64_desc = scalar_traits<uint64_t>::desc;
constexpr type_desc text_desc = scalar_traits<xstring>::desc;

struct describe_cols {
  datas_col* skey;
  datas_col* vkey;
  datas_col* hex;
  datas_col* count;
  datas_col* ctype;
  datas_col* ktype;
  datas_col* vtype;
};

describe_cols add_columns(datas* out) {
  out->cols.reserve(out->cols.size() + 7);
  describe_cols c{};
  c.skey = &add_column(out, "skey", text_desc);
  c.vkey = &add_column(out, "vkey", u64_desc);
  c.hex = &add_column(out, "vkey(hex)", text_desc);
  c.count = &add_column(out, "count", u64_desc);
  c.ctype = &add_column(out, "ctype", text_desc);
  c.ktype = &add_column(out, "ktype", text_desc);
  c.vtype = &add_column(out, "vtype", text_desc);
  return c;
}

void add_row(const describe_cols& cols, uint64_t v, const ab_adt& c) {
  xstring hex;
  hex_text(v, &hex);
  append_text(*cols.skey, c.name().view());
  append_value(*cols.vkey, v);
  append_value(*cols.hex, hex);
  append_value(*cols.count, c.size());
  append_text(*cols.ctype, c.kind_name());
  append_text(*cols.ktype, type_name(c.key_desc()));
  append_text(*cols.vtype, type_name(c.val_desc()));
}

}  // namespace

bool describe_cmd(const store& s, const ab_adt* c, uint64_t vkey, datas* out) {
  if (c) {
    add_row(add_columns(out), vkey, *c);
    return true;
  }
  uint64_t left = s.container_count();
  if (left == 0) return true;
  const describe_cols cols = add_columns(out);
  for (uint64_t v = 0; v < store::slot_count && left > 0; ++v) {
    if (const ab_adt* c = s.at(v)) {
      add_row(cols, v, *c);
      --left;
    }
  }
  return true;
}

}  // namespace nosql_db
