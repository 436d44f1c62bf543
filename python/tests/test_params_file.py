"""Parameter files (the format every tool's --params reads) in guidew: the
same assignments, the same refusals and the same flights as guide-run, and
the FMUs' start values under the names their model descriptions declare."""

import csv
import ctypes
import io
import math
import os
import random
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zipfile

if os.environ.get("GUIDEW_TEST_NO_NUMPY"):
    sys.modules["numpy"] = None

import guidew

HERE = os.path.dirname(os.path.abspath(__file__))
F16_TRIM = os.path.join(HERE, "..", "..", "campaigns", "f16_trim.params")
GUIDE_RUN = os.environ.get("GUIDE_RUN")
FMUS = {2: os.environ.get("GUIDEW_FMU2"), 3: os.environ.get("GUIDEW_FMU3")}
NAMES = (
    "guide_ref, roll_kp, roll_kd, lat_max, lat_min, nz_max, nz_min, thr_table[0..131], "
    "thr_alt_bp[0..10], thr_spd_bp[0..11], thr_gain, thr_max, thr_min, thr_max_index[0..1]"
)


def write_bytes(folder, name, data):
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def guide_run(*args):
    return subprocess.run([GUIDE_RUN, *args], capture_output=True)


def flight_rows(count):
    """Flights all over the trim table's envelope (100-650 m/s, 0-20 km,
    between and on its breakpoints), turning and climbing in every mode,
    so that each step's throttle comes from a different corner of it."""
    rng = random.Random(18)
    rows = []
    for k in range(count):
        fields = dict(
            guidew.TYPICAL_FLIGHT,
            speed_cmd=rng.uniform(90, 700),
            tas=rng.choice([rng.uniform(90, 700), 100 + 50 * (k % 12)]),
            altitude=rng.choice([rng.uniform(-500, 21000), 2000 * (k % 11)]),
            azim_cmd=rng.uniform(0, 360),
            elev_cmd=rng.uniform(-60, 60),
            roll=rng.uniform(-180, 180),
            roll_rate=rng.uniform(-40, 40),
            mode=rng.choice([1, 2, 3, 4]),
            ext_weight=rng.random(),
            ext_throttle=rng.uniform(0, 100),
        )
        rows.append([float(fields.get(name, 0)) for name in guidew.INPUT_FIELDS])
    return rows


def flight_csv(rows):
    """rows as guide-run's input, every double written so it reads back exactly."""
    lines = [",".join(guidew.INPUT_FIELDS)] + [",".join(repr(v) for v in row) for row in rows]
    return ("\n".join(lines) + "\n").encode()


def commands_of(output):
    """The four commands of each row guide-run wrote, as doubles."""
    table = csv.DictReader(io.StringIO(output.decode()))
    return [tuple(float(r[f]) for f in guidew.OUTPUT_FIELDS) for r in table]


