#!/usr/bin/env bash
# The two commands of the README as a newcomer meets them, on a copy of the
# scripts whose cmake, ctest, fuzzing script, package setup and guide-sim are
# stubs that log their calls: run.sh builds only what the main job needs and
# says what it is doing; test.sh runs all three parts although the first
# fails, then fails naming it.
#   usage: commands_test.sh SOURCE_DIR
set -euo pipefail
src=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/guidew-commands.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "commands_test: $*" >&2; exit 1; }

tree=$tmp/tree
mkdir -p "$tree/scripts" "$tree/fuzz" "$tree/build" "$tmp/bin"
cp "$src"/scripts/{build,run,test}.sh "$tree/scripts/"
calls=$tmp/calls
stub() {  # stub PATH NAME BODY: logs "NAME ARGS" and runs BODY
  printf '#!/bin/sh\necho "%s $*" >>"%s"\n%s\n' "$2" "$calls" "$3" >"$1"
  chmod +x "$1"
}
stub "$tmp/bin/cmake" cmake 'exit 0'
stub "$tmp/bin/ctest" ctest 'case "$*" in *--preset*) exit 0 ;; *) exit 8 ;; esac'  # the suite fails
stub "$tree/fuzz/run.sh" fuzz 'exit 0'
stub "$tree/scripts/setup.sh" setup 'exit 0'
stub "$tree/build/guide-sim" guide-sim 'echo "typical ok"'

# command | its exit status | a call it must make | a line it must print
while IFS='|' read -r command status call line; do
  : >"$calls"
  got=0
  out=$(cd "$tmp" && env -u GUIDE_BUILD_DIR -u GUIDE_TEST_QUICK PATH="$tmp/bin:$PATH" GUIDE_FUZZ_SECONDS=1 \
          "$tree/scripts/$command" 2>&1) || got=$?
  [ "$got" = "$status" ] || fail "$command exited $got, not $status:"$'\n'"$out"
  grep -Eq -- "$call" "$calls" || fail "$command did not call $call; calls:"$'\n'"$(cat "$calls")"
  grep -Eq -- "$line" <<<"$out" || fail "$command did not print $line:"$'\n'"$out"
done <<'TABLE'
run.sh|0|^cmake --build .* --target Guide --target guide-sim$|^run: building libGuide.so and guide-sim
run.sh|0|^guide-sim $|^typical ok
test.sh|1|^fuzz 1$|^test: FAILED: the suite
test.sh|1|^ctest --preset asan-ubsan|^test: FAILED: the suite \(ctest in .*\)$
TABLE
echo "commands_test: all passed"
