#!/bin/sh
# Each library module includes only itself and the modules below it (the
# README's layout table), and inside containers/ each room only itself and
# the rooms below it. Prints every include that runs upward.
cd "$1" || exit 2
allowed() {
  case "$1" in
    lang) echo "lang" ;;
    containers/base) echo "containers/base lang" ;;
    containers) echo "containers containers/base lang" ;;
    containers/*) echo "$1 containers containers/base lang" ;;
    catalog) echo "catalog containers containers/base lang" ;;
    ops | persist) echo "$1 catalog containers containers/base lang" ;;
    startup) echo "startup catalog lang" ;;
  esac
}
# The module an include names: its directory, down to the room.
included() { grep -ho '#include "[a-z_/]*\.h"' "$@" | sed 's/#include "//; s#/[a-z_]*\.h"$##' | sort -u; }
bad=0
rooms="lang containers/base containers containers/ordered containers/sequence containers/hashed containers/trie"
for m in $rooms catalog ops persist startup; do
  ls "$m"/*.h "$m"/*.cc > /dev/null 2>&1 || { echo "no sources in $m"; bad=1; continue; }
  for inc in $(included "$m"/*.h "$m"/*.cc); do
    case " $(allowed "$m") " in
      *" $inc "*) ;;
      *) grep -Hn "#include \"$inc/[a-z_]*\.h\"" "$m"/*.h "$m"/*.cc; bad=1 ;;
    esac
  done
done
# Every room of containers/ is checked above.
for d in containers/*/; do
  case " $rooms " in *" ${d%/} "*) ;; *) echo "unchecked room ${d%/}"; bad=1 ;; esac
done
exit $bad
