// hello.cpp: a C++ host of libvox_nosql_lib_local_mem, written against
// vox_nosql.hpp. Host data goes into commands only through vox::runf and
// vox::put, which quote it, so a name holding a quote, a backslash or a line
// feed is stored and found byte for byte. Exits with 1 if anything reads
// back differently.
#include <cstdio>
#include <string>

#include <vox_nosql.hpp>

int main() {
  vox::run("c map string i32 ages");
  const std::string names[] = {"Ada", "O'Brien \"Bob\"", "back\\slash", "two\nlines", ""};
  int age = 30;
  for (const std::string& name : names)
    if (!vox::put("ages", name, age++)) return 1;

  age = 30;
  for (const std::string& name : names) {
    const vox::result r = vox::runf("g {} value {}", "ages", name);
    const std::optional<int> got = r.at(0, 0).get<int>();
    std::printf("%s -> %d\n", vox::quote(name).c_str(), got.value_or(-1));
    if (got != age++) return 1;
  }

  // Rows of a result, read by type; a read of the wrong type is empty.
  const vox::result all = vox::run("g \"ages\" all");
  for (vox::row row : all) std::printf("key %s\n", vox::quote(*row[0].get<std::string>()).c_str());
  if (all.at(0, 0).get<int>().has_value()) return 1;

  // Named columns: the describe command.
  const vox::result k = vox::run("k \"ages\"");
  std::printf("%s: %d entries\n", k.at(0, *k.column("ctype")).text().c_str(),
              k.at(0, *k.column("count")).get<int>().value_or(-1));

  // Dates and times are typed values too.
  vox::run("c vector date days");
  vox::runf("i {} last {}", "days", vox::date{2024, 2, 29});
  const std::optional<vox::date> day = vox::run("g \"days\" first").at(0, 0).get<vox::date>();
  std::printf("leap day: %d-%02u-%02u\n", day ? day->year : 0, day ? day->month : 0u, day ? day->day : 0u);
  return day && day->day == 29 ? 0 : 1;
}
