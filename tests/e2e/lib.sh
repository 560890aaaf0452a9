# shellcheck shell=bash
# Shared by the end-to-end scripts: a private X server, an empty settings
# store, the simulated device and the program, driven from outside with
# xdotool as a person would. Sourced, not run.
#
# Every wait is on a condition with a deadline; the deadlines are generous
# because a loaded 2-core machine can be slow, and a passing run never waits
# for them.

set -uo pipefail

E2E_NAME=${E2E_NAME:-e2e}
E2E_START=$(date +%s.%N)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/velmora-$E2E_NAME.XXXXXX")
XVFB_PID=""
SIM_PID=""
APP_PID=""
LOAD_PIDS=()
WATCHDOG_PID=""

# Ends the run cleanly (through the traps below) well before a test runner's
# own timeout would kill it and leave the X server and the program behind.
(
    sleep "${E2E_DEADLINE:-200}" &
    nap=$!
    trap 'kill $nap 2>/dev/null; exit 0' TERM
    wait "$nap" || exit 0
    echo "[$E2E_NAME] FAIL: no result within ${E2E_DEADLINE:-200}s" >&2
    kill -TERM $$
) &
WATCHDOG_PID=$!

elapsed() { awk -v a="$E2E_START" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
log() { printf '[%s %6ss] %s\n' "$E2E_NAME" "$(elapsed)" "$*"; }

cleanup() {
    local status=$?
    [ -n "$WATCHDOG_PID" ] && kill "$WATCHDOG_PID" 2>/dev/null
    for pid in $APP_PID $SIM_PID "${LOAD_PIDS[@]}" $XVFB_PID; do
        [ -n "$pid" ] && kill "$pid" 2>/dev/null
    done
    for pid in $APP_PID $SIM_PID "${LOAD_PIDS[@]}" $XVFB_PID; do
        [ -n "$pid" ] && wait "$pid" 2>/dev/null
    done
    if [ "$status" -ne 0 ] || [ -n "${E2E_KEEP:-}" ]; then
        echo "[$E2E_NAME] work folder kept: $WORK"
        [ -s "$WORK/app.err" ] && { echo "--- program stderr:"; tail -n 40 "$WORK/app.err"; }
        [ -s "$WORK/sim.err" ] && { echo "--- simdevice stderr:"; tail -n 20 "$WORK/sim.err"; }
    else
        rm -rf "$WORK"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
    echo "[$E2E_NAME] FAIL: $*" >&2
    if [ -n "${DISPLAY:-}" ] && [ -n "$XVFB_PID" ]; then
        import -window root "$WORK/failure.png" 2>/dev/null &&
            echo "[$E2E_NAME] screen at the failure: $WORK/failure.png" >&2
    fi
    exit 1
}

# wait_until SECONDS WHAT COMMAND...: polls COMMAND until it succeeds.
wait_until() {
    local limit=$1 what=$2
    shift 2
    local deadline=$(($(date +%s) + limit))
    until "$@"; do
        [ "$(date +%s)" -ge "$deadline" ] && fail "timed out after ${limit}s waiting for: $what"
        if [ -n "$APP_PID" ] && ! kill -0 "$APP_PID" 2>/dev/null && [ -z "${APP_MAY_END:-}" ]; then
            fail "the program ended while waiting for: $what"
        fi
        sleep 0.1
    done
}

file_size() { stat -c %s "$1" 2>/dev/null || echo 0; }
size_at_least() { [ "$(file_size "$1")" -ge "$2" ]; }
file_has_line() { [ -s "$1" ] && [ -n "$(head -n 1 "$1")" ]; }

# An X server on a display number it picks itself, and an empty settings store.
start_x() {
    local fdfile="$WORK/display"
    Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp -noreset 9>"$fdfile" \
        >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    wait_until 30 "Xvfb to report its display" file_has_line "$fdfile"
    DISPLAY=":$(head -n 1 "$fdfile")"
    export DISPLAY
    wait_until 30 "the X server $DISPLAY to answer" xdpyinfo_quiet
    export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config"
    mkdir -p "$XDG_CONFIG_HOME"
    export QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 LANG=C.UTF-8
    export XDG_RUNTIME_DIR="$WORK/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    unset SESSION_MANAGER QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS
    log "X server on $DISPLAY, HOME=$HOME"
}
xdpyinfo_quiet() { xdpyinfo >/dev/null 2>&1; }

# start_device ARGS...: simdevice linked as Com1, recording both directions.
start_device() {
    "$SIMDEVICE" --link 1 --record "$WORK/received.bin" --sent "$WORK/sent.bin" "$@" \
        >"$WORK/slave" 2>"$WORK/sim.err" &
    SIM_PID=$!
    wait_until 30 "simdevice to print its pty" file_has_line "$WORK/slave"
    [ -L "$XDG_CONFIG_HOME/velmora/ports/com1" ] || fail "simdevice made no com1 link"
    log "device on $(head -n 1 "$WORK/slave")"
}

visible_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
# window_named REGEX: the id of a visible window whose title matches, waiting for it.
window_named() {
    local regex=$1 id=""
    local deadline=$(($(date +%s) + 30))
    while [ -z "$id" ]; do
        id=$(visible_window "$regex")
        [ -n "$id" ] && break
        [ "$(date +%s)" -ge "$deadline" ] && fail "no window titled /$regex/ appeared within 30s"
        sleep 0.1
    done
    echo "$id"
}
window_gone() { [ -z "$(visible_window "$1")" ]; }
title_is() { [ "$(xdotool getwindowname "$MAIN" 2>/dev/null)" = "$1" ]; }

start_app() {
    "$VELMORA" >"$WORK/app.out" 2>"$WORK/app.err" &
    APP_PID=$!
    MAIN=$(window_named '^Velmora$') || fail "no window titled '^Velmora$' appeared"
    wait_until 30 "the main window to be viewable" viewable "$MAIN"
    # Starts closed: the red disc, once the window has been painted.
    wait_until 30 "the red indicator disc of the closed port" disc_seen red
    log "main window $MAIN (pid $APP_PID)"
}
viewable() { [ -n "$1" ] && xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }

# focus WINDOW: give it the keyboard, as a click on its title would.
focus() {
    timeout 10 xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
}
keys() { xdotool key --delay 60 "$@"; }
type_text() { xdotool type --delay 60 "$1"; }

# The indicator disc: found on screen by its colour in the right end of the
# toolbar strip, as a person finds it by eye. Prints "X Y" in window
# coordinates, or nothing when no disc of that colour is seen.
#   disc red | disc green
disc() {
    local colour=$1 width
    width=$(xwininfo -id "$MAIN" | awk '/Width:/ {print $2}')
    local left=$((width - 80))
    import -silent -window "$MAIN" -crop "80x90+$left+0" +repage -depth 8 txt:- 2>/dev/null |
        awk -F'[(),: ]+' -v colour="$colour" -v left="$left" '
            /^[0-9]/ {
                x = $1; y = $2; r = $3; g = $4; b = $5
                if (colour == "red" && r > 170 && g < 70 && b < 70) { sx += x; sy += y; n++ }
                if (colour == "green" && g > 150 && r < 90 && b < 110) { sx += x; sy += y; n++ }
            }
            END { if (n >= 20) printf "%d %d\n", left + sx / n, sy / n }'
}
disc_seen() { [ -n "$(disc "$1")" ]; }
click_disc() {
    local colour=$1 at
    at=$(disc "$colour")
    [ -n "$at" ] || fail "no $colour indicator disc at the right end of the toolbar"
    # shellcheck disable=SC2086
    xdotool mousemove --window "$MAIN" $at click 1
    # Away again, so no tool tip lies over the disc in the next look.
    xdotool mousemove 0 0
}

# The terminal's whole text, as a person gets it: "select all" from the
# context menu (its last item), then copy. Ctrl+A and Ctrl+C would go to the
# line as control codes.
WINDOWS_BEFORE_MENU=0
visible_windows() { xdotool search --onlyvisible --pid "$APP_PID" 2>/dev/null | wc -l; }
menu_shown() { [ "$(visible_windows)" -gt "$WINDOWS_BEFORE_MENU" ]; }
menu_gone() { [ "$(visible_windows)" -le "$WINDOWS_BEFORE_MENU" ]; }
terminal_text() {
    focus "$MAIN"
    WINDOWS_BEFORE_MENU=$(visible_windows)
    keys Menu
    wait_until 20 "the terminal's context menu" menu_shown
    keys Up Return
    wait_until 20 "the context menu to close" menu_gone
    keys ctrl+shift+c
    timeout 10 xclip -o -selection clipboard 2>/dev/null
}

# cpu_ticks PID: user + system time in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# expected_flood FIRST LAST: the device's flood lines FIRST..LAST, as it sends them.
expected_flood() {
    awk -v a="$1" -v b="$2" 'BEGIN { for (i = a; i <= b; i++) printf "LINE %06d ABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n", i }'
}

# Keep the other core busy for the whole run when asked, as a loaded CI machine would.
load_other_core() {
    if [ -n "${E2E_LOAD:-}" ]; then
        yes >/dev/null &
        LOAD_PIDS+=($!)
        log "extra load: yes (pid $!)"
    fi
}

# Without the X tools there is nothing to run: CTest reports the test as
# skipped (exit code 77) rather than failed.
skip() {
    echo "[$E2E_NAME] SKIP: $*"
    kill "$WATCHDOG_PID" 2>/dev/null
    trap - EXIT
    rm -rf "$WORK"
    exit 77
}

check_tools() {
    local missing=()
    for tool in Xvfb xdotool xwininfo xdpyinfo xclip import awk cmp; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    [ ${#missing[@]} -eq 0 ] || skip "missing tools: ${missing[*]} (scripts/install-deps.sh installs them)"
    [ -x "$VELMORA" ] || fail "no program at $VELMORA"
    [ -x "$SIMDEVICE" ] || fail "no simdevice at $SIMDEVICE"
}

# The start every run shares: tools, X, the device (with any options given),
# the program, and the port opened by a click on the red disc.
start_with_port_open() {
    check_tools
    load_other_core
    start_x
    start_device "$@"
    start_app
    click_disc red
    wait_until 30 "the green indicator disc after opening the port" disc_seen green
    log "port open"
}
