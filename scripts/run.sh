#!/usr/bin/env bash
# Installs, builds and starts the desktop program (arguments are passed on).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
exec build/bin/velda "$@"
