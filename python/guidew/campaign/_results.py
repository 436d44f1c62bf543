"""The campaign's table (one row per flight) and its summary, merged from
the task files without holding the flights in memory.

The merge reads the task files twice, one task at a time: first for the
names of the metrics and checks (the table's columns), then to write
flights.csv and to gather the aggregates the summary, the pictures and the
report are drawn from: pass counts, counts per dispersed value and grid
point, a bounded sample of flights for scatter plots, the worst flights.
Each metric's figures go to a scratch file of float64; at the end each is
read back alone and sorted for exact percentiles and histograms: 8 bytes
per flight for the one metric at a time (80 MB at 10^7 flights), besides
a few kilobytes of counters.
"""

from __future__ import annotations

import bisect
import csv
import heapq
import io
import math
import os
import re
import tempfile
from dataclasses import dataclass, field
from typing import (
    Collection,
    Dict,
    FrozenSet,
    Iterable,
    Iterator,
    List,
    Optional,
    Sequence,
    TextIO,
    Tuple,
    Union,
    cast,
    overload,
)

import numpy as np
import numpy.typing as npt

from . import _folder, _simlib
from ._config import Campaign, Dispersion
from ._engagement_map import EngagementMap
from ._execute import TaskRange, read_task
from ._types import Cell, FlightRow, Metric, MetricSummary, Ranked, Summary, Value

Floats = npt.NDArray[np.float64]
TABLE_FILE = "flights.csv"
# Two-sided 95 % quantile of the standard normal.
Z95 = 1.959963984540054
PERCENTILES = (5, 50, 95, 99)
# Which way a metric gets worse. Metrics not listed are not ranked.
WORSE_WHEN = {
    "converge_s": "high",  # a flight that never converged is the worst
    "first_within_s": "high",
    "peak_load_g": "high",
    "altitude_lost_m": "high",
    "final_speed_err_mps": "abs",
    "min_altitude_m": "low",
    # An engagement: late onto the target or into its rear cone, or near it.
    "on_target_s": "high",
    "rear_cone_first_s": "high",
    "closest_m": "low",
}
# Times of an event that may not happen within the flight: a flight the
# simulator flew without the figure did not get there before its end, so
# it counts as later than any (infinite), not as missing.
NEVER_METRICS = frozenset({"converge_s", "first_within_s", "on_target_s", "rear_cone_first_s"})
# Flights kept per outcome (passed, failed) for the scatter plots: enough
# to show the shape, few enough for a light page.
SAMPLE_PER_OUTCOME = 1500
HISTOGRAM_BINS = 40
# Bins over the range of a uniform or normal dispersion, for the pass rate
# per value; a normal without bounds is binned over mean +- 3 sd.
VALUE_BINS = 12
NORMAL_SPAN_SD = 3.0
# Flights whose figures are buffered before they go to the scratch files.
FLUSH_FLIGHTS = 4096


def wilson_interval(passes: int, n: int) -> Tuple[float, float]:
    """95 % Wilson score interval of a pass rate: unlike the normal
    approximation it stays inside [0, 1] and is honest at 0 or n passes."""
    if n == 0:
        return (0.0, 1.0)
    p = passes / n
    z2 = Z95 * Z95
    centre = (p + z2 / (2 * n)) / (1 + z2 / n)
    half = Z95 * math.sqrt(p * (1 - p) / n + z2 / (4 * n * n)) / (1 + z2 / n)
    return (max(0.0, centre - half), min(1.0, centre + half))


def percentile(ordered: Union[Sequence[float], Floats], q: float) -> Optional[float]:
    """Linear interpolation between the closest ranks of sorted values; a
    rank that reaches an infinite value (never) is infinite."""
    if len(ordered) == 0:
        return None
    pos = (len(ordered) - 1) * q / 100.0
    lo = math.floor(pos)
    hi = min(lo + 1, len(ordered) - 1)
    a, b = float(ordered[lo]), float(ordered[hi])
    if math.isinf(a) or (math.isinf(b) and pos > lo):
        return math.inf if math.isinf(b) else a
    return a + (b - a) * (pos - lo)


