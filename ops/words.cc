// Word tables of the get, set and delete commands.
#include "ops/words.h"

namespace nosql_db {
namespace {

// The l-words shared by the three commands. Two-byte words look at their
// second (= last) byte; four-byte range words at their second byte for the
// upper bound and their fourth for the lower bound (t = exclusive).
word classify_l(std::string_view w) noexcept {
  switch (w.size()) {
    case 2: return w[1] == 't' ? word::lt : word::le;
    case 4:
      if (w[1] == 'a') return word::last;
      if (w[1] == 'e') return w[3] == 't' ? word::le_gt : word::le_ge;
      if (w[1] == 't') return w[3] == 't' ? word::lt_gt : word::lt_ge;
      return word::none;
    case 6: return word::last_n;
    default: return word::none;
  }
}

word classify_m(std::string_view w) noexcept {
  if (w.size() == 3) return w[2] == 'n' ? word::min : word::max;
  if (w.size() == 5) return w[2] == 'n' ? word::min_n : word::max_n;
  return word::none;
}

word classify_f(std::string_view w) noexcept {
  if (w.size() == 5) return word::first;
  if (w.size() == 7) return word::first_n;
  return word::none;
}

}  // namespace

word classify_get(std::string_view w) noexcept {
  if (w.empty()) return word::none;
  const char last = w.back();
  switch (w[0]) {
    case 'a': return word::all;
    case 'c': return w.size() == 5 ? word::count : w.size() == 8 ? word::con_type : word::contain;
    case 'e': return word::equal;
    case 'f': return classify_f(w);
    case 'g': return last == 't' ? word::gt : word::ge;
    case 'i': return word::index;
    case 'k': return word::key_type;
    case 'l': return classify_l(w);
    case 'm': return classify_m(w);
    case 'n': return w.size() == 3 ? word::nth : word::none;
    case 'p':
      if (w.size() == 3) return word::pos;
      if (w.size() == 5 && last == 'n') return word::pos_n;
      if (w.size() == 5 && last == 'p') return word::pos_p;
      return word::none;
    case 'r': return w.size() == 4 ? word::rank : word::range;
    case 'u': return word::ucontain;
    case 'v':
      if (w.size() == 8) return last == 'e' ? word::val_type : word::none;
      if (last == 'e') return word::value;
      if (last == 'l') return word::val;
      return word::none;
    default: return word::none;
  }
}

word classify_set(std::string_view w) noexcept {
  if (w.empty()) return word::none;
  switch (w[0]) {
    case 'a': return word::all;
    case 'e': return word::equal;
    case 'f': return classify_f(w);
    case 'g': return w.back() == 't' ? word::gt : word::ge;
    case 'l': return classify_l(w);
    case 'm': return classify_m(w);
    case 'n': return w.size() == 3 ? word::nth : word::none;
    case 'r': return word::range;
    case 'v': return w.size() < 4 ? word::val : word::value;
    default: return word::none;
  }
}

word classify_delete(std::string_view w) noexcept {
  if (w.empty()) return word::none;
  switch (w[0]) {
    case 'a': return word::all;
    case 'e': return word::equal;
    case 'f': return classify_f(w);
    case 'g': return w.back() == 't' ? word::gt : word::ge;
    case 'l': return classify_l(w);
    case 'm': return classify_m(w);
    case 'n': return w.size() == 3 ? word::nth : word::none;
    case 'p': return word::pos;
    case 'r': return word::range;
    default: return word::none;
  }
}

}  // namespace nosql_db
