#!/usr/bin/env bash
# Renders the main window in English and German offscreen to docs/screenshot-en.png
# and docs/screenshot-de.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target screenshots
