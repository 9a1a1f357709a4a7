#!/usr/bin/env bash
# Time from start to the first complete frame of all four panes for a model file,
# next to f3d rendering the same file once (Debian's f3d), in the same run.
#   xvfb-run -a -s "-screen 0 1280x1024x24" bench/gl/first_frame.sh build-rel [model.obj]
# Without a model the 1M-triangle torus of the shared generator is made in /tmp/pvperf.
set -euo pipefail
build=${1:?build directory}
model=${2:-/tmp/pvperf/torus_1m.obj}
here=$(cd "$(dirname "$0")/../.." && pwd)
[ -f "$model" ] || python3 "$here/../shared/tools/gen_mesh.py" --out /tmp/pvperf 1m
now() { date +%s%N; }
export HOME=${HOME_FOR_BENCH:-$HOME}
for run in 1 2 3; do
    t0=$(now)
    POLYVANT_FIRST_FRAME_EXIT=1 "$build/bin/polyvant" "$model" 2>&1 | grep "four panes" || true
    t1=$(now)
    f3d "$model" --output=/tmp/first_frame_f3d.png --resolution=800,600 >/dev/null 2>&1 || true
    t2=$(now)
    echo "run $run: polyvant $(( (t1 - t0) / 1000000 )) ms to exit, f3d $(( (t2 - t1) / 1000000 )) ms"
done
