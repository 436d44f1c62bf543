"""The results folder of a campaign: whose it is, whether it is finished,
and which of its files are the campaign's own.

campaign.json names the campaign the folder holds (its fingerprint) and says
whether its results are complete. It is written "incomplete" before anything
else of a run is touched and "complete" after the last result file is in
place, so a folder is never mistaken for a finished one: a run stopped at
any point leaves it saying incomplete. Every file is written aside and
renamed, so none is ever half-written under its own name, and a write that
fails (a full disk) takes its half-written file with it. Only files a
campaign writes are ever removed; a folder that is not a campaign's is
refused, and so is a second run into a folder another run is writing to.

A campaign never follows a link it did not make: a folder holding a link
where its own files go is refused before anything is flown, and every file
is opened from the results folder down, one name at a time, without
following links (a link put there during the run is refused, not followed),
so nothing outside the folder is ever written, read or removed. A read-only
result file is refused, as the tools refuse one, rather than replaced.
"""

from __future__ import annotations

import contextlib
import fcntl
import io
import json
import os
import re
import shutil
import stat
from typing import IO, Any, Callable, Iterator, List, Optional, Sequence, TypedDict, cast

from ._config import MAX_FLIGHTS_PER_TASK, SetupError

STATE_FILE = "campaign.json"
LOCK_FILE = "campaign.lock"
TASKS_DIR = "tasks"
FLIGHTS_DIR = "flights"
PICTURES_DIR = "pictures"
REPLAYS_DIR = "replays"
# Dask's worker space and log, the campaign's own: no other campaign on
# the machine shares them, and nothing of Dask's reaches the terminal.
DASK_DIR = "dask"
PARTIAL = ".partial"
DAMAGED = ".damaged"
COMPLETE, INCOMPLETE = "complete", "incomplete"

# The files of a finished campaign: what a new run into the folder removes
# before it starts, so that nothing of the last run passes for its own.
RESULT_FILES = ("summary.txt", "flights.csv", "report.html")
# The pictures the campaign draws (and their files being written).
OUR_PICTURES = (
    r"(histograms|pass_rate_by_value|grid_pass_rate|engagement_polar|vs_[A-Za-z0-9_.\-\[\]]+)\.png"
)
_PICTURE_FILE = re.compile(OUR_PICTURES + r"(\.partial(\.png)?)?")
_ANY_FLIGHT_FILE = re.compile(r"[A-Za-z0-9_\-]+_\d{6,}\.json(\.partial)?")
# The replays of the listed flights (3-D pages and Tacview files).
_REPLAY_FILE = re.compile(r"[A-Za-z0-9_\-]+_\d{6,}\.(acmi|html)(\.partial)?")
_TASK_FILE = re.compile(r"task_(\d{6,})\.jsonl(\.partial|\.damaged)?")
# The merge's scratch folders and what it writes in them.
SCRATCH_PREFIX = ".merge-"
_SCRATCH_FILE = re.compile(r"metric_\d+_(ok|bad)\.f64")
# Every name at the top of the folder a campaign writes (a link there is refused).
_TOP_NAMES = (
    (STATE_FILE, LOCK_FILE, TASKS_DIR, FLIGHTS_DIR, PICTURES_DIR, REPLAYS_DIR, DASK_DIR)
    + RESULT_FILES
    + tuple(name + PARTIAL for name in RESULT_FILES + (STATE_FILE,))
)


class OutputError(SetupError):
    """The results folder cannot be used: not a folder, not writable, full,
    or holding what is not a campaign's."""

    __module__ = "guidew.campaign"


class State(TypedDict):
    """campaign.json: the campaign the folder holds and how far it got."""

    name: str
    flights: int
    fingerprint: str
    flights_per_task: int
    status: str  # COMPLETE or INCOMPLETE


def _flight_file(names: Sequence[str]) -> "re.Pattern[str]":
    """The scenario files of the worst and sampled flights of the named campaigns."""
    return re.compile(r"(%s)_\d{6,}\.json(\.partial)?" % "|".join(re.escape(n) for n in names))


def _link_error(path: str) -> OutputError:
    return OutputError(
        "%s: is a link where the campaign writes its own files; a campaign never follows "
        "one: remove it or use another --output folder" % path
    )


def _write_error(path: str, exc: OSError) -> OutputError:
    return OutputError("%s: cannot write: %s" % (path, exc.strerror or exc))


