"""report.html: the campaign in one self-contained page (plotly's script is
embedded once, minified where terser is installed, so it opens offline):
the summary, the pass rate per value of each dispersed variable,
histograms, a sample of the flights against each variable coloured by the
check they failed, the pass rate over a grid and 3-D paths of sampled
flights and of the worst ones.

Everything is drawn from the merged aggregates, never from every flight:
the page weighs the same few megabytes at a thousand flights or ten
million. The matplotlib pictures are linked, not embedded again."""

from __future__ import annotations

import html
import math
import os
from typing import Collection, Dict, Iterable, List, Optional, Protocol, Sequence, Tuple

import plotly.graph_objects as go
import plotly.io as pio
from plotly.subplots import make_subplots

from . import _engagement_report, _folder, _plotly_script
from ._config import Campaign, Dispersion
from ._pictures import (
    PASS_COLOUR,
    grid_pass_rate,
    grid_place,
    grid_tick,
    labelled,
    outcome,
    outcome_colours,
    rate_with_interval,
    sample_words,
    scatter_x,
)
from ._results import Sampled, Table
from ._types import Flown, Metric, Summary

REPORT_FILE = "report.html"
FAIL_COLOUR, WORST_COLOUR = "#d62728", "#ff7f0e"
PLOT_HEIGHT_PX = 300
# A grid of more points shows all checks only: a map per check would make
# the page heavy (each cell carries its hover text).
MAX_CELLS_PER_CHECK = 2000
# Scatter figures drawn with WebGL (with the 3-D paths, under the dozen or
# so live WebGL canvases browsers allow a page); more are drawn as SVG.
MAX_WEBGL_FIGURES = 8
# Figures in the page's data: more digits than any plot resolves only
# weigh the page down (flights.csv keeps every digit).
PLOT_DIGITS = "%.4g"

STYLE = """
body { font-family: sans-serif; margin: 1.5em 2em; color: #222; }
h1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: 1.6em; border-bottom: 1px solid #ccc; }
table { border-collapse: collapse; font-size: 0.9em; margin: 0.5em 0; }
th, td { border: 1px solid #ccc; padding: 0.25em 0.6em; text-align: right; }
th { background: #f0f0f0; } td.name { text-align: left; font-family: monospace; }
.bad { color: #b00; } .note { color: #555; font-size: 0.9em; }
"""


class _Figure(Protocol):
    """The part of a plotly figure the report builds with."""

    def add_trace(self, trace: object, *, row: int = ..., col: int = ...) -> object:
        ...

    def update_layout(self, **layout: object) -> object:
        ...

    def update_xaxes(self, **axis: object) -> object:
        ...

    def update_yaxes(self, **axis: object) -> object:
        ...

    def add_annotation(self, **annotation: object) -> object:
        ...


def _fmt(v: object) -> str:
    """A table cell's value as HTML: never for a time never reached."""
    if v is None:
        return "&ndash;"
    if isinstance(v, float):
        return "never" if v == math.inf else "%.4g" % v
    return html.escape(str(v))


def _short(v: float) -> float:
    """A figure rounded for drawing."""
    return float(PLOT_DIGITS % v)


def _table(header: Sequence[str], rows: Iterable[Sequence[object]]) -> str:
    """An HTML table; a cell already in HTML (starting with '<') is kept."""
    out = ["<table><tr>%s</tr>" % "".join("<th>%s</th>" % html.escape(h) for h in header)]
    for row in rows:
        cells = []
        for i, v in enumerate(row):
            cls = ' class="name"' if i == 0 else ""
            cells.append(
                "<td%s>%s</td>" % (cls, v if isinstance(v, str) and v.startswith("<") else _fmt(v))
            )
        out.append("<tr>%s</tr>" % "".join(cells))
    out.append("</table>")
    return "\n".join(out)


