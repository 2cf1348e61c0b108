#!/usr/bin/env bash
# Makes the release files of the Windows build, as the maker's site serves them to the
# self-update: PlumeriaBridge.zip with the one member PlumeriaBridge.exe (stripped, deflated),
# ver.txt with the version on its first line, and SHA256SUMS of both. Refuses a program that
# needs any DLL beyond Windows' own, since the update replaces that one file and nothing beside it.
#
#   scripts/release.sh [WIN_BUILD]     (default: build-win; the files are written into it)
set -euo pipefail
cd "$(dirname "$0")/.."

WIN_BUILD=${1:-${WIN_BUILD:-build-win}}
EXE="$WIN_BUILD/src/ui/PlumeriaBridge.exe"
[ -f "$EXE" ] || { echo "release: $EXE is not built" >&2; exit 1; }
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$WIN_BUILD/CMakeCache.txt")
[ -n "$VERSION" ] || { echo "release: no project version in $WIN_BUILD/CMakeCache.txt" >&2; exit 1; }

STAGE="$WIN_BUILD/release"
rm -rf "$STAGE"
mkdir -p "$STAGE"
x86_64-w64-mingw32-strip -o "$STAGE/PlumeriaBridge.exe" "$EXE"

# Windows' own libraries only: the system DLLs and the API sets Windows resolves itself.
IMPORTS=$(x86_64-w64-mingw32-objdump -p "$STAGE/PlumeriaBridge.exe" |
    sed -n 's/^[[:space:]]*DLL Name: //p' | sort -fu)
SYSTEM='^(advapi32|authz|comdlg32|d3d9|d3d11|dwmapi|dwrite|dxgi|gdi32|imm32|iphlpapi|kernel32|msvcrt|netapi32|ole32|oleaut32|shcore|shell32|shlwapi|user32|userenv|uxtheme|version|winhttp|winmm|ws2_32|wtsapi32|api-ms-win-[a-z0-9-]+)\.dll$'
FOREIGN=$(printf '%s\n' "$IMPORTS" | grep -viE "$SYSTEM" || true)
if [ -n "$FOREIGN" ]; then
    echo "release: PlumeriaBridge.exe needs DLLs that Windows does not have:" $FOREIGN >&2
    exit 1
fi
echo "PlumeriaBridge.exe $VERSION imports only Windows' own DLLs:" $IMPORTS

# One deflated member under the name the update looks for; a fixed time stamp, so the same
# program gives the same archive.
python3 - "$STAGE/PlumeriaBridge.exe" "$WIN_BUILD/PlumeriaBridge.zip" <<'PY'
import sys, zipfile
exe, archive = sys.argv[1], sys.argv[2]
info = zipfile.ZipInfo("PlumeriaBridge.exe", date_time=(2020, 1, 1, 0, 0, 0))
info.compress_type = zipfile.ZIP_DEFLATED
info.external_attr = 0o100755 << 16
with open(exe, "rb") as f, zipfile.ZipFile(archive, "w") as z:
    z.writestr(info, f.read(), compresslevel=9)
PY
printf '%s\r\n' "$VERSION" >"$WIN_BUILD/ver.txt"
(cd "$WIN_BUILD" && sha256sum PlumeriaBridge.zip ver.txt >SHA256SUMS)
echo "release: $WIN_BUILD/PlumeriaBridge.zip ($(wc -c <"$WIN_BUILD/PlumeriaBridge.zip") bytes)," \
    "$WIN_BUILD/ver.txt ($VERSION), $WIN_BUILD/SHA256SUMS"