@contextlib.contextmanager
def _folder(out_dir: str, sub: str = "", make: bool = False) -> Iterator[int]:
    """A descriptor of out_dir/sub, reached from out_dir one name at a time
    without following a link (made when make)."""
    fd = os.open(out_dir, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    try:
        for part in [p for p in sub.split("/") if p]:
            if make:
                with contextlib.suppress(FileExistsError):
                    os.mkdir(part, 0o777, dir_fd=fd)
            try:
                inner = os.open(
                    part, os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW | os.O_CLOEXEC, dir_fd=fd
                )
            except OSError as exc:
                if stat.S_ISLNK(os.lstat(part, dir_fd=fd).st_mode):
                    raise _link_error(os.path.join(out_dir, sub)) from None
                raise exc
            os.close(fd)
            fd = inner
        yield fd
    finally:
        os.close(fd)


def _refuse_read_only(fd: int, name: str, path: str) -> None:
    """A file in the way that may not be written is refused, as "> file"
    in a shell refuses it (renaming over it needs only the folder's
    permission); root may write it, so root replaces it."""
    try:
        st = os.lstat(name, dir_fd=fd)
    except FileNotFoundError:
        return
    if stat.S_ISLNK(st.st_mode):
        raise _link_error(path)
    if not os.access(name, os.W_OK, dir_fd=fd, follow_symlinks=False):
        raise OutputError(
            "%s: read-only; the campaign replaces its files: make it writable or use "
            "another --output folder" % path
        )


def write_atomically(
    out_dir: str, relative: str, write: Callable[[Any], object], binary: bool = False
) -> str:
    """Writes the file out_dir/relative aside (NAME.partial, made new, never
    through a link) and renames it over its name: under its own name a file
    is always whole. A failure (a full disk) removes the partial file and
    is an OutputError naming the file. Returns the file's path."""
    path = os.path.join(out_dir, relative)
    sub, name = os.path.split(relative)
    partial = name + PARTIAL
    try:
        with _folder(out_dir, sub, make=True) as fd:
            _refuse_read_only(fd, name, path)
            with contextlib.suppress(FileNotFoundError):
                os.unlink(partial, dir_fd=fd)
            flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC
            try:
                made = os.open(partial, flags, 0o666, dir_fd=fd)
                handle: IO[Any]
                if binary:
                    handle = os.fdopen(made, "wb")
                else:
                    handle = os.fdopen(made, "w", encoding="utf-8", newline="")
                with handle:
                    write(handle)
                os.replace(partial, name, src_dir_fd=fd, dst_dir_fd=fd)
            except BaseException:
                with contextlib.suppress(OSError):
                    os.unlink(partial, dir_fd=fd)
                raise
    except OSError as exc:
        raise _write_error(path, exc) from None
    return path


@contextlib.contextmanager
def reading(out_dir: str, relative: str) -> Iterator[IO[str]]:
    """A file of the folder opened to read, never through a link."""
    sub, name = os.path.split(relative)
    with _folder(out_dir, sub) as fd:
        handle = os.open(name, os.O_RDONLY | os.O_NOFOLLOW | os.O_CLOEXEC, dir_fd=fd)
    with os.fdopen(handle, encoding="utf-8") as f:
        yield f


def is_our_picture(name: str) -> bool:
    """A picture a campaign draws, or one it was drawing."""
    return _PICTURE_FILE.fullmatch(name) is not None


def create(out_dir: str, relative: str) -> io.BufferedRandom:
    """A new file of the folder, opened to write and read back, never
    through a link (a scratch file)."""
    sub, name = os.path.split(relative)
    flags = os.O_RDWR | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC
    with _folder(out_dir, sub) as fd:
        return os.fdopen(os.open(name, flags, 0o600, dir_fd=fd), "w+b")


def names_in(out_dir: str, sub: str) -> List[str]:
    """The names in out_dir/sub (none when it is missing)."""
    try:
        with _folder(out_dir, sub) as fd:
            return os.listdir(fd)
    except FileNotFoundError:
        return []


def remove(out_dir: str, relative: str) -> None:
    """Removes a file of the folder (a link itself, never what it points at)."""
    sub, name = os.path.split(relative)
    with _folder(out_dir, sub) as fd:
        os.unlink(name, dir_fd=fd)


def make_folder(out_dir: str, relative: str) -> None:
    """Makes out_dir/relative (and the folders above it), never through a link."""
    with _folder(out_dir, relative, make=True):
        pass


def remove_tree(out_dir: str, name: str) -> None:
    """Removes a folder the campaign made at the top of out_dir, links
    inside it removed, never followed."""
    with _folder(out_dir) as fd:
        with contextlib.suppress(FileNotFoundError):
            shutil.rmtree(name, dir_fd=fd)


def _state_problem(state: object) -> Optional[str]:
    """What is wrong with a campaign.json's content, or None."""
    if not isinstance(state, dict):
        return "not a JSON object"
    wanted = (
        ("name", str),
        ("flights", int),
        ("fingerprint", str),
        ("flights_per_task", int),
        ("status", str),
    )
    for key, kind in wanted:
        value = state.get(key)
        if not isinstance(value, kind) or isinstance(value, bool):
            return "%s is %s, not a %s" % (
                key,
                "missing" if key not in state else json.dumps(value),
                "whole number" if kind is int else "string",
            )
    if not 1 <= state["flights_per_task"] <= MAX_FLIGHTS_PER_TASK:
        return "flights_per_task is %d, not in 1..%d" % (
            state["flights_per_task"],
            MAX_FLIGHTS_PER_TASK,
        )
    if state["flights"] < 0:
        return "flights is %d, below 0" % state["flights"]
    if state["status"] not in (COMPLETE, INCOMPLETE):
        return "status is %s, not %s or %s" % (json.dumps(state["status"]), COMPLETE, INCOMPLETE)
    return None


def read_state(out_dir: str) -> Optional[State]:
    """The folder's campaign.json, or None when there is none; a file of
    that name that is not a whole campaign's state is refused."""
    path = os.path.join(out_dir, STATE_FILE)
    try:
        with reading(out_dir, STATE_FILE) as f:
            state = json.load(f)
    except FileNotFoundError:
        return None
    except OutputError:
        raise
    except (OSError, UnicodeDecodeError, ValueError) as exc:
        if os.path.islink(path):
            raise _link_error(path) from None
        raise OutputError(
            "%s: not a campaign's state (%s); use another --output folder" % (path, exc)
        ) from None
    problem = _state_problem(state)
    if problem is not None:
        raise OutputError(
            "%s: damaged (%s); remove the folder or use another --output folder" % (path, problem)
        )
    return cast(State, state)


def write_state(out_dir: str, state: State) -> None:
    """campaign.json, replaced in one step."""
    write_atomically(out_dir, STATE_FILE, lambda f: json.dump(state, f, indent=1))


def _ours_in_the_way(out_dir: str) -> Iterator[str]:
    """The paths where the campaign writes that exist: its top names, and
    in its own folders the files it writes."""
    for name in _TOP_NAMES:
        if os.path.lexists(os.path.join(out_dir, name)):
            yield os.path.join(out_dir, name)
    for name in os.listdir(out_dir):
        if name.startswith(SCRATCH_PREFIX):
            yield os.path.join(out_dir, name)
    patterns = {
        PICTURES_DIR: _PICTURE_FILE,
        TASKS_DIR: _TASK_FILE,
        FLIGHTS_DIR: _ANY_FLIGHT_FILE,
        REPLAYS_DIR: _REPLAY_FILE,
    }
    for sub, pattern in patterns.items():
        where = os.path.join(out_dir, sub)
        if os.path.isdir(where) and not os.path.islink(where):
            for name in os.listdir(where):
                if pattern.fullmatch(name):
                    yield os.path.join(where, name)


def check_usable(out_dir: str) -> None:
    """Refuses, before anything is flown, a results folder that is a file,
    cannot be made or written, holds files and is not a campaign's, or
    holds a link, a read-only file or something else than a folder where
    the campaign's own files go."""
    if os.path.lexists(out_dir) and not os.path.isdir(out_dir):
        raise OutputError("%s: exists and is not a folder; give a folder for the results" % out_dir)
    try:
        os.makedirs(out_dir, exist_ok=True)
    except OSError as exc:
        raise OutputError(
            "%s: cannot make the results folder: %s" % (out_dir, exc.strerror)
        ) from None
    if not os.access(out_dir, os.W_OK | os.X_OK):
        raise OutputError("%s: cannot write in the results folder" % out_dir)
    for path in _ours_in_the_way(out_dir):
        mode = os.lstat(path).st_mode
        if stat.S_ISLNK(mode):
            raise _link_error(path)
        folder = os.path.basename(path) in (TASKS_DIR, FLIGHTS_DIR, PICTURES_DIR, DASK_DIR)
        if folder and not stat.S_ISDIR(mode):
            raise OutputError(
                "%s: not a folder, where the campaign keeps its %s; use another --output folder"
                % (path, os.path.basename(path))
            )
        if stat.S_ISREG(mode) and not os.access(path, os.W_OK):
            raise OutputError(
                "%s: read-only; the campaign replaces its files: make it writable or use "
                "another --output folder" % path
            )
    if read_state(out_dir) is None and set(os.listdir(out_dir)) - {LOCK_FILE}:
        raise OutputError(
            "%s: holds files and no campaign's results; give an empty or new folder" % out_dir
        )


@contextlib.contextmanager
def claimed(out_dir: str) -> Iterator[None]:
    """Holds the folder for one run: a second run into it at the same time
    is refused rather than mixing its files with this one's. The lock goes
    with the process, so a run that is killed leaves none behind."""
    path = os.path.join(out_dir, LOCK_FILE)
    try:
        with _folder(out_dir) as fd:
            lock = os.open(
                LOCK_FILE, os.O_WRONLY | os.O_CREAT | os.O_NOFOLLOW | os.O_CLOEXEC, 0o666, dir_fd=fd
            )
    except OSError as exc:
        if os.path.islink(path):
            raise _link_error(path) from None
        raise _write_error(path, exc) from None
    try:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            raise OutputError(
                "%s: another campaign run is writing to this folder" % out_dir
            ) from None
        yield
    finally:
        os.close(lock)


def _ours(out_dir: str, tasks: bool, names: Sequence[str]) -> Iterator[str]:
    """The files of the folder a campaign wrote (relative to it): the
    finished results (the flights' scenario files of the named campaigns),
    and the task files too when tasks."""
    for name in RESULT_FILES:
        for candidate in (name, name + PARTIAL):
            if os.path.isfile(os.path.join(out_dir, candidate)):
                yield candidate
    folders = {
        FLIGHTS_DIR: _flight_file(names),
        PICTURES_DIR: _PICTURE_FILE,
        REPLAYS_DIR: _REPLAY_FILE,
    }
    if tasks:
        folders[TASKS_DIR] = _TASK_FILE
    for folder, pattern in folders.items():
        for name in names_in(out_dir, folder):
            if pattern.fullmatch(name):
                yield os.path.join(folder, name)


def start(out_dir: str, state: State, resume: bool, last_name: Optional[str] = None) -> None:
    """Marks the folder as holding this campaign, incomplete, and removes
    the last run's results (and, unless resuming, its task files) and Dask's
    worker space. Anything in the folder a campaign does not write is left
    alone."""
    state["status"] = INCOMPLETE
    write_state(out_dir, state)
    names = [state["name"]] + ([last_name] if last_name else [])
    for relative in list(_ours(out_dir, not resume, names)):
        remove(out_dir, relative)
    make_folder(out_dir, TASKS_DIR)


def finish(out_dir: str) -> None:
    """Marks the folder complete: every result file is in place."""
    state = read_state(out_dir)
    if state is None:
        raise OutputError(
            "%s: its campaign.json has gone; the results are not marked complete" % out_dir
        )
    state["status"] = COMPLETE
    write_state(out_dir, state)


def task_numbers(out_dir: str) -> List[int]:
    """The tasks whose files are in the folder under their final name."""
    found = []
    for name in names_in(out_dir, TASKS_DIR):
        match = _TASK_FILE.fullmatch(name)
        if match and match.group(2) is None:
            found.append(int(match.group(1)))
    return sorted(found)


def remove_partial_tasks(out_dir: str) -> None:
    """Task files a stopped run left half-written."""
    for name in names_in(out_dir, TASKS_DIR):
        if _TASK_FILE.fullmatch(name) and name.endswith(PARTIAL):
            remove(out_dir, os.path.join(TASKS_DIR, name))


def set_aside(out_dir: str, relative: str) -> str:
    """Renames a damaged file to NAME.damaged, to be looked at; returns the
    new path."""
    sub, name = os.path.split(relative)
    with _folder(out_dir, sub) as fd:
        os.replace(name, name + DAMAGED, src_dir_fd=fd, dst_dir_fd=fd)
    return os.path.join(out_dir, relative + DAMAGED)


def remove_scratch(out_dir: str) -> None:
    """The scratch folders a killed merge left: only those holding nothing
    but what a merge writes (a user's .merge-notes stays)."""
    for name in names_in(out_dir, ""):
        if not name.startswith(SCRATCH_PREFIX):
            continue
        try:
            inside = names_in(out_dir, name)
        except (OSError, OutputError):
            continue
        if all(_SCRATCH_FILE.fullmatch(n) for n in inside):
            remove_tree(out_dir, name)