def _replay_links(page: Optional[str], out_dir: str) -> str:
    """A listed flight's 3-D replay and its Tacview file, linked."""
    if page is None:
        return "&ndash;"
    href = os.path.relpath(page, out_dir)
    acmi = href[: -len(".html")] + ".acmi"
    return '<a href="%s">3-D</a> <a href="%s">ACMI</a>' % (html.escape(href), html.escape(acmi))


def _summary_html(
    campaign: Campaign, summary: Summary, flown: Flown, out_dir: str, replays: Dict[int, str]
) -> str:
    """The pass rates, the metrics' percentiles and the worst flights."""
    a = summary["all_checks"]
    checks = ", ".join(summary["checks"]) or "none"
    parts = [
        "<p>%d flights of <code>%s</code>, seed %d. The checks reported (%s) all held in "
        "<b>%.1f %%</b> of the flights (95 %% confidence interval %.1f&ndash;%.1f %%).</p>"
        % (
            summary["flights"],
            html.escape(campaign.scenario_label),
            campaign.seed,
            html.escape(checks),
            100 * a["rate"],
            100 * a["ci95"][0],
            100 * a["ci95"][1],
        )
    ]
    if summary["refused"]:
        parts.append(
            '<p class="bad">%d flights were refused by the simulator (drawn values out of '
            "range): see the failure column of flights.csv.</p>" % summary["refused"]
        )
    parts.append("<h3>Checks</h3>")
    parts.append(
        _table(
            ["check", "passed", "flights", "pass rate", "95 % CI"],
            [
                (
                    c,
                    s["passed"],
                    s["flights"],
                    "%.1f %%" % (100 * s["rate"]),
                    "%.1f–%.1f %%" % (100 * s["ci95"][0], 100 * s["ci95"][1]),
                )
                for c, s in summary["checks"].items()
            ],
        )
    )
    parts.append(
        '<h3>Metrics</h3><p class="note">A flight that never converged counts as later than '
        "any that did (&ldquo;never&rdquo;); the mean is over the flights that did.</p>"
    )
    parts.append(
        _table(
            ["metric", "min", "p5", "p50", "p95", "p99", "max", "mean", "never", "without value"],
            [
                (
                    m,
                    s["min"],
                    s["percentiles"][5],
                    s["percentiles"][50],
                    s["percentiles"][95],
                    s["percentiles"][99],
                    s["max"],
                    s["mean"],
                    s.get("never", 0),
                    s["missing"],
                )
                for m, s in summary["metrics"].items()
            ],
        )
    )
    parts.append(
        "<h3>Worst flights</h3><p>Each has its scenario file in <code>flights/</code>: "
        "<code>guide-sim flights/FILE.json</code> flies it again; its replay opens in a "
        "browser (3-D) or in Tacview (ACMI).</p>"
    )
    rows: List[Tuple[str, int, object, str, str]] = []
    for metric, ranked in summary["worst"].items():
        for index, value in ranked:
            name = os.path.basename(flown[index][0]) if index in flown else ""
            replay = _replay_links(replays.get(index), out_dir)
            rows.append((metric, index, "never" if value is None else value, name, replay))
    parts.append(_table(["metric", "flight", "value", "scenario file", "replay"], rows))
    return "\n".join(parts)


def _figure_html(fig: _Figure, height: Optional[int] = None) -> str:
    """A figure as an HTML fragment, drawn by the page's one plotly script."""
    if height:
        fig.update_layout(height=height)
    fig.update_layout(margin=dict(l=60, r=20, t=60, b=50))
    fragment: str = pio.to_html(
        fig, include_plotlyjs=False, full_html=False, config={"displaylogo": False}
    )
    return fragment


def _subplots(names: Sequence[str]) -> Tuple[_Figure, int, int]:
    """A figure of one plot per name, three to a row: (figure, rows, cols)."""
    cols = min(3, max(1, len(names)))
    rows = (len(names) + cols - 1) // cols
    fig: _Figure = make_subplots(
        rows=rows,
        cols=cols,
        subplot_titles=[labelled(n) for n in names],
        vertical_spacing=min(0.12, 0.5 / max(rows, 1)),
    )
    return fig, rows, cols


