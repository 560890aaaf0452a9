#!/bin/sh
# Runs the latency benchmark in its own Xvfb (key events need a real X server),
# or another window benchmark named third with its own arguments after it.
# usage: bench/run_latency_bench.sh [build dir] [samples] [program [args]]
#   e.g. bench/run_latency_bench.sh build-bench 1000 script_bench   (a Release build)
set -eu
build=${1:-"$(dirname "$0")/../build-bench"}
display=:$((90 + $$ % 50))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb' EXIT
sleep 1
samples=${2:-220}
program=${3:-latency_bench}
[ $# -gt 3 ] && shift 3 || set --
DISPLAY=$display QT_QPA_PLATFORM=xcb "$build/bench/$program" "$samples" "$@" 2>/dev/null
