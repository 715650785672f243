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
source "$(dirname "$0")/upload_bench.sh"
bench_make_root 2G
SERVER_PID=""
BENCH_AT_EXIT+=('[ -z "$SERVER_PID" ] || { kill "$SERVER_PID" 2> /dev/null; wait "$SERVER_PID" 2> /dev/null; }')

bench_make_upload_set "$ROOT/data"

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

echo "warming up ..." >&2
clear_remote; ours full; clear_remote; peer
for run in $(seq "$RUNS"); do
    echo "run $run of $RUNS ..." >&2
    bench_take_turns "$run" full clear_remote "ours full" peer
    # Everything on the server already: nothing to do for either.
    clear_remote; ours full; peer
    bench_take_turns "$run" unchanged : "ours incremental" "peer --only-newer"
done
[ "$(find "$LOGIN/ours" -type f | wc -l)" = 2000 ] || { echo "unexpected: not 2000 files on the server" >&2; exit 1; }

bench_print_upload_table full unchanged
