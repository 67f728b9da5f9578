#!/usr/bin/env bash
# Configures and builds Tessivo into ./build (or $TESSIVO_BUILD_DIR): every
# target, or only those named as arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${TESSIVO_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSIVO_WERROR=ON >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$build_dir" -j"$(nproc)" "${targets[@]}"
