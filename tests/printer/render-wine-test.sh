#!/usr/bin/env bash
# vorpane-printer.exe under wine draws a receipt exactly as the Linux build's
# vorpane-printer does: Chinese text in GB18030, a CODE128, a QR code and a
# cut, from a file and from standard input, at one and at two pixels a dot.
# The Windows program finds its font beside itself, or is given a copy, and
# the capture, in a folder whose name neither code page 1252 nor 936 can
# spell; the Linux one is given the same files. The pictures must be the same bytes. No sockets.
#   render-wine-test.sh BUILD_DIR WINE_DIR LINUX_PRINTER   (ctest passes all three)
set -euo pipefail
build=$(cd "$1" && pwd)
wine_dir=$2
linux=$3
here=$(cd "$(dirname "$0")" && pwd)
run=("$here/../../scripts/wine-run.sh" exec "$wine_dir")
printer=$build/printer/vorpane-printer.exe
font=$build/printer/fonts/wqy-zenhei.ttc
if [ ! -x "$linux" ]; then
  echo "no Linux vorpane-printer at $linux (configure with -DVORPANE_LINUX_BUILD=DIR): skipped"
  exit 77
fi

work=$(mktemp -d "$build/render-wine-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

url='https://vorpane.invalid/r/42'
{
  printf '\x1b@Vorpane receipt 42\n'
  printf '收银 测试：合计 ￥12.50\n' | iconv -f UTF-8 -t GB18030
  # CODE128, 80 dots high, module 2, code set B.
  printf '\x1dh\x50\x1dw\x02\x1dkI\x0e{BVorpane-0042\n'
  # QR code: model 2, module 6, level M, stored, printed.
  printf '\x1d(k\x04\x001A2\x00\x1d(k\x03\x001C\x06\x1d(k\x03\x001E1'
  printf '\x1d(k%b\x001P0%s' "\\x$(printf %02x $((${#url} + 3)))" "$url"
  printf '\x1d(k\x03\x001Q0\n\x1dVB\x00'
} >"$work/receipt.bin"

# 收据 is outside the Western ANSI code page, 영수증 outside both it and the
# Chinese one (which has €, at 0x80).
odd=$work/收据-€-영수증
mkdir "$odd"
cp "$font" "$work/receipt.bin" "$odd/"

# name | the Windows program's font (empty: its own) | arguments after
# --render-file (the capture is standard input for -)
cases=(
  "file||$work/receipt.bin"
  "scale||$work/receipt.bin --scale 2"
  "stdin||- --profile 58mm-203dpi"
  "odd-path|$odd/wqy-zenhei.ttc|$odd/receipt.bin"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r name windows_font rest <<<"$entry"
  read -r -a args <<<"$rest"
  "$linux" --render-file "${args[@]}" --font "$font" --out "$work/linux-$name.png" \
    <"$work/receipt.bin" >"$work/linux-$name.journal" 2>&1 ||
    fail "$name: the Linux printer failed: $(cat "$work/linux-$name.journal")"
  "${run[@]}" "$printer" --render-file "${args[@]}" ${windows_font:+--font "$windows_font"} \
    --out "$work/windows-$name.png" <"$work/receipt.bin" >"$work/windows-$name.journal" 2>&1 ||
    fail "$name: vorpane-printer.exe failed: $(cat "$work/windows-$name.journal")"
  if grep -q 'font not found' "$work/windows-$name.journal"; then
    fail "$name: vorpane-printer.exe has no font: $(cat "$work/windows-$name.journal")"
  fi
  cmp -s "$work/linux-$name.png" "$work/windows-$name.png" ||
    fail "$name: the pictures differ ($(stat -c %s "$work/linux-$name.png") bytes on Linux," \
      "$(stat -c %s "$work/windows-$name.png") under wine)"
  echo "$name: the same $(stat -c %s "$work/linux-$name.png") bytes"
done
