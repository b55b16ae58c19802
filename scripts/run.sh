#!/usr/bin/env bash
# Sets up, builds and starts Vorpane.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORPANE_BENCH=OFF >/dev/null
cmake --build build-release --target vorpane vorpane-printer
exec ./build-release/app/vorpane "$@"
