"""The campaign's pictures (matplotlib, drawn off-screen) from the merged
aggregates: a histogram of each metric (passed and failed flights
stacked), each metric against each dispersed variable for a sample of the
flights coloured by the check they failed, the pass rate per value of each
dispersed variable with its 95 % interval, and the pass rate over a swept
grid with the counts in each cell."""

from __future__ import annotations

import math
import os
import re
from typing import IO, Dict, Iterable, List, Optional, Protocol, Sequence, Tuple

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

from . import _engagement_pictures, _folder  # noqa: E402
from ._config import Dispersion  # noqa: E402
from ._results import SAMPLE_PER_OUTCOME, Sampled, Table, mix, wilson_interval  # noqa: E402
from ._types import Summary, Value  # noqa: E402

PICTURES_DIR = _folder.PICTURES_DIR
PASS_COLOUR, FAIL_COLOUR, REFUSED_COLOUR, SEVERAL_COLOUR = (
    "#1f77b4",
    "#d62728",
    "#7f7f7f",
    "#222222",
)
# One colour per reported check, for the flights that failed it alone.
CHECK_COLOURS = (
    "#d62728",
    "#ff7f0e",
    "#9467bd",
    "#8c564b",
    "#e377c2",
    "#bcbd22",
    "#17becf",
    "#2ca02c",
)
# Units by a name's last part, as the simulator and the scenario fields are named.
UNITS = {
    "s": "s",
    "g": "g",
    "m": "m",
    "mps": "m/s",
    "deg": "deg",
    "mps2": "m/s²",
    "rad": "rad",
    "dps": "deg/s",
    "ft": "ft",
    "kg": "kg",
    "n": "N",
    "pct": "%",
}
# The names of the pictures drawn here (and of their files while written).
# Grid cells up to this many get their pass rate and counts written in.
MAX_ANNOTATED_CELLS = 150


class _Axes(Protocol):
    """The part of a matplotlib Axes the pictures draw with."""

    def bar(
        self,
        x: Sequence[float],
        height: Sequence[float],
        *,
        width: Sequence[float] | float,
        bottom: Sequence[float] | float = ...,
        color: str,
        label: str,
        align: str = ...,
    ) -> object:
        ...

    def scatter(
        self,
        x: Sequence[float],
        y: Sequence[float],
        *,
        s: float,
        c: str,
        marker: str,
        label: str,
        linewidths: float,
        alpha: float,
        zorder: float,
    ) -> object:
        ...

    def errorbar(
        self,
        x: Sequence[float],
        y: Sequence[float],
        *,
        yerr: Sequence[Sequence[float]],
        fmt: str,
        color: str,
        label: str,
        capsize: float,
        linewidth: float,
        markersize: float,
    ) -> object:
        ...

    def imshow(
        self,
        data: Sequence[Sequence[float]],
        *,
        origin: str,
        aspect: str,
        vmin: float,
        vmax: float,
        cmap: str,
    ) -> object:
        ...

    def text(
        self, x: float, y: float, s: str, *, ha: str, va: str, fontsize: float, color: str = ...
    ) -> object:
        ...

    def set_xticks(
        self,
        ticks: Iterable[float],
        labels: Sequence[str],
        *,
        rotation: float = ...,
        fontsize: float = ...,
    ) -> object:
        ...

    def set_yticks(
        self, ticks: Iterable[float], labels: Sequence[str], *, fontsize: float = ...
    ) -> object:
        ...

    def set_title(self, label: str, *, fontsize: float) -> object:
        ...

    def set_xlabel(self, label: str, *, fontsize: float = ...) -> object:
        ...

    def set_ylabel(self, label: str, *, fontsize: float = ...) -> object:
        ...

    def set_ylim(self, bottom: float, top: float, /) -> object:
        ...

    def legend(self, *, fontsize: float, loc: str = ...) -> object:
        ...

    def set_visible(self, visible: bool, /) -> None:
        ...

    def grid(self, visible: bool, *, alpha: float) -> None:
        ...


class _Figure(Protocol):
    """The part of a matplotlib Figure the pictures use."""

    def tight_layout(self) -> None:
        ...

    def savefig(self, to: IO[bytes], *, format: str, dpi: int) -> None:
        ...

    def colorbar(self, mappable: object, *, ax: _Axes, label: str) -> object:
        ...

    def suptitle(self, title: str, *, fontsize: float) -> object:
        ...


def file_part(name: str) -> str:
    """A name as part of a file name: only letters, digits, '_', '.' and '-'."""
    return re.sub(r"[^A-Za-z0-9_.-]+", "_", name).strip("_")


def labelled(name: str) -> str:
    """A metric or field with its unit spelt out: converge_s -> "converge_s (s)"."""
    last = name.rsplit("_", 1)[-1] if "_" in name else ""
    unit = UNITS.get(last.split("[")[0])
    return "%s (%s)" % (name, unit) if unit else name


