#!/bin/sh
# OBJ and OFF import/export figures beside assimp, on the generated tori.
#   bench/formats/obj_off_bench.sh <release build dir> [mesh dir]
# Makes the meshes with gen_mesh.py when missing. Assimp times are wall seconds of
# `assimp info -r` (no post-processing) and `assimp export`, least of three runs
# (one for 4M); CPU seconds are the steadier figure on a shared machine.
set -eu
build=${1:?release build dir}
meshes=${2:-/tmp/pvperf}
here=$(cd "$(dirname "$0")" && pwd)
bench="$build/bench/obj_off_bench"
plugins="$build/bin/plugin"
[ -f "$meshes/torus_4m.obj" ] || python3 "$here/../../../shared/tools/gen_mesh.py" --out "$meshes" 1m 4m
for size in 1m 4m; do
    [ -f "$meshes/torus_$size.off" ] ||
        "$bench" convert "$plugins/obj.so" "$meshes/torus_$size.obj" "$plugins/off.so" "$meshes/torus_$size.off"
done

# Least CPU seconds (user + system) and wall seconds of `runs` runs of a command.
best_of() {
    runs=$1; shift
    best_cpu=; best_wall=
    for run in $(seq "$runs"); do
        /usr/bin/time -f "%e %U %S" -o /tmp/obj_off_bench_time "$@" > /dev/null 2>&1
        wall=$(cut -d' ' -f1 /tmp/obj_off_bench_time)
        cpu=$(awk '{print $2 + $3}' /tmp/obj_off_bench_time)
        if [ -z "$best_cpu" ] || [ "$(echo "$cpu < $best_cpu" | bc)" = 1 ]; then best_cpu=$cpu; fi
        if [ -z "$best_wall" ] || [ "$(echo "$wall < $best_wall" | bc)" = 1 ]; then best_wall=$wall; fi
    done
    echo "wall $best_wall s  cpu $best_cpu s"
}

# Imports, each run in a fresh process like assimp's: a later run in the same process would
# find the arrays of the one before still mapped and skip their page faults. Prints the
# line of the least wall time.
fresh() {
    runs=$1; shift
    for run in $(seq "$runs"); do
        "$@" 1 | tail -1
    done | sort -t' ' -k1,1 | awk '{for (i = 1; i < NF; ++i) if ($i == "wall") print $(i + 1), $0}' |
        sort -n | head -1 | cut -d' ' -f2-
}

for size in 1m 4m; do
    fresh 5 "$bench" import "$plugins/obj.so" "$meshes/torus_$size.obj"
    fresh 5 "$bench" floor "$meshes/torus_$size.obj"
    fresh 5 "$bench" import "$plugins/off.so" "$meshes/torus_$size.off"
done
"$bench" export "$plugins/obj.so" "$meshes/torus_1m.obj" /tmp/obj_off_bench_out.obj 3
"$bench" export "$plugins/obj.so" "$meshes/torus_4m.obj" /tmp/obj_off_bench_out.obj 1
if command -v assimp > /dev/null; then
    for size in 1m 4m; do
        runs=3; [ $size = 4m ] && runs=1
        echo "assimp info -r torus_$size.obj  $(best_of $runs assimp info "$meshes/torus_$size.obj" -r)"
        echo "assimp info -r torus_$size.off  $(best_of $runs assimp info "$meshes/torus_$size.off" -r)"
    done
    echo "assimp export torus_1m.obj -> obj  $(best_of 3 assimp export "$meshes/torus_1m.obj" /tmp/obj_off_bench_assimp.obj)"
fi
rm -f /tmp/obj_off_bench_out.obj /tmp/obj_off_bench_assimp.obj /tmp/obj_off_bench_time
