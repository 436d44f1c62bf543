import array
import ctypes.util
import inspect
import os
import random
import sys
import tempfile
import unittest
from unittest import mock

if os.environ.get("GUIDEW_TEST_NO_NUMPY"):
    sys.modules["numpy"] = None  # a host without numpy: every path must still work
try:
    import numpy
except ImportError:
    numpy = None

import guidew
from guidew import _finder, _library

# The project's native libraries, all found by the same rules; the
# simulator's comes with the campaigns, which need numpy.
NATIVE_LIBRARIES = [_library.GUIDE_LIBRARY]
if numpy is not None:
    from guidew.campaign import _simlib

    NATIVE_LIBRARIES.append(_simlib.SIM_LIBRARY)

# Level flight north at 200 m/s, 3000 m; target 30 deg right and 5 deg up at
# 220 m/s; and the commands the C tests expect of its first step.
TYPICAL = guidew.TYPICAL_FLIGHT
TYPICAL_OUTPUTS = guidew.Outputs(*guidew.TYPICAL_COMMANDS)


def row_of(fields):
    return [float(fields.get(name, 0)) for name in guidew.INPUT_FIELDS]


def random_rows(rng, count):
    """Flight situations around the typical one: targets all round, modes 1-4."""
    return [
        row_of(
            dict(
                TYPICAL,
                azim_cmd=rng.uniform(0, 360),
                elev_cmd=rng.uniform(-80, 80),
                roll=rng.uniform(-180, 180),
                pitch=rng.uniform(-30, 30),
                yaw=rng.uniform(-10, 10),
                mode=rng.choice([1, 1, 1, 2, 2.5, 3, 4]),
                ext_weight=rng.random(),
                ext_bank=rng.uniform(-60, 60),
                ext_nz=2.0,
                roll_rate=rng.uniform(-50, 50),
                aux_in=rng.random(),
            )
        )
        for _ in range(count)
    ]


class TypicalStep(unittest.TestCase):
    def check(self, out):
        self.assertEqual(out, TYPICAL_OUTPUTS)

    def test_static_model_through_wrapper_and_raw_step(self):
        static = guidew.StaticModel()
        static.initialize()
        self.assertEqual(static.states["turn_sign"], 1.0)
        self.check(static.step(row_of(TYPICAL)))  # Guide_OneStep + Guide_GetOutput
        self.check(static.step())  # GuideW_step on GuideW_U, read GuideW_Y
        self.check(static.outputs)
        self.assertIsNone(static.error_status)

    def test_instance_by_field_names(self):
        with guidew.Instance() as m:
            m.inputs.update(TYPICAL)
            self.check(m.step())
            self.check(m.step({"azim_cmd": 30}))  # same inputs again: same outputs
            self.assertAlmostEqual(m.states["front_roll_err"], 71.217, delta=1e-3)
            self.assertEqual(len(m.params["thr_table"]), 132)
            m.params["roll_kp"] = 1.0  # retuned gain: bank error no longer saturates
            self.assertAlmostEqual(m.step().lat_cmd, 71.217, delta=1e-3)
            m.initialize()  # keeps the retuned parameters, clears the rest
            self.assertEqual((m.params["roll_kp"], m.inputs["azim_cmd"]), (1.0, 0.0))
        with self.assertRaisesRegex(ValueError, "closed"):
            m.step()


