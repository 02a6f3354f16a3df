#!/usr/bin/env bash
# Builds the fuzzers and runs each for SECONDS seconds (default 60) on its corpus
# in the build folder. Prints each target's speed and executions; exits non-zero
# when any target crashes, leaks, times out or runs out of memory.
#   fuzz/run.sh [SECONDS]      FUZZ_BUILD=dir  FUZZ_JOBS=n  CXX=clang++
set -uo pipefail
cd "$(dirname "$0")/.."

SECONDS_EACH="${1:-60}"
case "$SECONDS_EACH" in
    ''|*[!0-9]*) echo "usage: fuzz/run.sh [SECONDS]" >&2; exit 2 ;;
esac
BUILD="${FUZZ_BUILD:-build-fuzz}"
JOBS="${FUZZ_JOBS:-$(nproc)}"
COMPILER="${CXX:-clang++}"
case "$COMPILER" in *clang*) ;; *) COMPILER=clang++ ;; esac

# Warnings are errors here, as in the Makefile's other builds.
cmake -S fuzz -B "$BUILD" -DCMAKE_CXX_COMPILER="$COMPILER" -DTASSIO_WERROR=ON >/dev/null || exit 1
cmake --build "$BUILD" -j "$JOBS" || exit 1

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
mkdir -p "$BUILD/artifacts" "$BUILD/logs"
# The fuzzers' scratch files, removed even when a crash skips their own cleanup.
scratch_base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_base=/dev/shm
TMPDIR=$(mktemp -d "$scratch_base/tassio-fuzz-run-XXXXXX") || exit 1
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT

failed=0
summary=""
for name in dibimage settings wavfile; do
    log="$BUILD/logs/$name.log"
    echo "== fuzz_$name: ${SECONDS_EACH} s =="
    "$BUILD/fuzz_$name" "$BUILD/corpus/$name" \
        -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/${name}-" \
        $( [ -f "fuzz/$name.dict" ] && echo "-dict=fuzz/$name.dict" ) \
        >"$log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    if [ "$rc" -ne 0 ] || [ -z "$execs" ]; then
        failed=1
        echo "fuzz_$name FAILED (exit $rc); log: $log" >&2
        grep -E '^(==[0-9]+==ERROR|SUMMARY|fuzz_|.*runtime error|.*Test unit written)' "$log" | head -20 >&2
        summary+=$(printf '%-14s FAILED (exit %s)' "fuzz_$name" "$rc")$'\n'
    else
        summary+=$(printf '%-14s %8s exec/s %12s executions' "fuzz_$name" "$speed" "$execs")$'\n'
    fi
done
printf '%s' "$summary"
exit "$failed"
