#!/usr/bin/env bash
# The main job: build everything, then fly every built-in scenario of the
# closed-loop simulator, print the summary table and draw the pictures into
# out/sim/ (or the folder given with -o).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GUIDE_BUILD_DIR:-$root/build}

"$root/scripts/build.sh" >/dev/null
cd "$root"
exec "$build/guide-sim" "$@"
