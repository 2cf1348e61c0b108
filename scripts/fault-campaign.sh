#!/usr/bin/env bash
# The fault campaign: `plumeria run` (the main road without windows) against the faults a shop
# server meets, each in a fresh data folder and watched folder, and what came of it:
#   disk-full-*     the watched folder, the result folder or the data folder (journal, settings)
#                   on a small tmpfs that is full
#   never-reads     a scale that accepts the connection and then never reads
#   garbage / cut   a scale that answers garbage, or closes the connection in the middle of a frame
#   10000-files     ten thousand files dropped at once
#   100000-unrelated a watched folder holding 100,000 files no mask takes (the cost of one scan)
#   folder-swap     the watched folder renamed away and made anew while a file is being processed
#   oldest-first    price lists waiting at start, named and listed out of age order
#   replaced-while-sent  the back office renames a new list over the file a slow scale is getting
#   result-folder-full   "processed" full for longer than a retry: each file sent once, moves retried
#   inline-comment  settings.ini with "ScaleCount=1 ; ..." as people write it by hand
#   many-starts     eight `plumeria run` started at once on one data folder
#   paused-writer   the program runs as another user than the back office, whose writer pauses
#                   12 s halfway through a file
# After each: no crash (the run stops on SIGTERM with exit 0 and "stopped"), every dropped file is
# found exactly once and whole (by checksum) in the watched folder tree, settings.ini unchanged,
# how often each file was sent to the scales, and the journal lines that say why. Needs root for the tmpfs mounts; runs in its own mount and
# network namespace, so nothing outside is touched and the scales' ports are private.
#   scripts/fault-campaign.sh [SCENARIO...]     (BUILD=build: where `plumeria` is built)
set -uo pipefail
cd "$(dirname "$0")/.."
REPO=$(pwd)

if [ -z "${FAULT_CAMPAIGN_NS:-}" ]; then
    exec env FAULT_CAMPAIGN_NS=1 unshare -m -n bash -c 'ip link set lo up && exec bash "$0" "$@"' \
        "$0" "$@"
fi

TOOL=$REPO/${BUILD:-build}/src/tool/plumeria
[ -x "$TOOL" ] || { echo "build plumeria first: cmake --build build --target plumeria" >&2; exit 2; }
ROOT=$(mktemp -d /tmp/plumeria-faults.XXXXXX)
RESULTS=$ROOT/results.txt
FAILED=0

# --- helpers ----------------------------------------------------------------------------------

say() { echo "$*" | tee -a "$RESULTS"; }
check() { # check DESCRIPTION COMMAND...: one result line, and the campaign fails when it is false
    local What=$1
    shift
    if "$@"; then say "    ok    $What"; else say "    FAIL  $What"; FAILED=1; fi
}

# A fresh case: DATA (ProgramData), WATCH, the journal and the list of dropped files' checksums.
new_case() {
    CASE=$ROOT/$1
    DATA=$CASE/data
    WATCH=${2:-$CASE/watch}
    STAGING=$CASE/staging # on the watched folder's own disk where that matters
    mkdir -p "$DATA/PlumeriaBridge" "$WATCH" "$STAGING"
    : >"$CASE/dropped.sums"
    say ""
    say "== $1"
}

