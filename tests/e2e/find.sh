#!/usr/bin/env bash
# End-to-end run of scrollback and find, from the keyboard: with 3000 lines
# kept, a line selected after scrolling back stays the same line while more
# arrive and old ones go; Ctrl+Shift+F finds a line, Esc leaves it selected
# and Ctrl+Shift+C copies it.
#
# usage: find.sh VELMORA SIMDEVICE
# E2E_LOAD=1 keeps the other core busy; E2E_KEEP=1 keeps the work folder.

VELMORA=$(realpath "${1:?usage: find.sh VELMORA SIMDEVICE}")
SIMDEVICE=$(realpath "${2:?usage: find.sh VELMORA SIMDEVICE}")
E2E_NAME=find
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"

check_tools
load_other_core
start_x
mkdir -p "$XDG_CONFIG_HOME/Velmora"
printf '[View]\nScrollback=3000\n' >"$XDG_CONFIG_HOME/Velmora/Velmora.conf"
# shellcheck disable=SC2119 # no extra device options
start_device
start_app
click_disc red
wait_until 30 "the green indicator disc after opening the port" disc_seen green

LINE=40 # bytes of each flood line
clipboard() { timeout 10 xclip -o -selection clipboard 2>/dev/null; }
flood() {
    focus "$MAIN"
    type_text "flood $1"
    keys Return
    wait_until 120 "the device to send $2 lines" size_at_least "$WORK/sent.bin" $(($2 * LINE))
}

flood 3000 3000
# Back three pages from the newest line, select that line and copy it.
focus "$MAIN"
keys Prior Prior Prior Home shift+End ctrl+shift+c
wait_until 20 "a line on the clipboard" clipboard
before=$(clipboard)
case "$before" in
LINE\ 00*) ;;
*) fail "copied '$before' instead of a flood line" ;;
esac
log "selected $before"

# 500 more lines: the oldest 500 go, the selection stays on its line.
flood 500 3500
sleep 1
focus "$MAIN"
keys ctrl+shift+c
after=$(clipboard)
[ "$after" = "$before" ] || fail "the selection moved from '$before' to '$after'"
log "still $after after 500 more lines"

# Find a line still kept; Esc leaves it selected for Ctrl+Shift+C.
focus "$MAIN"
keys ctrl+shift+f
sleep 0.5
type_text "line 003210"
keys Return Escape ctrl+shift+c
found() { [ "$(clipboard)" = "LINE 003210" ]; }
wait_until 20 "the match 'LINE 003210' on the clipboard (has '$(clipboard)')" found
log "found and copied LINE 003210"

# The first lines are gone: the bound kept 3000.
focus "$MAIN"
keys ctrl+shift+f
sleep 0.5
keys ctrl+a
type_text "line 000100"
keys Return Escape ctrl+shift+c
sleep 1
[ "$(clipboard)" = "LINE 003210" ] || fail "found a line that should have been dropped: $(clipboard)"
log "PASS"
