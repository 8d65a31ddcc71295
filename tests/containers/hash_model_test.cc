// Hashmap and hashtable against std::map over random runs of the insert,
// delete, set and get commands, for every integer key type with its
// extremes, keys just inside and just past the buckets, and bucket counts
// that cover the whole type or go beyond it (NOSQL_LONG=1 runs far
// longer). A table of N buckets holds the N smallest keys of its type: an
// insert or a re-key beyond them is refused as "beyond the buckets", a
// re-key of an absent key as "no element matches", and neither changes
// anything. After every operation the
// keys (and a hashmap's values) are the model's and the count is N.
#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "test_util.h"

namespace nosql_db {
namespace {

using namespace testing_util;


template <class K>
std::string word(K k) {
  return std::to_string(+k);
}

// The answer of a get: the one cell, or no column.
std::vector<std::string> cells(bool found, const std::string& cell) {
  return {found ? cell : "<none>"};
}

template <class K>
void hash_model_run(bool table, uint64_t buckets, uint32_t seed) {
  using lim = std::numeric_limits<K>;
  // The N smallest keys of the type, counted without wrapping.
  auto fits = [&](K k) { return static_cast<__int128>(k) - lim::min() < static_cast<__int128>(buckets); };
  std::mt19937_64 rng(seed);
  // Mostly keys in the buckets and just past their end, some anywhere.
  const __int128 end = std::min<__int128>(static_cast<__int128>(lim::min()) + buckets, lim::max());
  auto key = [&]() -> K {
    const uint64_t r = rng() % 16;
    if (r < 2) return r == 0 ? lim::min() : lim::max();
    if (r < 4) return static_cast<K>(rng());
    if (r < 6) return static_cast<K>(end - 3 + static_cast<__int128>(rng() % 6));
    return static_cast<K>(lim::min() + static_cast<__int128>(rng() % std::min<uint64_t>(buckets + 1, 400)));
  };
  test_store t;
  const std::string type(type_name(scalar_traits<K>::desc));
  ASSERT_TRUE(t.ok("c " + std::string(table ? "hashtable " : "hashmap ") + type + (table ? "" : " i32") + " " +
                   std::to_string(buckets)));
  const auto& c = static_cast<const adt<K>&>(*t.s.at(0));
  std::map<K, int32_t> m;
  // Runs a line the model says succeeds, or else fails for the reason given.
  auto expect = [&](const std::string& line, bool ok, failure why) {
    ASSERT_EQ(t.ok(line), ok) << line;
    if (!ok) {
      ASSERT_EQ(static_cast<int>(last_failure()), static_cast<int>(why)) << line;
    }
  };
  uint64_t refused_beyond = 0;
  for (uint64_t round = 0; round < op_count(3000); ++round) {
    const K k = key(), nk = key();
    const auto at = m.find(k);
    const bool has = at != m.end();
    const int32_t v = static_cast<int32_t>(rng());
    switch (rng() % 8) {
      case 0: case 1: case 2:
        expect("i 0 " + word(k) + (table ? "" : " " + std::to_string(v)), fits(k) && !has,
               fits(k) ? failure::key_present : failure::beyond_buckets);
        if (!fits(k)) ++refused_beyond;
        if (fits(k) && !has) m.emplace(k, table ? 0 : v);
        break;
      case 3:
        expect("d 0 equal " + word(k), has, buckets ? failure::key_absent : failure::empty_container);
        if (has) m.erase(at);
        break;
      case 4: case 5: {
        expect("s 0 equal " + word(k) + " " + word(nk), has && fits(nk),
               !buckets ? failure::empty_container : !has ? failure::key_absent : failure::beyond_buckets);
        if (!has || !fits(nk) || k == nk) break;
        const int32_t moved = at->second;  // a hashmap's value moves; onto a filled key it replaces that one's
        m.erase(at);
        m[nk] = moved;
        break;
      }
      case 6:
        if (table) break;
        expect("s 0 value " + word(k) + " " + std::to_string(v), has, failure::key_absent);
        if (has) at->second = v;
        break;
      default:
        if (rng() % 64 == 0) {
          ASSERT_TRUE(t.ok("d 0 all"));
          m.clear();
          break;
        }
        ASSERT_EQ(t.col("g 0 equal " + word(k)), cells(has, word(k)));
        if (!table) {
          ASSERT_EQ(t.col("g 0 value " + word(k)), cells(has, has ? std::to_string(at->second) : ""));
        }
    }
    ASSERT_EQ(c.size(), buckets);
    elem_array<K> keys;
    ASSERT_TRUE(c.get_all(&keys));
    ASSERT_EQ(keys.size(), m.size()) << "round " << round;
    auto it = m.begin();
    for (const K& got : keys) {
      ASSERT_EQ(got, it->first) << "round " << round;
      if (!table) {
        elem_array<int32_t> vals;
        ASSERT_TRUE(c.get_value(got, value_list_ref{scalar::i32, &vals}));
        ASSERT_EQ(to_vec(vals), std::vector<int32_t>{it->second}) << "key " << word(got) << ", round " << round;
      }
      ++it;
    }
  }
  EXPECT_EQ(refused_beyond > 0, static_cast<__int128>(lim::max()) - lim::min() >= static_cast<__int128>(buckets));
}

struct hash_case {
  const char* name;
  void (*run)(bool table, uint64_t buckets, uint32_t seed);
  uint64_t buckets;
};
void PrintTo(const hash_case& c, std::ostream* os) { *os << c.name; }
class HashModel : public testing::TestWithParam<hash_case> {};

TEST_P(HashModel, HashmapMatchesStdMap) { GetParam().run(false, GetParam().buckets, 1); }
TEST_P(HashModel, HashtableMatchesStdMap) { GetParam().run(true, GetParam().buckets, 2); }

// Whole types (every key fits, the largest included), more buckets than
// values, and tables that end inside the type.
INSTANTIATE_TEST_SUITE_P(
    Keys, HashModel,
    testing::Values(hash_case{"i08_whole", &hash_model_run<int8_t>, 256}, hash_case{"i08", &hash_model_run<int8_t>, 100},
                    hash_case{"u08_beyond_type", &hash_model_run<uint8_t>, 1000},
                    hash_case{"u08_none", &hash_model_run<uint8_t>, 0},
                    hash_case{"i16_whole", &hash_model_run<int16_t>, 65536},
                    hash_case{"u16", &hash_model_run<uint16_t>, 300}, hash_case{"i32", &hash_model_run<int32_t>, 1000},
                    hash_case{"u32", &hash_model_run<uint32_t>, 1}, hash_case{"i64", &hash_model_run<int64_t>, 1000},
                    hash_case{"u64", &hash_model_run<uint64_t>, 257}),
    [](const testing::TestParamInfo<hash_case>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace nosql_db
