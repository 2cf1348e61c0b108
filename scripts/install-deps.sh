#!/usr/bin/env bash
# Installs what building and testing PlumeriaBridge needs on Debian 12, and nothing when it is
# all there already (so CI on a prepared machine does not wait for apt).
#
# Beside the compilers and libraries: Qt's own Russian texts (qt6-translations-l10n); for the
# Windows build of the tray program, Debian's Qt 6 host tools and dpkg-source (qt6-base-dev-tools,
# dpkg-dev: scripts/build-qt-mingw.sh fetches Debian's qt6-base source package through a deb-src
# list of its own and builds Qt for MinGW-w64 from it), a headless X server for Wine's windows
# (xvfb), the X libraries Wine's display driver loads at run time and GnuTLS, which Wine's
# WinHTTP takes for HTTPS (only recommended by Wine, so not there on a machine set up without
# recommendations), and openssl, iproute2 and python3 for the self-update check under Wine. The
# window tests under Wine draw with DejaVu Sans and DejaVu Sans Mono alone (fonts-dejavu-core), so
# that every machine draws them alike whatever other faces it has.
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config clang-format
    clang libclang-rt-14-dev
    qt6-base-dev libgl-dev
    libsimpleini-dev libcurl4-openssl-dev zlib1g-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    openssl python3 iproute2
    g++-mingw-w64-x86-64 libz-mingw-w64-dev wine64 wine
    qt6-translations-l10n
    qt6-base-dev-tools dpkg-dev xvfb fonts-dejavu-core
    libxrender1 libxcursor1 libxi6 libxrandr2 libxinerama1 libxcomposite1 libxfixes3 libgnutls30
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
