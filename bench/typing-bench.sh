#!/usr/bin/env bash
# Typing benchmark: the real tessivo binary under Xvfb, a fresh home whose
# only document is the given Markdown file, open in split mode; a few hundred
# keys typed at a human pace at its end. Ghostwriter is measured the same way
# in the same run when installed, and the report gives ratios.
#
#   bench/typing-bench.sh [file.md] [build-dir] [keys]
#
# Without a file, a 2 KB document is generated (TESSIVO_BENCH_SIZE=1M for a
# 1 MB one). Reports per app:
#   - start-up: spawn to the main window mapped (median of
#     TESSIVO_BENCH_STARTS starts, 5 by default);
#   - preview ink: spawn to the preview pane first showing rendered text,
#     text-coloured pixels on its background (median of the same starts;
#     n/a when it has not shown within 20 s);
#   - resident memory of the main process 3 s after start (median);
#   - idle CPU of the main process with the caret blinking (ms per second);
#   - CPU per key: the app and all its helper processes (web engine), from
#     the first key until the tree is idle again, divided by the keys typed.
# CPU comes from /proc (per-thread run time, nanoseconds). Needs Xvfb,
# xdotool and python3; TESSIVO_BENCH_SHOTS=<dir> keeps a screenshot of each
# app after typing; TESSIVO_BENCH_PEER=0 measures tessivo alone.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/lib/app-under-x.sh"
bench_session_bus "$@"

FILE=${1:-}
BUILD=${2:-build}
KEYS=${3:-300}
STARTS=${TESSIVO_BENCH_STARTS:-5}
APP="$BUILD/Tessivo/tessivo"
bench_require "$APP" Xvfb xdotool python3

bench_work_dir

if [ -z "$FILE" ]; then
    FILE="$WORK/bench.md"
    python3 - "$FILE" "${TESSIVO_BENCH_SIZE:-2K}" <<'PY'
import sys
path, size = sys.argv[1], sys.argv[2]
target = 1_000_000 if size.upper().startswith("1M") else 2_000
parts, n, i = ["# Typing benchmark\n\n"], 0, 0
while n < target:
    block = [
        f"## Section {i}\n\n",
        f"Some *words* of a paragraph that goes on for a while, with `code` and a [link](https://example.com/{i}). " * 3 + "\n\n",
        f"- item one of list {i}\n- item **two**\n- [ ] a task\n\n",
        f"> A quotation number {i}, quoted.\n\n",
        "```\nlet x = 1;\n```\n\n",
        "| a | b |\n|---|---|\n| 1 | 2 |\n\n",
    ][i % 6]
    parts.append(block); n += len(block); i += 1
open(path, "w").write("".join(parts)[:target] + "\n\nThe end.\n")
PY
fi
[ -f "$FILE" ] || { echo "no such file: $FILE" >&2; exit 1; }

bench_start_x 90

