"""Each flight's dispersed values, from the seed and the flight's index only.

Flight i of a campaign with a grid of G points and S samples per point flies
grid point i // S (the first grid variable varying slowest) and the random
draw of its own stream. Every random variable of every flight has a stream
of its own, seeded from (seed, flight index, field path): the values do not
depend on the order flights are flown in, on which worker flies them, on
how flights are grouped into tasks, nor on the other dispersions listed.
"""

from __future__ import annotations

import math
import random
from statistics import NormalDist
from typing import Dict, List

from ._types import DispersionFields, Plan, Value

_STANDARD_NORMAL = NormalDist()


def _stream(seed: int, index: int, path: str) -> random.Random:
    """The generator of one variable of one flight."""
    # A string seed is hashed (SHA-512) into the generator's state: the same
    # on every machine and Python version that keeps seeding version 2.
    return random.Random("%d/%d/%s" % (seed, index, path))


def _open_unit(rng: random.Random) -> float:
    """A uniform number in (0, 1): the inverse CDF is finite on it."""
    u = rng.random()
    while u == 0.0:
        u = rng.random()
    return u


def _normal(d: DispersionFields, rng: random.Random) -> float:
    """Normal draw, truncated to [low, high] by inverting the CDF on the
    truncated range: no rejection loop, one uniform number per draw.

    A window wholly above the mean is drawn as its mirror image below the
    mean, then flipped: the CDF of the lower tail keeps its precision far
    out (1e-15 at 8 sigma), while the upper tail's would round to a handful
    of doubles just under 1 and give only a few distinct values."""
    z_low = (d["low"] - d["mean"]) / d["sd"]
    z_high = (d["high"] - d["mean"]) / d["sd"]
    side = -1.0 if z_low > 0.0 else 1.0
    if side < 0.0:
        z_low, z_high = -z_high, -z_low
    lo = 0.0 if z_low == -math.inf else _STANDARD_NORMAL.cdf(z_low)
    hi = 1.0 if z_high == math.inf else _STANDARD_NORMAL.cdf(z_high)
    p = lo + (hi - lo) * _open_unit(rng)
    if not 0.0 < p < 1.0:  # a truncation window beyond the doubles' reach
        return min(max(d["mean"], d["low"]), d["high"])
    value = d["mean"] + side * d["sd"] * _STANDARD_NORMAL.inv_cdf(p)
    return min(max(value, d["low"]), d["high"])


def grid_coordinates(plan: Plan, index: int) -> List[int]:
    """The index into each grid dispersion's values for flight index."""
    point = index // plan["samples"]
    coords: List[int] = []
    for d in reversed([d for d in plan["dispersions"] if d["kind"] == "grid"]):
        point, k = divmod(point, len(d["values"]))
        coords.append(k)
    return coords[::-1]


def draw(plan: Plan, index: int) -> Dict[str, Value]:
    """{field path: value} of the dispersed fields of flight index.

    plan is Campaign.to_plan(); the values depend on the seed, the index
    and the dispersions only, never on other flights.
    """
    values: Dict[str, Value] = {}
    coords = iter(grid_coordinates(plan, index))
    for d in plan["dispersions"]:
        if d["kind"] == "grid":
            values[d["path"]] = d["values"][next(coords)]
            continue
        rng = _stream(plan["seed"], index, d["path"])
        if d["kind"] == "uniform":
            values[d["path"]] = d["low"] + (d["high"] - d["low"]) * rng.random()
        elif d["kind"] == "normal":
            values[d["path"]] = _normal(d, rng)
        else:
            values[d["path"]] = d["values"][rng.randrange(len(d["values"]))]
    return values
