"""pictures/engagement_polar.png: the report's two polar maps of an
engagement campaign as one picture for documents: the median time into
the target's rear cone (dark grey where most flights never got there) and
the pass rate of the reported checks, over the start's angle off the
target's tail (dead astern at the bottom, its right-hand side on the
right: the target, at the centre, flies up) and range."""

from __future__ import annotations

import math
from typing import List, Sequence

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.colors import Normalize  # noqa: E402
from matplotlib.patches import Patch  # noqa: E402

from ._engagement_map import SECTOR_DEG, EngagementMap, sector_centre_deg  # noqa: E402

PICTURE = "engagement_polar.png"
NEVER_COLOUR = "#3b3b3b"
# Soon light, late dark red; never a hueless dark grey apart from both.
TIME_MAP, RATE_MAP = "YlOrRd", "RdYlGn"
ANGLE_TICKS_DEG = (0, 45, 90, 135, 180, -135, -90, -45)
ANGLE_LABELS = ("0\nastern", "45", "90 right", "135", "180\nahead", "-135", "-90 left", "-45")


def _theta(angle_deg: float) -> float:
    """An angle off tail as matplotlib's polar angle, in 0..2 pi: a
    negative one would shrink the axes to the angles drawn."""
    return math.radians(angle_deg % 360.0)


def _style(ax: object, emap: EngagementMap, title: str) -> None:
    """Astern at the bottom, the target's right on the right, range rings
    labelled in km, the target at the centre."""
    ax.set_theta_zero_location("S")  # type: ignore[attr-defined]
    ax.set_theta_direction(1)  # type: ignore[attr-defined]
    ax.set_xticks(  # type: ignore[attr-defined]
        [_theta(a) for a in ANGLE_TICKS_DEG], ANGLE_LABELS, fontsize=8
    )
    ax.set_thetalim(0.0, 2.0 * math.pi)  # type: ignore[attr-defined]
    outer = emap.ring_edges_m[-1]
    ax.set_ylim(0, outer)  # type: ignore[attr-defined]
    rings = emap.ring_edges_m[:: max(1, len(emap.ring_edges_m) // 4)]
    ax.set_yticks(rings, ["%.1f km" % (e / 1000) for e in rings], fontsize=7)  # type: ignore
    # Between two angle labels, on the target's right quarter ahead.
    ax.set_rlabel_position(112.5)  # type: ignore[attr-defined]
    ax.plot([0], [0], marker="^", markersize=10, color="#000000")  # type: ignore
    ax.set_title(title, fontsize=10, pad=22)  # type: ignore[attr-defined]


def _bars(ax: object, emap: EngagementMap, colours: Sequence[object]) -> None:
    """One bar per filled cell, coloured in turn."""
    edges = emap.ring_edges_m
    filled = emap.filled()
    ax.bar(  # type: ignore[attr-defined]
        [_theta(sector_centre_deg(s)) for s, _, _ in filled],
        [edges[r + 1] - edges[r] for _, r, _ in filled],
        width=math.radians(SECTOR_DEG),
        bottom=[edges[r] for _, r, _ in filled],
        color=list(colours),
        edgecolor="#ffffff",
        linewidth=0.3,
    )


def draw(emap: EngagementMap, checks: Sequence[str], out_dir: str) -> str:
    """Draws the picture into OUT/pictures; returns its path."""
    from ._pictures import save  # the pictures' one way of writing a file

    fig, axes = plt.subplots(1, 2, figsize=(11, 6), subplot_kw={"projection": "polar"})
    filled = emap.filled()
    medians = [c.median_first_s() for _, _, c in filled]
    times = [m for m in medians if m is not None and m != math.inf]
    norm = Normalize(0, max(times, default=1.0))
    time_map, rate_map = plt.get_cmap(TIME_MAP), plt.get_cmap(RATE_MAP)
    time_colours: List[object] = [
        NEVER_COLOUR if m is None or m == math.inf else time_map(norm(m)) for m in medians
    ]
    _bars(axes[0], emap, time_colours)
    _style(axes[0], emap, "Median time into the rear cone")
    fig.colorbar(plt.cm.ScalarMappable(norm, time_map), ax=axes[0], label="s", shrink=0.7, pad=0.1)
    if NEVER_COLOUR in time_colours:
        axes[0].legend(
            handles=[Patch(color=NEVER_COLOUR, label="most never got there")],
            loc="lower left",
            bbox_to_anchor=(-0.15, -0.12),
            fontsize=8,
        )
    _bars(axes[1], emap, [rate_map(c.passed / c.flights) for _, _, c in filled])
    _style(axes[1], emap, "Pass rate (%s)" % (", ".join(checks) or "all checks"))
    fig.colorbar(
        plt.cm.ScalarMappable(Normalize(0, 1), rate_map),
        ax=axes[1],
        label="pass rate",
        shrink=0.7,
        pad=0.1,
    )
    fig.suptitle(
        "%d engagements over the start's angle off the target's tail and range "
        "(the target at the centre, flying up)" % emap.engagements,
        fontsize=11,
    )
    return save(fig, out_dir, PICTURE)
