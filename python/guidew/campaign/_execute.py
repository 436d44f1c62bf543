"""Flying a campaign's flights on Dask, streaming the results to disk.

The flights are cut into tasks of consecutive indices. The driver writes
each finished task's rows to a file of its own (written aside and renamed,
so a file under its final name is always whole) and keeps nothing of them.
A task whose worker dies is flown again by Dask on another worker; its file
is written once, when its one future completes, so no flight is lost or
duplicated. --resume skips the tasks whose files exist.
"""

from __future__ import annotations

import hashlib
import json
import logging
import os
import shutil
import sys
import time
from typing import (Callable, Dict, Iterable, Iterator, List, Mapping, Optional, Protocol, Set, TextIO,
                    Tuple, TypedDict, TypeVar, cast)

from . import _worker
from ._config import Campaign, CampaignError
from ._types import FlightRow, Plan

TASKS_DIR = "tasks"
STATE_FILE = "campaign.json"
# Flights per task: enough that Dask's cost per task (a few milliseconds)
# is small beside the task's flying, few enough that each worker gets many
# tasks (even sharing, progress, and little lost when a worker dies).
MAX_FLIGHTS_PER_TASK = 100
TASKS_PER_WORKER = 10

# (task, first flight, flights): a task flies flights first .. first + flights - 1.
TaskRange = Tuple[int, int, int]
_T = TypeVar("_T")


class DaskFuture(Protocol):
    """The part of a Dask future a campaign uses: a task's rows."""

    @property
    def key(self) -> str: ...
    def result(self) -> List[FlightRow]: ...
    def release(self) -> None: ...


class DaskClient(Protocol):
    """The part of a Dask client (distributed.Client) a campaign uses;
    run(function) calls function on every worker and returns its results
    by worker address."""

    def submit(self, function: Callable[..., List[FlightRow]], /, *args: object, key: str,
               pure: bool) -> DaskFuture: ...
    def scheduler_info(self) -> Mapping[str, object]: ...
    def run(self, function: Callable[..., _T], /, *args: object) -> Dict[str, _T]: ...
    def close(self) -> None: ...


class _Closable(Protocol):
    """A local cluster, as far as a campaign uses it."""

    def close(self) -> None: ...


class _State(TypedDict):
    """campaign.json in the results folder: what a resumed run checks."""

    name: str
    flights: int
    fingerprint: str
    flights_per_task: int


def fingerprint(plan: Plan) -> str:
    """What makes two runs the same campaign: the flights' definition."""
    text = json.dumps(plan, sort_keys=True, default=repr)
    return hashlib.sha256(text.encode("utf-8")).hexdigest()