def outcome(s: Sampled, checks: Sequence[str]) -> str:
    """What a sampled flight is coloured by: passed, refused, the one
    reported check it failed, or several checks."""
    if s.refused:
        return "refused"
    if s.passed:
        return "passed"
    return s.failed[0] if len(s.failed) == 1 else "several checks"


def outcome_colours(checks: Sequence[str]) -> Dict[str, str]:
    """The colour of each outcome; failures drawn first, passed on top."""
    colours = {c: CHECK_COLOURS[k % len(CHECK_COLOURS)] for k, c in enumerate(checks)}
    colours.update(
        {"several checks": SEVERAL_COLOUR, "refused": REFUSED_COLOUR, "passed": PASS_COLOUR}
    )
    return colours


def rate_with_interval(passed: int, flights: int) -> Tuple[float, float, float]:
    """(rate, low, high), nan without flights."""
    if not flights:
        return (math.nan, math.nan, math.nan)
    low, high = wilson_interval(passed, flights)
    rate = passed / flights
    # The interval holds the rate; rounding must not put it a hair outside.
    return (rate, min(low, rate), max(high, rate))


def _grid_of_axes(
    count: int, width: float = 4.4, height: float = 3.3, columns: int = 3
) -> Tuple[_Figure, List[_Axes]]:
    """A figure of count plots, columns to a row, each width x height inches."""
    columns = min(columns, max(count, 1))
    rows = (count + columns - 1) // columns
    fig: _Figure
    axes: Sequence[Sequence[_Axes]]
    fig, axes = plt.subplots(
        rows, columns, figsize=(width * columns, height * rows + 0.5), squeeze=False
    )
    flat = [ax for row in axes for ax in row]
    for ax in flat[count:]:
        ax.set_visible(False)
    return fig, flat[:count]


def save(fig: _Figure, out_dir: str, name: str) -> str:
    """Writes the figure as pictures/NAME (aside, then renamed) and closes it."""
    fig.tight_layout()
    try:
        return _folder.write_atomically(
            out_dir,
            os.path.join(PICTURES_DIR, name),
            lambda f: fig.savefig(f, format="png", dpi=90),
            binary=True,
        )
    finally:
        plt.close(fig)


def histograms(table: Table, out_dir: str) -> str:
    """One histogram per metric, passed and failed flights stacked."""
    fig, axes = _grid_of_axes(len(table.metrics))
    fig.suptitle(
        "Metrics of %d flights: passed (blue) and failed (red) stacked" % table.flights, fontsize=12
    )
    for ax, metric in zip(axes, table.metrics):
        h = table.histograms[metric]
        notes = []
        if h.never:
            notes.append("%d never" % h.never)
        missing = table.metric_summaries[metric]["missing"]
        if missing:
            notes.append("%d without a value" % missing)
        ax.set_title(labelled(metric) + ("  (%s)" % ", ".join(notes) if notes else ""), fontsize=9)
        if h.edges:
            left = h.edges[:-1]
            widths = [b - a for a, b in zip(h.edges, h.edges[1:])]
            ax.bar(
                left,
                [float(k) for k in h.passed],
                width=widths,
                color=PASS_COLOUR,
                label="passed",
                align="edge",
            )
            ax.bar(
                left,
                [float(k) for k in h.failed],
                width=widths,
                bottom=[float(k) for k in h.passed],
                color=FAIL_COLOUR,
                label="failed",
                align="edge",
            )
        ax.set_xlabel(labelled(metric), fontsize=8)
        ax.set_ylabel("flights", fontsize=8)
    return save(fig, out_dir, "histograms.png")


def against_variable(table: Table, variable: str, out_dir: str) -> str:
    """Each metric against one dispersed variable, for the sampled flights,
    coloured by the check they failed; passed flights drawn on top."""
    colours = outcome_colours(table.checks)
    groups: Dict[str, List[Sampled]] = {}
    for s in table.samples:
        groups.setdefault(outcome(s, table.checks), []).append(s)
    fig, axes = _grid_of_axes(len(table.metrics))
    fig.suptitle(
        "Metrics against %s: %s, coloured by the check failed"
        % (labelled(variable), sample_words(table)),
        fontsize=11,
    )
    for ax, metric in zip(axes, table.metrics):
        for z, (name, colour) in enumerate(colours.items()):
            flights = groups.get(name, [])
            pts = [
                (scatter_x(table, variable, s), s.metrics[metric])
                for s in flights
                if variable in s.values and metric in s.metrics and math.isfinite(s.metrics[metric])
            ]
            # The first panel carries the legend for all of them: it names
            # every outcome drawn anywhere, even one its own metric cannot
            # show (a flight that never converged has no converge_s).
            if pts or (flights and ax is axes[0]):
                ax.scatter(
                    [p[0] for p in pts],
                    [p[1] for p in pts],
                    s=7,
                    c=colour,
                    marker="o",
                    label=_legend(name, len(flights), table),
                    linewidths=0.0,
                    alpha=0.6,
                    zorder=z,
                )
        ax.set_xlabel(labelled(variable), fontsize=8)
        ax.set_ylabel(labelled(metric), fontsize=8)
        ax.set_title(labelled(metric), fontsize=9)
        ticks = table.by_value[variable]
        if ticks.edges is None:
            ax.set_xticks([float(k) for k in range(len(ticks.labels))], ticks.labels, fontsize=8)
    if axes:
        axes[0].legend(fontsize=7, loc="best")
    return save(fig, out_dir, "vs_%s.png" % file_part(variable))


