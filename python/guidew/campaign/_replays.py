"""The replays of the flights the report lists: each flown again with its
path sampled at the replay's rate, with the attitude, and written as
replays/NAME_INDEX.acmi (Tacview) and replays/NAME_INDEX.html (the 3-D
replay, guidew.replay) for the report to link; an engagement's target
flies beside ours in both. Only these few flights are
flown again: the campaign's own flights keep no path."""

from __future__ import annotations

import os
from typing import Dict, Mapping

from .. import replay
from ._config import Campaign
from ._folder import REPLAYS_DIR, write_atomically
from ._worker import fly_again

# Twenty samples a second: a roll of 150 deg/s moves 7.5 deg between two,
# which the viewer interpolates smoothly.
REPLAY_INTERVAL_S = 0.05


def write_all(campaign: Campaign, out_dir: str, names: Mapping[int, str]) -> Dict[int, str]:
    """Writes the replays of the flights named {index: NAME_INDEX}; returns
    {index: path of its page}. A flight the simulator refuses has none.
    Written as every file of the folder is, never through a link."""
    plan = campaign.to_plan()
    three = replay.three_script()
    pages: Dict[int, str] = {}
    for index, name in sorted(names.items()):
        result = fly_again(plan, index, name, REPLAY_INTERVAL_S)
        if result is None:
            continue
        scenario = result["scenario"]
        flight = replay.flight_from_path(
            name,
            result.get("path", []),
            str(scenario.get("aircraft", "point_mass")),
            str(scenario.get("description", "")),
            result.get("target_path"),
        )
        base = os.path.join(REPLAYS_DIR, name)
        write_atomically(out_dir, base + ".acmi", lambda f: replay.write_acmi(flight, f))
        pages[index] = write_atomically(
            out_dir, base + ".html", lambda f: replay.write_html(flight, f, three)
        )
    return pages
