// The system calls that make files durable, reached through one table so
// that tests can make them fail (a full disk, an I/O error) without a
// failing disk. The library never changes the table.
#pragma once

#include <sys/types.h>

namespace nosql_db {

struct io_calls {
  ssize_t (*write)(int fd, const void* p, size_t n);
  int (*fallocate)(int fd, int mode, off_t offset, off_t len);
  int (*fdatasync)(int fd);
  int (*fsync)(int fd);
};

// The calls in use: the system's own unless a test replaced them.
extern io_calls io;

}  // namespace nosql_db
