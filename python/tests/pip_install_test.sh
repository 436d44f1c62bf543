#!/usr/bin/env bash
# Installs the package as docs/python.md tells a user to: from a fresh copy
# of the source tree (what a clone holds), `pip install ./python` into a
# fresh venv of Debian's interpreter, with no package index. The venv's
# package must then work from outside the source tree with no variable set:
# the wheel carries libGuide.so, libguidesim.so and libJSBSim.so.1, which
# find each other through $ORIGIN alone.
#   usage: pip_install_test.sh SOURCE_DIR JSBSIM_SOURCE_DIR PROJECT_VERSION
# The machine's JSBSim build (GUIDE_DEPS_CACHE_DIR) and ccache are reused;
# ccache hits across copies through CCACHE_BASEDIR.
set -euo pipefail
src=$1
jsbsim=$2
version=$3
tmp=$(mktemp -d "${TMPDIR:-/tmp}/guidew-venv.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "pip_install_test: $*" >&2; exit 1; }
step() { echo "== $*"; }

step "a fresh copy of the tree in $tmp/clone"
mkdir "$tmp/clone"
(cd "$src" && git ls-files -co --exclude-standard -z | tar --null -T - -cf -) | tar -xf - -C "$tmp/clone"

step "/usr/bin/python3 -m venv, then pip install ./python with no index"
/usr/bin/python3 -m venv "$tmp/venv"
launcher=()
command -v ccache >/dev/null && launcher=(CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache)
(cd "$tmp/clone" && env -u GUIDE_BUILD_DIR "${launcher[@]}" CCACHE_BASEDIR="$tmp/clone" \
   JSBSIM_SOURCE_DIR="$jsbsim" PIP_NO_INDEX=1 PIP_NO_INPUT=1 PIP_DISABLE_PIP_VERSION_CHECK=1 \
   "$tmp/venv/bin/pip" install --no-cache-dir ./python >"$tmp/pip.log" 2>&1) ||
  { cat "$tmp/pip.log" "$tmp/clone/python/build/native/build.log" 2>/dev/null; fail "pip install failed"; }

step "the documented check, with no variable set"
clean=(env -u GUIDEW_LIBRARY -u GUIDESIM_LIBRARY -u GUIDE_BUILD_DIR -u PYTHONPATH -u LD_LIBRARY_PATH
       PYTHONDONTWRITEBYTECODE=1)
(cd "$tmp" && "${clean[@]}" "$tmp/venv/bin/python" -c "import guidew; guidew.Instance()") ||
  fail "import guidew; guidew.Instance() failed in the venv"

step "the venv's package, its libraries and one step of the typical flight"
(cd "$tmp" && "${clean[@]}" "$tmp/venv/bin/python" -c '
import ctypes, importlib.metadata, os, sys
import guidew
venv, version = sys.argv[1:]
folder = os.path.dirname(guidew.__file__)
assert folder.startswith(venv + "/"), guidew.__file__
assert guidew.__version__ == version == importlib.metadata.version("guidew"), guidew.__version__
assert os.path.exists(os.path.join(folder, "py.typed"))
with guidew.Instance() as m:
    assert m.step(guidew.TYPICAL_FLIGHT) == guidew.TYPICAL_COMMANDS, m.outputs
assert guidew.load().path == os.path.join(folder, "libGuide.so"), guidew.load().path
ctypes.CDLL(os.path.join(folder, "libguidesim.so"))  # with libJSBSim.so.1 beside it
' "$tmp/venv" "$version") || fail "the venv's package failed"
for lib in "$tmp"/venv/lib/python3*/site-packages/guidew/lib*.so*; do
  runpath=$(readelf -d "$lib" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [ -z "$runpath" ] || [ "$runpath" = '$ORIGIN' ] || fail "$lib has run path $runpath, not \$ORIGIN"
done
echo "pip_install_test: all passed"
