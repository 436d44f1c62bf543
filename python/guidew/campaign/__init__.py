"""guidew.campaign: Monte Carlo dispersions and parameter sweeps of
closed-loop flights, on all local cores or on a Dask cluster.

    import guidew.campaign as gc
    result = gc.run("campaigns/example.toml", workers=2, out="out/example")
    print(result.summary_text)
    for row in result.table:           # one dict per flight
        ...
    gc.flight_scenario("campaigns/example.toml", 42)   # row 42, for guide-sim

The command line does the same: guide-campaign FILE [--workers N]
[--scheduler ADDRESS | --listen ADDRESS] [-o DIR] [--resume].

A campaign file (TOML); every mistake in one is reported (CampaignError)
at its file, line and key, before anything is flown:

    [campaign]
    name = "typical_dispersed"   # names the results; default: the file's name
    samples = 400                # random flights (per grid point with a grid)
    seed = 2026
    flights_per_task = 50        # optional; default from the flight count

    [scenario]
    builtin = "typical"          # or: file = "my_flight.json" (beside this file)
    duration_s = 30              # any scenario field overrides the base
    [scenario.initial]
    altitude_m = 3000

    [dispersions]                # any initial, input, parameter, expect or target field
    "initial.altitude_m" = { uniform = [2000, 5000] }
    "initial.speed_mps"  = { normal = { mean = 200, sd = 15, min = 150, max = 260 } }
    "params.roll_kp"     = { choice = [2, 3, 4] }
    "inputs.elev_cmd"    = { grid = [-30, -15, 0, 15, 30] }   # or { grid = { from, to, steps } }

    [report]
    checks = ["converge_within_s", "max_load_g"]   # default: every check
    metrics = ["converge_s", "peak_load_g"]        # default: every metric
    worst = 5                                      # worst flights listed per metric
    paths = 20                                     # sampled flights drawn in 3-D

A grid flies every combination of its values, samples random flights at
each. A flight's values depend on the seed, its index and the field only
(draw), so the results are the same whatever the workers, the cluster or
the order the tasks finish in. The results folder holds flights.csv (one row per flight),
summary.txt, pictures/, report.html, and flights/NAME_INDEX.json, the
scenario of each worst and sampled flight, which guide-sim flies again;
campaign.json says which campaign it holds and whether it is complete.
An engagement campaign that disperses target.angle_off_tail_deg and
target.range_m (campaigns/engagement.toml) also gets polar maps of the
time into the target's rear cone and of the pass rate over them.
"""

from __future__ import annotations

import contextlib
import json
import math
import os
from dataclasses import dataclass
from typing import Dict, Iterable, Iterator, List, Optional, Sequence, Union

from .._finder import PathLike
from . import _config, _execute, _folder, _replays, _results, _worker
from ._config import PARAMS_FILE, Campaign, CampaignError, Dispersion, SetupError
from ._draws import draw
from ._execute import Cluster, TaskDone
from ._folder import OutputError
from ._simlib import SimulatorError, SimulatorLibraryError, builtin_scenarios, check, fly
from ._types import Cell, Flown, Overrides, Value

# The shapes of the dicts the functions here take and return, for the type
# annotations of code that uses them (guidew.campaign.Summary, ...).
from ._types import BuiltinScenario as BuiltinScenario
from ._types import CheckResult as CheckResult
from ._types import CheckSummary as CheckSummary
from ._types import DispersionFields as DispersionFields
from ._types import FlightResult as FlightResult
from ._types import MetricSummary as MetricSummary
from ._types import PassRate as PassRate
from ._types import Plan as Plan
from ._types import ResultFiles as ResultFiles
from ._types import Summary as Summary

__all__ = [
    "run",
    "load",
    "validate",
    "flight_scenario",
    "Campaign",
    "CampaignError",
    "CampaignResult",
    "Cluster",
    "Dispersion",
    "OutputError",
    "SetupError",
    "SimulatorError",
    "SimulatorLibraryError",
    "builtin_scenarios",
    "check",
    "draw",
    "fly",
]

