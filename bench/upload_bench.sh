# Sourced by the upload benchmarks (FTP and SFTP against lftp): the data set,
# the turn-taking and the table they share.

# bench_make_upload_set <folder>: 2,000 files of 1-16 KiB in 20 folders, three
# days old, so that copies uploaded today are newer on the server.
bench_make_upload_set() {
    python3 - "$1" <<'PY'
import os, random, sys, time
random.seed(7)
stamp = time.time() - 3 * 86400
for folder in range(20):
    path = os.path.join(sys.argv[1], "folder%02d" % folder)
    os.makedirs(path)
    for number in range(100):
        with open(os.path.join(path, "file%03d.bin" % number), "wb") as out:
            out.write(os.urandom(random.randint(1024, 16384)))
        os.utime(os.path.join(path, "file%03d.bin" % number), (stamp, stamp))
PY
}

now() { echo "$EPOCHREALTIME"; }
timed() { local start; start=$(now); "$@"; awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
declare -A TIMES
record() { TIMES[$1]+="$2 "; }

# bench_take_turns <run> <case> <before each> <ours> <peer>: times both sides
# of a case (command lines, each after <before each>), the peer first in even
# runs, so neither always meets the warmer caches.
bench_take_turns() {
    local run=$1 case=$2 before=$3 ours=$4 peer=$5
    if ((run % 2)); then
        eval "$before"; record "$case-ours" "$(timed eval "$ours")"
        eval "$before"; record "$case-lftp" "$(timed eval "$peer")"
    else
        eval "$before"; record "$case-lftp" "$(timed eval "$peer")"
        eval "$before"; record "$case-ours" "$(timed eval "$ours")"
    fi
}

# bench_print_upload_table <case>...: min and median of each side and the ratio.
bench_print_upload_table() {
    local arguments=() case
    for case in "$@"; do arguments+=("$case" "${TIMES[$case-ours]}" "${TIMES[$case-lftp]}"); done
    python3 - "${arguments[@]}" <<'PY'
import statistics, sys
print("%-12s %22s %22s %14s" % ("case", "ours min / median s", "lftp min / median s", "ratio (median)"))
for index in range(1, len(sys.argv), 3):
    case = sys.argv[index]
    ours, lftp = (sorted(float(v) for v in text.split()) for text in sys.argv[index + 1:index + 3])
    print("%-12s %10.3f / %-9.3f %10.3f / %-9.3f %10.2fx" % (
        case, ours[0], statistics.median(ours), lftp[0], statistics.median(lftp),
        statistics.median(ours) / statistics.median(lftp)))
PY
}
