#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

if [ -x build/src/ui/PlumeriaBridge ]; then
    exec build/src/ui/PlumeriaBridge "$@"
fi
exec build/src/tool/plumeria "${@:-help}"