def _pass_rates(table: Table) -> str:
    """Pass rate of all checks and of each check per value of each
    dispersed variable, with 95 % intervals and counts on hover."""
    fig, rows, cols = _subplots(table.variables)
    colours = outcome_colours(table.checks)
    series: List[Tuple[str, Optional[str], str]] = [("all checks", None, "#000000")]
    if len(table.checks) > 1:
        series += [(c, c, colours[c]) for c in table.checks]
    for k, variable in enumerate(table.variables):
        rates = table.by_value[variable]
        for label, check, colour in series:
            xs, ys, lo, hi, hover = [], [], [], [], []
            for x, name, t in zip(rates.centres, rates.labels, rates.tallies):
                judged = t.judged(check)
                if not judged:
                    continue
                rate, low, high = rate_with_interval(t.passes(check), judged)
                xs.append(name if rates.edges is None else _short(x))
                ys.append(round(rate, 5))
                lo.append(round(rate - low, 5))
                hi.append(round(high - rate, 5))
                hover.append(
                    "%s %s: %.1f %% (95 %% CI %.1f–%.1f %%), %d of %d flights"
                    % (label, name, 100 * rate, 100 * low, 100 * high, t.passes(check), judged)
                )
            fig.add_trace(
                go.Scatter(
                    x=xs,
                    y=ys,
                    mode="lines+markers",
                    name=label,
                    legendgroup=label,
                    showlegend=k == 0,
                    line=dict(color=colour, width=2 if check is None else 1),
                    error_y=dict(
                        type="data", symmetric=False, array=hi, arrayminus=lo, thickness=1, width=2
                    ),
                    hovertext=hover,
                    hoverinfo="text",
                ),
                row=k // cols + 1,
                col=k % cols + 1,
            )
    fig.update_yaxes(range=[-0.02, 1.02])
    fig.update_layout(
        title="Pass rate per value of each dispersed variable (bins of a drawn one; "
        "bars: 95 % Wilson interval)"
    )
    return _figure_html(fig, PLOT_HEIGHT_PX * rows + 80)


def _histograms(table: Table) -> str:
    """One histogram per metric, passed and failed flights stacked."""
    fig, rows, cols = _subplots(table.metrics)
    for k, metric in enumerate(table.metrics):
        h = table.histograms[metric]
        if not h.edges:
            continue
        centres = [_short((a + b) / 2) for a, b in zip(h.edges, h.edges[1:])]
        width = h.edges[1] - h.edges[0]
        for counts, colour, label in (
            (h.passed, PASS_COLOUR, "passed"),
            (h.failed, FAIL_COLOUR, "failed"),
        ):
            fig.add_trace(
                go.Bar(
                    x=centres,
                    y=counts,
                    width=width,
                    marker_color=colour,
                    name=label,
                    legendgroup=label,
                    showlegend=k == 0,
                    hovertemplate="%{x}: %{y} " + label + " flights<extra></extra>",
                ),
                row=k // cols + 1,
                col=k % cols + 1,
            )
        if h.never:
            fig.add_annotation(
                text="%d never" % h.never,
                xref="x domain" if k == 0 else "x%d domain" % (k + 1),
                yref="y domain" if k == 0 else "y%d domain" % (k + 1),
                x=1,
                y=1,
                showarrow=False,
                font=dict(size=11, color=FAIL_COLOUR),
            )
    fig.update_layout(barmode="stack", bargap=0, title="Metrics: passed and failed flights stacked")
    return _figure_html(fig, PLOT_HEIGHT_PX * rows + 80)


