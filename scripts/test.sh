#!/usr/bin/env bash
# Installs, builds and runs every test. --sanitize: the same under
# AddressSanitizer and UndefinedBehaviorSanitizer. --tsan: the settings,
# batch and velda-batch tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh "$@"
dir=build
only=()
case "${1:-}" in
  --sanitize) dir=build-asan ;;
  --tsan)
    dir=build-tsan
    only=(-L threads)
    ;;
esac

export QT_QPA_PLATFORM=offscreen
# Leaks inside system libraries (fontconfig, ImageMagick's start-up caches)
# are not ours; everything else fails the run.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp"
ctest --test-dir "$dir" --output-on-failure -j2 --timeout 600 "${only[@]}"