# write_settings TIMEOUT_MS [HOST PORT]: one DIGI scale when a host is given.
write_settings() {
    local Ini=$DATA/PlumeriaBridge/settings.ini
    printf '[General]\r\nWatchFolder=%s\r\nFileMask=*.csv;*.txt\r\nAutoUpdate=0\r\nRunWithWindows=0\r\nConnectTimeoutMs=%s\r\nLogLevel=max\r\n' \
        "$WATCH" "$1" >"$Ini"
    if [ $# -ge 3 ]; then
        printf 'ScaleCount=1\r\n[Scale0]\r\nEnabled=1\r\nHost=%s\r\nPort=%s\r\nKind=digi\r\nFileCodePage=1251\r\nFileMask=*\r\nName=faults\r\n' \
            "$2" "$3" >>"$Ini"
    else
        printf 'ScaleCount=0\r\n' >>"$Ini"
    fi
    md5sum <"$Ini" >"$CASE/settings.sum"
}

# plu_text NAME [ARTICLES] [BAD]: a PLU file whose checksum is its own (the name is in a comment).
plu_text() {
    printf '# %s\r\n' "$1"
    local I
    for ((I = 1; I <= ${2:-2}; I++)); do
        printf 'A;%d;%d;12,50;0;0;5;Article %d\r\n' "$I" $((4600000 + I)) "$I"
    done
    if [ -n "${3:-}" ]; then printf 'A;0;;1;0;0;0;bad\r\n'; fi
}

# drop NAME [ARTICLES] [BAD]: written beside the folder and moved in whole, as a back office does.
drop() {
    plu_text "$@" >"$STAGING/$1"
    md5sum <"$STAGING/$1" | cut -d' ' -f1 >>"$CASE/dropped.sums"
    mv "$STAGING/$1" "$WATCH/$1"
}

start_run() {
    ProgramData=$DATA "$TOOL" run >"$CASE/run.out" 2>"$CASE/run.err" &
    RUN_PID=$!
    local I
    for ((I = 0; I < 100; I++)); do
        grep -q "^watching " "$CASE/run.out" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

stop_run() {
    kill -TERM "$RUN_PID" 2>/dev/null
    wait "$RUN_PID"
    RUN_RC=$?
}

run_stopped_cleanly() { [ "$RUN_RC" = 0 ] && [ "$(tail -1 "$CASE/run.out")" = stopped ]; }

# Waits for the scale started last to say where it listens; sets SIM_PORT.
wait_sim_port() {
    local I
    for ((I = 0; I < 50; I++)); do
        SIM_PORT=$(sed -n 's/^listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$CASE/sim.out" 2>/dev/null)
        [ -n "$SIM_PORT" ] && return 0
        sleep 0.1
    done
    return 1
}

# start_sim [OPTIONS...]: a `plumeria scale-sim` on 127.0.0.1; sets SIM_PORT.
start_sim() {
    "$TOOL" scale-sim --bind 127.0.0.1 --port 0 "$@" >"$CASE/sim.out" 2>&1 &
    SIM_PID=$!
    wait_sim_port
}

# start_bad_scale MODE: a scale that misbehaves (python3, loopback only); sets SIM_PORT.
#   never-reads: accepts and never reads; garbage: answers every read with bytes that are no
#   answer; cut: reads half a frame's worth and closes; slow: acknowledges every frame late.
start_bad_scale() {
    python3 - "$1" >"$CASE/sim.out" 2>&1 <<'EOF' &
import socket, sys, time
mode = sys.argv[1]
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
server.bind(("127.0.0.1", 0))
server.listen(8)
print("listening on 127.0.0.1:%d" % server.getsockname()[1], flush=True)
held = []
while True:
    client, _ = server.accept()
    print("connection", flush=True)
    if mode == "never-reads":
        held.append(client)  # kept open, never read
        continue
    try:
        if mode == "garbage":
            while True:
                data = client.recv(65536)
                if not data:
                    break
                client.sendall(b"\x15\xff\x00GARBAGE" * 3)
        elif mode == "cut":
            client.recv(12)
            time.sleep(0.05)
        elif mode == "slow":  # acknowledges each whole frame after 20 ms
            buffer = b""
            while True:
                data = client.recv(65536)
                if not data:
                    break
                buffer += data
                while len(buffer) >= 8 and len(buffer) >= int.from_bytes(buffer[6:8], "big") + 2:
                    size = int.from_bytes(buffer[6:8], "big") + 2
                    buffer = buffer[size:]
                    print("frame", flush=True)
                    time.sleep(0.02)
                    client.sendall(b"\x06")
    except OSError:
        pass
    client.close()
EOF
    SIM_PID=$!
    wait_sim_port
}

stop_sim() { kill "$SIM_PID" 2>/dev/null; wait "$SIM_PID" 2>/dev/null; }

# wait_until SECONDS COMMAND...: polls every 0.2 s.
wait_until() {
    local Deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -ge $Deadline ] && return 1
        sleep 0.2
    done
}

pending_count() { find "$WATCH" -maxdepth 1 -type f \( -name '*.csv' -o -name '*.txt' \) | wc -l; }
nothing_pending() { [ "$(pending_count)" = 0 ]; }

# Every dropped file once and whole somewhere under FOLDER..., nothing else that looks like one.
files_whole() {
    local Found=$CASE/found.sums
    find "$@" -type f \( -name '*.csv' -o -name '*.txt' \) -exec md5sum {} + 2>/dev/null |
        cut -d' ' -f1 | sort >"$Found"
    sort "$CASE/dropped.sums" | cmp -s - "$Found"
}

settings_unchanged() { md5sum <"$DATA/PlumeriaBridge/settings.ini" | cmp -s - "$CASE/settings.sum"; }

journal() { cat "$DATA"/PlumeriaBridge/*/*.log "$DATA"/PlumeriaBridge/*.log 2>/dev/null; }

# Shows the distinct journal lines (times cut off) that match PATTERN, at most N.
journal_says() {
    journal | grep -E "$1" | sed 's/^[0-9:. -]*//' | sort | uniq -c | sort -rn | head -"${2:-6}" |
        sed 's/^/      journal: /' | tee -a "$RESULTS"
}

# The files in the order the scale was given them, and how often each ("name×count").
sent_files() {
    journal | tr -d '\r' | sed -n 's/^.*| INFO | file=\(.*\) ip=.* sent [0-9]* PLU$/\1/p' |
        while read -r Path; do
        basename "$Path"
    done
}
sent_counts() {
    local Counts
    Counts=$(sent_files | sort | uniq -c | awk '{printf " %s×%s", $2, $1}')
    say "    sent to the scale:${Counts:- nothing}"
}
sent_once_each() { [ -z "$(sent_files | sort | uniq -d)" ]; }

where_files_went() {
    local Sub
    for Sub in "$WATCH" "$@"; do
        say "    $(find "$Sub" -type f \( -name '*.csv' -o -name '*.txt' \) 2>/dev/null | wc -l) files under ${Sub#"$ROOT"/}" \
            "($(find "$Sub" -name '*.err' 2>/dev/null | wc -l) .err)"
    done
}

# mount_full DIR SIZE [INODES]: a tmpfs of SIZE (and at most INODES files and folders) at DIR.
mount_full() {
    mkdir -p "$1"
    mount -t tmpfs -o "size=$2${3:+,nr_inodes=$3}" tmpfs "$1" || return 1
}
# fill_up DIR [INODES]: no byte left; with INODES, no new file or folder either.
fill_up() {
    dd if=/dev/zero of="$1/.filler" bs=4k 2>/dev/null
    local I
    for ((I = 0; I < ${2:-0}; I++)); do touch "$1/.f$I" 2>/dev/null || break; done
}

# --- scenarios --------------------------------------------------------------------------------

scenario_disk_full_results() {
    # The watched folder's own disk is full: the result folder cannot be made, or the ".err"
    # cannot be written. Then "processed" as a full disk of its own, so every move is a copy that
    # runs out of room.
    new_case disk-full-watched "$ROOT/disk-full-watched/full/watch"
    mount_full "$CASE/full" 4m 200 || { say "    SKIP  cannot mount a tmpfs (needs root)"; return; }
    STAGING=$CASE/full/staging
    mkdir -p "$WATCH" "$STAGING"
    write_settings 300
    start_run || say "    run did not start"
    for I in 1 2 3; do plu_text "good$I.csv" >"$STAGING/good$I.csv"; plu_text "bad$I.csv" 2 bad >"$STAGING/bad$I.csv"; done
    fill_up "$CASE/full" 200
    for I in 1 2 3; do
        for Name in "good$I.csv" "bad$I.csv"; do
            md5sum <"$STAGING/$Name" | cut -d' ' -f1 >>"$CASE/dropped.sums"
            mv "$STAGING/$Name" "$WATCH/"
        done
    done
    sleep 4
    stop_run
    check "run stopped cleanly" run_stopped_cleanly
    check "every file once and whole" files_whole "$WATCH"
    where_files_went "$WATCH/processed" "$WATCH/error"
    journal_says "cannot|error|ERROR"
    umount "$CASE/full"

    new_case disk-full-err-only "$ROOT/disk-full-err-only/full/watch"
    mount_full "$CASE/full" 4m || { say "    SKIP  cannot mount a tmpfs"; return; }
    mkdir -p "$WATCH/error" "$WATCH/processed"
    write_settings 300
    start_run || say "    run did not start"
    for I in 1 2 3; do plu_text "bad$I.csv" 2 bad >"$CASE/full/bad$I.csv"; done
    fill_up "$CASE/full" # bytes gone, files and folders can still be made
    for I in 1 2 3; do
        md5sum <"$CASE/full/bad$I.csv" | cut -d' ' -f1 >>"$CASE/dropped.sums"
        mv "$CASE/full/bad$I.csv" "$WATCH/"
    done
    sleep 4
    stop_run
    check "run stopped cleanly" run_stopped_cleanly
    check "every file once and whole" files_whole "$WATCH"
    check "no empty or partial .err left" bash -c "! find '$WATCH' -name '*.err' -size -1c | grep -q ."
    where_files_went "$WATCH/error"
    journal_says "cannot|error|ERROR"
    umount "$CASE/full"

    new_case disk-full-result-folder
    mkdir -p "$WATCH/processed"
    mount_full "$WATCH/processed" 64k || { say "    SKIP  cannot mount a tmpfs"; return; }
    fill_up "$WATCH/processed"
    write_settings 300
    start_run || say "    run did not start"
    for I in 1 2 3; do drop "big$I.csv" 3000; done
    sleep 5
    stop_run
    check "run stopped cleanly" run_stopped_cleanly
    check "every file once and whole (no half copy)" files_whole "$WATCH"
    where_files_went "$WATCH/processed"
    sent_counts
    journal_says "cannot|error|ERROR"
    umount "$WATCH/processed"
}

# run_copy: starts the run from a copy of the executable in the case, because a data folder that
# cannot be used sends settings and journal to the executable's folder, which is not the build's.
run_copy() {
    mkdir -p "$CASE/bin"
    cp "$TOOL" "$CASE/bin/plumeria"
    local Tool=$TOOL
    TOOL=$CASE/bin/plumeria
    start_run
    local Started=$?
    TOOL=$Tool
    return $Started
}

scenario_disk_full_data() {
    # The data folder's disk fills up while the run is going: the journal cannot be written,
    # settings.ini must stay as it is, files go on being handled.
    new_case disk-full-data
    mount_full "$DATA" 1m || { say "    SKIP  cannot mount a tmpfs (needs root)"; return; }
    mkdir -p "$DATA/PlumeriaBridge"
    write_settings 300
    run_copy || say "    run did not start"
    say "    run: $(head -1 "$CASE/run.out")"
    drop "before.csv"
    wait_until 20 nothing_pending
    fill_up "$DATA" # the journal's last page still has room: enough files to use it up
    for I in $(seq 1 30); do drop "good$I.csv"; drop "bad$I.csv" 2 bad; done
    wait_until 60 nothing_pending
    stop_run
    check "run stopped cleanly" run_stopped_cleanly
    check "settings.ini unchanged" settings_unchanged
    check "every file once and whole" files_whole "$WATCH"
    check "every file handled although the journal could not be written" nothing_pending
    check "the journal ends with a whole line" bash -c "[ \"\$(tail -c1 '$DATA'/PlumeriaBridge/logs/*.log | od -An -c | tr -d ' ')\" = '\\n' ]"
    where_files_went "$WATCH/processed" "$WATCH/error"
    say "    journal: $(journal | wc -l) lines, of 60 files dropped after the disk was full" \
        "$(journal | grep -o -E '(good|bad)[0-9]+\.csv' | sort -u | wc -l) appear"
    say "    last journal line: $(journal | tail -1 | cut -c1-150)"
    umount "$DATA"

    # A first start (no settings.ini) on a full disk: the data folder's probe cannot be written,
    # so (as designed) settings and journal go to the executable's folder without a message.
    new_case disk-full-data-first-start
    mount_full "$DATA" 1m || { say "    SKIP  cannot mount a tmpfs"; return; }
    mkdir -p "$DATA/PlumeriaBridge"
    fill_up "$DATA"
    run_copy || say "    run did not start"
    stop_run
    check "run stopped cleanly" run_stopped_cleanly
    check "no empty or partial settings.ini in the full data folder" \
        test ! -e "$DATA/PlumeriaBridge/settings.ini"
    say "    run: $(head -2 "$CASE/run.out" | tr '\n' ' ')"
    say "    beside the executable: $(cd "$CASE/bin" && find . -mindepth 1 -name '*.ini' -o -name '*.log' | sort | tr '\n' ' ')"
    umount "$DATA"
}

scenario_bad_scales() {
    local Mode Timeout=1000
    for Mode in never-reads garbage cut; do
        new_case "$Mode"
        start_bad_scale "$Mode" || { say "    scale did not start"; continue; }
        write_settings $Timeout 127.0.0.1 "$SIM_PORT"
        start_run || say "    run did not start"
        local Start
        Start=$(date +%s%N)
        drop "articles.csv" 2000
        wait_until 60 nothing_pending
        local TookMs=$((($(date +%s%N) - Start) / 1000000))
        stop_run
        stop_sim
        check "run stopped cleanly" run_stopped_cleanly
        check "file ended once and whole" files_whole "$WATCH"
        check "the file was handled within 30 s (time-out ${Timeout} ms)" test "$TookMs" -le 30000
        say "    handled ${TookMs} ms after the drop (the watch waits about 0.4-1.4 s before it offers a file)"
        where_files_went "$WATCH/processed" "$WATCH/error"
        journal_says "ERROR|WARN|127\.0\.0\.1" 8
    done
}

scenario_many_files() {
    new_case 10000-files
    start_sim || { say "    scale did not start"; return; }
    write_settings 500 127.0.0.1 "$SIM_PORT"
    local I
    for ((I = 1; I <= 10000; I++)); do
        plu_text "f$I.csv" 1 >"$CASE/staging/f$I.csv"
    done
    (cd "$CASE/staging" && md5sum -- *.csv | cut -d' ' -f1) >"$CASE/dropped.sums"
    start_run || say "    run did not start"
    local Start=$SECONDS
    find "$CASE/staging" -name '*.csv' -exec mv -t "$WATCH" {} +
    wait_until 900 nothing_pending
    local Took=$((SECONDS - Start))
    stop_run
    stop_sim
    check "run stopped cleanly" run_stopped_cleanly
    check "all 10000 files once and whole" files_whole "$WATCH"
    say "    all handled after ${Took} s; scale frames: $(grep -c '^frame' "$CASE/sim.out")"
    where_files_went "$WATCH/processed" "$WATCH/error"
    journal_says "ERROR|cannot" 4
}

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

scenario_unrelated_files() {
    new_case 100000-unrelated
    write_settings 300
    # The same drop in the empty folder first, for comparison.
    start_run || say "    run did not start"
    local Start=$(date +%s%N)
    drop "baseline.csv"
    wait_until 60 nothing_pending
    say "    in the empty folder one dropped file handled after $((($(date +%s%N) - Start) / 1000000)) ms"
    stop_run
    local I
    (cd "$WATCH" && for ((I = 0; I < 100; I++)); do
        # 1000 names per touch call keeps this to seconds.
        touch $(seq -f "unrelated-$I-%g.dat" 1 1000)
    done)
    say "    $(find "$WATCH" -maxdepth 1 -type f | wc -l) unrelated files"
    start_run || say "    run did not start"
    sleep 3
    local Ticks0 Ticks1 Hz
    Hz=$(getconf CLK_TCK)
    Ticks0=$(cpu_ticks "$RUN_PID")
    sleep 20
    Ticks1=$(cpu_ticks "$RUN_PID")
    say "    idle CPU of the run over 20 s (about 20 rescans): $(((Ticks1 - Ticks0) * 1000 / Hz)) ms" \
        "= about $(((Ticks1 - Ticks0) * 1000 / Hz / 20)) ms per scan"
    Start=$(date +%s%N)
    drop "wanted.csv"
    wait_until 60 nothing_pending
    say "    one dropped file handled after $((($(date +%s%N) - Start) / 1000000)) ms"
    stop_run
    check "run stopped cleanly" run_stopped_cleanly
    check "the dropped files once and whole" files_whole "$WATCH"
    check "the unrelated files untouched" test "$(find "$WATCH" -maxdepth 1 -name '*.dat' | wc -l)" = 100000
}

scenario_folder_swap() {
    new_case folder-swap
    start_sim --silent-after 0 || { say "    scale did not start"; return; }
    write_settings 3000 127.0.0.1 "$SIM_PORT"
    start_run || say "    run did not start"
    drop "in-flight.csv" 50
    wait_until 20 grep -q '^frame' "$CASE/sim.out" || say "    the scale saw no frame"
    mv "$WATCH" "$CASE/watch.gone"
    mkdir "$WATCH"
    say "    folder renamed away and made anew while the file was being sent"
    sleep 6
    drop "after.csv" 2
    wait_until 30 nothing_pending
    stop_run
    stop_sim
    check "run stopped cleanly" run_stopped_cleanly
    check "both files once and whole (old and new folder)" files_whole "$WATCH" "$CASE/watch.gone"
    where_files_went "$CASE/watch.gone"
    journal_says "ERROR|cannot|missing|folder" 8
}

scenario_newest_wins() {
    # Waiting at start, dropped in the order bravo, charlie, alpha, delta, aged so that delta is
    # the oldest and bravo the newest: the scale must get them oldest first.
    new_case oldest-first
    start_sim || { say "    scale did not start"; return; }
    write_settings 500 127.0.0.1 "$SIM_PORT"
    local Name Age=1
    for Name in bravo charlie alpha delta; do
        drop "$Name.csv" 2
        touch -d "-$Age min" "$WATCH/$Name.csv"
        Age=$((Age + 1))
    done
    start_run || say "    run did not start"
    wait_until 30 nothing_pending
    stop_run
    stop_sim
    check "run stopped cleanly" run_stopped_cleanly
    check "every file once and whole" files_whole "$WATCH"
    say "    sent in the order: $(sent_files | tr '\n' ' ')"
    check "oldest first, the newest last" test "$(sent_files | tr '\n' ' ')" = \
        "delta.csv alpha.csv charlie.csv bravo.csv "

    # A slow scale gets prices.csv; meanwhile a new list is renamed over it. The old content is
    # gone by the back office's own doing; the new one must end in processed/ only after it was
    # sent whole itself.
    new_case replaced-while-sent
    start_bad_scale slow || { say "    scale did not start"; return; }
    write_settings 3000 127.0.0.1 "$SIM_PORT"
    start_run || say "    run did not start"
    drop "prices.csv" 100
    wait_until 20 grep -q '^frame' "$CASE/sim.out" || say "    the scale saw no frame"
    plu_text "prices.csv" 3 >"$STAGING/prices.csv"
    md5sum <"$STAGING/prices.csv" | cut -d' ' -f1 >"$CASE/dropped.sums"
    mv "$STAGING/prices.csv" "$WATCH/prices.csv"
    say "    a new prices.csv renamed over the one being sent"
    wait_until 60 nothing_pending
    stop_run
    stop_sim
    check "run stopped cleanly" run_stopped_cleanly
    check "the new list once and whole" files_whole "$WATCH"
    check "the new list is what was filed as sent" test "$(find "$WATCH/processed" -type f \
        -exec md5sum {} + | cut -d' ' -f1)" = "$(cat "$CASE/dropped.sums")"
    sent_counts
    journal_says "replaced|changed|PLU" 6

    # "processed" full for longer than the 30 s after which a file left in place is offered again:
    # each file is sent once; only its move is tried again.
    new_case result-folder-full
    mkdir -p "$WATCH/processed"
    mount_full "$WATCH/processed" 64k || { say "    SKIP  cannot mount a tmpfs"; return; }
    fill_up "$WATCH/processed"
    start_sim || { say "    scale did not start"; return; }
    write_settings 500 127.0.0.1 "$SIM_PORT"
    start_run || say "    run did not start"
    drop "older.csv" 3000
    sleep 2
    drop "newer.csv" 3000
    sleep 40
    rm -f "$WATCH/processed/.filler"
    wait_until 45 nothing_pending
    stop_run
    stop_sim
    check "run stopped cleanly" run_stopped_cleanly
    check "every file once and whole" files_whole "$WATCH"
    check "each file sent once although its move failed for 40 s" sent_once_each
    sent_counts
    where_files_went "$WATCH/processed"
    journal_says "cannot move|given to the scales|after its earlier" 6
    umount "$WATCH/processed"
}

scenario_inline_comment() {
    new_case inline-comment
    start_sim || { say "    scale did not start"; return; }
    write_settings 500 127.0.0.1 "$SIM_PORT"
    sed -i 's/^ScaleCount=1\r$/ScaleCount=1 ; весы в зале\r/' "$DATA/PlumeriaBridge/settings.ini"
    md5sum <"$DATA/PlumeriaBridge/settings.ini" >"$CASE/settings.sum"
    start_run || say "    run did not start"
    drop "prices.csv" 5
    wait_until 30 nothing_pending
    stop_run
    stop_sim
    check "run stopped cleanly" run_stopped_cleanly
    check "settings.ini unchanged" settings_unchanged
    check "the file was sent to the scale" test "$(sent_files)" = prices.csv
    sent_counts
}

scenario_many_starts() {
    new_case many-starts
    write_settings 300
    local I Pids=()
    for I in 1 2 3 4 5 6 7 8; do
        ProgramData=$DATA "$TOOL" run >"$CASE/run$I.out" 2>"$CASE/run$I.err" &
        Pids+=($!)
    done
    sleep 3
    local Running=0
    for I in "${!Pids[@]}"; do kill -0 "${Pids[$I]}" 2>/dev/null && Running=$((Running + 1)); done
    for I in "${!Pids[@]}"; do kill -TERM "${Pids[$I]}" 2>/dev/null; wait "${Pids[$I]}" 2>/dev/null; done
    say "    still running after 3 s: $Running of 8"
    check "exactly one of eight runs watches" test "$Running" = 1
    check "nobody fell back to a folder beside the executable" \
        test -z "$(find "$(dirname "$TOOL")" -maxdepth 1 -name '*.ini' -o -maxdepth 1 -name logs)"
}

scenario_paused_writer() {
    new_case paused-writer
    if ! command -v setpriv >/dev/null || [ "$(id -u)" != 0 ]; then
        say "    SKIP  needs root and setpriv to run the program as another user"
        return
    fi
    start_sim || { say "    scale did not start"; return; }
    write_settings 500 127.0.0.1 "$SIM_PORT"
    chmod -R a+rwX "$CASE"
    chmod a+x "$ROOT"
    ProgramData=$DATA setpriv --reuid=nobody --regid=nogroup --clear-groups "$TOOL" run \
        >"$CASE/run.out" 2>"$CASE/run.err" &
    RUN_PID=$!
    wait_until 10 grep -q "^watching " "$CASE/run.out" || say "    run did not start"
    plu_text "paused.csv" 20 >"$STAGING/paused.csv"
    md5sum <"$STAGING/paused.csv" | cut -d' ' -f1 >>"$CASE/dropped.sums"
    # The back office writes the first half, pauses 12 s with the file open, then the rest.
    (
        exec 3>"$WATCH/paused.csv"
        head -c 300 "$STAGING/paused.csv" >&3
        sleep 12
        tail -c +301 "$STAGING/paused.csv" >&3
        exec 3>&-
    )
    wait_until 20 nothing_pending
    stop_run
    stop_sim
    check "run stopped cleanly" run_stopped_cleanly
    check "the file once and whole" files_whole "$WATCH"
    check "the scale got the whole file, once" test "$(journal | grep -c 'mask=\* sent 20 PLU')" = 1
    sent_counts
    journal_says "sent|PLU|cannot tell" 4
}

# --- main -------------------------------------------------------------------------------------

ALL=(disk_full_results disk_full_data bad_scales folder_swap newest_wins inline_comment many_starts
    paused_writer unrelated_files many_files)
CHOSEN=("$@")
[ ${#CHOSEN[@]} -eq 0 ] && CHOSEN=("${ALL[@]}")
say "fault campaign in $ROOT, commit $(git rev-parse --short HEAD 2>/dev/null)"
for Name in "${CHOSEN[@]}"; do
    "scenario_$Name"
done
say ""
[ $FAILED = 0 ] && say "campaign: every check held" || say "campaign: SOME CHECKS FAILED (see above)"
say "results: $RESULTS"
exit $FAILED
