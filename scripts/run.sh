#!/usr/bin/env bash
# Installs what is needed, builds Velmora and starts it. With no serial
# hardware present it also starts the simulated device and pins it as Com1.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"

have_hardware() {
    ls /dev/ttyUSB* /dev/ttyACM* >/dev/null 2>&1 && return 0
    for type in /sys/class/tty/ttyS*/type; do
        [ -r "$type" ] && [ "$(cat "$type")" != "0" ] && return 0
    done
    return 1
}

device_pid=""
if ! have_hardware; then
    echo "No serial hardware found: starting the simulated device as Com1."
    build/tools/simdevice --link 1 &
    device_pid=$!
    trap '[ -n "$device_pid" ] && kill "$device_pid" 2>/dev/null || true' EXIT
    sleep 0.5
fi

build/src/velmora
