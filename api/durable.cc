// Durable mode: opening (and recovering), checkpoints, closing, and the
// catalog commands' records.
#include "api/durable.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api/command_table.h"
#include "api/export.h"
#include "api/vox_nosql.h"
#include "containers/hold.h"
#include "lang/failure.h"
#include "ops/record.h"
#include "persist/checkpoint.h"
#include "persist/files.h"
#include "persist/journal.h"
#include "startup/startup.h"

namespace nosql_db {
namespace {

// What the directory holds, by sequence.
struct listing {
  std::vector<uint64_t> checkpoints, journals;  // ascending
  std::vector<std::string> leftovers;          // checkpoints a kill interrupted
};

// The sequence of a name "<prefix><16 hex digits><suffix>", or false.
bool sequence_of(const std::string& name, const char* prefix, const char* suffix, uint64_t* seq) {
  const size_t p = std::char_traits<char>::length(prefix), s = std::char_traits<char>::length(suffix);
  if (name.size() != p + 16 + s || name.compare(0, p, prefix) != 0 || name.compare(p + 16, s, suffix) != 0)
    return false;
  uint64_t v = 0;
  for (size_t i = p; i < p + 16; ++i) {
    const char c = name[i];
    const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d < 0) return false;
    v = v << 4 | static_cast<uint64_t>(d);
  }
  *seq = v;
  return true;
}

bool list_directory(int dir_fd, listing* out) {
  const int fd = ::dup(dir_fd);
  DIR* d = fd >= 0 ? ::fdopendir(fd) : nullptr;
  if (!d) {
    if (fd >= 0) ::close(fd);
    return fail(failure::durable_dir, "list");
  }
  ::rewinddir(d);
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    uint64_t seq;
    if (sequence_of(name, "checkpoint-", ".vxck", &seq)) out->checkpoints.push_back(seq);
    else if (sequence_of(name, "journal-", ".vxjl", &seq)) out->journals.push_back(seq);
    else if (sequence_of(name, "checkpoint-", ".vxck.tmp", &seq)) out->leftovers.push_back(name);
  }
  ::closedir(d);
  std::sort(out->checkpoints.begin(), out->checkpoints.end());
  std::sort(out->journals.begin(), out->journals.end());
  return true;
}

// The process's durable mode.
struct durable_state {
  std::mutex m;  // open, checkpoint and close, one at a time
  bool on = false;
  int dir_fd = -1;
  int lock_fd = -1;
  sync_mode mode = sync_mode::none;
  uint64_t checkpoint = 0;  // the newest checkpoint on disk
  std::unique_ptr<journal> j;

  void release_files() noexcept {
    if (lock_fd >= 0) ::close(lock_fd);  // releases the flock
    if (dir_fd >= 0) ::close(dir_fd);
    lock_fd = dir_fd = -1;
  }
};
durable_state& state() {
  static durable_state* s = new durable_state();  // outlives every thread
  return *s;
}

int32_t code() noexcept { return thread_failure.code; }

