#!/usr/bin/env bash
# Installs the Debian 12 packages Vorpane needs to build, run and test.
# Idempotent: packages already present are not fetched again.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ clang pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-base-private-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # the Windows build: the cross compiler (GoogleTest is built from the
  # sources of libgtest-dev), the renderer's zlib, the installer maker, and
  # wine to run its tests
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev nsis wine64 wine
  # run: a font with the dialogs' CJK glyphs, the ping the Ping button opens,
  # a terminal to show it in
  fonts-wqy-zenhei iputils-ping xterm
  # the virtual printer's receipt pictures: glyphs, barcodes and 2D symbols, PNG
  libfreetype-dev libzint-dev zlib1g-dev
  # tests: a display server, network namespaces, packet capture, packaging
  xvfb xauth x11-utils xdotool iproute2 nftables tcpdump libcap2-bin strace lintian file dpkg-dev
  appstream desktop-file-utils
  # tests: reading receipts' barcodes back
  libzxing-dev
  # benchmarks: the printer sweep is timed against nmap's scan
  nmap
  # tests: the locales whose ANSI code pages (1252, 936) wine runs the
  # Windows tests in
  locales
)
# The renderer's tests drive a real npm client; Debian's Node.js only when
# the machine has none.
if ! command -v node >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
else
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine takes a program's ANSI code page from its locale: en_US.UTF-8 gives
# 1252, zh_CN.UTF-8 gives 936, once the host has generated them.
missing_locales=()
for name in en_US zh_CN; do
  if ! locale -a | grep -qx "$name.utf8"; then
    missing_locales+=("$name")
  fi
done
if [ ${#missing_locales[@]} -gt 0 ]; then
  echo "setup: generating the locales ${missing_locales[*]}"
  for name in "${missing_locales[@]}"; do
    if ! grep -qx "$name.UTF-8 UTF-8" /etc/locale.gen; then
      echo "$name.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    fi
  done
  $SUDO locale-gen >/dev/null
fi
