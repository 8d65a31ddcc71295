// Batches: the two ways to run one (holding its containers, or the whole
// store), what is taken back when a command fails, and the journal record.
#include "api/batch.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "api/command_table.h"
#include "api/export.h"
#include "api/vox_nosql.h"
#include "containers/hold.h"
#include "lang/failure.h"
#include "lang/tokenizer.h"
#include "ops/command.h"
#include "ops/record.h"
#include "startup/startup.h"

namespace nosql_db {
namespace {

// Journal room for one command's record, bounded before any command runs:
// its length in the batch record, its type, command, row and vkey, and up
// to three arguments of at most their text (or bound string) plus an
// 8-byte length, or 12 bytes for any other value. A create repeats its
// name, three types, a capacity and a fresh list's 16 bytes of handles.
constexpr uint64_t record_room_fixed = 96;
constexpr uint64_t batch_header_room = 5;

// A command of a batch that holds its containers, parsed before any runs.
struct parsed {
  enum class how : uint8_t { element, statement, describe } how = how::element;
  element_command ec;               // element: from the line; statement: its own
  arg_values* values = nullptr;     // statement: its bound values
  const command_row* row = nullptr;  // describe: its row in the command table
  uint32_t hold = 0;                // which of the batch's holds is its container's
};

// A container the batch holds exclusively; `undoing` once it records the
// batch's changes to it.
struct held {
  ab_adt* c;
  uint64_t vkey;
  int64_t first;  // the first command that names it
  bool undoing;
};

// What the batch takes back on failure, newest last.
struct undo_step {
  enum class what : uint8_t { changes, create, erase, clear } w;
  ab_adt* c = nullptr;           // changes: roll back its changes
  uint64_t vkey = 0;             // create: remove it; erase: put `kept` back there
  std::unique_ptr<ab_adt> kept;  // erase (and, once undone, create)
  std::unique_ptr<store> old;    // clear: the store as it was
};

// "k" alone lists every container.
bool lists_all(std::string_view line) noexcept {
  return !line.empty() && line[0] == 'k' && line.find_first_not_of(' ', 1) == std::string_view::npos;
}

// False, with the reason recorded, for a line that no batch runs; row is
// the line's (null for an unknown command).
bool allowed(std::string_view line, const command_row* row) {
  if (line.empty()) return fail(failure::empty_line);
  if (row && !row->in_batch) return fail(failure::batch_refused);
  return true;
}

// An insertion, or a deletion of one element.
bool changes_one_element(const element_command& ec) noexcept {
  if (ec.cmd == element_cmd::insert) return true;
  if (ec.cmd != element_cmd::del) return false;
  switch (ec.row) {
    case word::min: case word::max: case word::first: case word::last: case word::nth: case word::pos: return true;
    default: return false;
  }
}

void put_u32_at(std::string& s, size_t at, uint32_t v) noexcept {
  for (int b = 0; b < 4; ++b) s[at + static_cast<size_t>(b)] = static_cast<char>(v >> (8 * b));
}

// What a batch works in, kept per thread from one batch to the next so
// that a short batch allocates little; a long one's room is given back.
struct batch_scratch {
  std::vector<datas*> out;
  std::vector<const command_row*> rows;  // each line's row (null: unknown or a statement)
  std::vector<parsed> cmds;
  std::unique_ptr<token[][max_tokens]> toks;
  size_t toks_room = 0;
  std::vector<held> holds;
  std::vector<std::pair<uint64_t, int64_t>> order;  // (vkey, command)
  std::vector<undo_step> undo;
  std::string record;

  static constexpr size_t kept_room = 64;

