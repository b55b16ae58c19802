#!/usr/bin/env bash
# vorpane-printer.exe --window under wine: it starts vorpane-printer-window.exe
# beside it, whose window comes up titled with the printer's address, and a
# quit line on standard input ends both with status 0. Loopback only.
#   printer-window-wine-test.sh BUILD_DIR WINE_DIR   (ctest passes both)
set -euo pipefail
build=$(cd "$1" && pwd)
wine_dir=$2
here=$(cd "$(dirname "$0")" && pwd)
run=("$here/../../scripts/wine-run.sh" exec "$wine_dir")
work=$(mktemp -d "$build/printer-window-test.XXXXXX")
pid=""
cleanup() {
  [ -z "$pid" ] || kill -- -"$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  cat "$work/journal" >&2 || true
  exit 1
}
# Polls for a line in the journal for at most 30 s.
wait_for() {
  for _ in $(seq 300); do
    grep -q -- "$1" "$work/journal" && return 0
    sleep 0.1
  done
  fail "no '$1' within 30 s"
}

mkfifo "$work/in"
exec {control}<>"$work/in"
setsid bash -c '"$@"; echo "exit $?" >"'"$work"'/status"' _ \
  "${run[@]}" "$build/printer/vorpane-printer.exe" --window --port 0 --listen 127.0.0.1 \
  <"$work/in" >"$work/journal" 2>&1 &
pid=$!
wait_for "listening on 127.0.0.1:"
port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$work/journal")
# The window program's window comes up, titled with the printer's port.
title="vorpane-printer — 127.0.0.1:$port"
shown=""
for _ in $(seq 300); do
  if DISPLAY=":$(cat "$wine_dir/display")" xwininfo -root -tree | grep -q -F "$title"; then
    shown=yes
    break
  fi
  sleep 0.1
done
[ -n "$shown" ] || fail "no window titled '$title' within 30 s"
echo quit >&"$control"
for _ in $(seq 300); do
  [ -s "$work/status" ] && break
  sleep 0.1
done
[ "$(cat "$work/status" 2>/dev/null)" = "exit 0" ] || fail "ended with '$(cat "$work/status" 2>/dev/null)'"
pid=""
echo "vorpane-printer --window on port $port: window up, quit ended it with 0"
