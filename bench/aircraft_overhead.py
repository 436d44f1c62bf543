#!/usr/bin/env python3
"""What everything of ours around JSBSim costs, in instructions: runs
`bench_aircraft --instructions` under callgrind (valgrind), which flies every
built-in once on the F-16 (the law, the control mapping, the checks, a row
recorded per step) and then once more on JSBSim alone under the same
controls, each counted without its reset, and reports

    overhead = instructions of the flights / instructions of the replays - 1

with the share inside JSBSim's own steps and the split by library. Unlike
CPU time, the counts do not depend on the machine's load: a run of the same
build gives ours to the instruction and JSBSim's within a per mille. It
takes 6 to 10 minutes (valgrind runs the F-16 some 50 times slower); it is a
benchmark, not a test. Exit status: 0 done, 2 bad command line or no
bench_aircraft in BUILD_DIR, 3 valgrind missing or the run failed.

    bench/aircraft_overhead.py [--keep DIR] [BUILD_DIR]   (default: build)

--keep DIR leaves callgrind's two dumps in DIR (callgrind.out.1: the
flights, callgrind.out.2: the replays) for callgrind_annotate.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

# JSBSim's step: everything it computes for one of its own time steps.
JSBSIM_STEP = "JSBSim::FGFDMExec::Run()"
NAME = re.compile(r"^\((\d+)\)(?: (.*))?$")


class Dump:
    """One callgrind dump: its total, the self cost of every object, and
    the inclusive cost of the calls into JSBSim's step."""

    def __init__(self, path):
        self.total = 0
        self.self_by_object = {}
        self.jsbsim_steps = 0
        names = {}

        def name(kind, text):
            m = NAME.match(text)
            if not m:  # not compressed
                return text
            key = (kind, m.group(1))
            if m.group(2) is not None:
                names[key] = m.group(2)
            return names[key]

        obj, called, after_call = "", "", False
        with open(path) as f:
            for line in f:
                line = line.rstrip("\n")
                if line.startswith("totals:"):
                    self.total = int(line.split()[1])
                elif line.startswith("ob="):
                    obj = name("ob", line[3:])
                elif line.startswith("cob="):
                    name("ob", line[4:])
                elif line.startswith("cfn="):
                    called = name("fn", line[4:])
                elif line.startswith("fn="):
                    name("fn", line[3:])
                elif line.startswith(("fl=", "fi=", "fe=", "cfi=", "cfl=")):
                    name("fl", line.split("=", 1)[1])
                elif line.startswith("calls="):
                    after_call = True
                elif line[:1].isdigit() or line[:1] in "+-*":
                    cost = int(line.split()[1]) if len(line.split()) > 1 else 0
                    if after_call:
                        if called == JSBSIM_STEP:
                            self.jsbsim_steps += cost
                        after_call = False
                    else:
                        self.self_by_object[obj] = self.self_by_object.get(obj, 0) + cost


def fail(message, status):
    print(f"aircraft_overhead: {message}", file=sys.stderr)
    sys.exit(status)


def library(path):
    """A short name for an object file."""
    base = os.path.basename(path)
    return re.sub(r"\.so[.\d]*$", "", base) if base else "(unknown)"


def run(build, keep):
    bench = os.path.join(build, "bench_aircraft")
    if not os.access(bench, os.X_OK):
        fail(f"no {bench} (build the bench_aircraft target)", 2)
    valgrind = shutil.which("valgrind")
    if not valgrind:
        fail("valgrind is needed (scripts/setup.sh installs it)", 3)
    if keep:
        os.makedirs(keep, exist_ok=True)
    out = keep or tempfile.mkdtemp(prefix="aircraft_overhead.")
    try:
        print("counting under callgrind (several minutes) ...", file=sys.stderr, flush=True)
        cmd = [
            valgrind,
            "--tool=callgrind",
            "--collect-atstart=no",
            f"--callgrind-out-file={out}/callgrind.out",
            bench,
            "--instructions",
        ]
        p = subprocess.run(cmd, capture_output=True, text=True)
        if p.returncode != 0:
            fail(f"{' '.join(cmd)} failed:\n{p.stderr[-2000:]}", 3)
        m = re.search(r"(\d+) steps", p.stdout)
        dumps = [f"{out}/callgrind.out.{i}" for i in (1, 2)]
        if not m or not all(os.path.isfile(d) for d in dumps):
            fail(f"{bench} --instructions left no count (built without valgrind's header?)", 3)
        return int(m.group(1)), Dump(dumps[0]), Dump(dumps[1])
    finally:
        if not keep:
            shutil.rmtree(out, ignore_errors=True)


def report(steps, full, alone):
    print(
        f"instructions, callgrind: the {steps} steps of the 10 built-ins on the F-16, resets left out"
    )
    print(f"{'':34} {'everything':>15} {'JSBSim alone':>15}")
    rows = [
        ("in all", full.total, alone.total),
        ("in JSBSim's steps", full.jsbsim_steps, alone.jsbsim_steps),
        ("around them", full.total - full.jsbsim_steps, alone.total - alone.jsbsim_steps),
    ]
    for what, a, b in rows:
        print(f"  {what:32} {a:15,} {b:15,}")
    print(f"  {'per law step':32} {full.total / steps:15,.0f} {alone.total / steps:15,.0f}")
    print("by library, everything (own instructions, not what they call):")
    for obj, cost in sorted(full.self_by_object.items(), key=lambda kv: -kv[1]):
        if cost * 1000 >= full.total:
            print(f"  {library(obj):32} {100.0 * cost / full.total:5.1f} %")
    # JSBSim's steps are the same work in both (the replay ends each
    # flight to the last bit): what a library does beyond its share in
    # the replays is ours, or done for us (the properties we read and set).
    print("ours around JSBSim's steps by library (everything minus JSBSim alone):")
    ours = full.total - alone.total
    extra = {
        library(obj): cost - alone.self_by_object.get(obj, 0)
        for obj, cost in full.self_by_object.items()
    }
    for lib, cost in sorted(extra.items(), key=lambda kv: -kv[1]):
        if abs(cost) * 100 >= ours:
            print(f"  {lib:32} {100.0 * cost / ours:5.1f} % {cost / steps:8,.0f} per step")
    overhead = 100.0 * (full.total / alone.total - 1.0)
    print(f"ours around JSBSim's stepping: {overhead:+.1f} % (everything / JSBSim alone - 1)")


def main():
    args = sys.argv[1:]
    if any(a in ("-h", "--help") for a in args):
        print(__doc__.strip())
        sys.exit(0)
    keep = None
    if args[:1] == ["--keep"]:
        if len(args) < 2:
            fail("--keep needs a folder", 2)
        keep, args = args[1], args[2:]
    if len(args) > 1 or any(a.startswith("-") for a in args):
        print(f"aircraft_overhead: unexpected arguments {' '.join(args)}", file=sys.stderr)
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    report(*run(args[0] if args else "build", keep))


if __name__ == "__main__":
    main()
