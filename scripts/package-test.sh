#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it, checks the
# file capabilities, starts the installed program under Xvfb until its window
# is up, closes it, and runs the installed virtual printer's --help. Needs
# root (it installs the package).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "package test skipped: needs root to install the package"
  exit 0
fi

cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORPANE_TESTS=OFF \
  -DVORPANE_BENCH=OFF >/dev/null
cmake --build build-pkg --target vorpane vorpane-printer man_pages
(cd build-pkg && cpack -G DEB >/dev/null)
deb=$(ls build-pkg/vorpane_*.deb)
echo "package: $deb"

lintian --fail-on error "$deb"

apt-get install -y -qq "./$deb" >/dev/null
trap 'apt-get purge -y -qq vorpane >/dev/null 2>&1 || true' EXIT

caps=$(getcap /usr/bin/vorpane)
echo "capabilities: $caps"
case "$caps" in
  *cap_net_admin,cap_net_raw=ep*) ;;
  *) echo "FAIL: /usr/bin/vorpane lacks cap_net_raw,cap_net_admin" >&2; exit 1 ;;
esac
test -f /usr/share/applications/vorpane.desktop
test -f /usr/share/icons/hicolor/scalable/apps/vorpane.svg
test -f /usr/share/icons/hicolor/48x48/apps/vorpane.png
test -f /usr/share/man/man1/vorpane.1.gz
desktop-file-validate /usr/share/applications/vorpane.desktop
appstreamcli validate --no-net --pedantic /usr/share/metainfo/invalid.vorpane.vorpane.metainfo.xml

/usr/bin/vorpane-printer --help >/dev/null
echo "vorpane-printer --help: ok"

# The installed program on a display of its own: wait for its main window
# (with a deadline), then close it with Esc, which ends the program.
# Xvfb picks a free display itself and writes its number once it accepts
# clients, so neither a display in use nor a slow start can catch us out.
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; rm -f "$displayfile"; apt-get purge -y -qq vorpane >/dev/null 2>&1 || true' EXIT
for _ in $(seq 300); do
  [ -s "$displayfile" ] && break
  kill -0 $xvfb 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$displayfile" ]; then
  echo "FAIL: Xvfb did not start" >&2
  exit 1
fi
display=":$(head -n 1 "$displayfile")"
DISPLAY=$display /usr/bin/vorpane &
app=$!
window=""
for _ in $(seq 150); do
  window=$(DISPLAY=$display xdotool search --onlyvisible --name '^Vorpane V2\.1$' 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
if [ -z "$window" ]; then
  echo "FAIL: the installed vorpane showed no main window within 15 s" >&2
  kill "$app" 2>/dev/null || true
  exit 1
fi
echo "main window up"
# Esc closes the main window and so ends the program. Qt may still be
# settling its window when it first shows, so the key is tried again until
# the program has gone (with a deadline).
for _ in $(seq 20); do
  window=$(DISPLAY=$display xdotool search --onlyvisible --name '^Vorpane V2\.1$' 2>/dev/null | head -n 1 || true)
  if [ -n "$window" ]; then
    DISPLAY=$display xdotool windowfocus --sync "$window" key Escape 2>/dev/null || true
  fi
  for _ in $(seq 10); do
    kill -0 "$app" 2>/dev/null || break 2
    sleep 0.1
  done
done
if kill -0 "$app" 2>/dev/null; then
  echo "FAIL: vorpane did not close on Esc" >&2
  kill "$app"
  exit 1
fi
wait "$app"
echo "installed vorpane started and closed: ok"
