#!/usr/bin/env python3
"""Batch stepping from Python against the same batch in C++.

Times guidew.step_batch for a fleet of aircraft, one call per 0.01 s period,
each period on the next window of a pool of varied flight situations (as
BM_BatchStep of bench_step does), and reads the C++ figure from that
benchmark when BUILD/bench_step exists.

    bench/bench_python_batch.py [--build build] [--aircraft 1000] [--threads 1]
"""

import argparse
import array
import json
import math
import os
import random
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "python"))
import guidew  # noqa: E402

POOL = 4096


def situation(rng):
    """An aircraft in ordinary flight, a command anywhere around it, mostly mode 1."""
    u = dict(
        yaw=rng.uniform(-180, 180),
        pitch=rng.uniform(-40, 40),
        roll=rng.uniform(-90, 90) if rng.random() < 0.9 else rng.uniform(-180, 180),
        roll_rate=rng.uniform(-60, 60),
        tas=rng.uniform(120, 350),
        altitude=rng.uniform(500, 12000),
        azim_cmd=rng.uniform(0, 360),
        elev_cmd=rng.uniform(-60, 60),
        speed_cmd=rng.uniform(150, 350),
        mode=rng.choices([1, 2, 3, 4], [7, 1, 1, 1])[0],
        ext_weight=0.0 if rng.random() < 0.7 else rng.random(),
        ext_nz=rng.uniform(1, 4),
        ext_bank=rng.uniform(-60, 60),
        ext_throttle=rng.uniform(0, 100),
        ext_lat=rng.uniform(-100, 100),
        aux_in=rng.uniform(-1, 1),
    )
    track = math.radians(u["yaw"] + rng.uniform(-5, 5))
    pitch = math.radians(u["pitch"])
    u["vel_up"] = u["tas"] * math.sin(pitch)
    u["vel_north"] = u["tas"] * math.cos(pitch) * math.cos(track)
    u["vel_east"] = u["tas"] * math.cos(pitch) * math.sin(track)
    return [float(u.get(name, 0.0)) for name in guidew.INPUT_FIELDS]


def python_ns_per_aircraft(library, aircraft, threads, seconds):
    rng = random.Random(12345)
    pool = memoryview(array.array("d", [v for _ in range(POOL) for v in situation(rng)]))
    width = len(guidew.INPUT_FIELDS)
    best = math.inf
    with guidew.Fleet(aircraft, library=library, threads=threads) as fleet:
        outputs = fleet.outputs
        window = 0
        for _ in range(5):
            periods, start = 0, time.perf_counter()
            while True:
                rows = pool[width * window : width * (window + aircraft)]
                guidew.step_batch(fleet, rows, outputs)
                window = (window + 17) % (POOL - aircraft)
                periods += 1
                elapsed = time.perf_counter() - start
                if elapsed >= seconds / 5:
                    break
            best = min(best, elapsed * 1e9 / (periods * aircraft))
    return best


def cpp_ns_per_aircraft(build, aircraft, threads):
    """(figure, note): ns per aircraft from BM_BatchStep, or None and why not."""
    program = os.path.join(build, "bench_step")
    if not os.access(program, os.X_OK):
        return None, "C++ benchmark missing: %s not built (target bench_step)" % program
    name = "BM_BatchStep/%d/%d" % (aircraft, threads)
    run = subprocess.run(
        [
            program,
            "--benchmark_filter=^%s$" % name,
            "--benchmark_format=json",
            "--benchmark_repetitions=3",
        ],
        capture_output=True,
        text=True,
        check=False,
    )
    try:
        runs = [
            b
            for b in json.loads(run.stdout)["benchmarks"]
            if b.get("run_type") == "iteration" and b["name"].startswith(name)
        ]
    except (ValueError, KeyError):
        runs = []
    if not runs:
        return None, "C++ benchmark %s not found in %s" % (name, program)
    unit = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
    figures = [
        b["ns_per_aircraft"]
        if "ns_per_aircraft" in b
        else b["real_time"] * unit[b["time_unit"]] / aircraft
        for b in runs
    ]
    return min(figures), "%s, best of %d" % (name, len(figures))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "--build",
        default=os.path.join(HERE, "..", "build"),
        help="build folder with libGuide.so and bench_step (default: build)",
    )
    parser.add_argument("--aircraft", type=int, default=1000)
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--seconds", type=float, default=2.0, help="Python timing budget")
    args = parser.parse_args()

    build = os.path.normpath(args.build)
    library = os.path.join(build, "libGuide.so")
    library = guidew.load(library if os.path.exists(library) else None)
    py = python_ns_per_aircraft(library, args.aircraft, args.threads, args.seconds)
    cpp, note = cpp_ns_per_aircraft(build, args.aircraft, args.threads)

    print("library: %s" % library.path)
    print("%d aircraft, %d thread(s), one call per period:" % (args.aircraft, args.threads))
    print("  Python guidew.step_batch  %8.1f ns per aircraft" % py)
    if cpp is None:
        print("  C++                       (%s)" % note)
        return 0
    print("  C++ GuideW_step_batch     %8.1f ns per aircraft  (%s)" % (cpp, note))
    print("  Python / C++              %8.3f" % (py / cpp))
    return 0


if __name__ == "__main__":
    sys.exit(main())
