#!/usr/bin/python3
"""Campaign throughput: flights per second of a campaign on 1 and 2 local
Dask workers against the raw simulator (the same flights, flown one after
the other through libguidesim.so in this process, nothing else), in one run.

    PYTHONPATH=python GUIDESIM_LIBRARY=build/libguidesim.so \\
        /usr/bin/python3 bench/campaign_throughput.py [campaigns/benchmark.toml]

Also reports the driver's resident memory while the flights run (results
stream to disk, so it should not grow with the campaign) and after merging
the table (which holds every row).
"""

import os
import sys
import tempfile
import time

import guidew.campaign as gc
from guidew.campaign import _worker


def rss_mb():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024.0
    return float("nan")


def raw_rate(campaign):
    plan = campaign.to_plan()
    overrides = [_worker.flight_overrides(plan, i)[0] for i in range(campaign.flights)]
    start = time.perf_counter()
    for o in overrides:
        gc.fly(campaign.scenario, o)
    return campaign.flights / (time.perf_counter() - start)


def campaign_rate(campaign, workers, out):
    """Flights/s from start to finish (cluster start, merge and summary
    included), and while flying: from the first finished task to the last."""
    rss, done = [], []

    def task_done(task, cluster):
        rss.append(rss_mb())
        done.append(time.perf_counter())

    start = time.perf_counter()
    gc.run(
        campaign,
        workers=workers,
        out=out,
        progress=False,
        pictures=False,
        report=False,
        on_task_done=task_done,
    )
    elapsed = time.perf_counter() - start
    per_task = campaign.flights / len(done)
    flying = (len(done) - 1) * per_task / (done[-1] - done[0]) if len(done) > 1 else float("nan")
    return campaign.flights / elapsed, flying, (min(rss), max(rss)), rss_mb()


def main():
    path = (
        sys.argv[1]
        if len(sys.argv) > 1
        else os.path.join(
            os.path.dirname(os.path.abspath(__file__)), "..", "campaigns", "benchmark.toml"
        )
    )
    campaign = gc.load(path)
    print(
        "campaign %s: %d flights of %s s"
        % (campaign.name, campaign.flights, campaign.base_overrides.get("duration_s", "?"))
    )
    raw = raw_rate(campaign)
    print("raw simulator, one process:  %8.1f flights/s" % raw)
    with tempfile.TemporaryDirectory() as folder:
        results = {}
        for workers in (1, 2):
            whole, flying, (lo, hi), after = campaign_rate(
                campaign, workers, os.path.join(folder, str(workers))
            )
            results[workers] = (whole, flying)
            print(
                "campaign, %d worker%s:        %8.1f flights/s start to end, %.1f while flying; "
                "driver RSS %.0f-%.0f MB while flying, %.0f MB after the merge"
                % (workers, " " if workers == 1 else "s", whole, flying, lo, hi, after)
            )
    for what, k in (("start to end", 0), ("while flying", 1)):
        print(
            "%-13s 2 workers / 1 worker %.2f, 1 worker / raw %.2f"
            % (what + ":", results[2][k] / results[1][k], results[1][k] / raw)
        )


if __name__ == "__main__":
    main()
