"""Loading libGuide.so, and the prototypes of its entry points."""

from __future__ import annotations

import ctypes
import os
import threading
from typing import Any, Callable, Dict, Optional, Tuple, Type, TypeVar, Union

from ._errors import GuideWError, LibraryNotFoundError
from ._finder import NativeLibrary, PathLike
from ._finder import find_and_load as _find_native

LIBRARY_ENV = "GUIDEW_LIBRARY"
LIBRARY_NAME = "libGuide.so"
GUIDE_LIBRARY = NativeLibrary(
    file_name=LIBRARY_NAME,
    env=LIBRARY_ENV,
    loader_name="Guide",
    also=" or pass the path to guidew.load() (or the library= argument)",
    error=LibraryNotFoundError,
)

__all__ = [
    "GUIDE_LIBRARY",
    "LIBRARY_ENV",
    "LIBRARY_NAME",
    "GuideWError",
    "Library",
    "LibraryArg",
    "LibraryNotFoundError",
    "PathLike",
    "find_and_load",
    "library_of",
    "load",
]


def find_and_load(path: Optional[PathLike] = None) -> Tuple[str, ctypes.CDLL]:
    """The first loadable libGuide.so as (path, CDLL), by the rules every
    native library of the project is found by (guidew._finder).

    A path given as argument or in GUIDEW_LIBRARY is the only place looked
    at: naming a library and silently getting another build is worse than
    an error.
    """
    return _find_native(GUIDE_LIBRARY, path)


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
    "GuideW_step_batch": (
        ctypes.c_int,
        (ctypes.c_void_p, ctypes.c_size_t, _double_p, _double_p, ctypes.c_uint),
    ),
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
                raise GuideWError(
                    "%s does not export %s: a library older than " "this package?" % (path, symbol)
                ) from None
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


# What the library= arguments take: a loaded Library, a path, or None for
# the library found by guidew.load().
LibraryArg = Union[Library, PathLike, None]


def library_of(library: LibraryArg) -> Library:
    """The Library a library= argument names."""
    return library if isinstance(library, Library) else load(library)
