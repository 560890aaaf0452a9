#!/usr/bin/env bash
# Installs what is needed, builds Velmora and starts it. With no serial
# hardware present it also starts the simulated device and pins it as the
# first Com number the user has not pinned already (Com1 on a new machine).
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
    ports="${XDG_CONFIG_HOME:-$HOME/.config}/velmora/ports"
    number=1
    while [ -e "$ports/com$number" ] || [ -L "$ports/com$number" ]; do
        number=$((number + 1))
    done
    echo "No serial hardware found: the simulated device is Com$number" \
         "(ﾎﾟｰﾄを開く opens it; type AT or FLOOD 1000 and Enter)."
    build/tools/simdevice --link "$number" &
    device_pid=$!
    trap '[ -n "$device_pid" ] && kill "$device_pid" 2>/dev/null || true' EXIT
    sleep 0.5
fi

build/src/velmora
