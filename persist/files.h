// Small helpers for the files that persist writes: a descriptor that closes
// itself, and syncing a directory so that a name made in it stays.
#pragma once

#include <cerrno>
#include <unistd.h>

#include "lang/io.h"

namespace nosql_db {

class fd_closer {
 public:
  explicit fd_closer(int fd) noexcept : fd_(fd) {}
  ~fd_closer() {
    if (fd_ >= 0) ::close(fd_);
  }
  fd_closer(const fd_closer&) = delete;
  fd_closer& operator=(const fd_closer&) = delete;
  int get() const noexcept { return fd_; }
  // Closes now and reports whether the close succeeded (a deferred write
  // error can surface here).
  bool close() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  int release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Syncs an open directory; a file system that cannot sync one is no
// failure.
inline bool sync_dir_fd(int dir_fd) noexcept { return io.fsync(dir_fd) == 0 || errno == EINVAL; }

}  // namespace nosql_db
