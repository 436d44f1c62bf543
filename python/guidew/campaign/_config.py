"""Reading a campaign file (TOML), in the format the package's docstring
shows (help(guidew.campaign)): its tables, keys and dispersions checked,
every error naming the file, the line and the key.
"""

from __future__ import annotations

import json
import math
import os
import re
import tomllib
from dataclasses import dataclass, field
from typing import Dict, List, Mapping, NoReturn, Optional, Sequence, Tuple, Union, cast

from .._errors import GuideWError
from .._finder import PathLike
from .._params_file import ParamsFileError, read_params
from ._types import DispersionFields, Overrides, Plan, Value

KINDS = ("uniform", "normal", "choice", "grid")
# What a campaign's name may hold: it names files and Dask tasks.
_NAME = re.compile(r"[A-Za-z0-9_\-]+")
MAX_FLIGHTS = 10_000_000
MAX_FLIGHTS_PER_TASK = 100_000
# A name's characters: NAME_INDEX.json.partial, the longest file a
# campaign writes, must fit the 255 bytes a file name may have.
MAX_NAME_CHARS = 200
# The key naming a parameter file (the format --params reads), in
# [scenario] or dispersed over in [dispersions]: not a scenario field, its
# file's assignments become params.NAME overrides.
PARAMS_FILE = "params_file"


class CampaignError(GuideWError):
    """A campaign file that cannot be run, with file, line and key."""

    __module__ = "guidew.campaign"


class SetupError(CampaignError):
    """What the campaign needs around it is missing or failing: the results
    folder, Dask, the scheduler, the workers."""

    __module__ = "guidew.campaign"


# A line number of the file, or "?" when the key is not written in it.
Line = Union[int, str]


@dataclass(frozen=True)
class Dispersion:
    """How one scenario field varies from flight to flight.

    kind is "uniform" (between low and high), "normal" (mean and sd,
    truncated to low..high, which may be -inf and inf), "choice" (one of
    values, each as likely) or "grid" (every one of values in turn: the
    campaign flies every grid point).
    """

    path: str  # the scenario field, e.g. "initial.altitude_m"
    kind: str  # one of KINDS
    values: Tuple[Value, ...] = ()  # choice and grid
    low: float = 0.0  # uniform bounds; normal truncation (or -inf, inf)
    high: float = 0.0
    mean: float = 0.0
    sd: float = 0.0


@dataclass
class Campaign:
    """A campaign file as read and checked (load): the base scenario, what
    varies, how many flights, and what the report shows.

    The flights are grid_points * samples: every grid point flies samples
    random draws of the other dispersions. checks and metrics of None
    report every one the scenario has; lines maps each key path of the file
    to its line, for errors.
    """

    file: str
    name: str
    scenario: str  # built-in name or the JSON text of one scenario
    scenario_label: str  # what to call it in the report
    base_overrides: Overrides  # scenario fields set for every flight
    dispersions: List[Dispersion]  # in file order
    samples: int  # random flights per grid point
    seed: int
    flights_per_task: int = 0  # 0: chosen from the flight count and workers
    checks: Optional[List[str]] = None  # reported checks (None: all)
    metrics: Optional[List[str]] = None  # reported metrics (None: all)
    worst: int = 5  # worst flights listed per metric
    paths: int = 20  # sampled flights drawn in 3-D
    lines: Dict[str, Line] = field(default_factory=dict)  # key path -> line, for errors
    # Each dispersed parameter file's overrides, by the name the file gives.
    param_files: Dict[str, Overrides] = field(default_factory=dict)

    @property
    def grid(self) -> List[Dispersion]:
        """The grid dispersions, in file order (the first varies slowest)."""
        return [d for d in self.dispersions if d.kind == "grid"]

    @property
    def grid_points(self) -> int:
        """How many points the grid has (1 without a grid)."""
        return math.prod(len(d.values) for d in self.grid)

    @property
    def flights(self) -> int:
        """How many flights the campaign flies."""
        return self.grid_points * self.samples

    def error(self, key: str, message: str) -> CampaignError:
        """A CampaignError at the line of key."""
        return CampaignError("%s:%s: %s: %s" % (self.file, self.lines.get(key, "?"), key, message))

    def to_plan(self) -> Plan:
        """What a worker needs to fly any flight of the campaign (picklable).
        The dispersed parameter files' contents are part of it: a file
        changed between two runs makes them different campaigns."""
        plan: Plan = {
            "scenario": self.scenario,
            "base": dict(self.base_overrides),
            "dispersions": [cast(DispersionFields, d.__dict__) for d in self.dispersions],
            "samples": self.samples,
            "seed": self.seed,
        }
        if self.param_files:
            plan["param_files"] = {k: dict(v) for k, v in self.param_files.items()}
        return plan


