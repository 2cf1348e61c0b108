#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, runs every test, then
# builds the core without the windows under AddressSanitizer/UndefinedBehaviorSanitizer and runs
# the core tests again, runs every fuzz target briefly (clang, sanitizers), checks the formatting,
# and last builds for Windows (scripts/windows-tests.sh): `plumeria.exe` and the core tests, run
# under Wine; with PLUMERIA_WINDOWS_GUI=1 also a static Qt for MinGW-w64, once into a cache, the
# tray program `PlumeriaBridge.exe`, its window tests under Wine, the release files and the
# self-update under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

JOBS=${JOBS:-$(nproc)}
BUILD=${BUILD:-build}
SAN_BUILD=${SAN_BUILD:-build-asan}

echo "== build (all targets, warnings as errors)"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLUMERIA_WERROR=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS"

echo "== tests"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS" --timeout 300

echo "== core tests under sanitizers, built without the windows"
cmake -S . -B "$SAN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPLUMERIA_GUI=OFF \
    -DPLUMERIA_BENCH=OFF -DPLUMERIA_WERROR=ON -DPLUMERIA_SANITIZE=ON >/dev/null
cmake --build "$SAN_BUILD" -j "$JOBS"
ctest --test-dir "$SAN_BUILD" --output-on-failure -j "$JOBS" --timeout 300 -L core

echo "== fuzz targets under sanitizers: each on its seed corpus plus ${FUZZ_SECONDS:-20} s of new inputs"
FUZZ_JOBS="$JOBS" bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"

echo "== formatting"
cmake --build "$BUILD" --target format-check

echo "== Windows: cross build, core tests under Wine, plumeria.exe against the Linux build" \
    "(with PLUMERIA_WINDOWS_GUI=1 also the tray program, its window tests, release files and" \
    "self-update)"
BUILD="$BUILD" JOBS="$JOBS" bash scripts/windows-tests.sh
