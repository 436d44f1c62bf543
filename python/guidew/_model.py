"""The static model, instances, and stepping many instances at once."""

import array
import collections.abc
import ctypes
import sys
import weakref

from ._library import GuideWError, load
from ._records import (INPUT_COUNT, INPUT_FIELDS, OUTPUT_COUNT, GuideWInputs,
                       GuideWModel, GuideWOutputs, GuideWParams, GuideWStates,
                       Outputs, Record, check_length)

_Row = ctypes.c_double * INPUT_COUNT
_Out = ctypes.c_double * OUTPUT_COUNT


def _library(library):
    return library if hasattr(library, "GuideW_step_batch") else load(library)


def _input_row(values):
    """19 inputs as something the library reads: a record or a ctypes row."""
    if isinstance(values, (GuideWInputs, _Row)):
        return values
    check_length("inputs (%s ... %s)" % (INPUT_FIELDS[0], INPUT_FIELDS[-1]),
                 values, INPUT_COUNT)
    return _Row(*values)


class _Open:
    """Owner of records that stay valid for the life of the process."""

    @staticmethod
    def _check_open():
        pass


def default_params(library=None):
    """A detached copy of the build-time parameter defaults, as a Record."""
    params = GuideWParams()
    _library(library).GuideW_default_params(ctypes.byref(params))
    return Record(params, _Open, "param")


class StaticModel(_Open):
    """The library's module-level model (GuideW_U/Y/P/DW/M_): one per
    process, shared by everything that loads the same library file."""

    def __init__(self, library=None):
        self.library = lib = _library(library)
        self._lib = lib
        self._u = lib.record(GuideWInputs, "GuideW_U")
        self._y = lib.record(GuideWOutputs, "GuideW_Y")
        self._m = lib.record(GuideWModel, "GuideW_M_")
        self.inputs = Record(self._u, self, "input")
        self.params = Record(lib.record(GuideWParams, "GuideW_P"), self, "param")
        self.states = Record(lib.record(GuideWStates, "GuideW_DW"), self, "state")
        self._out = _Out()

    def initialize(self):
        """GuideW_initialize: clears inputs, outputs, states, error status."""
        self._lib.initialize()

    def terminate(self):
        self._lib.terminate()

    def step(self, inputs=None):
        """One step; returns the outputs.

        With inputs (a mapping of some fields by name, the others keeping
        their values, or 19 values in order) the guarded wrapper runs it:
        Guide_OneStep, then Guide_GetOutput. Without, GuideW_step runs on
        the inputs already in GuideW_U.
        """
        if inputs is None:
            self._lib.step()
            return Outputs(*_Out.from_buffer_copy(self._y))
        if isinstance(inputs, collections.abc.Mapping):
            row = GuideWInputs.from_buffer_copy(self._u)
            Record(row, self, "input").update(inputs)
        else:
            row = _input_row(inputs)
        self._lib.Guide_OneStep(ctypes.byref(row))
        self._lib.Guide_GetOutput(self._out)
        return Outputs(*self._out)

    @property
    def outputs(self):
        return Outputs(*_Out.from_buffer_copy(self._y))

    @property
    def error_status(self):
        """None, or the text of the error ("Overrun")."""
        status = self._m.error_status
        return None if status is None else status.decode()


