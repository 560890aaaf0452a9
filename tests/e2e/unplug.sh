#!/usr/bin/env bash
# Unplug under load: the simulated device closes its end of the pty in the
# middle of a flood while a capture log is open, as a pulled USB adapter does.
# The program must stay alive and idle, show the closed port with exactly one
# warning, and log exactly what it received and showed.
#
# usage: unplug.sh VELMORA SIMDEVICE
# E2E_LOAD=1 keeps the other core busy; E2E_KEEP=1 keeps the work folder.

VELMORA=$(realpath "${1:?usage: unplug.sh VELMORA SIMDEVICE}")
SIMDEVICE=$(realpath "${2:?usage: unplug.sh VELMORA SIMDEVICE}")
E2E_NAME=unplug
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"

FLOOD=100000     # 4,000,000 bytes offered
HANGUP=400017    # the device hangs up here, in the middle of a line
start_with_port_open --hangup-after-bytes "$HANGUP"

capture="$WORK/capture.log"
focus "$MAIN"
keys alt+f o
dialog=$(window_named 'ﾛｸﾞ ﾌｧｲﾙを開く') || fail "no window titled 'ﾛｸﾞ ﾌｧｲﾙを開く' appeared"
focus "$dialog"
type_text "$capture"
keys Return
wait_until 30 "the caption 'Velmora - capture.log'" title_is "Velmora - capture.log"
log "log open"

focus "$MAIN"
type_text "flood $FLOOD"
keys Return
device_gone() { ! kill -0 "$SIM_PID" 2>/dev/null; }
wait_until 120 "the device to hang up after $HANGUP bytes (sent $(file_size "$WORK/sent.bin"))" \
    device_gone
wait "$SIM_PID"
SIM_PID=""
[ "$(file_size "$WORK/sent.bin")" -eq "$HANGUP" ] ||
    fail "the device sent $(file_size "$WORK/sent.bin") bytes before hanging up, not $HANGUP"
log "device hung up after $HANGUP bytes"

# One warning box, titled Velmora, over the main window.
boxes() { xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null | grep -vx "$MAIN"; }
box_shown() { [ -n "$(boxes)" ]; }
wait_until 60 "a warning box titled Velmora" box_shown
[ "$(boxes | wc -l)" -eq 1 ] || fail "$(boxes | wc -l) boxes titled Velmora at once"
box=$(boxes)
wait_until 30 "the red indicator disc of the closed port" disc_seen red
log "warning box $box shown, indicator red"

# A warning, not some other box: it carries the yellow warning sign. (Qt
# copies a message box's text with Ctrl+C on Windows only, so the words are
# checked by the program's own tests, not here.)
yellow_pixels() {
    import -silent -window "$box" -depth 8 txt:- 2>/dev/null |
        awk -F'[(),: ]+' '/^[0-9]/ && $3 > 200 && $4 > 180 && $5 < 90 { n++ } END { print n + 0 }'
}
[ "$(yellow_pixels)" -ge 50 ] || fail "the box shows no warning sign"

# No spin: over a few seconds the program takes next to no CPU time,
# with the box open and after it is dismissed.
idle_check() {
    local before after wall=3
    before=$(cpu_ticks "$APP_PID")
    local start=$SECONDS
    sleep "$wall"
    after=$(cpu_ticks "$APP_PID")
    local ticks=$((after - before)) hz
    hz=$(getconf CLK_TCK)
    # Spinning takes a whole core: $wall * hz ticks. Idle is close to 0.
    [ $((ticks * 100)) -le $((wall * hz * 15)) ] ||
        fail "the program used $ticks ticks of CPU in ${wall}s ($1): it spins"
    kill -0 "$APP_PID" 2>/dev/null || fail "the program ended ($1)"
    log "idle $1: $ticks CPU ticks in $((SECONDS - start))s"
}
idle_check "with the warning open"

keys Return
wait_until 30 "the warning box to close" test -z "$(boxes)"
idle_check "after the warning"
[ -z "$(boxes)" ] || fail "a second warning box appeared after the first was dismissed"
disc_seen red || fail "the indicator is not red after the warning"

# Every byte shown is in the log: the terminal's text ends the log.
shown=$(terminal_text)
[ -n "$shown" ] || fail "the terminal shows nothing after the flood"
printf '%s' "$shown" | sed 's/$/\r/' | head -c -1 >"$WORK/shown.txt"
# The copy drops the trailing line break; put it back when the log has one.
[ "$(tail -c 2 "$capture" | od -An -c | tr -d ' ')" = '\r\n' ] && printf '\r\n' >>"$WORK/shown.txt"

# Exit cleanly; the log is closed on the way out.
APP_MAY_END=1
focus "$MAIN"
keys alt+f x
app_ended() { ! kill -0 "$APP_PID" 2>/dev/null; }
wait_until 60 "the program to end after File > Exit" app_ended
wait "$APP_PID"
status=$?
APP_PID=""
[ "$status" -eq 0 ] || fail "the program exited with status $status"
log "program ended"

expected_flood 1 "$FLOOD" | head -c "$HANGUP" >"$WORK/expected.bin"
cmp -s "$WORK/expected.bin" "$WORK/sent.bin" || fail "the device's record is not the flood's start"
logged=$(file_size "$capture")
[ "$logged" -gt 0 ] || fail "nothing was logged"
tail -c "$(file_size "$WORK/shown.txt")" "$capture" | cmp -s - "$WORK/shown.txt" ||
    fail "the terminal's text ($(file_size "$WORK/shown.txt") bytes) is not the end of the log"

# The log must be exactly what the program received: nothing added, doubled or
# changed, in order. When a pty master closes, the kernel drops what its line
# discipline still holds while a read already under way may get one more
# piece, so the received stream may have one hole just before its end. The
# log is therefore the device's stream up to some point at most 64 KiB before
# the hangup, then at most one later piece of it.
#   prints: prefix-length hole-length piece-length, or "bad OFFSET"
shape=$(perl -e '
    local $/;
    open(my $s, "<:raw", $ARGV[0]) or die; my $sent = <$s>;
    open(my $l, "<:raw", $ARGV[1]) or die; my $log = <$l>;
    my $n = length($log) < length($sent) ? length($log) : length($sent);
    my $a = 0;
    $a++ while $a < $n && substr($sent, $a, 1) eq substr($log, $a, 1);
    if ($a == length($log)) { print "$a 0 0\n"; exit }
    my $rest = substr($log, $a);
    my $b = index($sent, $rest, $a + 1);
    if ($b < 0) { print "bad $a\n"; exit }
    printf "%d %d %d\n", $a, $b - $a, length($rest);
' "$WORK/sent.bin" "$capture")
read -r prefix hole piece <<<"$shape"
[ "$prefix" != bad ] ||
    fail "the log ($logged bytes) is not what the device sent: from byte $hole on it differs"
[ "$prefix" -ge $((HANGUP - 65536)) ] ||
    fail "the log follows the device only for $prefix of $HANGUP bytes, not up to the last 64 KiB"
log "log: $logged bytes, the device's first $prefix of $HANGUP and $piece after a hole; the terminal shows the last $(file_size "$WORK/shown.txt")"
[ "$hole" -eq 0 ] ||
    log "note: the kernel dropped $hole bytes in flight at the hangup; the program read $piece more after them"
lost=$((HANGUP - prefix - hole - piece))
[ "$lost" -eq 0 ] || log "note: the last $lost bytes sent before the hangup never reached the program"

log "PASS"
