// Journal records: encoding, replay, and the journaled path of a change.
// Format: docs/FORMATS.md, "Journal records".
#include "ops/record.h"

#include "catalog/create.h"
#include "containers/hold.h"
#include "lang/codec.h"
#include "lang/failure.h"
#include "ops/ops.h"

namespace nosql_db {
namespace {

void put_value(dump_out& out, const value_box& b, scalar t) {
  visit_scalar(t, 0, [&]<class T>(type_tag<T>) {
    out.put_elem(b.get<T>());
    return 0;
  });
}

bool get_value(dump_in& in, value_box* b, scalar t) {
  return visit_scalar(t, false, [&]<class T>(type_tag<T>) {
    T x{};
    if (!in.get_elem(&x)) return false;
    b->set(x);
    return true;
  });
}

bool damaged(const char* what) { return fail(failure::durable_damaged, what); }

bool replay_change(store& s, dump_in& in) {
  uint8_t family, row;
  uint32_t vkey;
  if (!in.get_u8(&family) || !in.get_u8(&row) || !in.get_u32(&vkey)) return damaged("change record");
  element_command cmd;
  cmd.st = &s;
  cmd.cmd = static_cast<element_cmd>(family);
  cmd.row = static_cast<word>(row);
  cmd.vkey = vkey;
  cmd.c = s.at(vkey);
  if (family < static_cast<uint8_t>(element_cmd::insert) || family > static_cast<uint8_t>(element_cmd::del) ||
      row >= word_count || !cmd.c || cmd.c->is_placeholder())
    return damaged("change record");
  const row_sig sig = signature(cmd.cmd, cmd.row);
  arg_values v;
  for (uint8_t i = 0; i < sig.n; ++i) {
    const arg_sig a = sig.args[i];
    if (!get_value(in, &v[a.slot], role_type(*cmd.c, a.role))) return damaged("change record");
  }
  if (in.remaining() != 0) return damaged("change record");
  // A change that was made once is made again; anything else means the
  // record does not belong on this store.
  return apply_change(cmd, v) || damaged("change that does not apply");
}

bool replay_create(store& s, dump_in& in) {
  uint32_t vkey;
  uint8_t k, key, value;
  uint64_t buckets;
  xstring name, extras;
  if (!in.get_u32(&vkey) || !in.get_u8(&k) || !in.get_u8(&key) || !in.get_u8(&value) || !in.get_u64(&buckets) ||
      !in.get_text(&name) || !in.get_text(&extras) || in.remaining() != 0 || k >= kind_count)
    return damaged("create record");
  uint64_t v;
  if (!s.move_to_front(vkey) ||
      !create_one(s, static_cast<kind>(k), static_cast<scalar>(key), static_cast<scalar>(value), buckets,
                  name.view(), nullptr, &v) ||
      v != vkey)
    return damaged("create that does not apply");
  dump_in e(extras.data(), extras.size());
  return (s.at(v)->load_extras(e) && e.remaining() == 0) || damaged("create record");
}

bool replay_record_in(store& s, std::string_view record, bool in_batch);

// A batch (after its type byte at record[0]): its records in order, none
// of them a batch.
bool replay_batch(store& s, std::string_view record) {
  dump_in head(record.data() + 1, record.size() - 1);
  uint32_t n;
  if (!head.get_u32(&n)) return damaged("batch record");
  size_t at = 5;
  for (uint32_t i = 0; i < n; ++i) {
    dump_in in(record.data() + at, record.size() - at);
    uint32_t len;
    if (!in.get_u32(&len) || len > in.remaining()) return damaged("batch record");
    if (!replay_record_in(s, record.substr(at + 4, len), true)) return false;
    at += 4 + size_t{len};
  }
  return at == record.size() || damaged("batch record");
}

}  // namespace

void encode_change(std::string* out, const element_command& cmd, const arg_values& v) {
  dump_out o(out);
  o.put_u8(static_cast<uint8_t>(record_type::change));
  o.put_u8(static_cast<uint8_t>(cmd.cmd));
  o.put_u8(static_cast<uint8_t>(cmd.row));
  o.put_u32(static_cast<uint32_t>(cmd.vkey));
  const row_sig sig = signature(cmd.cmd, cmd.row);
  for (uint8_t i = 0; i < sig.n; ++i) put_value(o, v[sig.args[i].slot], role_type(*cmd.c, sig.args[i].role));
}

void encode_create(std::string* out, uint64_t vkey, const ab_adt& c) {
  dump_out o(out);
  o.put_u8(static_cast<uint8_t>(record_type::create));
  o.put_u32(static_cast<uint32_t>(vkey));
  o.put_u8(static_cast<uint8_t>(c.kind_id()));
  o.put_u8(static_cast<uint8_t>(c.key_type()));
  o.put_u8(static_cast<uint8_t>(c.value_type()));
  o.put_u64(c.kind_id() == kind::hashmap || c.kind_id() == kind::hashtable ? c.size() : 0);
  o.put_text(c.name().view());
  std::string extras;
  {
    read_lock l(c);
    dump_out e(&extras);
    c.save_extras(e);
  }
  o.put_text(extras);
}

void encode_erase(std::string* out, uint64_t vkey) {
  dump_out o(out);
  o.put_u8(static_cast<uint8_t>(record_type::erase));
  o.put_u32(static_cast<uint32_t>(vkey));
}

void encode_clear(std::string* out) { out->push_back(static_cast<char>(record_type::clear)); }

namespace {

bool replay_record_in(store& s, std::string_view record, bool in_batch) {
  dump_in in(record.data(), record.size());
  uint8_t type;
  if (!in.get_u8(&type)) return damaged("empty record");
  if (in_batch && type == static_cast<uint8_t>(record_type::batch)) return damaged("batch within a batch");
  switch (static_cast<record_type>(type)) {
    case record_type::change: return replay_change(s, in);
    case record_type::create: return replay_create(s, in);
    case record_type::erase: {
      uint32_t vkey;
      if (!in.get_u32(&vkey) || in.remaining() != 0 || !s.remove(vkey)) return damaged("erase record");
      return true;
    }
    case record_type::clear:
      if (in.remaining() != 0) return damaged("clear record");
      clear_store(s);
      return true;
    case record_type::batch: return replay_batch(s, record);
  }
  return damaged("record of no known type");
}

}  // namespace

bool replay_record(store& s, std::string_view record) { return replay_record_in(s, record, false); }

bool journaled_change(change_log& log, const element_command& cmd, arg_values& v) {
  thread_local std::string record;
  record.clear();
  encode_change(&record, cmd, v);
  change_log::ticket t;
  {
    exclusive_hold h(*cmd.c);
    if (!log.reserve(h.epoch(), record.size())) return false;
    bool changed = false;
    try {
      changed = apply_change(cmd, v);
    } catch (...) {
      log.unreserve(h.epoch(), record.size());
      throw;
    }
    if (!changed) {
      log.unreserve(h.epoch(), record.size());
      return false;
    }
    t = log.append(h.epoch(), record);
  }
  return log.settle(t);
}

}  // namespace nosql_db
