#!/usr/bin/env bash
# Starts the real tessivo binary many times in a row under Xvfb with openbox,
# as a user would: each start must map the main window within 20 seconds,
# then Ctrl+Q quits it. Counts the starts whose window never showed, and
# prints where the window came back on the first starts (it is moved to
# 300,60 on the first one; every later start should bring it back there).
#
#   bench/window-starts.sh [starts] [build-dir]
#
# Not run by CI: a few hundred starts take several minutes. Needs Xvfb,
# openbox, xdotool and xprop. Set COMPOSITOR=xcompmgr to run one as well.
set -uo pipefail

STARTS=${1:-300}
BUILD=${2:-build}
APP="$BUILD/Tessivo/tessivo"
source "$(dirname "${BASH_SOURCE[0]}")/lib/app-under-x.sh"
bench_require "$APP" Xvfb openbox xdotool xprop

WORK=$(mktemp -d)
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

# A display of its own, on the first free number Xvfb finds.
mkfifo "$WORK/display"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
PIDS+=($!)
read -r -t 20 DISPLAY_NUM <"$WORK/display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$DISPLAY_NUM" QT_QPA_PLATFORM=xcb XDG_SESSION_TYPE=x11
unset WAYLAND_DISPLAY

openbox --sm-disable >/dev/null 2>&1 &
PIDS+=($!)
# Waits (up to $1 tenths of a second) until the command in the rest succeeds.
wait_for() {
    local tenths=$1
    shift
    for ((i = 0; i < tenths; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
wait_for 100 bash -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
    { echo "openbox did not start" >&2; exit 1; }
if [ -n "${COMPOSITOR:-}" ]; then
    "$COMPOSITOR" >/dev/null 2>&1 &
    PIDS+=($!)
fi

# One throw-away home for every start: the window's place carries over.
export HOME="$WORK/home" XDG_DATA_HOME="$WORK/home/data" XDG_CONFIG_HOME="$WORK/home/config"
export XDG_CACHE_HOME="$WORK/home/cache" XDG_RUNTIME_DIR="$WORK/run" QTWEBENGINE_DISABLE_SANDBOX=1
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

visible_window() { xdotool search --onlyvisible --pid "$1" --name '^Tessivo$' 2>/dev/null | head -n1; }
running() { kill -0 "$1" 2>/dev/null; }

failed=0
stuck=0
for ((n = 1; n <= STARTS; n++)); do
    "$APP" >>"$WORK/app.log" 2>&1 &
    pid=$!
    id=
    for ((t = 0; t < 400; t++)); do # 20 s
        id=$(visible_window "$pid")
        [ -n "$id" ] && break
        running "$pid" || break
        sleep 0.05
    done
    if [ -z "$id" ]; then
        failed=$((failed + 1))
        echo "start $n: no window mapped within 20 s" >&2
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        continue
    fi
    if [ "$n" -eq 1 ]; then
        xdotool windowmove --sync "$id" 300 60
    fi
    if [ "$n" -le 10 ]; then
        eval "$(xdotool getwindowgeometry --shell "$id")"
        echo "start $n: window at $X,$Y"
    fi
    xdotool windowactivate --sync "$id" key ctrl+q 2>/dev/null
    if ! wait_for 200 bash -c "! kill -0 $pid 2>/dev/null"; then
        stuck=$((stuck + 1))
        echo "start $n: Ctrl+Q did not quit" >&2
        kill "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
done
echo "starts: $STARTS, window never mapped: $failed, not quit by Ctrl+Q: $stuck"
