// The changes the crash test makes: the i-th of a fixed sequence, the same
// in the writer that is killed and in the model that checks what it left.
// They span a set, a map, a multiset, a list, a vector, a deque and a hash
// map, with inserts, sets, deletes, erases and re-creates, and batches of
// four changes in four containers (lines separated by line feeds); some
// fail (a key already there, a container just erased, a batch whose list
// is empty), in both alike.
#pragma once

#include <cstdint>
#include <string>

namespace nosql_db::testing_util {

inline uint64_t mix64(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdull;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ull;
  return x ^ (x >> 33);
}

inline std::string crash_op(uint64_t i) {
  static const char* const creates[] = {"c set i64 s", "c map i32 string m", "c multiset string ms",
                                        "c list u16 l", "c vector double v", "c deque i08 q",
                                        "c hashmap u16 i64 1000 h"};
  if (i < 7) return creates[i];
  const uint64_t h = mix64(i);
  const std::string k = std::to_string(h % 500), x = std::to_string((h >> 20) % 100000);
  switch ((h >> 40) % 20) {
    case 0: case 1: case 2: return "i \"s\" " + x;
    case 3: return "d \"s\" equal " + std::to_string((h >> 20) % 100000 / 8 * 8);
    case 4: return "i \"m\" " + k + " \"v" + x + "\"";
    case 5: return "s \"m\" value " + k + " \"w" + x + "\"";
    case 6: return "d \"m\" min";
    case 7: return "i \"ms\" \"" + k + "\"";
    case 8: return "d \"ms\" lege \"" + k + "\" \"" + k + "5\"";
    case 9: return "i \"l\" last " + k;
    case 10: return "i \"l\" nth 3 " + k;
    case 11: return "d \"l\" first";
    case 12: return "i \"v\" last " + x + ".25";
    case 13: return "s \"v\" nth 2 " + x;
    case 14: return "i \"q\" first " + std::to_string(static_cast<int64_t>(h % 256) - 128);
    case 15: return "d \"q\" last";
    case 16: return "i \"h\" " + k + " " + x;
    case 17: return "d \"h\" equal " + k;
    case 18: return h % 7 == 0 ? "e \"ms\"" : "s \"h\" value " + k + " 1";
    default:
      if (h % 3 == 0)
        return "i \"s\" " + x + "\ns \"m\" value " + k + " \"b" + x + "\"\nd \"l\" first\ni \"h\" " + k + " " + x;
      return h % 5 == 0 ? "c multiset string ms" : "i \"s\" " + k;
  }
}

}  // namespace nosql_db::testing_util
