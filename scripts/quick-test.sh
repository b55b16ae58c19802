#!/usr/bin/env bash
# The daily loop: builds the Debug tree and runs the unit tests, without
# the sanitizer builds, wine, packaging or the network lab (which needs
# root). Assumes scripts/setup.sh has run once. A couple of minutes on two
# cores once the tree is built.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -LE lab
