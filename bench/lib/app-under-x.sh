# Sourced by the benchmarks that drive the real tessivo binary under Xvfb:
# the session, the X server and window manager, the app's launch with a home
# of its own, and what they read of it from /proc.

# As on a desktop: a session bus, which the app would otherwise start for
# itself (a fork and a wait inside what is measured). Services the bus starts
# (a keyring) get a home of their own, not the user's. Call it with the
# script's own arguments, before anything else: it runs the script again.
bench_session_bus() {
    if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] && command -v dbus-run-session >/dev/null; then
        TESSIVO_BENCH_BUS_HOME=$(mktemp -d)
        export TESSIVO_BENCH_BUS_HOME
        HOME=$TESSIVO_BENCH_BUS_HOME XDG_CACHE_HOME=$TESSIVO_BENCH_BUS_HOME/cache \
            XDG_DATA_HOME=$TESSIVO_BENCH_BUS_HOME/data XDG_CONFIG_HOME=$TESSIVO_BENCH_BUS_HOME/config \
            exec dbus-run-session -- bash "$0" "$@"
    fi
}

# `bench_require APP TOOL...`: stops the script unless APP is built and every
# TOOL is on the PATH.
bench_require() {
    [ -x "$1" ] || { echo "no $1: build first" >&2; exit 1; }
    shift
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "$tool is required" >&2; exit 1; }
    done
}

# WORK, a scratch directory that goes at exit with the session's home, as do
# the app, the window manager and the X server still running then.
bench_work_dir() {
    WORK=$(mktemp -d)
    XVFB_PID=
    WM_PID=
    APP_PID=
    trap bench_cleanup EXIT
}
bench_cleanup() {
    [ -n "$APP_PID" ] && { kill "$APP_PID" 2>/dev/null; wait "$APP_PID" 2>/dev/null; } || true
    [ -n "$WM_PID" ] && kill "$WM_PID" 2>/dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
    rm -rf "$WORK" "${TESSIVO_BENCH_BUS_HOME:-}"
}

# `bench_start_x BASE`: Xvfb on a display numbered from BASE up (scripts that
# may run at once start from different numbers), then openbox when installed.
bench_start_x() {
    local display=$(($1 + RANDOM % 100))
    Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$display"
    sleep 1
    if command -v openbox >/dev/null; then
        openbox >/dev/null 2>&1 &
        WM_PID=$!
        sleep 0.5
    fi
}

# `bench_launch HOME LOG COMMAND...`: starts the app in the background with
# HOME as its whole home, its output to LOG; APP_PID is its process. Nothing
# else runs here: start-up times are taken around it.
bench_launch() {
    local home=$1 log=$2
    shift 2
    HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
        QTWEBENGINE_DISABLE_SANDBOX=1 "$@" >"$log" 2>&1 &
    APP_PID=$!
}

# `bench_wait_window LOG`: waits (a minute at most) for the app's window to
# show and sets `window` to it; ends the script, with LOG's last lines, when
# the app ends first.
bench_wait_window() {
    local log=$1
    for _ in $(seq 6000); do
        window=$(xdotool search --onlyvisible --name '^Tessivo$' 2>/dev/null | head -1) && [ -n "$window" ] && return 0
        kill -0 "$APP_PID" 2>/dev/null || { echo "tessivo ended before showing a window:" >&2; tail -5 "$log" >&2; exit 1; }
        sleep 0.01
    done
    echo "tessivo showed no window within a minute" >&2
    exit 1
}

# Resident memory of a process, in MiB.
bench_rss_mb() { echo $(($(awk '/VmRSS/ {print $2}' "/proc/$1/status") / 1024)); }

# `bench_seed_home HOME TITLE MODE FILE`: a store in HOME (welcome already
# seeded) whose only document, TITLE, has FILE's text as its body and is
# open in view MODE.
bench_seed_home() {
    python3 - "$@" <<'PY'
import json, os, sys
home, title, mode, path = sys.argv[1:5]
base = os.path.join(home, "data", "Tessivo")
os.makedirs(os.path.join(base, "documents"), exist_ok=True)
doc_id = "00000000-0000-0000-0000-000000000001"
body = open(path, encoding="utf-8").read()
t = 1_700_000_000_000
doc = {"id": doc_id, "title": title, "body": body, "frontmatter": {}, "overrides": [],
       "createdAt": t, "updatedAt": t, "deletedAt": None, "collectionId": None}
with open(os.path.join(base, "documents", doc_id + ".json"), "w") as f:
    json.dump(doc, f)
with open(os.path.join(base, "collections.json"), "w") as f:
    f.write("[]")
with open(os.path.join(base, "state.json"), "w") as f:
    json.dump({"syncCursor": 0, "dirtyDocumentIDs": [], "dirtyCollectionIDs": [], "publishedSlugs": {},
               "welcomeSeeded": True}, f)
os.makedirs(os.path.join(home, "config", "Tessivo"), exist_ok=True)
with open(os.path.join(home, "config", "Tessivo", "Tessivo.conf"), "w") as f:
    f.write(f"[General]\nactiveDocumentID={doc_id}\nviewMode={mode}\n")
PY
}
