#!/bin/sh
# Runs the whole suite but the soak N times in a row (default 20) while one
# `yes > /dev/null` keeps a core busy, and stops at the first failing run.
# Usage: tools/repeat-under-load.sh [N] [BUILD_DIR]
set -u
runs=${1:-20}
build=${2:-build}
yes > /dev/null &
hog=$!
trap 'kill $hog 2>/dev/null' EXIT INT TERM
passed=0
i=1
while [ "$i" -le "$runs" ]; do
    start=$(date +%s)
    if (cd "$build" && ctest -j2 -E '^e2e_soak$' --output-on-failure --timeout 600 > "ctest-under-load-$i.log" 2>&1); then
        passed=$((passed + 1))
        echo "run $i: passed in $(( $(date +%s) - start )) s"
    else
        echo "run $i: FAILED after $(( $(date +%s) - start )) s; see $build/ctest-under-load-$i.log"
        grep -E '^\s+[0-9]+ - ' "$build/ctest-under-load-$i.log"
        break
    fi
    i=$((i + 1))
done
echo "$passed of $runs runs passed in a row under load"
[ "$passed" -eq "$runs" ]
