#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing.
set -euo pipefail

packages=(g++ cmake ninja-build make binutils libgtest-dev libgmock-dev libbenchmark-dev libboost-dev
          libcli11-dev nlohmann-json3-dev coinor-cbc glpk-utils pkg-config python3-venv python3-dev
          clang libclang-rt-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "deps: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get install -y --no-install-recommends "${missing[@]}" || {
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}
