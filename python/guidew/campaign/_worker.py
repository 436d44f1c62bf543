"""What a worker runs: a task is a run of consecutive flights, flown one
after the other in the worker's process through the simulator library."""

from . import _draws, _simlib


def flight_overrides(plan, index):
    """The overrides flight index flies with, and its dispersed values."""
    values = _draws.draw(plan, index)
    overrides = dict(plan["base"])
    overrides.update(values)
    return overrides, values


def fly_flight(plan, index, path_interval_s=0.0):
    """One flight as a table row; a scenario the simulator refuses (a drawn
    value out of its range) is a row with the refusal as its error."""
    overrides, values = flight_overrides(plan, index)
    row = {"index": index, "values": values}
    try:
        result = _simlib.fly(plan["scenario"], overrides, path_interval_s)
    except _simlib.SimulatorError as exc:
        row.update(metrics={}, checks={}, passed=False, failure="refused: %s" % exc, error=True)
        return row, None
    row.update(metrics=result["metrics"],
               checks={c["check"]: c["passed"] for c in result["checks"]},
               passed=result["passed"],
               failure="; ".join(c["failure"] for c in result["checks"] if not c["passed"]),
               error=False)
    return row, result


def fly_task(plan, first, count):
    """Rows of flights first .. first + count - 1."""
    return [fly_flight(plan, index)[0] for index in range(first, first + count)]
