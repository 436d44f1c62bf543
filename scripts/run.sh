#!/usr/bin/env bash
# The main job: build the library and guide-sim (nothing else), then fly
# every built-in scenario of the closed-loop simulator, print the summary
# table and draw the pictures into out/sim/point_mass/ (or the folder given
# with -o).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GUIDE_BUILD_DIR:-$root/build}

echo "run: building libGuide.so and guide-sim in $build"
"$root/scripts/build.sh" Guide guide-sim
echo "run: flying the built-in scenarios"
cd "$root"
exec "$build/guide-sim" "$@"
