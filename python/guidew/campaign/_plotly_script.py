"""plotly's script as report.html embeds it: minified once per machine.

Debian ships plotly.js unminified (8.7 MB, most of a report's weight).
terser (Debian's terser) cuts it to under half, but takes some 15 s of CPU,
so its output is kept in the machine cache the build keeps JSBSim in
(GUIDE_DEPS_CACHE_DIR, else $XDG_CACHE_HOME/libguide, else
~/.cache/libguide), named by plotly.js's version and a hash of the script
and of how it was minified: an installed package and the source tree share
it, and a new plotly gets its own file. Without terser, or when it fails,
the report embeds the script as shipped and says so in one line: a heavier
page, never a lost report."""

from __future__ import annotations

import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
from typing import Optional, TextIO, Tuple

import plotly.offline

PROG = "guide-campaign"
MINIFIER = "terser"
# Shortened names only. terser's --compress would save another 5 % of the
# size at four times the time (60 s on a busy 2-core machine).
# The comments kept are the licence headers of plotly.js and of the
# libraries bundled in it.
MINIFY_OPTIONS = ("--mangle", "--comments", r"/Licen[cs]e|Copyright|@preserve|^!/i")
# Debian's node modules: Debian's node looks there by itself, a node
# installed from elsewhere does not find terser's own modules without it.
DEBIAN_NODE_MODULES = "/usr/share/nodejs"
# Minutes on a slow machine; past that the script is embedded as shipped.
MINIFY_TIMEOUT_S = 600
# A minified script under this share of the original is surely not a
# truncated or foreign file.
MIN_SHARE = 0.2
VERSION = re.compile(r"plotly\.js v([0-9][0-9A-Za-z.+-]*)")


def cache_dir() -> str:
    """The machine cache folder, as the build finds it."""
    if os.environ.get("GUIDE_DEPS_CACHE_DIR"):
        return os.environ["GUIDE_DEPS_CACHE_DIR"]
    if os.environ.get("XDG_CACHE_HOME"):
        return os.path.join(os.environ["XDG_CACHE_HOME"], "libguide")
    return os.path.join(os.path.expanduser("~"), ".cache", "libguide")


def cache_file(source: str) -> str:
    """Where the minified form of this script is kept: its version and a
    hash of the script and of the options that minified it."""
    found = VERSION.search(source[:500])
    digest = hashlib.sha256(source.encode("utf-8"))
    digest.update("\0".join((MINIFIER,) + MINIFY_OPTIONS).encode("utf-8"))
    name = "plotly-%s-%s.min.js" % (found.group(1) if found else "unknown", digest.hexdigest()[:16])
    return os.path.join(cache_dir(), name)


def _licence(source: str) -> str:
    """The script's opening comment (plotly.js's version and licence), which
    a minified form must keep."""
    end = source.find("*/", 0, 2000) if source.startswith("/*") else -1
    return source[: end + 2] if end >= 0 else ""


def _plausible(minified: str, source: str) -> bool:
    shorter = MIN_SHARE * len(source) < len(minified) < len(source)
    return shorter and minified.startswith(_licence(source))


def _read_cached(path: str, source: str) -> Optional[str]:
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except (OSError, UnicodeDecodeError):
        return None
    return text if _plausible(text, source) else None


def _minify(source: str, notice: TextIO) -> Optional[str]:
    """The script through terser, or None (and why, on notice)."""
    minifier = shutil.which(MINIFIER)
    if minifier is None:
        notice.write(
            "%s: %s not found (Debian's terser): report.html embeds plotly's script "
            "unminified (%.1f MB)\n" % (PROG, MINIFIER, len(source) / 1e6)
        )
        return None
    notice.write(
        "%s: minifying plotly's script once for this machine (%s, some 15 s), kept in %s\n"
        % (PROG, MINIFIER, cache_dir())
    )
    notice.flush()
    text, failure = _run_minifier(minifier, source)
    if failure is not None:
        notice.write(
            "%s: %s failed (%s): report.html embeds plotly's script unminified\n"
            % (PROG, MINIFIER, failure)
        )
    return text


def _run_minifier(minifier: str, source: str) -> Tuple[Optional[str], Optional[str]]:
    """terser's output, or why there is none."""
    env = dict(os.environ)
    env["NODE_PATH"] = os.pathsep.join(p for p in (env.get("NODE_PATH"), DEBIAN_NODE_MODULES) if p)
    with tempfile.TemporaryDirectory(prefix="guide-plotly-") as scratch:
        given, minified = os.path.join(scratch, "plotly.js"), os.path.join(scratch, "plotly.min.js")
        with open(given, "w", encoding="utf-8") as f:
            f.write(source)
        try:
            done = subprocess.run(
                [minifier, given, *MINIFY_OPTIONS, "--output", minified],
                env=env,
                stdin=subprocess.DEVNULL,
                capture_output=True,
                text=True,
                timeout=MINIFY_TIMEOUT_S,
            )
        except (OSError, subprocess.TimeoutExpired) as exc:
            return None, str(exc)
        if done.returncode:
            return None, "exit status %d: %s" % (done.returncode, _last_line(done.stderr))
        text = _read_cached(minified, source)
    if text is None:
        return None, "its output lacks the licence or is no smaller"
    return text, None


def _last_line(text: str) -> str:
    lines = [line for line in text.strip().splitlines() if line.strip()]
    return lines[-1].strip() if lines else "no message"


def _keep(path: str, text: str, notice: TextIO) -> None:
    """Writes the minified script to the cache, aside and then renamed: a
    campaign stopped meanwhile, or two at once, never leave half a file."""
    try:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        fd, partial = tempfile.mkstemp(dir=os.path.dirname(path), suffix=".partial")
        try:
            os.chmod(partial, 0o644)  # as any cached file: mkstemp makes it private
            with os.fdopen(fd, "w", encoding="utf-8") as f:
                f.write(text)
            os.replace(partial, path)
        except BaseException:
            os.unlink(partial)
            raise
    except OSError as exc:
        notice.write(
            "%s: cannot keep the minified plotly script in %s (%s): it is minified again "
            "next time\n" % (PROG, os.path.dirname(path), exc.strerror or exc)
        )


def embedded(notice: Optional[TextIO] = None) -> str:
    """plotly's script for the page: the cached minified form, made now if
    missing, or the script as shipped when it cannot be made. What happens
    on the way is said on notice (default: stderr at the time of the call)."""
    notice = notice or sys.stderr
    source: str = plotly.offline.get_plotlyjs()
    path = cache_file(source)
    cached = _read_cached(path, source)
    if cached is not None:
        return cached
    minified = _minify(source, notice)
    if minified is None:
        return source
    _keep(path, minified, notice)
    return minified
