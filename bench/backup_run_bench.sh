#!/bin/bash
# Whole backup runs through `tarnwick-backup-cli run` against cp -a, rsync -a
# and lftp (uploads to the loopback test server), taking turns in one run, on a
# fresh loop-mounted ext4 file system (as root; otherwise in a temporary folder,
# with a warning). Prints one table: min and median of each side and their
# ratios (ours / peer), the last column the goal.
#   bench/backup_run_bench.sh [path/to/tarnwick-backup-cli] [runs] [cases]
# cases: any of full, incremental, ftp, log, memory separated by commas
# (default: full,incremental,ftp,memory).
# BEFORE=<another tarnwick-backup-cli> also times that build in the same rounds
# (incremental and memory cases), so two versions are compared under one load.
# Data: 20,000 small files in 200 flat folders ("small") and the same number of
# 1-16 KiB files in 200 folders six levels deep with long names holding spaces
# and non-ASCII letters ("deep"); 2,000 such files in 200 such folders for the
# uploads ("ftp", three days old, so copies uploaded today are newer); 8 files
# of 128 MiB; a walk of 1,000,000 files for the peak memory.
set -euo pipefail

CLI=${1:-$(dirname "$0")/../build/bench/bin/tarnwick-backup-cli}
RUNS=${2:-5}
CASES=",${3:-full,incremental,ftp,memory},"
[ -x "$CLI" ] || { echo "program not found: $CLI (build with -DTARNWICK_BENCH=ON)" >&2; exit 2; }
CLI=$(realpath "$CLI")
if [ -n "${BEFORE:-}" ]; then BEFORE=$(realpath "$BEFORE"); fi

