"""A flight as the replays draw it: one time base and one or more aircraft,
each with its position and its body's attitude at every time; and the
reader of guide-sim's trajectory file into it.

An aircraft in the trajectory is the set of columns x_north, z_east,
altitude, yaw, pitch, roll (and, when there, alpha_deg, beta_deg, tas and
load_flown) under one prefix: none for the aircraft flying the law; a
second aircraft of an engagement is the same columns under its own prefix
(e.g. target_x_north, ...), and becomes one more object in both files."""

from __future__ import annotations

import csv
import json
import math
import os
from dataclasses import dataclass, field
from typing import Dict, Iterator, List, Optional, Sequence, Tuple

from ._attitude import body_euler_deg

from .._errors import GuideWError

# The columns that place an aircraft, under its prefix.
POSITION = ("x_north", "z_east", "altitude")
VELOCITY_ATTITUDE = ("yaw", "pitch", "roll")
# Columns used when there: the body's angles off the velocity (JSBSim
# aircraft), the speed and the load factor shown beside the view.
OPTIONAL = ("alpha_deg", "beta_deg", "tas", "load_flown")
AIR_ANGLES = len(POSITION + VELOCITY_ATTITUDE)  # alpha's place among an aircraft's values
# The prefix of an engagement's target (guide-sim's trajectory).
TARGET = "target_"


class ReplayError(GuideWError, ValueError):
    """A trajectory that cannot be replayed; the message names the file and
    what is wrong with it."""


@dataclass
class Aircraft:
    """One aircraft's path: metres north and east of the start, altitude
    above sea level, the body's Euler angles (deg), and what is shown beside
    the view when known (speed in m/s, load factor in g)."""

    label: str
    model: str = ""
    north_m: List[float] = field(default_factory=list)
    east_m: List[float] = field(default_factory=list)
    altitude_m: List[float] = field(default_factory=list)
    roll_deg: List[float] = field(default_factory=list)
    pitch_deg: List[float] = field(default_factory=list)
    heading_deg: List[float] = field(default_factory=list)
    speed_mps: List[float] = field(default_factory=list)
    load_g: List[float] = field(default_factory=list)


@dataclass
class Flight:
    """A flight to replay: every aircraft has a value at every time."""

    name: str
    times_s: List[float]
    aircraft: List[Aircraft]
    description: str = ""
    # The time the values stop being finite (the flight failed there), when
    # the file holds such rows: they are left out.
    cut_at_s: Optional[float] = None

    def check(self) -> None:
        """Raises ReplayError unless every aircraft has a value at every time."""
        n = len(self.times_s)
        if n == 0 or not self.aircraft:
            raise ReplayError("%s: no aircraft or no times to replay" % self.name)
        for a in self.aircraft:
            columns = (a.north_m, a.east_m, a.altitude_m, a.roll_deg, a.pitch_deg, a.heading_deg)
            if any(len(c) != n for c in columns):
                raise ReplayError(
                    "%s: aircraft %s has not one value per time" % (self.name, a.label)
                )


def _prefixes(header: Sequence[str]) -> List[str]:
    """The prefixes under which the header holds a whole aircraft, the
    aircraft flying the law (no prefix) first."""
    names = set(header)
    found = []
    for column in header:
        if column.endswith(POSITION[0]):
            prefix = column[: -len(POSITION[0])]
            if all(prefix + c in names for c in POSITION + VELOCITY_ATTITUDE):
                found.append(prefix)
    return sorted(found, key=lambda p: (p != "", p))


def _summary(path: str) -> Dict[str, object]:
    """guide-sim's NAME.summary.json beside NAME.csv, or nothing."""
    try:
        with open(os.path.splitext(path)[0] + ".summary.json", encoding="utf-8") as f:
            found = json.load(f)
    except (OSError, ValueError):
        return {}
    return found if isinstance(found, dict) else {}


def _identity(prefix: str, name: str, summary: Dict[str, object]) -> Tuple[str, str]:
    """(label, model) of the aircraft under prefix: the one flying the law
    is named by the flight; the second aircraft of a one-against-one
    (summary's opponent_aircraft) is the opponent, on its own model; any
    other prefix names a target whose model the file does not say."""
    if prefix == "":
        return name, str(summary.get("aircraft", ""))
    if prefix == TARGET and "opponent_aircraft" in summary:
        return "opponent", str(summary["opponent_aircraft"])
    return prefix.rstrip("_."), ""


def read_trajectory(path: str) -> Flight:
    """The flight in guide-sim's trajectory file path (NAME.csv, with its
    NAME.summary.json when there for the aircraft's name and the
    description). Rows from the first whose values are not finite on are
    left out (the flight failed there; cut_at_s says when)."""
    name = os.path.splitext(os.path.basename(path))[0]
    try:
        with open(path, newline="", encoding="utf-8") as f:
            rows = csv.reader(f)
            header = next(rows, None)
            if not header:
                raise ReplayError("%s: empty, not a trajectory" % path)
            prefixes = _prefixes(header)
            if "time" not in header or not prefixes:
                raise ReplayError(
                    "%s: not a trajectory: needs the columns time, %s"
                    % (path, ", ".join(POSITION + VELOCITY_ATTITUDE))
                )
            summary = _summary(path)
            flight = Flight(name, [], [], str(summary.get("description", "")))
            for p in prefixes:
                label, model = _identity(p, name, summary)
                flight.aircraft.append(Aircraft(label, model.replace("_", " ")))
            _read_rows(path, rows, header, prefixes, flight)
    except OSError as exc:
        raise ReplayError("%s: cannot read: %s" % (path, exc.strerror or exc)) from None
    except UnicodeDecodeError:
        raise ReplayError("%s: not a text file" % path) from None
    if not flight.times_s:
        raise ReplayError("%s: no rows to replay" % path)
    return flight


