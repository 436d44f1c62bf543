"""How long the C memory of instances lives."""

from __future__ import annotations

import weakref
from typing import Callable


class Lifetime:
    """The life of C instances: destroys them when closed, or when the last
    thing that can reach their memory lets go of it.

    An Instance, a Fleet, their members and every Record over their memory
    hold this, never each other, so that dropping them frees the C memory
    at once by reference counting, without waiting for the cycle collector
    (a large Fleet holds gigabytes of it).
    """

    __slots__ = ("_finalizer", "_what", "__weakref__")

    def __init__(self, what: str, destroy: Callable[..., None], *args: object) -> None:
        self._what = what
        self._finalizer = weakref.finalize(self, destroy, *args)

    @property
    def closed(self) -> bool:
        return not self._finalizer.alive

    def close(self) -> None:
        self._finalizer()

    def check_open(self) -> None:
        """Raises ValueError once the instances are destroyed."""
        if not self._finalizer.alive:
            raise ValueError("the %s is closed" % self._what)


class ProcessLifetime:
    """The life of memory that stays valid as long as the process: the
    library's module-level records, a detached copy of the defaults."""

    __slots__ = ()

    @staticmethod
    def check_open() -> None:
        """Never raises: this memory is never freed."""


FOR_PROCESS = ProcessLifetime()
