#!/usr/bin/env bash
# Configures and builds Tessivo into ./build (or $TESSIVO_BUILD_DIR): every
# target, or only those named as arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${TESSIVO_BUILD_DIR:-build}
# TESSIVO_TESTING=ON|OFF in the environment sets the CMake option of that
# name (test-only overrides); unset leaves the configured value alone.
options=()
if [[ -n ${TESSIVO_TESTING:-} ]]; then options+=(-DTESSIVO_TESTING="$TESSIVO_TESTING"); fi
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSIVO_WERROR=ON "${options[@]}" >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$build_dir" -j"$(nproc)" "${targets[@]}"
