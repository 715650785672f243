# Sourced by the benchmark scripts after fresh_fs.sh. bench_start_ftp_server
# <server root> <user> <password> [extra server options] starts the loopback
# test server (tests/support/ftp_test_server.py) serving <server root>, the
# user starting in its "login" folder; sets FTP_PORT and FTP_LOGIN and stops
# the server at exit.
FTP_SERVER_PID=""
BENCH_AT_EXIT+=('[ -z "$FTP_SERVER_PID" ] || { kill "$FTP_SERVER_PID" 2> /dev/null; wait "$FTP_SERVER_PID" 2> /dev/null; }')

bench_start_ftp_server() {
    local root=$1 user=$2 password=$3
    shift 3
    local script
    script=$(realpath "$(dirname "${BASH_SOURCE[0]}")/../tests/support/ftp_test_server.py")
    command -v xxd > /dev/null || { echo "xxd is missing (apt-get install xxd)" >&2; exit 2; }
    mkdir -p "$root" "$WORK/control"
    /usr/bin/python3 "$script" --root "$root" --control "$WORK/control" \
        --user-hex "$(printf %s "$user" | xxd -p)" --password-hex "$(printf %s "$password" | xxd -p)" \
        "$@" > "$WORK/server.out" 2> "$WORK/server.log" &
    FTP_SERVER_PID=$!
    for _ in $(seq 100); do grep -q READY "$WORK/server.out" 2> /dev/null && break; sleep 0.1; done
    FTP_PORT=$(awk '/READY/ { print $2 }' "$WORK/server.out")
    [ -n "$FTP_PORT" ] || { echo "the FTP server did not start" >&2; cat "$WORK/server.log" >&2; exit 1; }
    FTP_LOGIN="$root/login"
}