# How far apart the flights of one choice or grid value are spread in a
# scatter plot, in units of the spacing between values.
JITTER = 0.6


def scatter_x(table: Table, variable: str, s: Sampled) -> float:
    """Where a sampled flight is drawn along a variable: its value, or for
    a choice or grid, the value's place spread by a jitter fixed by the
    flight's index, so the flights of one value do not hide each other."""
    rates = table.by_value[variable]
    if rates.edges is not None:
        return float(s.values[variable])
    place = rates.slot(s.values[variable])
    spread = (mix(s.index) % 1000) / 1000.0 - 0.5
    return float(place if place is not None else 0) + JITTER * spread


def sample_words(table: Table) -> str:
    """Which flights a scatter plot shows."""
    if len(table.samples) == table.flights:
        return "all %d flights" % table.flights
    return "%d of the %d flights (up to %d passed and %d failed, spread evenly)" % (
        len(table.samples),
        table.flights,
        SAMPLE_PER_OUTCOME,
        SAMPLE_PER_OUTCOME,
    )


def _legend(name: str, sampled: int, table: Table) -> str:
    """An outcome's legend entry: how many of its flights the plots show, of
    how many passed."""
    if name == "passed":
        return "passed (%d of %d drawn)" % (sampled, table.total.passed)
    return "%s (%d drawn)" % ("failed " + name if name in table.checks else name, sampled)


def pass_rate_by_value(table: Table, out_dir: str) -> str:
    """For each dispersed variable, the pass rate of all reported checks
    and of each check at each value (or bin), with 95 % intervals."""
    fig, axes = _grid_of_axes(len(table.variables))
    fig.suptitle(
        "Pass rate per value of each dispersed variable (95 % Wilson intervals)", fontsize=12
    )
    colours = outcome_colours(table.checks)
    for ax, variable in zip(axes, table.variables):
        rates = table.by_value[variable]
        xs: List[float] = (
            [float(k) for k in range(len(rates.labels))] if rates.edges is None else rates.centres
        )
        series: List[Tuple[str, Optional[str], str]] = [("all checks", None, "#000000")]
        series += [(c, c, colours[c]) for c in table.checks] if len(table.checks) > 1 else []
        for label, check, colour in series:
            points = [
                (x, rate_with_interval(t.passes(check), t.judged(check)))
                for x, t in zip(xs, rates.tallies)
                if t.judged(check)
            ]
            if not points:
                continue
            ax.errorbar(
                [p[0] for p in points],
                [p[1][0] for p in points],
                yerr=[[p[1][0] - p[1][1] for p in points], [p[1][2] - p[1][0] for p in points]],
                fmt="o-",
                color=colour,
                label=label,
                capsize=2,
                linewidth=1.5 if check is None else 0.8,
                markersize=3,
            )
        if rates.edges is None:
            ax.set_xticks(xs, rates.labels, rotation=45 if len(xs) > 6 else 0, fontsize=8)
        ax.set_ylim(-0.02, 1.02)
        ax.set_xlabel(labelled(variable), fontsize=8)
        ax.set_ylabel("pass rate", fontsize=8)
        ax.set_title(labelled(variable), fontsize=9)
        ax.grid(True, alpha=0.3)
    if axes:
        axes[0].legend(fontsize=7, loc="lower left")
    return save(fig, out_dir, "pass_rate_by_value.png")


def grid_pass_rate(
    table: Table, grid: Sequence[Dispersion], check: Optional[str] = None
) -> Tuple[List[Value], List[Optional[Value]], List[List[Optional[Tuple[int, int]]]]]:
    """(passed, flights) of check (None: all reported checks) at each point
    of the first two grid variables, the others pooled: (xs, ys,
    counts[y][x]); a point no flight flew is None."""
    xv: List[Value] = list(grid[0].values)
    yv: List[Optional[Value]] = list(grid[1].values) if len(grid) > 1 else [None]
    counts: List[List[Optional[Tuple[int, int]]]] = []
    for y in yv:
        row: List[Optional[Tuple[int, int]]] = []
        for x in xv:
            t = table.grid.get((x, y))
            row.append(
                None if t is None or not t.judged(check) else (t.passes(check), t.judged(check))
            )
        counts.append(row)
    return xv, yv, counts