def _scatter(table: Table, variable: str) -> str:
    """Each metric against one dispersed variable for the sampled flights,
    coloured by the check they failed, passed flights drawn last (on top)."""
    fig, rows, cols = _subplots(table.metrics)
    colours = outcome_colours(table.checks)
    # WebGL draws thousands of points several times faster than SVG, but a
    # browser keeps only some WebGL canvases alive at once.
    scatter = go.Scattergl if len(table.variables) <= MAX_WEBGL_FIGURES else go.Scatter
    groups: Dict[str, List[Sampled]] = {}
    for s in table.samples:
        groups.setdefault(outcome(s, table.checks), []).append(s)
    for k, metric in enumerate(table.metrics):
        for name, colour in colours.items():
            pts = [
                s
                for s in groups.get(name, [])
                if variable in s.values and metric in s.metrics and math.isfinite(s.metrics[metric])
            ]
            if not pts:
                continue
            label = "failed " + name if name in table.checks else name
            fig.add_trace(
                scatter(
                    x=[round(scatter_x(table, variable, s), 4) for s in pts],
                    y=[_short(s.metrics[metric]) for s in pts],
                    mode="markers",
                    marker=dict(color=colour, size=4, opacity=0.6),
                    name=label,
                    legendgroup=label,
                    showlegend=k == 0,
                    customdata=[s.index for s in pts],
                    hovertemplate="flight %{customdata}: %{y}<extra>" + label + "</extra>",
                ),
                row=k // cols + 1,
                col=k % cols + 1,
            )
        fig.update_xaxes(
            title_text=labelled(variable), title_font_size=10, row=k // cols + 1, col=k % cols + 1
        )
        rates = table.by_value[variable]
        if rates.edges is None:
            fig.update_xaxes(
                tickmode="array",
                tickvals=list(range(len(rates.labels))),
                ticktext=rates.labels,
                row=k // cols + 1,
                col=k % cols + 1,
            )
    fig.update_layout(
        title="Metrics against %s: %s, coloured by the check failed"
        % (labelled(variable), sample_words(table))
    )
    return _figure_html(fig, PLOT_HEIGHT_PX * rows + 80)


