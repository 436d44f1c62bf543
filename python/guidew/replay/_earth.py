"""Where a flight is on the Earth: the simulator flies on a flat earth in
metres north and east of its start, and a replay viewer wants longitude and
latitude. The offsets are laid on the WGS-84 ellipsoid around a reference
point with the ellipsoid's local radii of curvature there (a flat-earth,
small-offset conversion): exact at the reference, within a metre over the
few tens of kilometres a guidance flight spans (the error grows with the
square of the distance over the Earth's radius)."""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Tuple

# WGS-84: the semi-major axis (m) and the flattening.
WGS84_A_M = 6378137.0
WGS84_F = 1 / 298.257223563
_E2 = WGS84_F * (2 - WGS84_F)


@dataclass(frozen=True)
class Reference:
    """The point the flight's north and east offsets are measured from
    (degrees): by default 0 deg N 0 deg E, open sea, where no terrain of a
    viewer rises into a flight's path. Altitudes stay as flown: metres
    above sea level."""

    latitude_deg: float = 0.0
    longitude_deg: float = 0.0

    def __post_init__(self) -> None:
        if not (math.isfinite(self.latitude_deg) and abs(self.latitude_deg) <= 85.0):
            raise ValueError(
                "reference latitude %r: must lie within [-85, 85] deg (a flat earth does not "
                "hold near the poles)" % self.latitude_deg
            )
        if not (math.isfinite(self.longitude_deg) and abs(self.longitude_deg) <= 180.0):
            raise ValueError(
                "reference longitude %r: must lie within [-180, 180] deg" % self.longitude_deg
            )

    def metres_per_degree(self) -> Tuple[float, float]:
        """Metres per degree of latitude and of longitude at the reference:
        the meridian's radius of curvature, and the prime vertical's times
        the cosine of the latitude."""
        phi = math.radians(self.latitude_deg)
        w = math.sqrt(1.0 - _E2 * math.sin(phi) ** 2)
        meridian_m = WGS84_A_M * (1.0 - _E2) / w**3
        normal_m = WGS84_A_M / w
        return math.radians(meridian_m), math.radians(normal_m * math.cos(phi))


def parse_reference(text: str) -> Reference:
    """'LAT,LON' in degrees (north and east positive) as a Reference;
    ValueError naming what is wrong."""
    parts = text.split(",")
    if len(parts) != 2:
        raise ValueError("reference %r: give LAT,LON in degrees, e.g. 0,0" % text)
    try:
        lat, lon = float(parts[0]), float(parts[1])
    except ValueError:
        raise ValueError("reference %r: LAT and LON must be numbers" % text) from None
    return Reference(lat, lon)
