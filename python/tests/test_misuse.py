"""What the binding does with values, batches and fleets used wrongly, and
that its records lie where the library's do."""

import array
import ctypes
import gc
import os
import sys
import unittest
import weakref
from unittest import mock

if os.environ.get("GUIDEW_TEST_NO_NUMPY"):
    sys.modules["numpy"] = None
try:
    import numpy
except ImportError:
    numpy = None

import guidew
from guidew import _fields

TYPICAL_ROW = [float(guidew.TYPICAL_FLIGHT.get(name, 0)) for name in guidew.INPUT_FIELDS]
TYPICAL_OUTPUTS = guidew.Outputs(*guidew.TYPICAL_COMMANDS)


class RecordLayout(unittest.TestCase):
    """The ctypes records against the layout generated from the C structs."""

    def test_param_fields_names_order_offsets_and_sizes(self):
        element = {"d": ctypes.sizeof(ctypes.c_double), "I": ctypes.sizeof(ctypes.c_uint32)}
        self.assertEqual(
            [name for name, _ in guidew.GuideWParams._fields_],
            [name for name, *_ in _fields.PARAM_LAYOUT],
        )
        for name, kind, length, offset in _fields.PARAM_LAYOUT:
            with self.subTest(name):
                field = getattr(guidew.GuideWParams, name)
                self.assertEqual(
                    (field.offset, field.size), (offset, element[kind] * max(length, 1))
                )

    def test_records_of_doubles_in_field_order(self):
        for struct, names, size in (
            (guidew.GuideWInputs, _fields.INPUT_FIELDS, "inputs"),
            (guidew.GuideWOutputs, _fields.OUTPUT_FIELDS, "outputs"),
            (guidew.GuideWStates, _fields.STATE_FIELDS, "states"),
        ):
            with self.subTest(size):
                self.assertEqual(
                    [getattr(struct, n).offset for n in names], [8 * i for i in range(len(names))]
                )
                self.assertEqual(ctypes.sizeof(struct), _fields.RECORD_SIZES[size])
        self.assertEqual(ctypes.sizeof(guidew.GuideWParams), _fields.RECORD_SIZES["params"])


def assert_untouched(test, m):
    """m holds what a new instance holds and steps as one: nothing refused
    was written or stepped."""
    with guidew.Instance(m.library) as fresh:
        test.assertEqual(m.inputs.to_dict(), fresh.inputs.to_dict())
        test.assertEqual(m.states.to_dict(), fresh.states.to_dict())
        test.assertEqual(m.step(), fresh.step())


