#!/usr/bin/env bash
# Runs every fuzz target for longer: ./scripts/fuzz.sh [seconds per target, default 600].
# New inputs are kept in build-fuzz/tests/fuzz/corpus/; a finding is written to
# the current folder as crash-*/leak-*/timeout-* and belongs in the seeds once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
scripts/install-deps.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build-fuzz -j"$(nproc)"
for target in build-fuzz/tests/fuzz/fuzz_*; do
    name=$(basename "$target")
    corpus=${name#fuzz_}
    mkdir -p "build-fuzz/tests/fuzz/corpus/$corpus"
    QT_QPA_PLATFORM=offscreen "$target" -max_total_time="$seconds" -timeout=10 \
        "build-fuzz/tests/fuzz/corpus/$corpus" "tests/fuzz/corpus/$corpus"
done