// Locks the directory for this process (made when absent).
bool take_directory(durable_state& st, const char* dir) {
  if (!dir || !*dir) return fail(failure::durable_dir, "no path");
  if (::mkdir(dir, 0777) != 0 && errno != EEXIST) return fail(failure::durable_dir, "create");
  st.dir_fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (st.dir_fd < 0) return fail(failure::durable_dir, "open");
  st.lock_fd = ::openat(st.dir_fd, "LOCK", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (st.lock_fd < 0) return fail(failure::durable_dir, "lock file");
  if (::flock(st.lock_fd, LOCK_EX | LOCK_NB) != 0)
    return fail(errno == EWOULDBLOCK ? failure::durable_locked : failure::durable_dir, "lock");
  return true;
}

// The journals from `from` to the newest, which must follow each other and
// start with journal `from` (made before the checkpoint that it follows got
// its name).
bool chain_from(const listing& l, uint64_t from, std::vector<uint64_t>* chain) {
  chain->clear();
  for (uint64_t j : l.journals)
    if (j >= from) chain->push_back(j);
  for (size_t i = 1; i < chain->size(); ++i)
    if ((*chain)[i] != (*chain)[i - 1] + 1) return false;
  return !chain->empty() && chain->front() == from;
}

// Reads the directory's store into fresh: the newest checkpoint that reads
// whole (an older one only when the journals from it on are all there),
// then the journals after it. *seq and *end tell where journaling goes on.
bool recover(int dir_fd, const listing& l, store& fresh, uint64_t* checkpoint, uint64_t* seq, uint64_t* end) {
  if (l.checkpoints.empty()) {
    return fail(failure::durable_damaged, thread_detail(journal_name(l.journals.front()) + ": no checkpoint before it"),
                0);
  }
  std::vector<uint64_t> chain;
  int32_t first_code = 0;
  const char* first_detail = "";
  uint64_t first_offset = 0;
  std::string first_detail_text;
  for (size_t i = l.checkpoints.size(); i-- > 0;) {
    const uint64_t c = l.checkpoints[i];
    if (!chain_from(l, c, &chain)) continue;
    fresh.clear();
    if (read_checkpoint(fresh, dir_fd, c)) {
      *checkpoint = c;
      *seq = chain.back();
      *end = 0;
      for (size_t k = 0; k < chain.size(); ++k) {
        uint64_t e = 0;
        if (!read_journal(dir_fd, chain[k], [&](std::string_view r) { return replay_record(fresh, r); }, &e))
          return false;
        // Only the newest file can be one a kill left without its header.
        if (e == 0 && k + 1 < chain.size())
          return fail(failure::durable_damaged, thread_detail(journal_name(chain[k]) + ": no header"), 0);
        *end = e;
      }
      return true;
    }
    if (first_code == 0) {
      first_code = thread_failure.code;
      first_detail_text = thread_failure.detail;
      first_offset = thread_failure.record;
    }
  }
  // The newest checkpoint's damage is the reason.
  if (first_code == 0) {
    return fail(failure::durable_damaged,
                thread_detail(checkpoint_name(l.checkpoints.back()) + ": the journals after it are not all there"), 0);
  }
  first_detail = thread_detail(first_detail_text);
  return fail(static_cast<failure>(first_code), first_detail, first_offset);
}

// Deletes what the newest checkpoint supersedes, and checkpoints that a
// kill left half written.
void tidy(int dir_fd, uint64_t checkpoint) {
  listing l;
  if (!list_directory(dir_fd, &l)) return;
  for (uint64_t c : l.checkpoints)
    if (c < checkpoint) ::unlinkat(dir_fd, checkpoint_name(c).c_str(), 0);
  for (uint64_t j : l.journals)
    if (j < checkpoint) ::unlinkat(dir_fd, journal_name(j).c_str(), 0);
  for (const std::string& t : l.leftovers) ::unlinkat(dir_fd, t.c_str(), 0);
}

// An empty directory: the current store is its first checkpoint. The
// journal comes first, so that a checkpoint always has its journal; a kill
// before the checkpoint's rename leaves journal 1 alone, empty, which
// counts as an empty directory.
bool start_fresh(durable_state& st, store& s) {
  std::unique_lock l(s.lock);
  st.j = journal::open(st.dir_fd, 1, 0, st.mode);
  if (!st.j) return false;
  if (!write_checkpoint(s, st.dir_fd, 1, [](uint64_t) { return true; })) {
    st.j.reset();
    ::unlinkat(st.dir_fd, journal_name(1).c_str(), 0);
    return false;
  }
  st.checkpoint = 1;
  s.set_log(st.j.get());
  tidy(st.dir_fd, 1);
  return true;
}

// No checkpoint, and no journal but an empty journal 1.
bool is_empty(int dir_fd, const listing& l) {
  if (!l.checkpoints.empty()) return false;
  if (l.journals.empty()) return true;
  uint64_t end = 0, records = 0;
  return l.journals.size() == 1 && l.journals[0] == 1 &&
         read_journal(dir_fd, 1, [&](std::string_view) { return ++records, true; }, &end) && records == 0;
}

bool open_existing(durable_state& st, store& s, const listing& l) {
  auto fresh = std::make_unique<store>();
  uint64_t checkpoint = 0, seq = 0, end = 0;
  if (!recover(st.dir_fd, l, *fresh, &checkpoint, &seq, &end)) return false;
  std::unique_lock lk(s.lock);
  st.j = journal::open(st.dir_fd, seq, end, st.mode);
  if (!st.j) return false;
  s.swap(*fresh);
  st.checkpoint = checkpoint;
  s.set_log(st.j.get());
  lk.unlock();
  tidy(st.dir_fd, checkpoint);
  return true;
}

// Writes the next checkpoint; the journal moves to its next file at the
// checkpoint's instant. REQUIRES the store lock (shared or exclusive).
bool checkpoint_now(durable_state& st, const store& s) {
  const uint64_t next = st.j->sequence() + 1;
  bool moved = false;
  const bool ok = write_checkpoint(s, st.dir_fd, next, [&](uint64_t e) { return moved = st.j->begin_next(next, e); });
  if (moved) st.j->end_previous(ok);
  if (!ok) return false;
  st.checkpoint = next;
  tidy(st.dir_fd, next);
  return true;
}

// Reserves, changes, appends and settles a catalog change.
// REQUIRES the exclusive store lock.
template <class Change, class Record>
bool journaled(store& s, uint64_t room, Change&& change, Record&& record) {
  change_log& log = *s.log();
  const uint64_t e = running_snapshot.load(std::memory_order_acquire);
  if (!log.reserve(e, room)) return false;
  bool ok = false;
  try {
    ok = change();
  } catch (...) {
    log.unreserve(e, room);
    throw;
  }
  if (!ok) {
    log.unreserve(e, room);
    return false;
  }
  std::string r;
  record(&r);
  // The room was an upper bound; nobody else appends meanwhile, so the
  // record's own room is there.
  log.unreserve(e, room);
  if (!log.reserve(e, r.size())) return false;
  return log.settle(log.append(e, r));
}

}  // namespace

