"""Finding and loading libGuide.so, and the prototypes of its entry points."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sysconfig
import threading
from typing import Any, Callable, Dict, Iterable, Iterator, List, Optional, Tuple, Type, TypeVar, Union

LIBRARY_ENV = "GUIDEW_LIBRARY"
LIBRARY_NAME = "libGuide.so"
# The build folder the project's scripts use when it is not <source>/build.
BUILD_DIR_ENV = "GUIDE_BUILD_DIR"

# The package's own folder: a package may carry its library here (a copy
# placed before building a wheel, or a link made by hand).
PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))

# How many folders above the package an installation prefix may lie:
# <prefix>/local/lib/python3.11/dist-packages/guidew (Debian's pip --prefix)
# is the deepest layout.
_PREFIX_DEPTH = 5

PathLike = Union[str, "os.PathLike[str]"]
# (place, path or name or None, reason when it was not loaded)
Attempt = Tuple[str, Optional[str], Optional[str]]


class GuideWError(Exception):
    """Base of the errors this package raises of its own."""

    __module__ = "guidew"


class LibraryNotFoundError(GuideWError, OSError):
    """libGuide.so could not be loaded from any of the places looked at.

    ``tried`` holds (place, path or name or None, reason) for each of them.
    """

    __module__ = "guidew"

    def __init__(self, tried: Iterable[Attempt]) -> None:
        self.tried: List[Attempt] = list(tried)
        lines = ["libGuide.so could not be loaded; looked at:"]
        for place, where, reason in self.tried:
            lines.append("  %s: %s" % (place, reason if where is None
                                       else "%s (%s)" % (where, reason)))
        if len(self.tried) == 1:
            lines.append("A library named by the path argument or by %s is the "
                         "only one tried." % LIBRARY_ENV)
        lines.append("Set %s=/path/to/%s or pass the path to guidew.load() "
                     "(or the library= argument)." % (LIBRARY_ENV, LIBRARY_NAME))
        super().__init__("\n".join(lines))


def _library_dirs(base: str) -> Iterator[str]:
    """Where an installation under prefix ``base`` keeps its libraries."""
    multiarch = sysconfig.get_config_var("MULTIARCH")
    yield os.path.join(base, "lib")
    if multiarch:
        yield os.path.join(base, "lib", multiarch)
    yield os.path.join(base, "lib64")


def _prefix_candidates() -> Iterator[str]:
    """libGuide.so of an installation prefix above the package, nearest
    first: `cmake --install --prefix P` puts the library in P/lib and the
    package in P/lib/python3/dist-packages; `pip install --prefix P` puts
    the package in P/lib/python3.X/site-packages (P/local/lib/... on Debian)."""
    folder = PACKAGE_DIR
    for _ in range(_PREFIX_DEPTH):
        folder = os.path.dirname(folder)
        for lib_dir in _library_dirs(folder):
            candidate = os.path.join(lib_dir, LIBRARY_NAME)
            if os.path.exists(candidate):
                yield candidate


def _source_tree_build() -> Optional[str]:
    """The build of the source tree the package sits in, if it does: the
    folder named by GUIDE_BUILD_DIR, else <source>/build."""
    root = os.path.dirname(os.path.dirname(PACKAGE_DIR))
    if not os.path.exists(os.path.join(root, "python", "pyproject.toml")):
        return None
    build = os.environ.get(BUILD_DIR_ENV) or os.path.join(root, "build")
    return os.path.join(os.path.abspath(build), LIBRARY_NAME)


def _search_places(path: Optional[PathLike]) -> Iterator[Attempt]:
    """Yields (place, candidate or None, reason when there is no candidate)."""
    if path is not None:
        yield "path argument", os.fspath(path), None
        return
    env = os.environ.get(LIBRARY_ENV)
    if env:
        yield LIBRARY_ENV, env, None
        return
    yield LIBRARY_ENV, None, "not set"
    yield "next to the package", os.path.join(PACKAGE_DIR, LIBRARY_NAME), None
    found_in_prefix = False
    for candidate in _prefix_candidates():
        found_in_prefix = True
        yield "installation prefix", candidate, None
    if not found_in_prefix:
        yield ("installation prefix", None, "no lib/%s within %d folders above %s"
               % (LIBRARY_NAME, _PREFIX_DEPTH, PACKAGE_DIR))
    build = _source_tree_build()
    if build is None:
        yield "source tree build", None, "the package is not in its source tree"
    else:
        yield "source tree build (%s or <source>/build)" % BUILD_DIR_ENV, build, None
    found = ctypes.util.find_library("Guide")
    yield ("system loader", found,
           None if found else 'ctypes.util.find_library("Guide") found nothing')


def find_and_load(path: Optional[PathLike] = None) -> Tuple[str, ctypes.CDLL]:
    """The first loadable library as (path, CDLL).

    A path given as argument or in GUIDEW_LIBRARY is the only place looked
    at: naming a library and silently getting another build is worse than
    an error.
    """
    tried: List[Attempt] = []
    for place, candidate, reason in _search_places(path):
        if candidate is None:
            tried.append((place, None, reason))
            continue
        is_file_path = os.sep in candidate
        if is_file_path and not os.path.exists(candidate):
            tried.append((place, candidate, "no such file"))
            continue
        try:
            return candidate, ctypes.CDLL(candidate)
        except OSError as exc:
            tried.append((place, candidate, str(exc)))
    raise LibraryNotFoundError(tried)


_double_p = ctypes.c_void_p
_handle = ctypes.c_void_p

# name: (restype, argtypes)
_PROTOTYPES: Dict[str, Tuple[Any, Tuple[Any, ...]]] = {
    "_Z17GuideW_initializev": (None, ()),
    "_Z11GuideW_stepv": (None, ()),
    "_Z16GuideW_terminatev": (None, ()),
    "Guide_Control": (None, (_double_p,)),
    "Guide_OneStep": (None, (_double_p,)),
    "Guide_GetOutput": (None, (_double_p,)),
    "GuideW_instance_create": (_handle, ()),
    "GuideW_instance_destroy": (None, (_handle,)),
    "GuideW_instance_initialize": (None, (_handle,)),
    "GuideW_instance_step": (None, (_handle,)),
    "GuideW_instance_one_step": (None, (_handle, _double_p, _double_p)),
    "GuideW_instance_inputs": (ctypes.c_void_p, (_handle,)),
    "GuideW_instance_outputs": (ctypes.c_void_p, (_handle,)),
    "GuideW_instance_params": (ctypes.c_void_p, (_handle,)),
    "GuideW_instance_states": (ctypes.c_void_p, (_handle,)),
    "GuideW_instance_error_status": (ctypes.c_char_p, (_handle,)),
    "GuideW_step_batch": (ctypes.c_int, (ctypes.c_void_p, ctypes.c_size_t,
                                         _double_p, _double_p, ctypes.c_uint)),
    "GuideW_default_params": (None, (ctypes.c_void_p,)),
}

_Struct = TypeVar("_Struct", bound=ctypes.Structure)
# A C function as ctypes calls it: pointers go in as ints, ctypes objects or
# byref()s, and come back as ints (or None for NULL).
_CFunction = Callable[..., Any]


class Library:
    """A loaded libGuide.so with typed entry points.

    Attributes are named after the exported symbols, the C++ ones by their
    plain names (``initialize``, ``step``, ``terminate``); each is a ctypes
    function with its argument and result types set.
    """

    initialize: _CFunction
    step: _CFunction
    terminate: _CFunction
    Guide_Control: _CFunction
    Guide_OneStep: _CFunction
    Guide_GetOutput: _CFunction
    GuideW_instance_create: _CFunction
    GuideW_instance_destroy: _CFunction
    GuideW_instance_initialize: _CFunction
    GuideW_instance_step: _CFunction
    GuideW_instance_one_step: _CFunction
    GuideW_instance_inputs: _CFunction
    GuideW_instance_outputs: _CFunction
    GuideW_instance_params: _CFunction
    GuideW_instance_states: _CFunction
    GuideW_instance_error_status: _CFunction
    GuideW_step_batch: _CFunction
    GuideW_default_params: _CFunction

    def __init__(self, path: str, cdll: ctypes.CDLL) -> None:
        self.path = path
        self.cdll = cdll
        for symbol, (restype, argtypes) in _PROTOTYPES.items():
            try:
                fn = getattr(cdll, symbol)
            except AttributeError:
                raise GuideWError("%s does not export %s: a library older than "
                                  "this package?" % (path, symbol)) from None
            fn.restype = restype
            fn.argtypes = argtypes
            setattr(self, symbol, fn)
        self.initialize = getattr(self, "_Z17GuideW_initializev")
        self.step = getattr(self, "_Z11GuideW_stepv")
        self.terminate = getattr(self, "_Z16GuideW_terminatev")

    def record(self, struct_type: Type[_Struct], symbol: str) -> _Struct:
        """An exported record of the static model, in place."""
        return struct_type.in_dll(self.cdll, symbol)

    def __repr__(self) -> str:
        return "<guidew.Library %s>" % self.path


_loaded: Dict[str, Library] = {}
_default: Optional[Library] = None
_lock = threading.Lock()


def load(path: Union[PathLike, Library, None] = None) -> Library:
    """The library, loaded once per file.

    Looked for, in order: ``path``; the environment variable GUIDEW_LIBRARY;
    libGuide.so in the package's folder; lib/ (or lib64/, lib/<multiarch>/)
    of an installation prefix up to five folders above the package; when
    the package sits in its source tree, $GUIDE_BUILD_DIR/libGuide.so or
    else <source>/build/libGuide.so; the system loader
    (ctypes.util.find_library). The library found without a path is kept
    for later calls without one. Raises LibraryNotFoundError, listing every
    place looked at.
    """
    global _default
    if isinstance(path, Library):
        return path
    with _lock:
        if path is None and _default is not None:
            return _default
        found, cdll = find_and_load(path)
        key = os.path.realpath(found) if os.sep in found else found
        if key not in _loaded:
            _loaded[key] = Library(found, cdll)
        if path is None:
            _default = _loaded[key]
        return _loaded[key]
