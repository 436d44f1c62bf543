#!/usr/bin/env bash
# The main job: build, then fly the typical step through the loaded library.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GUIDE_BUILD_DIR:-$root/build}

"$root/scripts/build.sh" >/dev/null
"$build/guide-step" "$@"
