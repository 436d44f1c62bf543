"""Finding a native library of the project (libGuide.so, libguidesim.so).

Both are looked for by the same rules, as they are built and installed side
by side: a path the caller gives, or else the library's environment
variable (either is then the only place tried: naming a library and
silently getting another build is worse than an error); the package's own
folder; lib/ (or lib64/, lib/<multiarch>/) of an installation prefix above
the package; the build of the source tree the package sits in
($GUIDE_BUILD_DIR, else <source>/build); the system loader.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sysconfig
from typing import Iterator, List, NamedTuple, Optional, Tuple, Type, Union

from ._errors import Attempt, LibraryNotFoundError

PathLike = Union[str, "os.PathLike[str]"]

# The build folder the project's scripts use when it is not <source>/build.
BUILD_DIR_ENV = "GUIDE_BUILD_DIR"

# The package's own folder: a package may carry its libraries here (a copy
# placed before building a wheel, or a link made by hand).
PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))

# How many folders above the package an installation prefix may lie:
# <prefix>/local/lib/python3.11/dist-packages/guidew (Debian's pip --prefix)
# is the deepest layout.
PREFIX_DEPTH = 5


class NativeLibrary(NamedTuple):
    """One of the project's native libraries and how a user points at it."""

    file_name: str  # libGuide.so
    env: str  # the variable naming its path: GUIDEW_LIBRARY
    loader_name: str  # what ctypes.util.find_library looks for: "Guide"
    also: str  # other ways to name it, for the error's last line
    error: Type[LibraryNotFoundError]  # raised when it is found nowhere


def _library_dirs(base: str) -> Iterator[str]:
    """Where an installation under prefix ``base`` keeps its libraries."""
    multiarch = sysconfig.get_config_var("MULTIARCH")
    yield os.path.join(base, "lib")
    if multiarch:
        yield os.path.join(base, "lib", multiarch)
    yield os.path.join(base, "lib64")


def _prefix_candidates(file_name: str) -> Iterator[str]:
    """The library of an installation prefix above the package, nearest
    first: `cmake --install --prefix P` puts the libraries in P/lib and the
    package in P/lib/python3/dist-packages; `pip install --prefix P` puts
    the package in P/lib/python3.X/site-packages (P/local/lib/... on Debian)."""
    folder = PACKAGE_DIR
    for _ in range(PREFIX_DEPTH):
        folder = os.path.dirname(folder)
        for lib_dir in _library_dirs(folder):
            candidate = os.path.join(lib_dir, file_name)
            if os.path.exists(candidate):
                yield candidate


def _source_tree_build(file_name: str) -> Optional[str]:
    """The library in the build of the source tree the package sits in, if
    it does: the folder named by GUIDE_BUILD_DIR, else <source>/build."""
    root = os.path.dirname(os.path.dirname(PACKAGE_DIR))
    if not os.path.exists(os.path.join(root, "python", "pyproject.toml")):
        return None
    build = os.environ.get(BUILD_DIR_ENV) or os.path.join(root, "build")
    return os.path.join(os.path.abspath(build), file_name)


def search_places(native: NativeLibrary, path: Optional[PathLike] = None) -> Iterator[Attempt]:
    """Yields (place, candidate or None, reason when there is no candidate),
    in the order they are tried."""
    if path is not None:
        yield "path argument", os.fspath(path), None
        return
    env = os.environ.get(native.env)
    if env:
        yield native.env, env, None
        return
    yield native.env, None, "not set"
    yield "next to the package", os.path.join(PACKAGE_DIR, native.file_name), None
    found_in_prefix = False
    for candidate in _prefix_candidates(native.file_name):
        found_in_prefix = True
        yield "installation prefix", candidate, None
    if not found_in_prefix:
        yield (
            "installation prefix",
            None,
            "no lib/%s within %d folders above %s" % (native.file_name, PREFIX_DEPTH, PACKAGE_DIR),
        )
    build = _source_tree_build(native.file_name)
    if build is None:
        yield "source tree build", None, "the package is not in its source tree"
    else:
        yield "source tree build (%s or <source>/build)" % BUILD_DIR_ENV, build, None
    found = ctypes.util.find_library(native.loader_name)
    yield (
        "system loader",
        found,
        None if found else 'ctypes.util.find_library("%s") found nothing' % native.loader_name,
    )


def not_found_message(native: NativeLibrary, tried: List[Attempt]) -> str:
    """Every place looked at, and what to set."""
    lines = ["%s could not be loaded; looked at:" % native.file_name]
    for place, where, reason in tried:
        lines.append("  %s: %s" % (place, reason if where is None else "%s (%s)" % (where, reason)))
    if len(tried) == 1:
        named = "the path argument or by %s" % native.env if native.also else native.env
        lines.append("A library named by %s is the only one tried." % named)
    lines.append("Set %s=/path/to/%s%s." % (native.env, native.file_name, native.also))
    return "\n".join(lines)


def find_and_load(
    native: NativeLibrary, path: Optional[PathLike] = None
) -> Tuple[str, ctypes.CDLL]:
    """The first of the places that loads, as (path or loader name, CDLL);
    raises native.error listing every place looked at."""
    tried: List[Attempt] = []
    for place, candidate, reason in search_places(native, path):
        if candidate is None:
            tried.append((place, None, reason))
            continue
        if os.sep in candidate and not os.path.exists(candidate):
            tried.append((place, candidate, "no such file"))
            continue
        try:
            return candidate, ctypes.CDLL(candidate)
        except OSError as exc:
            tried.append((place, candidate, str(exc)))
    raise native.error(not_found_message(native, tried), tried)