class BadValues(unittest.TestCase):
    """A bad value is refused naming its field, and nothing is half-written."""

    INDEX_CASES = [
        # (what was meant, value, error, words of the message)
        ("one below the first breakpoint", -1, ValueError, "0 to 4294967295"),
        ("beyond 32 bits, which would wrap to 3", 2**40 + 3, ValueError, "0 to 4294967295"),
        ("half an index", 2.5, ValueError, "whole number"),
        ("a name", "ten", TypeError, "whole number"),
    ]

    def test_breakpoint_index_outside_uint32(self):
        with guidew.Instance() as m:
            before = list(m.params["thr_max_index"])
            for meant, value, error, words in self.INDEX_CASES:
                with self.subTest(meant):
                    with self.assertRaisesRegex(error, r"thr_max_index\[0\].*" + words):
                        m.params["thr_max_index"][0] = value
                    with self.assertRaisesRegex(error, r"thr_max_index\[1\]"):
                        m.params["thr_max_index"] = [before[0], value]
                    with self.assertRaisesRegex(error, "thr_max_index"):
                        m.params.update(roll_kp=1.0, thr_max_index=[value, before[1]])
                    self.assertEqual(list(m.params["thr_max_index"]), before)
                    self.assertNotEqual(m.params["roll_kp"], 1.0)
            m.params["thr_max_index"] = [9.0, 4294967295]  # whole floats and the top are fine
            self.assertEqual(list(m.params["thr_max_index"]), [9, 4294967295])

    def test_step_validates_every_input_before_writing_any(self):
        with guidew.Instance() as m:
            m.inputs.update(guidew.TYPICAL_FLIGHT)
            with self.assertRaisesRegex(TypeError, "azim_cmd.*'x'"):
                m.step({"elev_cmd": 9, "azim_cmd": "x"})
            self.assertEqual(m.inputs["elev_cmd"], guidew.TYPICAL_FLIGHT["elev_cmd"])
            row = list(TYPICAL_ROW)
            row[guidew.INPUT_FIELDS.index("altitude")] = None
            with self.assertRaisesRegex(TypeError, "altitude"):
                m.step(row)
            with self.assertRaisesRegex(TypeError, "roll_kd"):
                m.params["roll_kd"] = "2"
            self.assertEqual(m.step(), TYPICAL_OUTPUTS)  # nothing was stepped or changed

    # (what was given, how it is written, the error's words): a container
    # without an order would be matched to fields in whatever order it
    # iterates, so it is refused, naming what it is.
    UNORDERED_CASES = [
        (
            "the 19 inputs of a step as a set",
            lambda m: m.step(set(range(19))),
            "inputs .*set has no order",
        ),
        (
            "a step's inputs as a frozenset",
            lambda m: m.step(frozenset(range(19))),
            "frozenset has no order",
        ),
        (
            "a trim-table axis as a set",
            lambda m: m.params.__setitem__("thr_alt_bp", set(range(0, 22000, 2000))),
            "thr_alt_bp: a set has no order",
        ),
        (
            "an array field as a dict of positions",
            lambda m: m.params.__setitem__("thr_max_index", {0: 3, 1: 4}),
            "thr_max_index: a dict has no order",
        ),
        (
            "a batch row as a set",
            lambda m: guidew.step_batch([m], [set(range(19))]),
            "row 0: a set has no order",
        ),
    ]

    def test_unordered_containers_are_refused(self):
        with guidew.Instance() as m:
            before = m.params.to_dict()
            for given, write, words in self.UNORDERED_CASES:
                with self.subTest(given), self.assertRaisesRegex(TypeError, words):
                    write(m)
            self.assertEqual(m.params.to_dict(), before)
            assert_untouched(self, m)
        with guidew.Fleet(1) as fleet, self.assertRaisesRegex(TypeError, "set has no order"):
            fleet.set_inputs(0, set(range(19)))

    # (where a number beyond float64 goes, how it is written, the field named)
    HUGE = 10**400
    OVERFLOW_CASES = [
        ("a roll gain", lambda m: m.params.__setitem__("roll_kp", BadValues.HUGE), "roll_kp"),
        (
            "one trim-table cell",
            lambda m: m.params["thr_table"].__setitem__(5, BadValues.HUGE),
            r"thr_table\[5\]",
        ),
        (
            "a whole altitude axis",
            lambda m: m.params.__setitem__("thr_alt_bp", [0.0] * 10 + [BadValues.HUGE]),
            r"thr_alt_bp\[10\]",
        ),
        ("an input by name", lambda m: m.step({"altitude": BadValues.HUGE}), "altitude"),
        ("an input in a row", lambda m: m.step(TYPICAL_ROW[:-1] + [BadValues.HUGE]), "aux_in"),
        (
            "a batch row",
            lambda m: guidew.step_batch(
                [m], [TYPICAL_ROW[:3] + [BadValues.HUGE] + TYPICAL_ROW[4:]]
            ),
            "row 0 field ext_weight",
        ),
    ]

    def test_numbers_beyond_float64_name_their_field(self):
        with guidew.Instance() as m:
            before = m.params.to_dict()
            for where, write, field in self.OVERFLOW_CASES:
                with self.subTest(where):
                    with self.assertRaisesRegex(ValueError, field + ".*beyond the range") as caught:
                        write(m)
                    self.assertLess(len(str(caught.exception)), 200)  # not 400 digits
            self.assertEqual(m.params.to_dict(), before)
            assert_untouched(self, m)


class Batches(unittest.TestCase):
    def test_list_of_rows_steps_like_a_buffer(self):
        rows = [list(TYPICAL_ROW) for _ in range(3)]
        rows[1][guidew.INPUT_FIELDS.index("azim_cmd")] = -30.0  # the mirrored turn
        with guidew.Fleet(3) as a, guidew.Fleet(3) as b:
            from_list = guidew.step_batch(list(a), rows)
            from_buffer = guidew.step_batch(list(b), array.array("d", sum(rows, [])))
        self.assertEqual(from_list, from_buffer)
        self.assertEqual(list(from_list[:4]), list(TYPICAL_OUTPUTS))
        self.assertEqual(from_list[4], -TYPICAL_OUTPUTS.lat_cmd)  # banks the other way

    def test_rows_of_any_sequence_step_like_a_buffer(self):
        kinds = [("tuples", tuple), ("array('d') rows", lambda r: array.array("d", r))]
        if numpy is not None:
            kinds.append(("numpy rows", numpy.array))
        with guidew.Fleet(2) as ref:
            want = guidew.step_batch(ref, array.array("d", TYPICAL_ROW * 2))
        for kind, make in kinds:
            with self.subTest(kind), guidew.Fleet(2) as a, guidew.Fleet(2) as b:
                rows = [make(TYPICAL_ROW), make(TYPICAL_ROW)]
                self.assertEqual(list(guidew.step_batch(list(a), rows)), list(want))
                self.assertEqual(b.step(rows), a.step(rows))

    def test_bad_batches_name_the_place(self):
        with guidew.Instance() as a, guidew.Instance() as b:
            cases = [
                (
                    "not an instance",
                    [a, "x"],
                    [TYPICAL_ROW] * 2,
                    TypeError,
                    r"instances\[1\] is str",
                ),
                (
                    "short row",
                    [a, b],
                    [TYPICAL_ROW, TYPICAL_ROW[:18]],
                    ValueError,
                    "row 1: expected 19 values, got 18",
                ),
                (
                    "text in a row",
                    [a, b],
                    [TYPICAL_ROW, TYPICAL_ROW[:-1] + ["7"]],
                    TypeError,
                    "row 1 field aux_in",
                ),
                ("a row missing", [a, b], [TYPICAL_ROW], ValueError, "expected 2 values, got 1"),
            ]
            for situation, instances, rows, error, words in cases:
                with self.subTest(situation), self.assertRaisesRegex(error, words):
                    guidew.step_batch(instances, rows)

    def test_threads_capped_at_the_processors(self):
        cap = guidew.max_threads()
        self.assertEqual(guidew.Fleet(2, threads=10_000).threads, cap)
        with guidew.Instance() as m:
            lib = m.library
            with mock.patch.object(lib, "GuideW_step_batch", wraps=lib.GuideW_step_batch) as call:
                out = guidew.step_batch([m], [TYPICAL_ROW], threads=10_000)
            self.assertEqual(call.call_args.args[4], cap)
            self.assertEqual(list(out), list(TYPICAL_OUTPUTS))
        for bad in (0, -2, 1.5, True):
            with self.subTest(threads=bad), self.assertRaisesRegex(ValueError, "threads"):
                guidew.Fleet(1, threads=bad)


