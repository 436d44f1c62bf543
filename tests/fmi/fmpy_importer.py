"""Both FMUs driven by FMPy, an importer nobody on this project wrote, the
way its users drive them: its validation of the package, simulate_fmu with
input tables in FMPy's and in fmusim's style compared with the library fed
the same inputs, to the last bit, from large start times, and a thousand
runs in one process with the memory held flat.

FMPy is a test tool, never part of the product: it is taken from beside the
checkout (../shared/third_party/fmpy, as on CI) and set up in the build
tree. Without it the test is skipped (exit status 77) and says so.

usage: fmpy_importer.py BUILD_DIR   (GUIDEW_LIBRARY names libGuide.so)
"""

import ctypes
import math
import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FMPY_SOURCE = os.path.join(ROOT, "..", "shared", "third_party", "fmpy")
SKIPPED = 77
BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else os.environ.get("GUIDE_BUILD_DIR", "build")
FMUS = {2: os.path.join(BUILD, "GuideW.fmu"), 3: os.path.join(BUILD, "GuideW-fmi3.fmu")}
STEP_S = 0.01
OUTPUTS = ("lat_cmd", "nz_cmd", "throttle_cmd", "aux_out")


def set_up_fmpy():
    """Puts a working copy of FMPy, made in the build tree, on the path."""
    script = os.path.join(FMPY_SOURCE, "setup.sh")
    if not os.path.isfile(script):
        print(
            f"fmpy_importer: skipped: no FMPy beside the checkout ({os.path.normpath(FMPY_SOURCE)})"
        )
        sys.exit(SKIPPED)
    made = subprocess.run(
        [script, os.path.join(BUILD, "fmpy-env")], check=True, capture_output=True, text=True
    )
    sys.path.insert(0, made.stdout.strip().splitlines()[-1])


set_up_fmpy()
sys.path.insert(0, os.path.join(ROOT, "python"))
import numpy as np  # noqa: E402  (FMPy needs it; set_up_fmpy installs it when missing)
from fmpy import simulate_fmu  # noqa: E402
from fmpy.util import read_csv  # noqa: E402
from fmpy.validation import validate_fmu  # noqa: E402

import guidew  # noqa: E402

# A sparse flight, as a user writes one: (law step from which the values
# hold, the inputs that change there). Mode 1 to 3 with nothing in between
# (an importer that interpolated would hand the law mode 2 on the way), a
# heading command through north (350 to 10: interpolated, 180 on the way),
# a climb and a roll.
CHANGES = [
    (0, dict(guidew.TYPICAL_FLIGHT, azim_cmd=350.0, yaw=340.0, ext_nz=2.0)),
    (37, dict(azim_cmd=10.0, roll=25.0, roll_rate=12.5)),
    (100, dict(mode=3.0, altitude=3400.0, tas=213.25)),
    (161, dict(ext_weight=0.5, ext_bank=-30.0, pitch=7.5, aux_in=-1.0)),
]
STEPS = 240


def held_rows():
    """The 19 inputs of every law step, each change held from its step on."""
    row, rows, changes = dict.fromkeys(guidew.INPUT_FIELDS, 0.0), [], dict(CHANGES)
    for k in range(STEPS):
        row.update(changes.get(k, {}))
        rows.append([row[name] for name in guidew.INPUT_FIELDS])
    return rows


def library_outputs(rows, start_values=None):
    """The library's outputs after each step, row k of rows in step k."""
    with guidew.Instance() as m:
        for name, value in (start_values or {}).items():
            (m.params if name in guidew.PARAM_FIELDS else m.inputs)[name] = value
        return [tuple(m.step(row) if row else m.step()) for row in rows]


def fmpy_table(start_s):
    """FMPy's style: a structured array whose rows change values at repeated
    times (the row before a change, then the row that changes)."""
    rows = held_rows()
    table = [(0, rows[0])]
    for k, _ in CHANGES[1:]:
        table += [(k, rows[k - 1]), (k, rows[k])]
    table.append((STEPS, rows[-1]))
    dtype = [("time", np.float64)] + [(n, np.float64) for n in guidew.INPUT_FIELDS]
    return np.array([(start_s + k * STEP_S, *row) for k, row in table], dtype=dtype)


