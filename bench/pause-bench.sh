#!/usr/bin/env bash
# Memory and CPU of pauses in typing: the real tessivo binary under Xvfb with
# openbox, a fresh home whose only document is a generated Markdown text
# (5 MB by default), shown in the given view mode. After the first preview
# (the app idle) and 5 s more, KEYS keys are typed, each followed by a pause
# of PAUSE seconds.
#
#   bench/pause-bench.sh [build-dir] [mode] [pause-seconds] [keys] [size]
#
# mode is split (default), editor or preview. Reports, on one line:
#   - rss0_MB: resident memory of the main process before the first key;
#   - rss_keys_MB and ratio: after the last pause, and as a multiple of rss0;
#   - rss_idle_MB and ratio: once the app is idle after that (the same unless
#     the machine is so busy that the last render outlasts the pause);
#   - rss_30s_MB and ratio: 30 s later;
#   - cpu_main_ms, cpu_tree_ms: run time (utime + stime) of the main process
#     and of it with its helpers (the web engine) over the keys and pauses.
# TESSIVO_BENCH_APP names another binary than <build-dir>/Tessivo/tessivo.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/lib/app-under-x.sh"
bench_session_bus "$@"

BUILD=${1:-build}
MODE=${2:-split}
PAUSE=${3:-2}
KEYS=${4:-10}
SIZE=${5:-5000000}
APP=${TESSIVO_BENCH_APP:-$BUILD/Tessivo/tessivo}
bench_require "$APP"

bench_work_dir

home="$WORK/home"
mkdir -p "$home/data" "$home/config" "$home/cache"
python3 - "$WORK/body.md" "$SIZE" <<'PY'
import sys
path, size = sys.argv[1], int(sys.argv[2])
parts, n, i = ["# Pause benchmark\n\n"], 0, 0
while n < size:
    block = [
        f"## Section {i}\n\n",
        f"Some *words* of a paragraph with [[Note {i}]], ==marked== text, $x_{i}$ and a [link](https://example.com/{i}). " * 3 + "\n\n",
        f"- item one of list {i}\n- item **two**\n- [ ] a task\n\n",
        f"> A quotation number {i}, quoted.\n\n",
        "```\nlet x = 1;\n```\n\n",
        "| a | b |\n|---|---|\n| 1 | 2 |\n\n",
    ][i % 6]
    parts.append(block); n += len(block); i += 1
body = "".join(parts)[:size] + "\n\nThe end.\n"
open(path, "w").write(body)
PY
bench_seed_home "$home" Benchmark "$MODE" "$WORK/body.md"

bench_start_x 90

# utime + stime in milliseconds: `cpu_ms PID main` or `cpu_ms PID tree`.
cpu_ms() {
    python3 - "$1" "$2" <<'PY'
import os, sys
root, scope = int(sys.argv[1]), sys.argv[2]
tick = os.sysconf("SC_CLK_TCK")
def stat(pid):
    return open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
pids = [root]
if scope == "tree":
    kids = {}
    for p in os.listdir("/proc"):
        if p.isdigit():
            try:
                kids.setdefault(int(stat(p)[1]), []).append(int(p))
            except OSError:
                pass
    i = 0
    while i < len(pids):
        pids += kids.get(pids[i], []); i += 1
total = 0
for pid in pids:
    try:
        s = stat(pid)
        total += int(s[11]) + int(s[12])
    except OSError:
        pass
print(total * 1000 // tick)
PY
}
rss_mb() { bench_rss_mb "$APP_PID"; }
# Waits until the tree has used under 50 ms of CPU in a second.
wait_idle() {
    local before after
    before=$(cpu_ms "$APP_PID" tree)
    while sleep 1; after=$(cpu_ms "$APP_PID" tree); [ $((after - before)) -gt 50 ]; do before=$after; done
}

bench_launch "$home" "$WORK/app.log" "$APP"
bench_wait_window "$WORK/app.log"
xdotool windowsize "$window" 1400 900 windowmove "$window" 0 0 windowactivate --sync "$window" 2>/dev/null || true
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"
# The caret into the editor, at the end of the text.
xdotool mousemove --window "$window" $((WIDTH * 25 / 100)) $((HEIGHT / 2)) click 1
xdotool key ctrl+End
xdotool mousemove 1900 1060
wait_idle
sleep 5
rss0=$(rss_mb)
cpu0_main=$(cpu_ms "$APP_PID" main)
cpu0_tree=$(cpu_ms "$APP_PID" tree)
for _ in $(seq "$KEYS"); do
    xdotool key e
    sleep "$PAUSE"
done
cpu1_main=$(cpu_ms "$APP_PID" main)
cpu1_tree=$(cpu_ms "$APP_PID" tree)
rss1=$(rss_mb)
# On a busy machine the last render may still run after the pause.
wait_idle
rss_idle=$(rss_mb)
sleep 30
rss2=$(rss_mb)
ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }
echo "mode=$MODE pause=${PAUSE}s keys=$KEYS rss0_MB=$rss0 rss_keys_MB=$rss1 ($(ratio "$rss1" "$rss0")x)" \
    "rss_idle_MB=$rss_idle ($(ratio "$rss_idle" "$rss0")x) rss_30s_MB=$rss2 ($(ratio "$rss2" "$rss0")x) cpu_main_ms=$((cpu1_main - cpu0_main))" \
    "cpu_tree_ms=$((cpu1_tree - cpu0_tree))"
