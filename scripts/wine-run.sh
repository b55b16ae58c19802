#!/usr/bin/env bash
# Runs the Windows build's programs under wine, in a session of their own:
#
#   wine-run.sh start DIR            private X server, wine prefix DIR/prefix,
#                                    a persistent wineserver and a desktop that
#                                    lives until stop
#   wine-run.sh exec DIR PROG [ARG]  runs PROG in that session (ctest's emulator)
#   wine-run.sh shot DIR FILE.png    screenshot of the session's screen (needs
#                                    ImageMagick's import)
#   wine-run.sh stop DIR             stops the wineserver and the X server
#
# exec fails a run whose output reports an unimplemented function or an
# unhandled exception, whatever the program's exit status: wine carries on
# past both where Windows would not.
set -euo pipefail

usage() {
  echo "usage: $0 start|stop DIR | exec DIR PROGRAM [ARGS...] | shot DIR FILE" >&2
  exit 2
}
[ $# -ge 2 ] || usage
command=$1
dir=$2
shift 2
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

export WINEPREFIX="$dir/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No debugger on a crash, and no Mono or Gecko installer when the prefix is
# made: a test run has nobody to answer them and no network to fetch them.
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
export WINELOADER="$wine"
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

display_file="$dir/display"
xvfb_pid_file="$dir/xvfb.pid"
holder_pid_file="$dir/desktop.pid"

use_display() {
  if [ ! -s "$display_file" ]; then
    echo "wine-run: no session in $dir; run '$0 start $dir' first (ctest does)" >&2
    exit 2
  fi
  export DISPLAY=":$(cat "$display_file")"
}

start() {
  if [ -s "$xvfb_pid_file" ] && kill -0 "$(cat "$xvfb_pid_file")" 2>/dev/null; then
    stop
  fi
  # Xvfb picks a free display and writes its number to the pipe once it
  # accepts connections.
  local fifo="$dir/displayfd"
  rm -f "$fifo" "$display_file"
  mkfifo "$fifo"
  # Daemons get no descriptor of ours: ctest waits until every copy of the
  # test's output pipe is closed.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" </dev/null >"$dir/xvfb.log" 2>&1 &
  echo $! >"$xvfb_pid_file"
  local number=""
  if ! read -r -t 30 number <"$fifo" || [ -z "$number" ]; then
    echo "wine-run: Xvfb did not come up; see $dir/xvfb.log" >&2
    kill "$(cat "$xvfb_pid_file")" 2>/dev/null || true
    exit 1
  fi
  rm -f "$fifo"
  echo "$number" >"$display_file"
  export DISPLAY=":$number"

  mkdir -p "$WINEPREFIX"
  # A server left over from a run that never stopped would keep its own
  # display; this prefix is ours alone.
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -p </dev/null >"$dir/start.log" 2>&1
  hold_desktop
  # Windows that wine does not hand to a window manager (there is none) hide
  # and show at once instead of waiting for one.
  if ! "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >>"$dir/start.log" 2>&1; then
    cat "$dir/start.log" >&2
    exit 1
  fi
  echo "wine-run: session on $DISPLAY, prefix $WINEPREFIX"
}

# Wine's desktop (explorer.exe /desktop) ends a moment after the last program
# using it exits, and comes back with the next one. A window made while it
# goes away or before it is ready fails (CreateWindowEx: error 1400), so
# between two tests every window raced it, and the first start of a new
# prefix or locale, slow to bring it up, lost. A console that lives from
# start to stop holds the desktop for the whole session. Its input is a pipe
# it holds open itself (read-write), so it never sees the end of it.
hold_desktop() {
  local in="$dir/desktop.in" log="$dir/desktop.log"
  rm -f "$in" "$log"
  mkfifo "$in"
  # The first start in a new prefix makes the prefix before cmd runs. It
  # starts in the session's folder, so it holds no test's folder open.
  (cd "$dir" && exec "$wine" cmd <>"$in" >"$log" 2>&1) &
  echo $! >"$holder_pid_file"
  echo "echo vorpane-desktop-ready" >"$in"
  local _
  for _ in $(seq 1200); do
    grep -q 'vorpane-desktop-ready' "$log" 2>/dev/null && desktop_pid >/dev/null && return 0
    kill -0 "$(cat "$holder_pid_file")" 2>/dev/null || break
    sleep 0.1
  done
  echo "wine-run: the desktop did not come up within 120 s; see $log and $dir/start.log" >&2
  cat "$dir/start.log" >&2
  exit 1
}

# The pid of this session's desktop, when it runs.
desktop_pid() {
  local pid
  for pid in $(pgrep -f 'explorer.exe /desktop'); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -q -x -F "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
      return 0
    fi
  done
  return 1
}

stop() {
  "$wineserver" -k 2>/dev/null || true
  rm -f "$holder_pid_file" "$dir/desktop.in"
  if [ -s "$xvfb_pid_file" ]; then
    kill "$(cat "$xvfb_pid_file")" 2>/dev/null || true
  fi
  rm -f "$xvfb_pid_file" "$display_file"
}

run() {
  [ $# -ge 1 ] || usage
  use_display
  local log
  log=$(mktemp "$dir/run.XXXXXX")
  set +e
  "$wine" "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  if grep -q -i -E 'unimplemented function|unhandled (exception|page fault)' "$log"; then
    echo "wine-run: the program hit an unimplemented function or an unhandled exception" >&2
    [ "$rc" -ne 0 ] || rc=1
  fi
  rm -f "$log"
  return "$rc"
}

case "$command" in
  start) start ;;
  stop) stop ;;
  exec) run "$@" ;;
  shot)
    [ $# -eq 1 ] || usage
    use_display
    import -window root "$1"
    ;;
  *) usage ;;
esac
