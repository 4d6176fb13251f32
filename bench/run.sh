#!/usr/bin/env bash
# Kernel benchmarks on the photo corpus: JPEG load and store against bare
# TurboJPEG, MaskCopy, colour reduction against ImageMagick. Repetitions are
# interleaved so that a noisy machine hits both sides alike; medians printed.
set -euo pipefail
cd "$(dirname "$0")/.."
CORPUS=${VELDA_CORPUS:-/tmp/perf/corpus}
[ -f "$CORPUS/jpg24/kleiber-24mp.jpg" ] || bash ../shared/corpus/make-corpus.sh "$CORPUS"
cmake --build build -j2 --target imaging_bench >/dev/null
VELDA_CORPUS=$CORPUS build/bin/imaging_bench --benchmark_repetitions="${REPS:-7}" \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
  "$@" 2>&1 | grep -E 'median|^Benchmark|^---'
