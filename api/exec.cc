// exec, the command entry that hands each line to the command table.
#include "api/exec.h"

#include <new>

#include "api/command_table.h"
#include "api/export.h"
#include "api/vox_nosql.h"
#include "startup/startup.h"

namespace nosql_db {

bool exec_cmd(store& s, const char* line, int64_t len, datas* out) {
  clear_failure();
  if (!line || len == 0) return fail(failure::empty_line);
  return run_line(s, line, len, out);
}

// Start-up runs while the library loads, with this dispatcher for init.nos.
__attribute__((constructor)) static void on_library_load() { start_library(&exec_cmd); }

}  // namespace nosql_db

NOSQL_EXPORT datas* exec(const char* line, int32_t len) {
  using namespace nosql_db;
  store* s = global_store();
  if (!s) {
    // Only when there was no memory for the store while the library loaded.
    fail(failure::out_of_memory);
    return nullptr;
  }
  datas* d = nullptr;
  try {
    d = new_result();
    if (exec_cmd(*s, line, len, d)) {
      // Most commands (insert, set, delete) answer with no columns.
      if (!d->cols.empty()) return d;
      free_result(d);
      return empty_result();
    }
  } catch (...) {
    // Memory exhaustion (the only exception a command raises): the command
    // failed, every lock is released.
    fail(failure::out_of_memory);
  }
  if (d) free_result(d);
  return nullptr;
}

// The codes of vox_nosql.h are the library's own.
#define NOSQL_SAME_CODE(macro, code) static_assert(macro == static_cast<int32_t>(nosql_db::failure::code));
NOSQL_SAME_CODE(VOX_E_NONE, none)
NOSQL_SAME_CODE(VOX_E_EMPTY_LINE, empty_line)
NOSQL_SAME_CODE(VOX_E_UNKNOWN_COMMAND, unknown_command)
NOSQL_SAME_CODE(VOX_E_TOO_MANY_WORDS, too_many_words)
NOSQL_SAME_CODE(VOX_E_WORD_COUNT, word_count)
NOSQL_SAME_CODE(VOX_E_UNTERMINATED_QUOTE, unterminated_quote)
NOSQL_SAME_CODE(VOX_E_QUOTE_IN_WORD, quote_in_word)
NOSQL_SAME_CODE(VOX_E_ESCAPE_PAST_END, escape_past_end)
NOSQL_SAME_CODE(VOX_E_NOT_PREPARABLE, not_preparable)
NOSQL_SAME_CODE(VOX_E_NOT_A_REFERENCE, not_a_reference)
NOSQL_SAME_CODE(VOX_E_VKEY_OUT_OF_RANGE, vkey_out_of_range)
NOSQL_SAME_CODE(VOX_E_EMPTY_SLOT, empty_slot)
NOSQL_SAME_CODE(VOX_E_UNKNOWN_NAME, unknown_name)
NOSQL_SAME_CODE(VOX_E_STALE_STATEMENT, stale_statement)
NOSQL_SAME_CODE(VOX_E_UNKNOWN_WORD, unknown_word)
NOSQL_SAME_CODE(VOX_E_KIND_LACKS_WORD, kind_lacks_word)
NOSQL_SAME_CODE(VOX_E_PLACEHOLDER, placeholder)
NOSQL_SAME_CODE(VOX_E_UNKNOWN_KIND, unknown_kind)
NOSQL_SAME_CODE(VOX_E_UNKNOWN_TYPE, unknown_type)
NOSQL_SAME_CODE(VOX_E_PLACEHOLDER_WORD, placeholder_word)
NOSQL_SAME_CODE(VOX_E_BAD_ARGUMENT, bad_argument)
NOSQL_SAME_CODE(VOX_E_UNBOUND, unbound)
NOSQL_SAME_CODE(VOX_E_NO_SUCH_PLACEHOLDER, no_such_placeholder)
NOSQL_SAME_CODE(VOX_E_REFUSED, refused)
NOSQL_SAME_CODE(VOX_E_KEY_PRESENT, key_present)
NOSQL_SAME_CODE(VOX_E_KEY_ABSENT, key_absent)
NOSQL_SAME_CODE(VOX_E_POSITION_OUT_OF_RANGE, position_out_of_range)
NOSQL_SAME_CODE(VOX_E_HANDLE_NOT_LIVE, handle_not_live)
NOSQL_SAME_CODE(VOX_E_EMPTY_CONTAINER, empty_container)
NOSQL_SAME_CODE(VOX_E_BEYOND_BUCKETS, beyond_buckets)
NOSQL_SAME_CODE(VOX_E_NAN_KEY, nan_key)
NOSQL_SAME_CODE(VOX_E_NAME_TAKEN, name_taken)
NOSQL_SAME_CODE(VOX_E_STORE_FULL, store_full)
NOSQL_SAME_CODE(VOX_E_FILE_EXISTS, file_exists)
NOSQL_SAME_CODE(VOX_E_FILE_CREATE, file_create)
NOSQL_SAME_CODE(VOX_E_FILE_WRITE, file_write)
NOSQL_SAME_CODE(VOX_E_FILE_OPEN, file_open)
NOSQL_SAME_CODE(VOX_E_NOT_A_DUMP, not_a_dump)
NOSQL_SAME_CODE(VOX_E_DUMP_VERSION, dump_version)
NOSQL_SAME_CODE(VOX_E_DUMP_DAMAGED, dump_damaged)
NOSQL_SAME_CODE(VOX_E_OUT_OF_MEMORY, out_of_memory)
NOSQL_SAME_CODE(VOX_E_DURABLE_OFF, durable_off)
NOSQL_SAME_CODE(VOX_E_DURABLE_ON, durable_on)
NOSQL_SAME_CODE(VOX_E_DURABLE_DIR, durable_dir)
NOSQL_SAME_CODE(VOX_E_DURABLE_LOCKED, durable_locked)
NOSQL_SAME_CODE(VOX_E_DURABLE_DAMAGED, durable_damaged)
NOSQL_SAME_CODE(VOX_E_JOURNAL_FAILED, journal_failed)
NOSQL_SAME_CODE(VOX_E_CHECKPOINT_FAILED, checkpoint_failed)
NOSQL_SAME_CODE(VOX_E_BATCH_REFUSED, batch_refused)
NOSQL_SAME_CODE(VOX_E_BATCH_TOO_LONG, batch_too_long)
NOSQL_SAME_CODE(VOX_E_NOT_SENT, not_sent)
#undef NOSQL_SAME_CODE

NOSQL_EXPORT int32_t last_error(const char** text, const char** detail, uint64_t* record) {
  const nosql_db::failure_state& f = nosql_db::thread_failure;
  if (text) *text = nosql_db::failure_text(f.code);
  if (detail) *detail = f.code != 0 ? f.detail : "";
  if (record) *record = f.code != 0 ? f.record : 0;
  return f.code;
}