def mix(index: int) -> int:
    """A flight's place in the sample: a 64-bit hash of its index
    (splitmix64), so the sample is the same on every run and spread
    evenly over the grid and the draws."""
    z = (index + 0x9E3779B97F4A7C15) & 0xFFFFFFFFFFFFFFFF
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & 0xFFFFFFFFFFFFFFFF
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & 0xFFFFFFFFFFFFFFFF
    return z ^ (z >> 31)


@dataclass
class Tally:
    """Flights, those the simulator refused, the failures of each reported
    check, and how many passed them all, at one dispersed value, grid
    point or overall. A refused flight fails all checks together but is
    not judged by any one."""

    flights: int = 0
    passed: int = 0
    refused: int = 0
    failed: Dict[str, int] = field(default_factory=dict)

    def add(self, verdict: bool, failed_checks: Iterable[str], refused: bool) -> None:
        self.flights += 1
        self.passed += verdict
        self.refused += refused
        for c in failed_checks:
            self.failed[c] = self.failed.get(c, 0) + 1

    def passes(self, check: Optional[str]) -> int:
        """Flights that passed check (None: every reported check)."""
        return (
            self.passed
            if check is None
            else self.flights - self.refused - self.failed.get(check, 0)
        )

    def judged(self, check: Optional[str]) -> int:
        """Flights check judged (None: all flights)."""
        return self.flights if check is None else self.flights - self.refused


@dataclass
class ValueRates:
    """Pass counts per value of one dispersed variable: each choice or grid
    value, or each bin of a uniform or normal draw's range."""

    variable: str
    labels: List[str]  # a value, or a bin as "low..high"
    centres: List[float]  # where to draw each on a numeric axis
    tallies: List[Tally]
    edges: Optional[List[float]] = None  # bin edges, for a drawn variable
    slots: Dict[Value, int] = field(default_factory=dict)  # a listed value's place

    def slot(self, value: Value) -> Optional[int]:
        """Which value or bin a flight's value falls in (the edge bins take
        a normal draw's far tails); None for a value the file does not list."""
        if self.edges is None:
            return self.slots.get(value)
        k = bisect.bisect_right(self.edges, float(value)) - 1
        return min(max(k, 0), len(self.tallies) - 1)


def _label(value: Value) -> str:
    if isinstance(value, str):
        return value
    return ("true" if value else "false") if isinstance(value, bool) else "%.6g" % value


def _value_rates(d: Dispersion) -> ValueRates:
    if d.kind in ("choice", "grid"):
        labels = [_label(v) for v in d.values]
        return ValueRates(
            d.path,
            labels,
            # Names have no place on a numeric axis: drawn in list order.
            [float(k) if isinstance(v, str) else float(v) for k, v in enumerate(d.values)],
            [Tally() for _ in labels],
            slots={v: k for k, v in reversed(list(enumerate(d.values)))},
        )
    low, high = d.low, d.high
    if d.kind == "normal":
        low = max(low, d.mean - NORMAL_SPAN_SD * d.sd)
        high = min(high, d.mean + NORMAL_SPAN_SD * d.sd)
    if not high > low:
        high = low + 1.0
    edges = [float(e) for e in np.linspace(low, high, VALUE_BINS + 1)]
    return ValueRates(
        d.path,
        ["%.4g..%.4g" % (a, b) for a, b in zip(edges, edges[1:])],
        [(a + b) / 2 for a, b in zip(edges, edges[1:])],
        [Tally() for _ in range(VALUE_BINS)],
        edges,
    )


@dataclass
class Sampled:
    """A flight kept for the scatter plots."""

    index: int
    values: Dict[str, Value]
    metrics: Dict[str, float]  # never: inf; no figure: left out
    passed: bool
    failed: List[str]  # the reported checks it failed
    refused: bool


