#!/usr/bin/env bash
# Builds everything and runs the whole test suite, then the robustness
# checks: a short fuzzing run of each of the four fuzz targets
# (GUIDE_FUZZ_SECONDS each, default 30) and the whole suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer (preset asan-ubsan, in
# build-asan/). GUIDE_TEST_QUICK=1 runs the first part only.
#
# Every part runs even when an earlier one failed; the command then exits 1
# at the end, naming the parts that failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GUIDE_BUILD_DIR:-$root/build}
failed=()

# Runs one part; a failure is remembered, not fatal.
part() {
  local name=$1
  shift
  echo "test: $name"
  "$@" || failed+=("$name")
}

sanitizers() {
  cd "$root" &&
    cmake --preset asan-ubsan >/dev/null &&
    cmake --build --preset asan-ubsan -j"$(nproc)" >/dev/null &&
    ctest --preset asan-ubsan -j"$(nproc)"
}

"$root/scripts/build.sh" || { echo "test: the build failed; nothing was tested" >&2; exit 1; }
part "the suite (ctest in $build)" ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
if [ "${GUIDE_TEST_QUICK:-0}" != 1 ]; then
  part "fuzzing (fuzz/run.sh)" "$root/fuzz/run.sh" "${GUIDE_FUZZ_SECONDS:-30}"
  part "the sanitizer suite (preset asan-ubsan in build-asan/)" sanitizers
fi

if ((${#failed[@]})); then
  printf 'test: FAILED: %s\n' "${failed[@]}" >&2
  exit 1
fi
echo "test: all passed"
