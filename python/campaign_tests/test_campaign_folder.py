"""The results folder: never mistaken for a finished campaign, never mixing
two campaigns' files, never losing a user's files, and never blocked by a
damaged task file; a driver killed at any moment leaves it saying so."""

import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
import unittest
from unittest import mock

import guidew.campaign as gc
from campaign_test_support import ScratchFolderCase, Stop, quiet_run, read, stop_after
from guidew.campaign import _execute, _worker

CAMPAIGN = """\
[campaign]
name = "folder"
samples = {samples}
seed = {seed}
flights_per_task = 4

[scenario]
builtin = "typical"
duration_s = 4

[dispersions]
"initial.altitude_m" = {{ uniform = [2000, 4000] }}
"""
# Two campaigns that share a folder: as many flights, other seeds.
A = dict(samples=24, seed=1)
B = dict(samples=16, seed=2)
FINISHED_FILES = ("summary.txt", "flights.csv", "report.html")


def state(out):
    path = os.path.join(out, "campaign.json")
    return json.loads(read(path)) if os.path.exists(path) else None


def checksums(folder):
    """Every file under folder (links not followed) and its content."""
    found = {}
    for where, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(where, name)
            if os.path.islink(path):
                found[path] = os.readlink(path)
            else:
                with open(path, "rb") as f:
                    found[path] = hashlib.sha256(f.read()).hexdigest()
    return found


def access_by_mode(path, mode, *, dir_fd=None, follow_symlinks=True, **_):
    """os.access as a user who is not root: a file's write bits decide."""
    st = os.stat(path, dir_fd=dir_fd, follow_symlinks=follow_symlinks)
    return not mode & os.W_OK or bool(st.st_mode & 0o222)


def mounted_tmpfs(test, size):
    """A tmpfs of size at a scratch folder, unmounted at the test's end;
    skips the test where mounting is not allowed."""
    where = test.out("tmpfs_%s" % size)
    os.makedirs(where)
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", where])
    if done.returncode != 0:
        raise unittest.SkipTest("cannot mount a tmpfs here (not root?)")
    test.addCleanup(subprocess.run, ["umount", "-l", where])
    return where


