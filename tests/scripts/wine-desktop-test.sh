#!/usr/bin/env bash
# The wine session's desktop lives from start to stop: a program that exits
# does not take it down, so the next test's window never meets a desktop
# that is going away or not yet back (CreateWindowEx: error 1400).
#   wine-desktop-test.sh WINE_DIR   (ctest passes it; the session is up)
set -euo pipefail
wine_dir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
prefix="$wine_dir/prefix"

desktop() {
  local pid
  for pid in $(pgrep -f 'explorer.exe /desktop'); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -q -x -F "WINEPREFIX=$prefix"; then
      echo "$pid"
      return 0
    fi
  done
  return 1
}

before=$(desktop) || { echo "FAIL: no desktop in the session before the first program" >&2; exit 1; }
"$here/../../scripts/wine-run.sh" exec "$wine_dir" cmd /c exit
# Without a holder wine ends the desktop within about three seconds of the
# last program's exit.
if timeout 6 tail --pid="$before" -f /dev/null; then
  echo "FAIL: the desktop ($before) ended after a program exited" >&2
  exit 1
fi
after=$(desktop) || { echo "FAIL: no desktop after a program exited" >&2; exit 1; }
[ "$after" = "$before" ] || { echo "FAIL: the desktop was replaced ($before, then $after)" >&2; exit 1; }
echo "the desktop ($before) outlived a program's exit"
