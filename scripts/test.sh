#!/usr/bin/env bash
# Builds everything and runs the whole test suite, then the robustness
# checks: a short fuzzing run of each of the four fuzz targets
# (GUIDE_FUZZ_SECONDS each, default 30) and the whole suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer (preset asan-ubsan, in
# build-asan/). GUIDE_TEST_QUICK=1 runs the first part only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GUIDE_BUILD_DIR:-$root/build}

"$root/scripts/build.sh"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
[ "${GUIDE_TEST_QUICK:-0}" = 1 ] && exit 0

"$root/fuzz/run.sh" "${GUIDE_FUZZ_SECONDS:-30}"

cd "$root"
echo "sanitizers: building and testing preset asan-ubsan in build-asan/"
cmake --preset asan-ubsan >/dev/null
cmake --build --preset asan-ubsan -j"$(nproc)" >/dev/null
ctest --preset asan-ubsan -j"$(nproc)"
