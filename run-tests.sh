#!/usr/bin/env bash
# Builds everything and runs every test: a normal g++ build, a clang build
# with AddressSanitizer and UndefinedBehaviorSanitizer (which also builds the
# fuzz targets, replays their corpora, and measures the tests' coverage of
# the library's sources against floors), and a ThreadSanitizer build of the
# multi-threaded tests. Warnings are errors in all of them.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh

jobs=$(nproc)

echo "== g++ build and tests"
cmake -S . -B build/ci-gcc -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNOSQL_WERROR=ON -DNOSQL_BENCH=ON \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null
ninja -C build/ci-gcc -j"$jobs"
ctest --test-dir build/ci-gcc --output-on-failure -j"$jobs"
echo "-- no function of the library or the shell over 80 lines"
./tools/function-lengths.sh

echo "== clang build with address and undefined-behaviour sanitizers, measuring coverage"
cmake -S . -B build/ci-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNOSQL_WERROR=ON -DNOSQL_FUZZ=ON -DNOSQL_COVERAGE=ON \
  -DNOSQL_SANITIZE=address,undefined -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null
ninja -C build/ci-asan -j"$jobs"
rm -rf build/ci-asan/profiles build/ci-asan/fuzz-profiles
for corpus in fuzz/corpus/*/; do
  name=$(basename "$corpus")
  if [ -x "build/ci-asan/fuzz/${name}_fuzz" ]; then
    echo "-- replaying fuzz corpus $name"
    LLVM_PROFILE_FILE="$PWD/build/ci-asan/fuzz-profiles/%p.profraw" \
      "build/ci-asan/fuzz/${name}_fuzz" -runs=0 "$PWD/$corpus" 2>&1 | tail -n 2
  fi
done
LLVM_PROFILE_FILE="$PWD/build/ci-asan/profiles/%p-%m.profraw" \
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:max_allocation_size_mb=4096 \
  ctest --test-dir build/ci-asan --output-on-failure -j"$jobs"
echo "-- coverage of the library's sources and the C++ header by the tests, against the floors in tools/coverage.sh"
COVERAGE_BUILD=build/ci-asan COVERAGE_REPORT_ONLY=1 ./tools/coverage.sh

echo "== thread sanitizer on the multi-threaded tests"
cmake -S . -B build/ci-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNOSQL_WERROR=ON \
  -DNOSQL_SANITIZE=thread -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null
ninja -C build/ci-tsan -j"$jobs" nosql_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/ci-tsan --output-on-failure -R '^Threads' -j"$jobs"
