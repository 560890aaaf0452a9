#!/bin/sh
# Runs the latency benchmark in its own Xvfb (key events need a real X server).
# usage: bench/run_latency_bench.sh [build dir] [samples] [--hex | --colour]
set -eu
build=${1:-"$(dirname "$0")/../build-bench"}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] || set -- 220
display=:$((90 + $$ % 50))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb' EXIT
sleep 1
DISPLAY=$display QT_QPA_PLATFORM=xcb "$build/bench/latency_bench" "$@" 2>/dev/null
