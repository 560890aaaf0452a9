#!/usr/bin/env bash
# Installs what is needed, builds with warnings as errors and runs every test,
# then builds and runs them again under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
export LC_ALL=C.UTF-8

# The sources stay as clang-format writes them.
find src tests tools bench \( -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 clang-format --dry-run -Werror

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WERROR=ON
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

# The .deb as users get it: lintian's errors fail CI, the AppStream data validates.
rm -f build/velmora_*.deb
(cd build && cpack -G DEB > /dev/null)
lintian --fail-on error --tag-display-limit 0 build/velmora_*.deb
appstreamcli validate --no-net packaging/*.metainfo.xml

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_WERROR=ON -DVELMORA_SANITIZE=ON
cmake --build build-asan -j"$jobs"
# The hardware bed (label hw) runs in the plain build only: under emulation it
# would take as long again for what the plain run already proved.
(cd build-asan && ctest --output-on-failure -j"$jobs" -LE hw)

# The reader thread and its hand-over under ThreadSanitizer: the two suites
# that drive it hardest. Qt is not built with TSan, so what happens inside
# Qt's own locking is suppressed (tests/tsan.supp); our code is checked.
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TSAN=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build-tsan -j"$jobs" --target tst_serialctl_stress tst_serialctl_fake
(cd build-tsan && ctest --output-on-failure -R '^tst_serialctl_(stress|fake)$')
unset TSAN_OPTIONS

# The fuzz targets, briefly, from their checked-in seeds (clang's libFuzzer).
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build-fuzz -j"$jobs"
(cd build-fuzz && ctest --output-on-failure)