  // Room for the tokens of n lines.
  token (*tokens(size_t n))[max_tokens] {
    if (n > toks_room) {
      toks.reset(new token[n][max_tokens]);
      toks_room = n;
    }
    return toks.get();
  }
  // Empties everything (destroying what the batch set aside) and lets go
  // of the room of a long batch.
  void reset() noexcept {
    out.clear();
    rows.clear();
    cmds.clear();
    holds.clear();
    order.clear();
    undo.clear();
    record.clear();
    if (toks_room > kept_room) toks.reset(), toks_room = 0;
    if (cmds.capacity() > kept_room) std::vector<parsed>().swap(cmds);
    if (out.capacity() > kept_room) std::vector<datas*>().swap(out);
    if (rows.capacity() > kept_room) std::vector<const command_row*>().swap(rows);
    if (holds.capacity() > kept_room) std::vector<held>().swap(holds);
    if (order.capacity() > kept_room) std::vector<std::pair<uint64_t, int64_t>>().swap(order);
    if (undo.capacity() > kept_room) std::vector<undo_step>().swap(undo);
    if (record.capacity() > 4096) std::string().swap(record);
  }
};

class batch_run {
 public:
  batch_run(store& s, const batch_item* items, int64_t n, batch_scratch& w)
      : s_(s), items_(items), n_(n), out_(w.out), cmds_(w.cmds), holds_(w.holds), undo_(w.undo),
        record_(w.record), w_(w) {}
  ~batch_run() {
    for (datas* d : out_)
      if (d) free_result(d);
    out_.clear();
    if (spare_) free_result(spare_);
  }
  batch_run(const batch_run&) = delete;
  batch_run& operator=(const batch_run&) = delete;

  // Runs the batch; the answers are kept for take_answers().
  bool run();
  void take_answers(datas** results) noexcept;

 private:
  bool needs_whole_store() noexcept;
  // Holding the containers: parse all, lock their containers, run.
  bool run_holding();
  int64_t parse_all();
  bool parse_one(int64_t i, token (&t)[max_tokens], parsed* p);
  void take_holds(int64_t count);
  bool settle_holds();
  // The whole store: run each command as it comes.
  bool run_whole_store();
  bool run_line(int64_t i, token (&t)[max_tokens], arg_values& v, datas* out);
  bool run_catalog(int64_t i, const command_row& r, std::string_view line, datas* out);
  void hold_for_change(ab_adt& c, uint64_t vkey, int64_t i);

  bool run_element(int64_t i, const element_command& ec, arg_values& v, bool literals, held* h, datas* out);
  bool failed(int64_t i) noexcept;
  bool reserve_journal(int64_t count);
  size_t begin_record();
  void end_record(size_t at) noexcept;
  bool finish() noexcept;
  void undo() noexcept;
  void release() noexcept;

