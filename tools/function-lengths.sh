#!/usr/bin/env bash
# Fails when a function of the library or the shell is longer than
# MAX_LINES (80) lines, from its first line to its last as ctags sees them;
# prints the longest ones either way.
set -euo pipefail
cd "$(dirname "$0")/.."
max=${MAX_LINES:-80}
lengths=$(ctags -R --langmap=C++:+.h --languages=C++ --kinds-C++=f --fields=+ne -o - \
  api startup lang catalog containers ops persist tools |
  awk -F'\t' '{ for (i = 4; i <= NF; i++) { if ($i ~ /^line:/) b = substr($i, 6); if ($i ~ /^end:/) e = substr($i, 5) }
                if (b != "" && e != "") print e - b + 1, $2 ":" b, $1; b = e = "" }' | sort -rn)
[ -n "$lengths" ] || { echo "ctags found no functions" >&2; exit 1; }
echo "longest functions (lines, where, name):"
head -n 5 <<<"$lengths"
over=$(awk -v m="$max" '$1 > m' <<<"$lengths")
[ -z "$over" ] || { echo "longer than $max lines:" >&2; echo "$over" >&2; exit 1; }
