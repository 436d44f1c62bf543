"""Draws the trajectories guide-sim wrote: one PNG per scenario.

Reads DIR/NAME.csv (and DIR/NAME.summary.json, when there, for the title's
description and verdict) and writes DIR/NAME.png through a temporary file,
so a picture is either whole or absent. With --compare OTHER, the same
scenario from OTHER/NAME.csv (an earlier run, e.g. with other parameters)
is drawn dashed over this one.

Long runs are thinned for drawing to at most MAX_POINTS rows (every k-th
row, plus every row where a latch changes, so no switching is lost); the
file is read once as a stream, so memory stays bounded whatever the length.

Exit status: 0 drawn; 1 a trajectory is missing or unreadable; 2 bad command
line; 3 matplotlib cannot be used.
"""
import argparse
import csv
import json
import math
import os
import sys

import plot_engagement as pe

EXIT_BAD_DATA = 1
EXIT_ENVIRONMENT = 3

# Drawing more points than a picture has pixels across shows nothing more.
MAX_POINTS = 20000
# The direction error under which the flight counts as converged (deg).
CONVERGED_DEG = 5.0

# Columns the pictures use, and the states that are flags (from the
# summary guide-sim writes beside the trajectory).
USED = [
    "time",
    "speed_cmd",
    "elev_cmd",
    "azim_cmd",
    "yaw",
    "pitch",
    "roll",
    "tas",
    "altitude",
    "lat_cmd",
    "nz_cmd",
    "throttle_cmd",
    "x_north",
    "z_east",
    "load_flown",
    "thrust_frac",
    "dir_err_deg",
    "orbit_radius_m",
    "orbit_alt_target_m",
    "vel_north",
    "vel_east",
    "roll_rate",
    "ext_bank",
    "ext_lat",
    "ext_nz",
    "mode",
]
# The external commands are drawn only where the flight used them.
EXTERNAL = ["ext_bank", "ext_lat", "ext_nz"]
# A six-degree-of-freedom aircraft's air data and surfaces (a JSBSim
# flight's trajectory has them; the point mass's has not).
AIR_DATA = [
    "alpha_deg",
    "beta_deg",
    "mach",
    "elevator_deg",
    "aileron_deg",
    "rudder_deg",
    "gear_down",
]
USED += AIR_DATA
# An engagement's target and geometry (plot_engagement.py draws them).
USED += pe.COLUMNS


# Columns every trajectory holds (the orbit's two only in mode 3, the air
# data only for a six-degree-of-freedom aircraft).
REQUIRED = [
    n for n in USED if not n.startswith("orbit_") and n not in AIR_DATA and n not in pe.COLUMNS
]
# A legend's entries side by side under a panel: more would run past the
# panel's edge into the next one, or off the picture.
LEGEND_COLUMNS = 3
# A panel's room across, as a multiple of its axes' width (the rest is its
# tick labels and the gap to the next panel).
PANEL_ROOM = 1.15
# Thrust fractions above this are an afterburner's (the F-16's runs to 2).
FULL_DRY_THRUST = 1.0
# Mode bands in which the law uses the external commands (blended from 1 on,
# alone above 3.5).
EXTERNAL_FROM_MODE = 1.5


class BadTrajectory(Exception):
    """A trajectory that cannot be drawn: the file and what is wrong."""

    def __init__(self, path, what):
        super().__init__("%s: %s" % (path, what))


def count_rows(path):
    rows = 0
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            rows += block.count(b"\n")
    return max(rows - 1, 0)


def read_trajectory(path, flags):
    """The used columns and flags of path as lists of floats, thinned to
    MAX_POINTS rows; a BadTrajectory naming path when it cannot be."""
    try:
        return read_columns(path, flags)
    except BadTrajectory:
        raise
    except StopIteration:
        raise BadTrajectory(path, "empty file")
    except UnicodeDecodeError:
        raise BadTrajectory(path, "not a text file")
    except OSError as e:
        raise BadTrajectory(path, "cannot read: %s" % (e.strerror or e))
    except (ValueError, IndexError, csv.Error) as e:
        raise BadTrajectory(path, "bad row: %s" % e)


