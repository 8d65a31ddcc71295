#!/bin/sh
# The shared library must export exactly the names listed under "global:"
# in its version script: anything else (a template's static, a helper
# without hidden visibility) would join every host's symbol space.
# Usage: check_exports.sh LIBRARY VERSION_SCRIPT
set -eu
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | LC_ALL=C sort)
expected=$(sed -n '/global:/,/local:/p' "$2" | sed -n 's/^[[:space:]]*\([A-Za-z0-9_]*\);$/\1/p' | LC_ALL=C sort)
if [ -z "$expected" ] || [ "$actual" != "$expected" ]; then
  echo "exported names differ from the list in $2 (< expected, > exported):"
  tmp="${TMPDIR:-/tmp}/exports.$$"
  printf '%s\n' "$actual" > "$tmp"
  printf '%s\n' "$expected" | diff - "$tmp" || true
  rm -f "$tmp"
  exit 1
fi
