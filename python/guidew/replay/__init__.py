"""guidew.replay: a flight (one aircraft, or the two of an engagement) as
a Tacview ACMI 2.2 file and as a self-contained 3-D replay page.

    from guidew import replay
    flight = replay.read_trajectory("out/sim/typical.csv")
    replay.write_replay(flight, "out/sim/typical", replay.three_script())
    # out/sim/typical.acmi and out/sim/typical.html

Positions are laid on the Earth from a reference point (default 0 deg N
0 deg E, Reference), attitudes are the body's (the velocity's angles
turned by the angle of attack and sideslip where the trajectory has them).
guide-sim --replay writes both files for every flight it flies, through
the program replay_export.py beside it."""

from __future__ import annotations

import os
from typing import Callable, Optional, TextIO, Tuple

from ._acmi import write_acmi
from ._attitude import body_euler_deg
from ._earth import Reference, parse_reference
from ._flight import Aircraft, Flight, ReplayError, flight_from_path, read_trajectory
from ._page import three_script, write_html

__all__ = [
    "Aircraft",
    "Flight",
    "Reference",
    "ReplayError",
    "body_euler_deg",
    "flight_from_path",
    "parse_reference",
    "read_trajectory",
    "three_script",
    "write_acmi",
    "write_html",
    "write_replay",
]


def write_replay(
    flight: Flight, base: str, three: Optional[str], reference: Reference = Reference()
) -> Tuple[str, str]:
    """Writes base.acmi and base.html (each aside, then renamed: under its
    own name a file is whole); returns their paths. three is what
    three_script() returned (read once, for as many flights as are
    written); None writes a page that says what to install."""
    writers: Tuple[Callable[[TextIO], None], ...] = (
        lambda f: write_acmi(flight, f, reference),
        lambda f: write_html(flight, f, three),
    )
    paths = base + ".acmi", base + ".html"
    for path, write in zip(paths, writers):
        partial = path + ".partial"
        try:
            with open(partial, "w", encoding="utf-8", newline="\n") as f:
                write(f)
            os.replace(partial, path)
        except BaseException:
            if os.path.exists(partial):
                os.remove(partial)
            raise
    return paths
