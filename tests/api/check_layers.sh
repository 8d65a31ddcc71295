#!/bin/sh
# Each library module includes only itself and the modules below it (the
# README's layout table). Prints every include that runs upward.
cd "$1" || exit 2
allowed() {
  case "$1" in
    lang) echo "lang" ;;
    containers) echo "containers lang" ;;
    catalog) echo "catalog containers lang" ;;
    ops | persist) echo "$1 catalog containers lang" ;;
    startup) echo "startup catalog lang" ;;
  esac
}
bad=0
for m in lang containers catalog ops persist startup; do
  for inc in $(grep -ho '#include "[a-z]*/' "$m"/*.h "$m"/*.cc | sed 's/#include "//; s#/##' | sort -u); do
    case " $(allowed "$m") " in
      *" $inc "*) ;;
      *) grep -Hn "#include \"$inc/" "$m"/*.h "$m"/*.cc; bad=1 ;;
    esac
  done
done
exit $bad
