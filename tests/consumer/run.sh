#!/usr/bin/env bash
# Installs the build folder's dalo into a scratch prefix, builds the consumer project against
# it with find_package and with pkg-config, and runs both programs.
set -euo pipefail
build=$1
source=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$source" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" >/dev/null
"$work/build/consumer"
PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" c++ -std=c++20 "$source/main.cpp" \
  $(PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --cflags --libs dalo) -o "$work/pc"
"$work/pc"
