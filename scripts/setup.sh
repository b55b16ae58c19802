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
  # vorpane-cli: its arguments, JSON lines and metrics server; makers' names
  # from the MAC's OUI; nmap, the peer its sweep benchmark runs beside
  libcli11-dev nlohmann-json3-dev libcpp-httplib-dev ieee-data nmap
  # tests: the locales whose ANSI code pages (1252, 936) wine runs the
  # Windows tests in
  locales
  # the exporter's alert rules and its end-to-end test: Debian's Prometheus
  # server and promtool
  prometheus
  # the virtual printer's page, loaded headless in a real browser
  chromium
  # the fuzz targets: libFuzzer's runtime for clang
  libclang-rt-14-dev
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

# apt-get source needs deb-src entries. They are made from the Debian deb
# entries this machine already has, the same URIs, suites, components and
# keyring, so the sources come from wherever its packages come from.
enable_debian_sources() {
  if apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -qx 'Sources'; then
    return
  fi
  local entries twin_sources twin_list entry file n
  entries=$(apt-get indextargets --format '$(SOURCESENTRY) $(ORIGIN) $(TARGET_OF)' |
    awk '$2 == "Debian" && $3 == "deb" { print $1 }' | sort -u)
  if [ -z "$entries" ]; then
    echo "setup: this machine has no Debian deb entry to take the sources from" >&2
    exit 1
  fi
  twin_sources=$(mktemp)
  twin_list=$(mktemp)
  for entry in $entries; do
    file=${entry%:*}
    n=${entry##*:}
    case "$file" in
      # deb822: the Nth stanza, comments left out, its type turned
      *.sources)
        awk -v n="$n" 'BEGIN { RS = ""; FS = "\n" } NR == n {
            for (i = 1; i <= NF; i++) {
              if ($i ~ /^#/) continue
              if ($i ~ /^Types:/) $i = "Types: deb-src"
              print $i
            }
            print ""
          }' "$file" >>"$twin_sources" ;;
      # one-line format: line N
      *) sed -n "${n}s/^[[:space:]]*deb[[:space:]]/deb-src /p" "$file" >>"$twin_list" ;;
    esac
  done
  if [ -s "$twin_sources" ]; then
    $SUDO install -m 644 "$twin_sources" /etc/apt/sources.list.d/vorpane-src.sources
  fi
  if [ -s "$twin_list" ]; then
    $SUDO install -m 644 "$twin_list" /etc/apt/sources.list.d/vorpane-src.list
  fi
  rm -f "$twin_sources" "$twin_list"
  $SUDO apt-get update -qq
}

# The Windows build serves metrics with the same cpp-httplib, but Debian's
# package holds only the half of it that goes with its Linux library, so the
# Windows build takes the whole header from Debian's source package of the
# same version, with Debian's patches applied.
httplib_version=$(dpkg-query -W -f='${Version}' libcpp-httplib-dev)
httplib_dir=/usr/local/src/vorpane-deps/cpp-httplib
if [ "$(cat "$httplib_dir/.version" 2>/dev/null)" != "$httplib_version" ]; then
  echo "setup: fetching the sources of cpp-httplib $httplib_version"
  enable_debian_sources
  work=$(mktemp -d)
  (cd "$work" && apt-get source -qq "cpp-httplib=$httplib_version" >/dev/null 2>&1)
  $SUDO rm -rf "$httplib_dir"
  $SUDO mkdir -p "$httplib_dir"
  $SUDO cp "$work"/cpp-httplib-*/httplib.h "$work"/cpp-httplib-*/LICENSE "$httplib_dir/"
  echo "$httplib_version" | $SUDO tee "$httplib_dir/.version" >/dev/null
  rm -rf "$work"
fi

# The Windows build's receipt pictures: FreeType and zint cross-built as
# static libraries from Debian's source packages of the versions the Linux
# build links (Debian's patches applied), into a prefix of their own that
# cmake/mingw-w64-x86_64.cmake searches. FreeType with the static zlib of
# libz-mingw-w64-dev (its own copy would clash with it in the programs) and
# none of its other optional libraries; zint's library without its PNG
# output and front ends.
mingw_prefix=/usr/local/lib/vorpane-mingw
mingw_versions="freetype $(dpkg-query -W -f='${source:Version}' libfreetype-dev)
zint $(dpkg-query -W -f='${source:Version}' libzint-dev)"
if [ "$(cat "$mingw_prefix/.versions" 2>/dev/null)" != "$mingw_versions" ]; then
  echo "setup: cross-building $(echo $mingw_versions) for Windows"
  enable_debian_sources
  work=$(mktemp -d)
  jobs=$(nproc)
  toolchain=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows
    -DCMAKE_SYSTEM_PROCESSOR=x86_64 -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix
    -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++-posix
    -DCMAKE_RC_COMPILER=x86_64-w64-mingw32-windres -DCMAKE_INSTALL_PREFIX="$work/prefix"
    --no-warn-unused-cli)
  (cd "$work" && apt-get source -qq $(echo "$mingw_versions" | tr ' ' '=') >/dev/null 2>&1)
  cmake -S "$work"/freetype-*/ -B "$work/freetype-build" "${toolchain[@]}" \
    -DBUILD_SHARED_LIBS=OFF -DFT_REQUIRE_ZLIB=ON -DZLIB_USE_STATIC_LIBS=ON \
    -DCMAKE_FIND_ROOT_PATH=/usr/x86_64-w64-mingw32 -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON \
    -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON >/dev/null
  cmake --build "$work/freetype-build" -j "$jobs" --target install >/dev/null
  cmake -S "$work"/zint-*/ -B "$work/zint-build" "${toolchain[@]}" \
    -DZINT_STATIC=ON -DZINT_USE_PNG=OFF -DZINT_USE_QT=OFF >/dev/null
  cmake --build "$work/zint-build" -j "$jobs" --target zint-static >/dev/null
  install -D -m 644 "$work"/zint-build/backend/libzint-static.a "$work/prefix/lib/libzint.a"
  install -D -m 644 "$work"/zint-*/backend/zint.h "$work/prefix/include/zint.h"
  $SUDO rm -rf "$mingw_prefix"
  $SUDO mkdir -p "$(dirname "$mingw_prefix")"
  $SUDO cp -r "$work/prefix" "$mingw_prefix"
  echo "$mingw_versions" | $SUDO tee "$mingw_prefix/.versions" >/dev/null
  rm -rf "$work"
fi
