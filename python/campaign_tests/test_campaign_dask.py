"""Campaigns on Dask: the same flights whatever the number of workers or
the cluster (a dispersed engagement too, whose report maps its geometry
and replays both aircraft), a worker killed mid-campaign loses and duplicates nothing, an interrupted
campaign resumes where it stopped, and guide-sim flies a reported flight
again to the same figures."""

import math
import os
import shutil
import signal
import socket
import subprocess
import sys
import time
import unittest

import guidew.campaign as gc
from campaign_test_support import (
    ENGAGEMENT,
    ScratchFolderCase,
    Stop,
    quiet_run,
    read,
    stop_after,
)

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


INTERRUPTED_LINE = "guide-campaign: interrupted; finished flights are kept, continue with --resume"


def listening_sockets(pids):
    """(address, port) of each listening TCP socket the processes hold."""
    inodes = set()
    for pid in pids:
        fd_dir = "/proc/%d/fd" % pid
        for fd in os.listdir(fd_dir):
            try:
                target = os.readlink(os.path.join(fd_dir, fd))
            except OSError:
                continue
            if target.startswith("socket:["):
                inodes.add(target[8:-1])
    found = []
    for table, family in (("/proc/net/tcp", socket.AF_INET), ("/proc/net/tcp6", socket.AF_INET6)):
        with open(table, encoding="ascii") as f:
            next(f)
            for line in f:
                fields = line.split()
                local, state, inode = fields[1], fields[3], fields[9]
                if state != "0A" or inode not in inodes:  # 0A: LISTEN
                    continue
                hex_address, hex_port = local.split(":")
                raw = bytes.fromhex(hex_address)
                # The kernel writes each 32-bit word in host (little-endian) order.
                raw = b"".join(raw[i : i + 4][::-1] for i in range(0, len(raw), 4))
                found.append((socket.inet_ntop(family, raw), int(hex_port, 16)))
    return found