_HEADER = re.compile(r"^\s*\[\[?\s*(.+?)\s*\]\]?\s*(#.*)?$")
_KEY = re.compile(
    r"""^\s*((?:"[^"]*"|'[^']*'|[A-Za-z0-9_\-]+)(?:\s*\.\s*(?:"[^"]*"|'[^']*'|[A-Za-z0-9_\-]+))*)\s*="""
)
_PART = re.compile(r"""\s*("[^"]*"|'[^']*'|[A-Za-z0-9_\-]+)\s*""")


def _split_key(text: str) -> List[str]:
    """A dotted TOML key's parts, without their quotes."""
    return [p.strip("\"'") for p in _PART.findall(text)]


def key_lines(text: str) -> Dict[str, int]:
    """Line number of each key path the text defines, e.g. "campaign.seed"."""
    lines: Dict[str, int] = {}
    table: List[str] = []
    for number, line in enumerate(text.splitlines(), 1):
        header = _HEADER.match(line)
        if header and "=" not in line.split("]")[0]:
            table = _split_key(header.group(1))
            lines.setdefault(".".join(table), number)
            continue
        key = _KEY.match(line)
        if key:
            path = table + _split_key(key.group(1))
            lines.setdefault(".".join(path), number)
    return lines


def _flatten(table: Mapping[str, object], prefix: str = "") -> Dict[str, object]:
    """Nested tables to {"a.b.c": value}; lists and scalars are values."""
    flat: Dict[str, object] = {}
    for key, value in table.items():
        path = prefix + key
        if isinstance(value, dict):
            flat.update(_flatten(value, path + "."))
        else:
            flat[path] = value
    return flat


def _parameter_file(
    reader: "_Reader", campaign_path: str, name: object, key: str = "scenario.params_file"
) -> Dict[str, object]:
    """The assignments of a parameter file (the format --params reads, e.g.
    an aircraft's calibrated trim-throttle table) as overrides params.NAME;
    the path is relative to the campaign file; errors at key's line."""
    if not isinstance(name, str):
        reader.fail(key, "must be a string")
    file_path = os.path.join(os.path.dirname(os.path.abspath(campaign_path)), name)
    try:
        assignments = read_params(file_path, origin=name)
    except OSError as exc:
        reader.fail(key, "cannot read %s: %s" % (file_path, exc.strerror))
    except ParamsFileError as exc:
        reader.fail(key, str(exc))
    for param, value in assignments.items():
        # A flight's scenario is JSON, which has no nan or inf.
        if not math.isfinite(value):
            reader.fail(key, "%s: %s = %r: must be a finite number" % (name, param, value))
    return {"params." + param: value for param, value in assignments.items()}


