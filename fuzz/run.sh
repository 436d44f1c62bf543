#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each in turn.
#   fuzz/run.sh [SECONDS] [libFuzzer options...]
# SECONDS (per target) defaults to 30. GUIDE_FUZZ_TARGETS picks targets
# (default: all): guide_fuzz (the law), fuzz_csv_reader, fuzz_params,
# fuzz_scenario (the tools' readers). Each target's corpus grows in
# build-fuzz/corpus/TARGET (or $GUIDE_FUZZ_DIR/corpus/TARGET), seeded from
# fuzz/seeds/TARGET when there is one, and is reused by the next run; a
# failing input is written to build-fuzz/artifacts/ and the script exits
# non-zero.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GUIDE_FUZZ_DIR:-$root/build-fuzz}
seconds=${1:-30}
shift $(($# > 0 ? 1 : 0))
targets=${GUIDE_FUZZ_TARGETS:-guide_fuzz fuzz_csv_reader fuzz_params fuzz_scenario}

CC=clang-14 CXX=clang++-14 cmake -S "$root/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target $targets >/dev/null
mkdir -p "$build/artifacts"

for target in $targets; do
  corpus=$build/corpus/$target
  mkdir -p "$corpus"
  seeds=()
  [ -d "$root/fuzz/seeds/${target#fuzz_}" ] && seeds=("$root/fuzz/seeds/${target#fuzz_}")
  log=$build/$target.log
  echo "fuzz: $target for ${seconds} s, corpus $corpus"
  "$build/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target-" "$@" "$corpus" "${seeds[@]}" 2>"$log" || {
    status=$?
    tail -n 60 "$log"
    echo "fuzz: $target FAILED (exit $status); reproduce with $build/$target $build/artifacts/$target-<file>"
    exit "$status"
  }
  grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$log" || true
done
echo "fuzz: no fault found"
