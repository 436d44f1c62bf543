"""Finding and loading libGuide.so, and the prototypes of its entry points."""

import ctypes
import ctypes.util
import os
import threading

LIBRARY_ENV = "GUIDEW_LIBRARY"
LIBRARY_NAME = "libGuide.so"

# The package's own folder: an installed package finds the library here
# (a copy, or a link the installation makes to the installed library).
PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))


class GuideWError(Exception):
    """Base of the errors this package raises of its own."""

    __module__ = "guidew"


class LibraryNotFoundError(GuideWError, OSError):
    """libGuide.so could not be loaded from any of the places looked at.

    ``tried`` holds (place, path or name or None, reason) for each of them.
    """

    __module__ = "guidew"

    def __init__(self, tried):
        self.tried = list(tried)
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


def _search_places(path):
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
    yield ("source tree build",
           os.path.normpath(os.path.join(PACKAGE_DIR, "..", "..", "build", LIBRARY_NAME)),
           None)
    found = ctypes.util.find_library("Guide")
    yield ("system loader", found,
           None if found else 'ctypes.util.find_library("Guide") found nothing')


def find_and_load(path=None):
    """The first loadable library as (path, CDLL).

    A path given as argument or in GUIDEW_LIBRARY is the only place looked
    at: naming a library and silently getting another build is worse than
    an error.
    """
    tried = []
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
_PROTOTYPES = {
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


class Library:
    """A loaded libGuide.so with typed entry points (attributes named after
    the symbols, the C++ ones by their plain names: ``initialize``, ``step``,
    ``terminate``)."""

    def __init__(self, path, cdll):
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
        self.initialize = self._Z17GuideW_initializev
        self.step = self._Z11GuideW_stepv
        self.terminate = self._Z16GuideW_terminatev

    def record(self, struct_type, symbol):
        """An exported record of the static model, in place."""
        return struct_type.in_dll(self.cdll, symbol)

    def __repr__(self):
        return "<guidew.Library %s>" % self.path


_loaded = {}
_default = None
_lock = threading.Lock()


def load(path=None):
    """The library, loaded once per file.

    Looked for, in order: ``path``; the environment variable GUIDEW_LIBRARY;
    libGuide.so in the package's folder; build/libGuide.so of the source
    tree the package sits in; the system loader (ctypes.util.find_library).
    The library found without a path is kept for later calls without one.
    Raises LibraryNotFoundError, listing every place looked at.
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