class _Reader:
    """Checks of the values read from one file; each failure raises a
    CampaignError naming the file, the key and its line."""

    def __init__(self, path: str, text: str) -> None:
        self.path = path
        self.lines = key_lines(text)

    def line_of(self, key: str) -> Line:
        """The line of key, or of the nearest table above it written."""
        parts = key.split(".")
        while parts:
            if ".".join(parts) in self.lines:
                return self.lines[".".join(parts)]
            parts.pop()
        return "?"

    def fail(self, key: str, message: str) -> NoReturn:
        """Raises the CampaignError of key."""
        raise CampaignError("%s:%s: %s: %s" % (self.path, self.line_of(key), key, message))

    def only(self, table: Mapping[str, object], prefix: str, allowed: Sequence[str]) -> None:
        """Fails at the first key of table that is not allowed."""
        for key in table:
            if key not in allowed:
                self.fail(prefix + key, "unknown key (expected one of: %s)" % ", ".join(allowed))

    def number(self, value: object, key: str, positive: bool = False) -> float:
        """value as a finite float (above 0 when positive)."""
        if (
            isinstance(value, bool)
            or not isinstance(value, (int, float))
            or not math.isfinite(value)
        ):
            self.fail(key, "must be a finite number, not %r" % (value,))
        if positive and not value > 0:
            self.fail(key, "must be above 0")
        return float(value)

    def whole(self, value: object, key: str, low: int, high: int) -> int:
        """value as a whole number in low..high."""
        if isinstance(value, bool) or not isinstance(value, int) or not low <= value <= high:
            self.fail(key, "must be a whole number in %d..%d, not %r" % (low, high, value))
        return value

    def names(self, value: object, key: str) -> List[str]:
        """value as a list of names."""
        if not isinstance(value, list) or not all(isinstance(v, str) for v in value):
            self.fail(key, "must be a list of names")
        return list(value)


def _scenario_text(reader: _Reader, path: str) -> str:
    """The text of a scenario file, checked to be JSON: a syntax error is
    reported at the scenario file's own line and column."""
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8-sig")
    except OSError as exc:
        reader.fail("scenario.file", "cannot read %s: %s" % (path, exc.strerror))
    except UnicodeDecodeError as exc:
        reader.fail("scenario.file", "%s: not UTF-8 text (byte %d)" % (path, exc.start))
    try:
        json.loads(text)
    except json.JSONDecodeError as exc:
        raise CampaignError(
            "%s:%d:%d: not valid JSON: %s" % (path, exc.lineno, exc.colno, exc.msg)
        ) from None
    return text


def name_from_file(path: str) -> str:
    """A campaign's default name, from its file's: the characters a name may
    not hold ("v1.2", "my flights") become '_'."""
    stem = os.path.splitext(os.path.basename(path))[0]
    return re.sub(r"[^A-Za-z0-9_\-]", "_", stem) or "campaign"


def _dispersion(reader: _Reader, path: str, entry: object) -> Dispersion:
    """One entry of [dispersions], checked."""
    key = "dispersions." + path
    if not isinstance(entry, dict):
        reader.fail(key, "must be a table with one of: %s" % ", ".join(KINDS))
    kinds = [k for k in entry if k in KINDS]
    reader.only(entry, key + ".", KINDS)
    if len(kinds) != 1:
        reader.fail(key, "needs exactly one of: %s" % ", ".join(KINDS))
    kind = kinds[0]
    value: object = entry[kind]
    where = key + "." + kind
    if kind == "uniform":
        if not isinstance(value, list) or len(value) != 2:
            reader.fail(where, "must be [low, high]")
        low, high = (reader.number(v, where) for v in value)
        if not low <= high:
            reader.fail(where, "low %g is above high %g" % (low, high))
        return Dispersion(path, kind, low=low, high=high)
    if kind == "normal":
        if not isinstance(value, dict):
            reader.fail(where, "must be { mean = M, sd = S } with optional min and max")
        reader.only(value, where + ".", ("mean", "sd", "min", "max"))
        for needed in ("mean", "sd"):
            if needed not in value:
                reader.fail(where, "needs %s" % needed)
        mean = reader.number(value["mean"], where + ".mean")
        sd = reader.number(value["sd"], where + ".sd", positive=True)
        low = reader.number(value["min"], where + ".min") if "min" in value else -math.inf
        high = reader.number(value["max"], where + ".max") if "max" in value else math.inf
        if not low < high:
            reader.fail(where, "min %g is not below max %g" % (low, high))
        return Dispersion(path, kind, low=low, high=high, mean=mean, sd=sd)
    if kind == "grid" and isinstance(value, dict):
        reader.only(value, where + ".", ("from", "to", "steps"))
        if not {"from", "to", "steps"} <= set(value):
            reader.fail(where, "needs from, to and steps")
        start = reader.number(value["from"], where + ".from")
        stop = reader.number(value["to"], where + ".to")
        steps = reader.whole(value["steps"], where + ".steps", 1, 100_000)
        values = (
            [start]
            if steps == 1
            else [start + (stop - start) * i / (steps - 1) for i in range(steps)]
        )
        return Dispersion(path, kind, values=tuple(values))
    if not isinstance(value, list) or not value:
        reader.fail(where, "must be a non-empty list of values")
    if all(isinstance(v, str) for v in value):  # names: aircraft, parameter files
        return Dispersion(path, kind, values=tuple(value))
    for v in value:
        if isinstance(v, str):
            reader.fail(where, "mixes names and numbers: %r" % (v,))
        if not isinstance(v, bool):
            reader.number(v, where)
    return Dispersion(path, kind, values=tuple(value))


