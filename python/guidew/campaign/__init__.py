"""guidew.campaign: Monte Carlo dispersions and parameter sweeps of
closed-loop flights, on all local cores or on a Dask cluster.

    import guidew.campaign as gc
    result = gc.run("campaigns/example.toml", workers=2, out="out/example")
    print(result.summary_text)
    for row in result.table:           # one dict per flight
        ...

The command line does the same: guide-campaign FILE [--workers N]
[--scheduler ADDRESS] [--out DIR] [--resume]. See _config for the file.
"""

import json
import os
from dataclasses import dataclass

from . import _config, _execute, _results, _simlib, _worker
from ._config import Campaign, CampaignError, Dispersion
from ._draws import draw
from ._simlib import SimulatorError, builtin_scenarios, fly

__all__ = ["run", "load", "flight_scenario", "Campaign", "CampaignError", "CampaignResult", "Dispersion",
           "SimulatorError", "builtin_scenarios", "draw", "fly"]

# The validation flights only need the scenario read, not flown long.
_PROBE_DURATION_S = 0.01
PATH_INTERVAL_S = 0.5
FLIGHTS_DIR = "flights"


def load(path):
    """Reads and checks a campaign file; raises CampaignError."""
    return _config.load(path)


@dataclass
class CampaignResult:
    campaign: Campaign
    out_dir: str
    table: list          # one dict per flight: index, dispersed values, metrics, checks, failure
    summary: dict
    summary_text: str
    files: dict          # what was written: table, summary, pictures, report, flights


def _probe(campaign, overrides, key):
    try:
        return fly(campaign.scenario, dict(overrides, duration_s=_PROBE_DURATION_S))
    except SimulatorError as exc:
        raise campaign.error(key, str(exc)) from None


def _probe_values(d):
    if d.kind == "uniform":
        return [d.low, d.high]
    if d.kind == "normal":
        return [min(max(d.mean, d.low), d.high)]
    return list(d.values)


def validate(campaign):
    """Flies the base and each dispersion's values for an instant, so that a
    wrong field or value is reported at its line before anything runs."""
    base_key = "scenario.builtin" if "scenario.builtin" in campaign.lines else "scenario.file"
    try:
        base = fly(campaign.scenario, dict(campaign.base_overrides, duration_s=_PROBE_DURATION_S))
    except SimulatorError as exc:
        # Name the override the simulator complains of, or else the base.
        named = [k for k in campaign.base_overrides if k in str(exc)]
        raise campaign.error("scenario." + named[0] if named else base_key, str(exc)) from None
    for d in campaign.dispersions:
        for value in _probe_values(d):
            if d.path == "duration_s":
                continue
            _probe(campaign, dict(campaign.base_overrides, **{d.path: value}), "dispersions." + d.path)
    check_names = [c["check"] for c in base["checks"]]
    for kind, wanted, known in (("checks", campaign.checks, check_names),
                                ("metrics", campaign.metrics, list(base["metrics"]))):
        for name in wanted or []:
            if name not in known:
                raise campaign.error("report." + kind, "the scenario has no %s '%s' (it has: %s)"
                                     % (kind[:-1], name, ", ".join(known) or "none"))


def flight_scenario(campaign, index):
    """The scenario flight index of a campaign (a file path or a loaded
    Campaign) flies, named NAME_INDEX, as a dict guide-sim reads as JSON:
    any row of the table can be flown again on its own."""
    if not isinstance(campaign, Campaign):
        campaign = load(campaign)
    if not 0 <= index < campaign.flights:
        raise CampaignError("%s: flight %d does not exist (flights 0..%d)"
                            % (campaign.file, index, campaign.flights - 1))
    overrides, _ = _worker.flight_overrides(campaign.to_plan(), index)
    overrides["name"] = "%s_%06d" % (campaign.name, index)
    return fly(campaign.scenario, overrides)["scenario"]


