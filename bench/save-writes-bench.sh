#!/usr/bin/env bash
# File writes of typing: the real tessivo binary under Xvfb with openbox, a
# fresh home whose only document is a generated Markdown text (1 MB by
# default) in the given view mode, run under strace. ROUNDS bursts of KEYS
# keys at ten keys a second are typed at the end of the text, each followed
# by a pause of 2 s.
#
#   bench/save-writes-bench.sh [build-dir] [mode] [rounds] [keys] [size]
#
# mode is split (default), editor or preview. Reports, on one line, from the
# first key to the end of the last pause: the files put in place over
# state.json, collections.json and documents/*.json (the renames of the
# saves' temporaries), the fsync and fdatasync calls, and whether the
# document on disk holds every key typed at the end (a line for each pause
# after which it did not).
# TESSIVO_BENCH_APP names another binary than <build-dir>/Tessivo/tessivo.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/lib/app-under-x.sh"
bench_session_bus "$@"

BUILD=${1:-build}
MODE=${2:-split}
ROUNDS=${3:-2}
KEYS=${4:-60}
SIZE=${5:-1000000}
APP=${TESSIVO_BENCH_APP:-$BUILD/Tessivo/tessivo}
bench_require "$APP" strace xdotool python3

bench_work_dir

home="$WORK/home"
mkdir -p "$home/data" "$home/config" "$home/cache"
python3 - "$WORK/body.md" "$SIZE" <<'PY'
import sys
path, size = sys.argv[1], int(sys.argv[2])
parts, n, i = ["# Save benchmark\n\n"], 0, 0
while n < size:
    block = [f"## Section {i}\n\n", f"Some *words* of paragraph {i}, with a [link](https://example.com/{i}). " * 3 + "\n\n",
             f"- item one of list {i}\n- item **two**\n\n"][i % 3]
    parts.append(block); n += len(block); i += 1
open(path, "w").write("".join(parts)[:size] + "\n\nThe end.")
PY
bench_seed_home "$home" Benchmark "$MODE" "$WORK/body.md"

bench_start_x 90

TRACE="$WORK/trace"
bench_launch "$home" "$WORK/app.log" strace -f -qq -o "$TRACE" \
    -e trace=rename,renameat,renameat2,fsync,fdatasync "$APP"
bench_wait_window "$WORK/app.log"
xdotool windowsize "$window" 1400 900 windowmove "$window" 0 0 windowactivate --sync "$window" 2>/dev/null || true
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"
# The caret into the editor, at the end of the text.
xdotool mousemove --window "$window" $((WIDTH * 25 / 100)) $((HEIGHT / 2)) click 1
xdotool key ctrl+End
xdotool mousemove 1900 1060
sleep 5
# strace ignores the signal that ends the app: it goes to the app itself.
APP_UNDER_TRACE=$(pgrep -P "$APP_PID")

start=$(wc -l <"$TRACE")
typed=
for round in $(seq "$ROUNDS"); do
    keys=$(python3 -c "print(''.join('abcdefghij'[i % 10] for i in range($KEYS)))")
    xdotool type --delay 100 "$keys"
    typed+=$keys
    sleep 2
    python3 - "$home/data/Tessivo" "$typed" "$round" <<'PY'
import json, sys
base, typed, round = sys.argv[1:4]
body = json.load(open(f"{base}/documents/00000000-0000-0000-0000-000000000001.json"))["body"]
if not body.rstrip().endswith(typed):
    print(f"after pause {round}: the typed text is not on disk")
PY
done
tail -n +"$((start + 1))" "$TRACE" >"$WORK/typing"
kill -TERM "$APP_UNDER_TRACE"
wait "$APP_PID" 2>/dev/null || true
APP_PID=

python3 - "$WORK/typing" "$home/data/Tessivo" "$typed" <<'PY'
import json, re, sys
trace, base, typed = open(sys.argv[1]).read().splitlines(), sys.argv[2], sys.argv[3]
counts = {"state": 0, "collections": 0, "documents": 0, "fsync": 0}
for line in trace:
    if re.search(r"\brename(at2?)?\(.*= 0$", line):
        target = re.findall(r'"([^"]*)"', line)[-1]
        if target.endswith("/state.json"):
            counts["state"] += 1
        elif target.endswith("/collections.json"):
            counts["collections"] += 1
        elif "/documents/" in target:
            counts["documents"] += 1
    elif re.search(r"\bf(data)?sync\(", line):
        counts["fsync"] += 1
body = json.load(open(f"{base}/documents/00000000-0000-0000-0000-000000000001.json"))["body"]
print(f"state.json={counts['state']} collections.json={counts['collections']} documents={counts['documents']}"
      f" fsyncs={counts['fsync']} typed_on_disk={'yes' if body.rstrip().endswith(typed) else 'no'}")
PY
