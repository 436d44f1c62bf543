"""The body's attitude from what the trajectory holds.

The law's attitude inputs are the velocity's angles: its track azimuth
(chi), its flight-path angle (gamma) and the bank of the lift about it
(mu): the wind axes. A six-degree-of-freedom aircraft's body is turned
from those by its angle of attack (alpha, nose up from the velocity) and
sideslip (beta, wind from the right): the body axes are the wind axes
turned by -beta about their z axis, then by alpha about the new y axis.
The point mass has no angle of attack or sideslip: its body is drawn along
its velocity. The result is the body's Euler angles in the aircraft's
usual order (heading, then pitch, then roll: 3-2-1 about north, east,
down), which is what Tacview and the 3-D replay turn their models by."""

from __future__ import annotations

import math
from typing import List, Tuple

Matrix = List[List[float]]


def _about_z(a: float) -> Matrix:
    """Axes turned by a (rad) about z: the matrix taking a vector's old
    coordinates to its new ones."""
    c, s = math.cos(a), math.sin(a)
    return [[c, s, 0.0], [-s, c, 0.0], [0.0, 0.0, 1.0]]


def _about_y(a: float) -> Matrix:
    c, s = math.cos(a), math.sin(a)
    return [[c, 0.0, -s], [0.0, 1.0, 0.0], [s, 0.0, c]]


def _about_x(a: float) -> Matrix:
    c, s = math.cos(a), math.sin(a)
    return [[1.0, 0.0, 0.0], [0.0, c, s], [0.0, -s, c]]


def _product(a: Matrix, b: Matrix) -> Matrix:
    return [[sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)] for i in range(3)]


def body_euler_deg(
    track_deg: float,
    path_deg: float,
    bank_deg: float,
    alpha_deg: float = 0.0,
    beta_deg: float = 0.0,
) -> Tuple[float, float, float]:
    """(roll, pitch, heading) of the body in degrees, heading within [0, 360),
    from the velocity's track, path angle and bank and the body's angle of
    attack and sideslip."""
    chi, gamma, mu = (math.radians(v) for v in (track_deg, path_deg, bank_deg))
    wind = _product(_about_x(mu), _product(_about_y(gamma), _about_z(chi)))
    if alpha_deg or beta_deg:
        turn = _product(_about_y(math.radians(alpha_deg)), _about_z(-math.radians(beta_deg)))
        body = _product(turn, wind)
    else:
        body = wind
    pitch = math.asin(max(-1.0, min(1.0, -body[0][2])))
    roll = math.atan2(body[1][2], body[2][2])
    heading = math.atan2(body[0][1], body[0][0])
    return math.degrees(roll), math.degrees(pitch), math.degrees(heading) % 360.0
