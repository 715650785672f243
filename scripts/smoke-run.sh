#!/usr/bin/env bash
# Runs the given tarnwick-backup-cli once as an ordinary user would: a fresh home
# with nothing in it yet, a project with a folder entry and a file entry, a
# local backup folder. Checks the exit code and that the copies arrived. Run as
# root, the program runs as nobody, so that no write to the installed files can
# pass unnoticed. Usage: scripts/smoke-run.sh CLI
set -euo pipefail
cli=${1:?usage: $0 CLI}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/source/Data/a" "$work/backup"
printf 'bee\n' >"$work/source/Data/a/b.txt"
printf 'notes\n' >"$work/source/notes.txt"
# Header, underline, blank, backup folder, interval, minutes left, last run,
# the entries each ended by "*".
printf '%s\r\n' "Tarnwick Backup Project" "========================" "" "$work/backup/..." 60 60 "" \
  "$work/source/Data/...*$work/source/notes.txt*" >"$work/project.tarn"

as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chmod 0755 "$work"
  chown -R nobody:nogroup "$work"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
status=0
"${as_user[@]}" env -i HOME="$work/home" PATH=/usr/bin:/bin LANG=C.UTF-8 \
  "$cli" run "$work/project.tarn" >"$work/out.txt" 2>"$work/err.txt" || status=$?

fail() {
  echo "smoke-run: $*" >&2
  echo "--- stdout:" >&2; cat "$work/out.txt" >&2
  echo "--- stderr:" >&2; cat "$work/err.txt" >&2
  exit 1
}
[ "$status" -eq 0 ] || fail "$cli exited with $status"
# A folder entry lands under its path with every "/" made "_".
data_copy="$work/backup/$(printf '%s' "$work/source/Data" | tr / _)"
[ "$(cat "$data_copy/a/b.txt" 2>/dev/null)" = bee ] || fail "the folder entry was not copied to $data_copy"
[ "$(cat "$work/backup/notes.txt" 2>/dev/null)" = notes ] || fail "the file entry was not copied"
[ -f "$work/home/.config/Tarnwick/TarnwickBackup/7.00/config.ini" ] ||
  fail "the settings were not made from the installed template"
echo "smoke-run: $cli backed up a small project"
