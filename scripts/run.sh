#!/usr/bin/env bash
# Installs what is needed, builds Velmora and starts it. With no USB serial
# adapter present it also starts the simulated device and pins it as the
# first Com number the user has not pinned already (Com1 on a new machine).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"

# A USB serial adapter is what a bench device hangs on; an on-board UART is
# usually wired to nothing, so it does not stop the simulated device.
have_adapter() {
    ls /dev/ttyUSB* /dev/ttyACM* >/dev/null 2>&1
}

device_pid=""
if ! have_adapter; then
    ports="${XDG_CONFIG_HOME:-$HOME/.config}/velmora/ports"
    number=1
    while [ -e "$ports/com$number" ] || [ -L "$ports/com$number" ]; do
        number=$((number + 1))
    done
    echo "No USB serial adapter found: the simulated device is Com$number" \
         "(ﾎﾟｰﾄを開く opens it; type AT or FLOOD 1000 and Enter)."
    echo "On-board ports can be pinned to another Com number with a link in $ports."
    build/tools/simdevice --link "$number" &
    device_pid=$!
    trap '[ -n "$device_pid" ] && kill "$device_pid" 2>/dev/null || true' EXIT
    sleep 0.5
fi

build/src/velmora