def read_columns(path, flags):
    stride = max(1, math.ceil(count_rows(path) / MAX_POINTS))
    with open(path, newline="") as f:
        rows = csv.reader(f)
        header = next(rows)
        missing = [n for n in REQUIRED if n not in header]
        if missing:
            shown = ", ".join(missing[:3]) + (
                " and %d more" % (len(missing) - 3) if len(missing) > 3 else ""
            )
            raise BadTrajectory(path, "line 1: not a guide-sim trajectory: no column %s" % shown)
        wanted = [(n, i) for i, n in enumerate(header) if n in USED or n in flags]
        flag_columns = [i for n, i in wanted if n in flags]
        cols = {n: [] for n, _ in wanted}

        def keep(line, row):
            if len(row) != len(header):
                raise BadTrajectory(
                    path,
                    "line %d: %d fields, but the header has %d" % (line, len(row), len(header)),
                )
            try:
                for n, i in wanted:
                    cols[n].append(float(row[i]))
            except ValueError as e:
                raise BadTrajectory(path, "line %d: %s" % (line, e))

        last_flags = None
        pending = None
        for k, row in enumerate(rows):
            now = [row[i] for i in flag_columns if i < len(row)]
            if k % stride == 0 or now != last_flags:
                keep(k + 2, row)
                pending = None
            else:
                pending = (k + 2, row)
            last_flags = now
        if pending is not None:  # always end where the flight ended
            keep(*pending)
    if not cols["time"]:
        raise BadTrajectory(path, "no rows")
    return cols


# The summary's fields the pictures read, and the JSON types each may have.
SUMMARY_FIELDS = {
    "aircraft": (str,),
    "description": (str,),
    "passed": (bool,),
    "steers": (bool,),
    "failed": (list,),
    "flags": (list,),
    "latched": (list,),
    "converge_s": (int, float, type(None)),
    "first_within_s": (int, float, type(None)),
    "ended_s": (int, float, type(None)),
}


def read_summary(directory, name):
    """NAME.summary.json of a run's folder ({} when there is none); one that
    is not a flight's summary is a bad trajectory, named."""
    path = os.path.join(directory, name + ".summary.json")
    try:
        with open(path) as f:
            summary = json.load(f)
    except (OSError, ValueError):
        return {}
    if not isinstance(summary, dict):
        raise BadTrajectory(path, "not a flight's summary (a JSON object)")
    for key, kinds in SUMMARY_FIELDS.items():
        if key in summary and not isinstance(summary[key], kinds):
            raise BadTrajectory(
                path, "not a flight's summary: %s is %s" % (key, json.dumps(summary[key]))
            )
    return summary


def unwrap(values):
    """Azimuths (deg) made continuous: a turn through north goes on to 370
    instead of jumping back to 10, so the panel's range fits the flight."""
    out, last = [], None
    for v in values:
        if last is not None and not math.isnan(v):
            v += 360.0 * round((last - v) / 360.0)
        out.append(v)
        if not math.isnan(v):
            last = v
    return out


def bank_for_drawing(values):
    """Banks (deg) in [-90, 90] while upright and continuous while inverted:
    inverted flight about 180 deg reads as one steady bank of about 180,
    not as rolls between +180 and -180; a real flip of the bank (where the
    path passes the vertical) still shows as the jump it is."""
    out, last = [], None
    for v in values:
        if math.isnan(v):
            out.append(v)
            continue
        w = (v + 180.0) % 360.0 - 180.0
        if abs(w) > 90.0 and last is not None and abs(last) > 90.0:
            w += 360.0 * round((last - w) / 360.0)
        out.append(w)
        last = w
    return out


def inverted_spans(t, bank):
    """The times the aircraft flew inverted (bank beyond 90 deg either way),
    as (start, length) spans."""
    spans, start = [], None
    for k, b in enumerate(bank):
        upside_down = abs((b + 180.0) % 360.0 - 180.0) > 90.0
        if upside_down and start is None:
            start = t[k]
        if not upside_down and start is not None:
            spans.append((start, t[k] - start))
            start = None
    if start is not None:
        spans.append((start, t[-1] - start))
    return spans


def beside(values, reference):
    """The azimuths made continuous and moved by the whole number of turns
    that brings them closest to the reference over the flight: the command
    drawn next to the track, without a jump where the two lie half a turn
    apart."""
    out = unwrap(values)
    pairs = [(v, r) for v, r in zip(out, reference) if not (math.isnan(v) or math.isnan(r))]
    if not pairs:
        return out
    mean = sum(r - v for v, r in pairs) / len(pairs)
    turns = min(
        (round(mean / 360.0) + k for k in (-1, 0, 1)),
        key=lambda n: sum(abs(r - v - 360.0 * n) for v, r in pairs),
    )
    return [v + 360.0 * turns for v in out]


