#!/usr/bin/env bash
# Installs what building and testing PlumeriaBridge needs on Debian 12, and nothing when it is
# all there already (so CI on a prepared machine does not wait for apt).
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config clang-format
    clang libclang-rt-14-dev
    qt6-base-dev libgl-dev
    libsimpleini-dev libcurl4-openssl-dev zlib1g-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    openssl python3 iproute2
    g++-mingw-w64-x86-64 libz-mingw-w64-dev wine64 wine
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