def _heatmap(table: Table, grid: Sequence[Dispersion]) -> str:
    """The pass rate over the grid, of all checks or of one chosen from the
    menu: a map of two variables (rate and counts in each cell, the 95 %
    interval on hover), or a curve of one with its intervals."""
    choices: List[Tuple[str, Optional[str]]] = [("all checks", None)]
    if math.prod(len(d.values) for d in grid[:2]) <= MAX_CELLS_PER_CHECK:
        choices += [(c, c) for c in table.checks]
    fig: _Figure
    if len(grid) > 1:
        zs, texts, hovers = [], [], []
        for _, check in choices:
            xv, yv, counts = grid_pass_rate(table, grid, check)
            z: List[List[Optional[float]]] = []
            text: List[List[str]] = []
            hover: List[List[str]] = []
            for y, row in zip(yv, counts):
                z.append([None if c is None else round(c[0] / c[1], 5) for c in row])
                text.append(
                    [
                        "" if c is None else "%.0f%%<br>%d/%d" % (100 * c[0] / c[1], c[0], c[1])
                        for c in row
                    ]
                )
                hover.append(
                    [
                        "%s = %s, %s = %s: %s" % (grid[0].path, x, grid[1].path, y, _cell_hover(c))
                        for x, c in zip(xv, row)
                    ]
                )
            zs.append(z)
            texts.append(text)
            hovers.append(hover)
        xv, yv, _ = grid_pass_rate(table, grid)
        small = len(xv) * len(yv) <= 150
        # Cells at whole positions, labelled with the values: the grid's
        # points evenly spaced whatever their values.
        fig = go.Figure(
            go.Heatmap(
                x=list(range(len(xv))),
                y=list(range(len(yv))),
                z=zs[0],
                zmin=0,
                zmax=1,
                colorscale="RdYlGn",
                colorbar=dict(title="pass rate"),
                hovertext=hovers[0],
                hoverinfo="text",
            )
        )
        if small:
            fig.update_layout(annotations=_cell_labels(texts[0], zs[0]))
        buttons = [
            dict(
                label=label,
                method="update",
                args=[
                    {"z": [zs[k]], "hovertext": [hovers[k]]},
                    {
                        "annotations": _cell_labels(texts[k], zs[k]) if small else [],
                        "title": "Pass rate of %s over the grid" % label,
                    },
                ],
            )
            for k, (label, _) in enumerate(choices)
        ]
        fig.update_layout(
            xaxis=dict(
                title=labelled(grid[0].path),
                tickmode="array",
                tickvals=list(range(len(xv))),
                ticktext=[grid_tick(x) for x in xv],
            ),
            yaxis=dict(
                title=labelled(grid[1].path),
                tickmode="array",
                tickvals=list(range(len(yv))),
                ticktext=[grid_tick(y) for y in yv],
            ),
        )
    else:
        fig = go.Figure()
        for k, (label, check) in enumerate(choices):
            xv, _, counts = grid_pass_rate(table, grid, check)
            pts = [
                (grid_place(xv, k), c, rate_with_interval(*c), grid_tick(x))
                for k, (x, c) in enumerate(zip(xv, counts[0]))
                if c is not None
            ]
            fig.add_trace(
                go.Scatter(
                    x=[p[0] for p in pts],
                    y=[round(p[2][0], 5) for p in pts],
                    mode="lines+markers",
                    name=label,
                    visible=k == 0,
                    error_y=dict(
                        type="data",
                        symmetric=False,
                        array=[p[2][2] - p[2][0] for p in pts],
                        arrayminus=[p[2][0] - p[2][1] for p in pts],
                    ),
                    hovertext=[
                        "%s = %s: %.1f %% (95 %% CI %.1f–%.1f %%), %d of %d flights"
                        % (
                            grid[0].path,
                            p[3],
                            100 * p[2][0],
                            100 * p[2][1],
                            100 * p[2][2],
                            p[1][0],
                            p[1][1],
                        )
                        for p in pts
                    ],
                    hoverinfo="text",
                )
            )
        buttons = [
            dict(
                label=label,
                method="update",
                args=[
                    {"visible": [j == k for j in range(len(choices))]},
                    {"title": "Pass rate of %s over the grid" % label},
                ],
            )
            for k, (label, _) in enumerate(choices)
        ]
        fig.update_layout(
            xaxis_title=labelled(grid[0].path), yaxis_title="pass rate", yaxis_range=[-0.02, 1.02]
        )
        names = list(grid[0].values)
        if any(isinstance(x, str) for x in names):  # a grid of names: each at its place
            fig.update_xaxes(
                tickmode="array",
                tickvals=list(range(len(names))),
                ticktext=[grid_tick(x) for x in names],
            )
    fig.update_layout(
        title="Pass rate of all checks over the grid",
        updatemenus=[dict(buttons=buttons, x=1.0, xanchor="right", y=1.15, yanchor="top")],
    )
    return _figure_html(fig, 520)


def _cell_hover(counts: Optional[Tuple[int, int]]) -> str:
    """A grid cell's pass rate, interval and counts, for its hover text."""
    if counts is None:
        return "no flights"
    rate, low, high = rate_with_interval(*counts)
    return "%.1f %% (95 %% CI %.1f–%.1f %%), %d of %d flights" % (
        100 * rate,
        100 * low,
        100 * high,
        *counts,
    )


def _cell_labels(text: List[List[str]], z: List[List[Optional[float]]]) -> List[Dict[str, object]]:
    """Each grid cell's rate and counts written in it, white on the dark
    ends of the colour scale."""
    return [
        dict(
            x=i,
            y=j,
            text=t,
            showarrow=False,
            font=dict(size=11, color="#ffffff" if not 0.25 <= (rate or 0.0) <= 0.8 else "#000000"),
        )
        for j, (row, rates) in enumerate(zip(text, z))
        for i, (t, rate) in enumerate(zip(row, rates))
        if t
    ]