def used_externally(c, name):
    """True when the flight had the external command name and a mode that
    reads it."""
    return name in c and any(
        v != 0.0 and m > EXTERNAL_FROM_MODE for v, m in zip(c[name], c["mode"])
    )


def align_zeros(a, b):
    """Sets the limits of two axes sharing a panel so that both zeros lie on
    one line: two curves then cross zero where they appear to."""
    lims = []
    for ax in (a, b):
        lo, hi = ax.get_ylim()
        lo, hi = min(lo, 0.0), max(hi, 0.0)
        span = hi - lo or 1.0
        # Room beyond the curves and on both sides of zero: a flat curve at
        # the edge would hide in the frame.
        lims.append((lo - 0.05 * span, hi + 0.05 * span))
    below_zero = max(-lo / (hi - lo) for lo, hi in lims)
    for ax, (lo, hi) in zip((a, b), lims):
        ax.set_ylim(
            min(lo, -below_zero / (1.0 - below_zero) * hi),
            max(hi, -(1.0 - below_zero) / below_zero * lo),
        )


def equal_scale_3d(ax, x, y, z):
    """One metre is as long along every axis: a straight dive looks
    straight, a climb as steep as it is."""
    centre = [(max(v) + min(v)) / 2.0 for v in (x, y, z)]
    half = max(max(max(v) - min(v) for v in (x, y, z)) / 2.0, 1.0)
    ax.set_xlim(centre[0] - half, centre[0] + half)
    ax.set_ylim(centre[1] - half, centre[1] + half)
    ax.set_zlim(centre[2] - half, centre[2] + half)
    ax.set_box_aspect((1, 1, 1))


def in_front(a, b):
    """Draws axis a's curves over its twin b's (a twin is drawn on top)."""
    a.set_zorder(b.get_zorder() + 1)
    a.patch.set_visible(False)


def track_radius(c):
    """Radius of the ground track (m) from the turn rate of the track."""
    t, yaw = c["time"], c["yaw"]
    vh = [math.hypot(n, e) for n, e in zip(c["vel_north"], c["vel_east"])]
    radius = [math.nan]
    for k in range(1, len(t)):
        dyaw = (yaw[k] - yaw[k - 1] + 180.0) % 360.0 - 180.0
        rate = math.radians(abs(dyaw)) / max(t[k] - t[k - 1], 1e-9)
        radius.append(vh[k] / rate if rate > 1e-6 else math.nan)
    return radius


def along_track(c):
    """Distance flown over the ground (m) at each row."""
    d, out = 0.0, [0.0]
    n, e = c["x_north"], c["z_east"]
    for k in range(1, len(n)):
        d += math.hypot(n[k] - n[k - 1], e[k] - e[k - 1])
        out.append(d)
    return out


def latch_strips(ax, c, flags, expected, other):
    """Each flag as a bar of the times it was set; checked ones in green."""
    t = c["time"]
    names = set_flags(c, flags)
    never = [n for n in expected if n not in names]
    for row, n in enumerate(names):
        spans, start = [], None
        for k, v in enumerate(c[n]):
            if v == 1.0 and start is None:
                start = t[k]
            if v != 1.0 and start is not None:
                spans.append((start, t[k] - start))
                start = None
        if start is not None:
            spans.append((start, max(t[-1] - start, t[-1] * 0.002)))
        colour = "tab:green" if n in expected else "tab:blue"
        ax.broken_barh(spans, (row - 0.35, 0.7), color=colour)
        if other is not None and n in other:
            ot, ov = other["time"], other[n]
            on = [ot[k] for k in range(len(ot)) if ov[k] == 1.0]
            if on:
                ax.plot(on, [row] * len(on), "k|", markersize=4, alpha=0.4)
    ax.set_yticks(range(len(names)))
    ax.set_yticklabels(names)
    ax.set_ylim(-0.8, max(len(names), 1) - 0.2)
    ax.set_xlim(t[0], t[-1])
    ax.set_xlabel("time (s)")
    title = "manoeuvre latches (set: bar; green: checked)"
    if never:
        title += "; never set: " + ", ".join(never)
    ax.set_title(title)
    if not names:
        ax.text(0.5, 0.5, "no latch set", transform=ax.transAxes, ha="center", va="center")