def grid_tick(value: Optional[Value]) -> str:
    """A grid value as its axis names it: a name as written, a number short."""
    return value if isinstance(value, str) else "%.4g" % float(value or 0)


def grid_place(values: Sequence[Optional[Value]], k: int) -> float:
    """Where grid value k is drawn on a line plot: at its number, or at its
    place in the list for a grid of names (aircraft, parameter files)."""
    value = values[k]
    return float(k) if isinstance(value, str) else float(value or 0)


def _every_kth(count: int, most: int = 25) -> List[int]:
    """Tick positions: every value, or every k-th of a long grid."""
    return list(range(0, count, max(1, -(-count // most))))


def heatmap(table: Table, grid: Sequence[Dispersion], out_dir: str) -> str:
    """The pass rate over the grid: a map of two variables with each cell's
    rate and count, or a curve of one with its intervals."""
    xv, yv, counts = grid_pass_rate(table, grid)
    fig: _Figure
    ax: _Axes
    fig, ax = plt.subplots(figsize=(7.5, 5.5))
    what = "all checks" if len(table.checks) != 1 else table.checks[0]
    ax.set_title("Pass rate of %s over the grid (%d flights)" % (what, table.flights), fontsize=11)
    if len(grid) > 1:
        rates = [
            [math.nan if c is None or not c[1] else c[0] / c[1] for c in row] for row in counts
        ]
        image = ax.imshow(rates, origin="lower", aspect="auto", vmin=0, vmax=1, cmap="RdYlGn")
        xs, ys = _every_kth(len(xv)), _every_kth(len(yv))
        ax.set_xticks(xs, [grid_tick(xv[k]) for k in xs], rotation=45, fontsize=8)
        ax.set_yticks(ys, [grid_tick(yv[k]) for k in ys], fontsize=8)
        ax.set_ylabel(labelled(grid[1].path))
        if len(xv) * len(yv) <= MAX_ANNOTATED_CELLS:
            for j, row in enumerate(counts):
                for i, c in enumerate(row):
                    if c is not None:
                        rate = c[0] / c[1]
                        # White on the dark ends of the colour scale.
                        ax.text(
                            i,
                            j,
                            "%.0f%%\n%d/%d" % (100 * rate, c[0], c[1]),
                            ha="center",
                            va="center",
                            fontsize=8,
                            color="#ffffff" if not 0.25 <= rate <= 0.8 else "#000000",
                        )
        fig.colorbar(image, ax=ax, label="pass rate")
    else:
        pts = [
            (grid_place(xv, k), rate_with_interval(*c))
            for k, c in enumerate(counts[0])
            if c is not None
        ]
        ax.errorbar(
            [p[0] for p in pts],
            [p[1][0] for p in pts],
            yerr=[[p[1][0] - p[1][1] for p in pts], [p[1][2] - p[1][0] for p in pts]],
            fmt="o-",
            color="#000000",
            label=what,
            capsize=3,
            linewidth=1.2,
            markersize=4,
        )
        if any(isinstance(x, str) for x in xv):
            ax.set_xticks([float(k) for k in range(len(xv))], [grid_tick(x) for x in xv])
        ax.set_ylim(-0.02, 1.02)
        ax.set_ylabel("pass rate (95 % Wilson interval)")
    ax.set_xlabel(labelled(grid[0].path))
    return save(fig, out_dir, "grid_pass_rate.png")


def draw_all(
    table: Table, summary: Summary, out_dir: str, grid: Optional[Sequence[Dispersion]] = None
) -> List[str]:
    """Draws every picture into OUT/pictures; returns their paths."""
    _folder.make_folder(out_dir, PICTURES_DIR)
    paths = [histograms(table, out_dir)]
    if table.variables:
        paths.append(pass_rate_by_value(table, out_dir))
    for variable in table.variables:
        paths.append(against_variable(table, variable, out_dir))
    if grid:
        paths.append(heatmap(table, grid, out_dir))
    if table.engagement is not None:
        paths.append(_engagement_pictures.draw(table.engagement, table.checks, out_dir))
    _remove_stale(out_dir, paths)
    return paths


def _remove_stale(out_dir: str, drawn: Sequence[str]) -> None:
    """Removes the pictures an earlier run drew that this one did not (a
    variable no longer dispersed, a grid no longer swept), so that no
    picture of other flights sits beside these; other files are kept."""
    kept = {os.path.basename(p) for p in drawn}
    for name in _folder.names_in(out_dir, PICTURES_DIR):
        if name not in kept and _folder.is_our_picture(name):
            _folder.remove(out_dir, os.path.join(PICTURES_DIR, name))
