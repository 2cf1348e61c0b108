#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, runs every test, then
# builds the core without the windows under AddressSanitizer/UndefinedBehaviorSanitizer and runs
# the core tests again, runs every fuzz target briefly (clang, sanitizers), checks the formatting,
# and last builds for Windows (scripts/windows-tests.sh): a static Qt for MinGW-w64, once into a
# cache, then `plumeria.exe`, the tray program `PlumeriaBridge.exe` and their tests, run under
# Wine, the release files and the self-update under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

START=$(date +%s)
STAGES=()
stage() { STAGES+=("$(printf '  %-28s %5d s' "$1:" $(($(date +%s) - $2)))"); }

T=$(date +%s)
bash scripts/install-deps.sh
stage "installing what is missing" "$T"

JOBS=${JOBS:-$(nproc)}
BUILD=${BUILD:-build}
SAN_BUILD=${SAN_BUILD:-build-asan}

T=$(date +%s)
echo "== build (all targets, warnings as errors)"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLUMERIA_WERROR=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS"
stage "Linux build" "$T"

T=$(date +%s)
echo "== tests"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS" --timeout 300
stage "Linux tests" "$T"

T=$(date +%s)
echo "== core tests under sanitizers, built without the windows"
cmake -S . -B "$SAN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPLUMERIA_GUI=OFF \
    -DPLUMERIA_BENCH=OFF -DPLUMERIA_WERROR=ON -DPLUMERIA_SANITIZE=ON >/dev/null
cmake --build "$SAN_BUILD" -j "$JOBS"
ctest --test-dir "$SAN_BUILD" --output-on-failure -j "$JOBS" --timeout 300 -L core
stage "sanitizers" "$T"

T=$(date +%s)
echo "== fuzz targets under sanitizers: each on its seed corpus plus ${FUZZ_SECONDS:-20} s of new inputs"
FUZZ_JOBS="$JOBS" bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
stage "fuzzing" "$T"

T=$(date +%s)
echo "== formatting"
cmake --build "$BUILD" --target format-check
stage "formatting" "$T"

T=$(date +%s)
echo "== Windows: Qt for MinGW-w64, cross build, core and window tests under Wine," \
    "plumeria.exe against the Linux build, release files, self-update"
BUILD="$BUILD" JOBS="$JOBS" bash scripts/windows-tests.sh
stage "Windows" "$T"

echo
echo "== all tests passed; the steps took"
printf '%s\n' "${STAGES[@]}"
stage "in all" "$START"
echo "${STAGES[-1]}"
