#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it, checks that
# only the helper carries file capabilities and that they work for an
# ordinary user, starts the installed program as an ordinary user under Xvfb
# until its window is up, checks that it holds no capability, closes it, runs
# the installed virtual printer's --help, and reads that printer on loopback
# with the installed vorpane-cli. Needs root (it installs the
# package).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "package test skipped: needs root to install the package"
  exit 0
fi

cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVORPANE_TESTS=OFF -DVORPANE_BENCH=OFF >/dev/null
cmake --build build-pkg --target vorpane vorpane-printer vorpane-printer-window vorpane-cli vorpane-echo-arp man_pages
(cd build-pkg && cpack -G DEB >/dev/null)
deb=$(ls build-pkg/vorpane_*.deb)
echo "package: $deb"

lintian --fail-on error "$deb"

apt-get install -y -qq "./$deb" >/dev/null
trap 'apt-get purge -y -qq vorpane >/dev/null 2>&1 || true' EXIT

# Of every file the package installed, only the helper has capabilities, and
# only in its permitted set.
helper=/usr/libexec/vorpane/vorpane-echo-arp
caps=$(dpkg -L vorpane | while read -r f; do [ -f "$f" ] && echo "$f"; done | xargs getcap)
echo "capabilities: $caps"
if [ "$caps" != "$helper cap_net_admin,cap_net_raw=p" ]; then
  echo "FAIL: capabilities should be on $helper alone, permitted only" >&2
  exit 1
fi
# As an ordinary user the helper can probe (loopback only) and refuses a
# request outside its grammar.
as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
status=0
"${as_nobody[@]}" "$helper" echo 127.0.0.1 1000 || status=$?
[ "$status" -eq 12 ] || { echo "FAIL: the helper run by nobody answered $status, not 12" >&2; exit 1; }
status=0
"${as_nobody[@]}" "$helper" echo 127.0.0.01 1000 2>/dev/null || status=$?
[ "$status" -eq 64 ] || { echo "FAIL: the helper took a bad request ($status)" >&2; exit 1; }
echo "helper as nobody: ok"
test -f /usr/share/applications/vorpane.desktop
test -f /usr/share/icons/hicolor/scalable/apps/vorpane.svg
test -f /usr/share/icons/hicolor/48x48/apps/vorpane.png
test -f /usr/share/man/man1/vorpane.1.gz
desktop-file-validate /usr/share/applications/vorpane.desktop
appstreamcli validate --no-net --pedantic /usr/share/metainfo/invalid.vorpane.vorpane.metainfo.xml

/usr/bin/vorpane-printer --help >/dev/null
echo "vorpane-printer --help: ok"
# --window starts the program beside it; the printer itself never loads Qt.
test -x /usr/bin/vorpane-printer-window
if ldd /usr/bin/vorpane-printer | grep -q libQt; then
  echo "FAIL: vorpane-printer links Qt" >&2
  exit 1
fi
test -f /usr/share/man/man1/vorpane-cli.1.gz
test -f /usr/share/bash-completion/completions/vorpane-cli
/usr/bin/vorpane-cli --help >/dev/null
# The installed printer on a port the system picks, named in its journal
# once it listens (with a deadline); the installed vorpane-cli reads it as an
# ordinary user.
journal=$(mktemp)
chmod 644 "$journal"
/usr/bin/vorpane-printer --listen 127.0.0.1 --port 0 --journal "$journal" &
vprinter=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$journal")
  [ -n "$port" ] && break
  sleep 0.1
done
status=0
line=$("${as_nobody[@]}" /usr/bin/vorpane-cli --json status 127.0.0.1 --port "${port:-9}") || status=$?
kill "$vprinter"
wait "$vprinter" || true
rm -f "$journal"
case $line in
  *'"online":true'*) ;;
  *) echo "FAIL: vorpane-cli status answered $status: $line" >&2; exit 1 ;;
esac
[ "$status" -eq 0 ] || { echo "FAIL: vorpane-cli status exited $status" >&2; exit 1; }
echo "vorpane-cli status on loopback: ok"
# The exporter's service: installed, disabled, its options a conffile, and a
# unit systemd takes; the shipped rules pass promtool.
test -f /lib/systemd/system/prometheus-vorpane-exporter.service
grep -qx /etc/default/prometheus-vorpane-exporter /var/lib/dpkg/info/vorpane.conffiles
systemd-analyze verify /lib/systemd/system/prometheus-vorpane-exporter.service
promtool check rules /usr/share/vorpane/prometheus/vorpane-alerts.yml >/dev/null
test -f /usr/share/doc/vorpane/examples/prometheus.yml
echo "exporter service files: ok"

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
DISPLAY=$display "${as_nobody[@]}" /usr/bin/vorpane &
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
# setpriv has become vorpane by now (the window is up): the program itself,
# started by an ordinary user, holds no capability at all.
grep -E '^Cap(Inh|Prm|Eff|Amb):' "/proc/$app/status"
if [ "$(readlink "/proc/$app/exe")" != /usr/bin/vorpane ] ||
  grep -E '^Cap(Inh|Prm|Eff|Amb):' "/proc/$app/status" | grep -qv '0000000000000000$'; then
  echo "FAIL: vorpane started by nobody holds capabilities" >&2
  kill "$app"
  exit 1
fi
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
