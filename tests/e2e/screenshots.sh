#!/usr/bin/env bash
# Takes the README's pictures in a private X server: the main window with the
# port open and some received text, and the properties dialog.
#
# usage: screenshots.sh VELMORA SIMDEVICE [OUTPUT_DIR]   (default: docs/)

VELMORA=$(realpath "${1:?usage: screenshots.sh VELMORA SIMDEVICE [OUTPUT_DIR]}")
SIMDEVICE=$(realpath "${2:?usage: screenshots.sh VELMORA SIMDEVICE [OUTPUT_DIR]}")
OUT=$(realpath "${3:-$(dirname "$0")/../../docs}")
E2E_NAME=screenshots
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"

check_tools
start_x
# shellcheck disable=SC2119 # no extra device options
start_device
start_app

click_disc red
wait_until 30 "the green indicator disc" disc_seen green
focus "$MAIN"
type_text "at"
keys Return
wait_until 30 "the answer OK" size_at_least "$WORK/sent.bin" 4
type_text "flood 12"
keys Return
wait_until 30 "the flood of 12 lines" size_at_least "$WORK/sent.bin" $((4 + 12 * 40))
# The connect time shows from the first tick, one second after the open.
sleep 1.5
mkdir -p "$OUT"
import -silent -window "$MAIN" "$OUT/main-window.png" || fail "no picture of the main window"
log "wrote $OUT/main-window.png"

keys alt+c Down Return
props=$(window_named '^通信ﾎﾟｰﾄのﾌﾟﾛﾊﾟﾃｨ$') || fail "no window titled '^通信ﾎﾟｰﾄのﾌﾟﾛﾊﾟﾃｨ$' appeared"
wait_until 30 "the properties dialog to be viewable" viewable "$props"
sleep 0.5 # its first paint
import -silent -window "$props" "$OUT/properties.png" || fail "no picture of the properties dialog"
log "wrote $OUT/properties.png"
focus "$props"
keys Escape
wait_until 30 "the properties dialog to close" window_gone '^通信ﾎﾟｰﾄのﾌﾟﾛﾊﾟﾃｨ$'

# The graph beside the terminal, a few seconds of the device's plot lines.
focus "$MAIN"
xdotool windowmove --sync "$MAIN" 0 0
xdotool windowsize --sync "$MAIN" 1000 560
keys alt+v g
sleep 0.5
focus "$MAIN"
type_text "plot 250 6"
keys Return
sleep 7
# The sequence number and the ramp taken out of the legend, the pointer on a sample.
xdotool mousemove --window "$MAIN" 868 94 click 1
xdotool mousemove --window "$MAIN" 868 234 click 1
xdotool mousemove --window "$MAIN" 690 300
sleep 0.5
import -silent -window "$MAIN" "$OUT/graph.png" || fail "no picture of the graph"
log "wrote $OUT/graph.png"
