"""What a worker runs: a task is a run of consecutive flights, flown one
after the other in the worker's process through the simulator library."""

from __future__ import annotations

from typing import Dict, List, Optional, Tuple

from . import _draws, _simlib
from ._config import PARAMS_FILE
from ._types import FlightResult, FlightRow, Overrides, Plan, Value


def flight_overrides(plan: Plan, index: int) -> Tuple[Overrides, Dict[str, Value]]:
    """The overrides flight index flies with, and its dispersed values."""
    values = _draws.draw(plan, index)
    overrides: Overrides = dict(plan["base"])
    # The drawn parameter file's values first, so that params.* dispersions
    # of single parameters vary on top of the file's set.
    if PARAMS_FILE in values:
        overrides.update(plan.get("param_files", {})[str(values[PARAMS_FILE])])
    overrides.update((k, v) for k, v in values.items() if k != PARAMS_FILE)
    return overrides, values


def fly_again(plan: Plan, index: int, name: str, path_interval_s: float) -> Optional[FlightResult]:
    """Flight index flown again under name with its path sampled every
    path_interval_s (the flights the report lists); None where the
    simulator refuses it."""
    overrides, _ = flight_overrides(plan, index)
    overrides["name"] = name
    try:
        return _simlib.fly(plan["scenario"], overrides, path_interval_s)
    except _simlib.SimulatorError:
        return None


def fly_flight(
    plan: Plan, index: int, path_interval_s: float = 0.0
) -> Tuple[FlightRow, Optional[FlightResult]]:
    """One flight as a table row; a scenario the simulator refuses (a drawn
    value out of its range) is a row with the refusal as its error."""
    overrides, values = flight_overrides(plan, index)
    try:
        result = _simlib.fly(plan["scenario"], overrides, path_interval_s)
    except _simlib.SimulatorLibraryError:
        raise  # no flight can be flown here: the campaign stops
    except _simlib.SimulatorError as exc:
        refused: FlightRow = {
            "index": index,
            "values": values,
            "metrics": {},
            "checks": {},
            "passed": False,
            "failure": "refused: %s" % exc,
            "error": True,
        }
        return refused, None
    row: FlightRow = {
        "index": index,
        "values": values,
        "metrics": result["metrics"],
        "checks": {c["check"]: c["passed"] for c in result["checks"]},
        "passed": result["passed"],
        "failure": "; ".join(c["failure"] for c in result["checks"] if not c["passed"]),
        "error": False,
    }
    return row, result


def fly_task(plan: Plan, first: int, count: int) -> List[FlightRow]:
    """Rows of flights first .. first + count - 1."""
    return [fly_flight(plan, index)[0] for index in range(first, first + count)]


def the_plan(plan: Plan) -> Plan:
    """The plan, as a task's result: sent to the cluster once, each flight
    task takes it as its argument instead of carrying a copy."""
    return plan
