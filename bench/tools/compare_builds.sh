#!/bin/bash
# Two builds of polyvant-convert side by side, run by run in turn: the 1M torus from OBJ
# to binary STL, and a batch of 100 small OBJ files with -j 1 and -j 2, on disk. Prints
# the fastest and the median wall time of each. For telling what a change did, where
# the machine's speed drifts more than the change moves.
#   bench/tools/compare_builds.sh OLD_BUILD NEW_BUILD [/tmp/pvperf] [runs]
# Each build folder holds bin/polyvant-convert and bin/plugin/. The torus comes from
# python3 ../shared/tools/gen_mesh.py --out /tmp/pvperf 1m.
set -euo pipefail

old=${1:?usage: compare_builds.sh OLD_BUILD NEW_BUILD [data] [runs]}
new=${2:?usage: compare_builds.sh OLD_BUILD NEW_BUILD [data] [runs]}
data=${3:-/tmp/pvperf}
runs=${4:-15}
torus=$data/torus_1m.obj
[ -f "$torus" ] || { echo "compare_builds: no $torus (gen_mesh.py --out $data 1m)" >&2; exit 1; }
for build in "$old" "$new"; do
    [ -x "$build/bin/polyvant-convert" ] || { echo "compare_builds: no $build/bin/polyvant-convert" >&2; exit 1; }
done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
mkdir -p "$out/small"
for i in $(seq -w 1 100); do
    cp "$(dirname "$0")/../../../shared/testdata/obj/WusonOBJ.obj" "$out/small/m$i.obj"
done

# One timed run into a fresh folder, after the disk has taken what earlier runs left.
# Prints the wall seconds.
time_run() {
    local folder=$1
    shift
    rm -rf "$folder"
    mkdir -p "$folder"
    sync
    local start=$EPOCHREALTIME
    "$@" > /dev/null
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN{printf "%.4f\n", b - a}'
}

# "label seconds" lines, one per run, then the summary per label.
for round in $(seq "$runs"); do
    for side in old new; do
        build=$old
        [ "$side" = new ] && build=$new
        convert="$build/bin/polyvant-convert -q --time-limit 0"
        echo "$side-1m-obj-to-stl $(time_run "$out/o" $convert "$torus" "$out/o/t.stl")"
        for jobs in 1 2; do
            echo "$side-batch-j$jobs $(time_run "$out/b" $convert -j $jobs --to stl -o "$out/b" "$out"/small/*.obj)"
        done
    done
done | sort -k1,1 -k2n | awk '
    { times[$1] = times[$1] " " $2; count[$1]++ }
    END {
        for (label in times) {
            split(substr(times[label], 2), t, " ")
            printf "%-24s fastest %.3f s  median %.3f s  (%d runs)\n", label, t[1], t[int((count[label] + 1) / 2)], count[label]
        }
    }' | sort
