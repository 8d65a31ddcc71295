// Test helpers: a container's save() output as bytes, and load() from bytes,
// through a temporary file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "containers/container.h"
#include "lang/codec.h"

namespace nosql_db::test {

// The bytes that save() writes; expects save() to answer ok.
inline std::string saved(const ab_adt& c, bool ok = true) {
  FILE* f = std::tmpfile();
  {
    dump_out out(fileno(f));
    EXPECT_EQ(c.save(out), ok);
    EXPECT_TRUE(out.flush());
  }
  std::string s(static_cast<size_t>(::lseek(fileno(f), 0, SEEK_END)), '\0');
  ::lseek(fileno(f), 0, SEEK_SET);
  EXPECT_EQ(::read(fileno(f), s.data(), s.size()), static_cast<ssize_t>(s.size()));
  std::fclose(f);
  return s;
}

// load() over exactly these bytes.
inline bool load_from(ab_adt& c, const std::string& body) {
  FILE* f = std::tmpfile();
  EXPECT_EQ(::write(fileno(f), body.data(), body.size()), static_cast<ssize_t>(body.size()));
  ::lseek(fileno(f), 0, SEEK_SET);
  dump_in in(fileno(f), body.size());
  const bool ok = c.load(in);
  std::fclose(f);
  return ok;
}

// The little-endian bytes of v.
template <class T>
std::string le(T v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

}  // namespace nosql_db::test