class SameArithmetic(unittest.TestCase):
    def test_instance_matches_static_model_bit_for_bit(self):
        rows = random_rows(random.Random(1), 300)
        static = guidew.StaticModel()
        static.initialize()
        with guidew.Instance() as m:
            for row in rows:
                self.assertEqual(m.step(row), static.step(row))
                self.assertEqual(dict(m.states), dict(static.states))

    def test_batch_matches_single_steps_for_any_thread_count(self):
        n, rng = 300, random.Random(2)  # enough aircraft for every thread to get rows
        for threads in (1, 2, 4):
            with guidew.Fleet(n) as fleet:
                singles = [guidew.Instance() for _ in range(n)]
                for period in range(6):
                    rows = random_rows(rng, n)
                    flat = array.array("d", [v for row in rows for v in row])
                    want = array.array(
                        "d", [v for m, row in zip(singles, rows) for v in m.step(row)]
                    )
                    if period % 2:
                        got = guidew.step_batch(fleet, flat, threads=threads)
                    else:  # the fleet's own buffers: one library call
                        fleet.inputs.cast("B")[:] = flat.tobytes()
                        got = fleet.step(threads=threads)
                    self.assertEqual(got.tobytes(), want.tobytes(), "threads=%d" % threads)

    def test_buffer_kinds(self):
        rows = random_rows(random.Random(3), 70)
        flat = [v for row in rows for v in row]
        with guidew.Fleet(70) as a, guidew.Fleet(70) as b:
            want = guidew.step_batch(list(a), array.array("d", flat), threads=2)
            got = array.array("d", bytes(70 * 4 * 8))  # read-only bytes: copied once
            self.assertIs(guidew.step_batch(list(b), array.array("d", flat).tobytes(), got), got)
            self.assertEqual(got, want)
            if numpy is None:
                return
            wide = numpy.zeros((70, 25))
            wide[:, :19] = numpy.array(flat).reshape(70, 19)
            out = guidew.step_batch(a, wide[:, :19])  # strided view: copied once
            self.assertEqual(out.shape, (70, 4))
            self.assertEqual(out.tolist(), guidew.step_batch(b, wide[:, :19].copy()).tolist())
            numpy.asarray(a.inputs)[:] = numpy.asarray(b.inputs)[:] = wide[:, :19]
            self.assertEqual(a.step(threads=4).tolist(), b.step().tolist())


class ClearErrors(unittest.TestCase):
    def test_unknown_field_names_list_the_valid_ones(self):
        with guidew.Instance() as m:
            for record, bad in ((m.inputs, "azimuth"), (m.params, "roll_gain"), (m.states, "turn")):
                with self.assertRaises(KeyError) as caught:
                    record[bad] = 1.0
                self.assertIn(bad, str(caught.exception))
                self.assertIn(next(iter(record)), str(caught.exception))
            with self.assertRaises(KeyError):
                m.step({"azim_cmd": 10, "heading": 3})
            self.assertEqual(m.inputs["azim_cmd"], 0.0)  # nothing written
            with self.assertRaisesRegex(ValueError, "expected 19 values, got 18"):
                m.step([0.0] * 18)
            with self.assertRaisesRegex(ValueError, "expected 132 values, got 3"):
                m.params["thr_table"] = [1, 2, 3]
        with guidew.Fleet(1) as fleet, self.assertRaisesRegex(KeyError, "'latcmd'.*: lat_cmd, nz"):
            fleet.step()[0, "latcmd"]

    def test_batch_buffers_of_wrong_size_format_or_shape(self):
        with guidew.Fleet(3) as fleet:
            cases = [
                ("one row short", array.array("d", [0.0] * 38), None, "expected 57"),
                ("float32", array.array("f", [0.0] * 57), None, "format 'f'"),
                (
                    "outputs too small",
                    array.array("d", [0.0] * 57),
                    array.array("d", [0.0] * 8),
                    "expected 12",
                ),
                ("read-only outputs", array.array("d", [0.0] * 57), bytes(96), "writable"),
            ]
            if numpy is not None:
                cases.append(("rows of 18", numpy.zeros((3, 18)), None, r"shape \(3, 18\)"))
            for name, inputs, outputs, message in cases:
                with self.subTest(name), self.assertRaisesRegex(ValueError, message):
                    fleet.step(inputs, outputs)
            with guidew.Instance() as m, self.assertRaisesRegex(ValueError, "more than once"):
                guidew.step_batch([m, m], array.array("d", [0.0] * 38))

    def test_missing_library_error_lists_every_place_looked(self):
        for native in NATIVE_LIBRARIES:
            with self.subTest(
                native.file_name
            ), tempfile.TemporaryDirectory() as nowhere, mock.patch.dict(
                os.environ, {native.env: ""}
            ), mock.patch.object(
                _finder, "PACKAGE_DIR", os.path.join(nowhere, "a", "b")
            ), mock.patch.object(
                ctypes.util, "find_library", return_value=None
            ):
                with self.assertRaises(guidew.LibraryNotFoundError) as caught:
                    _finder.find_and_load(native)
                self.assertIsInstance(caught.exception, native.error)
                for place in (
                    native.env + ": not set",
                    'find_library("%s")' % native.loader_name,
                    os.path.join(nowhere, "a", "b", native.file_name),
                    "installation prefix",
                    "not in its source tree",
                    "Set %s=/path/to/%s" % (native.env, native.file_name),
                ):
                    self.assertIn(place, str(caught.exception))
                self.assertEqual(len(caught.exception.tried), 5)
        with tempfile.TemporaryDirectory() as nowhere, self.assertRaisesRegex(
            guidew.LibraryNotFoundError, "path argument(.|\n)*guidew.load\\("
        ):
            guidew.load(os.path.join(nowhere, "libGuide.so"))

    def test_every_error_of_the_package_is_a_guidew_error(self):
        """One except clause catches what the package raises, and each error
        is still caught as the kind of error it is."""
        # (error, the other kinds it is)
        rows = [
            (guidew.GuideWError, ()),
            (guidew.LibraryNotFoundError, (OSError,)),
            (guidew.FieldNameError, (KeyError,)),
        ]
        defined = {
            obj
            for module in _package_modules()
            for obj in vars(module).values()
            if isinstance(obj, type)
            and issubclass(obj, BaseException)
            and obj.__module__.startswith("guidew")
        }
        self.assertLessEqual({error for error, _ in rows}, defined)
        for error in sorted(defined, key=lambda e: e.__name__):
            with self.subTest(error.__name__):
                self.assertTrue(issubclass(error, guidew.GuideWError))
        for error, kinds in rows:
            for kind in kinds:
                self.assertTrue(issubclass(error, kind), (error, kind))
        with guidew.Instance() as m, self.assertRaises(guidew.GuideWError):
            m.inputs["heading"] = 1.0


