#!/usr/bin/env bash
# The Windows side without Windows: cross-builds the platform layer, the core, `plumeria.exe` and
# the core tests with MinGW-w64 (warnings as errors), runs every core test program under Wine, and
# checks that `plumeria.exe check`, `send`, `send-label` and `run` give a Linux `plumeria
# scale-sim` on 127.0.0.1 exactly the bytes the Linux build gives it, and that `plumeria.exe
# label` makes and reports the same label files as the Linux build. With a static Qt for
# MinGW-w64 (scripts/build-qt-mingw.sh, built once into a cache) it also builds the tray program
# `PlumeriaBridge.exe` and the window tests, runs them under Wine on a headless X server (Xvfb),
# renders the windows to build-win/shots, writes the release files (scripts/release.sh) and
# proves the self-update end to end (scripts/windows-update-test.py). Prints a summary with the
# skipped tests and their reasons, and how long each step took.
#
#   BUILD                 the Linux build folder that holds (or gets) src/tool/plumeria
#                         (default: build)
#   WIN_BUILD             the Windows cross build folder (default: build-win)
#   JOBS                  parallel compile jobs and test programs (default: nproc)
#   PLUMERIA_WINDOWS_GUI  0 leaves out Qt, the tray program and everything that needs them
#                         (default: 1)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