class FleetResults(unittest.TestCase):
    def test_each_step_keeps_its_own_commands(self):
        with guidew.Fleet(2) as fleet:
            fleet.set_inputs(0, TYPICAL_ROW)
            fleet.set_inputs(1, dict(guidew.TYPICAL_FLIGHT, azim_cmd=-30))
            history = [fleet.step()]
            fleet.set_inputs(0, {"aux_in": 8})  # passed through to aux_out
            history.append(fleet.step())
            self.assertEqual(history[0][0], TYPICAL_OUTPUTS)
            self.assertEqual(history[0][1, "lat_cmd"], -TYPICAL_OUTPUTS.lat_cmd)
            self.assertEqual(history[0][-1].lat_cmd, history[0][1, 0])
            self.assertEqual((history[0][0].aux_out, history[1][0].aux_out), (7, 8))
            self.assertEqual(fleet.output(0), history[1][0])  # the live buffer: last step
            if numpy is not None:
                self.assertEqual(numpy.asarray(history).shape, (2, 2, 4))
                self.assertEqual(numpy.asarray(history[0])[0].tolist(), list(TYPICAL_OUTPUTS))
            with self.assertRaises(IndexError):
                history[0][2]

    def test_instances_belong_to_the_fleet(self):
        fleet = guidew.Fleet(3)
        member = fleet[-1]
        self.assertIs(member, fleet[2])
        member.params["roll_kp"] = 1.0
        with self.assertRaisesRegex(ValueError, "close the Fleet"):
            member.close()
        fleet.close()
        self.assertTrue(member.closed)
        with self.assertRaisesRegex(ValueError, "closed"):
            member.step(TYPICAL_ROW)

    def test_dropped_fleets_and_instances_are_freed_without_the_cycle_collector(self):
        lib = guidew.load()
        situations = [
            # (what the program did, the object it drops last)
            ("a fleet whose members were used", "fleet"),
            ("a member kept after its fleet was dropped", "member"),
            ("a member's parameters kept after both were dropped", "record"),
        ]
        gc.disable()
        self.addCleanup(gc.enable)
        for situation, last in situations:
            with self.subTest(situation), mock.patch.object(
                lib, "GuideW_instance_destroy", wraps=lib.GuideW_instance_destroy
            ) as destroy:
                fleet = guidew.Fleet(3, library=lib)
                member = fleet[1]
                member.params["roll_kp"] = 1.5
                member.step(TYPICAL_ROW)
                params = member.params
                fleet_ref = weakref.ref(fleet)
                if last == "fleet":
                    del member, params
                del fleet
                self.assertIsNone(fleet_ref(), "the Fleet object waits for the collector")
                if last != "fleet":
                    # What is still held keeps the aircraft, and works.
                    self.assertEqual(destroy.call_count, 0)
                    self.assertEqual(params["roll_kp"], 1.5)
                    if last == "member":
                        del params
                        self.assertEqual(member.step(TYPICAL_ROW), member.outputs)
                        del member
                    else:
                        del member
                        del params
                self.assertEqual(destroy.call_count, 3)
        with mock.patch.object(
            lib, "GuideW_instance_destroy", wraps=lib.GuideW_instance_destroy
        ) as destroy:
            lone = guidew.Instance(lib)
            lone.params["roll_kp"] = 2.0
            lone.inputs.update(guidew.TYPICAL_FLIGHT)
            del lone
            self.assertEqual(destroy.call_count, 1)

    def test_no_python_object_per_aircraft(self):
        gc.collect()
        before = len(gc.get_objects())
        with guidew.Fleet(20_000) as fleet:
            gc.collect()
            self.assertLess(len(gc.get_objects()) - before, 1_000)
            self.assertEqual(len(fleet), 20_000)


if __name__ == "__main__":
    unittest.main()
