#!/usr/bin/env bash
# Sets up, builds and starts the desktop program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target tarnwick-backup
exec build/bin/tarnwick-backup "$@"