def label(ax, title, ylabel, xlabel="time (s)"):
    """A panel's title, its axes named with their units, and a legend where
    it hides least."""
    ax.set_title(title)
    ax.set_xlabel(xlabel)
    ax.set_ylabel(ylabel)
    ax.legend(loc="best", fontsize=8)


def below(ax, lines):
    """A legend under the axes: with two vertical scales no place inside is
    sure to be free of curves. At most LEGEND_COLUMNS entries a row, and
    fewer where long entries would run past the panel's room into the next
    panel or off the picture; the layout makes room for its rows."""
    lines = [ln for ln in lines if not ln.get_label().startswith("_")]  # unlabelled guides
    renderer = ax.figure.canvas.get_renderer()
    room = ax.get_window_extent(renderer).width * PANEL_ROOM
    for columns in range(min(len(lines), LEGEND_COLUMNS), 0, -1):
        legend = ax.legend(
            lines,
            [ln.get_label() for ln in lines],
            loc="upper center",
            bbox_to_anchor=(0.5, -0.13),
            ncol=columns,
            fontsize=8,
            frameon=False,
        )
        legend.set_in_layout(True)
        if legend.get_window_extent(renderer).width <= room:
            break


def mark_convergence(ax, summary):
    """The time the direction error last entered the 5 deg band and stayed
    (green), the first entry when it left the band again (grey), or that it
    never settled; named in the panel's legend."""
    if not summary.get("steers", True):
        return
    conv, first = summary.get("converge_s"), summary.get("first_within_s")
    if first is not None and first != conv:
        ax.axvline(
            first,
            color="0.5",
            linestyle=":",
            linewidth=1,
            label="first within %g deg: %.2f s" % (CONVERGED_DEG, first),
        )
    if conv is not None:
        ax.axvline(
            conv, color="tab:green", linestyle="--", linewidth=1, label="converged: %.2f s" % conv
        )
    elif "converge_s" in summary:
        ax.plot([], [], " ", label="never settled within %g deg" % CONVERGED_DEG)


def overlay(ax, other, x, y, drawn=lambda v: v, **kw):
    """The compared run's y over x, grey and dashed; drawn turns its values
    as this run's are turned (an unwrapped track, a bank drawn through 180)."""
    if other is not None and x in other and y in other:
        ax.plot(other[x], drawn(other[y]), color="0.45", linestyle="--", linewidth=1, **kw)


def set_flags(c, flags):
    """The flags set at some time of the flight, in the summary's order."""
    return [n for n in flags if n in c and any(v == 1.0 for v in c[n])]


def profile_panel(a, c, other, cmp_label):
    """The orbit's radius against the expected one, or else the vertical
    profile over the ground track."""
    t = c["time"]
    if "orbit_radius_m" in c:
        a.plot(t, track_radius(c), label="flown")
        if other is not None and "orbit_radius_m" in other:
            a.plot(
                other["time"], track_radius(other), color="0.45", linestyle="--", label=cmp_label
            )
        a.plot(t, c["orbit_radius_m"], "k:", label="expected")
        finite = [r for r in c["orbit_radius_m"] if not math.isnan(r)]
        if finite:
            a.set_ylim(0, 2 * max(finite))
        label(a, "orbit radius", "radius (m)")
    else:
        a.plot(along_track(c), c["altitude"], label="flown")
        if other is not None:
            a.plot(
                along_track(other), other["altitude"], color="0.45", linestyle="--", label=cmp_label
            )
        label(a, "vertical profile", "altitude (m)", xlabel="distance along the ground track (m)")


def air_data_panel(a, c, other, cmp_label):
    """Angle of attack and sideslip (deg), Mach on its own scale."""
    t = c["time"]
    a.plot(t, c["alpha_deg"], label="angle of attack")
    a.plot(t, c["beta_deg"], color="tab:red", label="sideslip")
    if other is not None and "alpha_deg" in other:
        a.plot(other["time"], other["alpha_deg"], color="0.45", linestyle="--", label=cmp_label)
    a.set_xlabel("time (s)")
    a.set_ylabel("angle (deg)")
    b = a.twinx()
    b.plot(t, c["mach"], color="0.3", linestyle=":", linewidth=1.5, label="Mach")
    if "target_alpha_deg" in c:
        a.plot(
            t,
            c["target_alpha_deg"],
            color="tab:blue",
            linestyle="--",
            linewidth=1,
            label="the opponent's angle of attack",
        )
        a.plot(
            t,
            c["target_beta_deg"],
            color="tab:red",
            linestyle="--",
            linewidth=1,
            label="the opponent's sideslip",
        )
    b.set_ylabel("Mach")
    in_front(a, b)
    a.set_title("angle of attack, sideslip and Mach")
    below(a, a.get_lines() + b.get_lines())


