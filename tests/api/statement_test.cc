// Prepared statements through the exported interface: what prepare
// refuses, what binding refuses (with the reason a literal would get), bulk
// reads of columns, and the cells of a bulk column read by two threads
// (threads_test.cc runs statements on several threads, durable_test.cc
// after their container is gone). That a statement answers what exec
// answers is checked over every command table (cases_test.cc).
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "api/vox_nosql.hpp"

namespace {

int32_t code_of(const char* line) {
  vox_stmt* s = vox_prepare(line, static_cast<int32_t>(std::strlen(line)));
  const int32_t code = s ? VOX_E_NONE : last_error(nullptr, nullptr, nullptr);
  vox_finalize(s);
  return code;
}

TEST(Statement, PrepareRefusesLinesNoValueCanRun) {
  ASSERT_TRUE(vox::run("c set i16 st_p16"));
  ASSERT_TRUE(vox::run("c vector string st_pv"));
  const struct {
    const char* line;
    int32_t code;
  } rows[] = {
      {"g \"st_p16\" equal ?", VOX_E_NONE},
      {"i \"st_p16\" ?", VOX_E_NONE},
      {"s \"st_pv\" nth ? ?", VOX_E_NONE},
      {"i \"st_pv\" nth ? ?", VOX_E_NONE},
      {"d \"st_pv\" range ? ?", VOX_E_NONE},
      {"g \"st_p16\" count ?", VOX_E_NONE},  // a placeholder nobody reads
      {"g \"st_nope\" equal ?", VOX_E_UNKNOWN_NAME},
      {"g 1048576 equal ?", VOX_E_VKEY_OUT_OF_RANGE},
      {"g \"st_p16\" ? 5", VOX_E_PLACEHOLDER_WORD},
      {"d \"st_pv\" ?", VOX_E_PLACEHOLDER_WORD},
      {"i \"st_pv\" ? 1 x", VOX_E_PLACEHOLDER_WORD},
      {"g \"st_p16\" nth ?", VOX_E_KIND_LACKS_WORD},
      {"i \"st_pv\" ?", VOX_E_KIND_LACKS_WORD},
      {"g \"st_p16\" wxyz ?", VOX_E_UNKNOWN_WORD},
      {"g \"st_p16\" equal x", VOX_E_BAD_ARGUMENT},
      {"g \"st_p16\"", VOX_E_WORD_COUNT},
      {"c set i32 x", VOX_E_NOT_PREPARABLE},
      {"k", VOX_E_NOT_PREPARABLE},
      {"b x.vxdb", VOX_E_NOT_PREPARABLE},
      {"", VOX_E_EMPTY_LINE},
      {"g \"st_p16\" equal \"?", VOX_E_UNTERMINATED_QUOTE},
  };
  for (const auto& r : rows) EXPECT_EQ(code_of(r.line), r.code) << r.line;
}

// One binding: the statement, the placeholder, the call, and the reason.
struct bind_row {
  const char* setup;
  const char* line;
  int32_t (*bind)(vox_stmt*);
  int32_t code;
  const char* detail;
};

TEST(Statement, BindingRefusesWhatALiteralCouldNotBe) {
  const bind_row rows[] = {
      {"c set i16 st_b1", "i \"st_b1\" ?", [](vox_stmt* s) { return vox_bind_int64(s, 1, 70000); }, VOX_E_BAD_ARGUMENT, "i16"},
      {nullptr, "i \"st_b1\" ?", [](vox_stmt* s) { return vox_bind_int64(s, 1, -32768); }, VOX_E_NONE, ""},
      {nullptr, "i \"st_b1\" ?", [](vox_stmt* s) { return vox_bind_uint64(s, 1, 32768); }, VOX_E_BAD_ARGUMENT, "i16"},
      {nullptr, "i \"st_b1\" ?", [](vox_stmt* s) { return vox_bind_double(s, 1, 2.0); }, VOX_E_BAD_ARGUMENT, "i16"},
      {nullptr, "i \"st_b1\" ?", [](vox_stmt* s) { return vox_bind_text(s, 1, "7", 1); }, VOX_E_BAD_ARGUMENT, "i16"},
      {nullptr, "i \"st_b1\" ?", [](vox_stmt* s) { return vox_bind_int64(s, 0, 1); }, VOX_E_NO_SUCH_PLACEHOLDER, ""},
      {nullptr, "i \"st_b1\" ?", [](vox_stmt* s) { return vox_bind_int64(s, 2, 1); }, VOX_E_NO_SUCH_PLACEHOLDER, ""},
      {"c vector u08 st_b2", "g \"st_b2\" nth ?", [](vox_stmt* s) { return vox_bind_int64(s, 1, -1); }, VOX_E_BAD_ARGUMENT, "u64"},
      {nullptr, "g \"st_b2\" nth ?", [](vox_stmt* s) { return vox_bind_uint64(s, 1, UINT64_MAX); }, VOX_E_NONE, ""},
      {nullptr, "i \"st_b2\" last ?", [](vox_stmt* s) { return vox_bind_int64(s, 1, 256); }, VOX_E_BAD_ARGUMENT, "u08"},
      {"c set float st_b3", "i \"st_b3\" ?", [](vox_stmt* s) { return vox_bind_double(s, 1, 1e39); }, VOX_E_BAD_ARGUMENT, "float"},
      {nullptr, "i \"st_b3\" ?", [](vox_stmt* s) { return vox_bind_int64(s, 1, (1 << 24) + 1); }, VOX_E_BAD_ARGUMENT, "float"},
      {nullptr, "i \"st_b3\" ?", [](vox_stmt* s) { return vox_bind_int64(s, 1, 1 << 24); }, VOX_E_NONE, ""},
      {nullptr, "i \"st_b3\" ?", [](vox_stmt* s) { return vox_bind_double(s, 1, INFINITY); }, VOX_E_NONE, ""},
      {"c map date time st_b4", "i \"st_b4\" ? ?", [](vox_stmt* s) { return vox_bind_date(s, 1, 2023, 2, 29); }, VOX_E_BAD_ARGUMENT, "date"},
      {nullptr, "i \"st_b4\" ? ?", [](vox_stmt* s) { return vox_bind_date(s, 1, 2024, 2, 29); }, VOX_E_NONE, ""},
      {nullptr, "i \"st_b4\" ? ?", [](vox_stmt* s) { return vox_bind_time(s, 1, 1, 2, 3, 0); }, VOX_E_BAD_ARGUMENT, "date"},
      {nullptr, "i \"st_b4\" ? ?", [](vox_stmt* s) { return vox_bind_time(s, 2, 24, 0, 0, 0); }, VOX_E_BAD_ARGUMENT, "time"},
      {nullptr, "i \"st_b4\" ? ?", [](vox_stmt* s) { return vox_bind_time(s, 2, 23, 59, 59, 1000000000); }, VOX_E_BAD_ARGUMENT, "time"},
      {nullptr, "i \"st_b4\" ? ?", [](vox_stmt* s) { return vox_bind_datetime(s, 2, 2024, 1, 1, 0, 0, 0, 0); }, VOX_E_BAD_ARGUMENT, "time"},
      {"c map string u64 st_b5", "s \"st_b5\" value ? ?", [](vox_stmt* s) { return vox_bind_date(s, 1, 2024, 1, 1); }, VOX_E_BAD_ARGUMENT, "string"},
      {nullptr, "s \"st_b5\" value ? ?", [](vox_stmt* s) { return vox_bind_int64(s, 2, -1); }, VOX_E_BAD_ARGUMENT, "u64"},
      {nullptr, "s \"st_b5\" value ? ?", [](vox_stmt* s) { return vox_bind_text(s, 1, nullptr, 5); }, VOX_E_NONE, ""},
  };
  for (const bind_row& r : rows) {
    if (r.setup) {
      ASSERT_TRUE(vox::run(r.setup)) << r.setup;
    }
    vox_stmt* s = vox_prepare(r.line, static_cast<int32_t>(std::strlen(r.line)));
    ASSERT_NE(s, nullptr) << r.line;
    const int32_t code = r.bind(s);
    const char* detail = "";
    EXPECT_EQ(code, r.code) << r.line;
    EXPECT_EQ(last_error(nullptr, &detail, nullptr), r.code) << r.line;
    EXPECT_STREQ(detail, r.detail) << r.line;
    vox_finalize(s);
  }
}

TEST(Statement, RunsNeedValuesAndGiveTheLiteralsReasons) {
  ASSERT_TRUE(vox::run("c set double st_r1"));
  vox::statement ins("i \"st_r1\" ?");
  ASSERT_TRUE(ins);
  EXPECT_EQ(ins.run().error().code, VOX_E_UNBOUND);
  ASSERT_TRUE(ins.bind(std::nan("")));
  EXPECT_EQ(ins.run().error().code, VOX_E_NAN_KEY);  // as the literal nan gets
  ASSERT_TRUE(ins.bind(1.5));
  EXPECT_TRUE(ins.run());
  EXPECT_EQ(ins.run().error().code, VOX_E_KEY_PRESENT);
  ins.reset();
  EXPECT_EQ(ins.run().error().code, VOX_E_UNBOUND);
  vox::statement find("g \"st_r1\" equal ?");
  ASSERT_TRUE(find.bind(1.5f));
  const vox::result_view r = find.run();
  ASSERT_EQ(r.rows(), 1u);
  EXPECT_EQ(r.at(0, 0).get<double>(), 1.5);
  // A bad binding leaves the statement's reason and keeps the old value.
  EXPECT_FALSE(find.bind("1.5"));
  EXPECT_EQ(find.error().code, VOX_E_BAD_ARGUMENT);
  EXPECT_EQ(find.run().rows(), 1u);
}

#if VOX_NOSQL_SPAN
TEST(Statement, ColumnsReadInBulk) {
  ASSERT_TRUE(vox::run("c set i32 st_c1"));
  vox::statement ins("i \"st_c1\" ?");
  for (int32_t k = 0; k < 300; ++k) ASSERT_TRUE(ins.bind(k * 3) && ins.run());
  vox::statement range("g \"st_c1\" lege ? ?");
  ASSERT_TRUE(range.bind(30, 330));
  const vox::result_view r = range.run();
  const std::span<const int32_t> keys = r.column<int32_t>(0);
  ASSERT_EQ(keys.size(), 101u);
  for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(keys[i], static_cast<int32_t>(30 + 3 * i));
  // The same column cell by cell, and the wrong types read nothing.
  EXPECT_EQ(r.at(100, 0).get<int32_t>(), 330);
  EXPECT_TRUE(r.column<uint32_t>(0).empty());
  EXPECT_TRUE(r.column<int64_t>(0).empty());
  EXPECT_TRUE(r.column<int32_t>(1).empty());
  // One row lives in its cell; none reads as an empty array.
  ASSERT_TRUE(range.bind(33, 33));
  EXPECT_EQ(range.run().column<int32_t>(0).size(), 1u);
  EXPECT_EQ(range.run().column<int32_t>(0)[0], 33);
  ASSERT_TRUE(range.bind(34, 35));
  const vox::result_view none = range.run();
  ASSERT_EQ(none.columns(), 1u);
  uint64_t n = 9;
  EXPECT_NE(vox_col_values(col_of(none.get(), 0), &n), nullptr);
  EXPECT_EQ(n, 0u);
  // Results of exec read the same way; strings have no array.
  const vox::result all = vox::run("g \"st_c1\" all");
  EXPECT_EQ(all.column<int32_t>(0).size(), 300u);
  const vox::result kinds = vox::run("k \"st_c1\"");
  EXPECT_EQ(vox_col_values(col_of(kinds.get(), 0), &n), nullptr);
  EXPECT_EQ(kinds.column<uint64_t>(1).size(), 1u);
}
#endif

// The cells of a bulk column are made on the first request for one; two
// threads asking at once get the same cells.
TEST(Threads, CellsOfABulkColumnMadeOnceForTwoReaders) {
  ASSERT_TRUE(vox::run("c vector u64 st_t0"));
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(vox::runf("i {} last {}", "st_t0", i));
  for (int round = 0; round < 20; ++round) {
    const vox::result all = vox::run("g \"st_t0\" all");
    std::atomic<uint64_t> sum[2] = {0, 0};
    std::vector<std::thread> ts;
    for (int t = 0; t < 2; ++t)
      ts.emplace_back([&, t] {
        for (uint64_t row = 0; row < 1000; ++row) sum[t] += as_uint64(at(row, 0, all.get()));
      });
    for (std::thread& t : ts) t.join();
    EXPECT_EQ(sum[0].load(), 499500u);
    EXPECT_EQ(sum[1].load(), 499500u);
  }
}

}  // namespace
