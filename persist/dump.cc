// The dump (b) and read (r) commands.
//
// Writing: the file is built under a unique temporary name in the target's
// directory, flushed and fsynced, and only then given its final name with
// an operation that refuses to replace an existing file; the directory is
// fsynced last. A failed or racing dump therefore never leaves a partial
// file under the requested name and never touches a file that is there.
//
// Reading: the header is checked before the store is touched; after that
// every field is read through dump_in, which refuses short reads and
// lengths that exceed what is left of the file, so a damaged file fails the
// command with the store empty instead of building invented elements.
//
// Format: docs/FORMATS.md, "Writing a dump" and "Reading a dump".
#include "persist/dump.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <new>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "catalog/create.h"
#include "lang/codec.h"
#include "lang/failure.h"
#include "lang/io.h"
#include "lang/tokenizer.h"
#include "persist/files.h"
#include "persist/snapshot.h"

namespace nosql_db {
namespace {

// Format: docs/FORMATS.md, "File header".
constexpr char magic[4] = {'v', 'x', 'd', 'b'};
constexpr uint8_t version = 0;
// Longer than any kind word; a longer kind length is damage.
constexpr uint64_t max_kind_length = 32;

// The path word's text (unescaped when quoted), or false when it cannot be
// a file name (empty, or holding a zero byte).
bool path_of(const token& t, std::string* path) {
  const std::string_view v = t.view();
  if (v.empty() || v.find('\0') != std::string_view::npos) return false;
  path->assign(v.data(), v.size());
  return true;
}

void print_with_path(const char* fmt, const token& t) {
  std::printf(fmt, static_cast<int>(t.length), t.text ? t.text : "");
  std::fflush(stdout);
}

std::string dir_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A temporary file in the target's directory: created with O_EXCL under a
// name nobody else uses, unlinked on destruction unless it was given its
// final name.
class temp_file {
 public:
  temp_file() = default;
  temp_file(const temp_file&) = delete;
  temp_file& operator=(const temp_file&) = delete;
  ~temp_file() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }

  // Opens a new file for writing; -1 on failure (errno set).
  int create(const std::string& dir) {
    static std::atomic<uint64_t> counter{0};
    const uint64_t base = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 64; ++attempt) {
      const uint64_t salt = base ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
      char name[64];
      std::snprintf(name, sizeof name, "/.vxdb.%ld.%016llx", static_cast<long>(::getpid()),
                    static_cast<unsigned long long>(salt));
      std::string p = dir + name;
      // 0666 so that the process's umask decides, as for any new file.
      const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        path_ = std::move(p);
        return fd;
      }
      if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
  }
  const std::string& path() const noexcept { return path_; }
  // The file now lives under its final name only.
  void release() noexcept { path_.clear(); }

 private:
  std::string path_;
};

// Removes the temporary files that killed dumps left in dir: the names
// ".vxdb.PID.HHHHHHHHHHHHHHHH" whose process is gone.
void remove_leftovers(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (const dirent* e = ::readdir(d)) {
    const std::string_view name = e->d_name;
    if (!name.starts_with(".vxdb.")) continue;
    const size_t dot = name.find('.', 6);
    if (dot == std::string_view::npos || name.size() != dot + 17) continue;
    long pid = 0;
    for (size_t i = 6; i < dot; ++i) {
      if (name[i] < '0' || name[i] > '9' || pid > 1'000'000'000) pid = -1;
      if (pid < 0) break;
      pid = pid * 10 + (name[i] - '0');
    }
    if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)) continue;
    ::unlinkat(::dirfd(d), e->d_name, 0);
  }
  ::closedir(d);
}

enum class link_result { done, exists, failed };

// Gives the temporary file the final name, refusing to replace anything.
link_result link_no_replace(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return link_result::done;
  if (errno == EEXIST) return link_result::exists;
  // Only a file system or kernel that lacks the flag falls through to link.
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return link_result::failed;
#endif
  if (::link(from.c_str(), to.c_str()) != 0) return errno == EEXIST ? link_result::exists : link_result::failed;
  ::unlink(from.c_str());
  return link_result::done;
}

bool sync_dir(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  fd_closer closer(fd);
  return sync_dir_fd(fd);
}

// Writes the header and every saved container, as the store stood at one
// instant; false on any write error.
bool write_records(const store& s, dump_out& out) {
  uint64_t left = s.container_count(), count = 0;
  for (uint64_t v = 0; v < store::slot_count && left > 0; ++v) {
    if (const ab_adt* c = s.at(v)) {
      --left;
      if (!c->is_placeholder()) ++count;
    }
  }
  out.put_bytes(magic, sizeof magic);
  out.put_u8(version);
  out.put_u64(count);
  snapshot_walk w;
  w.container = [&](uint64_t v, const ab_adt& c, const std::string* copy) {
    out.put_text(c.name().view());
    out.put_u64(v);
    if (copy) out.put_bytes(copy->data(), copy->size());
    else write_body(out, c, false);
    return out.ok();
  };
  // A container that cannot write its body would leave a record that the
  // reader misreads: the whole dump fails instead.
  if (!walk_snapshot(s, w)) return fail(failure::file_write);
  return out.flush() || fail(failure::file_write);
}

}  // namespace