def _dispersions(reader: _Reader, table: Mapping[str, object]) -> List[Dispersion]:
    """Dispersions by field path; nested tables ([dispersions.initial]) too."""
    found: List[Dispersion] = []

    def walk(node: Mapping[str, object], prefix: str) -> None:
        """Adds the dispersions of node; a table without a kind is a level of path."""
        for key, value in node.items():
            path = prefix + key
            if value == {}:
                reader.fail("dispersions." + path, "is empty; needs one of: %s" % ", ".join(KINDS))
            if isinstance(value, dict) and not any(k in KINDS for k in value):
                walk(value, path + ".")
            else:
                found.append(_dispersion(reader, path, value))

    walk(table, "")
    return found


def _dispersed_parameter_files(
    reader: _Reader, campaign_path: str, dispersions: Sequence[Dispersion]
) -> Dict[str, Overrides]:
    """Each parameter file a params_file dispersion chooses from, read and
    checked once, as params.NAME overrides by the name the file gives it."""
    key = "dispersions." + PARAMS_FILE
    files: Dict[str, Overrides] = {}
    for d in dispersions:
        if d.path != PARAMS_FILE:
            continue
        if d.kind not in ("choice", "grid") or not all(isinstance(v, str) for v in d.values):
            reader.fail(key, "must be a choice or grid of parameter file names")
        for name in d.values:
            if name not in files:
                files[str(name)] = _parameter_file(reader, campaign_path, name, key)
    return files


