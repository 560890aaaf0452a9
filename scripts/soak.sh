#!/usr/bin/env bash
# Soak run (not part of CI): 1 GB through a pty into the real window with a
# capture log open, then 10,000 port open/close cycles. Prints memory and
# open descriptors before and after, and lost or reordered lines.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build-bench --target receive_bench soak_cycles
export QT_QPA_PLATFORM=offscreen
echo "== 1 GB flood"
build-bench/bench/receive_bench 1000 --no-cat 2> /dev/null
echo "== open/close cycles"
build-bench/bench/soak_cycles "${1:-10000}" 2> /dev/null
