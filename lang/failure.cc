// The per-thread reason and the texts of the codes.
#include "lang/failure.h"

namespace nosql_db {

constinit thread_local failure_state thread_failure [[gnu::tls_model("initial-exec")]] = {0, "", 0};

const char* failure_text(int32_t code) noexcept {
  switch (static_cast<failure>(code)) {
    case failure::none: return "no failure";
    case failure::empty_line: return "the line is empty";
    case failure::unknown_command: return "the first byte names no command";
    case failure::too_many_words: return "the line has more than six words";
    case failure::word_count: return "wrong number of words for this command";
    case failure::unterminated_quote: return "a quoted word has no closing quote";
    case failure::quote_in_word: return "a double quote inside a bare word";
    case failure::escape_past_end: return "an escape runs past the end of the line";
    case failure::not_preparable: return "only get, set, insert and delete lines can be prepared";
    case failure::not_a_reference: return "the container reference is neither a vkey nor a quoted name";
    case failure::vkey_out_of_range: return "the vkey is beyond the slot table";
    case failure::empty_slot: return "no container at this vkey";
    case failure::unknown_name: return "no container has this name";
    case failure::stale_statement: return "the statement's container is gone";
    case failure::unknown_word: return "the word matches no sub-command";
    case failure::kind_lacks_word: return "the container's kind does not answer this word";
    case failure::placeholder: return "a placeholder hash container takes no element command";
    case failure::unknown_kind: return "no such kind";
    case failure::unknown_type: return "no such type";
    case failure::placeholder_word: return "a placeholder stands where a word belongs";
    case failure::bad_argument: return "an argument cannot be read as the type it needs";
    case failure::unbound: return "a placeholder has no value";
    case failure::no_such_placeholder: return "no placeholder has this index";
    case failure::refused: return "the container refused the operation";
    case failure::key_present: return "the key is already present";
    case failure::key_absent: return "no element matches the key";
    case failure::position_out_of_range: return "the position or count is out of range";
    case failure::handle_not_live: return "the handle names no live node of this list";
    case failure::empty_container: return "the container is empty";
    case failure::beyond_buckets: return "the key lies beyond the buckets";
    case failure::nan_key: return "NaN cannot be a key";
    case failure::name_taken: return "another container has this name";
    case failure::store_full: return "every vkey is in use";
    case failure::file_exists: return "the dump file exists";
    case failure::file_create: return "the dump file cannot be created";
    case failure::file_write: return "the dump file cannot be written";
    case failure::file_open: return "the file cannot be opened";
    case failure::not_a_dump: return "the file is not a dump file";
    case failure::dump_version: return "the dump file's version is not supported";
    case failure::dump_damaged: return "the dump file is damaged";
    case failure::out_of_memory: return "out of memory";
    case failure::durable_off: return "durable mode is not on";
    case failure::durable_on: return "durable mode is already on";
    case failure::durable_dir: return "the durable directory cannot be used";
    case failure::durable_locked: return "another process journals into this directory";
    case failure::durable_damaged: return "a file of the durable directory is damaged";
    case failure::journal_failed: return "the change could not be journaled";
    case failure::checkpoint_failed: return "the checkpoint could not be written";
    case failure::batch_refused: return "dumps and reads cannot run in a batch";
    case failure::batch_too_long: return "the batch holds more commands than there is room for answers";
    case failure::not_sent: return "the line was not sent: it cannot be built or is too long";
  }
  return "unknown code";
}

const char* thread_detail(std::string_view text) noexcept {
  static thread_local char buf[256];
  const size_t n = text.size() < sizeof buf - 1 ? text.size() : sizeof buf - 1;
  for (size_t i = 0; i < n; ++i) buf[i] = text[i];
  buf[n] = 0;
  return buf;
}

#ifndef NOSQL_NO_FAILURE_REASONS
bool fail(failure why, const char* detail, uint64_t record) noexcept {
  thread_failure = {static_cast<int32_t>(why), detail ? detail : "", record};
  return false;
}
#endif

}  // namespace nosql_db