class ResultsFolder(ScratchFolderCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.files, cls.tables = {}, {}
        for label, values in (("A", A), ("B", B)):
            cls.files[label] = os.path.join(cls.folder.name, label + ".toml")
            with open(cls.files[label], "w", encoding="utf-8") as f:
                f.write(CAMPAIGN.format(**values))
            done = quiet_run(cls.files[label], cls.out("reference_" + label))
            cls.tables[label] = read(done.files["table"])

    def run_campaign(self, label, out, **options):
        return quiet_run(self.files[label], out, **options)

    def test_a_folder_that_is_not_a_campaigns_is_refused_untouched(self):
        # (situation, files in the folder before the run)
        rows = [
            ("notes in a tasks folder", {"tasks/todo.txt": "notes\n"}),
            ("a user's own files", {"thesis.tex": "text\n", "flights.csv": "mine\n"}),
        ]
        for situation, files in rows:
            with self.subTest(situation):
                out = self.out(situation.replace(" ", "_"))
                for name, text in files.items():
                    os.makedirs(os.path.dirname(os.path.join(out, name)), exist_ok=True)
                    with open(os.path.join(out, name), "w", encoding="utf-8") as f:
                        f.write(text)
                with self.assertRaisesRegex(gc.OutputError, "no campaign's results"):
                    self.run_campaign("A", out)
                for name, text in files.items():
                    self.assertEqual(read(os.path.join(out, name)), text)

    def test_links_read_only_files_and_a_damaged_state_are_refused(self):
        # (situation, path in the folder, what is put there: a link to a
        # file or folder outside, a read-only file, or a file's text)
        state_json = json.dumps(state(self.out("reference_A")))
        rows = [
            ("pictures to a photo folder", "pictures", ("link", "photos")),
            ("flights elsewhere", "flights", ("link", "photos")),
            ("tasks elsewhere", "tasks", ("link", "photos")),
            ("a dangling partial summary", "summary.txt.partial", ("link", "new.txt")),
            ("the summary", "summary.txt", ("link", "notes.txt")),
            ("the table", "flights.csv", ("link", "notes.txt")),
            ("the state", "campaign.json", ("link", "notes.txt")),
            ("the lock", "campaign.lock", ("link", "notes.txt")),
            ("a picture", "pictures/histograms.png", ("link", "photos/beach.png")),
            ("a task file, resuming", "tasks/task_000001.jsonl", ("link", "notes.txt")),
            ("a merge's scratch", ".merge-x", ("link", "photos")),
            ("Dask's space", "dask", ("link", "photos")),
            ("a read-only table", "flights.csv", ("read-only", "mine")),
            ("negative tasks", "campaign.json", ("text", state_json.replace(": 4,", ": -4,"))),
            ("no task size", "campaign.json", ("text", state_json.replace("flights_per", "x"))),
            ("tasks of zero", "campaign.json", ("text", state_json.replace(": 4,", ": 0,"))),
            ("task size as text", "campaign.json", ("text", state_json.replace(": 4,", ': "4",'))),
            ("unknown status", "campaign.json", ("text", state_json.replace("complete", "done"))),
            ("not an object", "campaign.json", ("text", "[1, 2]")),
        ]
        outside = self.out("outside")
        os.makedirs(os.path.join(outside, "photos"))
        for file in ("photos/beach.png", "notes.txt"):
            with open(os.path.join(outside, file), "w", encoding="utf-8") as f:
                f.write("mine\n")
        for situation, name, (kind, what) in rows:
            with self.subTest(situation):
                out = self.out("salted")
                shutil.rmtree(out, ignore_errors=True)
                shutil.copytree(self.out("reference_A"), out)
                path = os.path.join(out, name)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                if os.path.isdir(path):
                    shutil.rmtree(path)
                elif os.path.lexists(path):
                    os.remove(path)
                if kind == "link":
                    os.symlink(os.path.join(outside, what), path)
                else:
                    with open(path, "w", encoding="utf-8") as f:
                        f.write(what)
                    os.chmod(path, 0o444 if kind == "read-only" else 0o644)
                before = checksums(self.folder.name)
                # As a user who is not root (root may write a read-only file).
                with mock.patch.object(os, "access", access_by_mode):
                    with self.assertRaisesRegex(gc.OutputError, "^" + re.escape(path + ": ")):
                        self.run_campaign("A", out, resume=True)
                self.assertEqual(checksums(self.folder.name), before)
        # A link put in place of tasks/ while the campaign flies is refused.
        tasks = os.path.join(self.out("linked_while_flying"), "tasks")

        def link_tasks(task, cluster):
            if not os.path.islink(tasks):
                os.rename(tasks, tasks + ".mine")
                os.symlink(os.path.join(outside, "photos"), tasks)

        before = checksums(outside)
        with self.assertRaisesRegex(gc.OutputError, tasks + ": is a link"):
            self.run_campaign("A", os.path.dirname(tasks), on_task_done=link_tasks)
        self.assertEqual(checksums(outside), before)

    def test_a_full_disk_is_one_line_and_leaves_nothing_half_written(self):
        # (situation, size of the disk, pictures, the file it fills on)
        rows = [
            ("full while flying", "16k", False, "tasks/task_000003.jsonl"),
            ("full while drawing", "160k", True, "pictures/"),
        ]
        for situation, size, pictures, where in rows:
            with self.subTest(situation):
                out = os.path.join(mounted_tmpfs(self, size), "out")
                with self.assertRaisesRegex(gc.OutputError, "No space left on device") as caught:
                    self.run_campaign("A", out, pictures=pictures)
                self.assertIn(os.path.join(out, where), str(caught.exception))
                self.assertEqual(state(out)["status"], "incomplete")
                for name in checksums(out):
                    self.assertNotIn(".partial", name)
                    self.assertNotIn(".merge-", name)

    def test_a_second_run_into_a_folder_in_use_is_refused(self):
        from guidew.campaign import _folder

        out = self.out("in_use")
        self.run_campaign("A", out)
        with _folder.claimed(out):
            with self.assertRaisesRegex(gc.OutputError, "another campaign run"):
                self.run_campaign("B", out)
        self.assertEqual(read(os.path.join(out, "flights.csv")), self.tables["A"])
        self.assertEqual(state(out)["status"], "complete")

    def test_a_new_run_leaves_nothing_of_the_last_one(self):
        out = self.out("replaced")
        self.run_campaign("A", out, pictures=True, report=True)
        # A user's files beside the campaign's, even where it writes.
        mine = (
            "notes.txt",
            "pictures/my_photo.png",
            ".merge-notes/plan.txt",
            "flights/trip_000001.json",
        )
        for name in mine:
            os.makedirs(os.path.dirname(os.path.join(out, name)), exist_ok=True)
            with open(os.path.join(out, name), "w", encoding="utf-8") as f:
                f.write("mine\n")
        a_flights = set(os.listdir(os.path.join(out, "flights"))) - {"trip_000001.json"}

        def stop(task, cluster):
            raise Stop()

        # Another campaign, stopped after its first task: nothing finished
        # of the first may remain to pass for its results.
        with self.assertRaises(Stop):
            self.run_campaign("B", out, on_task_done=stop)
        self.assertEqual(state(out)["status"], "incomplete")
        for name in FINISHED_FILES:
            self.assertFalse(os.path.exists(os.path.join(out, name)), name)
        self.assertEqual(os.listdir(os.path.join(out, "flights")), ["trip_000001.json"])
        self.assertEqual(os.listdir(os.path.join(out, "pictures")), ["my_photo.png"])
        self.assertEqual(len(os.listdir(os.path.join(out, "tasks"))), 1)

        done = self.run_campaign("B", out, resume=True)
        self.assertEqual(state(out)["status"], "complete")
        self.assertEqual(read(done.files["table"]), self.tables["B"])
        self.assertEqual(
            sorted(os.listdir(os.path.join(out, "flights"))),
            sorted(
                ["trip_000001.json"] + [os.path.basename(p) for p in done.files["flights"].values()]
            ),
        )
        self.assertTrue(a_flights)
        for name in mine:
            self.assertEqual(read(os.path.join(out, name)), "mine\n")

    def test_resume_sets_damaged_task_files_aside_and_flies_them_again(self):
        out = self.out("damaged")
        finished = []
        with self.assertRaises(Stop):
            self.run_campaign("A", out, on_task_done=stop_after(6, finished))
        tasks = os.path.join(out, "tasks")
        names = sorted(os.listdir(tasks))
        other = self.out("other")
        self.run_campaign("B", other)
        # Task 3 as flown by a campaign of the same seed and dispersions
        # that flies 5 s instead of 4.
        longer = gc.load(self.files["A"])
        longer.base_overrides["duration_s"] = 5
        plan = longer.to_plan()
        rows = _worker.fly_task(plan, 12, 4)
        os.makedirs(self.out("longer"))
        _execute.write_task(self.out("longer"), (3, 12, 4), rows, _execute.fingerprint(plan))

        def edit_first_row(name, change):
            with open(os.path.join(tasks, name), encoding="utf-8") as f:
                lines = f.readlines()
            row = json.loads(lines[1])
            change(row)
            lines[1] = json.dumps(row) + "\n"
            with open(os.path.join(tasks, name), "w", encoding="utf-8") as f:
                f.writelines(lines)

        # How each file is damaged: cut short mid-line, emptied, replaced by
        # another campaign's task of the same number or by the longer
        # flights', a metric's last digit changed, a failed check passed.
        with open(os.path.join(tasks, names[0]), "r+b") as f:
            f.truncate(30)
        with open(os.path.join(tasks, names[1]), "wb"):
            pass
        shutil.copy(os.path.join(other, "tasks", names[2]), os.path.join(tasks, names[2]))
        shutil.copy(
            os.path.join(self.out("longer"), "tasks", names[3]), os.path.join(tasks, names[3])
        )
        edit_first_row(
            names[4], lambda r: r["metrics"].update(peak_load_g=r["metrics"]["peak_load_g"] + 1e-12)
        )
        edit_first_row(names[5], lambda r: r.update(passed=not r["passed"]))
        # A file of a task the campaign does not have.
        with open(os.path.join(tasks, "task_000099.jsonl"), "w", encoding="utf-8") as f:
            f.write("{}\n")

        done = subprocess.run(
            [
                sys.executable,
                "-m",
                "guidew.campaign",
                self.files["A"],
                "-o",
                out,
                "--resume",
                "--quiet",
                "--no-pictures",
                "--workers",
                "1",
            ],
            capture_output=True,
            text=True,
            timeout=120,
        )
        self.assertIn(done.returncode, (0, 1), done.stderr)
        self.assertEqual(read(os.path.join(out, "flights.csv")), self.tables["A"])
        for name in names + ["task_000099.jsonl"]:
            self.assertIn(os.path.join(tasks, name), done.stderr)
            self.assertTrue(os.path.exists(os.path.join(tasks, name + ".damaged")), name)
        self.assertEqual(state(out)["status"], "complete")

    def test_a_driver_killed_at_any_moment_leaves_a_folder_that_says_so(self):
        # Runs of the two campaigns into one folder, fresh or resumed, each
        # killed (with its workers) at a random moment; whatever is left
        # says incomplete, or says complete and holds exactly its rows.
        seed = int(os.environ.get("CAMPAIGN_KILL_SEED", time.time()))
        rng = random.Random(seed)
        out = self.out("killed")
        started = time.monotonic()
        self.drive("A", out, None)
        full_run_s = time.monotonic() - started
        outcomes = []
        for run in range(10):
            label = rng.choice("AB")
            resume = rng.random() < 0.5
            outcomes.append(self.drive(label, out, rng.uniform(0.2, 1.2) * full_run_s, resume))
            with self.subTest(run=run, seed=seed, label=label, resume=resume):
                self.assert_folder_honest(out)
        # A last run that is let finish: complete, with its own rows.
        self.drive("B", out, None)
        self.assertEqual(state(out)["status"], "complete")
        self.assertEqual(read(os.path.join(out, "flights.csv")), self.tables["B"])
        # The moments covered both stopped and finished runs.
        self.assertIn("killed", outcomes)

    def drive(self, label, out, kill_after_s, resume=False):
        """Runs guide-campaign; kills it and its workers after kill_after_s."""
        args = [
            sys.executable,
            "-m",
            "guidew.campaign",
            self.files[label],
            "-o",
            out,
            "--workers",
            "1",
            "--quiet",
        ] + (["--resume"] if resume else [])
        driver = subprocess.Popen(
            args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True
        )
        try:
            driver.wait(timeout=kill_after_s or 120)
            outcome = "finished"
        except subprocess.TimeoutExpired:
            os.killpg(driver.pid, signal.SIGKILL)
            driver.wait()
            outcome = "killed"
        finally:
            driver.stderr.close()
            if driver.poll() is None:
                os.killpg(driver.pid, signal.SIGKILL)
                driver.wait()
        return outcome

    def assert_folder_honest(self, out):
        """Complete with exactly the right rows, or saying incomplete."""
        claimed = state(out)
        if claimed is None:  # killed before it claimed the folder
            return
        table = os.path.join(out, "flights.csv")
        expected = self.tables["A" if claimed["flights"] == 24 else "B"]
        if claimed["status"] == "complete":
            self.assertEqual(read(table), expected)
            for name in ("summary.txt", "report.html"):
                self.assertTrue(os.path.exists(os.path.join(out, name)), name)
        else:
            self.assertEqual(claimed["status"], "incomplete")
        # A table present is always this campaign's, never the last one's.
        if os.path.exists(table):
            self.assertEqual(read(table), expected)
        tasks = os.path.join(out, "tasks")
        for name in os.listdir(tasks) if os.path.isdir(tasks) else []:
            if name.endswith(".jsonl"):
                with open(os.path.join(out, "tasks", name), encoding="utf-8") as f:
                    rows = [json.loads(line) for line in f][1:]  # after the seal
                first = int(name[5:11]) * 4
                self.assertEqual([r["index"] for r in rows], list(range(first, first + len(rows))))


if __name__ == "__main__":
    unittest.main()
