#!/usr/bin/env bash
# Start-up benchmark: the real tessivo binary under Xvfb with 1,000 documents
# in its store, several cold runs, against ghostwriter measured the same way.
#
#   bench/bench_startup.sh [build-dir] [runs]
#
# Reports per app the median time from spawn to the main window mapped, for
# tessivo also to "content shown" (store loaded and painted, from its
# tessivo.startup log line), and the resident memory (main process, and with
# its helper processes) two seconds after start-up. Needs xdotool and Xvfb;
# ghostwriter is measured when installed. Page caches are dropped before
# each run when permitted (root outside a container); otherwise runs are warm.
set -euo pipefail

BUILD=${1:-build}
RUNS=${2:-7}
APP="$BUILD/Tessivo/tessivo"
[ -x "$APP" ] || { echo "no $APP: build first" >&2; exit 1; }
command -v xdotool >/dev/null || { echo "xdotool is required" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'kill $XVFB_PID 2>/dev/null || true; rm -rf "$WORK"' EXIT

DISPLAY_NUM=$((90 + RANDOM % 100))
Xvfb ":$DISPLAY_NUM" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
XVFB_PID=$!
export DISPLAY=":$DISPLAY_NUM"
sleep 1

# 1,000 documents of a few paragraphs each, written once, as the store does.
make_store() {
    local home=$1
    local docs="$home/data/Tessivo/documents"
    mkdir -p "$docs"
    python3 - "$home/data/Tessivo" <<'PY'
import json, os, sys, uuid
base = sys.argv[1]
t = 1_700_000_000_000
for i in range(1000):
    doc_id = str(uuid.UUID(int=i + 1))
    body = f"# Document {i}\n\n" + ("Some words of a paragraph that goes on for a while. " * 12 + "\n\n") * 4
    doc = {"id": doc_id, "title": f"Document {i}", "body": body, "frontmatter": {}, "overrides": [],
           "createdAt": t + i, "updatedAt": t + i, "deletedAt": None, "collectionId": None}
    with open(os.path.join(base, "documents", doc_id + ".json"), "w") as f:
        json.dump(doc, f, sort_keys=True, separators=(",", ":"))
with open(os.path.join(base, "collections.json"), "w") as f:
    f.write("[]")
with open(os.path.join(base, "state.json"), "w") as f:
    json.dump({"syncCursor": 0, "dirtyDocumentIDs": [], "dirtyCollectionIDs": [], "publishedSlugs": {},
               "welcomeSeeded": True}, f, sort_keys=True, separators=(",", ":"))
PY
}

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

drop_caches() { sync; echo 3 > /proc/sys/vm/drop_caches 2>/dev/null || true; }

tree_rss_kb() { # resident memory of a process and all its descendants
    local total=0 pid
    for pid in $1 $(pgrep -P "$1" 2>/dev/null) $(for c in $(pgrep -P "$1" 2>/dev/null); do pgrep -P "$c"; done); do
        total=$(( total + $(awk '/VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0) ))
    done
    echo "$total"
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

measure() { # name, window-name regex, command...
    local name=$1 pattern=$2; shift 2
    local mapped=() content=() rss=() treerss=()
    for run in $(seq "$RUNS"); do
        local home="$WORK/$name-home-$run"
        mkdir -p "$home"
        make_store "$home"
        drop_caches
        local log="$WORK/$name-$run.log"
        local t0; t0=$(now_ms)
        HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
            QT_LOGGING_RULES="tessivo.startup.info=true" QTWEBENGINE_DISABLE_SANDBOX=1 \
            "$@" >"$log" 2>&1 &
        local pid=$!
        # Poll (xdotool's own --sync waits in half-second steps).
        until xdotool search --onlyvisible --name "$pattern" >/dev/null 2>&1; do sleep 0.01; done
        mapped+=($(( $(now_ms) - t0 )))
        if [ "$name" = tessivo ]; then
            until grep -q "content shown" "$log"; do sleep 0.005; done
            content+=($(( $(now_ms) - t0 )))
        fi
        sleep 2
        rss+=($(awk '/VmRSS/ {print $2}' "/proc/$pid/status"))
        treerss+=($(tree_rss_kb "$pid"))
        kill -TERM "$pid"; wait "$pid" 2>/dev/null || true
    done
    printf '%-12s window mapped: median %s ms (runs: %s)\n' "$name" \
        "$(printf '%s\n' "${mapped[@]}" | median)" "${mapped[*]}"
    if [ ${#content[@]} -gt 0 ]; then
        printf '%-12s content shown: median %s ms (runs: %s)\n' "$name" \
            "$(printf '%s\n' "${content[@]}" | median)" "${content[*]}"
    fi
    printf '%-12s resident memory: main %s MiB, with helpers %s MiB (medians)\n' "$name" \
        "$(( $(printf '%s\n' "${rss[@]}" | median | cut -d. -f1) / 1024 ))" \
        "$(( $(printf '%s\n' "${treerss[@]}" | median | cut -d. -f1) / 1024 ))"
}

measure tessivo '^Tessivo$' "$APP"
if command -v ghostwriter >/dev/null; then
    measure ghostwriter 'ghostwriter' ghostwriter
else
    echo "ghostwriter not installed: no comparison"
fi