# CPU of a process tree in milliseconds: `cpu_ms PID tree` or `cpu_ms PID main`.
cpu_ms() {
    python3 - "$1" "$2" <<'PY'
import os, sys
root, scope = int(sys.argv[1]), sys.argv[2]
def children():
    kids = {}
    for p in os.listdir("/proc"):
        if p.isdigit():
            try:
                ppid = int(open(f"/proc/{p}/stat").read().rsplit(")", 1)[1].split()[1])
            except OSError:
                continue
            kids.setdefault(ppid, []).append(int(p))
    return kids
pids = [root]
if scope == "tree":
    kids, i = children(), 0
    while i < len(pids):
        pids += kids.get(pids[i], []); i += 1
total = 0
for pid in pids:
    try:
        for t in os.listdir(f"/proc/{pid}/task"):
            total += int(open(f"/proc/{pid}/task/{t}/schedstat").read().split()[0])
    except OSError:
        pass
print(total // 1_000_000)
PY
}

# Milliseconds from T0 to the first shot of the window's preview pane holding
# text: `ink_ms WINDOW T0 PID`, "n/a" after 20 s or when PID ends. Shots are
# of a few hundred pixels square, every 10 ms, from the root window (which
# has what the web engine's child windows show), through libX11 so that
# nothing beyond python3 is needed; a blank or unchanged pane costs only a
# compare.
# The pane is the right part of the window in both apps' split layouts; the
# rectangle keeps clear of the editor, the toolbars and the pane's margins.
ink_ms() {
    python3 - "$1" "$2" "$3" 20 <<'PY'
import ctypes, ctypes.util, os, sys, time
from collections import Counter
win, t0, pid, timeout = int(sys.argv[1], 0), int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
class XImage(ctypes.Structure):
    _fields_ = [(f, ctypes.c_int) for f in ("width", "height", "xoffset", "format")] + [("data", ctypes.c_void_p)] + \
        [(f, ctypes.c_int) for f in ("byte_order", "bitmap_unit", "bitmap_bit_order", "bitmap_pad", "depth",
                                     "bytes_per_line", "bits_per_pixel")]
P, U, I, UI = ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_uint
ref = ctypes.byref
x = ctypes.CDLL(ctypes.util.find_library("X11"))
x.XOpenDisplay.restype, x.XOpenDisplay.argtypes = P, [ctypes.c_char_p]
x.XDefaultRootWindow.restype, x.XDefaultRootWindow.argtypes = U, [P]
x.XGetGeometry.argtypes = [P, U, ctypes.POINTER(U)] + [ctypes.POINTER(I)] * 2 + [ctypes.POINTER(UI)] * 4
x.XTranslateCoordinates.argtypes = [P, U, U, I, I, ctypes.POINTER(I), ctypes.POINTER(I), ctypes.POINTER(U)]
x.XGetImage.restype = ctypes.POINTER(XImage)
x.XGetImage.argtypes = [P, U, I, I, UI, UI, U, I]
x.XDestroyImage.argtypes = [ctypes.POINTER(XImage)]
# A window gone mid-poll is an X error, which by default ends the process.
on_error = ctypes.CFUNCTYPE(I, P, P)(lambda display, event: 0)
x.XSetErrorHandler(on_error)
d = x.XOpenDisplay(None)
root = x.XDefaultRootWindow(d)
rw, gx, gy, rx, ry, child = U(), I(), I(), I(), I(), U()
w, h, border, depth = UI(), UI(), UI(), UI()
ZPIXMAP = 2
previous = None
def channels(c):
    return (c >> 16) & 255, (c >> 8) & 255, c & 255
while time.time() < t0 / 1000 + timeout and os.path.exists(f"/proc/{pid}"):
    if not x.XGetGeometry(d, win, ref(rw), ref(gx), ref(gy), ref(w), ref(h), ref(border), ref(depth)) or \
            not x.XTranslateCoordinates(d, win, root, 0, 0, ref(rx), ref(ry), ref(child)):
        break
    left, top = max(0, rx.value + w.value * 65 // 100), max(0, ry.value + h.value * 15 // 100)
    width, height = min(w.value * 30 // 100, 320), min(h.value * 40 // 100, 240)
    img = x.XGetImage(d, root, left, top, width, height, 0xFFFFFFFF, ZPIXMAP)
    at = time.time()
    if img:
        data = ctypes.string_at(img.contents.data, img.contents.bytes_per_line * img.contents.height)
        x.XDestroyImage(img)
        if data != previous and data != data[:4] * (len(data) // 4):
            counts = Counter(c & 0xFFFFFF for c in memoryview(data).cast("I"))
            background = channels(counts.most_common(1)[0][0])
            ink = sum(n for c, n in counts.items()
                      if max(abs(a - b) for a, b in zip(channels(c), background)) > 96)
            # Text covers a little of the pane; a pane half painted in another
            # colour covers much of it.
            if len(data) // 4 // 500 <= ink <= len(data) // 4 * 2 // 5:
                print(round(at * 1000) - t0)
                sys.exit(0)
        previous = data
    time.sleep(0.01)
print("n/a")
PY
}

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

declare -A RESULT

measure() { # name, window-name regex, command...
    local name=$1 pattern=$2; shift 2
    local home="$WORK/$name-home"
    mkdir -p "$home/data" "$home/config" "$home/cache"
    if [ "$name" = tessivo ]; then
        bench_seed_home "$home" Benchmark split "$FILE"
    else
        cp "$FILE" "$home/bench.md"
        # Its live preview open, as in split mode.
        mkdir -p "$home/config/ghostwriter"
        printf '[Preview]\nhtmlPreviewOpen=true\n' >"$home/config/ghostwriter/ghostwriter.conf"
        set -- "$@" "$home/bench.md"
    fi
    # Start-up and memory vary from run to run: the medians of a few starts,
    # the last of which stays up for the typing.
    local startups=() memories=() inks=() window= t0 ink
    for run in $(seq "$STARTS"); do
        [ -n "$APP_PID" ] && { kill -TERM "$APP_PID"; wait "$APP_PID" 2>/dev/null || true; }
        t0=$(now_ms)
        bench_launch "$home" "$WORK/$name.log" "$@"
        window=
        until window=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -1) && [ -n "$window" ]; do
            kill -0 "$APP_PID" 2>/dev/null || { echo "$name ended before showing a window:" >&2; tail -5 "$WORK/$name.log" >&2; exit 1; }
            sleep 0.01
        done
        startups+=($(( $(now_ms) - t0 )))
        ink_ms "$window" "$t0" "$APP_PID" >"$WORK/ink" &
        ink=$!
        sleep $(python3 -c "print(max(0, 3 - ($(now_ms) - $t0) / 1000))")
        memories+=("$(bench_rss_mb "$APP_PID")")
        wait "$ink" || true
        inks+=("$(cat "$WORK/ink")")
    done
    RESULT[$name.startup]=$(printf '%s\n' "${startups[@]}" | median)
    RESULT[$name.rss]=$(printf '%s\n' "${memories[@]}" | median)
    # A start whose ink never came counts as slower than any that did.
    RESULT[$name.ink]=$(python3 -c "
import sys
v = sorted(float(a) if a != 'n/a' else float('inf') for a in sys.argv[1:])
m = (v[(len(v) - 1) // 2] + v[len(v) // 2]) / 2
print('n/a' if m == float('inf') else f'{m:g}')" "${inks[@]}")

    # The editor gets the focus and the caret goes to the end of the text.
    xdotool windowsize "$window" 1400 900 windowmove "$window" 0 0 windowactivate --sync "$window" 2>/dev/null || true
    sleep 1
    eval "$(xdotool getwindowgeometry --shell "$window")"
    if [ "$name" = tessivo ]; then
        xdotool mousemove --window "$window" $(( WIDTH * 45 / 100 )) $(( HEIGHT / 2 )) click 1
    else
        xdotool mousemove --window "$window" $(( WIDTH / 4 )) $(( HEIGHT / 2 )) click 1
    fi
    xdotool key ctrl+End
    xdotool mousemove 1900 1060 # the pointer out of the way
    sleep 4

    local a b
    a=$(cpu_ms "$APP_PID" main); sleep 10; b=$(cpu_ms "$APP_PID" main)
    RESULT[$name.idle]=$(python3 -c "print(round(($b - $a) / 10, 1))")

    local text
    text=$(python3 -c "
import itertools
words = itertools.cycle('the quick brown fox jumps over a lazy dog while typing'.split())
out = ''
while len(out) < $KEYS:
    out += next(words) + ' '
print(out[:$KEYS])")
    a=$(cpu_ms "$APP_PID" tree)
    xdotool type --delay 100 "$text"
    # Idle: a whole second in which the tree used under 20 ms.
    local last now
    last=$(cpu_ms "$APP_PID" tree)
    for _ in $(seq 60); do
        sleep 1
        now=$(cpu_ms "$APP_PID" tree)
        if [ $(( now - last )) -lt 20 ]; then break; fi
        last=$now
    done
    RESULT[$name.perkey]=$(python3 -c "print(round(($last - $a) / $KEYS, 1))")
    if [ -n "${TESSIVO_BENCH_SHOTS:-}" ] && command -v import >/dev/null; then
        import -window root "$TESSIVO_BENCH_SHOTS/$name.png"
    fi
    RESULT[$name.rssafter]=$(bench_rss_mb "$APP_PID")

    kill -TERM "$APP_PID"; wait "$APP_PID" 2>/dev/null || true
    APP_PID=
}

ratio() {
    python3 -c "
try:
    a, b = float('$1'), float('$2')
    print(f'{a / b:.2f}' if b else '-')
except ValueError:
    print('-')"
}

echo "file: $FILE ($(stat -c %s "$FILE") bytes), $KEYS keys"
measure tessivo '^Tessivo$' "$APP"
peer=
if [ "${TESSIVO_BENCH_PEER:-1}" != 0 ] && command -v ghostwriter >/dev/null; then
    measure ghostwriter 'ghostwriter' ghostwriter
    peer=ghostwriter
fi

printf '%-42s %12s' figure tessivo
[ -n "$peer" ] && printf ' %12s %8s' "$peer" ratio
echo
row() { # label, key
    printf '%-42s %12s' "$1" "${RESULT[tessivo.$2]}"
    [ -n "$peer" ] && printf ' %12s %8s' "${RESULT[$peer.$2]}" "$(ratio "${RESULT[tessivo.$2]}" "${RESULT[$peer.$2]}")"
    echo
}
row "CPU per key, with helpers (ms)" perkey
row "idle CPU, main process (ms/s)" idle
row "start-up to window shown, median (ms)" startup
row "preview ink after start, median (ms)" ink
row "resident memory at 3 s, median (MiB)" rss
row "resident memory after typing (MiB)" rssafter
