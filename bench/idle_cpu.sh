#!/usr/bin/env bash
# How much CPU a waiting program costs: `plumeria run` and the tray program `PlumeriaBridge`, each
# watching an empty folder (then one with 200 unrelated files) with no scale, measured over N
# seconds after a short settling time. On Linux from the Linux build; with Wine and a Windows
# build also `plumeria.exe` and `PlumeriaBridge.exe` under Wine (the program's process and the
# wineserver, which carries every system call of a Windows program). Prints numbers only.
#
#   bash bench/idle_cpu.sh [SECONDS]      (default 20)
#   BUILD, WIN_BUILD                       the build folders (default: build, build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_MEASURED=${1:-20}
BUILD=${BUILD:-$ROOT/build}
WIN_BUILD=${WIN_BUILD:-$ROOT/build-win}
HZ=$(getconf CLK_TCK)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/plumeria-idle.XXXXXX")
PIDS=()
cleanup() {
    for Pid in "${PIDS[@]}"; do kill "$Pid" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT

ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }

# measure NAME PID [EXTRA_PID]: CPU seconds of PID (and EXTRA_PID) over the measured time.
measure() {
    local Name=$1 Pid=$2 Extra=${3:-}
    sleep 3
    local A0 B0 A1 B1
    A0=$(ticks "$Pid")
    B0=0
    [ -n "$Extra" ] && B0=$(ticks "$Extra")
    sleep "$SECONDS_MEASURED"
    A1=$(ticks "$Pid")
    B1=0
    [ -n "$Extra" ] && B1=$(ticks "$Extra")
    if ! kill -0 "$Pid" 2>/dev/null; then
        printf '%-52s  ended early (see %s)\n' "$Name" "$WORK"
        return
    fi
    awk -v n="$Name" -v a=$((A1 - A0)) -v b=$((B1 - B0)) -v hz="$HZ" -v s="$SECONDS_MEASURED" \
        -v extra="$Extra" 'BEGIN {
            line = sprintf("%-52s  %6.2f s CPU in %d s (%5.2f%% of a core)", n, a / hz, s,
                           100 * a / hz / s)
            if (extra != "")
                line = line sprintf(", wineserver %5.2f s", b / hz)
            print line
        }'
}

settings() { # FILE WATCH
    printf '%s\r\n' '[General]' "WatchFolder=$2" 'FileMask=*.csv' 'AutoUpdate=0' \
        'RunWithWindows=0' 'ScaleCount=0' >"$1"
}

fill() { # FOLDER: 200 files the mask does not take
    for I in $(seq 200); do : >"$1/unrelated-$I.txt"; done
}

echo "== idle CPU over $SECONDS_MEASURED s (after 3 s to settle)"
for Files in empty 200; do
    for Program in "$BUILD/src/tool/plumeria" "$BUILD/src/ui/PlumeriaBridge"; do
        [ -x "$Program" ] || continue
        Case="$WORK/linux-$(basename "$Program")-$Files"
        mkdir -p "$Case/watch" "$Case/data/PlumeriaBridge" "$Case/home"
        [ "$Files" = 200 ] && fill "$Case/watch"
        settings "$Case/data/PlumeriaBridge/settings.ini" "$Case/watch"
        Args=()
        [ "$(basename "$Program")" = plumeria ] && Args=(run)
        (cd "$Case" && HOME="$Case/home" ProgramData="$Case/data" XDG_CONFIG_HOME="$Case/home" \
            XDG_RUNTIME_DIR="$Case/home" QT_QPA_PLATFORM=offscreen \
            exec "$Program" "${Args[@]}" >"$Case/out" 2>&1) &
        PIDS+=($!)
        measure "Linux $(basename "$Program") ${Args[*]} ($Files folder)" "${PIDS[-1]}"
        kill "${PIDS[-1]}" 2>/dev/null || true
        wait "${PIDS[-1]}" 2>/dev/null || true
    done
done

WINE=$(command -v /usr/lib/wine/wine64 || command -v wine64 || true)
if [ -z "$WINE" ] || [ ! -x "$WIN_BUILD/src/tool/plumeria.exe" ]; then
    echo "(no Wine or no Windows build in $WIN_BUILD: the Windows programs are not measured)"
    exit 0
fi
WINESERVER=$(dirname "$WINE")/wineserver
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)
export WINEPREFIX="$WIN_BUILD/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || { echo "(no Wine prefix in $WINEPREFIX: run scripts/windows-tests.sh first)"; exit 0; }
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n 1 "$WORK/display")"
"$WINESERVER" -w 2>/dev/null || true
"$WINESERVER" -p 60
SERVER_PID=$(pgrep -n -f "$WINESERVER" || pgrep -n wineserver || true)
# Wine takes ProgramData from its own registry: the prefix's C:\ProgramData\PlumeriaBridge.
WINE_DATA="$WINEPREFIX/drive_c/ProgramData/PlumeriaBridge"
mkdir -p "$WINE_DATA"
[ -f "$WINE_DATA/settings.ini" ] && mv "$WINE_DATA/settings.ini" "$WORK/settings.ini.kept"
for Files in empty 200; do
    for Program in "$WIN_BUILD/src/tool/plumeria.exe" "$WIN_BUILD/src/ui/PlumeriaBridge.exe"; do
        [ -f "$Program" ] || continue
        Case="$WORK/windows-$(basename "$Program")-$Files"
        mkdir -p "$Case/watch"
        [ "$Files" = 200 ] && fill "$Case/watch"
        settings "$WINE_DATA/settings.ini" "$("$WINE" winepath -w "$Case/watch" 2>/dev/null | tr -d '\r')"
        Args=()
        [ "$(basename "$Program")" = plumeria.exe ] && Args=(run)
        "$WINE" "$Program" "${Args[@]}" >"$Case.out" 2>&1 &
        PIDS+=($!)
        measure "Wine $(basename "$Program") ${Args[*]} ($Files folder)" "${PIDS[-1]}" "$SERVER_PID"
        kill "${PIDS[-1]}" 2>/dev/null || true
        wait "${PIDS[-1]}" 2>/dev/null || true
    done
done
rm -f "$WINE_DATA/settings.ini"
[ -f "$WORK/settings.ini.kept" ] && mv "$WORK/settings.ini.kept" "$WINE_DATA/settings.ini"
exit 0
