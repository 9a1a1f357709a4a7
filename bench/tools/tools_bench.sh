#!/usr/bin/env bash
# polyvant-convert beside assimp export and the floor program, in one run, on the meshes
# of gen_mesh.py; the 4M meshes against the 1M ones; and a batch of 100 small files with
# -j 1 and -j 2. Needs Debian's
# assimp-utils and time. Build first:
#   cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DPOLYVANT_BUILD_BENCH=ON
#   cmake --build build-rel --target polyvant-convert convert_floor obj stl ply
#   python3 ../shared/tools/gen_mesh.py --out /tmp/pvperf 1m 4m
#   bench/tools/tools_bench.sh build-rel [/tmp/pvperf] [runs] [batch|scaling|startup]
# With "batch" as the fourth argument only the batch of small files is timed, with
# "scaling" only the 4M meshes against the 1M ones, with "startup" only one small file;
# SIZES="1m" times only the 1M meshes. Paths must hold no blanks. Outputs go
# to a folder under $TMPDIR (/tmp by default, on disk): TMPDIR=/dev/shm times them without
# the disk, where polyvant's flush before each rename costs nothing and the floor's
# missing one gains nothing. The "flushed" floor writes a temporary file, flushes it to
# disk and renames it, as polyvant does.
# Each figure is the minimum wall time over the runs, the programs of one conversion
# taking turns run by run, with the peak resident memory of that run (the largest of the process and its children, as /usr/bin/time reports it).
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

# Times one run of the command; sets run_wall and run_mem. The wall time to a tenth of a
# millisecond from the shell's clock (time's %e has only hundredths, too coarse for the
# small batches); the peak memory from time. What the runs before left unwritten goes
# to the disk first, so that no program waits for another's output. The files named on
# the command line are read first: a machine that pages out file data unused for a
# while would otherwise leave some runs reading their input from the disk.
time_once() {
    local arg
    for arg in "$@"; do
        if [ -f "$arg" ]; then cat "$arg" > /dev/null; fi
    done
    sync
    local start=$EPOCHREALTIME
    run_mem=$(/usr/bin/time -f "%M" "$@" 2>&1 >/dev/null | tail -1)
    run_wall=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN{printf "%.4f", b - a}')
}

# True when wall time $1 is below $2.
faster() {
    awk -v a="$1" -v b="$2" 'BEGIN{exit !(a < b)}'
}

# One line of results: label, wall seconds, peak memory in KiB.
report() {
    printf "%-34s wall %8.4f s  peak %6d MiB\n" "$1" "$2" $(($3 / 1024))
}

