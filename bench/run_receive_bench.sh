#!/bin/sh
# Runs the receive benchmark at 10 MB and at 1 GB and compares the peaks of
# resident memory: the larger flood may use at most 5 MB more.
# usage: bench/run_receive_bench.sh [build dir]   (a Release build)
set -eu
build=${1:-"$(dirname "$0")/../build-bench"}
bench="$build/bench/receive_bench"
export QT_QPA_PLATFORM=offscreen

run() {
    "$bench" "$@" 2>/dev/null | tee /dev/stderr | sed -n 's/.*peak RSS: *\([0-9]*\) KB.*/\1/p'
}
small=$(run 10)
large=$(run 1000 --no-cat)
echo "peak RSS: 10 MB flood ${small} KB, 1 GB flood ${large} KB, difference $((large - small)) KB"
if [ $((large - small)) -le 5000 ]; then
    echo "memory flat: yes"
else
    echo "memory flat: NO"
    exit 1
fi
