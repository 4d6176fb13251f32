#!/usr/bin/env bash
# Installs what is needed and builds Velda into build/ (programs in
# build/bin). --sanitize: AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/; --tsan: ThreadSanitizer in build-tsan/, the libraries without
# windows, velda-batch and their tests only.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELDA_WERROR=ON)
targets=()
case "${1:-}" in
  --sanitize)
    dir=build-asan
    args+=(-DVELDA_SANITIZE=ON -DVELDA_BENCH=OFF)
    ;;
  --tsan)
    dir=build-tsan
    args+=(-DVELDA_TSAN=ON -DVELDA_BENCH=OFF)
    targets=(--target velda-batch settings_test batch_run_test velda_batch_test)
    ;;
esac

bash scripts/install-deps.sh
cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
cmake --build "$dir" -j2 "${targets[@]}"