  store& s_;
  const batch_item* items_;
  int64_t n_;
  std::vector<datas*>& out_;
  std::vector<parsed>& cmds_;
  token (*toks_)[max_tokens] = nullptr;
  std::vector<held>& holds_;
  std::vector<undo_step>& undo_;
  uint64_t epoch_ = 0;
  // Durable mode: the batch's record, built as its commands succeed.
  change_log* log_ = nullptr;
  uint64_t reserved_ = 0;
  uint32_t records_ = 0;
  std::string& record_;
  batch_scratch& w_;
  // The result set the next command answers into; it becomes that
  // command's answer only when the command gives columns.
  datas* spare_ = nullptr;
  datas* answer_room();
  void keep_answer(int64_t i) noexcept;
  // A command that could not be parsed, reported unless one before it fails.
  bool unparsed_ = false;
  failure_state unparsed_reason_{};
};

// The commands that take the store lock exclusively (create, clear and
// erase; dump and read are refused), and a describe of every container.
// Finds each line's row on the way.
bool batch_run::needs_whole_store() noexcept {
  bool whole = false;
  for (int64_t i = 0; i < n_; ++i) {
    const std::string_view l = items_[i].line;
    if (items_[i].st || l.empty()) continue;
    const command_row* r = find_command(l.data(), static_cast<int64_t>(l.size()));
    w_.rows[static_cast<size_t>(i)] = r;
    if ((r && r->in_batch && r->lock == store_lock::exclusive) || lists_all(l)) whole = true;
  }
  return whole;
}

// Command i failed: its reason (out of memory when it gave none) with i as
// the record number.
bool batch_run::failed(int64_t i) noexcept {
  if (thread_failure.code == 0) fail(failure::out_of_memory);
  thread_failure.record = static_cast<uint64_t>(i);
  return false;
}

// ---- Holding the containers (a batch of element commands and describes) ----

bool batch_run::parse_one(int64_t i, token (&t)[max_tokens], parsed* p) {
  const batch_item& it = items_[i];
  if (it.st) {
    if (&it.st->owner() != &s_) return fail(failure::stale_statement);
    const element_command* ec = it.st->ready(&p->values);
    if (!ec) return false;
    p->how = parsed::how::statement;
    p->ec = *ec;
    return true;
  }
  const std::string_view line = it.line;
  const command_row* r = w_.rows[static_cast<size_t>(i)];
  if (!allowed(line, r)) return false;
  const int n = split_tokens(line.data(), static_cast<int64_t>(line.size()), t);
  if (r && r->id == command_id::describe) {
    // A describe of every container makes the batch take the whole store
    // (lists_all); here the line must name one.
    p->how = parsed::how::describe;
    p->row = r;
    return token_count_ok(n, 2, 2) && (p->ec.c = resolve_container(s_, t[1], &p->ec.vkey)) != nullptr;
  }
  if (!r || !r->element()) return fail(failure::unknown_command);
  p->how = parsed::how::element;
  return parse_element_words(s_, *r, t, n, &p->ec);
}

// Parses the commands until one cannot be and returns how many parsed; the
// reason for the one that did not is kept, since a command before it may
// fail first.
int64_t batch_run::parse_all() {
  for (int64_t i = 0; i < n_; ++i) {
    bool ok = false;
    try {
      if (i == 0) {
        cmds_.resize(static_cast<size_t>(n_));
        toks_ = w_.tokens(static_cast<size_t>(n_));
      }
      ok = parse_one(i, toks_[i], &cmds_[static_cast<size_t>(i)]);
    } catch (...) {
      fail(failure::out_of_memory);
    }
    if (!ok) {
      unparsed_ = true;
      unparsed_reason_ = thread_failure;
      unparsed_reason_.record = static_cast<uint64_t>(i);
      return i;
    }
  }
  return n_;
}

// Locks the containers of commands [0, count), each once, in ascending
// vkey order, so that two batches never wait for each other.
void batch_run::take_holds(int64_t count) {
  holds_.reserve(static_cast<size_t>(count));
  if (count <= 8) {
    // A few commands: each container found among the holds so far, the
    // holds kept in order as they are added.
    for (int64_t i = 0; i < count; ++i) {
      const parsed& p = cmds_[static_cast<size_t>(i)];
      size_t h = 0;
      while (h < holds_.size() && holds_[h].vkey < p.ec.vkey) ++h;
      if (h == holds_.size() || holds_[h].vkey != p.ec.vkey)
        holds_.insert(holds_.begin() + static_cast<ptrdiff_t>(h), {p.ec.c, p.ec.vkey, i, false});
    }
    for (int64_t i = 0; i < count; ++i) {
      parsed& p = cmds_[static_cast<size_t>(i)];
      uint32_t h = 0;
      while (holds_[h].vkey != p.ec.vkey) ++h;
      p.hold = h;
    }
  } else {
    std::vector<std::pair<uint64_t, int64_t>>& order = w_.order;
    order.reserve(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) order.emplace_back(cmds_[static_cast<size_t>(i)].ec.vkey, i);
    std::sort(order.begin(), order.end());
    for (size_t k = 0; k < order.size(); ++k) {
      parsed& p = cmds_[static_cast<size_t>(order[k].second)];
      if (k == 0 || order[k].first != order[k - 1].first) holds_.push_back({p.ec.c, p.ec.vkey, order[k].second, false});
      p.hold = static_cast<uint32_t>(holds_.size() - 1);
    }
  }
  const uint32_t me = thread_token();
  for (held& h : holds_) {
    h.c->lock().lock();
    h.c->holder().store(me, std::memory_order_relaxed);
  }
}

// With every container locked, the running snapshot's epoch is read once
// and each container settled against it: a snapshot sees all of them as
// they were before the batch, or all of them after.
bool batch_run::settle_holds() {
  epoch_ = running_snapshot.load(std::memory_order_acquire);
  if (epoch_ == 0) return true;
  for (const held& h : holds_) {
    try {
      if (epoch_ > h.c->snapshot_epoch().load(std::memory_order_relaxed)) settle_snapshot(*h.c, epoch_);
    } catch (...) {
      fail(failure::out_of_memory);
      return failed(h.first);
    }
  }
  return true;
}

bool batch_run::run_holding() {
  read_guard l(s_.lock);
  const int64_t count = parse_all();
  try {
    take_holds(count);
  } catch (...) {
    fail(failure::out_of_memory);
    return failed(0);
  }
  if (!settle_holds() || !reserve_journal(count)) return release(), false;
  arg_values v;
  for (int64_t i = 0; i < count; ++i) {
    parsed& p = cmds_[static_cast<size_t>(i)];
    bool ok = false;
    try {
      clear_failure();
      datas* out = answer_room();
      switch (p.how) {
        case parsed::how::element: ok = run_element(i, p.ec, v, true, &holds_[p.hold], out); break;
        case parsed::how::statement: ok = run_element(i, p.ec, *p.values, false, &holds_[p.hold], out); break;
        case parsed::how::describe: {
          command_effect none;
          ok = p.row->run(command_args{s_, toks_[i], 2, p.ec.c, p.ec.vkey, out, none});
          break;
        }
      }
    } catch (...) {
      fail(failure::out_of_memory);
    }
    if (!ok) return failed(i), undo(), release(), false;
    keep_answer(i);
  }
  if (unparsed_) {
    undo();
    release();
    thread_failure = unparsed_reason_;
    return false;
  }
  return finish();
}

// ---- The whole store (a batch that creates, erases, clears or lists) ----

// The first time the batch changes c: holds it to the end and starts its
// record of changes. A container the batch made is held from its birth
// and taken back whole.
void batch_run::hold_for_change(ab_adt& c, uint64_t vkey, int64_t i) {
  if (c.held_here()) return;
  holds_.reserve(holds_.size() + 1);
  undo_.reserve(undo_.size() + 1);
  take_exclusive(c, &epoch_);
  holds_.push_back({&c, vkey, i, false});
  c.begin_undo();
  holds_.back().undoing = true;
  undo_.push_back({undo_step::what::changes, &c, 0, nullptr, nullptr});
}

bool batch_run::run_catalog(int64_t i, const command_row& r, std::string_view line, datas* out) {
  const char* l = line.data();
  const int64_t len = static_cast<int64_t>(line.size());
  command_effect effect;
  if (r.id == command_id::describe) return run_locked(s_, r, l, len, out, effect);
  undo_.reserve(undo_.size() + 1);
  holds_.reserve(holds_.size() + 1);
  // What erase drops and what clear empties are set aside, to be put back.
  std::unique_ptr<ab_adt> kept;
  std::unique_ptr<store> old;
  effect.keep = &kept;
  effect.old = &old;
  if (!run_locked(s_, r, l, len, out, effect)) return false;
  size_t at = 0;
  switch (r.id) {
    case command_id::erase:
      undo_.push_back({undo_step::what::erase, nullptr, effect.vkey, std::move(kept), nullptr});
      at = begin_record();
      if (log_) encode_erase(&record_, effect.vkey);
      break;
    case command_id::clear:
      undo_.push_back({undo_step::what::clear, nullptr, 0, nullptr, std::move(old)});
      at = begin_record();
      if (log_) encode_clear(&record_);
      break;
    default: {  // create
      undo_.push_back({undo_step::what::create, nullptr, effect.vkey, nullptr, nullptr});
      ab_adt& c = *s_.at(effect.vkey);
      take_exclusive(c, &epoch_);
      holds_.push_back({&c, effect.vkey, i, false});
      at = begin_record();
      if (log_) encode_create(&record_, effect.vkey, c);
      break;
    }
  }
  end_record(at);
  return true;
}

bool batch_run::run_line(int64_t i, token (&t)[max_tokens], arg_values& v, datas* out) {
  const batch_item& it = items_[i];
  if (it.st) {
    parsed p;
    return parse_one(i, t, &p) && run_element(i, p.ec, *p.values, false, nullptr, out);
  }
  const std::string_view line = it.line;
  const command_row* r = w_.rows[static_cast<size_t>(i)];
  if (!allowed(line, r)) return false;
  if (!r) return fail(failure::unknown_command);
  if (!r->element()) return run_catalog(i, *r, line, out);
  const int n = split_tokens(line.data(), static_cast<int64_t>(line.size()), t);
  element_command ec;
  return parse_element_words(s_, *r, t, n, &ec) && run_element(i, ec, v, true, nullptr, out);
}

bool batch_run::run_whole_store() {
  std::unique_lock l(s_.lock);
  epoch_ = running_snapshot.load(std::memory_order_acquire);
  if (!reserve_journal(n_)) return false;
  token t[max_tokens];
  arg_values v;
  for (int64_t i = 0; i < n_; ++i) {
    bool ok = false;
    try {
      clear_failure();
      ok = run_line(i, t, v, answer_room());
    } catch (...) {
      fail(failure::out_of_memory);
    }
    if (!ok) return failed(i), undo(), release(), false;
    keep_answer(i);
  }
  return finish();
}

// ---- Both ways ----

// One get, set, insert or delete. h is its container's hold when the
// batch took them all first; otherwise a change takes the hold here.
bool batch_run::run_element(int64_t i, const element_command& ec, arg_values& v, bool literals, held* h,
                            datas* out) {
  if (ec.cmd == element_cmd::get) return run_get(ec, v, out, literals);
  if (literals && !read_literals(ec, v)) return false;
  if (!h) {
    hold_for_change(*ec.c, ec.vkey, i);
  } else if (!h->undoing && (i + 1 < n_ || !changes_one_element(ec))) {
    // The last command needs no record when it changes one element: such
    // a change is made whole or not at all, and nothing after it can fail
    // the batch.
    undo_.reserve(undo_.size() + 1);
    h->c->begin_undo();
    h->undoing = true;
    undo_.push_back({undo_step::what::changes, h->c, 0, nullptr, nullptr});
  }
  if (!log_) return apply_change(ec, v);
  const size_t at = begin_record();
  encode_change(&record_, ec, v);
  if (!apply_change(ec, v)) return record_.resize(at), false;
  end_record(at);
  return true;
}

// Durable mode: room for the whole batch record is reserved before the
// first command runs, so that a full disk refuses the batch unchanged.
bool batch_run::reserve_journal(int64_t count) {
  log_ = s_.log();
  if (!log_) return true;
  uint64_t room = batch_header_room;
  for (int64_t i = 0; i < count; ++i)
    room += record_room_fixed + (items_[i].st ? items_[i].st->text_bytes() : items_[i].line.size());
  try {
    record_.reserve(room);
    if (!log_->reserve(epoch_, room)) return failed(0);
  } catch (...) {
    fail(failure::out_of_memory);
    return failed(0);
  }
  reserved_ = room;
  record_.push_back(static_cast<char>(record_type::batch));
  record_.append(4, '\0');
  return true;
}

// A record in the batch record: its length, then itself.
size_t batch_run::begin_record() {
  if (!log_) return 0;
  const size_t at = record_.size();
  record_.append(4, '\0');
  return at;
}
void batch_run::end_record(size_t at) noexcept {
  if (!log_) return;
  put_u32_at(record_, at, static_cast<uint32_t>(record_.size() - at - 4));
  ++records_;
}

// Every command succeeded: the changes are kept and journaled as one
// record while the holds still order them, then the holds go, and the
// record settles as the sync mode wants.
bool batch_run::finish() noexcept {
  for (const undo_step& u : undo_)
    if (u.w == undo_step::what::changes) u.c->end_undo();
  for (held& h : holds_) h.undoing = false;
  change_log::ticket t{};
  const bool journaled = log_ && records_ > 0;
  if (log_ && !journaled) log_->unreserve(epoch_, reserved_);
  if (journaled) {
    put_u32_at(record_, 1, records_);
    t = log_->append_within(epoch_, record_, reserved_);
  }
  reserved_ = 0;
  release();
  if (journaled && !log_->settle(t)) return failed(n_ - 1);
  return true;
}

// Takes back every change, newest first; allocates nothing.
void batch_run::undo() noexcept {
  for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
    switch (it->w) {
      case undo_step::what::changes: it->c->rollback(); break;
      case undo_step::what::create: it->kept = s_.remove(it->vkey); break;
      case undo_step::what::erase:
        // Its vkey is at the front of the free list again, and its name's
        // room in the directory is still there: this cannot fail.
        s_.move_to_front(it->vkey);
        s_.add(std::move(it->kept));
        break;
      case undo_step::what::clear: s_.swap(*it->old); break;
    }
  }
  for (held& h : holds_) h.undoing = false;
  if (log_ && reserved_) log_->unreserve(epoch_, reserved_);
  reserved_ = 0;
}

// Lets go of every hold. What the batch erased, cleared or took back is
// destroyed after the store lock goes, with the batch.
void batch_run::release() noexcept {
  for (const held& h : holds_) release_exclusive(*h.c);
  holds_.clear();
}

datas* batch_run::answer_room() {
  if (!spare_) spare_ = new_result();
  return spare_;
}
void batch_run::keep_answer(int64_t i) noexcept {
  if (!spare_->cols.empty()) out_[static_cast<size_t>(i)] = std::exchange(spare_, nullptr);
}

bool batch_run::run() {
  clear_failure();
  try {
    out_.assign(static_cast<size_t>(n_), nullptr);
    w_.rows.assign(static_cast<size_t>(n_), nullptr);
  } catch (...) {
    fail(failure::out_of_memory);
    return false;
  }
  if (n_ == 0) return true;
  return needs_whole_store() ? run_whole_store() : run_holding();
}

// A command without columns answers as exec answers it then.
void batch_run::take_answers(datas** results) noexcept {
  for (size_t i = 0; i < out_.size(); ++i) results[i] = out_[i] ? out_[i] : empty_result();
  out_.clear();
}

// Each thread's scratch, reached through static TLS (one instruction off the
// thread pointer) and freed when the thread ends by an owner in ordinary TLS.
thread_local batch_scratch* thread_scratch [[gnu::tls_model("initial-exec")]] = nullptr;
struct scratch_owner {
  ~scratch_owner() {
    delete thread_scratch;
    thread_scratch = nullptr;
  }
};
thread_local scratch_owner t_scratch_owner;

batch_scratch& scratch_here() {
  if (!thread_scratch) [[unlikely]] {
    (void)&t_scratch_owner;  // first use: its destructor runs at thread exit
    thread_scratch = new batch_scratch;
  }
  return *thread_scratch;
}

}  // namespace

