"""guide-campaign: a campaign of closed-loop flights from a TOML file."""

from __future__ import annotations

import argparse
import json
import os
import signal
import sys
from types import FrameType
from typing import NoReturn, Optional, Sequence

EXIT_USAGE = 2
EXIT_FAILED = 1

DESCRIPTION = """\
Flies a campaign of closed-loop flights (Monte Carlo dispersions and grid
sweeps of a scenario) described by a TOML FILE, on one local worker process
per core or on an existing Dask cluster, and writes to OUT: flights.csv (one
row per flight), summary.txt, pictures, report.html, and the scenario files
of the worst flights (guide-sim FILE flies one again). Results are written
as tasks finish: --resume continues an interrupted run."""


def _interrupt(signum: int, frame: Optional[FrameType]) -> NoReturn:
    """A signal handled as Ctrl-C is."""
    raise KeyboardInterrupt()


def main(argv: Optional[Sequence[str]] = None) -> int:
    """guide-campaign with the arguments argv (default: the command line's);
    returns the exit status: 0 when the campaign ran (whatever its flights'
    checks gave), 2 for a campaign the file or the simulator refuses, 130
    when interrupted (the finished flights are kept for --resume)."""
    parser = argparse.ArgumentParser(prog="guide-campaign", description=DESCRIPTION)
    parser.add_argument("file", metavar="FILE", help="campaign file (TOML)")
    parser.add_argument("--workers", type=int, metavar="N",
                        help="local worker processes (default: one per core, %d here)" % (os.cpu_count() or 1))
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="run on the Dask cluster of this scheduler (tcp://host:8786) instead")
    parser.add_argument("--out", metavar="DIR", help="results folder (default: out/campaign/NAME)")
    parser.add_argument("--resume", action="store_true",
                        help="keep the finished flights of an interrupted run in DIR")
    parser.add_argument("--no-pictures", action="store_true", help="write no pictures and no report")
    parser.add_argument("--quiet", action="store_true", help="no progress bar")
    parser.add_argument("--flight", type=int, metavar="INDEX",
                        help="fly nothing: print the scenario of flight INDEX (a row of flights.csv) "
                             "as JSON, for guide-sim to fly it again")
    args = parser.parse_args(argv)
    if args.workers is not None and args.workers < 1:
        parser.error("--workers must be at least 1")
    if args.workers is not None and args.scheduler:
        parser.error("--workers and --scheduler exclude each other (the cluster has its own workers)")

    from . import CampaignError, SimulatorError, flight_scenario, run
    # Stopped by the system (SIGTERM) as by Ctrl-C: the local cluster is
    # shut down and the finished tasks are kept for --resume.
    signal.signal(signal.SIGTERM, _interrupt)
    # Output into a pipe that closes (| head) ends the program quietly.
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    if args.flight is not None:
        try:
            print(json.dumps(flight_scenario(args.file, args.flight), indent=1))
        except (CampaignError, SimulatorError) as exc:
            print("guide-campaign: %s" % exc, file=sys.stderr)
            return EXIT_USAGE
        return 0
    try:
        result = run(args.file, workers=args.workers, scheduler=args.scheduler, out=args.out,
                     resume=args.resume, progress=not args.quiet,
                     pictures=not args.no_pictures, report=not args.no_pictures)
    except (CampaignError, SimulatorError) as exc:
        print("guide-campaign: %s" % exc, file=sys.stderr)
        return EXIT_USAGE
    except KeyboardInterrupt:
        print("\nguide-campaign: interrupted; finished flights are kept, continue with --resume",
              file=sys.stderr)
        return 130
    print(result.summary_text)
    print("results in %s/ (flights.csv, summary.txt%s)" % (
        result.out_dir, ", pictures, report.html" if not args.no_pictures else ""))
    return 0
