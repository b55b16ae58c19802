#!/usr/bin/env bash
# Makes the Windows icon files of ui/win32/resources from pictures: the
# application icon (128) from packaging/vorpane.svg, and the status lamps
# (132 red, 133 green, 134 grey) from a small drawing of a lit glass lamp.
# Needs rsvg-convert (librsvg2-bin) and icotool (icoutils). The .ico files
# are committed; run this again only when a picture changes.
set -euo pipefail
cd "$(dirname "$0")/.."
out=ui/win32/resources
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ico SVG NAME SIZE...: one image per size; 256 is stored as PNG, the
# smaller ones as bitmaps, which every Windows version reads.
ico() {
  local svg=$1 name=$2
  shift 2
  local bitmaps=() pngs=()
  for size in "$@"; do
    rsvg-convert -w "$size" -h "$size" "$svg" -o "$work/$name-$size.png"
    if [ "$size" -ge 256 ]; then
      pngs+=(-r "$work/$name-$size.png")
    else
      bitmaps+=("$work/$name-$size.png")
    fi
  done
  icotool -c -o "$out/$name.ico" "${bitmaps[@]}" "${pngs[@]}"
}

# lamp NAME BASE LIGHT DARK: rim, glass with a radial shade, a highlight.
lamp() {
  cat >"$work/$1.svg" <<SVG
<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">
  <defs>
    <radialGradient id="glass" cx="12" cy="11" r="16" gradientUnits="userSpaceOnUse">
      <stop offset="0" stop-color="$3"/>
      <stop offset="0.45" stop-color="$2"/>
      <stop offset="1" stop-color="$4"/>
    </radialGradient>
    <radialGradient id="shine" cx="11.5" cy="10" r="6" gradientUnits="userSpaceOnUse">
      <stop offset="0" stop-color="#ffffff" stop-opacity="0.8"/>
      <stop offset="1" stop-color="#ffffff" stop-opacity="0"/>
    </radialGradient>
  </defs>
  <circle cx="16" cy="16" r="14.5" fill="$4" stroke="#202020" stroke-opacity="0.5"/>
  <circle cx="16" cy="16" r="12.5" fill="url(#glass)"/>
  <ellipse cx="11.5" cy="10" rx="6" ry="4.5" fill="url(#shine)"/>
</svg>
SVG
  ico "$work/$1.svg" "$1" 16 24 32 48
}

mkdir -p "$out"
ico packaging/vorpane.svg vorpane 16 24 32 48 64 256
lamp lamp_red '#dc1e1e' '#f07a7a' '#7a1010'
lamp lamp_green '#1ebe32' '#7ae08a' '#0e5e18'
lamp lamp_grey '#969696' '#d4d4d4' '#505050'
ls -l "$out"/*.ico
