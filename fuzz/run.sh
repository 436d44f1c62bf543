#!/usr/bin/env bash
# Builds the libFuzzer target with clang and runs it.
#   fuzz/run.sh [SECONDS] [libFuzzer options...]
# SECONDS defaults to 30. The corpus grows in build-fuzz/corpus (or
# $GUIDE_FUZZ_DIR/corpus) and is reused by the next run; a crashing input is
# written to build-fuzz/artifacts/ and the script exits non-zero.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GUIDE_FUZZ_DIR:-$root/build-fuzz}
seconds=${1:-30}
shift $(($# > 0 ? 1 : 0))

CC=clang-14 CXX=clang++-14 cmake -S "$root/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
mkdir -p "$build/corpus" "$build/artifacts"

echo "fuzz: guide_fuzz for ${seconds} s, corpus $build/corpus"
"$build/guide_fuzz" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$build/artifacts/" "$@" "$build/corpus" 2>"$build/fuzz.log" || {
  status=$?
  tail -n 60 "$build/fuzz.log"
  echo "fuzz: FAILED (exit $status); reproduce with $build/guide_fuzz $build/artifacts/<crash file>"
  exit "$status"
}
grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$build/fuzz.log" || true
echo "fuzz: no fault found"
