#!/usr/bin/env bash
# Installs what is needed and builds Velda into build/ (or build-asan/ with
# --sanitize). Programs land in <build>/bin.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELDA_WERROR=ON)
if [[ "${1:-}" == "--sanitize" ]]; then
  dir=build-asan
  args+=(-DVELDA_SANITIZE=ON -DVELDA_BENCH=OFF)
fi

bash scripts/install-deps.sh
cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
cmake --build "$dir" -j2
