#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, -DVORPANE_FUZZ=ON) and runs each over
# its seeds in fuzz/corpus/ for a bounded number of runs, so that a target
# that stops building, or a seed or a short mutation that crashes, fails.
#   fuzz.sh [RUNS]      mutations per target after its seeds (default 20000)
# New inputs go to a temporary folder, never into the seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-20000}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DVORPANE_FUZZ=ON -DVORPANE_TESTS=OFF -DVORPANE_BENCH=OFF >/dev/null
targets=(command_decoder hex_payload helper_request)
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"
for target in "${targets[@]}"; do
  work=$(mktemp -d)
  echo "fuzz_$target: its seeds, then $runs runs"
  if ! (cd "$work" && "$OLDPWD/build-fuzz/fuzz/fuzz_$target" -runs="$runs" -max_len=4096 \
      -print_final_stats=0 "$work" "$OLDPWD/fuzz/corpus/$target" >log 2>&1); then
    tail -n 40 "$work/log" >&2
    echo "fuzz_$target failed; the input is in $work" >&2
    exit 1
  fi
  grep -E '^Done|INITED' "$work/log" || true
  rm -rf "$work"
done