@dataclass
class Histogram:
    """Counts of a metric's finite figures in equal bins, passed and failed
    flights apart; never counts the flights that never got there."""

    edges: List[float]
    passed: List[int]
    failed: List[int]
    never: int


# (x, y) values of a grid point: y is None with a grid of one variable.
GridPoint = Tuple[Value, Optional[Value]]


class Table:
    """The campaign's results as aggregates: the dispersed variables, the
    metrics and the reported checks in column order, with counts, a sample
    of flights, percentiles and histograms; the rows are in flights.csv
    (records() reads them back)."""

    def __init__(
        self,
        path: str,
        variables: List[str],
        metrics: List[str],
        checks: List[str],
        dispersions: Sequence[Dispersion],
    ) -> None:
        self.path = path
        self.variables, self.metrics, self.checks = variables, metrics, checks
        self.total = Tally()  # every flight, refused ones as failed
        self.by_value = {d.path: _value_rates(d) for d in dispersions}
        grid = [d for d in dispersions if d.kind == "grid"]
        self.grid_axes = grid[:2]
        self.grid: Dict[GridPoint, Tally] = {}
        self.samples: List[Sampled] = []
        self.metric_summaries: Dict[str, MetricSummary] = {}
        self.histograms: Dict[str, Histogram] = {}
        self.worst: Dict[str, Ranked] = {}
        # Outcomes over the start's geometry, when the flights are
        # engagements that disperse the angle off tail and the range.
        self.engagement: Optional[EngagementMap] = EngagementMap.of(dispersions)

    @property
    def flights(self) -> int:
        return self.total.flights

    @property
    def refused(self) -> int:
        return self.total.refused

    def records(self) -> "Records":
        """flights.csv read back, one dict per flight."""
        return Records(self.path, self.variables, self.metrics, self.checks, self.flights)

    as_records = records


def expectations(campaign: Campaign) -> FrozenSet[str]:
    """The expectations the campaign's flights are judged by (the keys of
    their scenario's expect, as flown, and those dispersed)."""
    flown = _simlib.check(campaign.scenario, dict(campaign.base_overrides))
    scenario = cast(Dict[str, Dict[str, object]], flown["scenario"])
    asked = set(scenario.get("expect", {}))
    for d in campaign.dispersions:
        if d.path.startswith("expect."):
            asked.add(re.split(r"[.\[]", d.path)[1])
    return frozenset(asked)


def aircraft_failure(check: str, asked: Collection[str]) -> bool:
    """A check no expectation asked for ("latched.roll_latch" belongs to
    "latched"): the flight itself failed (it reached the ground, left the
    aircraft's envelope, lost a finite value), whatever was expected of it."""
    return check.split(".")[0] not in asked


def verdict(
    row: FlightRow, checks: Optional[Collection[str]], asked: Collection[str] = ()
) -> Tuple[bool, List[str]]:
    """Whether a flight passed the reported checks (None: all it has), and
    those it failed. A failure of the aircraft (aircraft_failure: no
    expectation of asked) fails it whatever checks are reported: reaching
    the ground is never hidden. A check a flown flight does not list held:
    the simulator lists some (reaching the ground) only when they fail."""
    if row["error"]:
        return False, []
    failed = [
        c
        for c, ok in row["checks"].items()
        if not ok and (checks is None or c in checks or aircraft_failure(c, asked))
    ]
    return not failed, failed


def _rows(out_dir: str, tasks: Iterable[TaskRange]) -> Iterator[FlightRow]:
    """Every flight's row in flight order, one task file at a time."""
    for task, first, count in tasks:
        part = read_task(out_dir, task)
        if [r["index"] for r in part] != list(range(first, first + count)):
            raise RuntimeError(
                "task file %d does not hold flights %d..%d" % (task, first, first + count - 1)
            )
        yield from part


