#!/usr/bin/env bash
# Rewrites the expected outputs of the Markdown golden files
# (tests/editor/data/golden/*.html and *.spans) from the current code, so that
# a change of rendering or highlighting shows up as a reviewable diff.
#
# Usage: scripts/update-golden.sh [build-dir]   (default: build)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"

cmake --build "$build" -j3 --target tst_markdownrenderer tst_highlighterrules
for test in tst_markdownrenderer tst_highlighterrules; do
    TESSIVO_UPDATE_GOLDEN=1 "$build/tests/editor/$test" golden >/dev/null
done
git -C "$root" status --short -- tests/editor/data/golden
