# Sourced by the benchmark scripts. bench_make_root SIZE makes a work folder and,
# as root, a fresh loop-mounted ext4 file system of SIZE in it, because the root
# file system slows down the more files are created and deleted on it. An
# optional second argument is the bytes per inode (for millions of small files). Sets WORK
# and ROOT; everything is unmounted and removed at exit, after the commands that
# the script added to BENCH_AT_EXIT.
BENCH_AT_EXIT=()
MOUNTED=""

bench_cleanup() {
    cd /
    local command
    for command in "${BENCH_AT_EXIT[@]}"; do eval "$command" || true; done
    if [ -n "$MOUNTED" ]; then umount "$MOUNTED" || true; fi
    rm -rf "$WORK"
}

bench_make_root() {
    WORK=$(mktemp -d /tmp/tarnwick-bench-XXXXXX)
    trap bench_cleanup EXIT
    if [ "$(id -u)" = 0 ]; then
        truncate -s "$1" "$WORK/fs.img"
        mkfs.ext4 -q -F ${2:+-i "$2"} "$WORK/fs.img"
        mkdir "$WORK/mnt"
        mount -o loop "$WORK/fs.img" "$WORK/mnt"
        MOUNTED="$WORK/mnt"
        ROOT="$WORK/mnt"
    else
        echo "warning: not root, so no fresh file system; figures are less steady" >&2
        ROOT="$WORK"
    fi
}
