"""The 3-D replay: one self-contained HTML page (three.js, the viewer's
script and the flight embedded), which opens offline in any browser with
WebGL.

three.js is Debian's libjs-three (release 111), read from where the package
installs it each time a page is written, as the campaign report embeds
plotly's script: a classic script defining the global THREE, with its
orbit controls beside it in the same form, so the page needs no module
loader or bundler, and the library comes from the same apt as every other
dependency. Without it the page says in one line what to install, and the
writer says so once.

The path is drawn from at most MAX_FRAMES samples per aircraft, at least
MIN_FRAME_S apart (every k-th row of the trajectory, and always the last):
the viewer interpolates position and attitude between them."""

from __future__ import annotations

import html
import json
import math
import os
import sys
from typing import Dict, List, Optional, TextIO

from ._flight import Flight

THREE_DIR_ENV = "GUIDE_THREE_JS_DIR"
THREE_DIR = "/usr/share/javascript/three"
THREE_FILES = ("build/three.min.js", "examples/js/controls/OrbitControls.js")
THREE_PACKAGE = "libjs-three"
VIEWER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "viewer.js")

# Smooth at any playback speed the viewer offers, and some 12 000 frames at
# most: a ten-hour flight still makes a page of a few megabytes.
MIN_FRAME_S = 0.05
MAX_FRAMES = 12000
# Colours of the aircraft in turn, as the ACMI file names them.
COLOURS = ("#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#17becf")

STYLE = """
html, body { margin: 0; height: 100%; overflow: hidden; font-family: sans-serif; background: #dfe8f0; }
#view { position: absolute; inset: 0; }
#hud { position: absolute; top: 8px; left: 8px; background: rgba(255,255,255,0.85); padding: 6px 10px;
       font-size: 13px; border-radius: 4px; max-width: 46em; }
#hud table { border-collapse: collapse; } #hud td, #hud th { padding: 1px 6px; text-align: right; }
#hud td.name { text-align: left; font-weight: bold; }
#bar { position: absolute; left: 0; right: 0; bottom: 0; display: flex; gap: 8px; align-items: center;
       padding: 6px 10px; background: rgba(255,255,255,0.9); font-size: 13px; }
#slider { flex: 1; } #clock { font-family: monospace; min-width: 11em; }
#missing { padding: 2em; font-size: 1.1em; }
"""

BAR = """
<div id="bar">
<button id="play" title="play / pause (space)">&#9654; play</button>
<input id="slider" type="range" min="0" max="1000" step="1" value="0" aria-label="time">
<span id="clock"></span>
<label>speed <select id="speed"><option>0.25</option><option>0.5</option><option selected>1</option>
<option>2</option><option>5</option><option>10</option></select>&times;</label>
<label>camera <select id="camera"></select></label>
</div>
"""


def three_script(notice: Optional[TextIO] = None) -> Optional[str]:
    """three.js and its orbit controls as installed, or None (said once on
    notice) when they are not."""
    folder = os.environ.get(THREE_DIR_ENV) or THREE_DIR
    parts = []
    for name in THREE_FILES:
        try:
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                parts.append(f.read())
        except OSError:
            (notice or sys.stderr).write(
                "replay: %s not found (Debian's %s): the 3-D replay pages say so instead of "
                "showing the flight\n" % (os.path.join(folder, name), THREE_PACKAGE)
            )
            return None
    return "\n".join(parts)


def _every(n: int, dt: float) -> int:
    """The stride between drawn rows: at least MIN_FRAME_S apart, at most
    MAX_FRAMES of them."""
    stride = max(1, round(MIN_FRAME_S / dt)) if dt > 0 else 1
    return max(stride, math.ceil(n / MAX_FRAMES))


def _rounded(values: List[float], rows: List[int], digits: int) -> List[float]:
    return [round(values[i], digits) for i in rows]


def page_data(flight: Flight) -> Dict[str, object]:
    """What the viewer draws, decimated: the times, and per aircraft its
    label, colour, position (m) and attitude (deg), speed and load."""
    flight.check()
    n = len(flight.times_s)
    dt = (flight.times_s[-1] - flight.times_s[0]) / (n - 1) if n > 1 else 0.0
    rows = list(range(0, n, _every(n, dt)))
    if rows[-1] != n - 1:
        rows.append(n - 1)
    aircraft = []
    for k, a in enumerate(flight.aircraft):
        aircraft.append(
            {
                "label": a.label,
                "model": a.model,
                "colour": COLOURS[k % len(COLOURS)],
                "north": _rounded(a.north_m, rows, 1),
                "east": _rounded(a.east_m, rows, 1),
                "alt": _rounded(a.altitude_m, rows, 1),
                "roll": _rounded(a.roll_deg, rows, 1),
                "pitch": _rounded(a.pitch_deg, rows, 1),
                "heading": _rounded(a.heading_deg, rows, 1),
                "speed": _rounded(a.speed_mps, rows, 1) if a.speed_mps else None,
                "load": _rounded(a.load_g, rows, 2) if a.load_g else None,
            }
        )
    return {
        "name": flight.name,
        "description": flight.description,
        "cut_at_s": flight.cut_at_s,
        "t": _rounded(flight.times_s, rows, 3),
        "aircraft": aircraft,
    }


def write_html(flight: Flight, out: TextIO, three: Optional[str]) -> None:
    """Writes the replay page of flight to out, with three (three_script())
    embedded; without it, a page that says what to install."""
    title = "Replay: %s" % flight.name
    head = '<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8">\n<title>%s</title>\n' % (
        html.escape(title)
    )
    if three is None:
        out.write(
            head + '</head><body><p id="missing">This replay needs three.js: install Debian\'s '
            "%s and write it again (guide-sim --replay).</p></body></html>\n" % THREE_PACKAGE
        )
        return
    with open(VIEWER, encoding="utf-8") as f:
        viewer = f.read()
    # "</" may not appear inside a script element: JSON allows "<\/".
    data = json.dumps(page_data(flight), separators=(",", ":")).replace("</", "<\\/")
    out.write(head)
    out.write("<style>%s</style>\n</head><body>\n" % STYLE)
    out.write('<div id="view"></div><div id="hud"></div>%s\n' % BAR)
    out.write('<script type="application/json" id="flight">%s</script>\n' % data)
    for script in (three, viewer):  # "</script" in a string would end the element early
        out.write("<script>\n%s\n</script>\n" % script.replace("</script", "<\\/script"))
    out.write("</body></html>\n")
