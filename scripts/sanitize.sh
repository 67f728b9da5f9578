#!/usr/bin/env bash
# The sanitizer job: builds the headless code with clang, AddressSanitizer
# and UndefinedBehaviorSanitizer (any report is fatal) and with assertions,
# ours and Qt's, kept in, into ./build-sanitize
# (or $TESSIVO_SANITIZE_BUILD_DIR), runs every headless test and the
# editor's window tests there, then runs each fuzz target for $TESSIVO_FUZZ_SECONDS seconds (30) from its seed
# corpus, as many at once as there are cores. A crashing input is kept in
# the build folder's fuzz-artifacts/ and named in the output.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${TESSIVO_SANITIZE_BUILD_DIR:-build-sanitize}
seconds=${TESSIVO_FUZZ_SECONDS:-30}
jobs=$(nproc)

CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSIVO_FUZZ=ON -DTESSIVO_ASSERTS=ON -DTESSIVO_WERROR=ON >/dev/null

# The headless tests (every tst_*.cpp outside a ui/ folder), the fuzzers,
# and the editor's window tests: its views are torn down with callbacks and
# event filters installed, where only a sanitizer sees a call into a
# half-destroyed object.
mapfile -t tests < <(find tests tessivo-service/tests -name 'tst_*.cpp' -not -path '*/ui/*' -not -path '*/x11/*' \
  -printf '%f\n' | sed 's/\.cpp$//' | sort)
ui_tests=(tst_editor_markdownview tst_editor_textview)
targets=(fuzzers)
for t in "${tests[@]}" "${ui_tests[@]}"; do targets+=(--target "$t"); done
cmake --build "$build_dir" -j"$jobs" --target "${targets[@]}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/lsan.supp:print_suppressions=0}
# The service's PostgreSQL variants need the cluster that scripts/test.sh
# starts; its SQLite runs cover the same code here. The sync crash test
# (fifty kills of a syncing process) runs in the plain build only; the
# store's own crash test, which drives the same writers, runs here.
ctest --test-dir "$build_dir" -L core -E '(_postgres|^tst_sync_reliability)$' --output-on-failure -j"$jobs" \
  --timeout 1800
# Qt's window-system libraries keep allocations to the end; leaks are
# checked in the headless run above.
ui_pattern="^($(IFS='|'; echo "${ui_tests[*]}"))\$"
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 xvfb-run -a -s "-screen 0 1920x1080x24" \
  ctest --test-dir "$build_dir" -R "$ui_pattern" --output-on-failure --timeout 1800

artifacts=$(realpath "$build_dir")/fuzz-artifacts
mkdir -p "$artifacts"
run_one() {
  local name=$1 seeds
  seeds=fuzz/corpus/${name#fuzz_}
  mkdir -p "$scratch/$name"
  if "$build_dir/fuzz/$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -max_len=16384 \
      -artifact_prefix="$artifacts/$name-" -print_final_stats=1 "$scratch/$name" "$seeds" \
      >"$scratch/$name.log" 2>&1; then
    echo "$name: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$scratch/$name.log" | grep -o '[0-9]*$') runs, no findings"
  else
    echo "$name: FAILED"
    tail -n 60 "$scratch/$name.log"
    return 1
  fi
}
export -f run_one
export build_dir seconds artifacts scratch
find fuzz -maxdepth 1 -name 'fuzz_*.cpp' -printf '%f\n' | sed 's/\.cpp$//' | sort |
  xargs -P "$jobs" -I{} bash -c 'run_one {}'
