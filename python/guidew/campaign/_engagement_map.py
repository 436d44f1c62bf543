"""Outcomes of an engagement campaign over the start's geometry: the
flights binned by where we start as seen from the target (angle off its
tail, range), each cell keeping what the polar pictures show: how soon
the flights got into the target's rear cone (rear_cone_first_s), how many
never did, how many passed the reported checks, and the closest any came.

Built as the rows stream by (a few counters per cell, times to the cone
kept as counts at a fixed resolution): the maps weigh the same at a
hundred flights or ten million."""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Sequence, Tuple

from ._config import Dispersion
from ._types import FlightRow

# The scenario's keys that place us around the target (see the simulator's
# engagement scenario): the picture's angle and radius.
ANGLE_PATH = "target.angle_off_tail_deg"
RANGE_PATH = "target.range_m"
# The metrics the maps show; a flight without FIRST_IN_CONE in its metrics
# is not an engagement.
FIRST_IN_CONE = "rear_cone_first_s"
CLOSEST = "closest_m"
# Sectors of angle off tail, the first centred dead astern (0 deg): a
# start straight behind the target falls in the middle of one, not on an
# edge between two.
SECTOR_DEG = 15.0
SECTORS = int(round(360.0 / SECTOR_DEG))
# Rings of range over the dispersed span of the start's range.
RINGS = 8
# Times to the cone are kept to this resolution for the cells' medians.
TIME_STEP_S = 0.25
# A normal draw without bounds spans its mean +- this many sd.
NORMAL_SPAN_SD = 3.0


@dataclass
class Cell:
    """The flights that started in one sector and ring."""

    flights: int = 0
    refused: int = 0  # the simulator refused them: no figures
    never: int = 0  # flown, never in the rear cone within the flight
    passed: int = 0  # passed the reported checks
    times: Dict[int, int] = field(default_factory=dict)  # steps of TIME_STEP_S -> flights
    closest_m: float = math.inf
    closest_index: int = -1  # the flight that came closest

    @property
    def flown(self) -> int:
        return self.flights - self.refused

    def median_first_s(self) -> Optional[float]:
        """The median time to the rear cone, a flight that never got there
        counting as later than any that did: the lower median, so one
        flight's own time (inf when more than half never got there); None
        without a flown flight."""
        if not self.flown:
            return None
        rank = (self.flown - 1) // 2  # the lower median: one flight's time
        for step in sorted(self.times):
            rank -= self.times[step]
            if rank < 0:
                return step * TIME_STEP_S
        return math.inf

    def best_first_s(self) -> Optional[float]:
        """The soonest any flight of the cell got into the cone."""
        return min(self.times) * TIME_STEP_S if self.times else None


def _span(d: Dispersion) -> Tuple[float, float]:
    """The values a dispersion of the range draws from."""
    if d.kind in ("choice", "grid"):
        numbers = [float(v) for v in d.values if not isinstance(v, str)]
        low, high = (min(numbers), max(numbers)) if numbers else (0.0, 1.0)
    elif d.kind == "normal":
        low = max(d.low, d.mean - NORMAL_SPAN_SD * d.sd)
        high = min(d.high, d.mean + NORMAL_SPAN_SD * d.sd)
    else:
        low, high = d.low, d.high
    return (low, high) if high > low else (low - 0.5, low + 0.5)


def sector_of(angle_deg: float) -> int:
    """The sector of an angle off tail, on the circle: -179 and 181 deg
    fall in the sector of 180 (dead ahead of the target)."""
    return int(math.floor(angle_deg / SECTOR_DEG + 0.5)) % SECTORS


def sector_centre_deg(k: int) -> float:
    """Sector k's centre, in -180..180."""
    centre = k * SECTOR_DEG
    return centre - 360.0 if centre > 180.0 else centre


class EngagementMap:
    """The cells of one campaign, sector-major: cells[sector][ring]."""

    def __init__(self, range_span: Tuple[float, float]) -> None:
        low, high = range_span
        self.ring_edges_m = [low + (high - low) * k / RINGS for k in range(RINGS + 1)]
        self.cells = [[Cell() for _ in range(RINGS)] for _ in range(SECTORS)]
        self.engagements = 0  # flights whose metrics had FIRST_IN_CONE

    @classmethod
    def of(cls, dispersions: Sequence[Dispersion]) -> Optional["EngagementMap"]:
        """The map of a campaign that disperses both the angle off tail and
        the range; None otherwise (the start would be one point or circle)."""
        by_path = {d.path: d for d in dispersions}
        if ANGLE_PATH not in by_path or RANGE_PATH not in by_path:
            return None
        return cls(_span(by_path[RANGE_PATH]))

    def ring_of(self, range_m: float) -> int:
        """The ring of a range; a normal draw's far tails in the edge rings."""
        edges = self.ring_edges_m
        k = int((range_m - edges[0]) / (edges[-1] - edges[0]) * RINGS)
        return min(max(k, 0), RINGS - 1)

    def add(self, row: FlightRow, passed: bool) -> None:
        """Counts one flight into the cell of its start."""
        values = row["values"]
        angle, range_m = values.get(ANGLE_PATH), values.get(RANGE_PATH)
        if not isinstance(angle, (int, float)) or not isinstance(range_m, (int, float)):
            return
        cell = self.cells[sector_of(float(angle))][self.ring_of(float(range_m))]
        cell.flights += 1
        cell.passed += passed
        if row["error"]:
            cell.refused += 1
            return
        metrics = row["metrics"]
        if FIRST_IN_CONE not in metrics:
            return
        self.engagements += 1
        first = metrics[FIRST_IN_CONE]
        if first is None:
            cell.never += 1
        else:
            step = int(round(first / TIME_STEP_S))
            cell.times[step] = cell.times.get(step, 0) + 1
        closest = metrics.get(CLOSEST)
        if closest is not None and closest < cell.closest_m:
            cell.closest_m, cell.closest_index = closest, row["index"]

    def filled(self) -> List[Tuple[int, int, Cell]]:
        """(sector, ring, cell) of every cell some flight started in."""
        return [
            (s, r, cell)
            for s, rings in enumerate(self.cells)
            for r, cell in enumerate(rings)
            if cell.flights
        ]
