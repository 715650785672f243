#!/bin/bash
# Backup runs through the runner to a loopback SFTP server (paramiko, the tests'
# server) against lftp mirror -R over SFTP to the same server, taking turns in
# one run: 2,000 files of 1-16 KiB in 20 folders,
#   full        a full run into an empty folder   vs  mirror -R into an empty folder
#   unchanged   an incremental run, all there     vs  mirror -R --only-newer, all there
#   bench/sftp_upload_bench.sh [path/to/tarnwick-backup-cli] [runs]
set -euo pipefail

CLI=${1:-$(dirname "$0")/../build/core/bin/tarnwick-backup-cli}
RUNS=${2:-3}
[ -x "$CLI" ] || { echo "program not found: $CLI" >&2; exit 2; }
CLI=$(realpath "$CLI")
SCRIPT=$(realpath "$(dirname "$0")/../tests/support/sftp_test_server.py")
command -v lftp > /dev/null || { echo "lftp is missing (apt-get install lftp)" >&2; exit 2; }

source "$(dirname "$0")/fresh_fs.sh"
bench_make_root 2G
SERVER_PID=""
BENCH_AT_EXIT+=('[ -z "$SERVER_PID" ] || { kill "$SERVER_PID" 2> /dev/null; wait "$SERVER_PID" 2> /dev/null; }')

python3 - "$ROOT/data" <<'PY'
import os, random, sys, time
random.seed(7)
# Three days old, so that copies uploaded today are newer on the server.
stamp = time.time() - 3 * 86400
for folder in range(20):
    path = os.path.join(sys.argv[1], "folder%02d" % folder)
    os.makedirs(path)
    for number in range(100):
        with open(os.path.join(path, "file%03d.bin" % number), "wb") as out:
            out.write(os.urandom(random.randint(1024, 16384)))
        os.utime(os.path.join(path, "file%03d.bin" % number), (stamp, stamp))
PY

USER_NAME=bench PASSWORD=bench-password
mkdir -p "$ROOT/server" "$WORK/control" "$WORK/home"
ssh-keygen -q -t ecdsa -b 256 -m PEM -N '' -f "$WORK/host_key"
/usr/bin/python3 "$SCRIPT" --root "$ROOT/server" --control "$WORK/control" \
    --user-hex "$(printf %s "$USER_NAME" | xxd -p)" --password-hex "$(printf %s "$PASSWORD" | xxd -p)" \
    --host-key "$WORK/host_key" > "$WORK/server.out" 2> "$WORK/server.log" &
SERVER_PID=$!
for _ in $(seq 100); do grep -q READY "$WORK/server.out" 2> /dev/null && break; sleep 0.1; done
PORT=$(awk '/READY/ { print $2 }' "$WORK/server.out")
[ -n "$PORT" ] || { echo "the SFTP server did not start" >&2; cat "$WORK/server.log" >&2; exit 1; }
LOGIN="$ROOT/server/login"

# The runner in a home of its own, with the project, the destination and the
# host key accepted.
export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config"
PROJECT="$WORK/home/bench.tarn"
"$CLI" new "$PROJECT" > /dev/null
"$CLI" add --project "$PROJECT" "$ROOT/data" > /dev/null
echo "$PASSWORD" | "$CLI" destination --project "$PROJECT" "sftp://$USER_NAME@127.0.0.1:$PORT/ours" > /dev/null
"$CLI" trust-host --project "$PROJECT" --yes > /dev/null

now() { echo "$EPOCHREALTIME"; }
clear_remote() { rm -rf "${LOGIN:?}"/*; sync; }
ours() {  # ours <full|incremental>
    "$CLI" mode --project "$PROJECT" "$1" > /dev/null
    "$CLI" run "$PROJECT" > "$WORK/ours.out" 2>&1 || { cat "$WORK/ours.out" >&2; exit 1; }
}
peer() {  # peer [mirror options]
    lftp -u "$USER_NAME,$PASSWORD" -p "$PORT" \
        -e "set sftp:connect-program 'ssh -a -x -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null'; set net:max-retries 1; mirror -R --no-perms $* $ROOT/data peer; quit" \
        "sftp://127.0.0.1" > /dev/null
}
timed() { local start; start=$(now); "$@"; awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }

declare -A TIMES
record() { TIMES[$1]+="$2 "; }

echo "warming up ..." >&2
clear_remote; ours full; clear_remote; peer
for run in $(seq "$RUNS"); do
    echo "run $run of $RUNS ..." >&2
    if (( run % 2 )); then
        clear_remote; record "full-ours" "$(timed ours full)"
        clear_remote; record "full-lftp" "$(timed peer)"
    else
        clear_remote; record "full-lftp" "$(timed peer)"
        clear_remote; record "full-ours" "$(timed ours full)"
    fi
    # Everything on the server already: nothing to do for either.
    clear_remote; ours full; peer
    if (( run % 2 )); then
        record "unchanged-ours" "$(timed ours incremental)"
        record "unchanged-lftp" "$(timed peer --only-newer)"
    else
        record "unchanged-lftp" "$(timed peer --only-newer)"
        record "unchanged-ours" "$(timed ours incremental)"
    fi
done
[ "$(find "$LOGIN/ours" -type f | wc -l)" = 2000 ] || { echo "unexpected: not 2000 files on the server" >&2; exit 1; }

python3 - "${TIMES[full-ours]}" "${TIMES[full-lftp]}" "${TIMES[unchanged-ours]}" "${TIMES[unchanged-lftp]}" <<'PY'
import statistics, sys
values = [sorted(float(v) for v in text.split()) for text in sys.argv[1:]]
print("%-12s %22s %22s %14s" % ("case", "ours min / median s", "lftp min / median s", "ratio (median)"))
for index, case in enumerate(["full", "unchanged"]):
    ours, lftp = values[2 * index], values[2 * index + 1]
    print("%-12s %10.3f / %-9.3f %10.3f / %-9.3f %10.2fx" % (
        case, ours[0], statistics.median(ours), lftp[0], statistics.median(lftp),
        statistics.median(ours) / statistics.median(lftp)))
PY
