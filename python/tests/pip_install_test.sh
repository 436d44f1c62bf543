#!/usr/bin/env bash
# Installs the package as a user does, with pip from its source folder into a
# scratch prefix (nothing fetched), and steps the typical flight with it from
# outside the source tree: once told where the library is (GUIDEW_LIBRARY),
# once finding it in the prefix where `cmake --install` puts it.
#   usage: pip_install_test.sh PACKAGE_SOURCE_DIR LIBRARY PROJECT_VERSION
set -euo pipefail
src=$1
library=$2
version=$3
python=/usr/bin/python3
tmp=$(mktemp -d "${TMPDIR:-/tmp}/guidew-pip.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "pip_install_test: $*" >&2; exit 1; }
step() { echo "== $*"; }

# pip builds in the folder it is given (build/, *.egg-info): a copy keeps the
# source tree as it was.
mkdir "$tmp/src"
(cd "$src" && tar --exclude=__pycache__ --exclude=build --exclude='*.egg-info' -cf - .) |
  tar -xf - -C "$tmp/src"

step "pip install --no-build-isolation --prefix $tmp/prefix"
PIP_NO_INPUT=1 PIP_DISABLE_PIP_VERSION_CHECK=1 "$python" -m pip install --no-build-isolation \
  --no-index --no-deps --no-cache-dir --prefix "$tmp/prefix" "$tmp/src" >"$tmp/pip.log" 2>&1 ||
  { cat "$tmp/pip.log"; fail "pip install failed"; }
init=$(find "$tmp/prefix" -path '*/guidew/__init__.py')
[ -n "$init" ] || fail "no guidew/__init__.py under $tmp/prefix"
site=$(dirname "$(dirname "$init")")
[ -e "$site/guidew/py.typed" ] || fail "py.typed not installed"

# Prints the library the installed package loaded, after checking where the
# package came from, its version and one step of the typical flight.
check='
import importlib.metadata, sys
import guidew
site, version = sys.argv[1:]
assert guidew.__file__.startswith(site + "/"), guidew.__file__
assert guidew.__version__ == version, guidew.__version__
assert importlib.metadata.version("guidew") == version
with guidew.Instance() as m:
    assert m.step(guidew.TYPICAL_FLIGHT) == guidew.TYPICAL_COMMANDS, m.outputs
print(guidew.load().path)
'
run() {
  (cd "$tmp" && env -u GUIDEW_LIBRARY -u GUIDE_BUILD_DIR PYTHONPATH="$site" PYTHONNOUSERSITE=1 \
     PYTHONDONTWRITEBYTECODE=1 "$@" "$python" -c "$check" "$site" "$version")
}

step "installed package told where the library is"
loaded=$(run GUIDEW_LIBRARY="$library") || fail "the installed package failed with GUIDEW_LIBRARY"
[ "$loaded" = "$library" ] || fail "loaded $loaded, not $library"

step "installed package finds the library in its prefix"
mkdir -p "$tmp/prefix/lib"
ln -s "$library" "$tmp/prefix/lib/libGuide.so"
loaded=$(run) || fail "the installed package did not find $tmp/prefix/lib/libGuide.so"
[ "$loaded" = "$tmp/prefix/lib/libGuide.so" ] || fail "loaded $loaded, not the prefix's library"
echo "pip_install_test: all passed"
