"""The panels of an engagement's picture (plot_trajectory.py lays them out):
both aircraft seen from above with the line of sight between them, and the
geometry an air-combat engineer judges a pursuit by, over time.

The trajectory holds the geometry from our side (range_m, closure_mps,
ata_deg, angle_off_tail_deg, hca_deg). The opponent's view of us needs no
columns of its own: the line of sight is the same line seen from its other
end, so its antenna train angle on us is 180 minus our angle off its tail,
and its angle off our tail is 180 minus our antenna train angle.
"""
import math

# The target's columns (a scripted target has its state; a second aircraft
# flown by a law also has that law's commands and, on a six-degree-of-
# freedom model, its air data).
TARGET = [
    "target_x_north",
    "target_z_east",
    "target_altitude",
    "target_yaw",
    "target_pitch",
    "target_roll",
    "target_tas",
    "target_load_flown",
    "range_m",
    "closure_mps",
    "ata_deg",
    "angle_off_tail_deg",
    "hca_deg",
    "aim_x_north",
    "aim_z_east",
    "aim_altitude",
]
OPPONENT = [
    "target_azim_cmd",
    "target_elev_cmd",
    "target_speed_cmd",
    "target_lat_cmd",
    "target_nz_cmd",
    "target_throttle_cmd",
    "target_alpha_deg",
    "target_beta_deg",
]
COLUMNS = TARGET + OPPONENT

OWN_COLOUR = "tab:blue"
TARGET_COLOUR = "tab:red"
CONE_COLOUR = "tab:green"
# A full turn of the angles drawn (deg): both are 0 to 180.
HALF_TURN_DEG = 180.0
# Time marks on the tracks: the roundest spacing (s) that leaves at most
# this many marks over the flight, so their labels never crowd.
MARK_SPACINGS_S = [1, 2, 5, 10, 15, 20, 30, 60, 120, 300, 600, 1200, 3600]
MAX_MARKS = 8
# Lines of sight drawn on the plan: every other time mark, at most this many.
MAX_SIGHT_LINES = 5
# An aim point within this distance of the target (m) is the target itself
# (pure pursuit): not drawn as a track of its own.
AIM_APART_M = 50.0
# The on-target band when the summary names none (deg).
DEFAULT_ON_TARGET_DEG = 10.0
DEFAULT_CONE = {"angle_deg": 30.0, "min_range_m": 500.0, "max_range_m": 3000.0, "ata_deg": 30.0}


def is_engagement(c):
    return "range_m" in c


def is_one_against_one(c):
    return "target_nz_cmd" in c


def target_name(c):
    return "opponent" if is_one_against_one(c) else "target"


def cone_of(summary):
    return dict(DEFAULT_CONE, **summary.get("engagement", {}).get("rear_cone", {}))


def opponent_ata(c):
    """The opponent's antenna train angle on us (deg)."""
    return [HALF_TURN_DEG - v for v in c["angle_off_tail_deg"]]


def opponent_angle_off_tail(c):
    """Where the opponent is seen from our tail (deg)."""
    return [HALF_TURN_DEG - v for v in c["ata_deg"]]


def in_cone(angle_off_tail, ata, ranges, cone):
    """Per row: the pursuer is in the rear cone: behind the target (angle
    off tail), its nose on it (ATA; two aircraft flying apart back to back
    are not) and the range within the cone's bounds."""
    return [
        a <= cone["angle_deg"]
        and n <= cone["ata_deg"]
        and cone["min_range_m"] <= r <= cone["max_range_m"]
        for a, n, r in zip(angle_off_tail, ata, ranges)
    ]


def spans(t, mask):
    """The times mask holds, as (start, end) pairs; a span still open at the
    end closes at the last row."""
    out, start = [], None
    for k, on in enumerate(mask):
        if on and start is None:
            start = t[k]
        if not on and start is not None:
            out.append((start, t[k]))
            start = None
    if start is not None:
        out.append((start, t[-1]))
    return out