def surfaces_panel(a, c):
    """The control surfaces as the aircraft's model signs them, and the
    gear where it is down."""
    t = c["time"]
    a.plot(t, c["elevator_deg"], label="elevator")
    a.plot(t, c["aileron_deg"], label="aileron")
    a.plot(t, c["rudder_deg"], label="rudder")
    down = [g for g in c["gear_down"] if not math.isnan(g)]
    gear = " (gear down)" if down and max(down) > 0.5 else ""
    label(a, "control surfaces" + gear, "deflection (deg)")


def bank_panel(a, c, other, prefix=""):
    """Bank and the commanded roll rate (with the flown one where the
    trajectory has it), zeros aligned. Inverted flight is drawn continuous
    about 180 deg and shaded. prefix "target_" draws the opponent's."""
    t = c["time"]
    for k, (start, length) in enumerate(inverted_spans(t, c[prefix + "roll"])):
        a.axvspan(
            start,
            start + length,
            color="0.9",
            label="inverted (bank beyond 90)" if k == 0 else None,
        )
    a.plot(t, bank_for_drawing(c[prefix + "roll"]), label="bank (deg)")
    if not prefix and used_externally(c, "ext_bank"):
        a.plot(t, c["ext_bank"], color="tab:purple", linestyle="--", label="ext_bank (deg)")
    if not prefix:
        overlay(a, other, "time", "roll", bank_for_drawing, label=cmp_label_of(other))
    a.set_xlabel("time (s)")
    a.set_ylabel("bank (deg; inverted drawn through 180)")
    b = a.twinx()
    b.plot(
        t,
        c[prefix + "lat_cmd"],
        color="tab:orange",
        linewidth=1,
        label="lat_cmd (roll rate commanded)",
    )
    if not prefix and used_externally(c, "ext_lat"):
        b.plot(t, c["ext_lat"], color="tab:brown", linestyle=":", linewidth=2, label="ext_lat")
    if prefix + "roll_rate" in c:
        b.plot(t, c[prefix + "roll_rate"], color="tab:green", linewidth=1, label="roll rate flown")
    b.set_ylabel("roll rate (deg/s)")
    align_zeros(a, b)
    in_front(a, b)
    whose = "the opponent's " if prefix else ""
    a.set_title(whose + "bank, commanded and flown roll rate (zeros aligned)")
    below(a, a.patches[:1] + a.get_lines() + b.get_lines())


def load_panel(a, c, other, prefix=""):
    """The command over the flown load, thin and dashed: where the aircraft
    follows it closely both still show. In an engagement against a scripted
    target, the target's load beside ours."""
    t = c["time"]
    a.plot(t, c[prefix + "load_flown"], color="tab:orange", linewidth=2.5, label="flown")
    a.plot(
        t,
        c[prefix + "nz_cmd"],
        color="black",
        linestyle="--",
        linewidth=1,
        label="nz_cmd (commanded)",
    )
    if prefix:
        label(a, "the opponent's load factor, commanded and flown", "load factor (g)")
        return
    if used_externally(c, "ext_nz"):
        a.plot(t, c["ext_nz"], color="tab:purple", linestyle=":", linewidth=2, label="ext_nz")
    if "target_load_flown" in c and not pe.is_one_against_one(c):
        a.plot(
            t, c["target_load_flown"], color=pe.TARGET_COLOUR, linewidth=1, label="target's load"
        )
    overlay(a, other, "time", "load_flown", label=cmp_label_of(other))
    label(a, "load factor, commanded and flown", "load factor (g)")


