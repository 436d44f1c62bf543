"""The campaign's pictures (matplotlib, drawn off-screen): a histogram of
each metric, each metric against each dispersed variable with the failed
flights marked, and the pass rate over a swept grid."""

from __future__ import annotations

import os
import re
from typing import Dict, Iterable, List, Optional, Protocol, Sequence, Tuple

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

from ._config import Dispersion  # noqa: E402
from ._results import Table  # noqa: E402
from ._types import Summary, Value  # noqa: E402

PICTURES_DIR = "pictures"
PASS_COLOUR, FAIL_COLOUR = "#1f77b4", "#d62728"


class _Axes(Protocol):
    """The part of a matplotlib Axes the pictures draw with."""

    def hist(self, x: Sequence[float], *, bins: int, color: str) -> object: ...
    def scatter(self, x: Sequence[float], y: Sequence[float], *, s: float, c: str, marker: str,
                label: str, linewidths: float) -> object: ...
    def plot(self, x: Sequence[float], y: Sequence[Optional[float]], fmt: str, /) -> object: ...
    def imshow(self, data: Sequence[Sequence[float]], *, origin: str, aspect: str, vmin: float,
               vmax: float, cmap: str) -> object: ...
    def set_xticks(self, ticks: Iterable[int], labels: Sequence[str], *, rotation: float = ...,
                   fontsize: float = ...) -> object: ...
    def set_yticks(self, ticks: Iterable[int], labels: Sequence[str], *,
                   fontsize: float = ...) -> object: ...
    def set_title(self, label: str, *, fontsize: float) -> object: ...
    def set_xlabel(self, label: str, *, fontsize: float = ...) -> object: ...
    def set_ylabel(self, label: str, *, fontsize: float = ...) -> object: ...
    def set_ylim(self, bottom: float, top: float, /) -> object: ...
    def legend(self, *, fontsize: float) -> object: ...
    def set_visible(self, visible: bool, /) -> None: ...


class _Figure(Protocol):
    """The part of a matplotlib Figure the pictures use."""

    def tight_layout(self) -> None: ...
    def savefig(self, path: str, *, dpi: int) -> None: ...
    def colorbar(self, mappable: object, *, ax: _Axes, label: str) -> object: ...


def file_part(name: str) -> str:
    """A name as part of a file name: only letters, digits, '_', '.' and '-'."""
    return re.sub(r"[^A-Za-z0-9_.-]+", "_", name).strip("_")


def numeric(values: Iterable[Optional[Value]]) -> List[Optional[float]]:
    """Values as floats (True/False as 1/0); None stays None."""
    return [None if v is None else float(v) for v in values]


def _grid_of_axes(count: int, width: float = 4.2, height: float = 3.2,
                  columns: int = 3) -> Tuple[_Figure, List[_Axes]]:
    """A figure of count plots, columns to a row, each width x height inches."""
    columns = min(columns, max(count, 1))
    rows = (count + columns - 1) // columns
    fig: _Figure
    axes: Sequence[Sequence[_Axes]]
    fig, axes = plt.subplots(rows, columns, figsize=(width * columns, height * rows), squeeze=False)
    flat = [ax for row in axes for ax in row]
    for ax in flat[count:]:
        ax.set_visible(False)
    return fig, flat[:count]


def _save(fig: _Figure, out_dir: str, name: str) -> str:
    """Writes the figure as pictures/NAME and closes it; returns the path."""
    path = os.path.join(out_dir, PICTURES_DIR, name)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)
    return path


def histograms(table: Table, out_dir: str) -> str:
    """One histogram per metric, with how many flights have no value."""
    fig, axes = _grid_of_axes(len(table.metrics))
    for ax, metric in zip(axes, table.metrics):
        values = [v for v in numeric(table.column("metrics", metric)) if v is not None and v == v]
        ax.hist(values, bins=40, color=PASS_COLOUR)
        missing = len(table.rows) - len(values)
        ax.set_title(metric + ("  (%d without a value)" % missing if missing else ""), fontsize=9)
        ax.set_ylabel("flights")
    return _save(fig, out_dir, "histograms.png")