# Values of a long choice or grid beyond which only its extremes are checked:
# the simulator's limits are ranges, so the extremes decide.
_CHECK_EVERY_VALUE_UP_TO = 32
PATH_INTERVAL_S = 0.5
FLIGHTS_DIR = _folder.FLIGHTS_DIR

# What run and flight_scenario take: a campaign file's path or a loaded Campaign.
CampaignArg = Union[Campaign, PathLike]


def load(path: PathLike) -> Campaign:
    """Reads and checks a campaign file; raises CampaignError."""
    return _config.load(path)


@dataclass
class CampaignResult:
    """What run returns.

    campaign: the campaign as loaded; out_dir: the results folder.
    table: one dict per flight, the columns of flights.csv: "index", each
    dispersed field path, each metric, "check.NAME" (True/False, None where
    the check did not judge), "passed" and "failure" (empty, the failed
    checks, or why the simulator refused the flight).
    summary (a Summary): {"flights", "refused" (flights the simulator
    refused), "all_checks": {"passed", "rate", "ci95": (low, high)},
    "checks": {NAME: {"passed", "flights", "rate", "ci95"}},
    "metrics": {NAME: {"flights", "missing", "min", "max", "mean",
    "percentiles": {5, 50, 95, 99: value}}}, "worst": {METRIC: [(index,
    value), ...], worst first}}; ci95 is the 95 % Wilson interval of the
    rate, a value None where no flight has one. summary_text is it printed.
    files (a ResultFiles): the paths written: {"table", "summary",
    "flights": {index: scenario file}, "pictures": [...], "report"}, the
    last two when they were asked for.
    """

    campaign: Campaign
    out_dir: str
    table: Sequence[Dict[str, Cell]]
    summary: Summary
    summary_text: str
    files: ResultFiles


def _values_to_check(d: Dispersion) -> List[Value]:
    """The values of a dispersion worth checking: its bounds (a normal's
    finite truncation bounds and mean), or every value of a short list."""
    if d.kind == "uniform":
        return [d.low, d.high]
    if d.kind == "normal":
        return [v for v in (d.low, min(max(d.mean, d.low), d.high), d.high) if math.isfinite(v)]
    distinct = list(dict.fromkeys(d.values))
    # Flags and names (aircraft) have no extremes that stand for the rest.
    if len(distinct) <= _CHECK_EVERY_VALUE_UP_TO or any(
        isinstance(v, (bool, str)) for v in distinct
    ):
        return distinct
    return [min(distinct), max(distinct)]


def _refusal(campaign: Campaign, overrides: Overrides) -> Optional[str]:
    """Why the simulator refuses the base scenario with overrides; None
    when it flies it."""
    try:
        check(campaign.scenario, dict(campaign.base_overrides, **overrides))
    except SimulatorLibraryError:
        raise  # not the file's fault
    except SimulatorError as exc:
        return str(exc)
    return None


def _check_dispersed_values(campaign: Campaign) -> None:
    """Each dispersion's values, checked on the base scenario. A field may
    need a dispersed sibling to be read at all (a target manoeuvre's side
    or load needs its kind): a value refused alone is checked again beside
    the first value of every dispersion the scenario takes alone, and only
    a value refused there too is an error, reported at its own line."""
    dispersed = [d for d in campaign.dispersions if d.path != PARAMS_FILE]
    refused_alone: Dict[str, List[Value]] = {}
    for d in dispersed:
        for value in _values_to_check(d):
            if _refusal(campaign, {d.path: value}) is not None:
                refused_alone.setdefault(d.path, []).append(value)
    siblings: Overrides = {
        d.path: _values_to_check(d)[0] for d in dispersed if d.path not in refused_alone
    }
    for d in dispersed:
        for value in refused_alone.get(d.path, []):
            refusal = _refusal(campaign, dict(siblings, **{d.path: value}))
            if refusal is not None:
                raise campaign.error("dispersions." + d.path, refusal)