// Format: docs/FORMATS.md, "Container record" and "Reading a dump".
bool read_record(store& s, dump_in& in, uint64_t i, uint64_t* vkey_out) {
  auto damaged = [i](const char* field) { return fail(failure::dump_damaged, field, i); };
  xstring name;
  uint64_t vkey, kind_len;
  if (!in.get_text(&name)) return damaged("name");
  // Out of range, or already taken by an earlier record of the file.
  if (!in.get_u64(&vkey) || !s.move_to_front(vkey)) return damaged("vkey");
  char word[max_kind_length];
  if (!in.get_u64(&kind_len) || kind_len > max_kind_length || !in.get_bytes(word, kind_len))
    return damaged("kind word");
  kind k;
  if (!kind_from_word(std::string_view(word, kind_len), &k)) return damaged("kind word");
  type_desc kd, vd;
  if (!in.get_desc(&kd) || scalar_of(kd) == scalar::none) return damaged("key type");
  if (!in.get_desc(&vd) || scalar_of(vd) == scalar::none) return damaged("value type");
  uint64_t capacity = 0;
  if ((k == kind::hashmap || k == kind::hashtable) && !in.get_u64(&capacity)) return damaged("capacity");
  uint64_t v;
  // In a cleared store only a name used by an earlier record stops it.
  if (!create_one(s, k, scalar_of(kd), scalar_of(vd), capacity, name.view(), nullptr, &v)) return damaged("name");
  ab_adt* c = s.at(v);
  if (v != vkey || !c) return damaged("vkey");
  if (vkey_out) *vkey_out = v;
  return c->load(in) || damaged("elements");
}

bool write_dump(const store& s, const token& path_word) {
  std::string path;
  if (!path_of(path_word, &path)) return fail(failure::file_create);
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    print_with_path("exists file named %.*s\n", path_word);
    return fail(failure::file_exists);
  }
  const std::string dir = dir_of(path);
  remove_leftovers(dir);
  temp_file tmp;
  fd_closer fd(tmp.create(dir));
  if (fd.get() < 0) return fail(failure::file_create);
  {
    dump_out out(fd.get());
    if (!write_records(s, out)) return false;
  }
  if (io.fsync(fd.get()) != 0 || !fd.close()) return fail(failure::file_write);
  switch (link_no_replace(tmp.path(), path)) {
    case link_result::done:
      break;
    case link_result::exists:
      print_with_path("exists file named %.*s\n", path_word);
      return fail(failure::file_exists);
    case link_result::failed:
      return fail(failure::file_create);
  }
  tmp.release();
  if (!sync_dir(dir)) {
    // The name is not durable: take it back so that failure means no file.
    ::unlink(path.c_str());
    return fail(failure::file_write);
  }
  return true;
}

bool read_dump(store& s, const token& path_word) {
  std::string path;
  const int raw = path_of(path_word, &path) ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC) : -1;
  fd_closer fd(raw);
  struct stat st;
  if (raw < 0 || ::fstat(raw, &st) != 0 || !S_ISREG(st.st_mode)) {
    print_with_path("not exists file named %.*s\n", path_word);
    return fail(failure::file_open);
  }
  dump_in in(raw, static_cast<uint64_t>(st.st_size));
  char m[sizeof magic];
  uint8_t ver;
  // A file too short to hold the magic and the version byte is not a dump.
  if (!in.get_bytes(m, sizeof m) || std::memcmp(m, magic, sizeof m) != 0 || !in.get_u8(&ver)) {
    print_with_path("the file '%.*s' is not normative vox's struct database binary file!\n", path_word);
    return fail(failure::not_a_dump);
  }
  if (ver != version) {
    print_with_path("the vox's struct database binary file '%.*s' is unsupport verion!\n", path_word);
    return fail(failure::dump_version);
  }
  clear_store(s);
  try {
    uint64_t n;
    bool ok = in.get_u64(&n) || fail(failure::dump_damaged, "record count", 0);
    for (uint64_t i = 0; ok && i < n; ++i) ok = read_record(s, in, i);
    if (ok) return true;
  } catch (const std::bad_alloc&) {
    // A capacity or body that memory cannot hold: the read fails like any
    // other damage, but for its own reason.
    fail(failure::out_of_memory);
  }
  clear_store(s);
  return false;
}

}  // namespace nosql_db
