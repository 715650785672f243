#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (skips what is there).
set -euo pipefail
packages=(cmake ninja-build ccache g++ clang clang-format libclang-rt-14-dev qt6-base-dev qt6-base-dev-tools
          libqt6svg6 libcurl4-openssl-dev libssl-dev openssl libgtest-dev libgmock-dev python3 python3-pyftpdlib
          python3-openssl python3-paramiko openssh-client poppler-utils
          dpkg-dev appstream desktop-file-utils dbus-daemon
          xvfb xdotool openbox x11-utils imagemagick)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
