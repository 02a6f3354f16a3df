#!/bin/sh
# Runs `make test`'s suite (everything but the soak) N times in a row
# (default 20) while two `yes > /dev/null` keep both cores of the build
# machine busy, and stops at the first failing run.
# Usage: tools/repeat-under-load.sh [N] [BUILD_DIR] [HOGS]
set -u
runs=${1:-20}
build=${2:-build}
hogs=${3:-2}
pids=""
i=0
while [ "$i" -lt "$hogs" ]; do
    yes > /dev/null &
    pids="$pids $!"
    i=$((i + 1))
done
# shellcheck disable=SC2086
trap 'kill $pids 2>/dev/null' EXIT
trap 'exit 130' INT TERM
passed=0
i=1
while [ "$i" -le "$runs" ]; do
    start=$(date +%s)
    if (cd "$build" && ctest -j2 -LE soak --output-on-failure --timeout 600 > "ctest-under-load-$i.log" 2>&1); then
        passed=$((passed + 1))
        echo "run $i: passed in $(( $(date +%s) - start )) s (load average $(cut -d' ' -f1 /proc/loadavg))"
    else
        echo "run $i: FAILED after $(( $(date +%s) - start )) s; see $build/ctest-under-load-$i.log"
        grep -E '^\s+[0-9]+ - ' "$build/ctest-under-load-$i.log"
        break
    fi
    i=$((i + 1))
done
echo "$passed of $runs runs passed in a row under $hogs CPU hogs"
[ "$passed" -eq "$runs" ]