def _write_flight_files(campaign, out_dir, indices):
    """The scenario of each listed flight as guide-sim reads it, named
    NAME_INDEX, with its sampled path; returns {index: (file, result)}."""
    plan = campaign.to_plan()
    folder = os.path.join(out_dir, FLIGHTS_DIR)
    os.makedirs(folder, exist_ok=True)
    written = {}
    for index in sorted(set(indices)):
        overrides, _ = _worker.flight_overrides(plan, index)
        overrides["name"] = "%s_%06d" % (campaign.name, index)
        try:
            result = fly(campaign.scenario, overrides, PATH_INTERVAL_S)
        except SimulatorError:
            continue
        path = os.path.join(folder, overrides["name"] + ".json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(result["scenario"], f, indent=1)
            f.write("\n")
        written[index] = (path, result)
    return written


def run(campaign, workers=None, scheduler=None, out=None, resume=False, progress=True,
        pictures=True, report=True, on_task_done=None):
    """Runs a campaign (a file path or a loaded Campaign); returns a
    CampaignResult whose table has one dict per flight.

    workers: local worker processes (default: one per core); scheduler: the
    address of an existing Dask scheduler instead; out: the results folder
    (default out/campaign/NAME); resume: keep the finished tasks of an
    interrupted run of the same campaign in out.
    """
    if not isinstance(campaign, Campaign):
        campaign = load(campaign)
    validate(campaign)
    out_dir = out or os.path.join("out", "campaign", campaign.name)
    os.makedirs(out_dir, exist_ok=True)
    tasks = _execute.execute(campaign, out_dir, workers=workers, scheduler=scheduler,
                             resume=resume, progress=progress, on_task_done=on_task_done)
    table = _results.merge(campaign, out_dir, tasks, campaign.checks, campaign.metrics)
    summary = _results.summarise(table, campaign.worst)
    text = _results.format_summary(campaign, summary)

    worst_indices = [i for ranked in summary["worst"].values() for i, _ in ranked]
    n = campaign.flights
    sample = sorted({k * n // campaign.paths for k in range(min(campaign.paths, n))})
    flown = _write_flight_files(campaign, out_dir, worst_indices + sample)
    text += _worst_text(summary, flown)
    files = {"table": os.path.join(out_dir, _results.TABLE_FILE),
             "flights": {i: p for i, (p, _) in flown.items()}}
    summary_path = os.path.join(out_dir, "summary.txt")
    with open(summary_path, "w", encoding="utf-8") as f:
        f.write(text + "\n")
    files["summary"] = summary_path
    if pictures:
        _pictures = _optional("_pictures", "matplotlib", "python3-matplotlib")
        files["pictures"] = _pictures.draw_all(table, summary, out_dir, campaign.grid)
    if report:
        _report = _optional("_report", "plotly", "python3-plotly")
        files["report"] = _report.write(campaign, table, summary, flown, sample, out_dir,
                                        files.get("pictures", []))
    return CampaignResult(campaign, out_dir, table.as_records(), summary, text, files)


def _optional(module, package, debian):
    """A module of this package that needs a library the core does not."""
    import importlib
    try:
        return importlib.import_module("." + module, __name__)
    except ImportError as exc:
        raise CampaignError("the pictures and the report need %s (%s); install Debian's %s, or run "
                            "with --no-pictures" % (package, exc, debian)) from None


def _worst_text(summary, flown):
    lines = ["  worst flights (fly one again with: guide-sim FILE):"]
    for metric, ranked in summary["worst"].items():
        cells = []
        for index, value in ranked[:3]:
            cells.append("#%d (%s)" % (index, "none" if value is None else "%.4g" % value))
        lines.append("    %-22s %s" % (metric, ", ".join(cells)))
        if ranked and ranked[0][0] in flown:
            lines.append("    %-22s %s" % ("", flown[ranked[0][0]][0]))
    return "\n" + "\n".join(lines)
