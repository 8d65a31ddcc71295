#!/usr/bin/env bash
# Coverage of the library's own sources by every test program: builds with
# clang's source-based coverage, runs the tests, merges the profiles and
# prints the per-file and total report of the shared library's sources
# (tests, tools, benchmarks and system headers left out; the header-only
# C++ layer reported on its own). Fails when the library's line coverage is
# below MIN_LINES percent or its branch coverage below MIN_BRANCHES percent,
# or the C++ header's line coverage below MIN_HEADER_LINES percent.
#
#   tools/coverage.sh                 # build dir build/coverage
#   MIN_LINES=96 MIN_BRANCHES=86 MIN_HEADER_LINES=92 tools/coverage.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=${COVERAGE_BUILD:-build/coverage}
min_lines=${MIN_LINES:-96}
min_branches=${MIN_BRANCHES:-86}
min_header_lines=${MIN_HEADER_LINES:-92}
llvm_bin=$(ls -d /usr/lib/llvm-*/bin 2>/dev/null | sort -V | tail -n 1)
profdata=$(command -v llvm-profdata || echo "$llvm_bin/llvm-profdata")
cov=$(command -v llvm-cov || echo "$llvm_bin/llvm-cov")

# COVERAGE_REPORT_ONLY=1: the build and its profiles exist (run-tests.sh
# makes them in its sanitizer build); only merge and report.
if [ -z "${COVERAGE_REPORT_ONLY:-}" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNOSQL_COVERAGE=ON -DNOSQL_WERROR=ON \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null
  ninja -C "$build" -j"$(nproc)"
  rm -rf "$build/profiles"
  mkdir -p "$build/profiles"
  LLVM_PROFILE_FILE="$PWD/$build/profiles/%p-%m.profraw" \
    ctest --test-dir "$build" --output-on-failure -j"$(nproc)" >"$build/ctest.log" || {
    tail -n 40 "$build/ctest.log"
    exit 1
  }
fi
"$profdata" merge -sparse "$build"/profiles/*.profraw -o "$build/all.profdata"

objects=("$build/libvox_nosql_lib_local_mem.so")
for t in tests/nosql_tests tests/nosql_oom_tests; do
  [ -x "$build/$t" ] && objects+=(-object "$build/$t")
done
# The shared library's sources; the header-only C++ layer (vox_nosql.hpp),
# which hosts compile into their own programs, is reported on its own.
report=$("$cov" report "${objects[@]}" -instr-profile="$build/all.profdata" \
  -ignore-filename-regex='((^|/)(tests|tools|bench|fuzz|examples|usr)/|vox_nosql\.hpp$)')
echo "$report"
echo
echo "the C++ header:"
header=$("$cov" report "${objects[@]}" -instr-profile="$build/all.profdata" "$PWD/api/vox_nosql.hpp" | tail -n 1)
echo "$header"
header_lines=$(echo "$header" | awk '{gsub("%", ""); print $10}')

# TOTAL  regions missed cover  functions missed cover  lines missed cover  branches missed cover
read -r lines branches < <(echo "$report" | awk '/^TOTAL/ {gsub("%", ""); print $10, $13}')
echo "library coverage: lines ${lines}%, branches ${branches}% (floors ${min_lines}% / ${min_branches}%)"
echo "C++ header coverage: lines ${header_lines}% (floor ${min_header_lines}%)"
awk -v l="$lines" -v b="$branches" -v h="$header_lines" -v ml="$min_lines" -v mb="$min_branches" \
  -v mh="$min_header_lines" 'BEGIN { exit !(l >= ml && b >= mb && h >= mh) }' || {
  echo "coverage below the floor" >&2
  exit 1
}
