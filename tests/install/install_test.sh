#!/usr/bin/env bash
# Installs a built tree into a scratch prefix and uses it as a user would:
# a C++ host configured with find_package(GuideW), a C host compiled with the
# flags of pkg-config, and the installed guide-step, which has to find the
# installed library on its own. First, the build tree itself must run on its
# own: no run path leads out of it (to the machine's JSBSim cache), and its
# guide-sim flies with that cache hidden.
#   usage: install_test.sh BUILD_DIR HOST_SOURCE_DIR
set -euo pipefail
build=$1
host_src=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/guidew-install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
# Nothing may be found through the environment: only the install counts.
unset LD_LIBRARY_PATH PKG_CONFIG_PATH CMAKE_PREFIX_PATH

fail() { echo "install_test: $*" >&2; exit 1; }
step() { echo "== $*"; }

step "the build tree's run paths stay inside it"
tree=$(realpath "$build")
while IFS= read -r -d '' f; do
  runpath=$({ readelf -d "$f" 2>/dev/null || true; } | sed -n 's/.*(RUN\{0,1\}PATH).*\[\(.*\)\]/\1/p')
  IFS=: read -r -a entries <<<"$runpath"
  for entry in "${entries[@]}"; do
    [ -n "$entry" ] || continue
    place=$(realpath -m "${entry//\$ORIGIN/$(dirname "$f")}")
    case "$place/" in "$tree"/*) ;; *) fail "${f#"$tree"/} has run path $entry, outside the build tree" ;; esac
  done
done < <(find "$tree" -maxdepth 3 -path "$tree/CMakeFiles" -prune -o -type f \( -perm -u+x -o -name '*.so*' \) -print0)
cache=$(sed -n 's/^GUIDE_DEPS_CACHE_DIR:PATH=//p' "$build/CMakeCache.txt")
if [ -d "$cache" ] && unshare --mount --propagation private true 2>/dev/null; then
  step "the build tree's guide-sim flies with the machine cache $cache hidden"
  unshare --mount --propagation private sh -c 'mount -t tmpfs none "$1" && shift && exec "$@"' \
    sh "$cache" env HOME="$tmp" "$build/guide-sim" --no-plot -o "$tmp/sim" typical >"$tmp/sim.log" 2>&1 ||
    { cat "$tmp/sim.log"; fail "guide-sim of the build tree failed without the machine cache"; }
fi

step "cmake --install into $prefix"
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" || { cat "$tmp/install.log"; fail "install failed"; }
for f in include/guidew/GuideW.h include/guidew/GuideW_types.h include/guidew/GuideW_instance.h \
         include/guidew/Guide.h bin/guide-run bin/guide-sim bin/guide-step bin/plot_trajectory.py \
         bin/plot_engagement.py bin/guide-campaign include/guidew/guide_sim_api.h \
         share/guidew/GuideW.fmu share/guidew/GuideW-fmi3.fmu; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done
pc=$(find "$prefix" -name guidew.pc)
config=$(find "$prefix" -name GuideWConfig.cmake)
[ -n "$pc" ] && [ -n "$config" ] || fail "guidew.pc or GuideWConfig.cmake not installed"
[ -e "$(dirname "$config")/GuideWConfigVersion.cmake" ] || fail "GuideWConfigVersion.cmake not installed"

step "C++ host through find_package(GuideW)"
cmake -S "$host_src" -B "$tmp/host" -DCMAKE_PREFIX_PATH="$prefix" >"$tmp/host.log" 2>&1 &&
  cmake --build "$tmp/host" >>"$tmp/host.log" 2>&1 || { cat "$tmp/host.log"; fail "C++ host does not build"; }
"$tmp/host/cpp_host" || fail "C++ host failed"

step "C host through pkg-config"
export PKG_CONFIG_PATH=$(dirname "$pc")
read -r -a flags <<<"$(pkg-config --cflags --libs guidew)"
"${CC:-cc}" -std=c11 -Wall -Wextra -Wpedantic -Werror "$host_src/c_host.c" "${flags[@]}" \
  -o "$tmp/c_host" || fail "C host does not build with: ${flags[*]}"
LD_LIBRARY_PATH=$(pkg-config --variable=libdir guidew) "$tmp/c_host" || fail "C host failed"

step "installed guide-step finds the installed library"
"$prefix/bin/guide-step" | tee "$tmp/step.out"
grep -Eq '^lat_cmd +150$' "$tmp/step.out" || fail "guide-step did not give lat_cmd 150"
step "installed Python package finds the installed library"
site=$(dirname "$(find "$prefix" -path '*/dist-packages/guidew/__init__.py')")/..
[ -e "$site/guidew/py.typed" ] || fail "guidew/py.typed not installed"
(cd "$tmp" && env -u GUIDEW_LIBRARY -u GUIDE_BUILD_DIR PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 \
   /usr/bin/python3 -c '
import os, sys
import guidew
with guidew.Instance() as m:
    assert m.step(guidew.TYPICAL_FLIGHT) == guidew.TYPICAL_COMMANDS, m.outputs
prefix = os.path.realpath(sys.argv[1])
assert os.path.realpath(guidew.load().path).startswith(prefix + "/"), guidew.load().path
' "$prefix") || fail "installed Python package failed"

step "installed guide-campaign flies a campaign with the installed simulator"
# A built-in flight with events, from a folder outside the source tree, and
# nothing pointing at a library but the installation itself.
printf '[campaign]\nsamples = 3\nseed = 1\n[scenario]\nbuiltin = "passthrough"\n[dispersions]\n"events[0].t_s" = { uniform = [1, 5] }\n' \
  >"$tmp/events.toml"
(cd "$tmp" && env -u GUIDESIM_LIBRARY -u GUIDEW_LIBRARY -u GUIDE_BUILD_DIR -u PYTHONPATH PYTHONDONTWRITEBYTECODE=1 \
   "$prefix/bin/guide-campaign" events.toml -o "$tmp/campaign" --workers 1 --quiet --no-pictures \
   >"$tmp/campaign.log" 2>&1) || { cat "$tmp/campaign.log"; fail "installed guide-campaign failed"; }
grep -q '"status": "complete"' "$tmp/campaign/campaign.json" || fail "the campaign is not marked complete"
[ "$(wc -l <"$tmp/campaign/flights.csv")" -eq 4 ] || fail "flights.csv does not hold 3 flights"
(cd "$tmp" && env -u GUIDESIM_LIBRARY -u GUIDEW_LIBRARY -u GUIDE_BUILD_DIR PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 \
   /usr/bin/python3 -c '
import guidew.campaign as gc
assert gc.fly("typical", {"duration_s": 1})["name"] == "typical"
') || fail "guidew.campaign.fly of the installed package failed"
step "installed guide-sim writes a flight's replays through the installed package"
(cd "$tmp" && env -u GUIDEW_LIBRARY -u PYTHONPATH PYTHONDONTWRITEBYTECODE=1 \
   "$prefix/bin/guide-sim" --no-plot --replay -o "$tmp/fly" typical >"$tmp/fly.log" 2>&1) ||
  { cat "$tmp/fly.log"; fail "installed guide-sim --replay failed"; }
grep -q "^FileVersion=2.2" "$tmp/fly/typical.acmi" || fail "no ACMI file written"
grep -q "THREE.OrbitControls" "$tmp/fly/typical.html" || fail "the replay page lacks its viewer"
echo "install_test: all passed"