def throttle_panel(a, c, other, prefix=""):
    """Throttle (and the thrust the engine sees, where the trajectory has
    it) against the speed and its command, zeros aligned; in an engagement
    the target's speed beside ours."""
    t = c["time"]
    throttle = c[prefix + "throttle_cmd"]
    a.plot(t, throttle, color="tab:blue", linewidth=2, label="throttle_cmd")
    thrust = c.get(prefix + "thrust_frac", [])
    if thrust:
        a.plot(t, thrust, color="tab:cyan", linestyle="--", label="thrust")
    a.set_xlabel("time (s)")
    if max(thrust + throttle) > FULL_DRY_THRUST:
        a.axhline(FULL_DRY_THRUST, color="0.6", linestyle=":", linewidth=1)
        a.set_ylabel("throttle, thrust (1: full dry; above: afterburner)")
    else:
        a.set_ylabel("throttle, thrust (fraction of maximum)")
    b = a.twinx()
    b.plot(t, c[prefix + "tas"], color="0.2", linewidth=1, label="speed")
    b.plot(t, c[prefix + "speed_cmd"], color="0.2", linestyle=":", linewidth=1, label="speed_cmd")
    if not prefix and "target_tas" in c:
        whose = pe.target_name(c) + "'s speed"
        b.plot(t, c["target_tas"], color=pe.TARGET_COLOUR, linewidth=1, label=whose)
    if other is not None and not prefix:
        b.plot(other["time"], other["tas"], color="0.45", linestyle="--", label=cmp_label_of(other))
    b.set_ylabel("speed (m/s)")
    align_zeros(a, b)
    in_front(a, b)
    whose = "the opponent's " if prefix else ""
    a.set_title(whose + "throttle and speed (zeros aligned)")
    below(a, a.get_lines() + b.get_lines())


def cmp_label_of(other):
    return other.get("_label") if other is not None else None


def figure(plt, heights):
    fig = plt.figure(figsize=(17, 17 / 4 * sum(heights)), constrained_layout=True)
    return fig, fig.add_gridspec(len(heights), 3, height_ratios=heights)


def draw(plt, directory, name, compare_dir):
    summary = read_summary(directory, name)
    flags = summary.get("flags", [])
    c = read_trajectory(os.path.join(directory, name + ".csv"), flags)
    other = None
    if compare_dir:
        path = os.path.join(compare_dir, name + ".csv")
        if os.path.exists(path):
            other = read_trajectory(path, flags)
            # The folder's own name: a long path would stretch every legend.
            other_aircraft = read_summary(compare_dir, name).get("aircraft")
            folder = os.path.basename(os.path.normpath(compare_dir)) or compare_dir
            other["_label"] = "compared: " + (
                other_aircraft + " (" + folder + ")" if other_aircraft else folder
            )
    verdict = (
        "passed"
        if summary.get("passed", True)
        else "FAILED: " + "; ".join(summary.get("failed", []))
    )
    title = name + (" - " + summary["description"] if summary.get("description") else "")
    if summary.get("aircraft", "point_mass") != "point_mass":
        title += " - on " + summary["aircraft"]
    if pe.is_engagement(c):
        fig = draw_engagement(plt, c, other, summary, flags)
        figures = pe.figures_line(summary, c)
        verdict += "\n" + figures if figures else ""
    else:
        fig = draw_flight(plt, c, other, summary, flags)
    fig.suptitle(
        title + "\n" + verdict,
        fontsize=14,
        color="black" if summary.get("passed", True) else "darkred",
    )
    save_whole(plt, fig, os.path.join(directory, name + ".png"))