int64_t run_batch(store& s, const batch_item* items, int64_t n, datas** results) {
  batch_scratch& scratch = scratch_here();
  int64_t answered = -1;
  {
    batch_run b(s, items, n, scratch);
    if (b.run()) {
      b.take_answers(results);
      answered = n;
    }
  }
  // What the batch erased, cleared or took back is destroyed here, after
  // the store lock is released.
  scratch.reset();
  return answered;
}

std::vector<batch_item> batch_lines(std::string_view text) {
  std::vector<batch_item> items;
  items.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    items.push_back({text.substr(at, end - at), nullptr});
    at = end + 1;
  }
  return items;
}

}  // namespace nosql_db

namespace {

using namespace nosql_db;

int32_t run_items(const std::vector<batch_item>& items, datas** results) {
  store* s = global_store();
  if (!s) return fail(failure::out_of_memory), -1;
  try {
    return static_cast<int32_t>(run_batch(*s, items.data(), static_cast<int64_t>(items.size()), results));
  } catch (...) {
    // run_batch lets nothing escape but its own allocations before it starts.
    fail(failure::out_of_memory);
    return -1;
  }
}

}  // namespace

NOSQL_EXPORT int32_t vox_batch(const char* text, int32_t len, datas** results, int32_t capacity) {
  clear_failure();
  if (len < 0 || (len > 0 && !text)) return fail(failure::bad_argument, "text"), -1;
  store* s = global_store();
  if (!s) return fail(failure::out_of_memory), -1;
  try {
    // A short batch's lines stay on the stack; a longer one's go to a vector.
    constexpr int32_t on_stack = 16;
    batch_item items[on_stack];
    int32_t n = 0;
    const char* p = text;
    const char* const end = text + len;
    while (p < end && n < on_stack) {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      if (!nl) nl = end;
      items[n++].line = std::string_view(p, static_cast<size_t>(nl - p));
      p = nl + 1;
    }
    if (p >= end) {
      if (n > capacity || (n > 0 && !results)) return fail(failure::batch_too_long, "", capacity < 0 ? 0 : static_cast<uint64_t>(capacity)), -1;
      return static_cast<int32_t>(run_batch(*s, items, n, results));
    }
    const std::vector<batch_item> all = batch_lines(std::string_view(text, static_cast<size_t>(len)));
    if (static_cast<int64_t>(all.size()) > capacity || !results)
      return fail(failure::batch_too_long, "", capacity < 0 ? 0 : static_cast<uint64_t>(capacity)), -1;
    return static_cast<int32_t>(run_batch(*s, all.data(), static_cast<int64_t>(all.size()), results));
  } catch (...) {
    fail(failure::out_of_memory);
    return -1;
  }
}

NOSQL_EXPORT int32_t vox_batch_items(const vox_batch_item* items, int32_t n, datas** results) {
  clear_failure();
  if (n < 0 || (n > 0 && (!items || !results))) return fail(failure::bad_argument, "items"), -1;
  try {
    std::vector<batch_item> list;
    list.reserve(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
      const vox_batch_item& it = items[i];
      const size_t len = it.line && it.len > 0 ? static_cast<size_t>(it.len) : 0;
      list.push_back({std::string_view(it.line ? it.line : "", len), reinterpret_cast<statement*>(it.stmt)});
    }
    return run_items(list, results);
  } catch (...) {
    fail(failure::out_of_memory);
    return -1;
  }
}
