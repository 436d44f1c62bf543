"""Flying a campaign's flights on Dask, streaming the results to disk.

The flights are cut into tasks of consecutive indices. The driver writes
each finished task's rows to a file of its own (written aside and renamed,
so a file under its final name is always whole) and keeps nothing of them.
A task whose worker dies is flown again by Dask on another worker; its file
is written once, when its one future completes, so no flight is lost or
duplicated. --resume skips the tasks whose files exist and hold what they
should; a damaged one is set aside and its flights flown again.

However many flights, the driver keeps only a few tasks per worker in
flight, submitting the next as each comes back, and the plan (with every
grid value) travels to the cluster once, as a task of its own that each
flight task takes as its argument: the scheduler and the driver hold a
bounded number of small tasks, and the first flights start at once.
"""

from __future__ import annotations

import hashlib
import json
import logging
import os
import signal
import sys
import time
from typing import (
    Callable,
    Dict,
    Iterable,
    Iterator,
    List,
    Mapping,
    Optional,
    Protocol,
    TextIO,
    Tuple,
    TypeVar,
    cast,
)

from . import _folder, _worker
from ._config import Campaign, CampaignError, SetupError
from ._simlib import SimulatorLibraryError
from ._types import FlightRow, Plan

TASKS_DIR = _folder.TASKS_DIR
STATE_FILE = _folder.STATE_FILE
# Flights per task: enough that Dask's cost per task (a few milliseconds)
# is small beside the task's flying, few enough that each worker gets many
# tasks (even sharing, progress, and little lost when a worker dies).
MAX_FLIGHTS_PER_TASK = 100
TASKS_PER_WORKER = 10
# Tasks submitted and not yet back, per worker: one flying, one queued
# behind it so a worker never waits for the driver, one spare.
TASKS_IN_FLIGHT_PER_WORKER = 3
# Entries the scheduler of a local cluster keeps of each of its logs
# (transitions, events): enough to tell what went wrong lately.
SCHEDULER_LOG_ENTRIES = 1000
# Dask's log, in the campaign's Dask folder.
DASK_LOG = "log.txt"
# Where a local cluster listens unless asked otherwise: this machine only.
LOCAL_ADDRESS = "127.0.0.1"

# (task, first flight, flights): a task flies flights first .. first + flights - 1.
TaskRange = Tuple[int, int, int]
_T = TypeVar("_T")


class DaskFuture(Protocol):
    """The part of a Dask future a campaign uses: a task's rows."""

    @property
    def key(self) -> str:
        ...

    def result(self) -> List[FlightRow]:
        ...

    def release(self) -> None:
        ...


class DaskClient(Protocol):
    """The part of a Dask client (distributed.Client) a campaign uses;
    run(function) calls function on every worker and returns its results
    by worker address."""

    def submit(
        self, function: Callable[..., object], /, *args: object, key: str, pure: bool
    ) -> DaskFuture:
        ...

    def scheduler_info(self) -> Mapping[str, object]:
        ...

    def run(self, function: Callable[..., _T], /, *args: object) -> Dict[str, _T]:
        ...

    def close(self) -> None:
        ...


class _AsCompleted(Protocol):
    """distributed.as_completed: futures as they finish, more added on the way."""

    def add(self, future: DaskFuture) -> None:
        ...

    def __iter__(self) -> Iterator[DaskFuture]:
        ...


class _Closable(Protocol):
    """A local cluster, as far as a campaign uses it."""

    def close(self) -> None:
        ...


def fingerprint(plan: Plan) -> str:
    """What makes two runs the same campaign: the flights' definition."""
    text = json.dumps(plan, sort_keys=True, default=repr)
    return hashlib.sha256(text.encode("utf-8")).hexdigest()


