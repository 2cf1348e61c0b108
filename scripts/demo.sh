#!/usr/bin/env bash
# The whole road in a minute, without hardware: a simulated DIGI scale on 127.0.0.1, a temporary
# data folder with a watched folder and that scale, the tray program started on it, and a sample
# PLU file dropped into the folder. Watch the recent-files list, the balloon and the journal; the
# file ends in processed/<today>/. Close the program with its menu entry "Выход" (or Ctrl+C here).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
BUILD=${BUILD:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target PlumeriaBridge plumeria

DEMO=$(mktemp -d "${TMPDIR:-/tmp}/plumeria-demo.XXXXXX")
WATCH="$DEMO/Обмен"
mkdir -p "$DEMO/data/PlumeriaBridge" "$WATCH"
# Every program of the demo keeps its data here, never in the user's own data folder.
export ProgramData="$DEMO/data"

"$BUILD"/src/tool/plumeria scale-sim --bind 127.0.0.1 --port 0 >"$DEMO/scale-sim.log" 2>&1 &
SIM=$!
APP=
cleanup() {
    [ -n "$APP" ] && kill "$APP" 2>/dev/null || true
    kill "$SIM" 2>/dev/null || true
}
trap cleanup EXIT

PORT=
for _ in $(seq 50); do
    PORT=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$DEMO/scale-sim.log")
    [ -n "$PORT" ] && break
    sleep 0.1
done
[ -n "$PORT" ] || { cat "$DEMO/scale-sim.log"; echo "the scale simulator did not start" >&2; exit 1; }

# No update check and no start-up entry: the demo leaves the machine as it found it.
cat >"$DEMO/data/PlumeriaBridge/settings.ini" <<EOF
[General]
WatchFolder=$WATCH
FileMask=*.csv;*.txt
AutoUpdate=0
RunWithWindows=0
LogLevel=max
ScaleCount=1
[Scale0]
Enabled=1
Host=127.0.0.1
Port=$PORT
Kind=digi
Model=SM-100
FileCodePage=1251
FileMask=*
Name=Демо-весы
EOF

ProgramData="$DEMO/data" "$BUILD"/src/ui/PlumeriaBridge &
APP=$!
sleep 2

# A back office writes the file elsewhere and moves it in whole, in code page 1251.
printf '%s\r\n' \
    'A;101;2200101;123,45;0;0;5;Колбаса докторская' \
    'A;102;2200102;59,90;0;0;3;Хлеб бородинский' \
    'I;101;Состав: свинина, говядина, соль' |
    iconv -f UTF-8 -t CP1251 >"$DEMO/prices.tmp"
mv "$DEMO/prices.tmp" "$WATCH/prices.csv"

echo "watched folder: $WATCH"
echo "journal:        $DEMO/data/PlumeriaBridge/logs"
echo "scale output:   $DEMO/scale-sim.log"
wait "$APP" || true
