// Why the last command failed, per thread: a frozen numeric code, an
// optional constant detail text (a type name, a kind, a damaged field) and,
// for damaged dump files, the record index.
//
// The reason is recorded where the failure is decided (tokenizer, reference
// resolution, argument reading, the container's refusal as the command sees
// it, dump and read) by fail(), which returns false so that a handler can
// `return fail(...)`. The dispatcher clears it at the start of every command,
// so a success leaves "none". Recording costs nothing on the success path:
// clear_failure() is one store to thread-local memory, and fail() lives out
// of line on the cold paths.
//
// Texts and details are string literals: valid for the life of the process.
#pragma once

#include <cstdint>
#include <string_view>

namespace nosql_db {

// The codes. DO NOT RENUMBER: hosts see them through last_error() and the
// VOX_E_* constants of vox_nosql.h (which must stay equal to these).
enum class failure : int32_t {
  none = 0,
  // The line.
  empty_line = 1,
  unknown_command = 2,
  too_many_words = 3,
  word_count = 4,
  unterminated_quote = 5,
  quote_in_word = 6,
  escape_past_end = 7,
  not_preparable = 8,
  // The container reference.
  not_a_reference = 10,
  vkey_out_of_range = 11,
  empty_slot = 12,
  unknown_name = 13,
  stale_statement = 14,
  // Words, kinds and types.
  unknown_word = 20,
  kind_lacks_word = 21,
  placeholder = 22,
  unknown_kind = 23,
  unknown_type = 24,
  placeholder_word = 25,
  // Arguments.
  bad_argument = 30,
  unbound = 31,
  no_such_placeholder = 32,
  // The container's refusals.
  refused = 40,
  key_present = 41,
  key_absent = 42,
  position_out_of_range = 43,
  handle_not_live = 44,
  empty_container = 45,
  beyond_buckets = 46,
  nan_key = 47,
  name_taken = 48,
  store_full = 49,
  // Dump files.
  file_exists = 50,
  file_create = 51,
  file_write = 52,
  file_open = 53,
  not_a_dump = 54,
  dump_version = 55,
  dump_damaged = 56,
  // Resources.
  out_of_memory = 60,
  // Durable mode.
  durable_off = 80,
  durable_on = 81,
  durable_dir = 82,
  durable_locked = 83,
  durable_damaged = 84,
  journal_failed = 85,
  checkpoint_failed = 86,
  // Batches.
  batch_refused = 90,
  batch_too_long = 91,
  // Never recorded by the library: vox_nosql.hpp's own refusal to send a
  // line it could not build.
  not_sent = 70,
};

// A detail made at run time (a file name): copied into the calling
// thread's own buffer (up to 255 bytes), valid until the thread's next
// failure with such a detail.
const char* thread_detail(std::string_view text) noexcept;

// The constant English text of a code; "unknown code" for a number that is
// none of them.
const char* failure_text(int32_t code) noexcept;

struct failure_state {
  int32_t code;
  const char* detail;  // never null when code != 0
  uint64_t record;
};

// The calling thread's reason. Static TLS: reaching it is one instruction
// off the thread pointer, also from the shared library.
extern constinit thread_local failure_state thread_failure [[gnu::tls_model("initial-exec")]];

#ifndef NOSQL_NO_FAILURE_REASONS

inline void clear_failure() noexcept { thread_failure.code = 0; }

// Records why the command fails and returns false. `detail` must be a
// string literal (or another text that lives as long as the process).
[[gnu::cold, gnu::noinline]] bool fail(failure why, const char* detail = "", uint64_t record = 0) noexcept;

#else
// Only for the success-path benchmark (bench/reason_bench.cc): a build that
// records nothing, to compare against.
inline void clear_failure() noexcept {}
inline bool fail(failure, const char* = "", uint64_t = 0) noexcept { return false; }
#endif

// The calling thread's last reason.
inline failure last_failure() noexcept { return static_cast<failure>(thread_failure.code); }

}  // namespace nosql_db