def against_variable(table: Table, variable: str, out_dir: str) -> str:
    """Each metric against one dispersed variable, failed flights marked x."""
    xs = numeric(table.column("values", variable))
    passed = [r["passed"] for r in table.rows]
    fig, axes = _grid_of_axes(len(table.metrics))
    for ax, metric in zip(axes, table.metrics):
        ys = numeric(table.column("metrics", metric))
        for ok, colour, marker, label in ((True, PASS_COLOUR, ".", "passed"), (False, FAIL_COLOUR, "x", "failed")):
            pts = [(x, y) for x, y, p in zip(xs, ys, passed) if p == ok and x is not None and y is not None]
            if pts:
                ax.scatter([p[0] for p in pts], [p[1] for p in pts], s=10, c=colour, marker=marker,
                           label=label, linewidths=0.8)
        ax.set_xlabel(variable, fontsize=8)
        ax.set_ylabel(metric, fontsize=8)
    if axes:
        axes[0].legend(fontsize=8)
    return _save(fig, out_dir, "vs_%s.png" % file_part(variable))


# (x, y) values of a grid point: y is None with a grid of one variable.
GridPoint = Tuple[Value, Optional[Value]]


def grid_pass_rate(table: Table, grid: Sequence[Dispersion]) -> Tuple[
        List[Value], List[Optional[Value]], List[List[Optional[float]]]]:
    """Pass rate of all checks at each point of the first two grid
    variables (other dispersions averaged over): (xs, ys, rates[y][x]);
    a point no flight flew has the rate None."""
    xv: List[Value] = list(grid[0].values)
    yv: List[Optional[Value]] = list(grid[1].values) if len(grid) > 1 else [None]
    counts: Dict[GridPoint, Tuple[int, int]] = {}
    for row in table.rows:
        key = (row["values"][grid[0].path], row["values"][grid[1].path] if len(grid) > 1 else None)
        done, ok = counts.get(key, (0, 0))
        counts[key] = (done + 1, ok + (1 if row["passed"] else 0))
    rates = [[(counts[(x, y)][1] / counts[(x, y)][0]) if (x, y) in counts else None for x in xv] for y in yv]
    return xv, yv, rates


def heatmap(table: Table, grid: Sequence[Dispersion], out_dir: str) -> str:
    """The pass rate over the grid: a map of two variables, or a curve of one."""
    xv, _, rates = grid_pass_rate(table, grid)
    fig: _Figure
    ax: _Axes
    fig, ax = plt.subplots(figsize=(6.5, 5))
    if len(grid) > 1:
        image = ax.imshow([[float("nan") if r is None else r for r in row] for row in rates],
                          origin="lower", aspect="auto", vmin=0, vmax=1, cmap="RdYlGn")
        ax.set_xticks(range(len(xv)), ["%g" % float(x) for x in xv], rotation=45, fontsize=8)
        yv = grid[1].values  # the rows of rates
        ax.set_yticks(range(len(yv)), ["%g" % float(y) for y in yv], fontsize=8)
        ax.set_ylabel(grid[1].path)
        fig.colorbar(image, ax=ax, label="pass rate, all checks")
    else:
        ax.plot([float(x) for x in xv], rates[0], "o-")
        ax.set_ylim(-0.02, 1.02)
        ax.set_ylabel("pass rate, all checks")
    ax.set_xlabel(grid[0].path)
    return _save(fig, out_dir, "grid_pass_rate.png")


def draw_all(table: Table, summary: Summary, out_dir: str,
             grid: Optional[Sequence[Dispersion]] = None) -> List[str]:
    """Draws every picture into OUT/pictures; returns their paths."""
    os.makedirs(os.path.join(out_dir, PICTURES_DIR), exist_ok=True)
    paths = [histograms(table, out_dir)]
    for variable in table.variables:
        paths.append(against_variable(table, variable, out_dir))
    if grid:
        paths.append(heatmap(table, grid, out_dir))
    return paths
