"""The report's pictures of an engagement campaign: two polar maps of the
start's geometry, the target at the centre flying up the page, each cell
a sector of angle off its tail (dead astern at the bottom, its right-hand
side on the right) and a ring of range: the median time into its rear
cone (a distinct colour where most flights never got there), and the pass
rate of the reported checks. The worst flights are marked where they
started; a click on one opens its replay."""

from __future__ import annotations

import html
import math
import os
from typing import Dict, List, Optional, Tuple

import plotly.graph_objects as go
import plotly.io as pio
from plotly.subplots import make_subplots

from . import _draws
from ._config import Campaign
from ._engagement_map import (
    ANGLE_PATH,
    RANGE_PATH,
    SECTOR_DEG,
    Cell,
    EngagementMap,
    sector_centre_deg,
)
from ._types import Summary

NEVER_COLOUR = "#3b3b3b"  # cells whose median flight never got into the cone
WORST_COLOUR = "#ff00ff"  # stands out of both colour scales
TIME_SCALE = "YlOrRd"  # light soon, dark red late
RATE_SCALE = "RdYlGn"
HEIGHT_PX = 600
# Angle off tail 0 (astern) at the bottom, growing towards the target's
# right-hand side, on the right of the page: the target flies up.
ANGULAR_AXIS = dict(
    rotation=270,
    direction="counterclockwise",
    tickmode="array",
    tickvals=[0, 45, 90, 135, 180, 225, 270, 315],
    ticktext=["0 astern", "45", "90 right", "135", "180 ahead", "-135", "-90 left", "-45"],
)
# The range's labels, in the page's degrees (anticlockwise from the
# right): between 135 and 180 deg off the target's tail, on its right.
RANGE_LABELS_AT = 67.5
# Opens a worst flight's replay when its marker is clicked.
CLICK_TO_REPLAY = """
var plot = document.getElementById('{plot_id}');
plot.on('plotly_click', function (event) {
  var point = event.points[0];
  if (point && point.customdata && point.customdata[1]) window.open(point.customdata[1], '_blank');
});
"""


def _cell_words(cell: Cell, sector: int, ring: Tuple[float, float]) -> str:
    """A cell's hover text: where, how many, how soon, how many never,
    how many passed, how near any came."""
    median, best = cell.median_first_s(), cell.best_first_s()
    centre = sector_centre_deg(sector)
    parts = [
        "angle off tail %+.0f ±%.1f deg, range %.2f–%.2f km: %d flights"
        % (centre, SECTOR_DEG / 2, ring[0] / 1000, ring[1] / 1000, cell.flights),
        "median time to rear cone: %s%s"
        % (
            "never" if median == math.inf else "–" if median is None else "%.1f s" % median,
            "" if best is None else " (soonest %.1f s)" % best,
        ),
        "never in the rear cone: %d of %d flown" % (cell.never, cell.flown),
        "passed the reported checks: %d of %d (%.0f %%)"
        % (cell.passed, cell.flights, 100.0 * cell.passed / cell.flights),
    ]
    if cell.refused:
        parts.append("refused by the simulator: %d" % cell.refused)
    if cell.closest_index >= 0:
        parts.append("closest approach %.0f m (flight %d)" % (cell.closest_m, cell.closest_index))
    return "<br>".join(parts)


def _cells(emap: EngagementMap) -> Dict[str, List[object]]:
    """The bars of every filled cell: angle, ring base and depth, median
    time, pass rate, hover text."""
    out: Dict[str, List[object]] = {k: [] for k in ("theta", "base", "r", "median", "rate", "text")}
    edges = emap.ring_edges_m
    for sector, ring, cell in emap.filled():
        out["theta"].append(sector_centre_deg(sector))
        out["base"].append(round(edges[ring], 1))
        out["r"].append(round(edges[ring + 1] - edges[ring], 1))
        out["median"].append(cell.median_first_s())
        out["rate"].append(round(cell.passed / cell.flights, 4))
        out["text"].append(_cell_words(cell, sector, (edges[ring], edges[ring + 1])))
    return out


def _bars(cells: Dict[str, List[object]], keep: List[bool], **style: object) -> go.Barpolar:
    """A Barpolar trace of the cells kept."""

    def pick(key: str) -> List[object]:
        return [v for v, k in zip(cells[key], keep) if k]

    return go.Barpolar(
        theta=pick("theta"),
        base=pick("base"),
        r=pick("r"),
        width=SECTOR_DEG,
        hovertext=pick("text"),
        hoverinfo="text",
        marker_line=dict(color="#ffffff", width=0.5),
        **style,
    )


