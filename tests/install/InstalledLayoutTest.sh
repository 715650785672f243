#!/usr/bin/env bash
# `cmake --install` into a temporary prefix puts every file where GNUInstallDirs
# says (nothing but the programs in bin/), and the installed runner finds its
# data from its own folder and backs up a project without writing into the
# installed tree.
# Usage: InstalledLayoutTest.sh BUILD_DIR SOURCE_DIR GUI(0|1) BINDIR DATADIR MANDIR
set -euo pipefail
build=$1 source=$2 gui=$3 bindir=$4 datadir=$5 mandir=$6

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
chmod 0755 "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

expected=("$bindir/tarnwick-backup-cli" "$mandir/man1/tarnwick-backup-cli.1.gz"
          "$datadir/bash-completion/completions/tarnwick-backup-cli")
for file in config.ini tarnwick_backup.tarn history.txt TarnwickBackuptrl.ini help.html; do
  expected+=("$datadir/tarnwick-backup/$file")
done
if [ "$gui" = 1 ]; then
  expected+=("$bindir/tarnwick-backup" "$mandir/man1/tarnwick-backup.1.gz"
             "$datadir/applications/tarnwick-backup.desktop"
             "$datadir/icons/hicolor/scalable/apps/tarnwick-backup.svg"
             "$datadir/metainfo/example.tarnwick.backup.metainfo.xml")
fi
installed_files() { (cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort); }
expected_list=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)
before=$(installed_files)
if [ "$before" != "$expected_list" ]; then
  echo "installed files differ from the expected layout:" >&2
  diff <(echo "$expected_list") <(echo "$before") >&2 || true
  exit 1
fi
for file in config.ini tarnwick_backup.tarn TarnwickBackuptrl.ini; do
  cmp "$source/res/$file" "$prefix/$datadir/tarnwick-backup/$file"
done

"$source/scripts/smoke-run.sh" "$prefix/$bindir/tarnwick-backup-cli"
after=$(installed_files)
[ "$after" = "$before" ] || { echo "the run changed the installed tree" >&2; exit 1; }
echo "installed layout ok"