class Instance:
    """One independent model with its own records.

    Created initialised with the build-time default parameters. Close it
    with close(), a with-block, or let it be collected.
    """

    def __init__(self, library=None):
        self.library = lib = _library(library)
        handle = lib.GuideW_instance_create()
        if not handle:
            raise MemoryError("GuideW_instance_create returned NULL")
        self._lib = lib
        self._handle = handle
        self._in_fleet = False
        self._finalizer = weakref.finalize(self, lib.GuideW_instance_destroy, handle)

        def record(struct_type, getter, kind):
            address = getter(handle)
            return Record(struct_type.from_address(address), self, kind)

        self.inputs = record(GuideWInputs, lib.GuideW_instance_inputs, "input")
        self.params = record(GuideWParams, lib.GuideW_instance_params, "param")
        self.states = record(GuideWStates, lib.GuideW_instance_states, "state")
        self._y = GuideWOutputs.from_address(lib.GuideW_instance_outputs(handle))
        self._out = _Out()

    @property
    def closed(self):
        return not self._finalizer.alive

    def _check_open(self):
        if not self._finalizer.alive:
            raise ValueError("the GuideW instance is closed")

    @property
    def handle(self):
        """The GuideWInstance* as an integer."""
        self._check_open()
        return self._handle

    def close(self):
        if self._in_fleet and self._finalizer.alive:
            raise ValueError("this instance belongs to a Fleet; close the Fleet")
        self._finalizer()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def initialize(self):
        """Clears inputs, outputs, states and error status; keeps params."""
        self._lib.GuideW_instance_initialize(self.handle)

    def step(self, inputs=None):
        """One step; returns the outputs.

        ``inputs``: None (step on the inputs held), a mapping of some fields
        by name (the others keep their values), or 19 values in order.
        """
        handle = self.handle
        if inputs is None:
            row = None
        elif isinstance(inputs, collections.abc.Mapping):
            self.inputs.update(inputs)
            row = None
        else:
            row = ctypes.byref(_input_row(inputs))
        self._lib.GuideW_instance_one_step(handle, row, self._out)
        return Outputs(*self._out)

    @property
    def outputs(self):
        self._check_open()
        return Outputs(*_Out.from_buffer_copy(self._y))

    @property
    def error_status(self):
        """None, or the text of the error ("Overrun")."""
        status = self._lib.GuideW_instance_error_status(self.handle)
        return None if status is None else status.decode()

    def __repr__(self):
        state = "closed" if self.closed else hex(self._handle)
        return "<guidew.Instance %s>" % state


# ---- batches -------------------------------------------------------------

_DOUBLE_FORMATS = {"d", "@d", "=d", "<d" if sys.byteorder == "little" else ">d"}
_BYTE_FORMATS = {"B", "b", "c"}


def _as_doubles(name, obj, rows, width, writable):
    """A ctypes double array over obj's memory (a copy for read-only or
    strided inputs) after checking format and shape."""
    try:
        view = memoryview(obj)
    except TypeError:
        raise TypeError("%s must be a buffer of float64 (array('d'), a numpy "
                        "array, a ctypes array, ...), not %s"
                        % (name, type(obj).__name__)) from None
    count = rows * width
    if view.format in _BYTE_FORMATS and view.itemsize == 1:
        if view.nbytes != count * 8:
            raise ValueError("%s: expected %d bytes (%d rows of %d doubles), got %d"
                             % (name, count * 8, rows, width, view.nbytes))
    elif view.format not in _DOUBLE_FORMATS:
        raise ValueError("%s must hold native float64 values (format 'd'), "
                         "got format %r" % (name, view.format))
    elif not ((view.ndim == 1 and view.shape[0] == count)
              or (view.ndim == 2 and view.shape == (rows, width))):
        raise ValueError("%s: expected %d doubles (%d rows of %d) or shape "
                         "(%d, %d), got shape %s"
                         % (name, count, rows, width, rows, width, view.shape))
    kind = ctypes.c_double * count
    if writable:
        if view.readonly or not view.c_contiguous:
            raise ValueError("%s must be a writable C-contiguous buffer" % name)
        return kind.from_buffer(view)
    if not view.readonly and view.c_contiguous:
        return kind.from_buffer(view)
    return kind.from_buffer_copy(view if view.c_contiguous else view.tobytes())


def _new_outputs(rows, like):
    numpy = sys.modules.get("numpy")
    if numpy is not None and isinstance(like, numpy.ndarray):
        shape = (rows, OUTPUT_COUNT) if like.ndim == 2 else (rows * OUTPUT_COUNT,)
        return numpy.empty(shape)
    return array.array("d", bytes(8 * rows * OUTPUT_COUNT))


def _threads(threads):
    if not isinstance(threads, int) or threads < 1:
        raise ValueError("threads must be a positive integer, got %r" % (threads,))
    return threads


def _run_batch(lib, handles, rows, inputs, outputs, threads):
    threads = _threads(threads)
    src = _as_doubles("inputs", inputs, rows, INPUT_COUNT, writable=False)
    if outputs is None:
        outputs = _new_outputs(rows, inputs)
    dst = _as_doubles("outputs", outputs, rows, OUTPUT_COUNT, writable=True)
    if rows and lib.GuideW_step_batch(handles, rows, src, dst, threads) != 0:
        raise GuideWError("GuideW_step_batch refused the batch")
    return outputs


