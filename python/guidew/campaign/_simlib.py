"""libguidesim.so through ctypes: one scenario flown per call, in-process."""

from __future__ import annotations

import ctypes
import json
import os
import threading
from typing import Dict, List, Optional, Tuple, cast

from .._errors import GuideWError, LibraryNotFoundError
from .._finder import NativeLibrary, find_and_load
from ._types import BuiltinScenario, FlightResult

SIM_LIBRARY_ENV = "GUIDESIM_LIBRARY"
SIM_LIBRARY_NAME = "libguidesim.so"


class SimulatorError(GuideWError):
    """The simulator library refused a scenario or could not be loaded."""

    __module__ = "guidew.campaign"


class SimulatorLibraryError(SimulatorError, LibraryNotFoundError):
    """The simulator library could not be found or loaded (not a scenario
    refused): no flight can be flown in this process."""

    __module__ = "guidew.campaign"


# Found by the rules libGuide.so is found by, as the two are installed side
# by side.
SIM_LIBRARY = NativeLibrary(
    file_name=SIM_LIBRARY_NAME,
    env=SIM_LIBRARY_ENV,
    loader_name="guidesim",
    also="",
    error=SimulatorLibraryError,
)

_lib: Optional[Tuple[str, ctypes.CDLL]] = None
_lock = threading.Lock()


def library_path() -> str:
    """The path (or, when the system loader found it, the name) of the
    simulator library this process loaded, loading it if it was not."""
    return _loaded()[0]


def _library() -> ctypes.CDLL:
    """The simulator library, loaded once per process."""
    return _loaded()[1]


def _loaded() -> Tuple[str, ctypes.CDLL]:
    """The simulator library and where it came from, loaded once per process."""
    global _lib
    with _lock:
        if _lib is None:
            path, lib = find_and_load(SIM_LIBRARY)
            lib.guide_sim_fly.restype = ctypes.c_int
            lib.guide_sim_fly.argtypes = (
                ctypes.c_char_p,
                ctypes.c_char_p,
                ctypes.c_double,
                ctypes.POINTER(ctypes.c_void_p),
            )
            lib.guide_sim_check.restype = ctypes.c_int
            lib.guide_sim_check.argtypes = (
                ctypes.c_char_p,
                ctypes.c_char_p,
                ctypes.POINTER(ctypes.c_void_p),
            )
            lib.guide_sim_builtin_list.restype = ctypes.c_void_p
            lib.guide_sim_builtin_list.argtypes = ()
            lib.guide_sim_free.restype = None
            lib.guide_sim_free.argtypes = (ctypes.c_void_p,)
            _lib = path, lib
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


def fly(
    scenario: str, overrides: Optional[Dict[str, object]] = None, path_interval_s: float = 0.0
) -> FlightResult:
    """Flies one scenario; returns the simulator's result (a FlightResult):
    {"name", "started", "scenario" (as flown), "metrics": {NAME: value or
    None}, "checks": [{"check", "passed", "failure"}, ...], "passed", and "path":
    [[t_s, north_m, east_m, altitude_m, track_deg, path_deg, bank_deg,
    alpha_deg, beta_deg], ...] when path_interval_s > 0}.

    scenario is a built-in name or the JSON text of one scenario; overrides
    maps field paths ("initial.altitude_m", "params.roll_kp") to values.
    Raises SimulatorError with the simulator's message when it refuses.
    """
    lib = _library()
    result = ctypes.c_void_p()
    text = None if overrides is None else json.dumps(overrides).encode("utf-8")
    status = lib.guide_sim_fly(
        scenario.encode("utf-8"), text, float(path_interval_s), ctypes.byref(result)
    )
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
