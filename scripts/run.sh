#!/usr/bin/env bash
# Installs, builds and starts the command-line batch tool with the given
# arguments (velda-batch --help when none are given).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
if [[ $# -eq 0 ]]; then set -- --help; fi
exec build/bin/velda-batch "$@"
