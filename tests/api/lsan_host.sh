#!/usr/bin/env bash
# Runs the AddressSanitizer host (lsan_host.c), which exits without clearing
# the store: no leak report and status 0. Then again with a block of the
# host's own lost, which must be the only leak reported, so that the first
# run shows that the leak check works here and sees the store.
# Usage: lsan_host.sh LSAN_HOST
set -euo pipefail
host=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
: >init.nos
if ! ASAN_OPTIONS=detect_leaks=1 "$host" >out 2>&1 || grep -q 'LeakSanitizer' out; then
  cat out
  echo "FAILED: the leak checker reported the store"
  exit 1
fi
if ASAN_OPTIONS=detect_leaks=1 "$host" leak >out 2>&1 || ! grep -q '42 byte(s) leaked in 1 allocation(s)' out; then
  cat out
  echo "FAILED: the leak check should report exactly the host's own lost block"
  exit 1
fi
echo "leak check: the store is seen through the slot table"
