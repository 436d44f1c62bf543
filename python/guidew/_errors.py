"""The package's own errors: every error it raises of its own derives from
GuideWError, so that ``except guidew.GuideWError`` catches them all while
``except ValueError`` / ``except KeyError`` / ``except OSError`` still catch
the ones that are also of those kinds."""

from __future__ import annotations

from typing import List, Optional, Sequence, Tuple

# (place, path or name or None, reason when it was not loaded)
Attempt = Tuple[str, Optional[str], Optional[str]]


class GuideWError(Exception):
    """Base of the errors this package raises of its own."""

    __module__ = "guidew"


class LibraryNotFoundError(GuideWError, OSError):
    """A native library (libGuide.so, libguidesim.so) could not be loaded
    from any of the places looked at.

    ``tried`` holds (place, path or name or None, reason) for each of them.
    The message is the first argument, so that the error survives being
    pickled (a campaign's worker sends it to the driver).
    """

    __module__ = "guidew"

    def __init__(self, message: str, tried: Sequence[Attempt] = ()) -> None:
        super().__init__(message)
        self.tried: List[Attempt] = list(tried)

    def __str__(self) -> str:
        return str(self.args[0]) if self.args else ""