wanted() { [[ $CASES == *",$1,"* ]]; }
if wanted ftp; then command -v lftp > /dev/null || { echo "lftp is missing (apt-get install lftp)" >&2; exit 2; }; fi
if wanted memory && [ ! -x /usr/bin/time ]; then
    if [ "$(id -u)" = 0 ]; then apt-get install -y -qq time > /dev/null; fi
    [ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (apt-get install time)" >&2; exit 2; }
fi

source "$(dirname "$0")/fresh_fs.sh"
source "$(dirname "$0")/ftp_server.sh"
# Small inodes: the memory case holds two million files.
bench_make_root 12G 4096

# The program's per-user files live in a home of their own.
export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config"
SETTINGS="$XDG_CONFIG_HOME/Tarnwick/TarnwickBackup/7.00"
mkdir -p "$SETTINGS"
cp "$(dirname "$CLI")/config.ini" "$(dirname "$CLI")/history.txt" "$SETTINGS/"

# Options: position 0 incremental, 4 log.
set_options() {
    awk -v value="$1" '{ cr = sub(/\r$/, ""); if (previous == "Options") $0 = value; previous = $0; printf "%s%s\n", $0, (cr ? "\r" : "") }' \
        "$SETTINGS/config.ini" > "$SETTINGS/config.new"
    mv "$SETTINGS/config.new" "$SETTINGS/config.ini"
}
FULL=000000000000000 INCREMENTAL=100000000000000 INCREMENTAL_LOG=100010000000000

# write_project <file> <destination folder> <folder entry>...
write_project() {
    local file=$1 destination=$2 entries="" folder
    shift 2
    for folder in "$@"; do entries+="$folder/...*"; done
    printf 'Tarnwick Backup Project\r\n========================\r\n\r\n%s/...\r\n60\r\n60\r\n\r\n%s' \
        "$destination" "$entries" > "$file"
}

echo "making the data sets ..." >&2
WALK_SET="-"
if wanted memory; then WALK_SET="$ROOT/walk"; fi
python3 - "$ROOT/small" "$ROOT/deep" "$ROOT/ftp" "$WALK_SET" <<'PY'
import os, random, sys, time
random.seed(7)
def write(path, sizes):
    with open(path, "wb") as out:
        out.write(os.urandom(random.randint(*sizes)))
def make(root, folders, files, sizes):
    for folder in range(folders):
        path = os.path.join(root, "folder%04d" % folder)
        os.makedirs(path)
        for index in range(files):
            name = (".hidden%02d" % index) if index % 25 == 0 else ("file%02d.txt" % index)
            write(os.path.join(path, name), sizes)
# Chains of six folders, each one inside the one before.
def make_deep(root, folders, files, sizes):
    parents = [root]
    for folder in range(folders):
        depth = folder % 6
        path = os.path.join(parents[depth], "Ordner %03d \u2013 caf\u00e9 \u0141\u00f3d\u017a \u6771\u4eac r\u00e9sum\u00e9" % folder)
        os.makedirs(path)
        parents[depth + 1:] = [path]
        for index in range(files):
            name = (".versteckt %02d" % index) if index % 25 == 0 else ("Bericht %02d f\u00fcr M\u00fcller \u2013 na\u00efve.txt" % index)
            write(os.path.join(path, name), sizes)
make(sys.argv[1], 200, 100, (100, 8000))
make_deep(sys.argv[2], 200, 100, (1024, 16384))
make_deep(sys.argv[3], 200, 10, (1024, 16384))
stamp = time.time() - 3 * 86400
for folder, _, names in os.walk(sys.argv[3]):
    for name in names:
        os.utime(os.path.join(folder, name), (stamp, stamp))
if sys.argv[4] != "-":
    make(sys.argv[4], 2000, 500, (0, 0))
PY
mkdir -p "$ROOT/large"
for index in 1 2 3 4 5 6 7 8; do head -c $((128 * 1024 * 1024)) /dev/urandom > "$ROOT/large/file$index.bin"; done
sync

# Seconds taken by a command (its output discarded; it must succeed).
seconds() {
    local start end
    start=$EPOCHREALTIME
    "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    end=$EPOCHREALTIME
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}
# min and median of the numbers on stdin
stats() { sort -g | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.3f %.3f", v[1], m }'; }

# A fresh minute for each round, so every touched file differs from its copy.
STAMP=0
touch_files() {  # touch_files <every n-th file> <tree>
    STAMP=$((STAMP + 1))
    find "$2" -type f | awk -v n="$1" 'NR % n == 0' | xargs -d '\n' touch -d "2020-01-01 00:00 +$STAMP minutes"
}

RESULTS=()
# report <label> <goal> <our times> <peer times> <peer name>
report() {
    local ours peers
    ours=$(printf '%s\n' $3 | stats)
    peers=$(printf '%s\n' $4 | stats)
    RESULTS+=("$(awk -v l="$1" -v g="$2" -v o="$ours" -v p="$peers" -v n="$5" 'BEGIN {
        split(o, a, " "); split(p, b, " ");
        printf "%-38s %7.3f %7.3f  %-17s %7.3f %7.3f  %6.2f %6.2f  %s", l, a[1], a[2], n, b[1], b[2], a[1] / b[1], a[2] / b[2], g }')")
}

# Full backup into a cold destination against cp -a, and with a third
# argument against rsync -a too.
bench_full() {
    local set=$1 goal=$2 with_rsync=${3:-} ours=() peers=() rsyncs=()
    write_project "$WORK/full.tarn" "$ROOT/dest" "$ROOT/$set"
    set_options $FULL
    for ((run = 0; run <= RUNS; run++)); do
        rm -rf "$ROOT/dest" "$ROOT/peer"; sync
        local a b c=0
        a=$(seconds "$CLI" run "$WORK/full.tarn")
        rm -rf "$ROOT/dest" "$ROOT/peer"; sync
        b=$(seconds cp -a "$ROOT/$set" "$ROOT/peer")
        if [ -n "$with_rsync" ]; then
            rm -rf "$ROOT/peer"; sync
            c=$(seconds rsync -a "$ROOT/$set/" "$ROOT/peer/")
        fi
        if ((run > 0)); then ours+=("$a"); peers+=("$b"); rsyncs+=("$c"); fi
    done
    diff -r "$ROOT/$set" "$ROOT/peer" > /dev/null
    report "full, $set" "$goal" "${ours[*]}" "${peers[*]}" "cp -a"
    if [ -n "$with_rsync" ]; then report "full, $set" "$goal" "${ours[*]}" "${rsyncs[*]}" "rsync -a"; fi
    rm -rf "$ROOT/dest" "$ROOT/peer"
}

# Uploads to the loopback test server (active mode, as both programs use by
# default) against lftp mirror -R, each into its own folder there.
FTP_USER=bench FTP_PASSWORD=bench-password
ftp_project() {  # ftp_project <file> <folder entry>
    printf 'Tarnwick Backup Project\r\n========================\r\n\r\n%s\r\n60\r\n60\r\n\r\n%s/...*' \
        "ftp://127.0.0.1:$FTP_PORT/...@!@$FTP_USER@!@$FTP_PASSWORD@!@ours" "$2" > "$1"
}
ftp_ours_copy() { echo "$FTP_LOGIN/ours/tarnwick_backup_folder/$(echo "$ROOT/$1" | tr / _)"; }
lftp_mirror() {  # lftp_mirror [mirror options] <folder> <remote folder>
    lftp -u "$FTP_USER,$FTP_PASSWORD" -p "$FTP_PORT" \
        -e "set ftp:passive-mode off; set net:max-retries 1; mirror -R --no-perms $*; quit" 127.0.0.1
}
clear_remote() { rm -rf "$FTP_LOGIN"/*; sync; }
stored_count() { grep -c '^STOR' "$WORK/control/events" || true; }

# CPU seconds the test server has used so far. The server is one Python
# thread: when it is busy all the time, its CPU time per upload is the floor.
server_cpu() {
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f\n", ($14 + $15) / hz }' "/proc/$FTP_SERVER_PID/stat"
}
server_cpu_since() { awk -v a="$1" -v b="$(server_cpu)" 'BEGIN { printf "%.3f", b - a }'; }
# Full upload into an empty server folder against lftp mirror -R; the second
# row is the server's CPU time for each side.
bench_ftp_full() {
    local set=$1 goal=$2 ours=() peers=() ours_cpu=() peers_cpu=()
    ftp_project "$WORK/ftp.tarn" "$ROOT/$set"
    set_options $FULL
    for ((run = 0; run <= RUNS; run++)); do
        local a b c d
        clear_remote
        c=$(server_cpu)
        a=$(seconds "$CLI" run "$WORK/ftp.tarn")
        c=$(server_cpu_since "$c")
        if ((run == 0)); then diff -r "$ROOT/$set" "$(ftp_ours_copy "$set")" > /dev/null; fi
        clear_remote
        d=$(server_cpu)
        b=$(seconds lftp_mirror "$ROOT/$set" peer)
        d=$(server_cpu_since "$d")
        if ((run > 0)); then ours+=("$a"); peers+=("$b"); ours_cpu+=("$c"); peers_cpu+=("$d"); fi
    done
    diff -r "$ROOT/$set" "$FTP_LOGIN/peer" > /dev/null
    report "FTP full upload, $set" "$goal" "${ours[*]}" "${peers[*]}" "lftp mirror -R"
    report "  floor: test server CPU seconds" "" "${ours_cpu[*]}" "${peers_cpu[*]}" "lftp mirror -R"
    clear_remote
}

# Everything on the server already and older locally: an incremental run
# against mirror -R --only-newer; neither may store a file.
bench_ftp_unchanged() {
    local set=$1 goal=$2 ours=() peers=()
    ftp_project "$WORK/ftp.tarn" "$ROOT/$set"
    clear_remote
    set_options $FULL
    "$CLI" run "$WORK/ftp.tarn" > /dev/null 2>&1
    lftp_mirror "$ROOT/$set" peer > /dev/null 2>&1
    set_options $INCREMENTAL
    local before
    before=$(stored_count)
    for ((run = 0; run <= RUNS; run++)); do
        local a b
        a=$(seconds "$CLI" run "$WORK/ftp.tarn")
        b=$(seconds lftp_mirror --only-newer "$ROOT/$set" peer)
        if ((run > 0)); then ours+=("$a"); peers+=("$b"); fi
    done
    [ "$(stored_count)" = "$before" ] || { echo "a re-run with nothing changed stored files" >&2; exit 1; }
    report "FTP re-run, nothing changed, $set" "$goal" "${ours[*]}" "${peers[*]}" "lftp --only-newer"
    clear_remote
}

# Incremental run against rsync -a; every n-th file changed before each round
# (0: nothing changed). With BEFORE, that build runs in each round too, into a
# backup folder of its own. The floor is `find -printf` reading the status of
# every item of both trees, as the comparison must.
bench_incremental() {
    local set=$1 every=$2 label=$3 goal=$4 ours=() peers=() before=() floor=()
    local copy="$ROOT/dest/$(echo "$ROOT/$set" | tr / _)"
    write_project "$WORK/inc.tarn" "$ROOT/dest" "$ROOT/$set"
    write_project "$WORK/inc-before.tarn" "$ROOT/dest-before" "$ROOT/$set"
    set_options $INCREMENTAL
    rm -rf "$ROOT/dest" "$ROOT/dest-before" "$ROOT/peer"
    "$CLI" run "$WORK/inc.tarn" > /dev/null 2>&1
    if [ -n "${BEFORE:-}" ]; then "$BEFORE" run "$WORK/inc-before.tarn" > /dev/null 2>&1; fi
    rsync -a "$ROOT/$set/" "$ROOT/peer/"
    sync
    for ((run = 0; run <= RUNS; run++)); do
        if ((every > 0)); then touch_files "$every" "$ROOT/$set"; sync; fi
        local a b c=0 d
        a=$(seconds "$CLI" run "$WORK/inc.tarn")
        d=$(seconds find "$ROOT/$set" "$copy" -printf '%T@ %s %l\n')
        if [ -n "${BEFORE:-}" ]; then c=$(seconds "$BEFORE" run "$WORK/inc-before.tarn"); fi
        b=$(seconds rsync -a "$ROOT/$set/" "$ROOT/peer/")
        if ((run > 0)); then ours+=("$a"); peers+=("$b"); before+=("$c"); floor+=("$d"); fi
    done
    diff -r "$ROOT/$set" "$copy" > /dev/null
    report "$label" "goal <= $goal" "${ours[*]}" "${peers[*]}" "rsync -a"
    report "  floor: find -printf, both trees" "" "${floor[*]}" "${peers[*]}" "rsync -a"
    if [ -n "${BEFORE:-}" ]; then
        diff -r "$ROOT/$set" "$ROOT/dest-before/$(echo "$ROOT/$set" | tr / _)" > /dev/null
        report "  before: $label" "" "${before[*]}" "${peers[*]}" "rsync -a"
    fi
    rm -rf "$ROOT/dest" "$ROOT/dest-before" "$ROOT/peer"
}

# Every file changed: the run with the history log against the run without.
bench_log() {
    local logged=() unlogged=()
    write_project "$WORK/inc.tarn" "$ROOT/dest" "$ROOT/small"
    set_options $INCREMENTAL
    "$CLI" run "$WORK/inc.tarn" > /dev/null 2>&1
    for ((run = 0; run <= RUNS; run++)); do
        local a b
        touch_files 1 "$ROOT/small"; sync
        set_options $INCREMENTAL_LOG
        a=$(seconds "$CLI" run "$WORK/inc.tarn")
        touch_files 1 "$ROOT/small"; sync
        set_options $INCREMENTAL
        b=$(seconds "$CLI" run "$WORK/inc.tarn")
        if ((run > 0)); then logged+=("$a"); unlogged+=("$b"); fi
    done
    report "incremental, all changed, log on" "goal <= 1.3" "${logged[*]}" "${unlogged[*]}" "log off"
    rm -rf "$ROOT/dest"
}

# Peak RSS (MB) and elapsed time of an incremental run of <program> over the walk set.
walk_peak() {
    /usr/bin/time -v "$1" run "$WORK/walk.tarn" > /dev/null 2> "$WORK/walk.time"
    local kilobytes
    kilobytes=$(awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }' "$WORK/walk.time")
    printf "peak RSS %.1f MB, %s elapsed" "$(awk -v k="$kilobytes" 'BEGIN { print k / 1024 }')" \
        "$(awk '/Elapsed \(wall clock\)/ { print $NF }' "$WORK/walk.time")"
}

# Peak memory of an incremental run that walks 1,000,000 up-to-date files.
bench_walk_memory() {
    write_project "$WORK/walk.tarn" "$ROOT/dest" "$ROOT/walk"
    set_options $INCREMENTAL
    mkdir -p "$ROOT/dest"
    cp -a "$ROOT/walk" "$ROOT/dest/$(echo "$ROOT/walk" | tr / _)"
    sync
    RESULTS+=("$(printf '%-38s %s  (goal < 150 MB)' "incremental walk, 1,000,000 files" "$(walk_peak "$CLI")")")
    if [ -n "${BEFORE:-}" ]; then RESULTS+=("$(printf '%-38s %s' "  before" "$(walk_peak "$BEFORE")")"); fi
}

if wanted full; then
    echo "full backups ..." >&2
    bench_full small "keep (was 0.33 / 0.51)" rsync
    bench_full deep "keep (was 0.33 / 0.51)" rsync
    bench_full large "goal <= 1.0"
fi
if wanted incremental; then
    echo "incremental backups ..." >&2
    bench_incremental small 0 "incremental, small, nothing changed" 0.6
    bench_incremental small 100 "incremental, small, 1% changed" 0.7
    bench_incremental deep 0 "incremental, deep, nothing changed" 0.6
    bench_incremental deep 100 "incremental, deep, 1% changed" 0.7
    bench_incremental large 0 "incremental, large, nothing changed" 0.8
fi
if wanted ftp; then
    echo "uploads ..." >&2
    bench_start_ftp_server "$ROOT/server" "$FTP_USER" "$FTP_PASSWORD"
    bench_ftp_full ftp "goal <= 0.5"
    bench_ftp_full large "goal <= 1.0"
    bench_ftp_unchanged ftp "goal <= 0.5"
fi
if wanted log; then
    echo "history log ..." >&2
    bench_log
fi
if wanted memory; then
    echo "walk memory ..." >&2
    bench_walk_memory
fi

printf '\n%-38s %7s %7s  %-17s %7s %7s  %6s %6s  %s\n' "case (seconds, $RUNS runs)" "min" "median" "peer" "min" \
    "median" "r.min" "r.med" "goal (r.med)"
printf '%s\n' "${RESULTS[@]}"
