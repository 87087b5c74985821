#!/usr/bin/env bash
# Recognition quality and cost, scrivia beside pocketsphinx_continuous:
#   bash bench/eval/run.sh [--fresh]
# Builds the decoding driver in build/ (or $BUILD), prepares the sets in
# $BUILD/eval and prints the figures. --fresh runs the tool again on every file.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${BUILD:-$root/build}"
[ -f "$build/build.ninja" ] ||
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target scrivia_decode_files >/dev/null
exec python3 "$root/bench/eval/run.py" --build "$build" "$@"