def draw_engagement(plt, c, other, summary, flags):
    """Both aircraft from above and the geometry between them over time;
    our own load, bank and speed; the opponent's in a one-against-one; a
    six-degree-of-freedom aircraft's air data and surfaces."""
    cmp_label = cmp_label_of(other)
    air = "alpha_deg" in c
    duel = pe.is_one_against_one(c)
    latches = set_flags(c, flags)
    heights = [1.0, 1.0, 1.0, 1.0] + [1.0] * (duel + air)
    if latches:
        heights.append(min(1.0, max(0.3, 0.12 * (len(latches) + 1))))
    fig, grid = figure(plt, heights)
    pe.plan_view(fig.add_subplot(grid[0:2, 0:2]), c, other, cmp_label)
    pe.altitudes(fig.add_subplot(grid[0, 2]), c, other, cmp_label)
    throttle_panel(fig.add_subplot(grid[1, 2]), c, other)
    pe.range_panel(fig.add_subplot(grid[2, 0]), c, summary, other, cmp_label)
    pe.ata_panel(fig.add_subplot(grid[2, 1]), c, summary, other, cmp_label)
    pe.angle_off_tail_panel(fig.add_subplot(grid[2, 2]), c, summary, other, cmp_label)
    pe.closure_panel(fig.add_subplot(grid[3, 0]), c, other, cmp_label)
    load_panel(fig.add_subplot(grid[3, 1]), c, other)
    bank_panel(fig.add_subplot(grid[3, 2]), c, other)
    row = 4
    if duel:
        load_panel(fig.add_subplot(grid[row, 0]), c, None, "target_")
        bank_panel(fig.add_subplot(grid[row, 1]), c, None, "target_")
        throttle_panel(fig.add_subplot(grid[row, 2]), c, None, "target_")
        row += 1
    if air:
        air_data_panel(fig.add_subplot(grid[row, 0]), c, other, cmp_label)
        surfaces_panel(fig.add_subplot(grid[row, 1]), c)
        steering_panel(fig.add_subplot(grid[row, 2]), c, other, summary)
        row += 1
    if latches:
        latch_strips(fig.add_subplot(grid[row, :]), c, flags, summary.get("latched", []), other)
    return fig


def steering_panel(a, c, other, summary):
    """The angle between the velocity and the commanded direction."""
    not_steered = "" if summary.get("steers", True) else " (this mode does not steer to it)"
    a.plot(c["time"], c["dir_err_deg"], label="flown")
    overlay(a, other, "time", "dir_err_deg", label=cmp_label_of(other))
    a.axhline(CONVERGED_DEG, color="grey", linestyle=":", label="%g deg: converged" % CONVERGED_DEG)
    mark_convergence(a, summary)
    label(a, "velocity to commanded direction" + not_steered, "angle (deg)")


def draw_flight(plt, c, other, summary, flags):
    """One aircraft's flight: its path, its direction against the command,
    bank, load, throttle and speed, air data, the latches."""
    t = c["time"]
    cmp_label = cmp_label_of(other)
    not_steered = "" if summary.get("steers", True) else " (this mode does not steer to it)"
    # A six-degree-of-freedom aircraft gets a row of its air data and
    # surfaces; the latch strips take the height their latches need.
    air = "alpha_deg" in c
    latches = set_flags(c, flags)
    latch_height = min(1.0, max(0.3, 0.12 * (len(latches) + 1)))
    heights = [1.0, 1.0, 1.0] + ([1.0, latch_height] if air else [max(0.6, latch_height)])
    fig, grid = figure(plt, heights)

    a = fig.add_subplot(grid[0, 0])
    a.plot(c["z_east"], c["x_north"], label="flown")
    overlay(a, other, "z_east", "x_north", label=cmp_label)
    a.plot(c["z_east"][:1], c["x_north"][:1], "go", label="start")
    a.plot(c["z_east"][-1:], c["x_north"][-1:], "rs", label="end")
    a.set_xlabel("east (m)")
    a.set_ylabel("north (m)")
    a.set_title("ground track")
    a.set_aspect("equal", adjustable="datalim")
    a.legend(loc="best", fontsize=8)

    a = fig.add_subplot(grid[0, 1], projection="3d")
    a.plot(c["z_east"], c["x_north"], c["altitude"])
    xs, ys, zs = list(c["z_east"]), list(c["x_north"]), list(c["altitude"])
    if other is not None:
        a.plot(other["z_east"], other["x_north"], other["altitude"], color="0.45", linestyle="--")
        xs, ys, zs = xs + other["z_east"], ys + other["x_north"], zs + other["altitude"]
    a.scatter(c["z_east"][:1], c["x_north"][:1], c["altitude"][:1], color="g")
    equal_scale_3d(a, xs, ys, zs)
    a.set_xlabel("east (m)")
    a.set_ylabel("north (m)")
    a.set_zlabel("altitude (m)")
    a.set_title("flight path (equal scales)")

    a = fig.add_subplot(grid[0, 2])
    a.plot(t, c["altitude"], label="flown")
    overlay(a, other, "time", "altitude", label=cmp_label)
    if "orbit_alt_target_m" in c:
        a.plot(t, c["orbit_alt_target_m"], "k:", label="orbit profile (expected)")
    if summary.get("ended_s") is not None:
        a.axvline(summary["ended_s"], color="tab:red", linestyle=":", label="flight ended")
    label(a, "altitude", "altitude (m)")

    a = fig.add_subplot(grid[1, 0])
    a.plot(t, c["pitch"], label="flight-path elevation")
    a.plot(t, c["elev_cmd"], "k:", label="elev_cmd")
    overlay(a, other, "time", "pitch", label=cmp_label)
    mark_convergence(a, summary)
    label(a, "elevation of the velocity" + not_steered, "elevation (deg)")

    a = fig.add_subplot(grid[1, 1])
    track = unwrap(c["yaw"])
    a.plot(t, track, label="track azimuth")
    a.plot(t, beside(c["azim_cmd"], track), "k:", label="azim_cmd")
    overlay(a, other, "time", "yaw", unwrap, label=cmp_label)
    mark_convergence(a, summary)
    label(a, "azimuth of the velocity" + not_steered, "azimuth (deg from north, unwrapped)")

    a = fig.add_subplot(grid[1, 2])
    a.plot(t, c["dir_err_deg"], label="flown")
    overlay(a, other, "time", "dir_err_deg", label=cmp_label)
    a.axhline(CONVERGED_DEG, color="grey", linestyle=":", label="%g deg: converged" % CONVERGED_DEG)
    mark_convergence(a, summary)
    label(a, "velocity to commanded direction" + not_steered, "angle (deg)")

    bank_panel(fig.add_subplot(grid[2, 0]), c, other)
    load_panel(fig.add_subplot(grid[2, 1]), c, other)
    throttle_panel(fig.add_subplot(grid[2, 2]), c, other)

    if air:
        air_data_panel(fig.add_subplot(grid[3, 0]), c, other, cmp_label)
        surfaces_panel(fig.add_subplot(grid[3, 1]), c)
        profile_panel(fig.add_subplot(grid[3, 2]), c, other, cmp_label)
        latch_strips(fig.add_subplot(grid[4, :]), c, flags, summary.get("latched", []), other)
    else:
        latch_strips(fig.add_subplot(grid[3, 0:2]), c, flags, summary.get("latched", []), other)
        profile_panel(fig.add_subplot(grid[3, 2]), c, other, cmp_label)

    return fig