@unittest.skipUnless(GUIDE_RUN, "GUIDE_RUN names the guide-run the build made")
class SameAsGuideRun(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.one_step = write_bytes(
            self.folder.name,
            "one.csv",
            (",".join(guidew.INPUT_FIELDS) + "\n" + ",".join(["0"] * 19)).encode(),
        )

    def replay(self, rows, *args):
        """guide-run's commands for rows, as doubles, read back exactly."""
        path = write_bytes(self.folder.name, "flight.csv", flight_csv(rows))
        done = guide_run(*args, path)
        self.assertEqual(done.returncode, 0, done.stderr)
        return commands_of(done.stdout)

    def test_the_f16_table_flies_bit_for_bit_as_guide_run_flies_it(self):
        rows = flight_rows(400)
        expected = self.replay(rows, "--params", F16_TRIM)
        self.assertNotEqual(expected, self.replay(rows), "the file must change the commands")
        with guidew.Instance() as alone, guidew.Fleet(2) as fleet:
            alone.load_params(F16_TRIM)
            fleet.load_params(F16_TRIM)
            holders = [("one instance", alone.step), ("a fleet's aircraft", fleet[1].step)]
            for situation, step in holders:
                with self.subTest(situation):
                    flown = [tuple(step(row)) for row in rows]
                    # repr keeps every bit, and shows a NaN command as nan
                    self.assertEqual([repr(f) for f in flown], [repr(e) for e in expected])

    def test_files_guide_run_refuses_are_refused_with_its_message(self):
        # (situation, file's bytes, the message after "guide-run: ")
        rows = [
            ("a line without '='", b"roll_kp 3\n", 'P:1: expected NAME=VALUE, got "roll_kp 3"'),
            ("no name before '='", b"  = 3\n", "P:1: no name before '=' in \"= 3\""),
            (
                "a gain the law does not have",
                b"roll_kp = 2\nroll_ki = 0.1\n",
                'P:2: unknown parameter "roll_ki"; parameters are: ' + NAMES,
            ),
            (
                "a trim-table element past the last speed breakpoint",
                b"thr_table[132] = 0.5\n",
                "P:1: parameter thr_table needs an index in [0..131], as in thr_table[0]",
            ),
            (
                "an element written with a leading zero (a second name for it)",
                b"thr_table[017] = 0.5\n",
                "P:1: parameter thr_table needs an index in [0..131], as in thr_table[0]",
            ),
            (
                "an index on a scalar gain",
                b"roll_kp[0] = 3\n",
                "P:1: parameter roll_kp is not an array",
            ),
            (
                "a throttle limit that is not a number",
                b"thr_max = full\n",
                'P:1: value of "thr_max": not a number: "full"',
            ),
            (
                "digits grouped as Python would take them",
                b"thr_max = 1_000\n",
                'P:1: value of "thr_max": not a number: "1_000"',
            ),
            (
                "a gain beyond a double",
                b"roll_kp = 1e999\n",
                'P:1: value of "roll_kp": out of range: "1e999"',
            ),
            (
                "a gain too small for a double, not silently 0",
                b"roll_kd = 1e-400\n",
                'P:1: value of "roll_kd": out of range: "1e-400"',
            ),
            (
                "a fractional breakpoint limit",
                b"thr_max_index[0] = 9.5\n",
                "P:1: parameter thr_max_index[0] takes a whole number in 0..4294967295",
            ),
            (
                "a negative breakpoint limit",
                b"thr_max_index[1] = -1\n",
                "P:1: parameter thr_max_index[1] takes a whole number in 0..4294967295",
            ),
            (
                "a gain set twice, counted past comments, blank lines and CRLF",
                b"\xef\xbb\xbf# trim\r\nroll_kp = 2\r\n\r\n  # again\nroll_kp = 3 # no\n",
                'P:5: "roll_kp" is set twice',
            ),
            (
                "a value beside a bare carriage return",
                b"roll_kp = 1\rlat_max = 3\n",
                'P:1: value of "roll_kp": not a number: "1\\rlat_max = 3"',
            ),
            (
                "control and non-ASCII bytes in a name",
                b"roll\x01\xc3\xa9 = 1\n",
                'P:1: unknown parameter "roll\\x01\\xc3\\xa9"; parameters are: ' + NAMES,
            ),
        ]
        for situation, data, message in rows:
            with self.subTest(situation):
                path = write_bytes(self.folder.name, "bad.params", data)
                expected = message.replace("P:", path + ":", 1)
                with self.assertRaises(guidew.ParamsFileError) as caught:
                    guidew.read_params(path)
                self.assertEqual(str(caught.exception), expected)
                self.assertIsInstance(caught.exception, guidew.GuideWError)
                done = guide_run("--params", path, self.one_step)
                self.assertEqual(done.returncode, 1)
                self.assertEqual(done.stderr.decode("latin-1"), "guide-run: %s\n" % expected)

    def test_random_files_are_judged_alike(self):
        """Files strung together from the pieces the rules turn on, mostly
        good ones: each is taken by both readers or refused by both with
        one message."""
        rng = random.Random(4)
        # (the good pieces, the pieces some rule refuses or turns on)
        names = (["roll_kp", "thr_table[", "thr_max_index[", "lat_max"], ["nz", "", "\t", "a\x00"])
        inside = (["0", "1", "131"], ["132", "01", "-1", "", " 1", "1]"])
        values = (
            ["1", "-0", "+.5", "1.", "5e-324", "1e308", "inf", "-Infinity", "nan", "nan(x)", "7"],
            [".", "1e", "1e-400", "2e308", "0x1", "nan(-)", "1_0", "+-1", "1 2", "4294967296"],
        )
        tails = (["", " # c", "#", "\r", " \t"], ["\r\r", " = 2", "\xc3\xa9", "\x0b"])

        def piece(pieces):
            return rng.choice(pieces[0] if rng.random() < 0.9 else pieces[1])

        for trial in range(150):
            lines = []
            for _ in range(rng.randint(1, 4)):
                name = piece(names)
                if name.endswith("["):
                    name += piece(inside) + ("]" if rng.random() < 0.95 else "")
                equals = rng.choice([" = ", "=", "\t=  "]) if rng.random() < 0.95 else " "
                lines.append(name + equals + piece(values) + piece(tails))
            data = ("\n".join(lines) + rng.choice(["", "\n", "\r\n"])).encode("latin-1")
            path = write_bytes(self.folder.name, "random.params", data)
            with self.subTest(data=data):
                try:
                    guidew.read_params(path)
                    message = ""
                except guidew.ParamsFileError as e:
                    message = "guide-run: %s\n" % e
                done = guide_run("--params", path, self.one_step)
                self.assertEqual(done.stderr.decode("latin-1"), message)

    def test_files_guide_run_takes_give_their_assignments(self):
        # (situation, file's bytes, assignments)
        rows = [
            ("an empty file", b"", {}),
            ("a byte-order mark alone", b"\xef\xbb\xbf", {}),
            (
                "tabs, comments, CRLF and no final line break",
                b"# tuned\r\n\troll_kp\t=\t3 # softer\r\nthr_table[131]=0.5",
                {"roll_kp": 3.0, "thr_table[131]": 0.5},
            ),
            (
                "every way of writing a number",
                b"roll_kp = +.5\nroll_kd = 1.\nlat_max = INF\nlat_min = -Infinity\n"
                b"nz_max = 1E+1\nnz_min = -0\nthr_gain = 5e-324\nthr_max = nan(1)\nthr_min = -NaN\n",
                {
                    "roll_kp": 0.5,
                    "roll_kd": 1.0,
                    "lat_max": math.inf,
                    "lat_min": -math.inf,
                    "nz_max": 10.0,
                    "nz_min": -0.0,
                    "thr_gain": 5e-324,
                    "thr_max": math.nan,
                    "thr_min": math.nan,
                },
            ),
            (
                "breakpoint limits",
                b"thr_max_index[0] = 4294967295\n",
                {"thr_max_index[0]": 2**32 - 1},
            ),
        ]
        for situation, data, expected in rows:
            with self.subTest(situation):
                path = write_bytes(self.folder.name, "good.params", data)
                got = guidew.read_params(path)
                self.assertEqual(list(got), list(expected))
                # repr tells -0.0 from 0.0 and shows every NaN as nan
                self.assertEqual(
                    [repr(v) for v in got.values()], [repr(float(v)) for v in expected.values()]
                )
                done = guide_run("--params", path, self.one_step)
                self.assertEqual(done.returncode, 0, done.stderr)


class LoadingParameters(unittest.TestCase):
    def test_a_bad_source_leaves_every_parameter_as_it_was(self):
        with tempfile.TemporaryDirectory() as folder:
            bad_file = write_bytes(folder, "p.params", b"roll_kp = 7\nthr_table[0] = 1\nnz = 2\n")
            # (situation, source, words of the message)
            rows = [
                ("a file bad at its third line", bad_file, ["p.params:3:", 'parameter "nz"']),
                ("a file that is not there", os.path.join(folder, "gone"), ["gone"]),
                ("a mapping naming an unknown gain", {"roll_kp": 7, "roll_ki": 1}, ['"roll_ki"']),
                (
                    "a mapping past the table's end",
                    {"roll_kp": 7, "thr_table[132]": 1},
                    ['"thr_table[132]"', "[0..131]"],
                ),
                ("a mapping with text for a gain", {"roll_kp": 7, "roll_kd": "1"}, ['"roll_kd"']),
                ("a mapping with a fractional limit", {"thr_max_index[0]": 2.5}, ["whole number"]),
            ]
            with guidew.Instance() as m, guidew.Fleet(2) as fleet:
                for situation, source, words in rows:
                    with self.subTest(situation):
                        before = m.params.to_dict()
                        for load in (m.load_params, fleet.load_params):
                            with self.assertRaises((guidew.GuideWError, OSError)) as caught:
                                load(source)
                            for word in words:
                                self.assertIn(word, str(caught.exception))
                        self.assertEqual(m.params.to_dict(), before)
                        self.assertEqual(fleet[0].params.to_dict(), before)

    def test_elements_land_where_the_tools_put_them(self):
        expected = guidew.default_params().to_dict()
        expected["thr_table"][47], expected["thr_table"][49] = 0.25, 0.75
        expected["thr_max_index"][1] = 9
        expected["roll_kp"] = 3.0
        # What is not set keeps its value, even between two elements that
        # are: the fleet's aircraft 1 its own roll_kd and thr_table[48].
        with guidew.Instance() as m, guidew.Fleet(3) as fleet:
            fleet[1].params["roll_kd"] = 0.5
            fleet[1].params["thr_table"][48] = 7.0
            source = {
                "thr_table[47]": 0.25,
                "thr_table[49]": 0.75,
                "thr_max_index[1]": 9,
                "roll_kp": 3,
            }
            m.load_params(source)
            fleet.load_params(source)
            self.assertEqual(m.params.to_dict(), expected)
            self.assertEqual(fleet[2].params.to_dict(), expected)
            expected["roll_kd"], expected["thr_table"][48] = 0.5, 7.0
            self.assertEqual(fleet[1].params.to_dict(), expected)


def model_description(fmi_version):
    with zipfile.ZipFile(FMUS[fmi_version]) as fmu:
        root = ET.fromstring(fmu.read("modelDescription.xml"))
    return [v for v in root.find("ModelVariables") if v.get("causality") == "parameter"]


def fmu_binary(folder, version):
    """The FMU's shared library, unpacked into folder, and its variables:
    name -> (value reference, type)."""
    with zipfile.ZipFile(FMUS[version]) as fmu:
        binary = next(n for n in fmu.namelist() if n.endswith("/GuideW.so"))
        library = ctypes.CDLL(fmu.extract(binary, os.path.join(folder, "fmi%d" % version)))
        root = ET.fromstring(fmu.read("modelDescription.xml"))
    variables = {}
    for v in root.find("ModelVariables"):
        kind = v[0].tag if version == 2 else v.tag
        variables[v.get("name")] = (int(v.get("valueReference")), kind)
    token = root.get("guid") if version == 2 else root.get("instantiationToken")
    return library, variables, token.encode()


def refs(variables, names):
    return (ctypes.c_uint32 * len(names))(*(variables[n][0] for n in names))


def experiment_arguments(boolean):
    """(instance, tolerance defined, tolerance, start, stop defined, stop)"""
    real = ctypes.c_double
    return [ctypes.c_void_p, boolean, real, real, boolean, real]


def doubles(values):
    return (ctypes.c_double * len(values))(*values)


# The importers' loggers: FMI 2.0's takes a format and its arguments,
# FMI 3.0's a message; neither is expected to be called on this flight.
FMI2_LOGGER = ctypes.CFUNCTYPE(
    None, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p
)
FMI3_LOGGER = ctypes.CFUNCTYPE(
    None, ctypes.c_void_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p
)
LOGGED = []


def fly_fmi2(folder, starts, rows):
    """rows flown by the FMI 2.0 FMU, parameters given as start values."""
    fmu, variables, guid = fmu_binary(folder, 2)
    fmu.fmi2Instantiate.restype = ctypes.c_void_p
    logger = FMI2_LOGGER(lambda env, name, status, category, message: LOGGED.append(message))
    callbacks = (ctypes.c_void_p * 5)(ctypes.cast(logger, ctypes.c_void_p).value)
    c = ctypes.c_void_p(fmu.fmi2Instantiate(b"f16", 1, guid, b"", callbacks, 0, 0))
    reals = [n for n in starts if variables[n][1] == "Real"]
    integers = [n for n in starts if variables[n][1] == "Integer"]
    assert (
        fmu.fmi2SetReal(c, refs(variables, reals), len(reals), doubles([starts[n] for n in reals]))
        == 0
    )
    values = (ctypes.c_int * len(integers))(*(starts[n] for n in integers))
    assert fmu.fmi2SetInteger(c, refs(variables, integers), len(integers), values) == 0
    fmu.fmi2DoStep.argtypes = [ctypes.c_void_p, ctypes.c_double, ctypes.c_double, ctypes.c_int]
    fmu.fmi2SetupExperiment.argtypes = experiment_arguments(ctypes.c_int)
    assert fmu.fmi2SetupExperiment(c, 0, 0.0, 0.0, 0, 0.0) == 0
    assert fmu.fmi2EnterInitializationMode(c) == 0 and fmu.fmi2ExitInitializationMode(c) == 0
    inputs, outputs = refs(variables, guidew.INPUT_FIELDS), refs(variables, guidew.OUTPUT_FIELDS)
    y, flown = doubles([0.0] * 4), []
    for k, row in enumerate(rows):
        assert fmu.fmi2SetReal(c, inputs, 19, doubles(row)) == 0
        assert fmu.fmi2DoStep(c, k * 0.01, 0.01, 1) == 0, LOGGED
        assert fmu.fmi2GetReal(c, outputs, 4, y) == 0
        flown.append(tuple(y))
    fmu.fmi2FreeInstance(c)
    return flown


def fly_fmi3(folder, starts, rows):
    """rows flown by the FMI 3.0 FMU, parameters given as start values."""
    fmu, variables, token = fmu_binary(folder, 3)
    fmu.fmi3InstantiateCoSimulation.restype = ctypes.c_void_p
    logger = FMI3_LOGGER(lambda env, status, category, message: LOGGED.append(message))
    fmu.fmi3InstantiateCoSimulation.argtypes = (
        [ctypes.c_char_p] * 3
        + [ctypes.c_bool] * 4
        + [ctypes.c_void_p, ctypes.c_size_t]
        + [ctypes.c_void_p, FMI3_LOGGER, ctypes.c_void_p]
    )
    c = ctypes.c_void_p(
        fmu.fmi3InstantiateCoSimulation(b"f16", token, b"", 0, 0, 0, 0, None, 0, None, logger, None)
    )
    for name, value in starts.items():
        values = value if isinstance(value, list) else [value]
        if variables[name][1] == "UInt32":
            status = fmu.fmi3SetUInt32(
                c, refs(variables, [name]), 1, (ctypes.c_uint32 * len(values))(*values), len(values)
            )
        else:
            status = fmu.fmi3SetFloat64(c, refs(variables, [name]), 1, doubles(values), len(values))
        assert status == 0, LOGGED
    fmu.fmi3EnterInitializationMode.argtypes = experiment_arguments(ctypes.c_bool)
    assert fmu.fmi3EnterInitializationMode(c, 0, 0.0, 0.0, 0, 0.0) == 0
    assert fmu.fmi3ExitInitializationMode(c) == 0
    fmu.fmi3DoStep.argtypes = [ctypes.c_void_p, ctypes.c_double, ctypes.c_double, ctypes.c_bool]
    fmu.fmi3DoStep.argtypes += [ctypes.POINTER(ctypes.c_bool)] * 3 + [
        ctypes.POINTER(ctypes.c_double)
    ]
    flags, reached = [ctypes.c_bool() for _ in range(3)], ctypes.c_double()
    inputs, outputs = refs(variables, guidew.INPUT_FIELDS), refs(variables, guidew.OUTPUT_FIELDS)
    y, flown = doubles([0.0] * 4), []
    for k, row in enumerate(rows):
        assert fmu.fmi3SetFloat64(c, inputs, 19, doubles(row), 19) == 0
        step = fmu.fmi3DoStep(
            c, k * 0.01, 0.01, 1, *map(ctypes.pointer, flags), ctypes.pointer(reached)
        )
        assert step == 0, LOGGED
        assert fmu.fmi3GetFloat64(c, outputs, 4, y, 4) == 0
        flown.append(tuple(y))
    fmu.fmi3FreeInstance(c)
    return flown


FLY_FMU = {2: fly_fmi2, 3: fly_fmi3}


@unittest.skipUnless(all(FMUS.values()), "GUIDEW_FMU2 and GUIDEW_FMU3 name the built FMUs")
class FmuStartValues(unittest.TestCase):
    def test_every_element_has_the_name_and_type_the_fmi2_fmu_declares(self):
        declared = {v.get("name"): v for v in model_description(2)}
        starts = guidew.fmu_start_values(F16_TRIM)
        self.assertEqual(sorted(starts), sorted(declared))
        for name, value in starts.items():
            kind = declared[name][0].tag
            self.assertIs(type(value), int if kind == "Integer" else float, name)
        # Each element's description gives its record element, written
        # by the FMU's generator: the tools' flat index of that name.
        for name, variable in declared.items():
            if "record element" in variable.get("description"):
                k = int(variable.get("description").split("record element ")[1].split()[0])
                flat = "%s[%d]" % (name.split("[")[0], k)
                self.assertEqual(list(guidew.fmu_start_values({flat: 1})), [name])

    def test_the_manuals_worked_example(self):
        # docs/fmu.md: --set thr_table[47] is thr_table[5,4] (300 m/s, 6000 m)
        self.assertEqual(guidew.fmu_start_values({"thr_table[47]": 0.5}), {"thr_table[5,4]": 0.5})
        self.assertEqual(
            guidew.fmu_start_values({"thr_alt_bp[0]": 1.0, "thr_max_index[1]": 9}),
            {"thr_alt_bp[1]": 1.0, "thr_max_index[2]": 9},
        )

    def test_fmi3_arrays_are_whole_with_the_fmus_own_starts_where_unset(self):
        declared = {v.get("name"): v for v in model_description(3)}
        starts = guidew.fmu_start_values(F16_TRIM, fmi_version=3)
        self.assertEqual(sorted(starts), sorted(declared))
        trim = guidew.read_params(F16_TRIM)
        self.assertEqual(starts["thr_table"], [trim["thr_table[%d]" % k] for k in range(132)])
        # One element set: the others are the FMU's declared starts.
        partial = guidew.fmu_start_values({"thr_table[47]": 0.5, "thr_max_index[1]": 9}, 3)
        for name, value in partial.items():
            variable = declared[name]
            size = math.prod(int(d.get("start")) for d in variable.findall("Dimension"))
            start = [float(s) for s in variable.get("start").split()]
            self.assertEqual(len(value), size)
            changed = [i for i, (v, s) in enumerate(zip(value, start)) if v != s]
            self.assertEqual(changed, [47] if name == "thr_table" else [1])

    @unittest.skipUnless(GUIDE_RUN, "GUIDE_RUN names the guide-run the build made")
    def test_both_fmus_fly_the_f16_table_as_guide_run_does(self):
        rows = flight_rows(200)
        with tempfile.TemporaryDirectory() as folder:
            path = write_bytes(folder, "flight.csv", flight_csv(rows))
            done = guide_run("--params", F16_TRIM, path)
            self.assertEqual(done.returncode, 0, done.stderr)
            expected = commands_of(done.stdout)
            for version in (2, 3):
                with self.subTest(fmi_version=version):
                    starts = guidew.fmu_start_values(F16_TRIM, fmi_version=version)
                    flown = FLY_FMU[version](folder, starts, rows)
                    self.assertEqual([repr(f) for f in flown], [repr(e) for e in expected])

    def test_an_fmi_version_other_than_2_or_3_is_refused(self):
        for version in (1, "2", 2.0001, True):
            with self.subTest(version=version), self.assertRaises(ValueError):
                guidew.fmu_start_values({}, fmi_version=version)


if __name__ == "__main__":
    unittest.main()
