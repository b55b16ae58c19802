#!/usr/bin/env bash
# Sets up, builds and runs every test, in stages:
#   setup          the Debian packages and locales (scripts/setup.sh), the
#                  npm client the renderer's tests drive
#   plain build    Debug on Linux, every test
#   ASan+UBSan     Debug, every test, leak checks on
#   TSan           the threaded tests
#   fuzz targets   built with clang and libFuzzer, each run over its seeds
#                  for a bounded number of runs (scripts/fuzz.sh)
#   benchmarks     tests off, benchmarks on (Release): the benchmarks'
#                  own sources compile without the tests
#   Windows        the Release build users get (mingw-w64), its tests under
#                  wine in a Western ANSI code page (1252), the installer
#                  included, then again in a Chinese one (936)
#   package        the Debian package (scripts/package-test.sh)
# Lab tests (network namespaces) need root; without it they skip with a line
# saying so.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)

# The npm client the renderer's tests use, exactly as locked.
if command -v npm >/dev/null 2>&1; then
  (cd tests/virtual_printer/npm_client && npm ci --no-audit --no-fund --loglevel=error)
else
  echo "npm is missing: the renderer's npm client test will say so"
fi

echo "== plain build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j 1

echo "== address and undefined-behaviour sanitizers"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORPANE_SANITIZE=address \
  -DVORPANE_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure -j 1

echo "== thread sanitizer (threaded tests)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORPANE_SANITIZE=thread \
  -DVORPANE_BENCH=OFF >/dev/null
tsan_targets=$(grep -h -o 'NAME test_[a-z_]*' tests/*/CMakeLists.txt | awk '{print $2}' |
  grep -E '^test_(app|cli|metrics|http_front|discovery|printer_link|net|escpos|receipt|virtual_printer|printer|ui_contract_headless|ui_contract_qt|app_qt)$' || true)
cmake --build build-tsan -j "$jobs" --target $tsan_targets
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -j 1 -R "^($(echo $tsan_targets | tr ' ' '|'))\$"

echo "== fuzz targets over their seeds"
bash scripts/fuzz.sh

echo "== tests off, benchmarks on: the benchmarks' own sources"
# Their objects alone: the product's libraries are the plain build's, built
# above, and would only be built again here.
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORPANE_TESTS=OFF \
  -DVORPANE_BENCH=ON >/dev/null
bench_objects=$(ninja -C build-bench -t targets all | awk -F: '/^bench\/.*\.o:/ {print $1}')
ninja -C build-bench -j "$jobs" $bench_objects

echo "== Windows Release build (mingw-w64), its tests under wine in code pages 1252 and 936"
# Its pictures are compared with those of the plain build's vorpane-printer.
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVORPANE_LINUX_BUILD="$PWD/build" >/dev/null
cmake --build build-win -j "$jobs"
# Wine takes the ANSI code page from the locale (LC_ALL would override LANG).
env -u LC_ALL LANG=en_US.UTF-8 ctest --test-dir build-win --output-on-failure -j 1
# The installer does not read text: it runs once, above.
env -u LC_ALL LANG=zh_CN.UTF-8 ctest --test-dir build-win --output-on-failure -j 1 \
  -E '^test_installer$'

echo "== Debian package"
bash scripts/package-test.sh
