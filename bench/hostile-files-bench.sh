#!/usr/bin/env bash
# The real tessivo binary started with something other than a file where it
# keeps one: a link to a 2 GiB sparse file at state.json, collections.json,
# a document or the settings file, a pipe at the settings file or the
# personal word list, a folder or a link at the single-instance lock. For
# each, with one document in the store: the time from spawn to the main
# window, the peak resident memory, and the time from Ctrl+Q to the end of
# the process; then whether the next launch shows its window. Targets: the
# window within 2 s, memory as with no hostile file, the end at once.
#
#   bench/hostile-files-bench.sh [build-dir]
#
# Needs Xvfb, openbox and xdotool.
set -uo pipefail

BUILD=${1:-build}
APP="$BUILD/Tessivo/tessivo"
source "$(dirname "${BASH_SOURCE[0]}")/lib/app-under-x.sh"
bench_session_bus "$@"
bench_require "$APP" Xvfb openbox xdotool
bench_work_dir
bench_start_x 300

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# `place CASE HOME`: the hostile file of CASE in HOME.
place() {
    local data=$2/data/Tessivo run=$2/run
    case $1 in
    state) ln -s "$WORK/sparse" "$data/state.json" ;;
    collections) ln -s "$WORK/sparse" "$data/collections.json" ;;
    document) ln -s "$WORK/sparse" "$data/documents/huge.json" ;;
    settings) ln -s "$WORK/sparse" "$2/config/Tessivo/Tessivo.conf" ;;
    settings-pipe) mkfifo "$2/config/Tessivo/Tessivo.conf" ;;
    dictionary-pipe) mkdir -p "$data/Tessivo" && mkfifo "$data/Tessivo/dictionary.txt" ;;
    lock-folder | lock-link)
        # The lock's name is the app's: a first start leaves it there.
        run_once "$2" >/dev/null
        local lock
        lock=$(ls "$run"/tessivo-*.lock)
        rm -f "$lock"
        if [ "$1" = lock-folder ]; then mkdir "$lock"; else ln -s "$WORK/elsewhere" "$lock"; fi
        ;;
    esac
}

# `run_once HOME`: one start and Ctrl+Q; prints "window-ms peak-mb quit-ms".
run_once() {
    local home=$1 start shown quit peak
    start=$(now_ms)
    XDG_RUNTIME_DIR="$home/run" bench_launch "$home" "$home/log" "$APP"
    bench_wait_window "$home/log"
    shown=$(now_ms)
    # The store is loaded once the document is listed; a second more for
    # anything read later (the word list) to be in.
    sleep 1
    peak=$(($(awk '/VmHWM/ {print $2}' "/proc/$APP_PID/status") / 1024))
    xdotool windowactivate --sync "$window" >/dev/null 2>&1
    quit=$(now_ms)
    xdotool key ctrl+q
    for _ in $(seq 1000); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.005; done
    if kill -0 "$APP_PID" 2>/dev/null; then
        echo "$((shown - start)) $peak still-running"
        kill -9 "$APP_PID"
    else
        echo "$((shown - start)) $peak $(($(now_ms) - quit))"
    fi
    wait "$APP_PID" 2>/dev/null
    APP_PID=
}

truncate -s 2G "$WORK/sparse"
printf '%-16s %10s %8s %8s %s\n' case window-ms peak-MB quit-ms next-launch
for c in none state collections document settings settings-pipe dictionary-pipe lock-folder lock-link; do
    home="$WORK/$c"
    mkdir -p "$home/run" "$home/data/Tessivo/documents" "$home/config/Tessivo"
    chmod 700 "$home/run"
    printf '{"body":"# Kept\\n\\ntext","collectionId":null,"createdAt":1,"deletedAt":null,"frontmatter":{},"id":"kept","overrides":[],"title":"Kept","updatedAt":2}' \
        >"$home/data/Tessivo/documents/kept.json"
    place "$c" "$home"
    read -r window peak quit < <(run_once "$home")
    read -r next _ < <(run_once "$home")
    printf '%-16s %10s %8s %8s %s\n' "$c" "$window" "$peak" "$quit" "window in $next ms"
done
