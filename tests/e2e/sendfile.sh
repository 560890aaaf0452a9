#!/usr/bin/env bash
# End-to-end run of a paced file send: set the pacing in its dialog, send a
# file holding every byte value and every kind of line end through the port
# menu, and check what the device received byte for byte.
#
# usage: sendfile.sh VELMORA SIMDEVICE
# E2E_LOAD=1 keeps the other core busy; E2E_KEEP=1 keeps the work folder.

VELMORA=$(realpath "${1:?usage: sendfile.sh VELMORA SIMDEVICE}")
SIMDEVICE=$(realpath "${2:?usage: sendfile.sh VELMORA SIMDEVICE}")
E2E_NAME=sendfile
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"

start_with_port_open

# Pacing: Port > Send pacing..., 1 ms after each character, 3 ms after each line end.
focus "$MAIN"
keys alt+c d
pacing=$(window_named '^送信の間隔$') || fail "no window titled '^送信の間隔$' appeared"
focus "$pacing"
keys ctrl+a
type_text "1"
keys Tab ctrl+a
type_text "3"
keys Return
wait_until 30 "the pacing dialog to close after OK" window_gone '^送信の間隔$'
stored() { grep -q '^CharDelay=1$' "$1" && grep -q '^LineDelay=3$' "$1"; }
wait_until 30 "the pacing in the settings file" stored "$XDG_CONFIG_HOME/Velmora/Velmora.conf"
log "pacing set"

# Every byte value, then LF, CR LF, a lone CR, LF CR, and a CR that ends the file.
file="$WORK/every-byte.bin"
for i in $(seq 0 255); do printf "\\$(printf '%03o' "$i")"; done >"$file"
printf 'a\nb\r\nc\rd\n\re\r' >>"$file"
focus "$MAIN"
keys alt+c s
dialog=$(window_named 'ﾌｧｲﾙを送信') || fail "no window titled 'ﾌｧｲﾙを送信' appeared"
focus "$dialog"
type_text "$file"
keys Return
wait_until 60 "the device to receive $(file_size "$file") bytes (has $(file_size "$WORK/received.bin"))" \
    size_at_least "$WORK/received.bin" "$(file_size "$file")"
cmp "$file" "$WORK/received.bin" ||
    fail "the device received other bytes than the file's (see $WORK/received.bin)"
log "device received the file byte for byte"

focus "$MAIN"
keys alt+f x
APP_MAY_END=1
wait_until 30 "the program to end" sh -c "! kill -0 $APP_PID 2>/dev/null"
log "done"