int32_t durable_open(store& s, const char* dir, int32_t sync) {
  durable_state& st = state();
  std::lock_guard l(st.m);
  clear_failure();
  if (st.on) return fail(failure::durable_on), code();
  if (sync < 0 || sync > 2) return fail(failure::bad_argument, "sync"), code();
  st.mode = static_cast<sync_mode>(sync);
  listing found;
  bool ok = take_directory(st, dir) && list_directory(st.dir_fd, &found);
  if (ok) ok = is_empty(st.dir_fd, found) ? start_fresh(st, s) : open_existing(st, s, found);
  if (!ok) {
    st.j.reset();
    st.release_files();
    return code();
  }
  st.on = true;
  return 0;
}

int32_t durable_checkpoint(store& s) {
  durable_state& st = state();
  std::lock_guard l(st.m);
  clear_failure();
  if (!st.on) return fail(failure::durable_off), code();
  read_guard g(s.lock);
  return checkpoint_now(st, s) ? 0 : code();
}

int32_t durable_close(store& s) {
  durable_state& st = state();
  std::lock_guard l(st.m);
  clear_failure();
  if (!st.on) return fail(failure::durable_off), code();
  {
    std::unique_lock lk(s.lock);
    s.set_log(nullptr);
  }
  const bool ok = st.j->sync_all();
  st.j.reset();
  st.release_files();
  st.on = false;
  return ok ? 0 : code();
}

bool journaled_create(store& s, const command_row& r, const char* line, int64_t len, datas* out) {
  const uint64_t room = static_cast<uint64_t>(len > 0 ? len : 0) + 96;
  command_effect made;
  return journaled(
      s, room, [&] { return run_locked(s, r, line, len, out, made); },
      [&](std::string* rec) { encode_create(rec, made.vkey, *s.at(made.vkey)); });
}

bool journaled_clear(store& s, const command_row& r, const char* line, int64_t len, datas* out) {
  command_effect none;
  return journaled(
      s, 1, [&] { return run_locked(s, r, line, len, out, none); }, [](std::string* rec) { encode_clear(rec); });
}

bool journaled_erase(store& s, const command_row& r, const char* line, int64_t len, datas* out) {
  command_effect dropped;
  return journaled(
      s, 8, [&] { return run_locked(s, r, line, len, out, dropped); },
      [&](std::string* rec) { encode_erase(rec, dropped.vkey); });
}

bool durable_read(store& s, const command_row& r, const char* line, int64_t len, datas* out) {
  durable_state& st = state();
  store old;
  old.swap(s);
  command_effect none;
  bool ok = run_locked(s, r, line, len, out, none);
  // The read is only kept when a checkpoint holds it.
  if (ok) ok = checkpoint_now(st, s);
  if (!ok) {
    s.clear();
    s.swap(old);
  }
  return ok;
}

}  // namespace nosql_db

NOSQL_EXPORT int32_t vox_durable_open(const char* dir, int32_t sync) {
  nosql_db::store* s = nosql_db::global_store();
  if (!s) return nosql_db::fail(nosql_db::failure::out_of_memory), VOX_E_OUT_OF_MEMORY;
  try {
    return nosql_db::durable_open(*s, dir, sync);
  } catch (...) {
    nosql_db::fail(nosql_db::failure::out_of_memory);
    return VOX_E_OUT_OF_MEMORY;
  }
}

NOSQL_EXPORT int32_t vox_checkpoint(void) {
  nosql_db::store* s = nosql_db::global_store();
  if (!s) return nosql_db::fail(nosql_db::failure::durable_off), VOX_E_DURABLE_OFF;
  try {
    return nosql_db::durable_checkpoint(*s);
  } catch (...) {
    nosql_db::fail(nosql_db::failure::out_of_memory);
    return VOX_E_OUT_OF_MEMORY;
  }
}

NOSQL_EXPORT int32_t vox_durable_close(void) {
  nosql_db::store* s = nosql_db::global_store();
  if (!s) return nosql_db::fail(nosql_db::failure::durable_off), VOX_E_DURABLE_OFF;
  try {
    return nosql_db::durable_close(*s);
  } catch (...) {
    nosql_db::fail(nosql_db::failure::out_of_memory);
    return VOX_E_OUT_OF_MEMORY;
  }
}
