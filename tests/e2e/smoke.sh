#!/usr/bin/env bash
# End-to-end smoke run of the built program in a private X server, driven from
# outside with the mouse and keyboard against the simulated device:
# open the port from the indicator, send a line, see the answer, capture a
# flood in a log chosen through the file dialog, close the log, save the
# properties, exit; then check the device's record, the log and the settings
# file byte for byte.
#
# usage: smoke.sh VELMORA SIMDEVICE
# E2E_LOAD=1 keeps the other core busy; E2E_KEEP=1 keeps the work folder.

VELMORA=$(realpath "${1:?usage: smoke.sh VELMORA SIMDEVICE}")
SIMDEVICE=$(realpath "${2:?usage: smoke.sh VELMORA SIMDEVICE}")
E2E_NAME=smoke
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"

FLOOD=2000
# Open the port with a click on the red disc; it turns green.
start_with_port_open

# A typed line goes out upper-cased with one carriage return, in one line.
focus "$MAIN"
type_text "at"
keys Return
wait_until 30 "the device to receive 3 bytes" size_at_least "$WORK/received.bin" 3
printf 'AT\r' | cmp -s - "$WORK/received.bin" ||
    fail "the device received $(od -An -c "$WORK/received.bin" | tr -s ' ') instead of A T \\r"
log "device received AT CR"

# The device's answer is on screen.
answer_shown() {
    terminal_text >"$WORK/terminal.txt"
    [ "$(cat "$WORK/terminal.txt")" = "OK" ]
}
wait_until 30 "the answer OK in the terminal (the last copy is in terminal.txt)" answer_shown
log "answer OK shown"

# Open a capture log through the file dialog: File > Open log, type a path, Enter.
capture="$WORK/capture.log"
focus "$MAIN"
keys alt+f o
dialog=$(window_named 'ﾛｸﾞ ﾌｧｲﾙを開く') || fail "no window titled 'ﾛｸﾞ ﾌｧｲﾙを開く' appeared"
focus "$dialog"
type_text "$capture"
keys Return
wait_until 30 "the caption 'Velmora - capture.log'" title_is "Velmora - capture.log"
[ -f "$capture" ] || fail "the caption names the log but $capture was not created"
[ "$(file_size "$capture")" -eq 0 ] || fail "the new log is not empty: $(file_size "$capture") bytes"
log "log open"

# A flood of numbered lines, all of it into the log.
focus "$MAIN"
type_text "flood $FLOOD"
keys Return
expected="$WORK/expected.log"
expected_flood 1 "$FLOOD" >"$expected"
wait_until 30 "the device to receive the flood command" \
    size_at_least "$WORK/received.bin" $((3 + 11))
wait_until 120 "the log to reach $(file_size "$expected") bytes (has $(file_size "$capture"))" \
    size_at_least "$capture" "$(file_size "$expected")"
log "flood of $FLOOD lines logged"

# Close the log: File > Close log.
focus "$MAIN"
keys alt+f c
wait_until 30 "the caption back to 'Velmora' after closing the log" title_is "Velmora"
log "log closed"

# Properties: Port > (the item after Open) Properties..., then OK saves the settings.
focus "$MAIN"
keys alt+c Down Return
props=$(window_named '^通信ﾎﾟｰﾄのﾌﾟﾛﾊﾟﾃｨ$') || fail "no window titled '^通信ﾎﾟｰﾄのﾌﾟﾛﾊﾟﾃｨ$' appeared"
focus "$props"
keys Return
wait_until 30 "the properties dialog to close after OK" window_gone '^通信ﾎﾟｰﾄのﾌﾟﾛﾊﾟﾃｨ$'
conf="$HOME/.config/Velmora/Velmora.conf"
wait_until 30 "the settings file $conf" test -s "$conf"
log "properties saved"

# Exit through the menu: File > Exit.
focus "$MAIN"
APP_MAY_END=1
keys alt+f x
app_ended() { ! kill -0 "$APP_PID" 2>/dev/null; }
wait_until 60 "the program to end after File > Exit" app_ended
wait "$APP_PID"
status=$?
APP_PID=""
[ "$status" -eq 0 ] || fail "the program exited with status $status"
log "program ended"

# What the device received: the two typed lines and nothing else.
printf 'AT\rFLOOD %d\r' "$FLOOD" | cmp -s - "$WORK/received.bin" ||
    fail "the device received $(od -An -c "$WORK/received.bin" | tr -s ' ' | head -c 200)"

# The log: exactly the device's output after the log opened, which was the
# answer OK and then the flood.
{ printf 'OK\r\n'; cat "$expected"; } | cmp -s - "$WORK/sent.bin" ||
    fail "the device's record of what it sent is not OK CR LF and the flood"
if ! cmp "$expected" "$capture"; then
    fail "the log differs from the flood ($(file_size "$capture") bytes, expected $(file_size "$expected"))"
fi

# The settings file: the starting settings, saved by OK.
section=$(awk '/^\[/ { s = $0 } s == "[Properties]" && !/^\[/ && NF' "$conf" | sort)
want=$(printf '%s\n' 'CommPort=1' 'Echo=False' 'Handshaking=0' 'Settings="9600,n,8,1"' | sort)
want_plain=$(printf '%s\n' 'CommPort=1' 'Echo=False' 'Handshaking=0' 'Settings=9600,n,8,1' | sort)
if [ "$section" != "$want" ] && [ "$section" != "$want_plain" ]; then
    echo "--- $conf:" >&2
    cat "$conf" >&2
    fail "the [Properties] section holds other keys or values than the starting settings"
fi

log "PASS"
