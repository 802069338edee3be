#!/usr/bin/env bash
# KELPSolver's GPU check, one command on a machine with an NVIDIA GPU (run from anywhere in
# the repository):
#
#   bench/gpu/check.sh [--cap SECONDS] [--seeds N] [--skip-bench]
#
# 1. checks that nvidia-smi sees a GPU and that nvcc exists (exit 3 when not: nothing to check);
# 2. builds a release tree with the CUDA part and the benchmark program (build-gpu/, log
#    check-build.log there), and checks that the plug-in carries the GPU solver and the integer GPU engine;
# 3. runs the KELP tests on the device: energies the GPU paths report against the library's
#    recomputation, optima of small Models against enumeration, hints, lists, the integer
#    GPU engine (every state it reports improved is re-verified by the library);
# 4. runs the GPU benchmark: time to best known on G22, G55, G60 in GPU mode 1 and the moves
#    per second of the GPU and the CPU path on G22.
# The report goes to $OUT/report.txt when OUT is set, else build-gpu/report.txt; the exit
# status is that of the tests (2 for a build failure).
set -euo pipefail
cd "$(dirname "$0")/../.."

cap=10
seeds=3
bench=1
while [ $# -gt 0 ]; do
  case "$1" in
    --cap) cap="${2:?--cap needs a value}"; shift 2 ;;
    --seeds) seeds="${2:?--seeds needs a value}"; shift 2 ;;
    --skip-bench) bench=0; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

build="${KELP_GPU_BUILD:-build-gpu}"  # another folder reuses an existing tree
log="$build/check-build.log"
report="${OUT:-$build}/report.txt"
mkdir -p "$build" "$(dirname "$report")"
say() { echo "$*" | tee -a "$report"; }
: > "$report"
say "KELPSolver GPU check, $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"

# 1. A GPU and a CUDA compiler.
if ! command -v nvidia-smi >/dev/null 2>&1; then
  say "no GPU: nvidia-smi not found; nothing to check on this machine"
  exit 3
fi
if ! gpus="$(nvidia-smi --query-gpu=name,driver_version,memory.total --format=csv,noheader 2>&1)" ||
   [ -z "$gpus" ]; then
  say "no GPU: nvidia-smi reports: ${gpus:-nothing}"
  exit 3
fi
say "GPU: $gpus"
nvcc="${NVCC:-$(command -v nvcc || echo /usr/local/cuda/bin/nvcc)}"
if [ ! -x "$nvcc" ]; then
  say "no CUDA compiler: $nvcc not found (set NVCC)"
  exit 3
fi
say "nvcc: $("$nvcc" --version | tail -1)"

# 2. Build (the benchmark program is compiled on its own, so that the build needs no
# benchmark library).
if ! ./scripts/deps.sh >"$log" 2>&1; then
  say "build dependencies missing and not installable (see $log):"
  tail -5 "$log" | tee -a "$report"
  exit 2
fi
gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
if ! { cmake -S . -B "$build" ${gen[@]+"${gen[@]}"} -DCMAKE_BUILD_TYPE=Release \
         -DCMAKE_CUDA_COMPILER="$nvcc" &&
       cmake --build "$build" -j "$(nproc)" &&
       c++ -std=c++20 -O2 -Iinclude -Ibench bench/kelp_bench.cpp -o "$build/kelp_bench" \
         "$build/lib/dalo_c32e64m0.so" -Wl,-rpath,"$PWD/$build/lib"; } >>"$log" 2>&1; then
  say "build failed (see $log):"
  tail -30 "$log" | tee -a "$report"
  exit 2
fi
plugin="$build/lib/kelp_c32e64.so"
for sym in dalo_kelp_solver_create dalo_kelp_int_create dalo_kelp_int_round2; do
  # grep reads all of nm's output: an early exit would fail the pipe under pipefail.
  if ! nm -D --defined-only "$plugin" | grep " $sym\$" >/dev/null; then
    say "the plug-in lacks $sym: built WITHOUT the CUDA part (see $log)"
    exit 2
  fi
done
say "built: $plugin with the GPU solver and the integer GPU engine"

# 3. Tests on the device.
say ""
say "== KELP tests (device present: the GPU paths run on it)"
set +e
timeout 900 "$build/tests/capi_tests" --gtest_filter='Kelp*' >"$build/kelp_tests.log" 2>&1
status=$?
set -e
grep -E '^\[ +(OK|FAILED|SKIPPED) +\]|^\[ +PASSED +\]|Failure|Expected|Which is|actual' \
  "$build/kelp_tests.log" | tee -a "$report" || true
[ "$status" -eq 0 ] && say "tests: passed" || say "tests: FAILED (status $status, log $build/kelp_tests.log)"

# 4. Benchmarks.
if [ "$bench" -eq 1 ]; then
  say ""
  say "== benchmark: time to best known in GPU mode 1 (cap $cap s, $seeds seeds), moves per second on G22"
  set +e
  timeout 1800 "$build/kelp_bench" --gpu --cap "$cap" --seeds "$seeds" 2>&1 | tee -a "$report"
  set -e
fi
exit "$status"