def mark_spacing_s(duration_s):
    """The roundest time between marks that gives at most MAX_MARKS."""
    for s in MARK_SPACINGS_S:
        if duration_s / s <= MAX_MARKS:
            return s
    return MARK_SPACINGS_S[-1]


def mark_rows(t):
    """The rows nearest each whole multiple of the mark spacing, after the
    start (which has a marker of its own)."""
    spacing = mark_spacing_s(t[-1] - t[0])
    rows, k = [], 0
    for n in range(1, int((t[-1] - t[0]) / spacing) + 1):
        when = t[0] + n * spacing
        while k + 1 < len(t) and abs(t[k + 1] - when) <= abs(t[k] - when):
            k += 1
        rows.append(k)
    return rows


def plan_view(a, c, other, cmp_label):
    """Both tracks seen from above, with time marks and lines of sight
    between positions at the same time: who turned inside whom, and where
    the pursuit gained."""
    n, e = c["x_north"], c["z_east"]
    tn, te = c["target_x_north"], c["target_z_east"]
    name = target_name(c)
    a.plot(e, n, color=OWN_COLOUR, linewidth=2, label="us")
    a.plot(te, tn, color=TARGET_COLOUR, linewidth=2, label=name)
    aim_apart = max(
        math.hypot(an - x, ae - y)
        for an, ae, x, y in zip(c["aim_x_north"], c["aim_z_east"], tn, te)
    )
    if aim_apart > AIM_APART_M:
        a.plot(
            c["aim_z_east"],
            c["aim_x_north"],
            color=TARGET_COLOUR,
            linestyle=":",
            linewidth=1,
            label="our aim point",
        )
    if other is not None:
        a.plot(other["z_east"], other["x_north"], color="0.45", linestyle="--", label=cmp_label)
    rows = mark_rows(c["time"])
    sight = rows[1::2][:MAX_SIGHT_LINES] or rows[:MAX_SIGHT_LINES]
    for k, row in enumerate(sight):
        a.plot(
            [e[row], te[row]],
            [n[row], tn[row]],
            color="0.55",
            linewidth=0.8,
            label="line of sight" if k == 0 else None,
        )
    for k, row in enumerate(rows):
        a.plot(
            [e[row], te[row]],
            [n[row], tn[row]],
            "k.",
            markersize=5,
            label="time marks (s)" if k == 0 else None,
        )
        # Ours below left of the mark, the target's above right, each in its
        # colour: where the tracks run together the two never share a place.
        when = "%g" % round(c["time"][row])
        for x, y, colour, offset, align in (
            (e[row], n[row], OWN_COLOUR, (-4, -4), ("right", "top")),
            (te[row], tn[row], TARGET_COLOUR, (4, 4), ("left", "bottom")),
        ):
            a.annotate(
                when,
                (x, y),
                xytext=offset,
                textcoords="offset points",
                fontsize=8,
                color=colour,
                ha=align[0],
                va=align[1],
            )
    a.plot([e[0], te[0]], [n[0], tn[0]], "o", color="tab:green", linestyle="none", label="start")
    a.plot([e[-1], te[-1]], [n[-1], tn[-1]], "s", color="0.2", linestyle="none", label="end")
    close = min(range(len(n)), key=lambda k: c["range_m"][k])
    a.plot(
        [e[close], te[close]],
        [n[close], tn[close]],
        color="black",
        linestyle="--",
        linewidth=1.2,
        label="closest: %.0f m at %.1f s" % (c["range_m"][close], c["time"][close]),
    )
    a.set_xlabel("east (m)")
    a.set_ylabel("north (m)")
    a.set_title("seen from above: both tracks, time marks, lines of sight")
    a.set_aspect("equal", adjustable="datalim")
    a.legend(loc="best", fontsize=8)


