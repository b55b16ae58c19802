#!/usr/bin/env bash
# Sets up, builds and runs every test: the plain build, the ASan+UBSan build,
# and the threaded tests under TSan. Lab tests (network namespaces) need
# root; without it they skip with a line saying so.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)

# The npm client the renderer's tests use, exactly as locked.
if command -v npm >/dev/null 2>&1; then
  (cd tests/emulator/npm_client && npm ci --no-audit --no-fund --loglevel=error)
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
  grep -E '^test_(app|discovery|printer_link|net|emulator|ui_contract_headless|ui_contract_qt|app_qt)$' || true)
cmake --build build-tsan -j "$jobs" --target $tsan_targets
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -j 1 -R "^($(echo $tsan_targets | tr ' ' '|'))\$"

echo "== Windows build (mingw-w64), its tests under wine"
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build build-win -j "$jobs"
ctest --test-dir build-win --output-on-failure -j 1

echo "== Debian package"
bash scripts/package-test.sh