def _paths(
    flown: Flown, sample: Collection[int], worst: Collection[int], checks: Collection[str]
) -> str:
    """The 3-D paths of the sampled flights and of the worst ones, coloured
    by the reported checks."""
    fig: _Figure = go.Figure()
    for index, (_, result) in sorted(flown.items()):
        path = result.get("path") or []
        is_worst = index in worst
        if not path or not (is_worst or index in sample):
            continue
        passed = all(c["passed"] for c in result["checks"] if c["check"] in checks)
        colour = WORST_COLOUR if is_worst else (PASS_COLOUR if passed else FAIL_COLOUR)
        fig.add_trace(
            go.Scatter3d(
                x=[_short(p[1]) for p in path],
                y=[_short(p[2]) for p in path],
                z=[_short(p[3]) for p in path],
                mode="lines",
                line=dict(color=colour, width=4 if is_worst else 2),
                name="flight %d%s" % (index, " (worst)" if is_worst else ""),
            )
        )
        target = result.get("target_path") or []
        if is_worst and target:  # an engagement: what it chased, dashed
            fig.add_trace(
                go.Scatter3d(
                    x=[_short(p[1]) for p in target],
                    y=[_short(p[2]) for p in target],
                    z=[_short(p[3]) for p in target],
                    mode="lines",
                    line=dict(color="#555555", width=2, dash="dash"),
                    name="flight %d's target" % index,
                )
            )
    fig.update_layout(
        title="Paths: sampled flights (blue passed the reported checks, red failed one) "
        "and the worst (orange; an engagement's target dashed)",
        scene=dict(
            xaxis_title="north (m)",
            yaxis_title="east (m)",
            zaxis_title="altitude (m)",
            aspectmode="data",
        ),
    )
    return _figure_html(fig, 600)


def _picture_links(pictures: Sequence[str], out_dir: str) -> str:
    """The matplotlib pictures, linked beside the page rather than embedded
    again: they show what the plots above show."""
    items = [
        '<li><a href="%s">%s</a></li>'
        % (html.escape(os.path.relpath(p, out_dir)), html.escape(os.path.relpath(p, out_dir)))
        for p in pictures
    ]
    return "<p>The same plots as PNG files, for documents:</p><ul>%s</ul>" % "".join(items)


def write(
    campaign: Campaign,
    table: Table,
    summary: Summary,
    flown: Flown,
    sample: Iterable[int],
    out_dir: str,
    pictures: Sequence[str],
    replays: Optional[Dict[int, str]] = None,
) -> str:
    """Writes OUT/report.html (aside, then renamed); returns its path.
    replays: the 3-D replay page of listed flights by index, linked."""
    worst = {i for ranked in summary["worst"].values() for i, _ in ranked}
    body = [
        "<h1>Campaign %s</h1>" % html.escape(campaign.name),
        "<h2>Summary</h2>",
        _summary_html(campaign, summary, flown, out_dir, replays or {}),
    ]
    if table.engagement is not None:
        body += [
            "<h2>Over the engagement's geometry</h2>",
            _engagement_report.section(campaign, table.engagement, summary, replays or {}, out_dir),
        ]
    if table.variables:
        body += ["<h2>Pass rate per value</h2>", _pass_rates(table)]
    body += ["<h2>Distributions</h2>", _histograms(table)]
    if table.variables:
        body.append("<h2>Metrics against each variable</h2>")
        body += [_scatter(table, variable) for variable in table.variables]
    if campaign.grid:
        body += ["<h2>Grid</h2>", _heatmap(table, campaign.grid)]
    body += ["<h2>Paths in 3-D</h2>", _paths(flown, set(sample), worst, set(table.checks))]
    if pictures:
        body += ["<h2>Pictures</h2>", _picture_links(pictures, out_dir)]
    page = (
        '<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8">\n<title>Campaign %s</title>\n'
        "<style>%s</style>\n<script>%s</script>\n</head><body>\n%s\n</body></html>\n"
        % (html.escape(campaign.name), STYLE, _plotly_script.embedded(), "\n".join(body))
    )
    return _folder.write_atomically(out_dir, REPORT_FILE, lambda f: f.write(page))