def fmusim_table(folder, start_s):
    """fmusim's style: a CSV file, one row from which the values hold."""
    rows = held_rows()
    path = os.path.join(folder, "input.csv")
    with open(path, "w") as f:
        f.write(",".join(("time",) + guidew.INPUT_FIELDS) + "\n")
        for k, _ in CHANGES:
            f.write(",".join(repr(v) for v in [start_s + k * STEP_S] + rows[k]) + "\n")
    return read_csv(path)


def steps_at(time_s, start_s):
    return round((time_s - start_s) / STEP_S)


class FmpyDrivesTheFmus(unittest.TestCase):
    def expect_library_bits(self, result, expected, start_s):
        """Every recorded point holds the library's outputs after the steps
        flown so far, bit for bit (before the first step: 0)."""
        self.assertGreater(len(result), 10)
        for record in result:
            k = steps_at(record["time"], start_s)
            want = expected[k - 1] if k > 0 else (0.0,) * 4
            got = tuple(float(record[name]) for name in OUTPUTS)
            self.assertEqual(got, want, f"at {record['time']!r} s, after {k} steps")

    def test_validation_finds_nothing_to_report(self):
        for version, path in FMUS.items():
            self.assertEqual(validate_fmu(path), [], f"FMI {version}.0")

    def test_input_tables_in_both_styles_fly_as_the_library_does(self):
        expected = library_outputs(held_rows())
        with tempfile.TemporaryDirectory() as folder:
            for version, path in FMUS.items():
                for start_s in (0.0, 2.0e5):
                    for style, table in (
                        ("FMPy", fmpy_table(start_s)),
                        ("fmusim", fmusim_table(folder, start_s)),
                    ):
                        with self.subTest(fmi=version, start_s=start_s, table=style):
                            result = simulate_fmu(
                                path,
                                start_time=start_s,
                                stop_time=start_s + STEPS * STEP_S,
                                input=table,
                                output=OUTPUTS,
                            )
                            self.expect_library_bits(result, expected, start_s)

    def test_an_epoch_start_time_runs(self):
        # Seconds since 1970 as the clock: 1.7e9 s, where the doubles lie
        # 2.4e-7 s apart and each step size FMPy hands over is that far off.
        start_s = 1.7e9
        starts = dict(guidew.TYPICAL_FLIGHT, roll_kp=1.0)
        expected = library_outputs([None] * 1000, starts)
        for version, path in FMUS.items():
            with self.subTest(fmi=version):
                result = simulate_fmu(
                    path, start_time=start_s, stop_time=start_s + 10.0, start_values=starts
                )
                self.expect_library_bits(result, expected, start_s)

    def test_a_thousand_runs_in_one_process_hold_the_memory_flat(self):
        # FMPy loads and unloads the binary on every run. Unpacked once, so
        # that each run is the load, the instance and its unload.
        libc = ctypes.CDLL(None)

        class MallocInfo(ctypes.Structure):  # glibc's struct mallinfo2
            _fields_ = [
                (n, ctypes.c_size_t)
                for n in "arena ordblks smblks hblks hblkhd usmblks fsmblks uordblks fordblks "
                "keepcost".split()
            ]

        libc.mallinfo2.restype = MallocInfo

        def heap_bytes():  # in use from the heap and in mapped blocks
            info = libc.mallinfo2()
            return info.uordblks + info.hblkhd

        for version, path in FMUS.items():
            with self.subTest(fmi=version), tempfile.TemporaryDirectory() as folder:
                zipfile.ZipFile(path).extractall(folder)
                run = lambda: simulate_fmu(folder, stop_time=STEP_S)  # noqa: E731
                for _ in range(20):
                    run()
                before = heap_bytes()
                for _ in range(1000):
                    run()
                grown = heap_bytes() - before
                self.assertLess(grown, 1 << 20, f"{grown} bytes more in use after 1000 runs")


if __name__ == "__main__":
    unittest.main(verbosity=2)
