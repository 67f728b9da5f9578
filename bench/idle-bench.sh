#!/usr/bin/env bash
# Idle cost with the caret blinking: the real tessivo binary under Xvfb with
# openbox, a fresh home (so the welcome document, in split mode), the editor
# clicked into, then the CPU of the app and its web engine helpers over a
# while, from /proc/<pid>/stat (user + system time). Several launches.
#
#   bench/idle-bench.sh [build-dir] [launches] [seconds]
#
# Prints one line per launch (ms of CPU per second, the app's main process
# and the whole tree) and the median of the tree figures.
set -euo pipefail

if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] && command -v dbus-run-session >/dev/null; then
    TESSIVO_BENCH_BUS_HOME=$(mktemp -d)
    export TESSIVO_BENCH_BUS_HOME
    HOME=$TESSIVO_BENCH_BUS_HOME XDG_CACHE_HOME=$TESSIVO_BENCH_BUS_HOME/cache \
        XDG_DATA_HOME=$TESSIVO_BENCH_BUS_HOME/data XDG_CONFIG_HOME=$TESSIVO_BENCH_BUS_HOME/config \
        exec dbus-run-session -- bash "$0" "$@"
fi

BUILD=${1:-build}
LAUNCHES=${2:-3}
SECONDS_MEASURED=${3:-20}
APP="$BUILD/Tessivo/tessivo"
[ -x "$APP" ] || { echo "no $APP: build first" >&2; exit 1; }
for tool in Xvfb openbox xdotool python3; do
    command -v "$tool" >/dev/null || { echo "$tool is required" >&2; exit 1; }
done

WORK=$(mktemp -d)
XVFB_PID=
WM_PID=
APP_PID=
cleanup() {
    [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
    [ -n "$WM_PID" ] && kill "$WM_PID" 2>/dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
    rm -rf "$WORK" "${TESSIVO_BENCH_BUS_HOME:-}"
}
trap cleanup EXIT

DISPLAY_NUM=$((200 + RANDOM % 100))
Xvfb ":$DISPLAY_NUM" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
XVFB_PID=$!
export DISPLAY=":$DISPLAY_NUM"
sleep 1
openbox >/dev/null 2>&1 &
WM_PID=$!
sleep 0.5

# Clock ticks of user and system time of a process and all its descendants.
ticks() {
    python3 - "$1" <<'PY'
import os, sys
root = int(sys.argv[1])
kids = {}
for p in os.listdir("/proc"):
    if p.isdigit():
        try:
            ppid = int(open(f"/proc/{p}/stat").read().rsplit(")", 1)[1].split()[1])
        except OSError:
            continue
        kids.setdefault(ppid, []).append(int(p))
pids, i = [root], 0
while i < len(pids):
    pids += kids.get(pids[i], []); i += 1
main = tree = 0
for pid in pids:
    try:
        fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    except OSError:
        continue
    t = int(fields[11]) + int(fields[12])
    tree += t
    if pid == root:
        main = t
print(main, tree)
PY
}

HZ=$(getconf CLK_TCK)
trees=()
for run in $(seq "$LAUNCHES"); do
    home="$WORK/home-$run"
    mkdir -p "$home/data" "$home/config" "$home/cache"
    HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
        QTWEBENGINE_DISABLE_SANDBOX=1 "$APP" >"$WORK/app-$run.log" 2>&1 &
    APP_PID=$!
    window=
    for _ in $(seq 2000); do
        window=$(xdotool search --onlyvisible --name '^Tessivo$' 2>/dev/null | head -1) && [ -n "$window" ] && break
        kill -0 "$APP_PID" 2>/dev/null || { echo "tessivo ended:" >&2; tail -5 "$WORK/app-$run.log" >&2; exit 1; }
        sleep 0.01
    done
    xdotool windowactivate --sync "$window" 2>/dev/null || true
    sleep 3
    eval "$(xdotool getwindowgeometry --shell "$window")"
    # Into the editor, the left half of the detail pane in split mode.
    xdotool mousemove --window "$window" $(( WIDTH * 45 / 100 )) $(( HEIGHT / 2 )) click 1
    xdotool mousemove 1900 1060
    sleep 5
    read -r main0 tree0 < <(ticks "$APP_PID")
    sleep "$SECONDS_MEASURED"
    read -r main1 tree1 < <(ticks "$APP_PID")
    main=$(python3 -c "print(round(($main1 - $main0) * 1000 / $HZ / $SECONDS_MEASURED, 1))")
    tree=$(python3 -c "print(round(($tree1 - $tree0) * 1000 / $HZ / $SECONDS_MEASURED, 1))")
    echo "launch $run: main process $main ms/s, with helpers $tree ms/s (load $(cut -d' ' -f1 /proc/loadavg))"
    trees+=("$tree")
    if [ -n "${TESSIVO_BENCH_SHOT:-}" ]; then
        eval "$TESSIVO_BENCH_SHOT" || true
    fi
    kill -TERM "$APP_PID"; wait "$APP_PID" 2>/dev/null || true
    APP_PID=
done
printf '%s\n' "${trees[@]}" | sort -n | awk '{a[NR]=$1} END {print "median with helpers: " (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2) " ms/s"}'
