#!/usr/bin/env bash
# KELPSolver's GPU check, one command on a machine with an NVIDIA GPU (run from the
# repository root): builds the release tree with nvcc, runs the KELP tests (energies the GPU
# reports against the library's recomputation, optima of small Models against enumeration),
# then the GPU benchmark, and writes bench/gpu/report.txt (or $OUT/report.txt when OUT is set).
#
#   bench/gpu/check.sh [--cap SECONDS] [--seeds N]
set -u
cd "$(dirname "$0")/../.."
cap=10
seeds=3
while [ $# -gt 0 ]; do
  case "$1" in
    --cap) cap="$2"; shift 2 ;;
    --seeds) seeds="$2"; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
report="${OUT:-bench/gpu}/report.txt"
mkdir -p "$(dirname "$report")"
build=build-gpu
{
  echo "KELPSolver GPU check, $(date -u '+%Y-%m-%d %H:%M UTC')"
  nvidia-smi --query-gpu=name,driver_version,memory.total --format=csv,noheader 2>&1 || true
  echo
} > "$report"

gen=""
command -v ninja >/dev/null 2>&1 && gen="-G Ninja"
if ! cmake -S . -B "$build" $gen -DCMAKE_BUILD_TYPE=Release \
       -DCMAKE_CUDA_COMPILER="${NVCC:-/usr/local/cuda/bin/nvcc}" >"$build.log" 2>&1 ||
   ! cmake --build "$build" -j "$(nproc)" >>"$build.log" 2>&1; then
  echo "build failed (see $build.log)" | tee -a "$report"
  tail -20 "$build.log" >> "$report"
  exit 1
fi
grep "KELPSolver: GPU solver" "$build.log" >> "$report" || echo "built WITHOUT the GPU solver" >> "$report"

echo "== tests" >> "$report"
"$build/tests/capi_tests" --gtest_filter='Kelp*' 2>&1 | grep -E '^\[ *(OK|FAILED|SKIPPED|PASSED) ' >> "$report"
status=${PIPESTATUS[0]}

echo >> "$report"
echo "== benchmark (time to best known, KELP in GPU mode 1)" >> "$report"
g++ -std=c++20 -O2 -Iinclude bench/kelp_bench.cpp -o "$build/kelp_bench" \
    "$build/lib/dalo_c32e64m0.so" -Wl,-rpath,"$PWD/$build/lib" >> "$report" 2>&1 &&
  "$build/kelp_bench" --gpu --cap "$cap" --seeds "$seeds" >> "$report" 2>&1

cat "$report"
exit "$status"