def validate(campaign: Campaign) -> None:
    """Checks the base scenario and each dispersion's values as they will be
    flown (full duration, events and all, nothing flown), so that a wrong
    field or value is reported at its line before anything runs."""
    base_key = "scenario.builtin" if "scenario.builtin" in campaign.lines else "scenario.file"
    try:
        base = check(campaign.scenario, dict(campaign.base_overrides))
    except SimulatorLibraryError:
        raise  # not the file's fault
    except SimulatorError as exc:
        raise campaign.error(_culprit(campaign, str(exc), base_key), str(exc)) from None
    # Each dispersed parameter file's parameters, as its flights fly them.
    for name, params in campaign.param_files.items():
        refusal = _refusal(campaign, params)
        if refusal is not None:
            raise campaign.error("dispersions." + PARAMS_FILE, "%s: %s" % (name, refusal))
    _check_dispersed_values(campaign)
    check_names = [c["check"] for c in base["checks"]]
    for kind, wanted, known in (
        ("checks", campaign.checks, check_names),
        ("metrics", campaign.metrics, list(base["metrics"])),
    ):
        for name in wanted or []:
            if name not in known:
                raise campaign.error(
                    "report." + kind,
                    "the scenario has no %s '%s' (it has: %s)"
                    % (kind[:-1], name, ", ".join(known) or "none"),
                )


def _culprit(campaign: Campaign, message: str, base_key: str) -> str:
    """The key of the campaign file a refusal of its base scenario is
    blamed on: the override the message names, else the first one the
    scenario refuses alone (a duration_s that ends before the scenario's
    events), else the base itself."""
    named = [k for k in campaign.base_overrides if k in message]
    if named:
        return "scenario." + named[0]
    try:
        check(campaign.scenario)
    except SimulatorLibraryError:
        raise
    except SimulatorError:
        return base_key
    for key, value in campaign.base_overrides.items():
        try:
            check(campaign.scenario, {key: value})
        except SimulatorLibraryError:
            raise
        except SimulatorError:
            return "scenario." + key
    return base_key


def flight_scenario(campaign: CampaignArg, index: int) -> Dict[str, object]:
    """The scenario flight index of a campaign (a file path or a loaded
    Campaign) flies, named NAME_INDEX, as a dict guide-sim reads as JSON:
    any row of the table can be flown again on its own."""
    if not isinstance(campaign, Campaign):
        campaign = load(campaign)
    if not 0 <= index < campaign.flights:
        raise CampaignError(
            "%s: flight %d does not exist (flights 0..%d)"
            % (campaign.file, index, campaign.flights - 1)
        )
    overrides, _ = _worker.flight_overrides(campaign.to_plan(), index)
    overrides["name"] = _flight_name(campaign, index)
    return fly(campaign.scenario, overrides)["scenario"]


def _flight_name(campaign: Campaign, index: int) -> str:
    """NAME_INDEX: what a flight of the campaign is called on its own."""
    return "%s_%06d" % (campaign.name, index)


def _write_flight_files(campaign: Campaign, out_dir: str, indices: Iterable[int]) -> Flown:
    """The scenario of each listed flight as guide-sim reads it, named
    NAME_INDEX, with its sampled path; returns {index: (file, result)}."""
    plan = campaign.to_plan()
    written: Flown = {}
    for index in sorted(set(indices)):
        name = _flight_name(campaign, index)
        result = _worker.fly_again(plan, index, name, PATH_INTERVAL_S)
        if result is None:
            continue
        scenario = result["scenario"]
        path = _folder.write_atomically(
            out_dir,
            os.path.join(FLIGHTS_DIR, name + ".json"),
            lambda f: f.write(json.dumps(scenario, indent=1) + "\n"),
        )
        written[index] = (path, result)
    return written


