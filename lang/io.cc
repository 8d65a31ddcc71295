// The system's own calls.
#include "lang/io.h"

#include <fcntl.h>
#include <unistd.h>

namespace nosql_db {

io_calls io = {::write, ::fallocate, ::fdatasync, ::fsync};

}  // namespace nosql_db
