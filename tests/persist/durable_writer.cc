// A host for the crash test: turns durable mode on over a directory, then
// makes the changes of tests/persist/durable_ops.h from a given index on,
// writing its pid and then each index to descriptor 3 once its command has
// returned, and a checkpoint now and then, until it is killed.
//
//   nosql_durable_writer DIR SYNC FIRST
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "api/vox_nosql.h"
#include "durable_ops.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const pid_t pid = ::getpid();
  if (::write(3, &pid, sizeof pid) != sizeof pid) return 4;
  if (vox_durable_open(argv[1], std::atoi(argv[2])) != VOX_E_NONE) return 3;
  for (uint64_t i = std::strtoull(argv[3], nullptr, 10);; ++i) {
    const std::string line = nosql_db::testing_util::crash_op(i);
    if (line.find('\n') == std::string::npos) {
      del_datas(exec(line.data(), static_cast<int32_t>(line.size())));
    } else {
      datas* answers[4];
      const int32_t n = vox_batch(line.data(), static_cast<int32_t>(line.size()), answers, 4);
      for (int32_t a = 0; a < n; ++a) del_datas(answers[a]);
    }
    if (::write(3, &i, sizeof i) != sizeof i) return 4;
    if (i % 97 == 0 && vox_checkpoint() != VOX_E_NONE) return 5;
  }
}