def _worst_markers(
    campaign: Campaign, summary: Summary, replays: Dict[int, str], out_dir: str
) -> Optional[go.Scatterpolar]:
    """The listed worst flights where they started, their replay linked."""
    plan = campaign.to_plan()
    reasons: Dict[int, List[str]] = {}
    for metric, ranked in summary["worst"].items():
        for index, value in ranked:
            shown = "never" if value is None or value == math.inf else "%.4g" % value
            reasons.setdefault(index, []).append("%s %s" % (metric, shown))
    theta, r, text, data = [], [], [], []
    for index in sorted(reasons):
        values = _draws.draw(plan, index)
        angle, range_m = values.get(ANGLE_PATH), values.get(RANGE_PATH)
        if not isinstance(angle, (int, float)) or not isinstance(range_m, (int, float)):
            continue
        page = replays.get(index)
        href = os.path.relpath(page, out_dir) if page else ""
        theta.append(round(float(angle), 2))
        r.append(round(float(range_m), 1))
        text.append(
            "worst: flight %d<br>%s%s"
            % (index, "<br>".join(reasons[index]), "<br>click: its replay" if href else "")
        )
        data.append([index, href])
    if not theta:
        return None
    return go.Scatterpolar(
        theta=theta,
        r=r,
        mode="markers",
        marker=dict(symbol="x", size=11, color=WORST_COLOUR, line=dict(color="#000000", width=1)),
        name="worst flights (click: replay)",
        hovertext=text,
        hoverinfo="text",
        customdata=data,
    )


def polar_maps(
    campaign: Campaign, emap: EngagementMap, summary: Summary, replays: Dict[int, str], out_dir: str
) -> str:
    """The two polar maps as an HTML fragment, for the page's plotly."""
    cells = _cells(emap)
    finite = [m is not None and m != math.inf for m in cells["median"]]
    never = [m == math.inf for m in cells["median"]]
    times = [float(m) for m, f in zip(cells["median"], finite) if f and isinstance(m, float)]
    fig = make_subplots(
        rows=1,
        cols=2,
        specs=[[{"type": "polar"}, {"type": "polar"}]],
        subplot_titles=[
            "Median time into the rear cone (s)",
            "Pass rate of the reported checks",
        ],
        horizontal_spacing=0.22,
    )
    fig.add_trace(
        _bars(
            cells,
            finite,
            marker=dict(
                color=times,
                colorscale=TIME_SCALE,
                cmin=0,
                cmax=max(times, default=1.0),
                colorbar=dict(title="s", x=0.45, len=0.8),
            ),
            name="median time into the cone",
            showlegend=False,
        ),
        row=1,
        col=1,
    )
    if any(never):
        fig.add_trace(
            _bars(cells, never, marker_color=NEVER_COLOUR, name="most never in the rear cone"),
            row=1,
            col=1,
        )
    fig.add_trace(
        _bars(
            cells,
            [True] * len(cells["rate"]),
            marker=dict(
                color=cells["rate"],
                colorscale=RATE_SCALE,
                cmin=0,
                cmax=1,
                colorbar=dict(title="pass", x=1.04, len=0.8),
            ),
            name="pass rate",
            showlegend=False,
        ),
        row=1,
        col=2,
    )
    worst = _worst_markers(campaign, summary, replays, out_dir)
    for col in (1, 2):
        fig.add_trace(
            go.Scatterpolar(
                theta=[0],
                r=[0],
                mode="markers",
                marker=dict(symbol="triangle-up", size=14, color="#000000"),
                name="the target, flying up",
                showlegend=col == 1,
                hoverinfo="name",
            ),
            row=1,
            col=col,
        )
        if worst is not None:
            worst.showlegend = col == 1
            fig.add_trace(worst, row=1, col=col)
    outer = emap.ring_edges_m[-1]
    for name in ("polar", "polar2"):
        fig.update_layout(
            {
                name: dict(
                    angularaxis=ANGULAR_AXIS,
                    radialaxis=dict(
                        range=[0, outer], ticksuffix=" m", angle=RANGE_LABELS_AT, tickfont_size=9
                    ),
                    bargap=0,
                )
            }
        )
    fig.update_annotations(yshift=28)  # the maps' titles above "180 ahead"
    fig.update_layout(
        height=HEIGHT_PX,
        margin=dict(l=40, r=40, t=110, b=40),
        legend=dict(orientation="h", x=0.5, xanchor="center", y=-0.04),
        title="Over the start's angle off the target's tail and range (%d engagements)"
        % emap.engagements,
    )
    fragment: str = pio.to_html(
        fig,
        include_plotlyjs=False,
        full_html=False,
        config={"displaylogo": False},
        post_script=CLICK_TO_REPLAY,
    )
    return fragment


def section(
    campaign: Campaign, emap: EngagementMap, summary: Summary, replays: Dict[int, str], out_dir: str
) -> str:
    """The report's section: what the maps show, then the maps."""
    words = (
        "<p>Each cell holds the flights that started in that sector of angle off the "
        "target's tail (%g&deg;) and ring of range; the target sits at the centre, flying up. "
        "Left: the median time until our aircraft was first in the target's rear cone, a "
        "flight that never got there counting as later than any (cells where more than half "
        'never did are <span style="color:%s">&#9632;</span> dark grey). Right: the share '
        "of the cell's flights that passed the reported checks (%s). &times;: the worst "
        "flights listed above; a click opens its replay.</p>"
        % (
            SECTOR_DEG,
            NEVER_COLOUR,
            html.escape(", ".join(summary["checks"]) or "none"),
        )
    )
    return words + polar_maps(campaign, emap, summary, replays, out_dir)
