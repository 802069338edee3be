#!/usr/bin/env bash
# Runs every benchmark program with 1 and 2 library threads and prints medians; the
# expression builders also get their ratio to memset from the same run.
set -euo pipefail
build=${1:-build}
reps=${REPS:-5}
here=$(dirname "$0")
for t in 1 2; do
  echo "== DALO_NUM_THREADS=$t (median of $reps) =="
  DALO_NUM_THREADS=$t "$build/bench/expr_bench" --benchmark_repetitions="$reps" \
    --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null | python3 "$here/report.py"
  for prog in "$build"/bench/*_bench; do
    case "$(basename "$prog")" in expr_bench|brisk_bench) continue ;; esac
    DALO_NUM_THREADS=$t "$prog" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
      2>/dev/null | grep '_median' | awk '{printf "%-46s %10s %s\n", $1, $2, $3}'
  done
done
# BriskSolver: whole searches on the shared benchmark set (its own table, see the program).
echo "== BriskSolver (brisk_bench) =="
"$build/bench/brisk_bench"
