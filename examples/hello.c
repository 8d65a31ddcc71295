/* hello.c: a minimal C host for libvox_nosql_lib_local_mem.
 *
 * Creates a vector, fills it, reads it back cell by cell through the
 * accessors, prints it as a table and frees every result set. Build it with
 * the examples' CMakeLists.txt, or by hand:
 *   cc -std=c99 -I api examples/hello.c -L build -lvox_nosql_lib_local_mem
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vox_nosql.h"

/* Runs one command; returns its result set, or NULL after saying why. */
static datas* run(const char* line) {
  datas* d = exec(line, (int32_t)strlen(line));
  if (!d) {
    const char* why = NULL;
    last_error(&why, NULL, NULL); /* this thread's reason, a constant text */
    fprintf(stderr, "command failed: %s (%s)\n", line, why);
  }
  return d;
}

int main(void) {
  static const char* const setup[] = {
      "c vector i32 nums",      "i \"nums\" last 10", "i \"nums\" last 20",
      "i \"nums\" last 30",     "c vector string words",
      "i \"words\" last hello", "i \"words\" last \"big world\"",
  };
  size_t i;
  uint64_t r;
  datas* d;

  for (i = 0; i < sizeof setup / sizeof setup[0]; ++i) {
    d = run(setup[i]);
    if (!d) return 1;
    del_datas(d); /* even an empty result set is freed */
  }

  /* Integers: one i32 column, read with as_int32. */
  d = run("g \"nums\" all");
  if (!d) return 1;
  printf("nums: %llu column(s), %llu row(s):", (unsigned long long)cols_of(d), (unsigned long long)rows_of(d));
  for (r = 0; r < rows_of(d); ++r) printf(" %d", (int)as_int32(at(r, 0, d)));
  printf("\n");
  del_datas(d);

  /* Strings: as_str hands over a malloc()ed copy that the host frees. */
  d = run("g \"words\" all");
  if (!d) return 1;
  for (r = 0; r < rows_of(d); ++r) {
    char* text = NULL;
    uint64_t len = 0;
    as_str(&text, &len, at(r, 0, d));
    printf("word %llu: %.*s\n", (unsigned long long)r, (int)len, text);
    free(text);
  }
  del_datas(d);

  /* The describe command gives seven named columns; print() draws them. */
  d = run("k");
  if (!d) return 1;
  {
    uint32_t name_len = 0;
    const char* name = col_name(&name_len, d, 0);
    printf("first column of k: %.*s\n", (int)name_len, name ? name : "");
  }
  print(d);
  del_datas(d);

  /* A failed command gives NULL, and last_error() the reason: here
   * VOX_E_EMPTY_SLOT. del_datas(NULL) is harmless. */
  d = exec("g 999 all", 9);
  if (d) {
    printf("g 999 all succeeded\n");
  } else {
    const char* why = NULL;
    const int32_t code = last_error(&why, NULL, NULL);
    printf("g 999 all failed, as expected: %s (code %d)\n", why, (int)code);
  }
  del_datas(d);
  return 0;
}
