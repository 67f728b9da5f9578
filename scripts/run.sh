#!/usr/bin/env bash
# Installs what is missing, builds and starts Tessivo. Without a display the
# app runs under a virtual X server (Xvfb) and says so. When no Tessivo
# service answers on localhost:8787, one is started for this session (and
# stopped when the app quits), so signing in, sync, publishing and images
# work out of the box.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh tessivo tessivo-service
build=${TESSIVO_BUILD_DIR:-build}
app=$build/Tessivo/tessivo

if ! (exec 3<>/dev/tcp/127.0.0.1/8787) 2>/dev/null; then
  log=${XDG_STATE_HOME:-$HOME/.local/state}/tessivo-service.log
  mkdir -p "$(dirname "$log")"
  "$build/tessivo-service/tessivo-service" >>"$log" 2>&1 &
  service_pid=$!
  trap 'kill "$service_pid" 2>/dev/null || true' EXIT
  echo "Started the Tessivo service on http://localhost:8787 (log: $log); it stops when Tessivo quits."
  if [ -z "${TESSIVO_AI_ENDPOINT:-}" ]; then
    echo "AI is not set up: set TESSIVO_AI_ENDPOINT (and TESSIVO_AI_MODEL) to an OpenAI-compatible server to use it."
  fi
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting Tessivo under Xvfb (a virtual screen you cannot see)."
  xvfb-run -a -s "-screen 0 1600x1000x24" "$app" "$@"
else
  "$app" "$@"
fi