JOBS=${JOBS:-$(nproc)}
BUILD=${BUILD:-build}
WIN_BUILD=${WIN_BUILD:-build-win}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
case "$WIN_BUILD" in /*) ;; *) WIN_BUILD="$ROOT/$WIN_BUILD" ;; esac

WINE=${WINE:-}
if [ -z "$WINE" ]; then
    for Candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" \
        "$(command -v wine || true)"; do
        if [ -n "$Candidate" ] && [ -x "$Candidate" ]; then
            WINE=$Candidate
            break
        fi
    done
fi
if [ -z "$WINE" ]; then
    echo "windows-tests: Wine is not installed (Debian packages wine64, wine)" >&2
    exit 1
fi
WINESERVER=$(dirname "$WINE")/wineserver
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)

now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f", b - a }'; }

# --- 1. Qt for MinGW-w64 and the cross build ---------------------------------------------------
# The tray program for Windows: Qt for MinGW-w64, its window tests, release files and self-update
# under Wine. PLUMERIA_WINDOWS_GUI=0 keeps to the core, for a quick look without Qt.
WINDOWS_GUI=${PLUMERIA_WINDOWS_GUI:-1}
TQ=$(now)
GUI_OPTIONS=(-DPLUMERIA_GUI=OFF)
if [ "$WINDOWS_GUI" = 1 ]; then
    echo "== Qt for MinGW-w64 (static; built once into a cache)"
    JOBS="$JOBS" bash scripts/build-qt-mingw.sh | tee "$WIN_BUILD.qt.log"
    QT_PREFIX=$(tail -n 1 "$WIN_BUILD.qt.log")
    rm -f "$WIN_BUILD.qt.log"
    GUI_OPTIONS=(-DPLUMERIA_GUI=ON -DPLUMERIA_QT_PREFIX="$QT_PREFIX")
fi
echo "== Windows cross build (MinGW-w64, warnings as errors) in $WIN_BUILD"
T0=$(now)
cmake -S . -B "$WIN_BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "${GUI_OPTIONS[@]}" \
    -DPLUMERIA_BENCH=OFF -DPLUMERIA_WERROR=ON >/dev/null
cmake --build "$WIN_BUILD" -j "$JOBS"
T1=$(now)

# The Linux `plumeria` is the simulator and the reference sender.
if [ ! -x "$BUILD/src/tool/plumeria" ]; then
    echo "== Linux plumeria in $BUILD"
    [ -f "$BUILD/CMakeCache.txt" ] ||
        cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLUMERIA_GUI=OFF \
            -DPLUMERIA_BENCH=OFF -DPLUMERIA_WERROR=ON >/dev/null
    cmake --build "$BUILD" -j "$JOBS" --target plumeria
fi
LINUX_TOOL="$BUILD/src/tool/plumeria"
WINDOWS_TOOL="$WIN_BUILD/src/tool/plumeria.exe"

# --- 2. Wine -----------------------------------------------------------------------------------
# A prefix of our own inside the build folder, made once; no Mono or Gecko installers, no debug
# noise. One wineserver serves every program of the run.
export WINEPREFIX="$WIN_BUILD/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
T2=$(now)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/plumeria-windows.XXXXXX")
SIM_PID=
RUN_PID=
XVFB_PID=
cleanup() {
    [ -n "$RUN_PID" ] && kill "$RUN_PID" 2>/dev/null || true
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
# Wine draws its windows on a headless X server of this run (a free display number). It is up
# before the first program of the prefix: the session's desktop process is started with the first
# program and keeps the display it found then, and on a desktop started without one the window
# tests' windows fail to be created now and then.
if [ "$WINDOWS_GUI" = 1 ]; then
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$WORK/display" ] && break
        sleep 0.1
    done
    [ -s "$WORK/display" ] || { echo "windows-tests: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$(head -n 1 "$WORK/display")"
    # A session of an earlier run may still be up (for 10 s) with its own display, now gone.
    "$WINESERVER" -w 2>/dev/null || true
fi
# The same faces on every machine: Wine takes the host's faces from fontconfig, and without the
# Windows ones it draws every face it lacks with whatever the host happens to have (a serif face
# on one machine, a maths face on another, each of its own width). The run's fontconfig sees only
# DejaVu Sans and DejaVu Sans Mono (fonts-dejavu-core), and the prefix names them for the Windows
# faces the program and Qt ask for (see below).
FACES="$WIN_BUILD/wine-faces"
mkdir -p "$FACES/fonts" "$FACES/cache"
for Face in DejaVuSans.ttf DejaVuSans-Bold.ttf DejaVuSansMono.ttf DejaVuSansMono-Bold.ttf; do
    [ -f "/usr/share/fonts/truetype/dejavu/$Face" ] ||
        { echo "windows-tests: /usr/share/fonts/truetype/dejavu/$Face is missing (fonts-dejavu-core)" >&2; exit 1; }
    cp -f "/usr/share/fonts/truetype/dejavu/$Face" "$FACES/fonts/"
done
cat >"$FACES/fonts.conf" <<CONF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <dir>$FACES/fonts</dir>
  <cachedir>$FACES/cache</cachedir>
</fontconfig>
CONF
export FONTCONFIG_FILE="$FACES/fonts.conf"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== creating the Wine prefix $WINEPREFIX"
    "$WINE" wineboot --init >/dev/null 2>&1 || true
    "$WINESERVER" -w
fi
# Stays up between the programs and ends by itself 10 s after the last one (never killed here:
# another run may share the prefix). A server that is up already is fine too.
"$WINESERVER" -p10 2>/dev/null || true
# Xvfb has no window manager, and Wine waits up to 2 s for one to withdraw every window it hides
# (each closed dialog stood the event loop still that long). Windows of their own, as on Windows.
if [ "$WINDOWS_GUI" = 1 ]; then
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    # The Windows faces the program and Qt ask for, drawn with the two faces above.
    for Face in 'Segoe UI' 'Tahoma' 'MS Shell Dlg' 'MS Shell Dlg 2' 'Microsoft Sans Serif' 'Arial' \
        'Times New Roman'; do
        "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$Face" /d 'DejaVu Sans' /f \
            >/dev/null 2>&1
    done
    for Face in 'Consolas' 'Courier New'; do
        "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$Face" \
            /d 'DejaVu Sans Mono' /f >/dev/null 2>&1
    done
fi
T3=$(now)

# --- 3. core tests under Wine ------------------------------------------------------------------
echo "== core tests under Wine ($(basename "$WINE"))"
RESULTS="$WORK/test-results"
mkdir -p "$RESULTS"
# Each program writes its own XML report (gtest names it after the program).
export GTEST_OUTPUT="xml:$("$WINE" winepath -w "$RESULTS" 2>/dev/null | tr -d '\r')\\"
TESTS_OK=1
ctest --test-dir "$WIN_BUILD" -L core -j "$JOBS" --timeout 600 --output-on-failure || TESTS_OK=0
unset GTEST_OUTPUT
T4=$(now)

# --- 4. the same frames from both builds --------------------------------------------------------
echo "== plumeria.exe against a Linux scale simulator on 127.0.0.1"
FRAMES_OK=1
cd "$WORK"
# The Linux tool journals and reads its settings in a data folder of this run, never in the
# user's own (~/.local/share/PlumeriaBridge); the Windows one uses the prefix's C:\ProgramData.
LINUX_DATA="$WORK/linux-data"
mkdir -p "$LINUX_DATA"
# A back office's file in code page 1251, under a Cyrillic name, and one with mistakes in it.
printf '%s\r\n' \
    'A;101;1234567;123,45;0;0;5;Колбаса докторская' \
    'A;102;2345678;59,90;0;0;3;Хлеб бородинский' \
    'A;103;3456789;7;0;0;0;Молоко 3,2%' \
    'I;101;Состав: свинина, говядина, соль' |
    iconv -f UTF-8 -t CP1251 >'Цены.csv'
printf '%s\r\n' 'A;1;1234567;abc;0;0;5;Сыр' 'X;2' 'I;9;соль' | iconv -f UTF-8 -t CP1251 >'Ошибки.csv'
mkdir 'Этикетки'
printf '%s\r\n' '01 34 00 00 00 08 AA BB' '02 34 00 00 00 07 CC' >'Этикетки/f34.dat'
printf '%s\r\n' '01 38 00 00 00 09 41 42 43' >'Этикетки/f38.dat'

# check: same exit code and the same report (Windows ends its lines with CR LF).
for Args in "check|Цены.csv" "check|Цены.csv|--json" \
    "check|Ошибки.csv" "check|Ошибки.csv|--json"; do
    IFS='|' read -r -a Argv <<<"$Args"
    set +e
    ProgramData="$LINUX_DATA" "$LINUX_TOOL" "${Argv[@]}" >linux.out 2>&1
    LinuxCode=$?
    "$WINE" "$WINDOWS_TOOL" "${Argv[@]}" >windows.raw 2>&1
    WindowsCode=$?
    set -e
    tr -d '\r' <windows.raw >windows.out
    if [ "$LinuxCode" != "$WindowsCode" ] || ! cmp -s linux.out windows.out; then
        echo "FAILED: plumeria ${Argv[*]}: Linux exit $LinuxCode, Windows exit $WindowsCode"
        diff linux.out windows.out || true
        FRAMES_OK=0
    else
        echo "ok: plumeria ${Argv[*]} (exit $LinuxCode, $(wc -c <linux.out) bytes of report)"
    fi
done

# label: both builds make and edit a label file under a Cyrillic folder name; the files and what
# `show` prints of them must be identical, and a broken file must be refused alike.
for Who in linux windows; do
    mkdir -p "$Who-label/Этикетка"
    printf '00 01 02' >"$Who-label/broken.dat"
    (
        cd "$Who-label"
        for Args in "new|Этикетка|--size|54x37" \
            "edit|Этикетка/f34.dat|--format|2|--place|16|32|32" \
            "edit|Этикетка/f34.dat|--format|2|--move|16|40|20" \
            "edit|Этикетка|--format|1|--place|7|100|40" \
            "edit|Этикетка|--format|1|--resize|7|200|30" \
            "show|Этикетка/f34.dat|--json" "show|Этикетка/f34.dat" "show|broken.dat|--json"; do
            IFS='|' read -r -a Argv <<<"$Args"
            set +e
            if [ "$Who" = linux ]; then
                "$LINUX_TOOL" label "${Argv[@]}" >>label.raw 2>&1
            else
                "$WINE" "$WINDOWS_TOOL" label "${Argv[@]}" >>label.raw 2>&1
            fi
            echo "exit $?" >>label.raw
            set -e
        done
        tr -d '\r' <label.raw >label.out
    )
done
if ! cmp -s linux-label/label.out windows-label/label.out ||
    ! cmp -s "linux-label/Этикетка/f34.dat" "windows-label/Этикетка/f34.dat"; then
    echo "FAILED: plumeria label: the builds made different files or reports"
    diff linux-label/label.out windows-label/label.out || true
    FRAMES_OK=0
else
    echo "ok: plumeria label new, edit, show: identical f34.dat" \
        "($(wc -c <"linux-label/Этикетка/f34.dat") bytes) and reports"
fi

# send and send-label: the simulator records every frame; both senders must give the same bytes.
# Starts one simulator for one connection: SIM_PID and PORT.
start_sim() {
    ProgramData="$LINUX_DATA" timeout 120 "$LINUX_TOOL" scale-sim --bind 127.0.0.1 --port 0 \
        --connections 1 \
        --record "$1.frames" >"$1.sim" 2>&1 &
    SIM_PID=$!
    PORT=
    for _ in $(seq 100); do
        PORT=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$1.sim")
        [ -n "$PORT" ] && return 0
        sleep 0.05
    done
    echo "the scale simulator did not start" >&2
    cat "$1.sim" >&2
    return 1
}

for Args in "send|Цены.csv" "send-label|Этикетки"; do
    IFS='|' read -r -a Argv <<<"$Args"
    for Who in linux windows; do
        start_sim "$Who"
        set +e
        if [ "$Who" = linux ]; then
            ProgramData="$LINUX_DATA" timeout 120 "$LINUX_TOOL" "${Argv[@]}" --host 127.0.0.1 \
                --port "$PORT" >"$Who.out" 2>&1
        else
            timeout 120 "$WINE" "$WINDOWS_TOOL" "${Argv[@]}" --host 127.0.0.1 --port "$PORT" \
                >"$Who.out" 2>&1
        fi
        Code=$?
        wait "$SIM_PID"
        SimCode=$?
        SIM_PID=
        set -e
        if [ "$Code" != 0 ] || [ "$SimCode" != 0 ]; then
            echo "FAILED: $Who plumeria ${Argv[*]}: exit $Code, simulator exit $SimCode"
            cat "$Who.out" "$Who.sim"
            FRAMES_OK=0
        fi
        grep '^frame ' "$Who.sim" >"$Who.lines" || true
    done
    if [ ! -s linux.frames ] || ! cmp -s linux.frames windows.frames ||
        ! cmp -s linux.lines windows.lines; then
        echo "FAILED: plumeria ${Argv[*]}: the simulator received different frames"
        diff linux.lines windows.lines || true
        cmp linux.frames windows.frames || true
        FRAMES_OK=0
    else
        echo "ok: plumeria ${Argv[*]}: $(wc -l <linux.lines) frames, $(wc -c <linux.frames) bytes," \
            "byte-identical"
    fi
done
# run: the main road without windows. Both builds watch a Cyrillic folder with one DIGI scale, a
# file is dropped in, it must end in processed/ and the scale must get the same bytes; Ctrl+C
# then ends the program cleanly. Wine takes ProgramData from its own registry, so the Windows
# program's data folder is the prefix's C:\ProgramData\PlumeriaBridge.
WINE_DATA="$WINEPREFIX/drive_c/ProgramData/PlumeriaBridge"
for Who in linux windows; do
    mkdir -p "$Who-run/Обмен" "$Who-run/data/PlumeriaBridge"
    if [ "$Who" = linux ]; then
        Data="$Who-run/data/PlumeriaBridge"
        Watch="$WORK/$Who-run/Обмен"
    else
        Data="$WINE_DATA"
        mkdir -p "$Data"
        Watch=$("$WINE" winepath -w "$WORK/$Who-run/Обмен" 2>/dev/null | tr -d '\r')
    fi
    start_sim "$Who"
    printf '%s\r\n' '[General]' "WatchFolder=$Watch" 'FileMask=*.csv' 'AutoUpdate=0' \
        'RunWithWindows=0' 'ScaleCount=1' '[Scale0]' 'Enabled=1' 'Host=127.0.0.1' "Port=$PORT" \
        'Kind=digi' 'FileCodePage=1251' 'FileMask=*' >"$Data/settings.ini"
    if [ "$Who" = linux ]; then
        ProgramData="$WORK/$Who-run/data" "$LINUX_TOOL" run >"$Who.run" 2>&1 &
    else
        "$WINE" "$WINDOWS_TOOL" run >"$Who.run" 2>&1 &
    fi
    RUN_PID=$!
    for _ in $(seq 300); do
        grep -q '^watching ' "$Who.run" && break
        sleep 0.1
    done
    cp 'Цены.csv' "$Who-run/Обмен/Цены.csv"
    for _ in $(seq 300); do
        [ -n "$(find "$Who-run/Обмен/processed" -name 'Цены.csv' 2>/dev/null)" ] && break
        sleep 0.1
    done
    kill -INT "$RUN_PID" 2>/dev/null || true
    set +e
    wait "$RUN_PID"
    Code=$?
    wait "$SIM_PID"
    SimCode=$?
    SIM_PID=
    set -e
    [ "$Who" = windows ] && rm -f "$WINE_DATA/settings.ini"
    if [ "$Code" != 0 ] || [ "$SimCode" != 0 ] ||
        [ -z "$(find "$Who-run/Обмен/processed" -name 'Цены.csv' 2>/dev/null)" ]; then
        echo "FAILED: $Who plumeria run: exit $Code, simulator exit $SimCode"
        cat "$Who.run" "$Who.sim"
        FRAMES_OK=0
    fi
    grep '^frame ' "$Who.sim" >"$Who.lines" || true
done
if [ ! -s linux.frames ] || ! cmp -s linux.frames windows.frames ||
    ! cmp -s linux.lines windows.lines; then
    echo "FAILED: plumeria run: the simulator received different frames"
    diff linux.lines windows.lines || true
    FRAMES_OK=0
else
    echo "ok: plumeria run: watched Обмен/Цены.csv into processed/, $(wc -l <linux.lines) frames," \
        "$(wc -c <linux.frames) bytes, byte-identical; stopped by Ctrl+C"
fi
cd "$ROOT"
T5=$(now)

# --- 5. the tray program: window tests, pictures, release files, self-update ------------------
if [ "$WINDOWS_GUI" = 1 ]; then
    # The Windows platform of Qt, as on a user's machine.
    unset QT_QPA_PLATFORM

    echo "== window tests under Wine (DISPLAY=$DISPLAY)"
    UI_RESULTS="$WORK/ui-results"
    mkdir -p "$UI_RESULTS"
    UI_TESTS=$(ctest --test-dir "$WIN_BUILD" -L ui -N | sed -n 's/^ *Test *#[0-9]*: \([A-Za-z]*Test\)$/\1/p')
    # One after another: the programs share the logon's single-instance mutex and start-up entry.
    for Test in $UI_TESTS; do
        Exe="$WIN_BUILD/tests/ui/$Test.exe"
        Out=$("$WINE" winepath -w "$UI_RESULTS/$Test.txt" 2>/dev/null | tr -d '\r')
        set +e
        timeout 900 "$WINE" "$Exe" -o "$Out,txt" >"$UI_RESULTS/$Test.console" 2>&1
        Code=$?
        set -e
        echo "$Code" >"$UI_RESULTS/$Test.code"
        echo "  $Test: $(grep -a '^Totals:' "$UI_RESULTS/$Test.txt" 2>/dev/null | tr -d '\r' ||
            echo "no result (exit $Code)")"
    done
    T6=$(now)
    UI_OK=1
    python3 - "$UI_RESULTS" $UI_TESTS <<'PY' || UI_OK=0
import os, re, sys
folder, tests = sys.argv[1], sys.argv[2:]
passed = failed = skipped = 0
skips, failures = [], []
for test in tests:
    path = os.path.join(folder, test + ".txt")
    text = open(path, encoding="utf-8", errors="replace").read() if os.path.exists(path) else ""
    code = open(os.path.join(folder, test + ".code")).read().strip()
    totals = re.search(r"^Totals: (\d+) passed, (\d+) failed, (\d+) skipped", text, re.M)
    for line in re.findall(r"^FAIL!  : (.*)$", text, re.M):
        failures.append(line)
    for name, reason in re.findall(r"^SKIP   : (\S+) (.*)$", text, re.M):
        skips.append((name, reason))
    if not totals:
        failed += 1
        failures.append(f"{test}: ended without a result (exit {code})")
        tail = open(os.path.join(folder, test + ".console"), errors="replace").read()[-2000:]
        print(tail)
        continue
    p, f, s = map(int, totals.groups())
    passed, failed, skipped = passed + p, failed + f, skipped + s
    if f == 0 and code != "0":
        failed += 1
        failures.append(f"{test}: exit {code}")
print(f"window tests under Wine: {passed} passed, {failed} failed")
if skips:
    print(f"  skipped under Wine ({skipped}), with the reason:")
    for name, reason in skips:
        print(f"    {name}: {reason}")
for line in failures:
    print(f"  FAILED: {line}")
sys.exit(1 if failed else 0)
PY

    echo "== the windows rendered by the Windows build under Wine: $WIN_BUILD/shots"
    SHOTS_OK=1
    rm -rf "$WIN_BUILD/shots"
    "$WINE" "$WIN_BUILD/tests/ui/plumeria_ui_render.exe" \
        "$("$WINE" winepath -w "$WIN_BUILD/shots" 2>/dev/null | tr -d '\r')" >/dev/null 2>&1 ||
        SHOTS_OK=0
    T7=$(now)

    echo "== release files"
    RELEASE_OK=1
    bash scripts/release.sh "$WIN_BUILD" || RELEASE_OK=0
    T8=$(now)

    echo "== self-update of PlumeriaBridge.exe under Wine"
    UPDATE_OK=1
    if [ "$RELEASE_OK" = 1 ]; then
        python3 scripts/windows-update-test.py --wine "$WINE" --build "$WIN_BUILD" \
            --display "$DISPLAY" --work "$WORK/update" || UPDATE_OK=0
    else
        UPDATE_OK=0
    fi
    T9=$(now)
else
    UI_OK=1 SHOTS_OK=1 RELEASE_OK=1 UPDATE_OK=1
    T6=$T5 T7=$T5 T8=$T5 T9=$T5
fi

# --- 6. summary --------------------------------------------------------------------------------
echo
echo "== Windows summary"
python3 - "$RESULTS" <<'PY'
import glob, os, sys
import xml.etree.ElementTree as ET

total = failed = skipped = 0
skips = []
for path in sorted(glob.glob(os.path.join(sys.argv[1], "*.xml"))):
    program = os.path.splitext(os.path.basename(path))[0]
    p_total = p_failed = p_skipped = 0
    for case in ET.parse(path).getroot().iter("testcase"):
        p_total += 1
        name = case.get("classname", "") + "." + case.get("name", "")
        if case.find("failure") is not None:
            p_failed += 1
        elif case.get("result") == "skipped" or case.find("skipped") is not None:
            p_skipped += 1
            node = case.find("skipped")
            # "file:line", the reason, then any "Google Test trace:" lines.
            lines = (node.get("message", "") if node is not None else "").splitlines()[1:]
            if "Google Test trace:" in lines:
                lines = lines[: lines.index("Google Test trace:")]
            reason = " ".join(line.strip() for line in lines)
            skips.append((name, reason))
    total, failed, skipped = total + p_total, failed + p_failed, skipped + p_skipped
    print(f"  {program:<20} {p_total:4} tests  {p_failed:3} failed  {p_skipped:3} skipped")
print(f"  {'all programs':<20} {total:4} tests  {failed:3} failed  {skipped:3} skipped")
if skips:
    print("  skipped on Windows, with the reason:")
    for name, reason in skips:
        print(f"    {name}: {reason}")
PY
echo "  cross build:          $(seconds "$T0" "$T1") s"
echo "  Wine start-up:        $(seconds "$T2" "$T3") s"
echo "  core tests under Wine: $(seconds "$T3" "$T4") s"
echo "  plumeria.exe vs Linux: $(seconds "$T4" "$T5") s"
echo "  Qt for MinGW-w64:      $(seconds "$TQ" "$T0") s"
echo "  window tests (Wine):   $(seconds "$T5" "$T6") s"
echo "  pictures (Wine):       $(seconds "$T6" "$T7") s"
echo "  release files:         $(seconds "$T7" "$T8") s"
echo "  self-update (Wine):    $(seconds "$T8" "$T9") s"
if [ "$TESTS_OK" = 1 ] && [ "$FRAMES_OK" = 1 ] && [ "$UI_OK" = 1 ] && [ "$SHOTS_OK" = 1 ] &&
    [ "$RELEASE_OK" = 1 ] && [ "$UPDATE_OK" = 1 ]; then
    echo "  result: PASSED"
else
    [ "$TESTS_OK" = 1 ] || echo "  result: FAILED (core tests under Wine)"
    [ "$FRAMES_OK" = 1 ] || echo "  result: FAILED (plumeria.exe against the Linux build)"
    [ "$UI_OK" = 1 ] || echo "  result: FAILED (window tests under Wine)"
    [ "$SHOTS_OK" = 1 ] || echo "  result: FAILED (the windows rendered under Wine)"
    [ "$RELEASE_OK" = 1 ] || echo "  result: FAILED (release files)"
    [ "$UPDATE_OK" = 1 ] || echo "  result: FAILED (self-update under Wine)"
    exit 1
fi
