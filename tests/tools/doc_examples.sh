#!/usr/bin/env bash
# Runs the examples of Markdown files through vox_shell and compares what it
# prints with what the files show. An example is a fenced block whose info
# string is "vox" plus any shell options: its lines that start with "> " are
# the commands, and the whole block is the expected output of
# vox_shell --echo --keep-going (standard output and standard error in the
# order printed, the library's banner and exit line left out, trailing
# blanks and empty lines ignored, error messages without their file:line). Each example runs in a new directory with
# an empty init.nos, so it starts with an empty store.
# Usage: doc_examples.sh VOX_SHELL FILE.md...
set -euo pipefail
shell=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
passed=0
failed=0
# Script positions (file:line:) before error messages are left out too.
tidy='s/[[:space:]]*$//; /^$/d; s/^[^ ]*:[0-9]*: error:/error:/'
for doc in "$@"; do
  rm -rf "${tmp:?}"/*
  awk -v dir="$tmp" '
    /^```vox( |$)/ { n++; f = dir "/" n; sub(/^```vox */, ""); print > (f ".args"); print NR > (f ".line");
                     printf "" > (f ".nos"); printf "" > (f ".want"); inside = 1; next }
    inside && /^```$/ { inside = 0; next }
    inside { print > (f ".want"); if (substr($0, 1, 2) == "> ") print substr($0, 3) > (f ".nos") }
  ' "$doc"
  for args in "$tmp"/*.args; do
    [ -e "$args" ] || continue
    ex=${args%.args}
    mkdir "$ex.d"
    : >"$ex.d/init.nos"
    read -r -a opts <"$args" || true
    (cd "$ex.d" && "$shell" --echo --keep-going "${opts[@]}" "$ex.nos" 2>&1 | sed '1d;$d' | sed "$tidy") >"$ex.got"
    if sed "$tidy" "$ex.want" | diff -u - "$ex.got" >"$ex.diff"; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
      echo "$doc:$(cat "$ex.line"): the example prints something else:"
      cat "$ex.diff"
    fi
  done
done
echo "doc examples: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
