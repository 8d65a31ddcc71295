// value_box and value lists: the only places that switch on the value type.
#include "ops/typed.h"

#include <new>

namespace nosql_db {
namespace {

template <class T>
class typed_value_list final : public value_list_sink {
 public:
  value_list_ref ref() noexcept override { return {scalar_traits<T>::id, &list_.l}; }
  void to_column(datas_col& col) const override { list_to_column(list_.l, col); }

 private:
  scratch_list<T> list_;
};

struct lists_owner {
  ~lists_owner() {
    delete t_lists;
    t_lists = nullptr;
  }
};
thread_local lists_owner t_lists_owner;

}  // namespace

thread_local thread_lists* t_lists [[gnu::tls_model("initial-exec")]] = nullptr;

thread_lists& make_thread_lists() {
  t_lists = new thread_lists();
  (void)&t_lists_owner;  // first use: its destructor runs at thread exit
  return *t_lists;
}

bool value_box::parse(scalar t, std::string_view tok) {
  drop_string();
  return visit_scalar(t, false, [&]<class T>(type_tag<T>) -> bool { return parse_as<T>(tok); });
}

void value_box::set_default(scalar t) {
  visit_scalar(t, 0, [&]<class T>(type_tag<T>) {
    if constexpr (std::is_same_v<T, xstring>) make_string().clear();
    else set(default_value<T>());
    return 0;
  });
}

bool value_list_box::make(scalar t) {
  return visit_scalar(t, false, [&]<class T>(type_tag<T>) {
    static_assert(sizeof(typed_value_list<T>) <= sizeof buf_ && alignof(typed_value_list<T>) <= 16);
    sink_ = ::new (buf_) typed_value_list<T>();
    return true;
  });
}

}  // namespace nosql_db
