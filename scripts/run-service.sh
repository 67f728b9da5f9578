#!/usr/bin/env bash
# Installs what is missing, builds and runs the Tessivo service alone, in the
# foreground. Options go to the service (see --help), for example:
#   scripts/run-service.sh --listen 0.0.0.0:8787 --public-url https://tessivo.example.com
#   scripts/run-service.sh --database "postgres:host=/var/run/postgresql dbname=tessivo"
#   TESSIVO_AI_ENDPOINT=http://localhost:11434/v1/chat/completions TESSIVO_AI_MODEL=llama3.2 \
#     scripts/run-service.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh tessivo-service
exec "${TESSIVO_BUILD_DIR:-build}/tessivo-service/tessivo-service" "$@"
