"""report.html: the campaign in one self-contained page (plotly's script is
embedded, so it opens offline): the summary, interactive plots, the
pictures, and 3-D paths of sampled flights and of the worst ones."""

from __future__ import annotations

import base64
import html
import os
from typing import Collection, Iterable, List, Optional, Protocol, Sequence, Tuple

import plotly.graph_objects as go
import plotly.io as pio
import plotly.offline
from plotly.subplots import make_subplots

from ._config import Campaign, Dispersion
from ._pictures import grid_pass_rate, numeric
from ._results import Table
from ._types import Flown, Metric, Summary

REPORT_FILE = "report.html"
PASS_COLOUR, FAIL_COLOUR, WORST_COLOUR = "#1f77b4", "#d62728", "#ff7f0e"

STYLE = """
body { font-family: sans-serif; margin: 1.5em 2em; color: #222; }
h1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: 1.6em; border-bottom: 1px solid #ccc; }
table { border-collapse: collapse; font-size: 0.9em; margin: 0.5em 0; }
th, td { border: 1px solid #ccc; padding: 0.25em 0.6em; text-align: right; }
th { background: #f0f0f0; } td.name { text-align: left; font-family: monospace; }
.bad { color: #b00; } img { max-width: 100%; border: 1px solid #eee; margin: 0.3em 0; }
"""


class _Figure(Protocol):
    """The part of a plotly figure the report builds with."""

    def add_trace(self, trace: object, *, row: int = ..., col: int = ...) -> object: ...
    def update_layout(self, **layout: object) -> object: ...


def _fmt(v: object) -> str:
    """A table cell's value as HTML."""
    if v is None:
        return "&ndash;"
    if isinstance(v, float):
        return "%.4g" % v
    return html.escape(str(v))


def _table(header: Sequence[str], rows: Iterable[Sequence[object]]) -> str:
    """An HTML table; a cell already in HTML (starting with '<') is kept."""
    out = ["<table><tr>%s</tr>" % "".join("<th>%s</th>" % html.escape(h) for h in header)]
    for row in rows:
        cells = []
        for i, v in enumerate(row):
            cls = ' class="name"' if i == 0 else ""
            cells.append("<td%s>%s</td>" % (cls, v if isinstance(v, str) and v.startswith("<") else _fmt(v)))
        out.append("<tr>%s</tr>" % "".join(cells))
    out.append("</table>")
    return "\n".join(out)


def _summary_html(campaign: Campaign, summary: Summary, flown: Flown) -> str:
    """The pass rates, the metrics' percentiles and the worst flights."""
    a = summary["all_checks"]
    parts = ["<p>%d flights of <code>%s</code>, seed %d. All checks held in <b>%.1f %%</b> of the flights "
             "(95 %% confidence interval %.1f&ndash;%.1f %%).</p>"
             % (summary["flights"], html.escape(campaign.scenario_label), campaign.seed,
                100 * a["rate"], 100 * a["ci95"][0], 100 * a["ci95"][1])]
    if summary["refused"]:
        parts.append('<p class="bad">%d flights were refused by the simulator (drawn values out of '
                     'range): see the failure column of flights.csv.</p>' % summary["refused"])
    parts.append("<h3>Checks</h3>")
    parts.append(_table(["check", "passed", "flights", "pass rate", "95 % CI"],
                        [(c, s["passed"], s["flights"], "%.1f %%" % (100 * s["rate"]),
                          "%.1f–%.1f %%" % (100 * s["ci95"][0], 100 * s["ci95"][1]))
                         for c, s in summary["checks"].items()]))
    parts.append("<h3>Metrics</h3>")
    parts.append(_table(["metric", "min", "p5", "p50", "p95", "p99", "max", "mean", "without value"],
                        [(m, s["min"], s["percentiles"][5], s["percentiles"][50], s["percentiles"][95],
                          s["percentiles"][99], s["max"], s["mean"], s["missing"])
                         for m, s in summary["metrics"].items()]))
    parts.append("<h3>Worst flights</h3><p>Each has its scenario file in <code>flights/</code>: "
                 "<code>guide-sim flights/FILE.json</code> flies it again.</p>")
    rows: List[Tuple[str, int, Metric, str]] = []
    for metric, ranked in summary["worst"].items():
        for index, value in ranked:
            name = os.path.basename(flown[index][0]) if index in flown else ""
            rows.append((metric, index, value, name))
    parts.append(_table(["metric", "flight", "value", "scenario file"], rows))
    return "\n".join(parts)


def _figure_html(fig: _Figure, height: Optional[int] = None) -> str:
    """A figure as an HTML fragment, drawn by the page's one plotly script."""
    if height:
        fig.update_layout(height=height)
    fig.update_layout(margin=dict(l=50, r=20, t=40, b=40))
    fragment: str = pio.to_html(fig, include_plotlyjs=False, full_html=False)
    return fragment