def altitudes(a, c, other, cmp_label):
    t = c["time"]
    a.plot(t, c["altitude"], color=OWN_COLOUR, label="us")
    a.plot(t, c["target_altitude"], color=TARGET_COLOUR, label=target_name(c))
    if other is not None:
        a.plot(other["time"], other["altitude"], color="0.45", linestyle="--", label=cmp_label)
    a.set_title("altitude of both")
    a.set_xlabel("time (s)")
    a.set_ylabel("altitude (m)")
    a.legend(loc="best", fontsize=8)


def shade_spans(a, t, mask, colour, label, low, high):
    """Shades the times mask holds, from low to high."""
    for k, (start, end) in enumerate(spans(t, mask)):
        a.fill_between(
            [start, end],
            low,
            high,
            color=colour,
            alpha=0.3,
            linewidth=0,
            label=label if k == 0 else None,
        )


def cone_masks(c, cone):
    ours = in_cone(c["angle_off_tail_deg"], c["ata_deg"], c["range_m"], cone)
    theirs = None
    if is_one_against_one(c):
        theirs = in_cone(opponent_angle_off_tail(c), opponent_ata(c), c["range_m"], cone)
    return ours, theirs


def cone_label(whose, mask, t):
    """E.g. "we in its rear cone: 47.2 s" (rows are thinned for drawing, so
    the summary's own total is the exact one)."""
    total = sum(end - start for start, end in spans(t, mask))
    return "%s: %.1f s" % (whose, total)


def range_panel(a, c, summary, other, cmp_label):
    """The range, the rear cone's range bounds shaded, and the times each
    aircraft sat in the other's cone."""
    t, cone = c["time"], cone_of(summary)
    ours, theirs = cone_masks(c, cone)
    a.axhspan(
        cone["min_range_m"],
        cone["max_range_m"],
        color=CONE_COLOUR,
        alpha=0.12,
        linewidth=0,
        label="rear cone's ranges: %.0f-%.0f m" % (cone["min_range_m"], cone["max_range_m"]),
    )
    low, high = cone["min_range_m"], cone["max_range_m"]
    shade_spans(a, t, ours, CONE_COLOUR, cone_label("we in its rear cone", ours, t), low, high)
    if theirs is not None:
        shade_spans(a, t, theirs, TARGET_COLOUR, cone_label("it in ours", theirs, t), low, high)
    a.plot(t, c["range_m"], color="black", label="range")
    if other is not None and "range_m" in other:
        a.plot(other["time"], other["range_m"], color="0.45", linestyle="--", label=cmp_label)
    close = min(range(len(t)), key=lambda k: c["range_m"][k])
    a.plot(
        t[close],
        c["range_m"][close],
        "kx",
        markersize=8,
        label="closest: %.0f m at %.1f s" % (c["range_m"][close], t[close]),
    )
    a.set_ylim(0, max(c["range_m"]) * 1.05)
    a.set_title("range")
    a.set_xlabel("time (s)")
    a.set_ylabel("range (m)")
    a.legend(loc="best", fontsize=8)


def degrees_axis(a):
    a.set_ylim(0, HALF_TURN_DEG)
    a.set_yticks(range(0, 181, 30))


