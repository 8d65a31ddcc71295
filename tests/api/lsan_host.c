/* A host built with AddressSanitizer and linked against the ordinary
 * library. It fills unnamed containers, which only the store's slot table
 * points at, and exits without clearing the store: its leak check must find
 * nothing, because the library registers the slot table with the host's
 * LeakSanitizer when it loads. With the argument "leak" it also loses a
 * block of its own, which the leak check must report. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "vox_nosql.h"

void* volatile lost;

int main(int argc, char** argv) {
  static const char* const lines[] = {
      "c vector string",   "i 0 last \"a text long enough to live on the heap, not in the string\"",
      "c map i32 string",  "i 1 7 \"another text long enough to live on the heap of the map\"",
      "c list i64",        "i 2 last 5",
      "c multiset double", "i 3 2.5",
  };
  size_t i;
  for (i = 0; i < sizeof lines / sizeof lines[0]; ++i) {
    datas* d = exec(lines[i], (int32_t)strlen(lines[i]));
    if (!d) return 1;
    del_datas(d);
  }
  if (argc > 1 && strcmp(argv[1], "leak") == 0) {
    lost = malloc(42);
    lost = NULL;
  }
  return 0;
}
