#!/usr/bin/env bash
# Renders the main window in English, German and French, light and dark, at the
# normal font and 1.25x, offscreen to docs/screenshot-*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target screenshots
