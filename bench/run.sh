#!/usr/bin/env bash
# Runs the expression benchmarks with 1 and 2 library threads and prints terms per second
# and the ratio of each operation's time to a memset of the same bytes from the same run.
set -euo pipefail
build=${1:-build}
reps=${REPS:-5}
for t in 1 2; do
  echo "== DALO_NUM_THREADS=$t (median of $reps) =="
  DALO_NUM_THREADS=$t "$build/bench/expr_bench" --benchmark_repetitions="$reps" \
    --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
  python3 "$(dirname "$0")/report.py"
done