def _names(
    rows: Iterable[FlightRow],
    checks_wanted: Optional[Collection[str]],
    metrics_wanted: Optional[Collection[str]],
    asked: Collection[str] = (),
) -> Tuple[List[str], List[str]]:
    """The metrics and the checks the table reports, in the order the
    report lists them or, for all, as the flights first give them; the
    aircraft's failures (aircraft_failure) that occur are always reported."""
    metrics: Dict[str, None] = {}
    checks: Dict[str, None] = {}
    for row in rows:
        metrics.update(dict.fromkeys(row["metrics"]))
        checks.update(dict.fromkeys(row["checks"]))
    return (
        [m for m in metrics_wanted if m in metrics]
        if metrics_wanted is not None
        else list(metrics),
        list(checks_wanted)
        + [c for c in checks if aircraft_failure(c, asked) and c not in checks_wanted]
        if checks_wanted is not None
        else list(checks),
    )


def _cell(value: Cell) -> str:
    """A table cell as the CSV writes it."""
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float):
        return repr(value)  # reads back to the same double
    return str(value)


def _verdict_cell(value: Optional[bool]) -> str:
    return "" if value is None else ("pass" if value else "fail")


class _Gatherer:
    """Folds the rows, one at a time, into a Table's aggregates."""

    def __init__(
        self,
        table: Table,
        scratch: Tuple[str, str],
        checks: Optional[Collection[str]],
        worst: int,
        asked: Collection[str] = (),
    ) -> None:
        self.table, self.scratch, self.checks, self.keep_worst = table, scratch, checks, worst
        self.asked = asked
        # Each metric's figures of passed and of failed flights, apart (for
        # the histograms), buffered, then appended to scratch files.
        self.files: Dict[Tuple[str, bool], io.BufferedRandom] = {}
        self.buffers: Dict[Tuple[str, bool], List[float]] = {
            (m, ok): [] for m in table.metrics for ok in (True, False)
        }
        self.buffered = 0
        self.finite: Dict[str, int] = {m: 0 for m in table.metrics}
        self.sums: Dict[str, float] = {m: 0.0 for m in table.metrics}
        self.low: Dict[str, float] = {m: math.inf for m in table.metrics}
        self.high: Dict[str, float] = {m: -math.inf for m in table.metrics}
        self.heaps: Dict[str, List[Tuple[float, int, Metric]]] = {
            m: [] for m in table.metrics if m in WORSE_WHEN
        }
        self.sample_heaps: Dict[bool, List[Tuple[int, int, Sampled]]] = {True: [], False: []}

    def add(self, row: FlightRow) -> Tuple[bool, List[str]]:
        t = self.table
        ok, failed = verdict(row, self.checks, self.asked)
        t.total.add(ok, failed, row["error"])
        for path, rates in t.by_value.items():
            k = rates.slot(row["values"][path]) if path in row["values"] else None
            if k is not None:
                rates.tallies[k].add(ok, failed, row["error"])
        if t.grid_axes:
            key = (
                row["values"][t.grid_axes[0].path],
                row["values"][t.grid_axes[1].path] if len(t.grid_axes) > 1 else None,
            )
            t.grid.setdefault(key, Tally()).add(ok, failed, row["error"])
        if t.engagement is not None:
            t.engagement.add(row, ok)
        figures = self._figures(row, ok)
        self._keep_sample(row, ok, failed, figures)
        self._rank(row["index"], row, figures)
        return ok, failed

    def _figures(self, row: FlightRow, ok: bool) -> Dict[str, float]:
        """Each reported metric of the flight: never as inf, none as nan
        (and then not kept for the percentiles)."""
        out: Dict[str, float] = {}
        for m in self.table.metrics:
            v = row["metrics"].get(m)
            if row["error"]:
                x = math.nan
            elif v is None:
                x = math.inf if m in NEVER_METRICS else math.nan
            else:
                x = float(v)
            out[m] = x
            if math.isnan(x):
                continue
            self.buffers[(m, ok)].append(x)
            if not math.isinf(x):
                self.finite[m] += 1
                self.sums[m] += x
                self.low[m] = min(self.low[m], x)
                self.high[m] = max(self.high[m], x)
        self.buffered += 1
        if self.buffered >= FLUSH_FLIGHTS:
            self.flush()
        return out

    def _keep_sample(
        self, row: FlightRow, ok: bool, failed: List[str], figures: Dict[str, float]
    ) -> None:
        """Keeps the flights of smallest hash, per outcome: a fixed-size,
        evenly spread sample of each whatever the campaign's size."""
        heap = self.sample_heaps[ok]
        key = -mix(row["index"])
        if len(heap) >= SAMPLE_PER_OUTCOME and key <= heap[0][0]:
            return
        kept = Sampled(
            row["index"],
            dict(row["values"]),
            {m: x for m, x in figures.items() if not math.isnan(x)},
            ok,
            failed,
            row["error"],
        )
        item = (key, row["index"], kept)
        if len(heap) >= SAMPLE_PER_OUTCOME:
            heapq.heapreplace(heap, item)
        else:
            heapq.heappush(heap, item)

    def _rank(self, index: int, row: FlightRow, figures: Dict[str, float]) -> None:
        """Keeps the worst flights of each ranked metric: the largest
        badness, the lower index first among equals."""
        for m, heap in self.heaps.items():
            x = figures[m]
            if math.isnan(x):
                continue
            bad = {"high": x, "low": -x, "abs": abs(x)}[WORSE_WHEN[m]]
            item = (bad, -index, row["metrics"].get(m))
            if len(heap) < self.keep_worst:
                heapq.heappush(heap, item)
            elif item[:2] > heap[0][:2]:
                heapq.heapreplace(heap, item)

    def flush(self) -> None:
        """Appends the buffered figures to the scratch files."""
        for key, buf in self.buffers.items():
            if buf:
                if key not in self.files:
                    name = "metric_%d_%s.f64" % (
                        self.table.metrics.index(key[0]),
                        "ok" if key[1] else "bad",
                    )
                    out_dir, folder = self.scratch
                    self.files[key] = _folder.create(out_dir, os.path.join(folder, name))
                np.asarray(buf, dtype=np.float64).tofile(self.files[key])
                buf.clear()
        self.buffered = 0

    def finish(self) -> None:
        """Percentiles, histograms, the worst flights and the sample."""
        self.flush()
        t = self.table
        if t.engagement is not None and not t.engagement.engagements:
            t.engagement = None  # the geometry's keys, but no engagement flown
        for m in t.metrics:
            t.metric_summaries[m], t.histograms[m] = self._metric(m)
        for f in self.files.values():
            f.close()
        for m, heap in self.heaps.items():
            # Without a single figure the never-metric means nothing (a
            # flight the law does not steer): no ranking either.
            if self.finite[m] or m not in NEVER_METRICS:
                t.worst[m] = [
                    (-negative, value) for _, negative, value in sorted(heap, reverse=True)
                ]
        t.samples = sorted(
            (s for heap in self.sample_heaps.values() for _, _, s in heap), key=lambda s: s.index
        )

    def _read(self, m: str, ok: bool, into: Floats) -> None:
        if (m, ok) in self.files:
            f = self.files[(m, ok)]
            f.seek(0)
            f.readinto(into.data.cast("B"))

    def _size(self, m: str, ok: bool) -> int:
        if (m, ok) not in self.files:
            return 0
        self.files[(m, ok)].flush()
        return os.fstat(self.files[(m, ok)].fileno()).st_size // 8

    def _metric(self, m: str) -> Tuple[MetricSummary, Histogram]:
        """One metric's summary and histogram, from its figures read back
        into one array (the only per-flight memory of the summary)."""
        n_ok, n_bad = self._size(m, True), self._size(m, False)
        column = np.empty(n_ok + n_bad, dtype=np.float64)
        self._read(m, True, column[:n_ok])
        self._read(m, False, column[n_ok:])
        finite = self.finite[m]
        never = len(column) - finite if finite else 0
        histogram = Histogram([], [], [], never)
        if finite:
            edges = np.linspace(self.low[m], self.high[m], HISTOGRAM_BINS + 1)
            if not self.high[m] > self.low[m]:
                edges = np.linspace(self.low[m] - 0.5, self.low[m] + 0.5, HISTOGRAM_BINS + 1)
            histogram.edges = [float(e) for e in edges]
            # Outside the edges (inf) is not counted.
            histogram.passed = [int(k) for k in np.histogram(column[:n_ok], bins=edges)[0]]
            histogram.failed = [int(k) for k in np.histogram(column[n_ok:], bins=edges)[0]]
        column.sort()  # in place; inf (never) last
        ordered = column[: finite + never]
        del column
        summary: MetricSummary = {
            "flights": finite + never,
            "missing": self.table.flights - finite - never,
            "never": never,
            "min": self.low[m] if finite else None,
            "max": (math.inf if never else self.high[m]) if finite else None,
            "mean": self.sums[m] / finite if finite else None,
            "percentiles": {q: percentile(ordered, q) if finite else None for q in PERCENTILES},
        }
        return summary, histogram


