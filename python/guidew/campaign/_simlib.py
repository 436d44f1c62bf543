"""libguidesim.so through ctypes: one scenario flown per call, in-process."""

from __future__ import annotations

import ctypes
import json
import os
import threading
from typing import Dict, Iterator, List, Optional, Tuple, cast

from ._types import BuiltinScenario, FlightResult

SIM_LIBRARY_ENV = "GUIDESIM_LIBRARY"
SIM_LIBRARY_NAME = "libguidesim.so"

_PACKAGE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class SimulatorError(Exception):
    """The simulator library refused a scenario or could not be loaded."""

    __module__ = "guidew.campaign"


def _candidates() -> Iterator[Tuple[str, str]]:
    """(place, path or name) of each library to try, in order."""
    env = os.environ.get(SIM_LIBRARY_ENV)
    if env:
        yield SIM_LIBRARY_ENV, env
        return
    yield "next to the package", os.path.join(_PACKAGE_DIR, SIM_LIBRARY_NAME)
    yield "source tree build", os.path.normpath(
        os.path.join(_PACKAGE_DIR, "..", "..", "build", SIM_LIBRARY_NAME))
    yield "system loader", SIM_LIBRARY_NAME


def library_path() -> str:
    """The path of the simulator library this process would load."""
    tried = []
    for place, path in _candidates():
        if os.sep not in path or os.path.exists(path):
            return path
        tried.append("  %s: %s (no such file)" % (place, path))
    raise SimulatorError("libguidesim.so not found; looked at:\n" + "\n".join(tried) +
                         "\nSet %s=/path/to/libguidesim.so." % SIM_LIBRARY_ENV)


_lib: Optional[ctypes.CDLL] = None
_lock = threading.Lock()


def _library() -> ctypes.CDLL:
    """The simulator library, loaded once per process."""
    global _lib
    with _lock:
        if _lib is None:
            path = library_path()
            try:
                lib = ctypes.CDLL(path)
            except OSError as exc:
                raise SimulatorError("cannot load %s: %s" % (path, exc)) from None
            lib.guide_sim_fly.restype = ctypes.c_int
            lib.guide_sim_fly.argtypes = (ctypes.c_char_p, ctypes.c_char_p, ctypes.c_double,
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
    if not result.value:
        raise SimulatorError("the simulator returned nothing (out of memory?)")
    answer = _take_text(lib, result.value)
    if status != 0:
        raise SimulatorError(answer)
    return cast(FlightResult, json.loads(answer))


def builtin_scenarios() -> List[BuiltinScenario]:
    """The built-in scenarios as a list of {"name", "description"}."""
    lib = _library()
    return cast(List[BuiltinScenario], json.loads(_take_text(lib, lib.guide_sim_builtin_list())))
