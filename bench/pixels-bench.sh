#!/usr/bin/env bash
# Key to changed pixels, over several launches: runs bench_pixels (which
# starts an Xvfb and openbox of its own) once per launch, each in a fresh
# home, and prints each launch's figures.
#
#   bench/pixels-bench.sh [build-dir] [launches] [preview|palette|all] [keys per case]
#
# Defaults: build, 3 launches, all, 15 keys. Needs Xvfb, openbox and libXtst.
set -euo pipefail
BUILD=${1:-build}
LAUNCHES=${2:-3}
WHAT=${3:-all}
KEYS=${4:-15}
BIN="$BUILD/bench/bench_pixels"
[ -x "$BIN" ] || { echo "no $BIN: build first" >&2; exit 1; }
for tool in Xvfb openbox; do
    command -v "$tool" >/dev/null || { echo "$tool is required" >&2; exit 1; }
done
for launch in $(seq "$LAUNCHES"); do
    home=$(mktemp -d)
    mkdir -m 700 "$home/runtime"
    echo "=== launch $launch"
    # The web engine's own lines on stderr say nothing about the figures.
    env -u DISPLAY HOME="$home" XDG_RUNTIME_DIR="$home/runtime" "$BIN" "$WHAT" "$KEYS" 2>/dev/null
    rm -rf "$home"
done
