#!/usr/bin/env bash
# Builds dalo's Python package and the peer tools into a separate virtual environment and
# times the same models in each (the peers are never a dependency of dalo). VENV picks the
# environment; its arguments go to models.py (--help lists them).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
venv=${VENV:-$root/build-python/bench-venv}
[ -x "$venv/bin/python" ] || python3 -m venv "$venv"
"$venv/bin/pip" install -q --disable-pip-version-check "$root/python" pyqubo dimod numpy
"$venv/bin/python" "$root/bench/python/models.py" "$@"
