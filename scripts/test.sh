#!/usr/bin/env bash
# Sets up, builds and runs every test:
#  1. the whole program with -Werror, every test but the fault group (GUI tests offscreen;
#     the x11 group starts the real program under Xvfb and leaves its screenshots in
#     build/full/x11-screenshots);
#  2. the core, the CLI and their tests without Qt, the fault group included, under
#     address and UB sanitizers;
#  3. the fuzz targets (clang, libFuzzer) for a fixed number of iterations;
#  4. the formatting check;
#  5. the Debian package: built, installed, run and removed (scripts/package-check.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build/full -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_WERROR=ON
cmake --build build/full -j "$jobs"
# The fault-injection group runs once, in the sanitizer build below.
(cd build/full && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" -LE 'fuzz|faults')

cmake -S . -B build/core-sanitized -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_GUI=OFF \
      -DTARNWICK_WERROR=ON -DTARNWICK_SANITIZE=ON
cmake --build build/core-sanitized -j "$jobs"
# Leaks inside system libraries are listed in tests/sanitizer/leaks.supp; the
# programs the tests start inherit the setting.
(cd build/core-sanitized && LSAN_OPTIONS="suppressions=$PWD/../../tests/sanitizer/leaks.supp" \
   ctest --output-on-failure -j "$jobs" -LE fuzz)

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_GUI=OFF -DTARNWICK_FUZZ=ON \
      -DCMAKE_CXX_COMPILER=clang++ -DBUILD_TESTING=ON
cmake --build build/fuzz -j "$jobs"
(cd build/fuzz && ctest --output-on-failure -L fuzz)

git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
scripts/package-check.sh
echo "All tests passed."
