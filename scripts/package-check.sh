#!/usr/bin/env bash
# Builds the Debian package from a Release build (build/package), installs it
# with apt-get, checks the installed desktop entry, metainfo and libraries, runs
# the installed tarnwick-backup-cli on a small project as an ordinary user, and
# removes the package again. Installs system-wide: meant for CI and test machines.
set -euo pipefail
cd "$(dirname "$0")/.."
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
apt_get() { $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get -y -qq "$@"; }

build=build/package
# Only what the package holds: no tests.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/tarnwick-backup_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(realpath "$build"/tarnwick-backup_*.deb)
echo "package-check: built $deb"
dpkg-deb --field "$deb" Depends

# Whatever fails from here on, the machine does not keep the package.
trap 'apt_get remove tarnwick-backup >/dev/null 2>&1 || true' EXIT
apt_get install "$deb" >/dev/null

unexpected=$(dpkg -L tarnwick-backup | grep '^/usr/bin/.' | grep -Ev '^/usr/bin/tarnwick-backup(-cli)?$' || true)
[ -z "$unexpected" ] || { echo "package-check: unexpected files in /usr/bin: $unexpected" >&2; exit 1; }
for program in /usr/bin/tarnwick-backup /usr/bin/tarnwick-backup-cli; do
  if ldd "$program" | grep -q 'not found'; then
    echo "package-check: $program misses libraries:" >&2
    ldd "$program" | grep 'not found' >&2
    exit 1
  fi
done
desktop-file-validate /usr/share/applications/tarnwick-backup.desktop
appstreamcli validate --no-net /usr/share/metainfo/example.tarnwick.backup.metainfo.xml >/dev/null
[ -f /usr/share/icons/hicolor/scalable/apps/tarnwick-backup.svg ]
for page in tarnwick-backup tarnwick-backup-cli; do
  gzip -t "/usr/share/man/man1/$page.1.gz"
done

scripts/smoke-run.sh /usr/bin/tarnwick-backup-cli

apt_get remove tarnwick-backup >/dev/null
trap - EXIT
for gone in /usr/bin/tarnwick-backup-cli /usr/bin/tarnwick-backup /usr/share/tarnwick-backup; do
  [ ! -e "$gone" ] || { echo "package-check: $gone is still there after the removal" >&2; exit 1; }
done
echo "package-check: the package installs, runs and removes cleanly"