def ata_panel(a, c, summary, other, cmp_label):
    """Our velocity off the line of sight (0: pointing at it), the band we
    are judged on target in, the rear cone's bound on it, and the
    opponent's on us."""
    t = c["time"]
    band = summary.get("engagement", {}).get("on_target_deg", DEFAULT_ON_TARGET_DEG)
    a.axhspan(
        0, band, color=CONE_COLOUR, alpha=0.12, linewidth=0, label="on target: within %g deg" % band
    )
    cone = cone_of(summary)
    a.axhline(
        cone["ata_deg"],
        color=CONE_COLOUR,
        linestyle=":",
        linewidth=1,
        label="rear cone: nose within %g deg" % cone["ata_deg"],
    )
    a.plot(t, c["ata_deg"], color=OWN_COLOUR, label="ours on it")
    if is_one_against_one(c):
        a.plot(
            t, opponent_ata(c), color=TARGET_COLOUR, linestyle="--", label="the opponent's on us"
        )
    a.plot(t, c["hca_deg"], color="0.5", linewidth=1, label="heading crossing angle")
    if other is not None and "ata_deg" in other:
        a.plot(other["time"], other["ata_deg"], color="0.45", linestyle="--", label=cmp_label)
    on = summary.get("metrics", {}).get("on_target_s")
    if on is not None:
        a.axvline(
            on, color=CONE_COLOUR, linestyle="--", linewidth=1, label="on target from %.1f s" % on
        )
    degrees_axis(a)
    a.set_title("antenna train angle (ATA) and crossing angle")
    a.set_xlabel("time (s)")
    a.set_ylabel("angle (deg)")
    a.legend(loc="best", fontsize=8)


def angle_off_tail_panel(a, c, summary, other, cmp_label):
    """Where we are seen from the target's tail (0: dead astern), the cone's
    angle shaded while we are in it (angle and range), and the same for the
    opponent behind us."""
    t, cone = c["time"], cone_of(summary)
    ours, theirs = cone_masks(c, cone)
    a.axhline(
        cone["angle_deg"],
        color=CONE_COLOUR,
        linestyle=":",
        linewidth=1,
        label="rear cone: %g deg" % cone["angle_deg"],
    )
    shade_spans(a, t, ours, CONE_COLOUR, "we in its cone", 0, cone["angle_deg"])
    a.plot(t, c["angle_off_tail_deg"], color=OWN_COLOUR, label="us off its tail")
    if theirs is not None:
        shade_spans(a, t, theirs, TARGET_COLOUR, "it in ours", 0, cone["angle_deg"])
        a.plot(
            t,
            opponent_angle_off_tail(c),
            color=TARGET_COLOUR,
            linestyle="--",
            label="it off our tail",
        )
    if other is not None and "angle_off_tail_deg" in other:
        a.plot(
            other["time"],
            other["angle_off_tail_deg"],
            color="0.45",
            linestyle="--",
            label=cmp_label,
        )
    degrees_axis(a)
    a.set_title("angle off tail (0: dead astern)")
    a.set_xlabel("time (s)")
    a.set_ylabel("angle (deg)")
    a.legend(loc="best", fontsize=8)


def closure_panel(a, c, other, cmp_label):
    t = c["time"]
    a.axhline(0, color="0.6", linewidth=0.8)
    a.plot(t, c["closure_mps"], color="black", label="closure (+: range shrinking)")
    if other is not None and "closure_mps" in other:
        a.plot(other["time"], other["closure_mps"], color="0.45", linestyle="--", label=cmp_label)
    a.set_title("closure")
    a.set_xlabel("time (s)")
    a.set_ylabel("closure (m/s)")
    a.legend(loc="best", fontsize=8)


def figures_line(summary, c):
    """The engagement's figures in one line for the picture's title."""
    m, eng = summary.get("metrics", {}), summary.get("engagement", {})
    if "closest_m" not in m:
        return ""
    words = ["closest %.0f m at %.1f s" % (m["closest_m"], m["closest_t_s"])]
    if m.get("on_target_s") is not None:
        words.append("on target from %.1f s" % m["on_target_s"])
    # The cone's bounds are named in the panels that draw them.
    words.append("we in its rear cone %.1f s" % m.get("rear_cone_s", 0.0))
    if is_one_against_one(c):
        words.append("it in ours %.1f s" % m.get("opponent_rear_cone_s", 0.0))
        first = eng.get("first_in_cone")
        words.append(
            "first in the cone: "
            + {"us": "we", "opponent": "the opponent", "both": "both at once"}.get(first, "neither")
        )
    return "; ".join(words)
