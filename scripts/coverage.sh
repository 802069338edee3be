#!/usr/bin/env bash
# Line and branch coverage of src/ and plugins/ under the ctest suite (gcovr).
# Usage: scripts/coverage.sh [build-folder] [report-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build-cov}")
report=$(realpath -m "${2:-$build/coverage}")
gen=$(command -v ninja >/dev/null 2>&1 && echo "-G Ninja" || true)
cmake -S . -B "$build" $gen -DCMAKE_BUILD_TYPE=Debug -DDALO_COVERAGE=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
find "$build" -name '*.gcda' -delete
# Timing cases may fail in this slow build; the coverage of the rest still counts.
(cd "$build" && ctest -j "$(nproc)" --timeout 600 -E 'Install\.' >"$build/ctest.log" 2>&1) ||
  grep -A20 'tests FAILED' "$build/ctest.log" >&2
mkdir -p "$report"
# Throw and compiler-made branches say nothing about the tests; they are left out both times.
gcovr -r . --object-directory "$build" --filter 'src/' --filter 'plugins/' \
  --exclude-throw-branches --exclude-unreachable-branches -j "$(nproc)" \
  --txt "$report/files.txt" --json-summary "$report/summary.json" --print-summary |
  tee "$report/summary.txt"
