#!/usr/bin/env bash
# STL and PLY figures side by side: our plug-ins, the floor programs and the assimp
# command line, on the meshes of gen_mesh.py. Build first (Release, benchmarks on):
#   cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DPOLYVANT_BUILD_BENCH=ON
#   cmake --build build-rel --target stl_bench ply_bench stl ply
#   python3 ../shared/tools/gen_mesh.py --out /tmp/pvperf 1m 4m
#   bench/formats/stl_ply_run.sh build-rel [/tmp/pvperf] [runs]
# Our figures are the minimum over the runs of CPU time (user + system, the process is
# single-threaded) with the wall time of that run; assimp's are the minimum over the
# runs of user + system and of elapsed time, measured with /usr/bin/time.
set -euo pipefail
build=${1:?build directory}
data=${2:-/tmp/pvperf}
runs=${3:-5}
bench=$build/bench
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# gen_mesh.py writes ASCII PLY only: binary copies come from our exporter.
for n in 1m 4m; do
    [ -f "$data/torus_${n}_le.ply" ] ||
        "$bench/ply_bench" export "$data/torus_$n.ply" "$data/torus_${n}_le.ply" binary 1 >/dev/null
done

# Minimum over the runs of "cpu wall" for a command, as printed by /usr/bin/time.
assimp_time() {
    local best_cpu=1e9 best_wall=1e9 line cpu wall
    for _ in $(seq "$runs"); do
        line=$(/usr/bin/time -f "%U %S %e" "$@" 2>&1 >/dev/null | tail -1)
        cpu=$(echo "$line" | awk '{print $1 + $2}')
        wall=$(echo "$line" | awk '{print $3}')
        best_cpu=$(awk -v a="$best_cpu" -v b="$cpu" 'BEGIN{print (b < a) ? b : a}')
        best_wall=$(awk -v a="$best_wall" -v b="$wall" 'BEGIN{print (b < a) ? b : a}')
    done
    printf "%-14s %-30s cpu %7.4f s wall %7.4f s\n" "$label" "$file" "$best_cpu" "$best_wall"
}

for n in 1m 4m; do
    echo "== torus $n"
    for file in "$data/torus_$n.stl"; do
        "$bench/stl_bench" import "$file" "$runs"
        "$bench/stl_bench" floor "$file" "$runs"
        "$bench/stl_bench" floor-noweld "$file" "$runs"
        label="assimp info -r" assimp_time assimp info "$file" -r
        "$bench/stl_bench" memory "$file"
        "$bench/stl_bench" export "$file" "$out/o.stl" binary "$runs"
        label="assimp stlb" assimp_time assimp export "$file" "$out/a.stl" -fstlb
        "$bench/stl_bench" export "$file" "$out/o.stl" ascii "$runs"
        label="assimp stl" assimp_time assimp export "$file" "$out/a.stl" -fstl
    done
    for file in "$data/torus_${n}_le.ply" "$data/torus_$n.ply"; do
        "$bench/ply_bench" import "$file" "$runs"
        "$bench/ply_bench" floor "$file" "$runs"
        label="assimp info -r" assimp_time assimp info "$file" -r
        "$bench/ply_bench" memory "$file"
    done
    file=$data/torus_${n}_le.ply
    "$bench/ply_bench" export "$file" "$out/o.ply" binary "$runs"
    label="assimp plyb" assimp_time assimp export "$file" "$out/a.ply" -fplyb
    "$bench/ply_bench" export "$file" "$out/o.ply" ascii "$runs"
    label="assimp ply" assimp_time assimp export "$file" "$out/a.ply" -fply
done