def _along_velocity_without_air_angles(values: List[float], aircraft: int) -> None:
    """Zero angle of attack and sideslip where a row gives none that is
    finite, so that only a position or an angle of the path not finite ends
    the replay."""
    for k in range(aircraft):
        alpha = 1 + 10 * k + AIR_ANGLES  # after the time, and the aircraft before
        for i in (alpha, alpha + 1):
            if not math.isfinite(values[i]):
                values[i] = 0.0


def _read_rows(
    path: str, rows: Iterator[List[str]], header: List[str], prefixes: List[str], flight: Flight
) -> None:
    """Reads the rows into flight, stopping at the first non-finite value.
    An aircraft without angle of attack and sideslip (no columns, or not
    finite there: a point mass beside a JSBSim aircraft in one file) flies
    along its velocity; one without speed or load has none shown."""
    at = {c: i for i, c in enumerate(header)}
    wanted = [at["time"]]
    for p in prefixes:
        wanted += [at[p + c] for c in POSITION + VELOCITY_ATTITUDE]
        wanted += [at.get(p + c, -1) for c in OPTIONAL]
    last = -math.inf
    for line, row in enumerate(rows, start=2):
        try:
            v = [float(row[i]) if i >= 0 else 0.0 for i in wanted]
        except (IndexError, ValueError):
            raise ReplayError("%s line %d: a value is missing or not a number" % (path, line))
        _along_velocity_without_air_angles(v, len(prefixes))
        if not all(math.isfinite(x) for x in v):
            flight.cut_at_s = v[0] if math.isfinite(v[0]) else last
            return
        if v[0] <= last:
            raise ReplayError("%s line %d: time %g does not follow %g" % (path, line, v[0], last))
        last = v[0]
        flight.times_s.append(v[0])
        for k, a in enumerate(flight.aircraft):
            n, e, h, track, path_angle, bank, alpha, beta, tas, load = v[1 + 10 * k : 11 + 10 * k]
            roll, pitch, heading = body_euler_deg(track, path_angle, bank, alpha, beta)
            a.north_m.append(n)
            a.east_m.append(e)
            a.altitude_m.append(h)
            a.roll_deg.append(roll)
            a.pitch_deg.append(pitch)
            a.heading_deg.append(heading)
            a.speed_mps.append(tas)
            a.load_g.append(load)
    for p, a in zip(prefixes, flight.aircraft):
        if p + "tas" not in at:
            a.speed_mps.clear()
        if p + "load_flown" not in at:
            a.load_g.clear()


def flight_from_path(
    name: str,
    path: Sequence[Sequence[float]],
    model: str = "",
    description: str = "",
    target_path: Optional[Sequence[Sequence[float]]] = None,
) -> Flight:
    """The flight of the simulator library's sampled path (guide_sim_fly's
    rows [t_s, north_m, east_m, altitude_m, track_deg, path_deg, bank_deg,
    alpha_deg, beta_deg]): one aircraft, named name; with an engagement's
    target_path (rows [t_s, north_m, east_m, altitude_m, track_deg,
    path_deg, bank_deg], sampled at the same times) a second one, "target",
    flying along its velocity."""
    flight = Flight(name, [], [Aircraft(name, model.replace("_", " "))], description)
    _add_rows(flight, flight.aircraft[0], path, 9, times=True)
    if target_path:
        target = Aircraft("target")
        flight.aircraft.append(target)
        _add_rows(flight, target, target_path, 7, times=False)
    flight.check()
    return flight


def _add_rows(
    flight: Flight, a: Aircraft, rows: Sequence[Sequence[float]], width: int, times: bool
) -> None:
    """Appends the path rows to aircraft a (and their times to the flight's
    when times); rows of 7 values carry no angle of attack or sideslip."""
    for row in rows:
        if len(row) < width:
            raise ReplayError("%s: a path sample without attitude: %r" % (flight.name, list(row)))
        t, n, e, h, track, path_angle, bank = (float(v) for v in row[:7])
        alpha, beta = (float(row[7]), float(row[8])) if width >= 9 else (0.0, 0.0)
        roll, pitch, heading = body_euler_deg(track, path_angle, bank, alpha, beta)
        if times:
            flight.times_s.append(t)
        for column, v in zip(
            (a.north_m, a.east_m, a.altitude_m, a.roll_deg, a.pitch_deg, a.heading_deg),
            (n, e, h, roll, pitch, heading),
        ):
            column.append(v)
