#!/bin/bash
# The shell copy against cp -a, taking turns in one run, on a fresh loop-mounted
# ext4 file system (as root; otherwise in a temporary folder, with a warning).
#   bench/shell_copy_bench.sh [path/to/shell_copy_bench] [runs]
# Two data sets: 20,000 small files in 200 folders, and 3 files of 128 MiB.
set -euo pipefail

DRIVER=${1:-$(dirname "$0")/../build/bench/bin/shell_copy_bench}
RUNS=${2:-5}
[ -x "$DRIVER" ] || { echo "driver not found: $DRIVER (build with -DTARNWICK_BENCH=ON)" >&2; exit 2; }
DRIVER=$(realpath "$DRIVER")

source "$(dirname "$0")/fresh_fs.sh"
bench_make_root 3G

echo "making the data sets ..." >&2
python3 - "$ROOT/small" <<'PY'
import os, random, sys
root = sys.argv[1]
random.seed(7)
for folder in range(200):
    path = os.path.join(root, "folder%03d" % folder)
    os.makedirs(path)
    for index in range(100):
        name = (".hidden%02d" % index) if index % 25 == 0 else ("file%02d.txt" % index)
        with open(os.path.join(path, name), "wb") as out:
            out.write(os.urandom(random.randint(100, 8000)))
PY
mkdir -p "$ROOT/large"
for index in 1 2 3; do head -c $((128 * 1024 * 1024)) /dev/urandom > "$ROOT/large/file$index.bin"; done
sync

# Seconds taken by one copy of $2 (a set) with tool $1 into a fresh target.
time_copy() {
    local tool=$1 set=$2 target="$ROOT/copy"
    rm -rf "$target"
    sync
    local start end
    start=$EPOCHREALTIME
    if [ "$tool" = shell ]; then
        "$DRIVER" "$ROOT/$set/*.*" "$target"
    else
        cp -a "$ROOT/$set" "$target"
    fi
    end=$EPOCHREALTIME
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}

check_copy() {
    local set=$1
    diff -r "$ROOT/$set" "$ROOT/copy" > /dev/null || { echo "copy of $set differs from its source" >&2; exit 1; }
}

# min and median of the numbers on stdin
stats() { sort -g | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.3f %.3f\n", v[1], m }'; }

for set in small large; do
    time_copy shell "$set" > /dev/null
    check_copy "$set"
    time_copy cp "$set" > /dev/null
    shell_times=() cp_times=()
    for ((run = 0; run < RUNS; run++)); do
        # Alternate which tool goes first, so neither always inherits the other's writeback.
        if ((run % 2 == 0)); then
            shell_times+=("$(time_copy shell "$set")")
            cp_times+=("$(time_copy cp "$set")")
        else
            cp_times+=("$(time_copy cp "$set")")
            shell_times+=("$(time_copy shell "$set")")
        fi
    done
    read -r shell_min shell_median < <(printf '%s\n' "${shell_times[@]}" | stats)
    read -r cp_min cp_median < <(printf '%s\n' "${cp_times[@]}" | stats)
    printf '%-6s shell copy: min %7.3f s  median %7.3f s | cp -a: min %7.3f s  median %7.3f s | ratio min %.2f median %.2f\n' \
        "$set" "$shell_min" "$shell_median" "$cp_min" "$cp_median" \
        "$(awk -v a="$shell_min" -v b="$cp_min" 'BEGIN { print a / b }')" \
        "$(awk -v a="$shell_median" -v b="$cp_median" 'BEGIN { print a / b }')"
done
