#!/usr/bin/env bash
# Builds dalo's benchmarks with dimod's C++ headers (from a separate virtual environment,
# never a dependency of dalo) and times the same models in both, alternating.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD:-$root/build}
venv=${VENV:-$root/build-python/bench-venv}
[ -x "$venv/bin/python" ] || python3 -m venv "$venv"
"$venv/bin/pip" install -q --disable-pip-version-check dimod
include=$("$venv/bin/python" -c 'import dimod, os; print(os.path.join(os.path.dirname(dimod.__file__), "include"))')
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDALO_BUILD_BENCH=ON -DDALO_DIMOD_INCLUDE="$include" >/dev/null
cmake --build "$build" -j"$(nproc)" --target build_vs_dimod >/dev/null
"$build/bench/peers/build_vs_dimod" "$@"