def save_whole(plt, fig, final):
    """Writes the picture under a temporary name and renames it: a picture
    is whole or absent, never half-drawn."""
    tmp = final + ".tmp.png"
    try:
        fig.savefig(tmp, dpi=72)
        os.replace(tmp, final)
    finally:
        plt.close(fig)
        if os.path.exists(tmp):
            os.remove(tmp)


def main(argv):
    parser = argparse.ArgumentParser(
        prog="plot_trajectory.py",
        description=__doc__.split("\n")[0],
        epilog="Exit status: 0 drawn; 1 a trajectory missing or unreadable; 2 bad command line; "
        "3 matplotlib cannot be used.",
    )
    parser.add_argument(
        "--compare", metavar="OTHER", help="folder of an earlier run to draw dashed"
    )
    parser.add_argument(
        "--bad-data-exit",
        type=int,
        default=EXIT_BAD_DATA,
        metavar="N",
        help="exit status for a bad trajectory (guide-sim asks for one that a crash "
        "of the interpreter cannot give)",
    )
    parser.add_argument("directory", metavar="DIR")
    parser.add_argument("names", metavar="NAME", nargs="+")
    args = parser.parse_args(argv[1:])
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print(
            "plot_trajectory.py: matplotlib is missing for %s; install Debian's "
            "python3-matplotlib (or run guide-sim with --no-plot)" % sys.executable,
            file=sys.stderr,
        )
        return EXIT_ENVIRONMENT
    status = 0
    for k, name in enumerate(args.names, 1):
        print("drawing %s.png (%d of %d)" % (name, k, len(args.names)), flush=True)
        try:
            draw(plt, args.directory, name, args.compare)
        except BadTrajectory as e:
            # The others are still drawn; the run says which one failed.
            print("plot_trajectory.py: %s" % e, file=sys.stderr)
            status = args.bad_data_exit
        except OSError as e:
            print(
                "plot_trajectory.py: %s: cannot write: %s"
                % (os.path.join(args.directory, name + ".png"), e.strerror or e),
                file=sys.stderr,
            )
            return EXIT_ENVIRONMENT
    return status


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except KeyboardInterrupt:
        # Ctrl-C reaches guide-sim too, which says so; a half-drawn picture
        # has been removed on the way out.
        sys.exit(130)
