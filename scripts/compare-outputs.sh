#!/usr/bin/env bash
# Draws every input with two builds of vorpane-printer and compares their
# journals and pictures byte for byte: a change meant to keep behaviour
# shows here as no difference.
#   scripts/compare-outputs.sh OLD-BINARY NEW-BINARY INPUT...
# Each input is drawn with the options of each line of VARIANTS (default:
# none, 58 mm paper, scale 2, Chinese mode off); VARIANTS= draws it once.
set -u
old=$1 new=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mapfile -t variants <<<"${VARIANTS-$'\n--profile 58mm-203dpi\n--scale 2\n--chinese off'}"
inputs=0 runs=0 differ=0
for in in "$@"; do
    in=$(realpath "$in")
    inputs=$((inputs + 1))
    for v in "${variants[@]}"; do
        runs=$((runs + 1))
        for side in old new; do
            dir=$work/$side/$runs
            mkdir -p "$dir"
            bin=$old
            [ "$side" = new ] && bin=$new
            # shellcheck disable=SC2086
            (cd "$dir" && timeout 120 "$bin" --render-file "$in" --out out.png --journal journal.txt \
                $v >stdout 2>stderr
            echo "rc=$?" >>stdout)
        done
        if ! diff -r "$work/old/$runs" "$work/new/$runs" >/dev/null; then
            differ=$((differ + 1))
            echo "differs: $in $v"
            diff -r "$work/old/$runs" "$work/new/$runs" | head -5
        fi
    done
done
pictures=$(find "$work/old" -name '*.png' | wc -l)
echo "$inputs inputs, $runs runs, $pictures pictures each side, $differ differ"
[ "$differ" -eq 0 ]
