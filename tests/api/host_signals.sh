#!/usr/bin/env bash
# The example host installs its own SIGINT and SIGTERM handlers after the
# library has loaded. Each signal must reach the host's handler, not the
# library's, and the process must end through main and exit: the host's
# message, then the library's exit message last, status 0.
# Usage: host_signals.sh SIGNALS_EXAMPLE
set -euo pipefail
host=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
: >init.nos
for sig in INT TERM; do
  "$host" >out 2>&1 &
  pid=$!
  for _ in $(seq 400); do
    grep -q '^ready$' out && break
    sleep 0.05
  done
  if ! grep -q '^ready$' out; then
    kill -KILL "$pid" || true
    cat out
    echo "FAILED: the host did not start"
    exit 1
  fi
  kill -s "$sig" "$pid"
  status=0
  wait "$pid" || status=$?
  number=$(kill -l "$sig")
  if [ "$status" -ne 0 ] || ! grep -q "^host: stopping on signal $number\$" out || grep -q 'ctrl-c\|catch signal' out ||
    [ "$(tail -n 1 out)" != 'exit!' ]; then
    cat out
    echo "FAILED: SIG$sig did not end the host through its own handler (status $status)"
    exit 1
  fi
done
echo "host signal handlers: INT and TERM reached the host"
