#!/usr/bin/env bash
# Installs what is missing, builds and starts Tessivo. Without a display the
# app runs under a virtual X server (Xvfb) and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh tessivo
app=${TESSIVO_BUILD_DIR:-build}/Tessivo/tessivo
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting Tessivo under Xvfb (a virtual screen you cannot see)."
  exec xvfb-run -a -s "-screen 0 1600x1000x24" "$app" "$@"
fi
exec "$app" "$@"