def load(path: PathLike) -> Campaign:
    """Reads and checks a campaign file; raises CampaignError."""
    path = os.fspath(path)
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except OSError as exc:
        raise CampaignError("%s: cannot read: %s" % (path, exc.strerror)) from None
    try:
        # A byte-order mark, as some editors write, is not part of the text.
        text = raw.decode("utf-8-sig")
        doc = tomllib.loads(text)
    except UnicodeDecodeError:
        raise CampaignError("%s: not UTF-8 text" % path) from None
    except tomllib.TOMLDecodeError as exc:
        raise CampaignError("%s: not valid TOML: %s" % (path, exc)) from None
    reader = _Reader(path, text)
    reader.only(doc, "", ("campaign", "scenario", "dispersions", "report"))
    tables: Dict[str, Dict[str, object]] = {}
    for table in ("campaign", "scenario", "dispersions", "report"):
        content = doc.get(table, {})
        if not isinstance(content, dict):
            reader.fail(table, "must be a table")
        tables[table] = content

    head = tables["campaign"]
    reader.only(head, "campaign.", ("name", "samples", "seed", "flights_per_task"))
    if "name" in head:
        name = head["name"]
        if not isinstance(name, str) or not _NAME.fullmatch(name):
            reader.fail("campaign.name", "may hold only letters, digits, '_' and '-'")
        if len(name) > MAX_NAME_CHARS:
            reader.fail(
                "campaign.name",
                "%d characters; at most %d (it names the result files)"
                % (len(name), MAX_NAME_CHARS),
            )
    else:
        name = name_from_file(path)[:MAX_NAME_CHARS]
    seed = reader.whole(head.get("seed", 0), "campaign.seed", 0, 2**63 - 1)
    per_task = reader.whole(
        head.get("flights_per_task", 0), "campaign.flights_per_task", 0, MAX_FLIGHTS_PER_TASK
    )

    scenario_table = dict(tables["scenario"])
    sources = [k for k in ("builtin", "file") if k in scenario_table]
    if len(sources) != 1:
        reader.fail("scenario", "needs one of builtin = NAME or file = PATH")
    source = scenario_table.pop(sources[0])
    if not isinstance(source, str):
        reader.fail("scenario." + sources[0], "must be a string")
    if sources[0] == "file":
        scenario_path = os.path.join(os.path.dirname(os.path.abspath(path)), source)
        scenario = _scenario_text(reader, scenario_path)
        label = os.path.basename(source)
    else:
        scenario, label = source, source
    params_file = scenario_table.pop(PARAMS_FILE, None)
    base = _flatten(scenario_table)
    for key, value in base.items():
        # JSON, the simulator's language, has no nan or inf.
        if isinstance(value, float) and not math.isfinite(value):
            reader.fail("scenario." + key, "must be a finite number, not %r" % value)
    if params_file is not None:
        base.update(_parameter_file(reader, path, params_file))

    dispersions = _dispersions(reader, tables["dispersions"])
    for d in dispersions:
        if d.path in base or (d.path == PARAMS_FILE and params_file is not None):
            reader.fail("dispersions." + d.path, "is also set in [scenario]; set it in one place")
    param_files = _dispersed_parameter_files(reader, path, dispersions)
    has_grid = any(d.kind == "grid" for d in dispersions)
    has_random = any(d.kind != "grid" for d in dispersions)
    if "samples" in head:
        samples = reader.whole(head["samples"], "campaign.samples", 1, MAX_FLIGHTS)
    elif has_grid and not has_random:
        samples = 1
    else:
        reader.fail(
            "campaign",
            "needs samples = N (random flights%s)" % (" per grid point" if has_grid else ""),
        )

    report = tables["report"]
    reader.only(report, "report.", ("checks", "metrics", "worst", "paths"))
    if report.get("checks") == []:
        reader.fail(
            "report.checks", "names no check, so every flight would pass; leave it out for all"
        )
    campaign = Campaign(
        file=path,
        name=name,
        scenario=scenario,
        scenario_label=label,
        base_overrides=base,
        dispersions=dispersions,
        samples=samples,
        seed=seed,
        flights_per_task=per_task,
        checks=reader.names(report["checks"], "report.checks") if "checks" in report else None,
        metrics=reader.names(report["metrics"], "report.metrics") if "metrics" in report else None,
        worst=reader.whole(report.get("worst", 5), "report.worst", 0, 1000),
        paths=reader.whole(report.get("paths", 20), "report.paths", 0, 1000),
        lines={k: reader.line_of(k) for k in reader.lines},
        param_files=param_files,
    )
    for d in dispersions:
        campaign.lines["dispersions." + d.path] = reader.line_of("dispersions." + d.path)
    for k in base:
        campaign.lines["scenario." + k] = reader.line_of("scenario." + k)
    if campaign.flights > MAX_FLIGHTS:
        reader.fail("campaign.samples", "%d flights; at most %d" % (campaign.flights, MAX_FLIGHTS))
    return campaign