def flights_per_task(campaign: Campaign, workers: int) -> int:
    """The file's flights_per_task, or enough tasks for every worker."""
    if campaign.flights_per_task:
        return campaign.flights_per_task
    return max(1, min(MAX_FLIGHTS_PER_TASK, -(-campaign.flights // (workers * TASKS_PER_WORKER))))


def task_file(task: int) -> str:
    """The file of task's rows, one JSON object per line, in the folder."""
    return os.path.join(TASKS_DIR, "task_%06d.jsonl" % task)


def _seal(fingerprint: str, task: TaskRange, lines: Iterable[str]) -> Dict[str, object]:
    """What makes a task file this campaign's and whole: the campaign's
    fingerprint, the task's flights and a digest of its rows' text."""
    digest = hashlib.sha256()
    for line in lines:
        digest.update(line.encode("utf-8"))
    number, first, count = task
    return {
        "campaign": fingerprint,
        "task": number,
        "first": first,
        "flights": count,
        "rows": digest.hexdigest(),
    }


def write_task(out_dir: str, task: TaskRange, rows: Iterable[FlightRow], fingerprint: str) -> None:
    """Writes a task's file aside, then renames it: never half-written. Its
    first line is the seal (_seal) that --resume checks."""
    lines = [json.dumps(row, allow_nan=True) + "\n" for row in rows]

    def write(f: TextIO) -> None:
        f.write(json.dumps(_seal(fingerprint, task, lines)) + "\n")
        f.writelines(lines)

    _folder.write_atomically(out_dir, task_file(task[0]), write)


def _task_lines(out_dir: str, task: int) -> Tuple[object, List[str]]:
    """A task file's seal (as read) and its row lines."""
    with _folder.reading(out_dir, task_file(task)) as f:
        seal = json.loads(f.readline() or "null")
        return seal, f.readlines()


def read_task(out_dir: str, task: int) -> List[FlightRow]:
    """The rows of a finished task, in flight order."""
    return [cast(FlightRow, json.loads(line)) for line in _task_lines(out_dir, task)[1]]


def task_damage(out_dir: str, fingerprint: str, task: TaskRange) -> Optional[str]:
    """Why a task's file cannot be used (unreadable, without its seal, of
    another campaign or task, its rows changed), or None."""
    try:
        seal, lines = _task_lines(out_dir, task[0])
        rows = [json.loads(line) for line in lines]
    except (OSError, UnicodeDecodeError, ValueError) as exc:
        return "unreadable (%s)" % (exc.strerror if isinstance(exc, OSError) else exc)
    if not isinstance(seal, dict) or set(seal) != set(_seal("", task, [])):
        return "has no seal (not written by this version of the campaign)"
    if seal["campaign"] != fingerprint:
        return "holds another campaign's flights (or this file's before a change)"
    if seal != _seal(fingerprint, task, lines):
        return "its rows are not those it was written with (changed or cut short)"
    if [r.get("index") if isinstance(r, dict) else None for r in rows] != list(
        range(task[1], task[1] + task[2])
    ):
        return "does not hold flights %d..%d in order" % (task[1], task[1] + task[2] - 1)
    return None


def resumable_tasks(
    out_dir: str, fingerprint: str, tasks: List[TaskRange], notice: TextIO = sys.stderr
) -> List[int]:
    """The tasks of an interrupted run whose files hold what they should.
    A damaged file is named, set aside (NAME.damaged) and its flights
    flown again: one bad file never blocks the campaign."""
    _folder.remove_partial_tasks(out_dir)
    good = []
    for number in _folder.task_numbers(out_dir):
        damage = (
            task_damage(out_dir, fingerprint, tasks[number])
            if number < len(tasks)
            else "no such task (the campaign has %d)" % len(tasks)
        )
        if damage is None:
            good.append(number)
            continue
        aside = _folder.set_aside(out_dir, task_file(number))
        notice.write(
            "guide-campaign: %s: %s; set aside as %s, its flights are flown again\n"
            % (os.path.join(out_dir, task_file(number)), damage, os.path.basename(aside))
        )
    return good


class Progress:
    """One line on the terminal: flights done, rate and time left."""

    WIDTH = 30

    def __init__(
        self, total: int, done: int, stream: TextIO = sys.stderr, enabled: bool = True
    ) -> None:
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
            "#" * filled,
            "." * (self.WIDTH - filled),
            self.done,
            self.total,
            rate,
            left_text,
        )

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


def _prepare_out(out_dir: str, state: _folder.State, resume: bool) -> bool:
    """Claims the folder for this run (incomplete, the last run's results
    removed); True when an interrupted run's tasks are to be kept."""
    old = _folder.read_state(out_dir)
    keep = resume and old is not None
    if old is not None and keep:
        if old["fingerprint"] != state["fingerprint"]:
            raise _folder.OutputError(
                "%s holds the results of another campaign (or of this file before a change); "
                "use another --output, or run without --resume to replace them" % out_dir
            )
        state["flights_per_task"] = old["flights_per_task"]
    _folder.start(out_dir, state, keep, old["name"] if old else None)
    return keep


def task_ranges(flights: int, per_task: int) -> List[TaskRange]:
    """The campaign's flights cut into tasks of per_task (the last fewer)."""
    return [
        (t, t * per_task, min(per_task, flights - t * per_task))
        for t in range((flights + per_task - 1) // per_task)
    ]


def _environment_for_workers() -> None:
    """Worker processes started here import this package and load the
    simulator library the driver loaded, whatever put them on its path."""
    from . import _simlib

    package_root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    paths = os.environ.get("PYTHONPATH", "").split(os.pathsep)
    if package_root not in paths:
        os.environ["PYTHONPATH"] = os.pathsep.join([package_root] + [p for p in paths if p])
    # Python's resource tracker (a process of the driver's, which outlives
    # a killed run) would warn of the semaphores of killed workers on the
    # terminal: Dask's, not a user's, to clean up.
    quiet = "ignore::UserWarning:multiprocessing.resource_tracker"
    warnings = os.environ.get("PYTHONWARNINGS", "")
    if quiet not in warnings.split(","):
        os.environ["PYTHONWARNINGS"] = ",".join(w for w in (warnings, quiet) if w)
    loaded = _simlib.library_path()
    if os.sep in loaded:  # else a name the system loader finds on the workers too
        os.environ[_simlib.SIM_LIBRARY_ENV] = os.path.abspath(loaded)


def _dask() -> Tuple[Callable[..., DaskClient], Callable[..., _Closable]]:
    """Dask's Client and LocalCluster, or a SetupError naming the package."""
    try:
        from distributed import Client, LocalCluster
    except ImportError as exc:
        raise SetupError(
            "campaigns run on Dask, which this Python lacks (%s); install Debian's "
            "python3-distributed (scripts/setup.sh does) and run /usr/bin/python3" % exc
        ) from None
    return Client, LocalCluster


class _SignalsHeldWhileStarting:
    """While a local cluster starts, Ctrl-C (SIGINT) and SIGTERM are held,
    and answered (as Ctrl-C) once it is up and can be shut down whole: one
    cut half-way leaves processes and threads that print tracebacks.

    Ctrl-C at the terminal reaches the whole process group, and only the
    driver is to answer it: the worker processes started meanwhile inherit
    SIGINT ignored. The driver blocks it too, and Linux keeps a blocked
    signal pending even while it is ignored, so a Ctrl-C pressed meanwhile
    is delivered once the handler is back and it is unblocked. Python's
    resource tracker unblocks SIGINT when it starts: it is started first."""

    def __enter__(self) -> None:
        from multiprocessing import resource_tracker

        resource_tracker.ensure_running()
        self.terminated = False

        def hold(signum: int, frame: object) -> None:
            self.terminated = True

        self.previous_term = signal.signal(signal.SIGTERM, hold)
        signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
        self.previous_int = signal.signal(signal.SIGINT, signal.SIG_IGN)

    def __exit__(self, kind: Optional[type], *exc: object) -> None:
        signal.signal(signal.SIGTERM, self.previous_term)
        signal.signal(signal.SIGINT, self.previous_int)
        # A Ctrl-C pressed meanwhile is delivered here, as KeyboardInterrupt.
        signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT})
        if self.terminated and kind is None:
            raise KeyboardInterrupt()


class _CtrlCWaits:
    """Ctrl-C held back while the cluster shuts down (a shutdown cut
    half-way leaves processes that keep the driver alive), and answered
    once it is down."""

    def __enter__(self) -> None:
        self.pressed = False

        def hold(signum: int, frame: object) -> None:
            self.pressed = True

        self.previous = signal.signal(signal.SIGINT, hold)

    def __exit__(self, kind: Optional[type], *exc: object) -> None:
        signal.signal(signal.SIGINT, self.previous)
        if self.pressed and kind is None:
            raise KeyboardInterrupt()


def _quiet_dask(space: str) -> Dict[str, object]:
    """Dask's settings for a local cluster of one campaign: its worker
    space (lock files, scratch) in a folder of its own, never the system's
    temporary folder every campaign shares (where a killed run's stale
    locks make the next one log that it purges them), and the scheduler's
    logs of transitions and events kept short: at their defaults (100,000
    entries each) they grow by kilobytes per task for the first tens of
    thousands of tasks."""
    return {
        "temporary-directory": space,
        "distributed.scheduler.transition-log-length": SCHEDULER_LOG_ENTRIES,
        "distributed.scheduler.events-log-length": SCHEDULER_LOG_ENTRIES,
        "distributed.admin.log-length": SCHEDULER_LOG_ENTRIES,
    }


def _log_to(path: str) -> None:
    """Dask's log lines (of the driver, the scheduler and the nannies) go
    to path, not to the terminal."""
    handler = logging.FileHandler(path, encoding="utf-8")
    handler.setFormatter(logging.Formatter("%(asctime)s %(name)s %(levelname)s %(message)s"))
    for name in ("distributed", "dask"):
        log = logging.getLogger(name)
        for old in [h for h in log.handlers if getattr(h, "campaign_log", False)]:
            log.removeHandler(old)
            old.close()
        handler.campaign_log = True  # type: ignore[attr-defined]
        log.addHandler(handler)
        log.propagate = False


class Cluster:
    """Where a campaign runs: a Dask client on an existing scheduler, or on
    a local cluster of single-threaded worker processes that lives as long
    as the campaign. ``client`` is the Dask client, ``workers`` how many
    workers share the tasks. A local cluster listens on ``listen`` (default
    127.0.0.1, this machine only), serves no dashboard, and keeps its
    worker space and log in ``space`` (default: Dask's, in the system's
    temporary folder)."""

    __module__ = "guidew.campaign"

    def __init__(
        self,
        workers: int,
        scheduler: Optional[str],
        listen: Optional[str] = None,
        space: Optional[str] = None,
    ) -> None:
        Client, LocalCluster = _dask()
        self.cluster: Optional[_Closable] = None
        self.client: DaskClient
        self.workers: int
        if scheduler:
            try:
                self.client = Client(scheduler, timeout=10)
            except Exception as exc:  # noqa: BLE001 - Dask raises many kinds for a bad address
                raise SetupError(
                    "cannot reach the scheduler at %s: %s" % (scheduler, exc)
                ) from None
            known = cast(Mapping[str, object], self.client.scheduler_info().get("workers", {}))
            self.workers = max(1, len(known))
        else:
            try:
                self._start_local(Client, LocalCluster, workers, listen or LOCAL_ADDRESS, space)
            except BaseException:
                # A Ctrl-C held back while the cluster started lands here.
                self.close()
                raise
            self.workers = workers

    def _start_local(
        self,
        Client: Callable[..., DaskClient],
        LocalCluster: Callable[..., _Closable],
        workers: int,
        host: str,
        space: Optional[str],
    ) -> None:
        """A local cluster of single-threaded worker processes on host, and
        its client."""
        import dask

        _environment_for_workers()
        settings = _quiet_dask(space) if space else {}
        if space:
            _log_to(os.path.join(space, DASK_LOG))
        # The scheduler and each worker serve HTTP (health, metrics) even
        # without a dashboard, by default on every interface and the
        # scheduler on 8787: both go to a free port of the same address.
        http = "%s:0" % host
        with _SignalsHeldWhileStarting(), dask.config.set(settings):
            try:
                self.cluster = LocalCluster(
                    n_workers=workers,
                    threads_per_worker=1,
                    processes=True,
                    host=host,
                    dashboard_address=http,
                    worker_dashboard_address=http,
                    scheduler_kwargs={"dashboard": False},
                    silence_logs=logging.CRITICAL,
                    # Workers without Dask's extensions (shuffling, which a
                    # campaign never uses): the shuffle extension fails
                    # with a traceback when a restarted worker closes.
                    extensions={},
                )
            except Exception as exc:  # noqa: BLE001 - an address Dask cannot listen on
                raise SetupError("cannot start the local cluster on %s: %s" % (host, exc)) from None
            self.client = Client(self.cluster)

    def close(self) -> None:
        """Closes the client, and the local cluster when there is one."""
        # Workers stopped under a running task log it; nothing of that is news.
        logging.getLogger("distributed").setLevel(logging.CRITICAL)
        with _CtrlCWaits():
            if hasattr(self, "client"):
                self.client.close()
            if self.cluster is not None:
                self.cluster.close()


# Called after each task's file is written, with the task's number and the
# cluster: what it raises stops the campaign (its finished tasks are kept).
TaskDone = Callable[[int, Cluster], object]


def _rows(future: DaskFuture, task: int) -> List[FlightRow]:
    """A finished task's rows; the ways a cluster fails, as one-line errors."""
    from distributed import KilledWorker

    try:
        return future.result()
    except SimulatorLibraryError as exc:
        raise SimulatorLibraryError("on a worker: %s" % exc, exc.tried) from None
    except ImportError as exc:
        raise SetupError(
            "the workers cannot import what a task needs (%s); install guidew on "
            "every worker or put it on their PYTHONPATH" % exc
        ) from None
    except KilledWorker:
        raise SetupError(
            "workers keep dying: task %d was started on several workers and each "
            "died (out of memory? killed?); the finished flights are kept, continue "
            "with --resume" % task
        ) from None


def execute(
    campaign: Campaign,
    out_dir: str,
    workers: Optional[int] = None,
    scheduler: Optional[str] = None,
    resume: bool = False,
    progress: bool = True,
    on_task_done: Optional[TaskDone] = None,
    listen: Optional[str] = None,
) -> List[TaskRange]:
    """Flies every flight not yet on disk; returns the task ranges."""
    space = None
    if not scheduler:
        # A fresh worker space: nothing a killed run left is found stale.
        _folder.remove_tree(out_dir, _folder.DASK_DIR)
        _folder.make_folder(out_dir, _folder.DASK_DIR)
        space = os.path.join(out_dir, _folder.DASK_DIR)
    # The cluster first: a scheduler out of reach leaves earlier results be.
    cluster = Cluster(workers or os.cpu_count() or 1, scheduler, listen, space)
    try:
        plan = campaign.to_plan()
        claimed: _folder.State = {
            "name": campaign.name,
            "flights": campaign.flights,
            "fingerprint": fingerprint(plan),
            "flights_per_task": flights_per_task(campaign, cluster.workers),
            "status": _folder.INCOMPLETE,
        }
        keep = _prepare_out(out_dir, claimed, resume)
        tasks = task_ranges(campaign.flights, claimed["flights_per_task"])
        done = set(resumable_tasks(out_dir, claimed["fingerprint"], tasks)) if keep else set()
        _fly(
            cluster,
            plan,
            claimed["fingerprint"],
            "flights-%s-%s" % (campaign.name, claimed["fingerprint"][:12]),
            [t for t in tasks if t[0] not in done],
            out_dir,
            Progress(campaign.flights, sum(tasks[t][2] for t in done), enabled=progress),
            on_task_done,
        )
    finally:
        cluster.close()
    return tasks


def _fly(
    cluster: Cluster,
    plan: Plan,
    fingerprint: str,
    prefix: str,
    todo: List[TaskRange],
    out_dir: str,
    bar: "Progress",
    on_task_done: Optional[TaskDone],
) -> None:
    """Flies the tasks todo, a few per worker at a time, each task's rows
    written to its file as it comes back."""
    from distributed import as_completed

    AsCompleted = cast(Callable[[], _AsCompleted], as_completed)
    bar.update(0)
    # The plan goes to the cluster once; a worker that loses it computes it again.
    plan_future = cluster.client.submit(_worker.the_plan, plan, key=prefix + "-plan", pure=False)
    waiting = iter(todo)
    in_flight: Dict[str, TaskRange] = {}
    finished = AsCompleted()

    def submit_next() -> None:
        """Submits the next task, if any is left."""
        for task, first, count in waiting:
            future = cluster.client.submit(
                _worker.fly_task,
                plan_future,
                first,
                count,
                key="%s-%d" % (prefix, task),
                pure=False,
            )
            in_flight[future.key] = (task, first, count)
            finished.add(future)
            return

    for _ in range(TASKS_IN_FLIGHT_PER_WORKER * cluster.workers):
        submit_next()
    for future in finished:
        task = in_flight.pop(future.key)
        write_task(out_dir, task, _rows(future, task[0]), fingerprint)
        future.release()
        bar.update(task[2])
        if on_task_done is not None:
            on_task_done(task[0], cluster)
        submit_next()
    plan_future.release()