def task_spec_sizes(dask_scheduler):
    """Bytes of each campaign task's definition the scheduler holds."""
    import pickle

    return {
        key: len(pickle.dumps(ts.run_spec))
        for key, ts in dask_scheduler.tasks.items()
        if str(key).startswith("flights-") and ts.run_spec is not None
    }


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class DaskCampaigns(ScratchFolderCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.file = os.path.join(cls.folder.name, "small.toml")
        with open(cls.file, "w", encoding="utf-8") as f:
            f.write(CAMPAIGN)
        cls.one = quiet_run(cls.file, cls.out("one"))
        # An engagement campaign, its report and pictures drawn once.
        cls.engagement = os.path.join(cls.folder.name, "engage.toml")
        with open(cls.engagement, "w", encoding="utf-8") as f:
            f.write(ENGAGEMENT)
        cls.engaged = quiet_run(cls.engagement, cls.out("engaged"), pictures=True, report=True)
        cls.campaigns = [(cls.file, cls.one, 48), (cls.engagement, cls.engaged, 24)]

    def test_two_workers_fly_what_one_flies(self):
        for file, one, flights in self.campaigns:
            with self.subTest(file):
                two = quiet_run(file, self.out("two_" + one.campaign.name), workers=2)
                self.assertEqual(read(two.files["table"]), read(one.files["table"]))
                self.assertEqual([r["index"] for r in two.table], list(range(flights)))

    def test_an_existing_cluster_flies_what_local_workers_fly(self):
        from distributed import LocalCluster

        with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster:
            for file, one, _ in self.campaigns:
                with self.subTest(file):
                    there = quiet_run(
                        file,
                        self.out("there_" + one.campaign.name),
                        workers=None,
                        scheduler=cluster.scheduler_address,
                    )
                    self.assertEqual(read(there.files["table"]), read(one.files["table"]))

    def test_an_engagement_report_maps_the_geometry_and_replays_both_aircraft(self):
        files = self.engaged.files
        with open(files["report"], encoding="utf-8") as f:
            page = f.read()
        # One cell per 15 deg sector (the first centred astern) and eighth
        # of the range's span that a flight started in, in both maps (the
        # time into the rear cone and the pass rate), hovering its words.
        cells = {
            (
                math.floor((r["target.angle_off_tail_deg"] + 7.5) / 15) % 24,
                min(int((r["target.range_m"] - 1500) / (4500 / 8)), 7),
            )
            for r in self.engaged.table
        }
        self.assertEqual(page.count("median time to rear cone: "), 2 * len(cells))
        self.assertIn("engagement_polar.png", " ".join(files["pictures"]))
        worst = {i for ranked in self.engaged.summary["worst"].values() for i, _ in ranked}
        self.assertEqual(set(files["replays"]), worst)
        for index, replay in files["replays"].items():
            # Each worst flight marked where it started, its replay linked;
            # the target flies beside us in the replay.
            self.assertIn('[%d,"replays/%s"]' % (index, os.path.basename(replay)), page)
            acmi = read(replay[: -len(".html")] + ".acmi")
            self.assertIn("CallSign=target", acmi)
            self.assertEqual(acmi.count("\n102,T="), acmi.count("\n101,T="))

    def test_killed_worker_loses_and_duplicates_no_flight(self):
        killed = []

        def kill_a_worker(task, cluster):
            if not killed:
                pids = cluster.client.run(os.getpid)
                pid = sorted(pids.values())[0]
                os.kill(pid, signal.SIGKILL)
                killed.append(pid)

        result = quiet_run(self.file, self.out("killed"), workers=2, on_task_done=kill_a_worker)
        self.assertEqual(len(killed), 1)
        self.assertEqual(read(result.files["table"]), read(self.one.files["table"]))

    def test_interrupted_campaign_resumes_without_flying_finished_tasks(self):
        out = self.out("resumed")
        finished = []
        with self.assertRaises(Stop):
            quiet_run(self.file, out, on_task_done=stop_after(3, finished))
        tasks = os.path.join(out, "tasks")
        kept = {name: os.stat(os.path.join(tasks, name)).st_mtime_ns for name in os.listdir(tasks)}
        self.assertEqual(len(kept), 3)

        flown_again = []
        result = quiet_run(
            self.file, out, resume=True, on_task_done=lambda task, cluster: flown_again.append(task)
        )
        self.assertEqual(read(result.files["table"]), read(self.one.files["table"]))
        self.assertEqual(sorted(flown_again + finished), list(range(8)))
        for name, mtime in kept.items():
            self.assertEqual(os.stat(os.path.join(tasks, name)).st_mtime_ns, mtime, name)

        # A changed campaign does not resume on another's results.
        changed = os.path.join(self.folder.name, "changed.toml")
        with open(changed, "w", encoding="utf-8") as f:
            f.write(CAMPAIGN.replace("seed = 11", "seed = 12"))
        with self.assertRaisesRegex(gc.CampaignError, "another campaign"):
            quiet_run(changed, out, resume=True)

    def test_a_few_tasks_in_flight_at_a_time(self):
        # 48 tasks of one flight on one worker: the driver keeps only a few
        # submitted (the plan's and three flights'), not all 48 at once.
        in_flight = []

        def count(task, cluster):
            in_flight.append(len(cluster.client.futures))

        one_per_task = os.path.join(self.folder.name, "one_per_task.toml")
        with open(one_per_task, "w", encoding="utf-8") as f:
            f.write(CAMPAIGN.replace("flights_per_task = 6", "flights_per_task = 1"))
        result = quiet_run(one_per_task, self.out("window"), on_task_done=count)
        self.assertEqual(len(in_flight), 48)
        self.assertLessEqual(max(in_flight), 1 + 3)
        self.assertEqual(
            read(result.files["table"]).replace("one_per_task", "small"),
            read(self.one.files["table"]),
        )

    def test_a_task_does_not_carry_the_grid(self):
        # 5,000 grid values: each flight task names the plan, sent once,
        # instead of carrying a copy of every value.
        big_grid = os.path.join(self.folder.name, "big_grid.toml")
        with open(big_grid, "w", encoding="utf-8") as f:
            f.write(
                CAMPAIGN.replace("samples = 24", "samples = 1").replace(
                    "[2, 4] }", "{ from = 1, to = 5, steps = 5000 } }"
                )
            )
        sizes = []

        def measure(task, cluster):
            sizes.append(cluster.client.run_on_scheduler(task_spec_sizes))
            raise Stop()

        with self.assertRaises(Stop):
            quiet_run(big_grid, self.out("big_grid"), on_task_done=measure)
        flight_tasks = {k: n for k, n in sizes[0].items() if not k.endswith("-plan")}
        self.assertTrue(flight_tasks)
        self.assertLess(max(flight_tasks.values()), 4000, "bytes of the largest task")

    def test_nothing_listens_beyond_this_machine(self):
        seen = []

        def listening(task, cluster):
            if not seen:
                pids = {os.getpid()} | set(cluster.client.run(os.getpid).values())
                seen.extend(listening_sockets(pids))

        quiet_run(self.file, self.out("listen"), workers=2, on_task_done=listening)
        # The scheduler, each worker, and their HTTP servers.
        self.assertGreaterEqual(len(seen), 4, seen)
        for address, port in seen:
            self.assertEqual(address, "127.0.0.1", (address, port))
            self.assertNotEqual(port, 8787)

    def test_stopped_at_any_moment_with_one_line_and_nothing_of_dasks(self):
        # Ctrl-C at a terminal reaches the driver and its workers alike;
        # 2,000 flights, so that it comes while they fly. (situation, signal
        # to the process group or (-) the driver alone, when: once the
        # cluster's folder is made or a task is written; status 130 with the
        # one line, or a kill, then resumed)
        mark = {"starting": "dask", "flying": "tasks/task_000000.jsonl"}
        rows = [
            ("Ctrl-C while flying", signal.SIGINT, "flying"),
            ("Ctrl-C while the cluster starts", signal.SIGINT, "starting"),
            ("SIGTERM while the cluster starts", -signal.SIGTERM, "starting"),
            ("the driver killed while flying", -signal.SIGKILL, "flying"),
        ]
        long_file = os.path.join(self.folder.name, "long.toml")
        with open(long_file, "w", encoding="utf-8") as f:
            f.write(CAMPAIGN.replace("samples = 24", "samples = 1000"))
        out = self.out("stopped")
        for situation, signum, moment in rows:
            with self.subTest(situation):
                shutil.rmtree(out, ignore_errors=True)
                killed = signum == -signal.SIGKILL
                driver = self.campaign_driver(self.file if killed else long_file, out)
                try:
                    deadline = time.monotonic() + 60
                    while not os.path.exists(os.path.join(out, mark[moment])):
                        self.assertLess(time.monotonic(), deadline)
                        self.assertIsNone(driver.poll())
                        time.sleep(0.01)
                    (os.killpg if signum > 0 else os.kill)(driver.pid, abs(signum))
                    _, err = driver.communicate(timeout=60)
                finally:
                    if driver.poll() is None:
                        os.killpg(driver.pid, signal.SIGKILL)
                        driver.wait()
                self.assertEqual(driver.returncode, -9 if killed else 130, err)
                self.assertEqual(
                    [line for line in err.splitlines() if line.strip()],
                    [] if killed else [INTERRUPTED_LINE],
                )
        # Resumed after the kill: nothing of Dask's (stale locks purged,
        # leaked semaphores) reaches the terminal; its log is in the folder.
        resumed = self.campaign_driver(self.file, out, "--resume")
        _, err = resumed.communicate(timeout=120)
        self.assertIn(resumed.returncode, (0, 1), err)
        self.assertEqual(err, "")
        self.assertTrue(os.path.isfile(os.path.join(out, "dask", "log.txt")))
        self.assertTrue(os.path.isdir(os.path.join(out, "dask", "dask-worker-space")))

    def campaign_driver(self, file, out, *options):
        """guide-campaign on two workers in a session of its own."""
        return subprocess.Popen(
            [sys.executable, "-m", "guidew.campaign", file, "-o", out, "--workers", "2"]
            + ["--quiet", "--no-pictures", *options],
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
            start_new_session=True,
        )

    def test_workers_without_the_package_are_one_line_status_3(self):
        # A cluster started by hand where guidew is not installed.
        env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
        port = free_port()
        address = "tcp://127.0.0.1:%d" % port
        scheduler = subprocess.Popen(
            [
                sys.executable,
                "-m",
                "distributed.cli.dask_scheduler",
                "--host",
                "127.0.0.1",
                "--port",
                str(port),
                "--no-dashboard",
            ],
            env=env,
            cwd="/",
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        worker = subprocess.Popen(
            [
                sys.executable,
                "-m",
                "distributed.cli.dask_worker",
                address,
                "--host",
                "127.0.0.1",
                "--nthreads",
                "1",
                "--no-dashboard",
            ],
            env=env,
            cwd="/",
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        try:
            done = subprocess.run(
                [
                    sys.executable,
                    "-m",
                    "guidew.campaign",
                    self.file,
                    "-o",
                    self.out("bare"),
                    "--scheduler",
                    address,
                    "--quiet",
                    "--no-pictures",
                ],
                capture_output=True,
                text=True,
                timeout=120,
            )
        finally:
            for process in (worker, scheduler):
                process.terminate()
                process.wait(timeout=30)
        self.assertEqual(done.returncode, 3, done.stderr)
        self.assertEqual(len(done.stderr.splitlines()), 1, done.stderr)
        self.assertIn("No module named 'guidew'", done.stderr)

    def test_cluster_failures_are_one_line_errors(self):
        from distributed import KilledWorker

        class Failing:
            key = "k"

            def __init__(self, exc):
                self.exc = exc

            def result(self):
                raise self.exc

        # (situation, what the task raised, the error, words of its message)
        rows = [
            ("workers keep dying", KilledWorker("k", "w", 3), gc.SetupError, "keep dying"),
            (
                "workers without the package",
                ModuleNotFoundError("No module named 'guidew'"),
                gc.SetupError,
                "guidew",
            ),
            (
                "workers without the simulator",
                gc.SimulatorLibraryError("libguidesim.so could not"),
                gc.SimulatorLibraryError,
                "on a worker",
            ),
        ]
        from guidew.campaign import _execute

        for situation, exc, error, words in rows:
            with self.subTest(situation):
                with self.assertRaisesRegex(error, words):
                    _execute._rows(Failing(exc), 3)

    def test_guide_sim_flies_a_row_again_to_its_figures(self):
        worst, value = self.one.summary["worst"]["altitude_lost_m"][0]
        self.assertEqual(self.one.table[worst]["altitude_lost_m"], value)
        # A worst flight from its file, and any row through --flight.
        any_row = os.path.join(self.folder.name, "row.json")
        with open(any_row, "w", encoding="utf-8") as f:
            subprocess.run(
                [sys.executable, "-m", "guidew.campaign", self.file, "--flight", "17"],
                stdout=f,
                check=True,
                timeout=60,
            )
        for index, scenario in ((worst, self.one.files["flights"][worst]), (17, any_row)):
            row = self.one.table[index]
            out = subprocess.run(
                [os.environ["GUIDE_SIM"], "--no-plot", "-o", self.out("sim"), scenario],
                capture_output=True,
                text=True,
                timeout=60,
            )
            printed = out.stdout.splitlines()[1].split()
            # name, converge "x.xx s", peak load "x.xx g", altitude lost "x m", ...
            self.assertEqual(printed[0], "small_%06d" % index)
            self.assertEqual(printed[3], "%.2f" % row["peak_load_g"])
            self.assertEqual(printed[5], "%.0f" % row["altitude_lost_m"])
            self.assertEqual(out.returncode == 0, row["passed"])


if __name__ == "__main__":
    unittest.main()