# Times the commands of one conversion: labels[i] runs commands[i] (split at blanks, so
# paths without them). They take turns, run by run, so that the machine's speed, which
# drifts from minute to minute, touches them alike; each keeps its fastest run. Sets
# walls[i] to that time. "@RUN@" in a command stands for the round's number, which
# names outputs that no later run replaces; they are removed when the round is over.
take_turns() {
    local n=${#labels[@]} i round
    local mems=()
    walls=()
    for ((i = 0; i < n; i++)); do
        walls[i]=1e9
        mems[i]=0
    done
    for round in $(seq "$runs"); do
        for ((i = 0; i < n; i++)); do
            read -ra command <<< "${commands[i]//@RUN@/$round}"
            time_once "${command[@]}"
            if faster "$run_wall" "${walls[i]}"; then
                walls[i]=$run_wall
                mems[i]=$run_mem
            fi
            rm -f "$out"/*-"$round".* # an output named for the round, once it is timed
        done
    done
    for ((i = 0; i < n; i++)); do
        report "${labels[i]}" "${walls[i]}" "${mems[i]}"
    done
}

# polyvant's time (walls[0]) against the floor's, plain (walls[2]) and flushed (walls[3]).
against_floor() {
    awk -v p="${walls[0]}" -v f="${walls[2]}" -v d="${walls[3]}" \
        'BEGIN{printf "polyvant / floor %.2f, / flushed floor %.2f (goal 1.3)\n", p / f, p / d}'
}

# "-j 1 / -j 2" of the last four lines: polyvant's, then the floor's.
ratios() {
    awk -v a="$1" -v b="$2" -v c="$3" -v d="$4" \
        'BEGIN{printf "ratio -j 1 / -j 2: polyvant %.2f, floor %.2f (goal 1.8)\n", a / b, c / d}'
}

sizes=${SIZES:-1m 4m}
[ "$only" = batch ] || [ "$only" = startup ] && sizes=""
solo=$sizes
[ "$only" = scaling ] && solo=""
for n in $solo; do
    obj=$data/torus_$n.obj stl=$data/torus_$n.stl ply=$data/torus_$n.ply
    for mesh in "$obj" "$stl" "$ply"; do
        [ -f "$mesh" ] || {
            echo "tools_bench: no $mesh (python3 ../shared/tools/gen_mesh.py --out $data $n)" >&2
            exit 1
        }
    done
    echo "== torus $n (obj $(($(stat -c %s "$obj") >> 20)) MiB, stl $(($(stat -c %s "$stl") >> 20)) MiB, ply $(($(stat -c %s "$ply") >> 20)) MiB)"
    q="-q --time-limit 0"
    labels=("polyvant obj->stl binary" "assimp   obj->stl binary" "floor    obj->stl binary"
        "floor    obj->stl binary, flushed")
    commands=("$convert $q $obj $out/p.stl" "assimp export $obj $out/a.stl -fstlb"
        "$floor obj2stlb $obj $out/f.stl" "$floor durable obj2stlb $obj $out/f.stl")
    take_turns
    against_floor
    labels=("polyvant obj->stl ascii" "assimp   obj->stl ascii")
    commands=("$convert $q --option format=ASCII $obj $out/p.stl" "assimp export $obj $out/a.stl -fstl")
    take_turns
    labels=("polyvant stl->obj" "assimp   stl->obj" "floor    stl->obj" "floor    stl->obj, flushed")
    commands=("$convert $q $stl $out/p.obj" "assimp export $stl $out/a.obj -fobj"
        "$floor stl2obj $stl $out/f.obj" "$floor durable stl2obj $stl $out/f.obj")
    take_turns
    against_floor
    labels=("polyvant ply->obj" "assimp   ply->obj" "floor    ply->obj" "floor    ply->obj, flushed")
    commands=("$convert $q $ply $out/p.obj" "assimp export $ply $out/a.obj -fobj"
        "$floor ply2obj $ply $out/f.obj" "$floor durable ply2obj $ply $out/f.obj")
    take_turns
    against_floor
done

# How time grows with size: the 1M and 4M conversions taking turns, so that the drift
# of the machine's speed, which moves single figures by a quarter between minutes, does
# not fall on one size only. The floor's ratios show what the machine itself does.
if [[ " $sizes " == *" 1m "* && " $sizes " == *" 4m "* ]]; then
    for n in 1m 4m; do
        for mesh in "$data/torus_$n".{obj,stl,ply}; do
            [ -f "$mesh" ] || {
                echo "tools_bench: no $mesh (python3 ../shared/tools/gen_mesh.py --out $data $n)" >&2
                exit 1
            }
        done
    done
    echo "== 4M against 1M, the sizes taking turns"
    labels=() commands=()
    for conversion in "obj stl" "stl obj" "ply obj"; do
        read -r from to <<< "$conversion"
        kind=${from}2$to
        [ "$to" = stl ] && kind=${kind}b # the binary STL
        for n in 1m 4m; do
            labels+=("polyvant $from->$to $n" "floor    $from->$to $n")
            # A new output each run: replacing one frees its blocks, and this disk's
            # discards make that cost grow faster than the file.
            commands+=("$convert -q --time-limit 0 $data/torus_$n.$from $out/p$n-@RUN@.$to"
                "$floor $kind $data/torus_$n.$from $out/f$n-@RUN@.$to")
        done
    done
    take_turns
    for c in 0 1 2; do
        name=${labels[c * 4]#polyvant }
        awk -v name="${name% 1m}" -v p1="${walls[c * 4]}" -v f1="${walls[c * 4 + 1]}" \
            -v p4="${walls[c * 4 + 2]}" -v f4="${walls[c * 4 + 3]}" \
            'BEGIN{printf "%-10s 4M / 1M: polyvant %.2f, floor %.2f (goal at most 4.4)\n", name, p4 / p1, f4 / f1}'
    done
fi

[ "$only" = scaling ] && exit 0

# 100 small files: the Wuson model as OBJ.
mkdir -p "$out/small"
for i in $(seq -w 1 100); do
    cp "$(dirname "$0")/../../../shared/testdata/obj/WusonOBJ.obj" "$out/small/m$i.obj"
done

# What one small conversion costs beyond its work: start-up, with the viewer's extension
# table kept in the cache and read again by the settings reader (a cache folder that
# cannot be made), and the floor for the work itself. Both polyvant runs go through env.
if [ -z "$only" ] || [ "$only" = startup ]; then
    echo "== one small file to binary STL, start-up included"
    small=$out/small/m001.obj
    labels=("polyvant, table kept" "polyvant, table read" "floor")
    commands=("env XDG_CACHE_HOME=$out/cache $convert -q $small $out/s.stl"
        "env XDG_CACHE_HOME=/proc/self/none $convert -q $small $out/s.stl"
        "$floor obj2stlb $small $out/f.stl")
    take_turns
fi
[ "$only" = startup ] && exit 0
# A batch takes a tenth of a second, and a few runs leave its minimum to chance: at least
# 15 runs each. The four batches take turns, run by run, so that the machine's speed,
# which drifts from minute to minute, touches -j 1 and -j 2 alike.
[ "$runs" -lt 15 ] && runs=15

# Times one run of a batch into folder $1, emptied first when $fresh is set.
time_batch() {
    local folder=$1
    shift
    mkdir -p "$(dirname "$folder")"
    # The removal is flushed too, so that its disk work does not fall into the run.
    [ -n "$fresh" ] && rm -rf "$folder" && sync -f "$(dirname "$folder")"
    time_once "$@"
}

# The batch of small files with polyvant and the floor, -j 1 and -j 2, outputs under $1.
batches() {
    local root=$1
    local labels=("polyvant -j 1" "polyvant -j 2" "floor    -j 1" "floor    -j 2")
    local walls=(1e9 1e9 1e9 1e9) mems=(0 0 0 0) i round
    # Round 0 is not counted: when replacing, it writes the outputs that the first
    # counted run replaces.
    for round in $(seq 0 "$runs"); do
        for i in 0 1 2 3; do
            case $i in
            0 | 1) time_batch "$root/p" "$convert" -q -j $((i + 1)) --to stl -o "$root/p" "$out"/small/*.obj ;;
            *) time_batch "$root/f" "$floor" batch $((i - 1)) "$root/f" "$out"/small/*.obj ;;
            esac
            if [ "$round" -gt 0 ] && faster "$run_wall" "${walls[i]}"; then
                walls[i]=$run_wall
                mems[i]=$run_mem
            fi
        done
    done
    for i in 0 1 2 3; do
        report "${labels[i]}" "${walls[i]}" "${mems[i]}"
    done
    ratios "${walls[0]}" "${walls[1]}" "${walls[2]}" "${walls[3]}"
}

# Into an empty folder, as a first conversion writes; then over the outputs of the run
# before, where the file system also frees the files being replaced.
both_ways() {
    echo "-- into an empty folder"
    fresh=1 batches "$1/new"
    echo "-- replacing the outputs of the run before"
    fresh= batches "$1/old"
}

echo "== batch of 100 small OBJ files to binary STL ($runs runs each)"
both_ways "$out"

# The same into memory (tmpfs), where no flush waits for the disk: what is left of the
# gap between -j 1 and -j 2 is process and file-system work that does not overlap.
if mem=$(mktemp -d -p /dev/shm 2>/dev/null); then
    trap 'rm -rf "$out" "$mem"' EXIT
    echo "== the same batch written to tmpfs"
    both_ways "$mem"
fi
