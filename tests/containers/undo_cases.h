// The kinds that take changes back, and random changes for each, shared
// by the rollback tests (tests/api/oom_check.cc, tests/api/batch_test.cc).
#pragma once

#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "test_util.h"

namespace nosql_db::testing_util {

// A kind: how to make it (at vkey 0) and a random change line for it.
struct kind_case {
  const char* name;
  const char* create;
  std::function<std::string(std::mt19937&)> change;
};

inline std::string num(std::mt19937& r, int n) { return std::to_string(static_cast<int>(r() % n)); }
inline std::string text(std::mt19937& r) {
  static const char* const words[] = {"a", "b", "\"a somewhat longer text than fits in a string's own bytes\"", "c", "\"\""};
  return words[r() % 5];
}
inline std::string pick(std::mt19937& r, std::initializer_list<std::string> xs) { return *(xs.begin() + r() % xs.size()); }

// Changes of the sequence kinds, with positions near and beyond the ends.
inline std::string sequence_change(std::mt19937& r) {
  const std::string p = num(r, 12), q = num(r, 12), x = text(r);
  return pick(r, {"i 0 last " + x, "i 0 first " + x, "i 0 nth " + p + " " + x, "d 0 first", "d 0 last",
                  "d 0 nth " + p, "d 0 range " + p + " " + q, "d 0 first_n " + p, "d 0 last_n " + p,
                  "s 0 nth " + p + " " + x, "s 0 range " + p + " " + q + " " + x, "s 0 first " + x,
                  "s 0 last " + x, "s 0 first_n " + p + " " + x, "s 0 last_n " + p + " " + x, "s 0 all " + x,
                  r() % 20 == 0 ? "d 0 all" : "i 0 last " + x});
}

inline std::string set_change(std::mt19937& r) {
  const std::string k = num(r, 60), j = num(r, 60), n = num(r, 6);
  return pick(r, {"i 0 " + k, "i 0 " + k, "d 0 equal " + k, "d 0 lege " + k + " " + j, "d 0 ltgt " + k + " " + j,
                  "d 0 gt " + k, "d 0 le " + k, "d 0 min", "d 0 max", "d 0 min_n " + n, "d 0 max_n " + n,
                  "s 0 equal " + k + " " + j, "s 0 min " + k, "s 0 max " + k, "s 0 lege " + k + " " + j + " " + n,
                  "s 0 gt " + k + " " + j, "s 0 min_n " + n + " " + k, r() % 30 == 0 ? "d 0 all" : "i 0 " + j});
}

inline std::string map_change(std::mt19937& r) {
  const std::string k = num(r, 40), j = num(r, 40), x = text(r);
  return pick(r, {"i 0 " + k + " " + x, "i 0 " + k, "d 0 equal " + k, "d 0 min", "d 0 max", "s 0 value " + k + " " + x,
                  "s 0 equal " + k + " " + j, "s 0 min " + k, "s 0 max " + k, r() % 30 == 0 ? "d 0 all" : "i 0 " + j + " " + x});
}

inline const kind_case undo_kinds[] = {
    {"vector", "c vector string", sequence_change},
    {"deque", "c deque string", sequence_change},
    {"list", "c list string", [](std::mt19937& r) {
       // Handles are the list's own; the test takes them from its answers.
       return r() % 4 == 0 ? std::string("handle") : sequence_change(r);
     }},
    {"queue", "c queue string", [](std::mt19937& r) {
       return pick(r, {"i 0 last " + text(r), "i 0 last " + text(r), "d 0 first", "s 0 first " + text(r),
                       "s 0 last " + text(r), "s 0 all " + text(r), r() % 20 == 0 ? "d 0 all" : "d 0 first"});
     }},
    {"stack", "c stack string", [](std::mt19937& r) {
       return pick(r, {"i 0 last " + text(r), "i 0 last " + text(r), "d 0 last", "s 0 last " + text(r),
                       "s 0 all " + text(r), r() % 20 == 0 ? "d 0 all" : "d 0 last"});
     }},
    {"heap", "c heap i32", [](std::mt19937& r) {
       return pick(r, {"i 0 " + num(r, 100), "i 0 " + num(r, 100), "d 0 min", "s 0 min " + num(r, 100),
                       r() % 20 == 0 ? "d 0 all" : "i 0 " + num(r, 100)});
     }},
    {"set", "c set i32", set_change},
    {"multiset", "c multiset i32", set_change},
    {"map", "c map i32 string", map_change},
    {"multimap", "c multimap i32 string", map_change},
    {"hashmap", "c hashmap i16 string 64", [](std::mt19937& r) {
       const std::string k = std::to_string(static_cast<int>(r() % 80) - 32768), j = std::to_string(static_cast<int>(r() % 80) - 32768);
       return pick(r, {"i 0 " + k + " " + text(r), "i 0 " + k, "d 0 equal " + k, "s 0 value " + k + " " + text(r),
                       "s 0 equal " + k + " " + j, r() % 30 == 0 ? "d 0 all" : "i 0 " + j + " " + text(r)});
     }},
    {"hashtable", "c hashtable u08 50", [](std::mt19937& r) {
       const std::string k = num(r, 60), j = num(r, 60);
       return pick(r, {"i 0 " + k, "i 0 " + k, "d 0 equal " + k, "s 0 equal " + k + " " + j, r() % 30 == 0 ? "d 0 all" : "i 0 " + j});
     }},
    {"trie", "c trie", [](std::mt19937& r) {
       static const char* const w[] = {"a", "ab", "abc", "abd", "b", "ba", "\"x y\"", "\"\"", "\"\\xff\""};
       return r() % 25 == 0 ? std::string("d 0 all") : std::string("i 0 ") + w[r() % 9];
     }},
};

inline void PrintTo(const kind_case& k, std::ostream* os) { *os << k.name; }

// n change lines that need no handle, each ending in a line feed: a batch.
inline std::string plain_changes(std::mt19937& r, const kind_case& k, int n) {
  std::string text;
  while (n > 0) {
    const std::string line = k.change(r);
    if (line != "handle") text += line + "\n", --n;
  }
  return text;
}

// Runs change lines on t; for the list, "handle" turns into a change at a
// handle taken from the list (a live one, or one of a removed element).
inline void run_changes(test_store& t, std::mt19937& r, const kind_case& k, int n, std::vector<std::string>& handles) {
  for (int i = 0; i < n; ++i) {
    std::string line = k.change(r);
    if (line == "handle") {
      const auto h = t.col("g 0 pos " + text(r));
      if (h.size() == 1 && h[0] != "<none>" && h[0] != "<fail>") handles.push_back(h[0]);
      if (handles.empty()) continue;
      const std::string& at = handles[r() % handles.size()];
      line = pick(r, {"i 0 val " + at + " " + text(r), "d 0 pos " + at, "s 0 val " + at + " " + text(r), "i 0 val 0 z"});
    }
    t.run(line);
  }
}

}  // namespace nosql_db::testing_util
