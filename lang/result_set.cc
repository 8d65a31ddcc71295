// Result-set cells and columns: copying, text ownership, the shared empty
// result and column building.
#include "lang/result_set.h"

#include <cstdlib>
#include <new>

datas_cell& datas_cell::operator=(const datas_cell& o) {
  if (this != &o) {
    datas_cell tmp(o);
    *this = std::move(tmp);
  }
  return *this;
}

datas_cell& datas_cell::operator=(datas_cell&& o) noexcept {
  if (this != &o) {
    delete[] text_;
    text_ = nullptr;
    text_len_ = 0;
    take(o);
  }
  return *this;
}

datas_cell::~datas_cell() { delete[] text_; }

void datas_cell::set_text(std::string_view t) {
  char* p = new char[t.size() ? t.size() : 1];
  if (!t.empty()) std::memcpy(p, t.data(), t.size());
  delete[] text_;
  text_ = p;
  text_len_ = t.size();
}

void datas_cell::copy_from(const datas_cell& o) {
  std::memcpy(value, o.value, sizeof value);
  if (o.text_) set_text(o.text());
}

void datas_cell::take(datas_cell& o) noexcept {
  std::memcpy(value, o.value, sizeof value);
  text_ = o.text_;
  text_len_ = o.text_len_;
  o.text_ = nullptr;
  o.text_len_ = 0;
}

namespace nosql_db {
namespace {

// Constant-initialised (an empty vector), so it exists before any exec.
constinit datas shared_empty;

}  // namespace

datas* empty_result() noexcept { return &shared_empty; }

datas_col& add_column(datas* d, std::string_view name, type_desc desc) {
  datas_col& c = d->cols.emplace_back();
  c.name.assign(name.data(), name.size());
  c.desc = desc;
  return c;
}

}  // namespace nosql_db
