"""The results folder of a campaign: whose it is, whether it is finished,
and which of its files are the campaign's own.

campaign.json names the campaign the folder holds (its fingerprint) and says
whether its results are complete. It is written "incomplete" before anything
else of a run is touched and "complete" after the last result file is in
place, so a folder is never mistaken for a finished one: a run stopped at
any point leaves it saying incomplete. Every file is written aside and
renamed, so none is ever half-written under its own name. Only files a
campaign writes are ever removed; a folder that is not a campaign's is
refused, and so is a second run into a folder another run is writing to.
"""

from __future__ import annotations

import contextlib
import fcntl
import json
import os
import re
from typing import Callable, Iterator, List, Optional, TextIO, TypedDict, cast

from ._config import SetupError

STATE_FILE = "campaign.json"
LOCK_FILE = "campaign.lock"
TASKS_DIR = "tasks"
PARTIAL = ".partial"
DAMAGED = ".damaged"
COMPLETE, INCOMPLETE = "complete", "incomplete"

# The files of a finished campaign: what a new run into the folder removes
# before it starts, so that nothing of the last run passes for its own.
_RESULT_FILES = ("summary.txt", "flights.csv", "report.html")
_RESULT_PATTERNS = {
    "flights": re.compile(r"[A-Za-z0-9_\-]+_\d{6,}\.json(\.partial)?"),
    "pictures": re.compile(r"[A-Za-z0-9_\-.]+\.png(\.partial)?"),
    "replays": re.compile(r"[A-Za-z0-9_\-]+_\d{6,}\.(acmi|html)(\.partial)?"),
}
_TASK_FILE = re.compile(r"task_(\d{6,})\.jsonl(\.partial|\.damaged)?")


class OutputError(SetupError):
    """The results folder cannot be used: not a folder, not writable, or
    holding what is not a campaign's."""

    __module__ = "guidew.campaign"


class State(TypedDict):
    """campaign.json: the campaign the folder holds and how far it got."""

    name: str
    flights: int
    fingerprint: str
    flights_per_task: int
    status: str  # COMPLETE or INCOMPLETE


def write_atomically(path: str, write: Callable[[TextIO], object]) -> None:
    """Writes a text file aside and renames it over path: under its own
    name a file is always whole."""
    partial = path + PARTIAL
    with open(partial, "w", encoding="utf-8", newline="") as f:
        write(f)
    os.replace(partial, path)


def read_state(out_dir: str) -> Optional[State]:
    """The folder's campaign.json, or None when there is none; a file of
    that name that is not a campaign's state is refused."""
    path = os.path.join(out_dir, STATE_FILE)
    try:
        with open(path, encoding="utf-8") as f:
            state = json.load(f)
    except FileNotFoundError:
        return None
    except (OSError, UnicodeDecodeError, ValueError) as exc:
        raise OutputError(
            "%s: not a campaign's state (%s); use another --output folder" % (path, exc)
        ) from None
    if not isinstance(state, dict) or not isinstance(state.get("fingerprint"), str):
        raise OutputError("%s: not a campaign's state; use another --output folder" % path)
    return cast(State, state)


def write_state(out_dir: str, state: State) -> None:
    """campaign.json, replaced in one step."""
    write_atomically(os.path.join(out_dir, STATE_FILE), lambda f: json.dump(state, f, indent=1))


def check_usable(out_dir: str) -> None:
    """Refuses, before anything is flown, a results folder that is a file,
    cannot be made or written, or holds files and is not a campaign's."""
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
    if read_state(out_dir) is None and set(os.listdir(out_dir)) - {LOCK_FILE}:
        raise OutputError(
            "%s: holds files and no campaign's results; give an empty or new folder" % out_dir
        )


@contextlib.contextmanager
def claimed(out_dir: str) -> Iterator[None]:
    """Holds the folder for one run: a second run into it at the same time
    is refused rather than mixing its files with this one's. The lock goes
    with the process, so a run that is killed leaves none behind."""
    with open(os.path.join(out_dir, LOCK_FILE), "a") as lock:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            raise OutputError(
                "%s: another campaign run is writing to this folder" % out_dir
            ) from None
        yield


def _ours(out_dir: str, tasks: bool) -> Iterator[str]:
    """The files of the folder a campaign wrote: the finished results, and
    the task files too when tasks."""
    for name in _RESULT_FILES:
        for path in (os.path.join(out_dir, name), os.path.join(out_dir, name + PARTIAL)):
            if os.path.isfile(path):
                yield path
    folders = dict(_RESULT_PATTERNS)
    if tasks:
        folders[TASKS_DIR] = _TASK_FILE
    for folder, pattern in folders.items():
        where = os.path.join(out_dir, folder)
        if not os.path.isdir(where):
            continue
        for name in os.listdir(where):
            if pattern.fullmatch(name) and os.path.isfile(os.path.join(where, name)):
                yield os.path.join(where, name)


def start(out_dir: str, state: State, resume: bool) -> None:
    """Marks the folder as holding this campaign, incomplete, and removes
    the last run's results (and, unless resuming, its task files). Anything
    in the folder a campaign does not write is left alone."""
    state["status"] = INCOMPLETE
    write_state(out_dir, state)
    for path in _ours(out_dir, tasks=not resume):
        os.remove(path)
    os.makedirs(os.path.join(out_dir, TASKS_DIR), exist_ok=True)


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
    for name in os.listdir(os.path.join(out_dir, TASKS_DIR)):
        match = _TASK_FILE.fullmatch(name)
        if match and match.group(2) is None:
            found.append(int(match.group(1)))
    return sorted(found)


def remove_partial_tasks(out_dir: str) -> None:
    """Task files a stopped run left half-written."""
    where = os.path.join(out_dir, TASKS_DIR)
    for name in os.listdir(where):
        if _TASK_FILE.fullmatch(name) and name.endswith(PARTIAL):
            os.remove(os.path.join(where, name))


def set_aside(path: str) -> str:
    """Renames a damaged file to NAME.damaged, to be looked at; returns the
    new name."""
    aside = path + DAMAGED
    os.replace(path, aside)
    return aside
