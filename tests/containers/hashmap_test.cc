// Hashmap and hashtable: which keys fit, re-keying, walks, value-type
// checks, the dump body, and creation that cannot allocate.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "containers/hashtable.h"
#include "tests/containers/dump_io.h"

namespace nosql_db {
namespace {

using test::le;
using test::load_from;
using test::saved;

template <class T>
value_ref vref(const T& v) {
  return {scalar_traits<T>::id, &v};
}

std::unique_ptr<ab_adt> make(kind k, scalar key, scalar value, uint64_t cap) {
  return make_container(k, key, value, cap);
}

// The bytes that save() writes.


// Record header from the kind word on.
std::string header(std::string_view word, type_desc k, type_desc v) {
  std::string s = le<uint64_t>(word.size()) + std::string(word);
  for (type_desc d : {k, v}) s += {static_cast<char>(d.size), static_cast<char>(d.sign), static_cast<char>(d.cls)};
  return s;
}

template <class K>
std::vector<K> all_keys(const ab_adt& c) {
  elem_array<K> l;
  EXPECT_TRUE(static_cast<const adt<K>&>(c).get_all(&l));
  return std::vector<K>(l.begin(), l.end());
}

constexpr uint64_t bits(int64_t v) { return static_cast<uint64_t>(v); }

struct fit_case {
  scalar key;
  uint64_t capacity;
  uint64_t key_bits;  // the key, converted to K
  bool fits;
};

TEST(HashmapTest, KeysFitBySlotIndexBelowCapacity) {
  const fit_case cases[] = {
      {scalar::u08, 10, 9, true},
      {scalar::u08, 10, 10, false},
      {scalar::u08, 1000, 255, true},
      {scalar::i08, 256, bits(-128), true},
      {scalar::i08, 256, 127, true},
      {scalar::i08, 128, bits(-128), true},
      {scalar::i08, 128, bits(-1), true},
      {scalar::i08, 128, 0, false},
      {scalar::i16, 65536, bits(-32768), true},
      {scalar::i16, 65536, 32767, true},
      {scalar::i16, 32768, 0, false},
      {scalar::i32, 1000, bits(-2147483648LL), true},
      {scalar::i32, 1000, bits(-2147482649LL), true},
      {scalar::i32, 1000, bits(-2147482648LL), false},
      {scalar::i32, 1000, 0, false},
      {scalar::i64, 10, bits(std::numeric_limits<int64_t>::min()), true},
      {scalar::i64, 10, bits(std::numeric_limits<int64_t>::max()), false},
      {scalar::u64, 10, std::numeric_limits<uint64_t>::max(), false},
      {scalar::u32, 0, 0, false},
  };
  for (const fit_case& fc : cases) {
    SCOPED_TRACE(testing::Message() << type_name(desc_of(fc.key)) << " cap " << fc.capacity << " key bits "
                                    << fc.key_bits);
    for (const kind k : {kind::hashmap, kind::hashtable}) {
      SCOPED_TRACE(kind_word(k));
      auto c = make(k, fc.key, scalar::u08, fc.capacity);
      visit_scalar(fc.key, 0, [&]<class K>(type_tag<K>) {
        if constexpr (std::is_integral_v<K>) {
          auto& a = static_cast<adt<K>&>(*c);
          const K key = static_cast<K>(fc.key_bits);
          const uint8_t v = 42;
          EXPECT_EQ(a.ins_key(key, vref(v)), fc.fits);
          EXPECT_FALSE(a.ins_key(key, vref(v)));  // filled now, or still not fitting
          elem_array<K> eq;
          EXPECT_EQ(a.get_eq(key, &eq), fc.fits);
          EXPECT_EQ(all_keys<K>(*c), fc.fits ? std::vector<K>{key} : std::vector<K>{});
          if (k == kind::hashmap) {
            elem_array<uint8_t> vals;
            EXPECT_EQ(a.get_value(key, {scalar::u08, &vals}), fc.fits);
            if (fc.fits) {
              EXPECT_EQ(vals[0], 42);
            }
          }
          EXPECT_EQ(a.del_eq(key), fc.fits);
          EXPECT_FALSE(a.del_eq(key));
          EXPECT_EQ(c->size(), fc.capacity);
        }
        return 0;
      });
    }
  }
}

TEST(HashmapTest, WalksAreInKeyOrderAndStopAtTheKeyRange) {
  auto c = make(kind::hashmap, scalar::u08, scalar::string, 1000);
  auto& a = static_cast<adt<uint8_t>&>(*c);
  const xstring v("v");
  for (uint8_t k : {7, 2, 9, 255, 0}) EXPECT_TRUE(a.ins_key(k, vref(v)));
  EXPECT_EQ(all_keys<uint8_t>(*c), (std::vector<uint8_t>{0, 2, 7, 9, 255}));
  uint64_t n;
  EXPECT_TRUE(c->get_count(&n));
  EXPECT_EQ(n, 1000u);
  EXPECT_TRUE(a.del_all());
  EXPECT_TRUE(all_keys<uint8_t>(*c).empty());
  EXPECT_EQ(c->size(), 1000u);
  EXPECT_TRUE(a.ins_key(2, vref(v)));  // the table is usable after del_all

  auto s = make(kind::hashtable, scalar::i08, scalar::u08, 300);
  auto& t = static_cast<adt<int8_t>&>(*s);
  const uint8_t u = 0;
  for (int8_t k : {127, -128, 0, -1}) EXPECT_TRUE(t.ins_key(k, vref(u)));
  EXPECT_EQ(all_keys<int8_t>(*s), (std::vector<int8_t>{-128, -1, 0, 127}));
}

TEST(HashmapTest, ValuesAreCheckedAgainstTheValueType) {
  auto c = make(kind::hashmap, scalar::i32, scalar::string, 16);
  auto& a = static_cast<adt<int32_t>&>(*c);
  const int32_t k = std::numeric_limits<int32_t>::min() + 3;
  const int32_t wrong = 5;
  EXPECT_FALSE(a.ins_key(k, vref(wrong)));
  const xstring first("first"), second("second");
  EXPECT_TRUE(a.ins_key(k, vref(first)));
  EXPECT_FALSE(a.ins_key(k, vref(second)));  // the first value stays
  EXPECT_FALSE(a.set_value(k, vref(wrong)));
  elem_array<int32_t> bad;
  EXPECT_FALSE(a.get_value(k, {scalar::i32, &bad}));
  elem_array<xstring> vals;
  ASSERT_TRUE(a.get_value(k, {scalar::string, &vals}));
  EXPECT_EQ(vals[0].view(), "first");
  EXPECT_TRUE(a.set_value(k, vref(second)));
  EXPECT_FALSE(a.set_value(k + 1, vref(second)));  // empty slot
  vals.clear();
  ASSERT_TRUE(a.get_value(k, {scalar::string, &vals}));
  EXPECT_EQ(vals[0].view(), "second");

  // A hashtable stores keys only, and only as a u08-valued table.
  auto t = make(kind::hashtable, scalar::u16, scalar::u08, 16);
  const uint8_t u = 1;
  EXPECT_FALSE(static_cast<adt<uint16_t>&>(*t).ins_key(3, vref(wrong)));
  EXPECT_TRUE(static_cast<adt<uint16_t>&>(*t).ins_key(3, vref(u)));
  EXPECT_FALSE(static_cast<adt<uint16_t>&>(*t).get_value(3, {scalar::u08, &vals}));
  auto t32 = make(kind::hashtable, scalar::u16, scalar::i32, 16);
  EXPECT_FALSE(static_cast<adt<uint16_t>&>(*t32).ins_key(3, vref(u)));
}

struct rekey_case {
  const char* name;
  std::vector<uint8_t> keys;  // filled before; key k holds the value k + 100
  uint8_t from, to;
  bool ok;
  std::vector<std::pair<uint8_t, int>> after;  // hashmap: key, value
};

TEST(HashmapTest, SetEqMovesTheValueOrChangesNothing) {
  const rekey_case cases[] = {
      {"onto an empty key", {1}, 1, 3, true, {{3, 101}}},
      {"onto a filled key", {1, 2}, 1, 2, true, {{2, 101}}},
      {"onto itself", {1, 2}, 2, 2, true, {{1, 101}, {2, 102}}},
      {"new key outside", {1}, 1, 10, false, {{1, 101}}},
      {"old key empty", {1}, 4, 3, false, {{1, 101}}},
      {"old key outside", {1}, 200, 3, false, {{1, 101}}},
  };
  for (const rekey_case& rc : cases) {
    SCOPED_TRACE(rc.name);
    auto m = make(kind::hashmap, scalar::u08, scalar::i32, 10);
    auto t = make(kind::hashtable, scalar::u08, scalar::u08, 10);
    auto& hm = static_cast<adt<uint8_t>&>(*m);
    auto& ht = static_cast<adt<uint8_t>&>(*t);
    for (uint8_t k : rc.keys) {
      const int32_t v = k + 100;
      const uint8_t u = 0;
      ASSERT_TRUE(hm.ins_key(k, vref(v)));
      ASSERT_TRUE(ht.ins_key(k, vref(u)));
    }
    EXPECT_EQ(hm.set_eq(rc.from, rc.to), rc.ok);
    EXPECT_EQ(ht.set_eq(rc.from, rc.to), rc.ok);
    std::vector<std::pair<uint8_t, int>> got;
    std::vector<uint8_t> want_keys;
    for (uint8_t k : all_keys<uint8_t>(*m)) {
      elem_array<int32_t> v;
      ASSERT_TRUE(hm.get_value(k, {scalar::i32, &v}));
      got.emplace_back(k, v[0]);
    }
    for (auto& [k, v] : rc.after) want_keys.push_back(k);
    EXPECT_EQ(got, rc.after);
    EXPECT_EQ(all_keys<uint8_t>(*t), want_keys);
    EXPECT_EQ(static_cast<const hm_base<uint8_t>&>(*m).filled_count(), rc.after.size());
    EXPECT_EQ(static_cast<const hm_base<uint8_t>&>(*t).filled_count(), rc.after.size());
  }
}

TEST(HashmapTest, UnallocatableCapacityThrowsBadAlloc) {
  for (const uint64_t cap : {uint64_t{1} << 61, uint64_t{1} << 60, uint64_t{1} << 50, ~uint64_t{0}}) {
    SCOPED_TRACE(cap);
    EXPECT_THROW(make(kind::hashmap, scalar::u64, scalar::string, cap), std::bad_alloc);
    EXPECT_THROW(make(kind::hashtable, scalar::i08, scalar::u08, cap), std::bad_alloc);
  }
  // Placeholders never allocate, whatever the bucket count.
  EXPECT_NE(make(kind::hashmap, scalar::f64, scalar::u08, ~uint64_t{0}), nullptr);
}

TEST(HashmapTest, RefusedKeyTypesGiveAPlaceholder) {
  for (const scalar key : {scalar::f32, scalar::f64, scalar::date, scalar::time, scalar::datetime, scalar::string}) {
    SCOPED_TRACE(type_name(desc_of(key)));
    auto m = make(kind::hashmap, key, scalar::string, 100);
    auto t = make(kind::hashtable, key, scalar::u08, 100);
    ASSERT_NE(m, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(m->kind_name(), "hashmap_not_allowed");
    EXPECT_EQ(t->kind_name(), "hashtable_not_allowed");
    for (const ab_adt* c : {m.get(), t.get()}) {
      EXPECT_EQ(c->key_desc(), desc_of(key));
      EXPECT_EQ(c->val_desc(), u08_desc);
      EXPECT_EQ(c->size(), 0u);
      EXPECT_EQ(saved(*c, false), "");  // save refuses and writes nothing
    }
  }
}

TEST(HashmapTest, SaveWritesCapacityCountAndEntriesInSlotOrder) {
  auto m = make(kind::hashmap, scalar::i08, scalar::u16, 256);
  auto& a = static_cast<adt<int8_t>&>(*m);
  const uint16_t v5 = 0x0505, vmin = 0x8080;
  ASSERT_TRUE(a.ins_key(5, vref(v5)));
  ASSERT_TRUE(a.ins_key(-128, vref(vmin)));
  EXPECT_EQ(saved(*m), header("hashmap", desc_of(scalar::i08), desc_of(scalar::u16)) + le<uint64_t>(256) +
                           le<uint64_t>(2) + le<int8_t>(-128) + le(vmin) + le<int8_t>(5) + le(v5));

  auto t = make(kind::hashtable, scalar::u16, scalar::u08, 100);
  const uint8_t u = 0;
  ASSERT_TRUE(static_cast<adt<uint16_t>&>(*t).ins_key(7, vref(u)));
  EXPECT_EQ(saved(*t), header("hashtable", desc_of(scalar::u16), desc_of(scalar::u08)) + le<uint64_t>(100) +
                           le<uint64_t>(1) + le<uint64_t>(7) + std::string("\x07\x00", 2));
}

TEST(HashmapTest, LoadRoundTripsAndSkipsKeysOutsideTheTable) {
  auto m = make(kind::hashmap, scalar::i16, scalar::string, 65536);
  auto& a = static_cast<adt<int16_t>&>(*m);
  const xstring neg("minus five"), pos("nine");
  ASSERT_TRUE(a.ins_key(-5, vref(neg)));
  ASSERT_TRUE(a.ins_key(9, vref(pos)));
  const std::string rec = saved(*m);
  // The dump reader consumes everything up to the capacity.
  const std::string body = rec.substr(header("hashmap", {}, {}).size() + 8);
  auto back = make(kind::hashmap, scalar::i16, scalar::string, 65536);
  ASSERT_TRUE(load_from(*back, body));
  EXPECT_EQ(saved(*back), rec);

  // A smaller table keeps the keys that fit; a repeated key takes the later
  // value.
  auto small = make(kind::hashmap, scalar::i16, scalar::string, 32768);
  const std::string dup = le<uint64_t>(3) + le<int16_t>(-5) + le<uint64_t>(1) + "a" + le<int16_t>(9) +
                          le<uint64_t>(1) + "b" + le<int16_t>(-5) + le<uint64_t>(1) + "c";
  ASSERT_TRUE(load_from(*small, dup));
  EXPECT_EQ(all_keys<int16_t>(*small), std::vector<int16_t>{-5});
  elem_array<xstring> v;
  ASSERT_TRUE(static_cast<adt<int16_t>&>(*small).get_value(-5, {scalar::string, &v}));
  EXPECT_EQ(v[0].view(), "c");

  // Hashtable: the stored slot index is ignored, the key decides.
  auto t = make(kind::hashtable, scalar::i08, scalar::u08, 256);
  ASSERT_TRUE(load_from(*t, le<uint64_t>(2) + le<uint64_t>(999) + le<int8_t>(-3) + le<uint64_t>(0) + le<int8_t>(4)));
  EXPECT_EQ(all_keys<int8_t>(*t), (std::vector<int8_t>{-3, 4}));
}

TEST(HashmapTest, LoadRefusesShortAndOversizedBodies) {
  const std::string bodies[] = {
      "",                                                // no count
      le<uint64_t>(1),                                   // count, no entry
      le<uint64_t>(1) + le<uint32_t>(1),                 // entry cut short
      le<uint64_t>(~uint64_t{0}) + le<uint32_t>(1) + "x",  // count far beyond the file
  };
  for (const std::string& b : bodies) {
    SCOPED_TRACE(b.size());
    auto m = make(kind::hashmap, scalar::u32, scalar::u08, 8);
    auto t = make(kind::hashtable, scalar::u32, scalar::u08, 8);
    EXPECT_FALSE(load_from(*m, b));
    EXPECT_FALSE(load_from(*t, b));
  }
}

}  // namespace
}  // namespace nosql_db
