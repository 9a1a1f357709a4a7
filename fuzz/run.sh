#!/usr/bin/env bash
# Fuzzes every import class with libFuzzer, as many at once as there are cores, seeded
# with the shared sample files of its format and with samples converted into it.
#   fuzz/run.sh [SECONDS_PER_CLASS] [BUILD_DIR] [EXT...]
# Needs clang (apt-get install clang). The corpus grows in BUILD_DIR/fuzz/corpus/EXT;
# findings (crashes, hangs, leaks, invalid data handed over) are written to
# BUILD_DIR/fuzz/findings/EXT/, and each is replayed by giving it to import_fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
build=$(realpath -m "${2:-build-fuzz}")
shift $(($# < 2 ? $# : 2))
formats=("$@")
[ ${#formats[@]} -eq 0 ] && formats=(obj off stl ply raw 3ds dxf lwo iob)
testdata=$PWD/../shared/testdata

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Asan -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_C_COMPILER=clang -DPOLYVANT_BUILD_GUI=OFF -DPOLYVANT_BUILD_TESTS=OFF \
    -DPOLYVANT_BUILD_FUZZ=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)"
fuzzer=$build/fuzz/import_fuzzer

# Seeds: the samples of each format, plus the small OBJ samples converted into every
# format that can be written, so formats without samples of their own get some.
seeds=$build/fuzz/seeds
rm -rf "$seeds"
for ext in "${formats[@]}"; do
    mkdir -p "$seeds/$ext"
    find "$testdata" -type f -iname "*.$ext" -size -512k -exec cp {} "$seeds/$ext/" \;
    for obj in "$testdata"/obj/*.obj; do
        [ "$(stat -c %s "$obj")" -lt 262144 ] || continue
        ASAN_OPTIONS=detect_leaks=0 "$build/bin/polyvant-convert" -q "$obj" \
            "$seeds/$ext/from-$(basename "${obj%.*}").$ext" >/dev/null 2>&1 || true
    done
done

run() {
    local ext=$1
    mkdir -p "$build/fuzz/corpus/$ext" "$build/fuzz/findings/$ext"
    ASAN_OPTIONS=allocator_may_return_null=1 POLYVANT_FUZZ_CLASS=$ext \
        "$fuzzer" "$build/fuzz/corpus/$ext" "$seeds/$ext" -max_total_time="$seconds" \
        -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/fuzz/findings/$ext/" >"$build/fuzz/$ext.log" 2>&1 &&
        echo "$ext: $(grep -m1 number_of_executed_units "$build/fuzz/$ext.log" | awk '{print $2}') inputs, no finding" ||
        echo "$ext: FINDING, see $build/fuzz/$ext.log and $build/fuzz/findings/$ext/"
}
jobs_max=$(nproc)
for ext in "${formats[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs_max" ]; do wait -n || true; done
    run "$ext" &
done
wait
