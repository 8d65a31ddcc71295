// The C++ header: quoting by property (random bytes come back byte for byte
// through the tokenizer, a string set and a string map; hostile data never
// reaches another container or command), the refusals of command(), and
// typed reads.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>

#include "api/vox_nosql.hpp"
#include "test_util.h"

namespace {

// Random bytes, weighted towards the ones the tokenizer treats specially.
std::string random_bytes(std::mt19937& rng) {
  static constexpr char special[] = {'"', '\\', ' ', '\0', '\n', '\r', 'x', 'u', 'U', '\x7f', '\xff', 'f', 'l'};
  std::string s(rng() % 24, '\0');
  for (char& c : s) c = rng() % 2 ? special[rng() % sizeof special] : static_cast<char>(rng() % 256);
  return s;
}

TEST(CppApi, QuotedBytesComeBackExactlyAndReachNothingElse) {
  std::mt19937 rng(11);
  for (const char* line : {"c set string qs", "c map string string qm", "c vector i32 victim", "c vector string target"})
    ASSERT_TRUE(vox::run(line)) << line;
  const size_t containers = vox::run("k").rows();
  std::set<std::string> set_model;
  std::map<std::string, std::string> map_model;
  std::vector<std::string> inputs = {"", "0", "victim", "\" 0 \"", "victim\" all", "\\", "0\n e 0", "\"victim\""};
  for (int i = 0; i < 3000; ++i) inputs.push_back(random_bytes(rng));
  for (const std::string& key : inputs) {
    SCOPED_TRACE(vox::quote(key));
    const std::string value = random_bytes(rng);
    // One token, whatever the neighbours.
    const auto line = vox::command("s {} value {} {}", "qm", key, value);
    ASSERT_TRUE(line);
    EXPECT_EQ(nosql_db::testing_util::tokens_of(*line), (std::vector<std::string>{"s", "qm", "value", key, value}));
    EXPECT_EQ(line->find_first_of(std::string("\n\0", 2)), std::string::npos);
    EXPECT_EQ(static_cast<bool>(vox::runf("i {} {}", "qs", key)), set_model.insert(key).second);
    EXPECT_EQ(vox::put("qm", key, value), map_model.emplace(key, value).second);
    // As a container name it reaches only a container of exactly that name;
    // as data it is the element, nothing else.
    EXPECT_EQ(static_cast<bool>(vox::runf("i {} last 1", key)), key == "victim");
    if (key != "victim" && key != "target" && key != "qs" && key != "qm") {
      EXPECT_FALSE(vox::runf("e {}", key));
    }
    ASSERT_TRUE(vox::runf("i {} last {}", "target", key));
    EXPECT_EQ(vox::run("g \"target\" last").at(0, 0).get<std::string>(), key);
  }
  const vox::result s = vox::run("g \"qs\" all");
  ASSERT_EQ(s.rows(), set_model.size());
  std::set<std::string> back;
  for (vox::row r : s) back.insert(*r[0].get<std::string>());
  EXPECT_EQ(back, set_model);
  for (const auto& [k, v] : map_model) {
    const vox::result r = vox::runf("g {} value {}", "qm", k);
    ASSERT_EQ(r.rows(), 1u) << vox::quote(k);
    EXPECT_EQ(r.at(0, 0).get<std::string>(), v) << vox::quote(k);
  }
  // The empty key carries its value (put's two-step path).
  EXPECT_EQ(vox::runf("g {} value {}", "qm", "").at(0, 0).get<std::string>(), map_model[""]);
  EXPECT_EQ(vox::run("g \"victim\" count").at(0, 0).get<int>(), 1);
  EXPECT_EQ(vox::run("k").rows(), containers);
}

TEST(CppApi, CommandRefusesLinesThatWouldMeanSomethingElse) {
  struct row {
    std::optional<std::string> got, want;
  };
  const row rows[] = {
      {vox::command("g {} all", "books"), "g \"books\" all"},
      {vox::command("g {} nth {}", 3u, 2), "g 3 nth 2"},
      {vox::command("i {} last {}", "d", vox::date_time{{2024, 2, 29}, {1, 2, 3, 500000000}}),
       "i \"d\" last 2024-02-29T01:02:03.5"},
      {vox::command("i {} {} {}", "m", -1.5, 1e300), "i \"m\" -1.5 1e+300"},
      {vox::command("i {} {}", "s", ""), "i \"s\" \"\""},  // three words: the empty string is the key
      {vox::command("g {} all", ""), std::nullopt},          // "" would be vkey 0
      {vox::command("i {} {} {}", "m", "", "5"), std::nullopt},  // "" would drop out, 5 become the key
      {vox::command("{} 0 all", "g"), std::nullopt},
      {vox::command("g 0 {} 1", "nth"), std::nullopt},
      {vox::command("i 0 {} 1 2", "nth"), std::nullopt},
      {vox::command("g x{} all", "a"), std::nullopt},
      {vox::command("g {}x all", "a"), std::nullopt},
      {vox::command("g {} all {}", "a"), std::nullopt},
      {vox::command("g {} all", "a", "b"), std::nullopt},
      {vox::command("i \"a\" {}", "b"), std::nullopt},
      {vox::command("i {} last {}", "d", vox::date{2024, 13, 1}), std::nullopt},
  };
  for (const row& r : rows) EXPECT_EQ(r.got, r.want);
}

TEST(CppApi, FailedResultsSayWhy) {
  ASSERT_TRUE(vox::run("c set i32 why"));
  vox::result bad = vox::runf("i {} {}", "why", "x");
  EXPECT_EQ(bad.error().code, VOX_E_BAD_ARGUMENT);
  EXPECT_EQ(bad.error().detail, "i32");
  const vox::result kept = std::move(bad);  // the reason travels with the result
  EXPECT_EQ(kept.error().text, "an argument cannot be read as the type it needs");
  EXPECT_EQ(vox::runf("g {} all", "").error().code, VOX_E_NOT_SENT);  // never built
  const vox::result ok = vox::run("g \"why\" count");
  EXPECT_FALSE(ok.error());
  EXPECT_FALSE(vox::last_error());
}

TEST(CppApi, TypedReadsAnswerOnlyForTheirType) {
  ASSERT_TRUE(vox::run("c map u16 double tr"));
  ASSERT_TRUE(vox::put("tr", 300, 2.5));
  const vox::result r = vox::run("g \"tr\" all");
  EXPECT_EQ(r.at(0, 0).get<int>(), 300);
  EXPECT_EQ(r.at(0, 0).get<uint64_t>(), 300u);
  EXPECT_EQ(r.at(0, 0).get<int8_t>(), std::nullopt);  // does not fit
  EXPECT_EQ(r.at(0, 0).get<std::string>(), std::nullopt);
  EXPECT_EQ(r.at(0, 0).get<double>(), std::nullopt);
  EXPECT_EQ(r.at(0, 0).text(), "300");
  EXPECT_EQ(r.at(1, 0).get<int>(), std::nullopt);  // no such row
  const vox::result v = vox::run("g \"tr\" value 300");
  EXPECT_EQ(v.at(0, 0).get<double>(), 2.5);
  EXPECT_EQ(v.at(0, 0).get<float>(), std::nullopt);  // would lose digits
  EXPECT_EQ(v.type(0), vox::value_type::floating);

  ASSERT_TRUE(vox::run("c vector datetime tt"));
  const std::chrono::local_time<std::chrono::nanoseconds> t =
      std::chrono::local_days(std::chrono::year(2000) / 2 / 29) + std::chrono::hours(23) + std::chrono::nanoseconds(1);
  ASSERT_TRUE(vox::runf("i {} last {}", "tt", t));
  const vox::result d = vox::run("g \"tt\" first");
  EXPECT_EQ(d.at(0, 0).get<std::chrono::local_time<std::chrono::nanoseconds>>(), t);
  EXPECT_EQ(d.at(0, 0).get<std::chrono::year_month_day>(), std::nullopt);
  EXPECT_EQ(d.at(0, 0).text(), "2000-02-29 23:00:00.000000001");

  vox::result moved = vox::run("k \"tt\"");
  const vox::result owner = std::move(moved);
  EXPECT_FALSE(moved);
  EXPECT_EQ(owner.name(*owner.column("ktype")), "ktype");
  EXPECT_EQ(owner.at(0, *owner.column("ktype")).get<std::string>(), "datetime");
}

}  // namespace