class Records(Sequence[Dict[str, Cell]]):
    """flights.csv read back, one dict per flight with the CSV's columns:
    iterating streams the file; indexing reads it whole, once."""

    def __init__(
        self, path: str, variables: List[str], metrics: List[str], checks: List[str], flights: int
    ) -> None:
        self.path, self.flights = path, flights
        self.kinds = (
            ["index"]
            + ["value"] * len(variables)
            + ["metric"] * len(metrics)
            + ["check"] * len(checks)
            + ["passed", "failure"]
        )
        self._all: Optional[List[Dict[str, Cell]]] = None

    def __len__(self) -> int:
        return self.flights

    def __iter__(self) -> Iterator[Dict[str, Cell]]:
        if self._all is not None:
            yield from self._all
            return
        with open(self.path, newline="", encoding="utf-8") as f:
            reader = csv.reader(f)
            header = next(reader)
            for cells in reader:
                yield {h: _parse(kind, c) for h, kind, c in zip(header, self.kinds, cells)}

    @overload
    def __getitem__(self, i: int) -> Dict[str, Cell]:
        ...

    @overload
    def __getitem__(self, i: slice) -> List[Dict[str, Cell]]:
        ...

    def __getitem__(self, i: Union[int, slice]) -> Union[Dict[str, Cell], List[Dict[str, Cell]]]:
        if self._all is None:
            self._all = list(iter(self))
        return self._all[i]


