"""Tacview's ACMI 2.2 text format (its public documentation is the
reference): the header lines FileType and FileVersion; global properties
on object 0 (the reference time, the reference longitude and latitude
that every object's coordinates are offsets from, the title); then frames,
each a line '#TIME' (seconds after the reference time) followed by a line
per object, 'ID,T=Lon|Lat|Alt|Roll|Pitch|Yaw' with its name, type and
colour the first time it appears. Object ids are hexadecimal.

Every row of the trajectory is a frame (the law's 0.01 s step), written
with 7 decimals of a degree (about 1 cm), altitudes to the centimetre and
angles to a hundredth of a degree. Roll is positive right wing down, pitch
nose up, yaw the heading clockwise from true north."""

from __future__ import annotations

from typing import List, TextIO

from ._earth import Reference
from ._flight import Flight

# A fixed date, so that the same flight always gives the same file; noon
# UTC over the default reference (0 deg E) is the middle of a clear day.
REFERENCE_TIME = "2000-01-01T12:00:00Z"
# Tacview's colour names, one per aircraft in turn.
COLOURS = ("Blue", "Red", "Green", "Orange", "Violet", "Cyan")
FIRST_ID = 0x101
# The names viewers know the simulator's JSBSim aircraft by, which pick
# their 3-D models; any other aircraft keeps its own name.
KNOWN_NAMES = {"f16": "F-16C", "f15": "F-15C", "T38": "T-38", "c172p": "C172"}


def object_id(k: int) -> str:
    """The hexadecimal id of the flight's k-th aircraft."""
    return "%x" % (FIRST_ID + k)


def _text(value: str) -> str:
    """A property value: commas and line ends escaped as the format wants."""
    return value.replace("\\", "\\\\").replace(",", "\\,").replace("\n", "\\\n")


def _unsigned_zero(x: float) -> float:
    """x to two decimals, never written as -0.00."""
    return round(x, 2) + 0.0


def write_acmi(flight: Flight, out: TextIO, reference: Reference = Reference()) -> None:
    """Writes flight as ACMI 2.2 text to out."""
    flight.check()
    out.write("FileType=text/acmi/tacview\nFileVersion=2.2\n")
    out.write("0,ReferenceTime=%s\n" % REFERENCE_TIME)
    out.write("0,ReferenceLongitude=%.7f\n" % reference.longitude_deg)
    out.write("0,ReferenceLatitude=%.7f\n" % reference.latitude_deg)
    out.write("0,DataSource=libGuide guide-sim\n")
    out.write("0,Title=%s\n" % _text(flight.name))
    if flight.description:
        out.write("0,Comment=%s\n" % _text(flight.description))
    per_lat, per_lon = reference.metres_per_degree()
    first: List[str] = []
    for k, a in enumerate(flight.aircraft):
        name = KNOWN_NAMES.get(a.model, a.model or "aircraft")
        first.append(
            ",Name=%s,CallSign=%s,Type=Air+FixedWing,Color=%s"
            % (_text(name), _text(a.label), COLOURS[k % len(COLOURS)])
        )
    for i, t in enumerate(flight.times_s):
        lines = ["#%.2f\n" % t]
        for k, a in enumerate(flight.aircraft):
            lines.append(
                "%s,T=%.7f|%.7f|%.2f|%.2f|%.2f|%.2f%s\n"
                % (
                    object_id(k),
                    a.east_m[i] / per_lon,
                    a.north_m[i] / per_lat,
                    _unsigned_zero(a.altitude_m[i]),
                    _unsigned_zero(a.roll_deg[i]),
                    _unsigned_zero(a.pitch_deg[i]),
                    _unsigned_zero(a.heading_deg[i]),
                    first[k] if i == 0 else "",
                )
            )
        out.write("".join(lines))
