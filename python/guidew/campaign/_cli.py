"""guide-campaign: a campaign of closed-loop flights from a TOML file."""

from __future__ import annotations

import argparse
import json
import os
import signal
import sys
from types import FrameType
from typing import NoReturn, Optional, Sequence

PROG = "guide-campaign"
# Exit status, as all the tools give it.
EXIT_DONE = 0  # every flight passed every check
EXIT_FAILED = 1  # a flight failed a check or was refused; or the campaign file is bad
EXIT_USAGE = 2  # bad command line, or the campaign file does not exist
EXIT_ENVIRONMENT = 3  # library, Dask, scheduler, workers or the results folder
EXIT_INTERRUPTED = 130

DESCRIPTION = """\
Flies a campaign of closed-loop flights (Monte Carlo dispersions and grid
sweeps of a scenario) described by a TOML FILE, on one local worker process
per core or on an existing Dask cluster, and writes to the output folder:
flights.csv (one row per flight), summary.txt, pictures, report.html, the
scenario files of the worst flights (guide-sim FILE flies one again), and
campaign.json, which says "complete" once all of them are written. Results
are written as tasks finish: --resume continues an interrupted run."""

EPILOG = """\
exit status:
  0    done, and every flight passed every check
  1    a flight failed a check or was refused by the simulator, or the
       campaign file (or its scenario file) is bad or cannot be read
  2    bad command line, or the campaign file does not exist
  3    environment: the simulator library cannot be loaded, Dask is missing,
       the scheduler cannot be reached, workers keep dying, or the output
       folder cannot be used (a link or a read-only file where the campaign
       writes, a damaged campaign.json, a full disk)
  130  interrupted (Ctrl-C, SIGTERM); finished flights are kept for --resume"""


class _Parser(argparse.ArgumentParser):
    """argparse with its errors on one line, as the other tools give them."""

    def error(self, message: str) -> NoReturn:
        sys.stderr.write("%s: %s (see --help)\n" % (PROG, escaped(message)))
        sys.exit(EXIT_USAGE)


def escaped(text: str) -> str:
    """text with control characters and non-ASCII bytes as \\xNN, as the
    tools print what a user's file holds."""
    out = []
    for byte in text.encode("utf-8", "surrogateescape"):
        out.append(chr(byte) if 0x20 <= byte < 0x7F else "\\x%02x" % byte)
    return "".join(out)


def _fail(status: int, message: object) -> int:
    """One line on stderr (a message of several lines, such as the places a
    library was looked for, joined); returns status."""
    text = ""
    for line in str(message).splitlines():
        text += ("" if not text else " " if text.endswith((":", ".")) else "; ") + line.strip()
    sys.stderr.write("%s: %s\n" % (PROG, escaped(text)))
    return status


def _interrupt(signum: int, frame: Optional[FrameType]) -> NoReturn:
    """A signal handled as Ctrl-C is."""
    raise KeyboardInterrupt()


def _parser() -> argparse.ArgumentParser:
    from .._version import __version__

    parser = _Parser(
        prog=PROG,
        description=DESCRIPTION,
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("file", metavar="FILE", help="campaign file (TOML)")
    parser.add_argument(
        "-o",
        "--output",
        dest="out",
        metavar="DIR",
        help="results folder: new, empty, or a campaign's (default: out/campaign/NAME)",
    )
    parser.add_argument("--out", dest="out", help=argparse.SUPPRESS)  # its former name
    parser.add_argument(
        "--workers",
        type=int,
        metavar="N",
        help="local worker processes (default: one per core, %d here)" % (os.cpu_count() or 1),
    )
    parser.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="run on the Dask cluster of this scheduler (tcp://host:8786) instead",
    )
    parser.add_argument(
        "--listen",
        metavar="ADDRESS",
        help="address the local cluster listens on (default 127.0.0.1, this "
        "machine only; 0.0.0.0 for every interface)",
    )
    parser.add_argument(
        "--resume",
        action="store_true",
        help="keep the finished flights of an interrupted run in DIR",
    )
    parser.add_argument(
        "--no-pictures", action="store_true", help="write no pictures and no report"
    )
    parser.add_argument("--quiet", action="store_true", help="no progress bar")
    parser.add_argument(
        "--flight",
        type=int,
        metavar="INDEX",
        help="fly nothing: print the scenario of flight INDEX (a row of flights.csv) "
        "as JSON, for guide-sim to fly it again",
    )
    parser.add_argument("--version", action="version", version="%s %s" % (PROG, __version__))
    return parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    """guide-campaign with the arguments argv (default: the command line's);
    returns the exit status (see EPILOG)."""
    parser = _parser()
    args = parser.parse_args(argv)
    if args.workers is not None and args.workers < 1:
        parser.error("--workers must be at least 1")
    if args.workers is not None and args.scheduler:
        parser.error(
            "--workers and --scheduler exclude each other (the cluster has its own workers)"
        )
    if args.listen and args.scheduler:
        parser.error(
            "--listen and --scheduler exclude each other (the cluster listens where it was started)"
        )
    if not os.path.lexists(args.file):
        return _fail(EXIT_USAGE, "%s: no such file" % args.file)

    from . import (
        CampaignError,
        SetupError,
        SimulatorError,
        SimulatorLibraryError,
        flight_scenario,
        load,
        run,
    )

    # Stopped by the system (SIGTERM) as by Ctrl-C: the local cluster is
    # shut down and the finished tasks are kept for --resume.
    signal.signal(signal.SIGTERM, _interrupt)
    # Output into a pipe that closes (| head) ends the program quietly.
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    try:
        if args.flight is not None:
            campaign = load(args.file)
            if not 0 <= args.flight < campaign.flights:
                parser.error(
                    "--flight %d: the campaign has flights 0..%d"
                    % (args.flight, campaign.flights - 1)
                )
            print(json.dumps(flight_scenario(campaign, args.flight), indent=1))
            return EXIT_DONE
        result = run(
            args.file,
            workers=args.workers,
            scheduler=args.scheduler,
            out=args.out,
            resume=args.resume,
            progress=not args.quiet,
            listen=args.listen,
            pictures=not args.no_pictures,
            report=not args.no_pictures,
        )
    except (SetupError, SimulatorLibraryError) as exc:
        return _fail(EXIT_ENVIRONMENT, exc)
    except (CampaignError, SimulatorError) as exc:
        return _fail(EXIT_FAILED, exc)
    except KeyboardInterrupt:
        sys.stderr.write("\n")
        return _fail(
            EXIT_INTERRUPTED, "interrupted; finished flights are kept, continue with --resume"
        )
    print(result.summary_text)
    print(
        "results in %s/ (flights.csv, summary.txt%s)"
        % (result.out_dir, ", pictures, report.html" if not args.no_pictures else "")
    )
    all_passed = result.summary["all_checks"]["passed"] == result.summary["flights"]
    return EXIT_DONE if all_passed else EXIT_FAILED