def flights_per_task(campaign: Campaign, workers: int) -> int:
    """The file's flights_per_task, or enough tasks for every worker."""
    if campaign.flights_per_task:
        return campaign.flights_per_task
    return max(1, min(MAX_FLIGHTS_PER_TASK, -(-campaign.flights // (workers * TASKS_PER_WORKER))))


def task_file(out_dir: str, task: int) -> str:
    """The file of task's rows, one JSON object per line."""
    return os.path.join(out_dir, TASKS_DIR, "task_%06d.jsonl" % task)


def write_task(out_dir: str, task: int, rows: Iterable[FlightRow]) -> None:
    """Writes a task's file aside, then renames it: never half-written."""
    path = task_file(out_dir, task)
    partial = path + ".partial"
    with open(partial, "w", encoding="utf-8") as f:
        for row in rows:
            f.write(json.dumps(row, allow_nan=True))
            f.write("\n")
    os.replace(partial, path)


def read_task(out_dir: str, task: int) -> List[FlightRow]:
    """The rows of a finished task, in flight order."""
    with open(task_file(out_dir, task), encoding="utf-8") as f:
        return [cast(FlightRow, json.loads(line)) for line in f]


class Progress:
    """One line on the terminal: flights done, rate and time left."""

    WIDTH = 30

    def __init__(self, total: int, done: int, stream: TextIO = sys.stderr, enabled: bool = True) -> None:
        self.total, self.done, self.start_done = total, done, done
        self.stream, self.enabled = stream, enabled
        self.started = time.monotonic()
        self.last_shown = 0.0
        self.tty = enabled and hasattr(stream, "isatty") and stream.isatty()

    def rate(self) -> float:
        """Flights per second flown by this run."""
        elapsed = time.monotonic() - self.started
        return (self.done - self.start_done) / elapsed if elapsed > 0 else 0.0

    def line(self) -> str:
        """The bar, the count, the rate and the time left."""
        rate = self.rate()
        left = (self.total - self.done) / rate if rate > 0 else float("nan")
        filled = int(self.WIDTH * self.done / self.total) if self.total else self.WIDTH
        left_text = "--:--" if left != left else "%d:%02d" % divmod(int(left + 0.5), 60)
        return "[%s%s] %d/%d flights  %.0f flights/s  %s left" % (
            "#" * filled, "." * (self.WIDTH - filled), self.done, self.total, rate, left_text)

    def update(self, flights: int) -> None:
        """Counts flights done and shows the line when it is due."""
        self.done += flights
        if not self.enabled:
            return
        now = time.monotonic()
        finished = self.done >= self.total
        # On a terminal the line is redrawn; in a log, a line every 10 s.
        if self.tty and (now - self.last_shown > 0.1 or finished):
            self.stream.write("\r" + self.line())
            if finished:
                self.stream.write("\n")
            self.stream.flush()
            self.last_shown = now
        elif not self.tty and (now - self.last_shown > 10.0 or finished):
            self.stream.write(self.line() + "\n")
            self.stream.flush()
            self.last_shown = now


def _prepare_out(out_dir: str, state: _State, resume: bool) -> Set[int]:
    """The tasks already done (resume), after checking they belong here."""
    tasks_dir = os.path.join(out_dir, TASKS_DIR)
    state_path = os.path.join(out_dir, STATE_FILE)
    if resume and os.path.exists(state_path):
        with open(state_path, encoding="utf-8") as f:
            old = cast(_State, json.load(f))
        if old.get("fingerprint") != state["fingerprint"]:
            raise CampaignError("%s holds the results of another campaign (or of this file "
                                "before a change); use another --out, or run without --resume "
                                "to replace them" % out_dir)
        state["flights_per_task"] = old["flights_per_task"]
    else:
        if os.path.isdir(tasks_dir):
            shutil.rmtree(tasks_dir)
    os.makedirs(tasks_dir, exist_ok=True)
    partial = state_path + ".partial"
    with open(partial, "w", encoding="utf-8") as f:
        json.dump(state, f, indent=1)
    os.replace(partial, state_path)
    done: Set[int] = set()
    for name in os.listdir(tasks_dir):
        if name.endswith(".partial"):
            os.remove(os.path.join(tasks_dir, name))
        elif name.startswith("task_") and name.endswith(".jsonl"):
            done.add(int(name[5:-6]))
    return done


def task_ranges(flights: int, per_task: int) -> List[TaskRange]:
    """The campaign's flights cut into tasks of per_task (the last fewer)."""
    return [(t, t * per_task, min(per_task, flights - t * per_task))
            for t in range((flights + per_task - 1) // per_task)]


def _environment_for_workers() -> None:
    """Worker processes started here import this package and load the
    simulator library the driver loaded, whatever put them on its path."""
    from . import _simlib
    package_root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    paths = os.environ.get("PYTHONPATH", "").split(os.pathsep)
    if package_root not in paths:
        os.environ["PYTHONPATH"] = os.pathsep.join([package_root] + [p for p in paths if p])
    os.environ[_simlib.SIM_LIBRARY_ENV] = os.path.abspath(_simlib.library_path())


def _dask() -> Tuple[Callable[..., DaskClient], Callable[..., _Closable]]:
    """Dask's Client and LocalCluster, or a CampaignError naming the package."""
    try:
        from distributed import Client, LocalCluster
    except ImportError as exc:
        raise CampaignError("campaigns run on Dask, which this Python lacks (%s); install Debian's "
                            "python3-distributed (scripts/setup.sh does) and run /usr/bin/python3"
                            % exc) from None
    return Client, LocalCluster


class Cluster:
    """Where a campaign runs: a Dask client on an existing scheduler, or on
    a local cluster of single-threaded worker processes that lives as long
    as the campaign. ``client`` is the Dask client, ``workers`` how many
    workers share the tasks."""

    __module__ = "guidew.campaign"

    def __init__(self, workers: int, scheduler: Optional[str]) -> None:
        Client, LocalCluster = _dask()
        self.cluster: Optional[_Closable] = None
        self.client: DaskClient
        self.workers: int
        if scheduler:
            try:
                self.client = Client(scheduler, timeout=10)
            except (OSError, TimeoutError) as exc:
                raise CampaignError("cannot reach the scheduler at %s: %s" % (scheduler, exc)) from None
            known = cast(Mapping[str, object], self.client.scheduler_info().get("workers", {}))
            self.workers = max(1, len(known))
        else:
            _environment_for_workers()
            self.cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                        dashboard_address=None, silence_logs=logging.ERROR)
            self.client = Client(self.cluster)
            self.workers = workers

    def close(self) -> None:
        """Closes the client, and the local cluster when there is one."""
        self.client.close()
        if self.cluster is not None:
            self.cluster.close()


# Called after each task's file is written, with the task's number and the
# cluster: what it raises stops the campaign (its finished tasks are kept).
TaskDone = Callable[[int, Cluster], object]


def execute(campaign: Campaign, out_dir: str, workers: Optional[int] = None,
            scheduler: Optional[str] = None, resume: bool = False, progress: bool = True,
            on_task_done: Optional[TaskDone] = None) -> List[TaskRange]:
    """Flies every flight not yet on disk; returns the task ranges."""
    # The cluster first: a scheduler out of reach leaves earlier results be.
    cluster = Cluster(workers or os.cpu_count() or 1, scheduler)
    try:
        plan = campaign.to_plan()
        state: _State = {"name": campaign.name, "flights": campaign.flights,
                 "fingerprint": fingerprint(plan),
                 "flights_per_task": flights_per_task(campaign, cluster.workers)}
        done = _prepare_out(out_dir, state, resume)
        tasks = task_ranges(campaign.flights, state["flights_per_task"])
        todo = [t for t in tasks if t[0] not in done]
        bar = Progress(campaign.flights, sum(t[2] for t in tasks if t[0] in done), enabled=progress)
        bar.update(0)
        prefix = "flights-%s-%s" % (campaign.name, state["fingerprint"][:12])
        futures: Dict[str, Tuple[int, int]] = {}
        submitted: List[DaskFuture] = []
        for task, first, count in todo:
            future = cluster.client.submit(_worker.fly_task, plan, first, count,
                                           key="%s-%d" % (prefix, task), pure=False)
            futures[future.key] = (task, count)
            submitted.append(future)
        from distributed import as_completed
        finished = cast(Callable[[List[DaskFuture]], Iterator[DaskFuture]], as_completed)
        for future in finished(submitted):
            task, count = futures[future.key]
            rows = future.result()
            write_task(out_dir, task, rows)
            future.release()
            bar.update(count)
            if on_task_done is not None:
                on_task_done(task, cluster)
    finally:
        cluster.close()
    return tasks
