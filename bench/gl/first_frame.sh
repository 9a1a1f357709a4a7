#!/usr/bin/env bash
# Time from start to the first complete frame of all four panes for a model file, next to
# f3d rendering the same file once (Debian's f3d), alternating in one run; medians at the end.
#   xvfb-run -a -s "-screen 0 1280x1024x24" bench/gl/first_frame.sh build-rel [model.obj] [runs]
# Without a model the 1M-triangle torus of the shared generator is made in /tmp/pvperf.
set -euo pipefail
build=${1:?build directory}
model=${2:-/tmp/pvperf/torus_1m.obj}
runs=${3:-7}
here=$(cd "$(dirname "$0")/../.." && pwd)
[ -f "$model" ] || python3 "$here/../shared/tools/gen_mesh.py" --out /tmp/pvperf 1m
now() { date +%s%N; }
# Settings of its own, so that a user's saved modes and plug-in path do not change the run.
XDG_CONFIG_HOME=$(mktemp -d)
XDG_RUNTIME_DIR=$(mktemp -d)
chmod 700 "$XDG_RUNTIME_DIR"
export XDG_CONFIG_HOME XDG_RUNTIME_DIR
trap 'rm -rf "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"' EXIT

ours=() theirs=()
for run in $(seq 1 "$runs"); do
    line=$(POLYVANT_FIRST_FRAME_EXIT=1 "$build/bin/polyvant" "$model" 2>&1 | grep "four panes" || true)
    drawn=$(sed -n 's/.*drawn \([0-9]*\) ms.*/\1/p' <<<"$line")
    t1=$(now)
    f3d "$model" --output=/tmp/first_frame_f3d.png --resolution=800,600 >/dev/null 2>&1 || true
    t2=$(now)
    f3d_ms=$(( (t2 - t1) / 1000000 ))
    echo "run $run: polyvant four panes drawn ${drawn:-?} ms after start, f3d ${f3d_ms} ms to its image"
    ours+=("${drawn:-999999}") theirs+=("$f3d_ms")
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
echo "median of $runs: polyvant $(median "${ours[@]}") ms, f3d $(median "${theirs[@]}") ms"