def _parse(kind: str, text: str) -> Cell:
    """A CSV cell as the value it was written from."""
    if kind == "failure":
        return text
    if text == "":
        return None
    if kind in ("check", "passed"):
        return text == "pass"
    if text in ("true", "false"):
        return text == "true"
    if kind == "index" or text.lstrip("-").isdigit():
        return int(text)
    try:
        return float(text)
    except ValueError:
        if kind == "value":  # a name: an aircraft, a parameter file
            return text
        raise


def merge(
    campaign: Campaign,
    out_dir: str,
    tasks: Iterable[TaskRange],
    checks_wanted: Optional[Collection[str]] = None,
    metrics_wanted: Optional[Collection[str]] = None,
) -> Table:
    """Reads the task files in flight order, writes flights.csv (aside,
    then renamed) and returns the aggregates of the reported checks."""
    tasks = list(tasks)
    asked = expectations(campaign)
    metrics, checks = _names(_rows(out_dir, tasks), checks_wanted, metrics_wanted, asked)
    variables = [d.path for d in campaign.dispersions]
    table = Table(
        os.path.join(out_dir, TABLE_FILE), variables, metrics, checks, campaign.dispersions
    )
    # Scratch files beside the results, not in /tmp (often memory); those of
    # a merge that was killed are removed first.
    _folder.remove_scratch(out_dir)
    try:
        scratch = os.path.basename(tempfile.mkdtemp(prefix=_folder.SCRATCH_PREFIX, dir=out_dir))
    except OSError as exc:
        raise _folder.OutputError("%s: cannot write: %s" % (out_dir, exc.strerror)) from None
    gatherer = _Gatherer(table, (out_dir, scratch), checks, campaign.worst, asked)

    def write(f: TextIO) -> None:
        writer = csv.writer(f)
        writer.writerow(
            ["index"] + variables + metrics + ["check." + c for c in checks] + ["passed", "failure"]
        )
        for row in _rows(out_dir, tasks):
            ok, _ = gatherer.add(row)
            verdicts = [None if row["error"] else row["checks"].get(c, True) for c in checks]
            writer.writerow(
                [str(row["index"])]
                + [_cell(row["values"].get(v)) for v in variables]
                + [_cell(row["metrics"].get(m)) for m in metrics]
                + [_verdict_cell(x) for x in verdicts]
                + [_verdict_cell(ok), row["failure"]]
            )
        gatherer.finish()

    try:
        _folder.write_atomically(out_dir, TABLE_FILE, write)
    finally:
        for f in gatherer.files.values():
            f.close()
        _folder.remove_tree(out_dir, scratch)
    return table


