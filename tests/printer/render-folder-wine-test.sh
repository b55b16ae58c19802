#!/usr/bin/env bash
# vorpane-printer.exe under wine draws into a folder whose name the ANSI code
# page cannot spell (영수증 is in neither 1252 nor 936): --render makes the
# folder, parents and all, and a receipt sent on 127.0.0.1 lands there under
# exactly that name, which the journal gives back; --render-file writes its
# --out there too. Loopback only.
#   render-folder-wine-test.sh BUILD_DIR WINE_DIR   (ctest passes both)
set -euo pipefail
build=$(cd "$1" && pwd)
wine_dir=$2
here=$(cd "$(dirname "$0")" && pwd)
run=("$here/../../scripts/wine-run.sh" exec "$wine_dir")
printer=$build/printer/vorpane-printer.exe
work=$(mktemp -d "$build/render-folder-test.XXXXXX")
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
is_png() {
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]
}

printf '\x1b@Vorpane folder test\n\n\x1dVB\x00' >"$work/receipt.bin"
odd=$work/영수증-€
folder=$odd/out

mkfifo "$work/in"
exec {control}<>"$work/in"
setsid bash -c '"$@"; echo "exit $?" >"'"$work"'/status"' _ \
  "${run[@]}" "$printer" --port 0 --listen 127.0.0.1 --render "$folder" \
  <"$work/in" >"$work/journal" 2>&1 &
pid=$!
wait_for "listening on 127.0.0.1:"
port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$work/journal")
exec {link}<>"/dev/tcp/127.0.0.1/$port"
cat "$work/receipt.bin" >&"$link"
exec {link}>&-
wait_for "receipt 1"
echo quit >&"$control"
for _ in $(seq 300); do
  [ -s "$work/status" ] && break
  sleep 0.1
done
[ "$(cat "$work/status" 2>/dev/null)" = "exit 0" ] || fail "ended with '$(cat "$work/status" 2>/dev/null)'"
pid=""
picture=$folder/000001-session-1.png
[ -f "$picture" ] && is_png "$picture" ||
  fail "--render: no picture at $picture; the folder holds: $(find "$work" -mindepth 1 | sed "s|$work/||")"
grep -qF "session 1 receipt 1: $folder" "$work/journal" ||
  fail "--render: the journal does not name the folder as it was given"
echo "--render: $(stat -c %s "$picture") bytes at $picture"

"${run[@]}" "$printer" --render-file "$work/receipt.bin" --out "$folder/capture.png" \
  >"$work/journal" 2>&1 || fail "--render-file failed"
[ -f "$folder/capture.png" ] && is_png "$folder/capture.png" ||
  fail "--render-file: no picture at $folder/capture.png"
echo "--render-file: $(stat -c %s "$folder/capture.png") bytes at $folder/capture.png"
