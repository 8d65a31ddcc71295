#!/usr/bin/env bash
# Builds the library and the shell, then runs the example script.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DNOSQL_TESTS=OFF >/dev/null
ninja -C build/release vox_shell
cd examples
../build/release/tools/vox_shell --echo demo.nos