def summarise(table: Table, worst: int = 5) -> Summary:
    """Pass rates with 95 % intervals, metric percentiles, worst flights."""
    n = table.flights
    all_passed = table.total.passed
    summary: Summary = {
        "flights": n,
        "checks": {},
        "metrics": dict(table.metric_summaries),
        "worst": {},
        "all_checks": {
            "passed": all_passed,
            "rate": all_passed / n if n else 0.0,
            "ci95": wilson_interval(all_passed, n),
        },
        "refused": table.refused,
    }
    for c in table.checks:
        passes, judged = table.total.passes(c), table.total.judged(c)
        summary["checks"][c] = {
            "passed": passes,
            "flights": judged,
            "rate": passes / judged if judged else 0.0,
            "ci95": wilson_interval(passes, judged),
        }
    if worst > 0:
        summary["worst"] = {m: ranked[:worst] for m, ranked in table.worst.items()}
    return summary


def _num(v: Optional[float], fmt: str = "%.3g") -> str:
    """A figure for the summary: "-" when there is none, "never" for a
    time the flight never reached."""
    if v is None:
        return "-"
    return "never" if v == math.inf else fmt % v


def format_summary(campaign: Campaign, summary: Summary) -> str:
    """The summary as the command line prints it."""
    lines = [
        "campaign %s: %d flights of %s"
        % (campaign.name, summary["flights"], campaign.scenario_label)
    ]
    a = summary["all_checks"]
    lines.append(
        "  all checks      %5.1f %%  (95 %% CI %.1f-%.1f %%)  %d passed"
        % (100 * a["rate"], 100 * a["ci95"][0], 100 * a["ci95"][1], a["passed"])
    )
    if summary["refused"]:
        lines.append(
            "  refused by the simulator: %d flights (see the failure column)" % summary["refused"]
        )
    lines.append("  check pass rates:")
    for c, s in summary["checks"].items():
        lines.append(
            "    %-26s %5.1f %%  (95 %% CI %.1f-%.1f %%)  %d/%d"
            % (
                c,
                100 * s["rate"],
                100 * s["ci95"][0],
                100 * s["ci95"][1],
                s["passed"],
                s["flights"],
            )
        )
    lines.append(
        "  %-24s %12s %14s %14s %14s %14s" % ("metrics:", "p5", "p50", "p95", "p99", "max")
    )
    for m, ms in summary["metrics"].items():
        p = ms["percentiles"]
        notes = []
        if ms.get("never"):
            notes.append("%d never within the flight" % ms["never"])
        if ms["missing"]:
            notes.append("%d without a value" % ms["missing"])
        lines.append(
            "    %-22s %12s %14s %14s %14s %14s%s"
            % (
                m,
                _num(p[5]),
                _num(p[50]),
                _num(p[95]),
                _num(p[99]),
                _num(ms["max"]),
                "  (%s)" % ", ".join(notes) if notes else "",
            )
        )
    return "\n".join(lines)
