#!/usr/bin/env bash
# polyvant-convert beside assimp export and the floor program, in one run, on the meshes
# of gen_mesh.py, plus a batch of 100 small files with -j 1 and -j 2. Needs Debian's
# assimp-utils and time. Build first:
#   cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DPOLYVANT_BUILD_BENCH=ON
#   cmake --build build-rel --target polyvant-convert convert_floor obj stl ply
#   python3 ../shared/tools/gen_mesh.py --out /tmp/pvperf 1m 4m
#   bench/tools/tools_bench.sh build-rel [/tmp/pvperf] [runs] [batch]
# With "batch" as the fourth argument only the batch of small files is timed. Outputs go
# to a folder under $TMPDIR (/tmp by default, on disk): TMPDIR=/dev/shm times them without
# the disk, where polyvant's flush before each rename costs nothing and the floor's
# missing one gains nothing.
# Each figure is the minimum wall time over the runs, with the peak resident memory of
# that run (the largest of the process and its children, as /usr/bin/time reports it).
set -euo pipefail
export LC_ALL=C # a decimal point in EPOCHREALTIME and awk
build=${1:?build directory}
data=${2:-/tmp/pvperf}
runs=${3:-3}
only=${4:-}
convert=$build/bin/polyvant-convert
floor=$build/bench/convert_floor
for need in "$convert" "$floor"; do
    [ -x "$need" ] || { echo "tools_bench: $need is not built (see the top of this script)" >&2; exit 1; }
done
for tool in assimp /usr/bin/time; do
    command -v "$tool" > /dev/null ||
        { echo "tools_bench: needs $tool (apt-get install assimp-utils time)" >&2; exit 1; }
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

best() {
    local label=$1
    shift
    local best_wall=1e9 best_mem=0 line wall mem
    for _ in $(seq "$runs"); do
        # The wall time to the millisecond from the shell's clock (time's %e has only
        # hundredths, too coarse for the small batches); the peak memory from time.
        local start=$EPOCHREALTIME
        line=$(/usr/bin/time -f "%M" "$@" 2>&1 >/dev/null | tail -1)
        wall=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN{printf "%.3f", b - a}')
        mem=$line
        if awk -v a="$wall" -v b="$best_wall" 'BEGIN{exit !(a < b)}'; then
            best_wall=$wall
            best_mem=$mem
        fi
    done
    printf "%-34s wall %7.3f s  peak %6d MiB\n" "$label" "$best_wall" $((best_mem / 1024))
    last_best=$best_wall
}

# "-j 1 / -j 2" of the last four lines: polyvant's, then the floor's.
ratios() {
    awk -v a="$1" -v b="$2" -v c="$3" -v d="$4" \
        'BEGIN{printf "ratio -j 1 / -j 2: polyvant %.2f, floor %.2f (goal 1.8)\n", a / b, c / d}'
}

sizes="1m 4m"
[ "$only" = batch ] && sizes=""
for n in $sizes; do
    obj=$data/torus_$n.obj stl=$data/torus_$n.stl ply=$data/torus_$n.ply
    for mesh in "$obj" "$stl" "$ply"; do
        [ -f "$mesh" ] || {
            echo "tools_bench: no $mesh (python3 ../shared/tools/gen_mesh.py --out $data $n)" >&2
            exit 1
        }
    done
    echo "== torus $n (obj $(($(stat -c %s "$obj") >> 20)) MiB, stl $(($(stat -c %s "$stl") >> 20)) MiB, ply $(($(stat -c %s "$ply") >> 20)) MiB)"
    best "polyvant obj->stl binary" "$convert" -q --time-limit 0 "$obj" "$out/p.stl"
    best "assimp   obj->stl binary" assimp export "$obj" "$out/a.stl" -fstlb
    best "floor    obj->stl binary" "$floor" obj2stlb "$obj" "$out/f.stl"
    best "polyvant obj->stl ascii" "$convert" -q --time-limit 0 --option format=ASCII "$obj" "$out/p.stl"
    best "assimp   obj->stl ascii" assimp export "$obj" "$out/a.stl" -fstl
    best "polyvant stl->obj" "$convert" -q --time-limit 0 "$stl" "$out/p.obj"
    best "assimp   stl->obj" assimp export "$stl" "$out/a.obj" -fobj
    best "floor    stl->obj" "$floor" stl2obj "$stl" "$out/f.obj"
    best "polyvant ply->obj" "$convert" -q --time-limit 0 "$ply" "$out/p.obj"
    best "assimp   ply->obj" assimp export "$ply" "$out/a.obj" -fobj
    best "floor    ply->obj" "$floor" ply2obj "$ply" "$out/f.obj"
done

# 100 small files: the Wuson model as OBJ.
mkdir -p "$out/small"
for i in $(seq -w 1 100); do
    cp "$(dirname "$0")/../../../shared/testdata/obj/WusonOBJ.obj" "$out/small/m$i.obj"
done
# A batch takes a tenth of a second, and a few runs leave its minimum to chance: at least
# 15 runs each.
[ "$runs" -lt 15 ] && runs=15
echo "== batch of 100 small OBJ files to binary STL ($runs runs each)"
best "polyvant -j 1" "$convert" -q -j 1 --to stl -o "$out/small-out" "$out"/small/*.obj
p1=$last_best
best "polyvant -j 2" "$convert" -q -j 2 --to stl -o "$out/small-out" "$out"/small/*.obj
p2=$last_best
best "floor    -j 1" "$floor" batch 1 "$out/small-floor" "$out"/small/*.obj
f1=$last_best
best "floor    -j 2" "$floor" batch 2 "$out/small-floor" "$out"/small/*.obj
ratios "$p1" "$p2" "$f1" "$last_best"

# The same into memory (tmpfs), where no flush waits for the disk: what is left of the
# gap between -j 1 and -j 2 is process and file-system work that does not overlap.
if mem=$(mktemp -d -p /dev/shm 2>/dev/null); then
    trap 'rm -rf "$out" "$mem"' EXIT
    echo "== the same batch written to tmpfs"
    best "polyvant -j 1" "$convert" -q -j 1 --to stl -o "$mem/small-out" "$out"/small/*.obj
    p1=$last_best
    best "polyvant -j 2" "$convert" -q -j 2 --to stl -o "$mem/small-out" "$out"/small/*.obj
    p2=$last_best
    best "floor    -j 1" "$floor" batch 1 "$mem/small-floor" "$out"/small/*.obj
    f1=$last_best
    best "floor    -j 2" "$floor" batch 2 "$mem/small-floor" "$out"/small/*.obj
    ratios "$p1" "$p2" "$f1" "$last_best"
fi
