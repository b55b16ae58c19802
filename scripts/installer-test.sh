#!/usr/bin/env bash
# The Windows installer under wine: makes it (cpack's NSIS generator) in the
# Windows build folder, installs it silently, checks the programs, the font
# beside them (the installed printer draws with it), the uninstaller and the
# Start-menu entry, runs the installed vorpane-cli's --help, starts the
# installed program until its window titled "Vorpane V2.1" is up and closes
# it, then uninstalls silently and checks that everything is gone.
#   installer-test.sh BUILD_DIR WINE_DIR   (ctest passes both)
set -euo pipefail
build=$(cd "$1" && pwd)
wine_dir=$2
here=$(cd "$(dirname "$0")" && pwd)
run=("$here/wine-run.sh" exec "$wine_dir")

(cd "$build" && cpack -G NSIS >/dev/null)
installer=$(ls "$build"/Vorpane-*-win64.exe)
echo "installer: $installer"

prefix="$wine_dir/prefix"
target_windows='C:\vorpane-installer-test'
target="$prefix/drive_c/vorpane-installer-test"
rm -rf "$target"
"${run[@]}" "$installer" /S "/D=$target_windows"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
for file in vorpane.exe vorpane-printer.exe vorpane-printer-window.exe vorpane-cli.exe Uninstall.exe; do
  [ -f "$target/$file" ] || fail "$file is not installed"
done
for file in wqy-zenhei.ttc wqy-zenhei-copyright.txt GPL-2.txt; do
  [ -f "$target/fonts/$file" ] || fail "fonts\\$file is not installed"
done
# The installed printer draws text with the font beside it.
journal=$(printf 'Vorpane\n\x1dVB\x00' |
  "${run[@]}" "$target/vorpane-printer.exe" --render-file - --out "$build/installer-test.png")
rm -f "$build/installer-test.png"
case $journal in
  *"font not found"*) fail "the installed printer has no font: $journal" ;;
  *"receipt 1:"*) ;;
  *) fail "the installed printer drew nothing: $journal" ;;
esac

menu_entry=$(find "$prefix/drive_c" -path '*Start Menu*' -name 'Vorpane.lnk' | head -n 1)
[ -n "$menu_entry" ] || fail "no Start-menu entry"
echo "start menu: ${menu_entry#"$prefix/"}"

"${run[@]}" "$target/vorpane-cli.exe" --help >/dev/null || fail "vorpane-cli.exe --help failed"

VORPANE_INSTALLED="$target_windows\\vorpane.exe" \
  "${run[@]}" "$build/test_e2e.exe" --gtest_filter='InstalledProgram.*' --gtest_brief=1

# The uninstaller runs a copy of itself and returns at once; the folder goes
# when that copy is done.
"${run[@]}" "$target/Uninstall.exe" /S
for _ in $(seq 600); do
  [ -e "$target" ] || break
  sleep 0.1
done
[ ! -e "$target" ] || fail "the uninstaller left $(ls "$target")"
[ -z "$(find "$prefix/drive_c" -path '*Start Menu*' -name 'Vorpane.lnk')" ] ||
  fail "the Start-menu entry is still there"
echo "installed, started and uninstalled"
