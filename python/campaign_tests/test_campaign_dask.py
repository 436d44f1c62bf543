"""Campaigns on Dask: the same flights whatever the number of workers, a
worker killed mid-campaign loses and duplicates nothing, an interrupted
campaign resumes where it stopped, and guide-sim flies a reported flight
again to the same figures."""

import os
import signal
import subprocess
import sys
import tempfile
import unittest

import guidew.campaign as gc

CAMPAIGN = """\
[campaign]
name = "small"
samples = 24
seed = 11
flights_per_task = 6

[scenario]
builtin = "target_60_off"
duration_s = 15

[dispersions]
"initial.altitude_m" = { uniform = [2000, 4000] }
"inputs.azim_cmd" = { normal = { mean = 300, sd = 30, min = 200, max = 360 } }
"params.roll_kp" = { grid = [2, 4] }
"""  # 48 flights in 8 tasks


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


class Interrupted(Exception):
    pass


class DaskCampaigns(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.file = os.path.join(cls.folder.name, "small.toml")
        with open(cls.file, "w", encoding="utf-8") as f:
            f.write(CAMPAIGN)
        cls.one = gc.run(cls.file, workers=1, out=cls.out("one"), progress=False,
                         pictures=False, report=False)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    @classmethod
    def out(cls, name):
        return os.path.join(cls.folder.name, name)

    def test_two_workers_fly_what_one_flies(self):
        two = gc.run(self.file, workers=2, out=self.out("two"), progress=False,
                     pictures=False, report=False)
        self.assertEqual(read(two.files["table"]), read(self.one.files["table"]))
        self.assertEqual([r["index"] for r in two.table], list(range(48)))

    def test_an_existing_cluster_flies_what_local_workers_fly(self):
        from distributed import LocalCluster
        with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster:
            there = gc.run(self.file, scheduler=cluster.scheduler_address, out=self.out("there"),
                           progress=False, pictures=False, report=False)
        self.assertEqual(read(there.files["table"]), read(self.one.files["table"]))

    def test_killed_worker_loses_and_duplicates_no_flight(self):
        killed = []

        def kill_a_worker(task, cluster):
            if not killed:
                pids = cluster.client.run(os.getpid)
                pid = sorted(pids.values())[0]
                os.kill(pid, signal.SIGKILL)
                killed.append(pid)

        result = gc.run(self.file, workers=2, out=self.out("killed"), progress=False,
                        pictures=False, report=False, on_task_done=kill_a_worker)
        self.assertEqual(len(killed), 1)
        self.assertEqual(read(result.files["table"]), read(self.one.files["table"]))

    def test_interrupted_campaign_resumes_without_flying_finished_tasks(self):
        out = self.out("resumed")
        finished = []

        def stop_after_three(task, cluster):
            finished.append(task)
            if len(finished) == 3:
                raise Interrupted()

        with self.assertRaises(Interrupted):
            gc.run(self.file, workers=1, out=out, progress=False, on_task_done=stop_after_three)
        tasks = os.path.join(out, "tasks")
        kept = {name: os.stat(os.path.join(tasks, name)).st_mtime_ns for name in os.listdir(tasks)}
        self.assertEqual(len(kept), 3)

        flown_again = []
        result = gc.run(self.file, workers=1, out=out, resume=True, progress=False,
                        pictures=False, report=False,
                        on_task_done=lambda task, cluster: flown_again.append(task))
        self.assertEqual(read(result.files["table"]), read(self.one.files["table"]))
        self.assertEqual(sorted(flown_again + finished), list(range(8)))
        for name, mtime in kept.items():
            self.assertEqual(os.stat(os.path.join(tasks, name)).st_mtime_ns, mtime, name)

        # A changed campaign does not resume on another's results.
        changed = os.path.join(self.folder.name, "changed.toml")
        with open(changed, "w", encoding="utf-8") as f:
            f.write(CAMPAIGN.replace("seed = 11", "seed = 12"))
        with self.assertRaisesRegex(gc.CampaignError, "another campaign"):
            gc.run(changed, workers=1, out=out, resume=True, progress=False)

    def test_guide_sim_flies_a_row_again_to_its_figures(self):
        worst, value = self.one.summary["worst"]["altitude_lost_m"][0]
        self.assertEqual(self.one.table[worst]["altitude_lost_m"], value)
        # A worst flight from its file, and any row through --flight.
        any_row = os.path.join(self.folder.name, "row.json")
        with open(any_row, "w", encoding="utf-8") as f:
            subprocess.run([sys.executable, "-m", "guidew.campaign", self.file, "--flight", "17"],
                           stdout=f, check=True, timeout=60)
        for index, scenario in ((worst, self.one.files["flights"][worst]), (17, any_row)):
            row = self.one.table[index]
            out = subprocess.run([os.environ["GUIDE_SIM"], "--no-plot", "-o", self.out("sim"), scenario],
                                 capture_output=True, text=True, timeout=60)
            printed = out.stdout.splitlines()[1].split()
            # name, converge "x.xx s", peak load "x.xx g", altitude lost "x m", ...
            self.assertEqual(printed[0], "small_%06d" % index)
            self.assertEqual(printed[3], "%.2f" % row["peak_load_g"])
            self.assertEqual(printed[5], "%.0f" % row["altitude_lost_m"])
            self.assertEqual(out.returncode == 0, row["passed"])


if __name__ == "__main__":
    unittest.main()
