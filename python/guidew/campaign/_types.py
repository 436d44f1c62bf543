"""The shapes of a campaign's data as it travels: the plan a worker flies
from, the simulator's answer for one flight, a flight's row of the table,
and the summary. They are plain dicts (JSON and pickle carry them between
the driver and the workers unchanged); these types say what they hold."""

from __future__ import annotations

from typing import Dict, List, NotRequired, Optional, Tuple, TypedDict, Union

# A dispersed value: a number as the file gives it (whole numbers stay
# whole), true/false for a choice or grid of flags, or a name for a choice
# or grid of names (aircraft, parameter files).
Value = Union[bool, int, float, str]
# Scenario fields by path ("initial.altitude_m", "duration_s", "name"), as
# the simulator reads them: numbers, names, lists, whatever the field takes.
Overrides = Dict[str, object]
# A metric of one flight; None when the flight has no figure for it (a
# flight that never converged has no convergence time).
Metric = Optional[float]
# One cell of the flat table: the index, a dispersed value, a metric, a
# check's verdict, passed, or the failure text.
Cell = Union[bool, int, float, str, None]
# (flight index, its value of the metric), worst first.
Ranked = List[Tuple[int, Metric]]


class DispersionFields(TypedDict):
    """A Dispersion as the plan carries it (its fields, by name)."""

    path: str
    kind: str
    values: Tuple[Value, ...]
    low: float
    high: float
    mean: float
    sd: float


class Plan(TypedDict):
    """What a worker needs to fly any flight of a campaign: picklable, and
    what makes two runs the same campaign (its fingerprint)."""

    scenario: str
    base: Overrides
    dispersions: List[DispersionFields]
    samples: int
    seed: int
    # Each dispersed parameter file's assignments as params.NAME overrides,
    # by the name the campaign file gives it (only when params_file varies).
    param_files: NotRequired[Dict[str, Overrides]]


class CheckResult(TypedDict):
    """One check of one flown flight, by the name the simulator gives it
    (an expectation of the scenario, or one of its own: trim,
    finite_values, aircraft_fault, ground, load_limits, alpha_limit,
    opponent);
    failure is empty when it passed."""

    check: str
    passed: bool
    failure: str


class FlightResult(TypedDict):
    """The simulator's answer for one flight."""

    name: str
    # False: the aircraft could not be trimmed at the start ("trim" failed,
    # every metric None).
    started: bool
    scenario: Dict[str, object]  # the scenario as flown, guide-sim's JSON
    metrics: Dict[str, Metric]
    checks: List[CheckResult]
    passed: bool
    # [t_s, north_m, east_m, altitude_m, track_deg, path_deg, bank_deg,
    # alpha_deg, beta_deg] samples, when a path was asked for.
    path: NotRequired[List[List[float]]]
    # An engagement's target at the same times: [t_s, north_m, east_m,
    # altitude_m, track_deg, path_deg, bank_deg].
    target_path: NotRequired[List[List[float]]]


class BuiltinScenario(TypedDict):
    """A scenario the simulator carries, flown by its name."""

    name: str
    description: str


class FlightRow(TypedDict):
    """One flight in the task files and the table: its dispersed values,
    metrics and check verdicts; error marks a flight the simulator refused
    (its failure says why, and it has no metrics)."""

    index: int
    values: Dict[str, Value]
    metrics: Dict[str, Metric]
    checks: Dict[str, bool]
    passed: bool
    failure: str
    error: bool


class PassRate(TypedDict):
    """Flights that passed, their share and its 95 % Wilson interval."""

    passed: int
    rate: float
    ci95: Tuple[float, float]


class CheckSummary(PassRate):
    """A check's pass rate over the flights it judged."""

    flights: int


class MetricSummary(TypedDict):
    """A metric over the flights that have a figure for it; min, max and
    mean are None when none has. percentiles maps 5, 50, 95, 99 to values.
    never counts the flights that never got there within the flight (a
    convergence time): they count as infinite, beyond every figure, in the
    percentiles and max (mean and min are over the finite figures)."""

    flights: int
    missing: int
    never: int
    min: Metric
    max: Metric
    mean: Metric
    percentiles: Dict[int, Metric]


class Summary(TypedDict):
    """A campaign's statistics: all_checks is the share of flights whose
    every check held; worst lists, per ranked metric, the worst flights."""

    flights: int
    checks: Dict[str, CheckSummary]
    metrics: Dict[str, MetricSummary]
    worst: Dict[str, Ranked]
    all_checks: PassRate
    refused: int


class ResultFiles(TypedDict):
    """What a run wrote: the table (flights.csv), summary.txt, the
    scenario file of each worst and sampled flight by index, and, when
    asked for, the pictures and report.html."""

    table: str
    flights: Dict[int, str]
    summary: str
    pictures: NotRequired[List[str]]
    report: NotRequired[str]
    # The 3-D replay page of each listed (worst) flight, with the report.
    replays: NotRequired[Dict[int, str]]


# The flights whose scenario files were written: index -> (file, result).
Flown = Dict[int, Tuple[str, FlightResult]]
