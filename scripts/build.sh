#!/usr/bin/env bash
# Configures and builds into build/ (or $GUIDE_BUILD_DIR): everything, or
# only the CMake targets named (scripts/build.sh Guide guide-sim), with
# cmake's progress. The first configure on a machine also builds JSBSim's
# library into the machine cache, and says so.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GUIDE_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
echo "build: configuring $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release |
  { grep --line-buffered -E '^-- JSBSim: (building|fetching)' || true; }
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
