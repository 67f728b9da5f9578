#!/usr/bin/env bash
# Installs what is missing, builds and runs every test. Window tests run on a
# virtual X server, keychain tests against a private keyring daemon, and all
# of them in a throw-away home folder so nothing of the user's is touched.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/check-format.sh
TESSIVO_TESTING=ON bash scripts/build.sh
build_dir=$(realpath "${TESSIVO_BUILD_DIR:-build}")

scratch=$(mktemp -d)
# The service tests run a second time against a throw-away PostgreSQL cluster.
pg=$(bash scripts/postgres-scratch.sh)
pg_dir=${pg#host=}
pg_dir=${pg_dir%% *}
trap 'bash scripts/postgres-scratch.sh stop "$pg_dir"; rm -rf "$scratch"' EXIT
export TESSIVO_TEST_POSTGRES=$pg
export HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export QTWEBENGINE_DISABLE_SANDBOX=1

dbus-run-session -- bash -c '
  eval "$(printf ci | gnome-keyring-daemon --daemonize --unlock --components=secrets)"
  export GNOME_KEYRING_CONTROL SSH_AUTH_SOCK
  # Everything a test may need is here, so a test that would skip for want
  # of it (the binary, a tool, a testing build, the keyring) fails instead.
  # The time-out is for a hung test, far beyond what one takes on a busy
  # two-core machine.
  TESSIVO_TEST_REQUIRE_NEEDS=1 xvfb-run -a -s "-screen 0 1920x1080x24" \
    ctest --test-dir "$1" --output-on-failure -j"$(nproc)" --timeout 1200
' _ "$build_dir"

# Then the same headless code again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a short run of each fuzzer. Set
# TESSIVO_SKIP_SANITIZE=1 for a quicker local run.
if [[ -z ${TESSIVO_SKIP_SANITIZE:-} ]]; then
  bash scripts/sanitize.sh
fi
