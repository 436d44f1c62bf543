"""The campaign's pictures (matplotlib, drawn off-screen): a histogram of
each metric, each metric against each dispersed variable with the failed
flights marked, and the pass rate over a swept grid."""

import os
import re

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

PICTURES_DIR = "pictures"
PASS_COLOUR, FAIL_COLOUR = "#1f77b4", "#d62728"


def file_part(name):
    return re.sub(r"[^A-Za-z0-9_.-]+", "_", name).strip("_")


def numeric(values):
    """Values as floats (True/False as 1/0); None stays None."""
    return [None if v is None else float(v) for v in values]


def _grid_of_axes(count, width=4.2, height=3.2, columns=3):
    columns = min(columns, max(count, 1))
    rows = (count + columns - 1) // columns
    fig, axes = plt.subplots(rows, columns, figsize=(width * columns, height * rows), squeeze=False)
    flat = [ax for row in axes for ax in row]
    for ax in flat[count:]:
        ax.set_visible(False)
    return fig, flat[:count]


def _save(fig, out_dir, name):
    path = os.path.join(out_dir, PICTURES_DIR, name)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)
    return path


def histograms(table, out_dir):
    fig, axes = _grid_of_axes(len(table.metrics))
    for ax, metric in zip(axes, table.metrics):
        values = [v for v in numeric(table.column("metrics", metric)) if v is not None and v == v]
        ax.hist(values, bins=40, color=PASS_COLOUR)
        missing = len(table.rows) - len(values)
        ax.set_title(metric + ("  (%d without a value)" % missing if missing else ""), fontsize=9)
        ax.set_ylabel("flights")
    return _save(fig, out_dir, "histograms.png")


def against_variable(table, variable, out_dir):
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


def grid_pass_rate(table, grid):
    """Pass rate of all checks at each point of the first two grid
    variables (other dispersions averaged over): (xs, ys, rates[y][x])."""
    xv, yv = list(grid[0].values), list(grid[1].values) if len(grid) > 1 else [None]
    counts = {}
    for row in table.rows:
        key = (row["values"][grid[0].path], row["values"][grid[1].path] if len(grid) > 1 else None)
        done, ok = counts.get(key, (0, 0))
        counts[key] = (done + 1, ok + (1 if row["passed"] else 0))
    rates = [[(counts[(x, y)][1] / counts[(x, y)][0]) if (x, y) in counts else None for x in xv] for y in yv]
    return xv, yv, rates


def heatmap(table, grid, out_dir):
    xv, yv, rates = grid_pass_rate(table, grid)
    fig, ax = plt.subplots(figsize=(6.5, 5))
    if len(grid) > 1:
        image = ax.imshow([[float("nan") if r is None else r for r in row] for row in rates],
                          origin="lower", aspect="auto", vmin=0, vmax=1, cmap="RdYlGn")
        ax.set_xticks(range(len(xv)), ["%g" % float(x) for x in xv], rotation=45, fontsize=8)
        ax.set_yticks(range(len(yv)), ["%g" % float(y) for y in yv], fontsize=8)
        ax.set_ylabel(grid[1].path)
        fig.colorbar(image, ax=ax, label="pass rate, all checks")
    else:
        ax.plot([float(x) for x in xv], rates[0], "o-")
        ax.set_ylim(-0.02, 1.02)
        ax.set_ylabel("pass rate, all checks")
    ax.set_xlabel(grid[0].path)
    return _save(fig, out_dir, "grid_pass_rate.png")


def draw_all(table, summary, out_dir, grid=None):
    os.makedirs(os.path.join(out_dir, PICTURES_DIR), exist_ok=True)
    paths = [histograms(table, out_dir)]
    for variable in table.variables:
        paths.append(against_variable(table, variable, out_dir))
    if grid:
        paths.append(heatmap(table, grid, out_dir))
    return paths