def run(
    campaign: CampaignArg,
    workers: Optional[int] = None,
    scheduler: Optional[str] = None,
    out: Optional[str] = None,
    resume: bool = False,
    progress: bool = True,
    pictures: bool = True,
    report: bool = True,
    on_task_done: Optional[TaskDone] = None,
    listen: Optional[str] = None,
) -> CampaignResult:
    """Runs a campaign (a file path or a loaded Campaign); returns a
    CampaignResult whose table has one dict per flight.

    workers: local worker processes (default: one per core); scheduler: the
    address of an existing Dask scheduler instead; listen: the address the
    local cluster listens on (default 127.0.0.1: this machine only); out:
    the results folder (default out/campaign/NAME), new, empty or a
    campaign's; resume: keep the finished tasks of an interrupted run of the
    same campaign in out; progress: a progress line on stderr; pictures,
    report: draw the pictures (matplotlib) and write report.html (plotly).
    on_task_done(task, cluster) is called after each task's results are on
    disk; an exception it raises stops the run, and the finished tasks are
    kept for resume. The folder's campaign.json says "complete" only once
    every result file is written.
    """
    if not isinstance(campaign, Campaign):
        campaign = load(campaign)
    out_dir = out or os.path.join("out", "campaign", campaign.name)
    validate(campaign)
    _folder.check_usable(out_dir)
    with _folder.claimed(out_dir):
        return _run_claimed(
            campaign,
            out_dir,
            workers,
            scheduler,
            resume,
            progress,
            pictures,
            report,
            on_task_done,
            listen,
        )


def _run_claimed(
    campaign: Campaign,
    out_dir: str,
    workers: Optional[int],
    scheduler: Optional[str],
    resume: bool,
    progress: bool,
    pictures: bool,
    report: bool,
    on_task_done: Optional[TaskDone],
    listen: Optional[str],
) -> CampaignResult:
    """run, in a folder held for it alone."""
    tasks = _execute.execute(
        campaign,
        out_dir,
        workers=workers,
        scheduler=scheduler,
        resume=resume,
        progress=progress,
        on_task_done=on_task_done,
        listen=listen,
    )
    table = _results.merge(campaign, out_dir, tasks, campaign.checks, campaign.metrics)
    summary = _results.summarise(table, campaign.worst)
    text = _results.format_summary(campaign, summary)

    worst_indices = [i for ranked in summary["worst"].values() for i, _ in ranked]
    n = campaign.flights
    sample = sorted({k * n // campaign.paths for k in range(min(campaign.paths, n))})
    flown = _write_flight_files(campaign, out_dir, worst_indices + sample)
    text += _worst_text(summary, flown)
    summary_path = os.path.join(out_dir, "summary.txt")
    files: ResultFiles = {
        "table": os.path.join(out_dir, _results.TABLE_FILE),
        "flights": {i: p for i, (p, _) in flown.items()},
        "summary": summary_path,
    }
    if pictures:
        with _needs("matplotlib", "python3-matplotlib"):
            from . import _pictures
        files["pictures"] = _pictures.draw_all(table, summary, out_dir, campaign.grid)
    if report:
        with _needs("plotly", "python3-plotly"):
            from . import _report
        listed = {
            i: os.path.basename(flown[i][0])[: -len(".json")] for i in worst_indices if i in flown
        }
        files["replays"] = _replays.write_all(campaign, out_dir, listed)
        files["report"] = _report.write(
            campaign,
            table,
            summary,
            flown,
            sample,
            out_dir,
            files.get("pictures", []),
            files["replays"],
        )
    # The summary last, then the folder marked complete: a folder holding a
    # summary.txt without the mark was stopped on its very last step.
    _folder.write_atomically(out_dir, "summary.txt", lambda f: f.write(text + "\n"))
    _folder.finish(out_dir)
    return CampaignResult(campaign, out_dir, table.as_records(), summary, text, files)


@contextlib.contextmanager
def _needs(package: str, debian: str) -> Iterator[None]:
    """The import of a module of this package that needs a library the
    core does not: its absence is a CampaignError saying what to install."""
    try:
        yield
    except ImportError as exc:
        raise CampaignError(
            "the pictures and the report need %s (%s); install Debian's %s, or run "
            "with --no-pictures" % (package, exc, debian)
        ) from None


def _worst_text(summary: Summary, flown: Flown) -> str:
    """The worst flights of each ranked metric, and the first one's file."""
    lines = ["  worst flights (fly one again with: guide-sim FILE):"]
    for metric, ranked in summary["worst"].items():
        cells = []
        for index, value in ranked[:3]:
            cells.append("#%d (%s)" % (index, "never" if value is None else "%.4g" % value))
        lines.append("    %-22s %s" % (metric, ", ".join(cells)))
        if ranked and ranked[0][0] in flown:
            lines.append("    %-22s %s" % ("", flown[ranked[0][0]][0]))
    return "\n" + "\n".join(lines)