def _histograms(table: Table) -> str:
    """One histogram per metric."""
    cols = min(3, max(1, len(table.metrics)))
    rows = (len(table.metrics) + cols - 1) // cols
    fig: _Figure = make_subplots(rows=rows, cols=cols, subplot_titles=table.metrics)
    for k, metric in enumerate(table.metrics):
        values = [v for v in numeric(table.column("metrics", metric)) if v is not None and v == v]
        fig.add_trace(go.Histogram(x=values, name=metric, marker_color=PASS_COLOUR, nbinsx=40),
                      row=k // cols + 1, col=k % cols + 1)
    fig.update_layout(showlegend=False, title="Metrics")
    return _figure_html(fig, 280 * rows)


def _scatter(table: Table, variable: str) -> str:
    """Each metric against one dispersed variable, failed flights marked x."""
    cols = min(3, max(1, len(table.metrics)))
    rows = (len(table.metrics) + cols - 1) // cols
    fig: _Figure = make_subplots(rows=rows, cols=cols, subplot_titles=table.metrics)
    xs = numeric(table.column("values", variable))
    index = [r["index"] for r in table.rows]
    for k, metric in enumerate(table.metrics):
        ys = numeric(table.column("metrics", metric))
        for ok, colour, symbol, label in ((True, PASS_COLOUR, "circle", "passed"), (False, FAIL_COLOUR, "x", "failed")):
            sel = [i for i, r in enumerate(table.rows) if r["passed"] == ok]
            fig.add_trace(go.Scatter(x=[xs[i] for i in sel], y=[ys[i] for i in sel], mode="markers",
                                       marker=dict(color=colour, symbol=symbol, size=5), name=label,
                                       text=["flight %d" % index[i] for i in sel], showlegend=k == 0),
                          row=k // cols + 1, col=k % cols + 1)
    fig.update_layout(title="Metrics against %s (failed flights marked x)" % variable)
    return _figure_html(fig, 280 * rows)


def _heatmap(table: Table, grid: Sequence[Dispersion]) -> str:
    """The pass rate over the grid: a map of two variables, or a curve of one."""
    xv, _, rates = grid_pass_rate(table, grid)
    fig: _Figure
    if len(grid) > 1:
        yv = grid[1].values  # the rows of rates
        fig = go.Figure(go.Heatmap(x=[float(x) for x in xv], y=[float(y) for y in yv], z=rates,
                                   zmin=0, zmax=1, colorscale="RdYlGn",
                                   colorbar=dict(title="pass rate")))
        fig.update_layout(xaxis_title=grid[0].path, yaxis_title=grid[1].path)
    else:
        fig = go.Figure(go.Scatter(x=[float(x) for x in xv], y=rates[0], mode="lines+markers"))
        fig.update_layout(xaxis_title=grid[0].path, yaxis_title="pass rate", yaxis_range=[0, 1])
    fig.update_layout(title="Pass rate of all checks over the grid")
    return _figure_html(fig, 450)


def _paths(flown: Flown, sample: Collection[int], worst: Collection[int]) -> str:
    """The 3-D paths of the sampled flights and of the worst ones."""
    fig: _Figure = go.Figure()
    for index, (_, result) in sorted(flown.items()):
        path = result.get("path") or []
        is_worst = index in worst
        if not path or not (is_worst or index in sample):
            continue
        colour = WORST_COLOUR if is_worst else (PASS_COLOUR if result["passed"] else FAIL_COLOUR)
        fig.add_trace(go.Scatter3d(
            x=[p[1] for p in path], y=[p[2] for p in path], z=[p[3] for p in path], mode="lines",
            line=dict(color=colour, width=4 if is_worst else 2),
            name="flight %d%s" % (index, " (worst)" if is_worst else "")))
    fig.update_layout(title="Paths: sampled flights (blue passed, red failed) and the worst (orange)",
                      scene=dict(xaxis_title="north (m)", yaxis_title="east (m)", zaxis_title="altitude (m)"))
    return _figure_html(fig, 600)


def _image(path: str) -> str:
    """A picture embedded in the page."""
    with open(path, "rb") as f:
        data = base64.b64encode(f.read()).decode("ascii")
    return '<p><img alt="%s" src="data:image/png;base64,%s"></p>' % (html.escape(os.path.basename(path)), data)


def write(campaign: Campaign, table: Table, summary: Summary, flown: Flown, sample: Iterable[int],
          out_dir: str, pictures: Sequence[str]) -> str:
    """Writes OUT/report.html (aside, then renamed); returns its path."""
    worst = {i for ranked in summary["worst"].values() for i, _ in ranked}
    body = ["<h1>Campaign %s</h1>" % html.escape(campaign.name),
            "<h2>Summary</h2>", _summary_html(campaign, summary, flown),
            "<h2>Distributions</h2>", _histograms(table)]
    for variable in table.variables:
        body.append(_scatter(table, variable))
    if campaign.grid:
        body += ["<h2>Grid</h2>", _heatmap(table, campaign.grid)]
    body += ["<h2>Paths in 3-D</h2>", _paths(flown, set(sample), worst)]
    if pictures:
        body.append("<h2>Pictures</h2>")
        body += [_image(p) for p in pictures]
    page = ('<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8">\n<title>Campaign %s</title>\n'
            "<style>%s</style>\n<script>%s</script>\n</head><body>\n%s\n</body></html>\n"
            % (html.escape(campaign.name), STYLE, plotly.offline.get_plotlyjs(), "\n".join(body)))
    path = os.path.join(out_dir, REPORT_FILE)
    with open(path + ".partial", "w", encoding="utf-8") as f:
        f.write(page)
    os.replace(path + ".partial", path)
    return path