def _package_modules():
    """Every module of the package that this Python can import (the
    campaigns need numpy)."""
    import importlib
    import pkgutil

    modules = [guidew]
    for info in pkgutil.walk_packages(guidew.__path__, "guidew."):
        if info.name.endswith("__main__"):
            continue
        try:
            modules.append(importlib.import_module(info.name))
        except ImportError:
            if numpy is not None:
                raise
    return modules


class FindsTheLibrary(unittest.TestCase):
    """Where a package that was not told where the library is finds it."""

    # (situation, package folder, where the library is, GUIDE_BUILD_DIR)
    LAYOUTS = [
        (
            "installed by cmake --install",
            "p/lib/python3/dist-packages/guidew",
            "p/lib/libGuide.so",
            None,
        ),
        (
            "pip --prefix on Debian",
            "p/local/lib/python3.11/dist-packages/guidew",
            "p/lib/libGuide.so",
            None,
        ),
        (
            "pip --prefix, library in a multiarch folder",
            "p/lib/python3.11/site-packages/guidew",
            "p/lib/x86_64-linux-gnu/libGuide.so",
            None,
        ),
        (
            "source tree with GUIDE_BUILD_DIR",
            "src/python/guidew",
            "elsewhere/libGuide.so",
            "elsewhere",
        ),
        ("source tree, default build folder", "src/python/guidew", "src/build/libGuide.so", None),
    ]

    def test_layouts(self):
        """libGuide.so and libguidesim.so are found by the same rules: each
        layout is tried for both."""
        real = os.path.realpath(_library.load().path)
        for native in NATIVE_LIBRARIES:
            for situation, package, library, build_dir in self.LAYOUTS:
                library = library.replace("libGuide.so", native.file_name)
                with self.subTest(
                    situation, library=native.file_name
                ), tempfile.TemporaryDirectory() as root, mock.patch.dict(
                    os.environ, {native.env: ""}
                ), mock.patch.object(
                    ctypes.util, "find_library", return_value=None
                ), mock.patch.object(
                    _finder.sysconfig, "get_config_var", return_value="x86_64-linux-gnu"
                ), mock.patch.object(
                    _finder, "PACKAGE_DIR", os.path.join(root, package)
                ):
                    os.makedirs(os.path.join(root, package))
                    open(
                        os.path.join(root, "src", "python", "pyproject.toml")
                        if package.startswith("src")
                        else os.path.join(root, package, "__init__.py"),
                        "w",
                    ).close()
                    os.makedirs(os.path.dirname(os.path.join(root, library)), exist_ok=True)
                    os.symlink(real, os.path.join(root, library))
                    env = {
                        _finder.BUILD_DIR_ENV: os.path.join(root, build_dir) if build_dir else ""
                    }
                    with mock.patch.dict(os.environ, env):
                        found, _ = _finder.find_and_load(native)
                    self.assertEqual(found, os.path.join(root, library))

    def test_the_variable_alone_is_tried_when_set(self):
        """A library named by its variable is the only one tried: a wrong
        name fails rather than load another build found elsewhere."""
        for native in NATIVE_LIBRARIES:
            with self.subTest(native.file_name), tempfile.TemporaryDirectory() as root:
                missing = os.path.join(root, "old", native.file_name)
                os.symlink(
                    os.path.realpath(_library.load().path), os.path.join(root, native.file_name)
                )
                with mock.patch.dict(os.environ, {native.env: missing}), mock.patch.object(
                    _finder, "PACKAGE_DIR", root
                ), self.assertRaises(native.error) as caught:
                    _finder.find_and_load(native)
                self.assertEqual(caught.exception.tried, [(native.env, missing, "no such file")])


