"""libguidesim.so through ctypes: one scenario flown per call, in-process."""

from __future__ import annotations

import ctypes
import ctypes.util
import json
import os
import threading
from typing import Dict, Iterator, List, Optional, Tuple, cast

from .. import _library as _guidew_library
from ._types import BuiltinScenario, FlightResult

SIM_LIBRARY_ENV = "GUIDESIM_LIBRARY"
SIM_LIBRARY_NAME = "libguidesim.so"

_PACKAGE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class SimulatorError(Exception):
    """The simulator library refused a scenario or could not be loaded."""

    __module__ = "guidew.campaign"


class SimulatorLibraryError(SimulatorError):
    """The simulator library could not be found or loaded (not a scenario
    refused): no flight can be flown in this process."""

    __module__ = "guidew.campaign"


def _candidates() -> Iterator[Tuple[str, Optional[str], str]]:
    """(place, path or None, why there is none) of each library to try, in
    order: the places libGuide.so is looked for, as the two are installed
    side by side."""
    env = os.environ.get(SIM_LIBRARY_ENV)
    if env:
        yield SIM_LIBRARY_ENV, env, ""
        return
    yield SIM_LIBRARY_ENV, None, "not set"
    yield "next to the package", os.path.join(_PACKAGE_DIR, SIM_LIBRARY_NAME), ""
    found = False
    folder = _PACKAGE_DIR
    for _ in range(_guidew_library._PREFIX_DEPTH):
        folder = os.path.dirname(folder)
        for lib_dir in _guidew_library._library_dirs(folder):
            candidate = os.path.join(lib_dir, SIM_LIBRARY_NAME)
            if os.path.exists(candidate):
                found = True
                yield "installation prefix", candidate, ""
    if not found:
        yield ("installation prefix", None, "no lib/%s within %d folders above %s"
               % (SIM_LIBRARY_NAME, _guidew_library._PREFIX_DEPTH, _PACKAGE_DIR))
    root = os.path.dirname(_PACKAGE_DIR)
    if os.path.exists(os.path.join(root, "pyproject.toml")):
        build = os.environ.get(_guidew_library.BUILD_DIR_ENV) or os.path.join(os.path.dirname(root), "build")
        yield "source tree build", os.path.join(os.path.abspath(build), SIM_LIBRARY_NAME), ""
    system = ctypes.util.find_library("guidesim")
    yield "system loader", system, "" if system else 'ctypes.util.find_library("guidesim") found nothing'


def _not_found(tried: List[str]) -> SimulatorLibraryError:
    """The error of a library found nowhere: where it was looked for and
    what to set."""
    return SimulatorLibraryError("%s could not be loaded; looked at: %s. Set %s=/path/to/%s"
                          % (SIM_LIBRARY_NAME, "; ".join(tried), SIM_LIBRARY_ENV, SIM_LIBRARY_NAME))


def library_path() -> str:
    """The path of the simulator library this process would load."""
    tried = []
    for place, path, reason in _candidates():
        if path is not None and (os.sep not in path or os.path.exists(path)):
            return path
        tried.append("%s: %s" % (place, reason or "%s (no such file)" % path))
    raise _not_found(tried)


_lib: Optional[ctypes.CDLL] = None
_lock = threading.Lock()


def _open() -> ctypes.CDLL:
    """The first library of the candidates that loads."""
    tried = []
    for place, path, reason in _candidates():
        if path is None:
            tried.append("%s: %s" % (place, reason))
            continue
        if os.sep in path and not os.path.exists(path):
            tried.append("%s: %s (no such file)" % (place, path))
            continue
        try:
            return ctypes.CDLL(path)
        except OSError as exc:
            tried.append("%s: %s (%s)" % (place, path, exc))
    raise _not_found(tried)


def _library() -> ctypes.CDLL:
    """The simulator library, loaded once per process."""
    global _lib
    with _lock:
        if _lib is None:
            lib = _open()
            lib.guide_sim_fly.restype = ctypes.c_int
            lib.guide_sim_fly.argtypes = (ctypes.c_char_p, ctypes.c_char_p, ctypes.c_double,
                                          ctypes.POINTER(ctypes.c_void_p))
            lib.guide_sim_check.restype = ctypes.c_int
            lib.guide_sim_check.argtypes = (ctypes.c_char_p, ctypes.c_char_p,
                                            ctypes.POINTER(ctypes.c_void_p))
            lib.guide_sim_builtin_list.restype = ctypes.c_void_p
            lib.guide_sim_builtin_list.argtypes = ()
            lib.guide_sim_free.restype = None
            lib.guide_sim_free.argtypes = (ctypes.c_void_p,)
            _lib = lib
        return _lib


def _take_text(lib: ctypes.CDLL, pointer: int) -> str:
    """The text the library returned at pointer, which is then released."""
    try:
        return ctypes.string_at(pointer).decode("utf-8")
    finally:
        lib.guide_sim_free(pointer)


def _answer(lib: ctypes.CDLL, status: int, result: ctypes.c_void_p) -> FlightResult:
    """The simulator's answer to a call: its result, or its refusal raised."""
    if not result.value:
        raise SimulatorError("the simulator returned nothing (out of memory?)")
    answer = _take_text(lib, result.value)
    if status != 0:
        raise SimulatorError(answer)
    return cast(FlightResult, json.loads(answer))


def fly(scenario: str, overrides: Optional[Dict[str, object]] = None,
        path_interval_s: float = 0.0) -> FlightResult:
    """Flies one scenario; returns the simulator's result (a FlightResult):
    {"name", "scenario" (as flown), "metrics": {NAME: value or None},
    "checks": [{"check", "passed", "failure"}, ...], "passed", and "path":
    [[t_s, north_m, east_m, altitude_m], ...] when path_interval_s > 0}.

    scenario is a built-in name or the JSON text of one scenario; overrides
    maps field paths ("initial.altitude_m", "params.roll_kp") to values.
    Raises SimulatorError with the simulator's message when it refuses.
    """
    lib = _library()
    result = ctypes.c_void_p()
    text = None if overrides is None else json.dumps(overrides).encode("utf-8")
    status = lib.guide_sim_fly(scenario.encode("utf-8"), text, float(path_interval_s),
                               ctypes.byref(result))
    return _answer(lib, status, result)


def check(scenario: str, overrides: Optional[Dict[str, object]] = None) -> FlightResult:
    """Checks a scenario as fly would fly it, with its own duration, without
    flying it: returns what fly returns (the figures meaningless, the
    metrics and checks named); raises SimulatorError as fly does."""
    lib = _library()
    result = ctypes.c_void_p()
    text = None if overrides is None else json.dumps(overrides).encode("utf-8")
    status = lib.guide_sim_check(scenario.encode("utf-8"), text, ctypes.byref(result))
    return _answer(lib, status, result)


def builtin_scenarios() -> List[BuiltinScenario]:
    """The built-in scenarios as a list of {"name", "description"}."""
    lib = _library()
    return cast(List[BuiltinScenario], json.loads(_take_text(lib, lib.guide_sim_builtin_list())))
