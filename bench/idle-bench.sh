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

source "$(dirname "${BASH_SOURCE[0]}")/lib/app-under-x.sh"
bench_session_bus "$@"

BUILD=${1:-build}
LAUNCHES=${2:-3}
SECONDS_MEASURED=${3:-20}
APP="$BUILD/Tessivo/tessivo"
bench_require "$APP" Xvfb openbox xdotool python3

bench_work_dir

bench_start_x 200

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
    bench_launch "$home" "$WORK/app-$run.log" "$APP"
    bench_wait_window "$WORK/app-$run.log"
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
