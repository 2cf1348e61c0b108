#!/usr/bin/env bash
# Runs every libFuzzer target for the given number of seconds each on its committed seed corpus
# (tests/fuzz/corpus/NAME, never written to) plus what it finds meanwhile, and prints each
# target's executions per second and coverage. Builds the targets first (clang, sanitizers).
#   scripts/fuzz.sh [SECONDS] [TARGET...]      default: 60 seconds, every target
# Environment: FUZZ_BUILD (build-fuzz) build folder; FUZZ_OUT (FUZZ_BUILD/fuzz-run) where the
# grown corpora, logs and any crash inputs go; FUZZ_JOBS (1) targets run at the same time;
# FUZZ_NICE (0) niceness of the fuzzers; FUZZ_TIMEOUT (60) seconds one input may take before it
# counts as a hang (generous: a loaded machine slows the large-file inputs a lot);
# FUZZ_NO_BUILD=1 runs the targets already in FUZZ_BUILD. Exits non-zero when any target found
# something.
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_EACH=${1:-60}
shift || true
BUILD=${FUZZ_BUILD:-build-fuzz}
OUT=${FUZZ_OUT:-$BUILD/fuzz-run}
JOBS=${FUZZ_JOBS:-1}
NICE=${FUZZ_NICE:-0}
ALL=(plu_parser price settings label_records label_doc mask sim_frame zip_reader)
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
    TARGETS=("${ALL[@]}")
fi

if [ -z "${FUZZ_NO_BUILD:-}" ]; then
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
        -DPLUMERIA_GUI=OFF -DPLUMERIA_BENCH=OFF -DPLUMERIA_FUZZ=ON -DPLUMERIA_WERROR=ON >/dev/null
    cmake --build "$BUILD" -j "$(nproc)" --target fuzz_targets
fi

mkdir -p "$OUT"
# Several targets write every input to a file: on tmpfs that costs no disk and no sync.
if [ -z "${TMPDIR:-}" ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
run_one() {
    local Name=$1
    mkdir -p "$OUT/corpus/$Name"
    # The grown corpus comes first: libFuzzer adds new inputs to the first folder only.
    nice -n "$NICE" "$BUILD/tests/fuzz/${Name}_fuzz" -max_total_time="$SECONDS_EACH" \
        -timeout="${FUZZ_TIMEOUT:-60}" -print_final_stats=1 -artifact_prefix="$OUT/$Name-" \
        "$OUT/corpus/$Name" "tests/fuzz/corpus/$Name" >"$OUT/$Name.log" 2>&1
}

pids=()
names=()
for Name in "${TARGETS[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do
        sleep 1
    done
    run_one "$Name" &
    pids+=($!)
    names+=("$Name")
done

failed=0
printf '%-15s %8s %12s %10s %8s %8s  %s\n' target seconds executions exec/s cov ft result
for I in "${!pids[@]}"; do
    Name=${names[$I]}
    Result=ok
    if ! wait "${pids[$I]}"; then
        Result="FOUND SOMETHING: see $OUT/$Name.log"
        failed=1
    fi
    Log="$OUT/$Name.log"
    Runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$Log" | tail -1)
    Rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$Log" | tail -1)
    Time=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$Log" | tail -1)
    Cov=$(grep -o 'cov: [0-9]*' "$Log" | tail -1 | cut -d' ' -f2)
    Ft=$(grep -o 'ft: [0-9]*' "$Log" | tail -1 | cut -d' ' -f2)
    printf '%-15s %8s %12s %10s %8s %8s  %s\n' "$Name" "${Time:-?}" "${Runs:-?}" "${Rate:-?}" \
        "${Cov:-?}" "${Ft:-?}" "$Result"
done
exit $failed
