#!/bin/bash
# FTP uploads of 2,000 small files (1-16 KiB) in 20 folders to a loopback
# pyftpdlib server, against lftp mirror -R, taking turns in one run:
#   full          FtpUploadFile per file      vs  mirror -R into an empty folder
#   incremental   FtpUploadIfNewer per file   vs  mirror -R into an empty folder
#   unchanged     FtpUploadIfNewer, all there vs  mirror -R --only-newer, all there
# Both clients use active mode (the program's mode). The server's folder sits on
# a fresh loop-mounted ext4 file system when run as root.
# With BENCH_TLS=1 both speak FTP with explicit TLS (control and data
# protected, passive mode) to the server with a self-signed certificate.
#   [BENCH_TLS=1] bench/ftp_upload_bench.sh [path/to/ftp_upload_bench] [runs]
set -euo pipefail

BENCH=${1:-$(dirname "$0")/../build/bench/bin/ftp_upload_bench}
RUNS=${2:-5}
[ -x "$BENCH" ] || { echo "program not found: $BENCH (build with -DTARNWICK_BENCH=ON)" >&2; exit 2; }
BENCH=$(realpath "$BENCH")
command -v lftp > /dev/null || { echo "lftp is missing (apt-get install lftp)" >&2; exit 2; }

source "$(dirname "$0")/fresh_fs.sh"
source "$(dirname "$0")/ftp_server.sh"
source "$(dirname "$0")/upload_bench.sh"
bench_make_root 2G

bench_make_upload_set "$ROOT/data"

USER_NAME=bench PASSWORD=bench-password
TLS_SERVER=() TLS_OURS=() LFTP_MODE="set ftp:passive-mode off"
if [ "${BENCH_TLS:-0}" = 1 ]; then
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$WORK/key.pem" \
        -out "$WORK/cert.pem" -days 2 -subj /CN=127.0.0.1 2> /dev/null
    TLS_SERVER=(--tls-cert "$WORK/cert.pem" --tls-key "$WORK/key.pem")
    TLS_OURS=("$WORK/cert.pem")
    LFTP_MODE="set ftp:passive-mode on; set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:verify-certificate no"
fi
bench_start_ftp_server "$ROOT/server" "$USER_NAME" "$PASSWORD" "${TLS_SERVER[@]}"
PORT=$FTP_PORT LOGIN=$FTP_LOGIN

clear_remote() { rm -rf "$LOGIN"/*; sync; }
ours() {  # ours <full|incremental>
    "$BENCH" "$1" "$ROOT/data" "127.0.0.1:$PORT" "$USER_NAME" "$PASSWORD" ours "${TLS_OURS[@]}" > "$WORK/ours.out" \
        || { cat "$WORK/ours.out" >&2; exit 1; }
}
peer() {  # peer [mirror options]
    lftp -u "$USER_NAME,$PASSWORD" -p "$PORT" \
        -e "$LFTP_MODE; set net:max-retries 1; mirror -R --no-perms $* $ROOT/data peer; quit" \
        127.0.0.1 > /dev/null
}

echo "warming up ..." >&2
clear_remote; ours full; clear_remote; peer
for run in $(seq "$RUNS"); do
    echo "run $run of $RUNS ..." >&2
    for case in full incremental; do bench_take_turns "$run" "$case" clear_remote "ours $case" peer; done
    # Everything on the server already: nothing to do for either.
    clear_remote; ours full; peer
    bench_take_turns "$run" unchanged : "ours incremental" "peer --only-newer"
    grep -q "stored=0 skipped=2000 failed=0" "$WORK/ours.out" || { echo "unexpected: $(cat "$WORK/ours.out")" >&2; exit 1; }
done

bench_print_upload_table full incremental unchanged