def step_batch(instances, inputs, outputs=None, threads=None):
    """Steps N distinct instances at once.

    ``inputs``: any buffer of N*19 float64 (flat, or shaped (N, 19)); row i
    goes to instances[i]. ``outputs``: a writable buffer of N*4 float64 (or
    (N, 4)) to fill, or None for a new one (a numpy array when the inputs
    are one, else array('d')). Returns the outputs. Contiguous writable
    buffers are used in place; read-only or strided inputs are copied once.
    ``threads``: how many threads share the rows (default 1, or the
    Fleet's own setting); the results do not depend on it.
    ``instances`` may be a Fleet, which keeps its pointer array ready.
    """
    if isinstance(instances, Fleet):
        if outputs is None:
            outputs = _new_outputs(len(instances), inputs)
        return instances.step(inputs, outputs, threads)
    instances = list(instances)
    handles = [inst.handle for inst in instances]
    if len(set(handles)) != len(handles):
        raise ValueError("an instance is listed more than once in the batch")
    lib = instances[0]._lib if instances else None
    threads = 1 if threads is None else threads
    array_type = ctypes.c_void_p * len(handles)
    return _run_batch(lib, array_type(*handles), len(handles), inputs, outputs, threads)


class Fleet:
    """N instances stepped together, one library call per period.

    Fill ``fleet.inputs`` (a (N, 19) memoryview of the fleet's own buffer;
    ``numpy.asarray(fleet.inputs)`` views it without copying) or give
    ``step`` another buffer; ``fleet.outputs`` is the (N, 4) result of the
    last step on the fleet's own buffers.
    """

    def __init__(self, count, library=None, threads=1):
        if not isinstance(count, int) or count < 1:
            raise ValueError("a Fleet needs a positive number of instances, got %r"
                             % (count,))
        self._lib = lib = _library(library)
        self.threads = _threads(threads)
        self._instances = []
        try:
            for _ in range(count):
                inst = Instance(lib)
                inst._in_fleet = True
                self._instances.append(inst)
        except BaseException:
            self._release()
            raise
        self._handles = (ctypes.c_void_p * count)(*[i._handle for i in self._instances])
        self._in = (ctypes.c_double * (count * INPUT_COUNT))()
        self._out = (ctypes.c_double * (count * OUTPUT_COUNT))()
        self.inputs = memoryview(self._in).cast("B").cast("d", (count, INPUT_COUNT))
        self.outputs = memoryview(self._out).cast("B").cast("d", (count, OUTPUT_COUNT))
        self._batch = lib.GuideW_step_batch

    def _release(self):
        for inst in self._instances:
            inst._finalizer()
        self._instances = []

    def close(self):
        self._release()

    @property
    def closed(self):
        return not self._instances

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __len__(self):
        return len(self._instances)

    def __getitem__(self, index):
        return self._instances[index]

    def __iter__(self):
        return iter(self._instances)

    def initialize(self):
        for inst in self._instances:
            inst.initialize()

    def set_inputs(self, row, values):
        """Row ``row`` of the fleet's input buffer: a mapping of fields by
        name (others keep their values) or 19 values in order."""
        self._check_open()
        if not -len(self) <= row < len(self):
            raise IndexError("row %d of a fleet of %d" % (row, len(self)))
        start = (row % len(self)) * INPUT_COUNT
        current = GuideWInputs.from_buffer(self._in, start * 8)
        if isinstance(values, collections.abc.Mapping):
            Record(current, self, "input").update(values)
        else:
            ctypes.memmove(ctypes.addressof(current), _input_row(values), 8 * INPUT_COUNT)

    def output(self, row):
        """Outputs of row ``row`` from the last step on the fleet's buffers."""
        self._check_open()
        if not -len(self) <= row < len(self):
            raise IndexError("row %d of a fleet of %d" % (row, len(self)))
        start = (row % len(self)) * OUTPUT_COUNT
        return Outputs(*self._out[start:start + OUTPUT_COUNT])

    def _check_open(self):
        if not self._instances:
            raise ValueError("the Fleet is closed")

    def step(self, inputs=None, outputs=None, threads=None):
        """One step of every instance. Without arguments: the fleet's own
        buffers and a single library call; returns ``fleet.outputs``."""
        self._check_open()
        threads = self.threads if threads is None else _threads(threads)
        if inputs is None and outputs is None:
            if self._batch(self._handles, len(self._instances), self._in, self._out,
                           threads) != 0:
                raise GuideWError("GuideW_step_batch refused the batch")
            return self.outputs
        if inputs is None:
            inputs = self._in
        if outputs is None:
            outputs = self.outputs
        return _run_batch(self._lib, self._handles, len(self._instances), inputs,
                          outputs, threads)