class Manual(unittest.TestCase):
    def test_every_public_name_is_documented(self):
        """help(guidew) is the package's manual: nothing public may be blank."""
        self.assertRegex(guidew.__version__, r"^\d+\.\d+\.\d+$")
        blank = []
        for name in guidew.__all__:
            obj = getattr(guidew, name)
            if not (inspect.isclass(obj) or inspect.isfunction(obj)):
                continue
            members = vars(obj).items() if inspect.isclass(obj) else ()
            for member, value in [(None, obj)] + [
                (m, v)
                for m, v in members
                if not m.startswith("_") or m in ("__getitem__", "__setitem__")
            ]:
                if (callable(value) or isinstance(value, property)) and not (
                    value.__doc__ or ""
                ).strip():
                    blank.append(name if member is None else "%s.%s" % (name, member))
        self.assertEqual(blank, [])

    def test_modules_share_no_private_helpers_and_import_one_way(self):
        """A module uses another's public names only, and no two modules
        import each other: each layer can be read and changed on its own."""
        import ast

        root = os.path.dirname(guidew.__file__)
        borrowed, imports = [], {}
        for folder, _, files in os.walk(root):
            for name in (f for f in files if f.endswith(".py")):
                path = os.path.join(folder, name)
                module = os.path.relpath(path, root)[:-3].replace(os.sep, ".")
                package = module.rpartition(".")[0] if not name.startswith("__init__") else module
                with open(path, encoding="utf-8") as f:
                    tree = ast.parse(f.read())
                modules_named = set()
                for node in ast.walk(tree):
                    if not isinstance(node, ast.ImportFrom) or not node.level:
                        continue
                    base = package.split(".")[: len(package.split(".")) - node.level + 1]
                    target = ".".join(
                        [p for p in base if p and p != "__init__"]
                        + ([node.module] if node.module else [])
                    )
                    for alias in node.names:
                        if node.module is None:  # from . import _config: a module
                            modules_named.add(alias.asname or alias.name)
                            if node in tree.body:  # not an import deferred to first use
                                imports.setdefault(module, set()).add(
                                    ".".join(filter(None, [target, alias.name]))
                                )
                        elif alias.name.startswith("_") and not alias.name.startswith("__"):
                            borrowed.append("%s: %s.%s" % (module, target, alias.name))
                    if node.module and node in tree.body:
                        imports.setdefault(module, set()).add(target)
                for node in ast.walk(tree):
                    if (
                        isinstance(node, ast.Attribute)
                        and isinstance(node.value, ast.Name)
                        and node.value.id in modules_named
                        and node.attr.startswith("_")
                        and not node.attr.startswith("__")
                    ):
                        borrowed.append("%s: %s.%s" % (module, node.value.id, node.attr))
        self.assertEqual(borrowed, [])
        both_ways = sorted(
            "%s <-> %s" % (a, b)
            for a, targets in imports.items()
            for b in targets
            if a < b and a in imports.get(b, ())
        )
        self.assertEqual(both_ways, [])

    def test_stepping_the_law_does_not_bring_in_the_campaigns(self):
        """A host that only steps the law must not pay for Dask and numpy:
        guidew.campaign loads on first use, and then as a plain attribute."""
        import subprocess

        probe = "import guidew, sys; print('distributed' in sys.modules, 'guidew.campaign' in sys.modules)"
        shown = subprocess.run(
            [sys.executable, "-c", probe], capture_output=True, text=True, check=True
        ).stdout.split()
        self.assertEqual(shown, ["False", "False"])
        if numpy is not None:
            self.assertTrue(callable(guidew.campaign.run))


if __name__ == "__main__":
    unittest.main()
