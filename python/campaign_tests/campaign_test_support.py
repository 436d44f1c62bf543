"""What the campaign tests share: a campaign run without progress, pictures
or report unless asked, a scratch folder per test class, reading a result
file, and stopping a campaign from its on_task_done hook after a number of
tasks, as an interrupted driver stops."""

import os
import tempfile
import unittest

import guidew.campaign as gc

# A small engagement campaign: the geometry and the target's manoeuvre
# dispersed as campaigns/engagement.toml does, 24 short flights in 4 tasks.
ENGAGEMENT = """\
[campaign]
name = "engage"
samples = 24
seed = 5
flights_per_task = 6

[scenario]
builtin = "crossing_target"
duration_s = 30

[dispersions]
"target.range_m" = { uniform = [1500, 6000] }
"target.angle_off_tail_deg" = { uniform = [-180, 180] }
"target.crossing_deg" = { uniform = [-180, 180] }
"target.altitude_diff_m" = { uniform = [-500, 500] }
"target.speed_mps" = { uniform = [150, 230] }
"target.manoeuvre.kind" = { choice = ["straight", "turn", "weave"] }
"target.manoeuvre.side" = { choice = ["left", "right"] }

[report]
checks = ["min_separation_m", "max_load_g"]
worst = 2
paths = 4
"""


def quiet_run(path, out, workers=1, **options):
    """gc.run without progress, and without pictures or report unless the
    options ask for them."""
    options.setdefault("pictures", False)
    options.setdefault("report", False)
    return gc.run(path, workers=workers, out=out, progress=False, **options)


class ScratchFolderCase(unittest.TestCase):
    """A test class with one scratch folder for all its tests; a subclass's
    setUpClass calls this one's first."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    @classmethod
    def out(cls, name):
        return os.path.join(cls.folder.name, name)


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


class Stop(Exception):
    """Raised from on_task_done: the driver stops as if interrupted."""


def stop_after(count, finished):
    """An on_task_done hook that records each finished task in finished and
    stops the campaign once count have finished."""

    def hook(task, cluster):
        finished.append(task)
        if len(finished) == count:
            raise Stop()

    return hook
