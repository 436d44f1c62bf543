"""Stepping many instances at once: step_batch, Fleet and its OutputRows."""

from __future__ import annotations

import array
import collections.abc
import ctypes
import numbers
import os
import sys
from typing import (
    TYPE_CHECKING,
    Any,
    Dict,
    Iterator,
    List,
    Mapping,
    Optional,
    Protocol,
    Sequence,
    Tuple,
    TypeVar,
    Union,
    cast,
    overload,
)

from ._fields import INPUT_FIELDS, OUTPUT_FIELDS
from ._errors import GuideWError
from ._library import Library, LibraryArg, library_of
from ._lifetime import FOR_PROCESS, Lifetime
from ._model import Instance, fleet_member
from ._params_file import ParamsSource, apply_params, assigned_bytes, assignments_of
from ._records import (
    INPUT_COUNT,
    unknown_field,
    OUTPUT_COUNT,
    GuideWInputs,
    GuideWParams,
    Outputs,
    ParamRecord,
    Record,
    as_double,
    check_length,
    input_row,
    name_bad_value,
)

if TYPE_CHECKING:
    import numpy
    import numpy.typing

_DOUBLE_FORMATS = {"d", "@d", "=d", "<d" if sys.byteorder == "little" else ">d"}
_BYTE_FORMATS = {"B", "b", "c"}
# A buffer a caller hands in to be filled, and gets back.
_Buffer = TypeVar("_Buffer")


def max_threads() -> int:
    """The most threads a batch step runs on: the processors this process
    may use. A larger ``threads`` is lowered to it; more threads than
    processors only add the cost of starting them (10,000 asked for ran
    2.5 times slower), and the results do not depend on the count."""
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except AttributeError:  # not Linux
        return max(1, os.cpu_count() or 1)


def _threads(threads: object) -> int:
    if isinstance(threads, bool) or not isinstance(threads, int) or threads < 1:
        raise ValueError("threads must be a positive integer, got %r" % (threads,))
    return min(threads, max_threads())


def _is_row(item: object) -> bool:
    """A row of numbers (a list, tuple, numpy row, array('d'), ...) rather
    than one number of a flat sequence."""
    return not isinstance(item, (numbers.Real, str, bytes)) and hasattr(item, "__len__")


def _rows_of_numbers(name: str, obj: Any, rows: int, width: int) -> array.array[float]:
    """A list of rows (as Instance.step takes one), or a flat sequence of
    numbers, copied into float64; errors name the row and field."""
    if not isinstance(obj, collections.abc.Sequence) or isinstance(obj, (str, bytes)):
        raise TypeError(
            "%s must be a buffer of float64 (array('d'), a numpy "
            "array, a ctypes array, ...) or a list of rows, not %s" % (name, type(obj).__name__)
        )
    flat: array.array[float] = array.array("d")
    if len(obj) and not _is_row(obj[0]):
        check_length(name, obj, rows * width)
        try:
            flat.extend(obj)
        except (TypeError, OverflowError):
            for i, value in enumerate(obj):
                as_double("%s row %d field %s" % (name, i // width, INPUT_FIELDS[i % width]), value)
            raise
        return flat
    check_length("%s (one row per instance)" % name, obj, rows)
    for i, row in enumerate(obj):
        check_length("%s row %d" % (name, i), row, width)
        try:
            flat.extend(row)
        except (TypeError, OverflowError):
            name_bad_value("%s row %d" % (name, i), row)
            raise
    return flat


def _as_doubles(name: str, obj: Any, rows: int, width: int, writable: bool) -> Any:
    """A ctypes double array over obj's memory (a copy for read-only or
    strided inputs, and for lists of rows) after checking format and shape."""
    try:
        view = memoryview(obj)
    except TypeError:
        if writable:
            raise TypeError(
                "%s must be a writable buffer of float64, not %s" % (name, type(obj).__name__)
            ) from None
        view = memoryview(_rows_of_numbers(name, obj, rows, width))
    count = rows * width
    if view.format in _BYTE_FORMATS and view.itemsize == 1:
        if view.nbytes != count * 8:
            raise ValueError(
                "%s: expected %d bytes (%d rows of %d doubles), got %d"
                % (name, count * 8, rows, width, view.nbytes)
            )
    elif view.format not in _DOUBLE_FORMATS:
        raise ValueError(
            "%s must hold native float64 values (format 'd'), "
            "got format %r" % (name, view.format)
        )
    elif not (
        (view.ndim == 1 and view.shape is not None and view.shape[0] == count)
        or (view.ndim == 2 and view.shape == (rows, width))
    ):
        raise ValueError(
            "%s: expected %d doubles (%d rows of %d) or shape "
            "(%d, %d), got shape %s" % (name, count, rows, width, rows, width, view.shape)
        )
    kind = ctypes.c_double * count
    if writable:
        if view.readonly or not view.c_contiguous:
            raise ValueError("%s must be a writable C-contiguous buffer" % name)
        return kind.from_buffer(view)
    if not view.readonly and view.c_contiguous:
        return kind.from_buffer(view)
    return kind.from_buffer_copy(view if view.c_contiguous else view.tobytes())


def _new_outputs(rows: int, like: Any) -> Any:
    numpy = sys.modules.get("numpy")
    if numpy is not None and isinstance(like, numpy.ndarray):
        shape = (rows, OUTPUT_COUNT) if like.ndim == 2 else (rows * OUTPUT_COUNT,)
        return numpy.empty(shape)
    return array.array("d", bytes(8 * rows * OUTPUT_COUNT))


def _run_batch(
    lib: Optional[Library], handles: Any, rows: int, inputs: Any, outputs: Any, threads: int
) -> Any:
    src = _as_doubles("inputs", inputs, rows, INPUT_COUNT, writable=False)
    if outputs is None:
        outputs = _new_outputs(rows, inputs)
    dst = _as_doubles("outputs", outputs, rows, OUTPUT_COUNT, writable=True)
    if rows and lib is not None and lib.GuideW_step_batch(handles, rows, src, dst, threads) != 0:
        raise GuideWError("GuideW_step_batch refused the batch")
    return outputs


def _batch_handles(instances: Sequence[object]) -> Tuple[Optional[Library], List[int]]:
    handles = []
    for position, inst in enumerate(instances):
        if not isinstance(inst, Instance):
            raise TypeError(
                "instances[%d] is %s, not a guidew.Instance" % (position, type(inst).__name__)
            )
        handles.append(inst.handle)
    if len(set(handles)) != len(handles):
        raise ValueError("an instance is listed more than once in the batch")
    first = instances[0] if instances else None
    return (first.library if isinstance(first, Instance) else None), handles


@overload
def step_batch(  # type: ignore[misc]
    instances: Union[Fleet, Sequence[Instance]],
    inputs: object,
    outputs: _Buffer,
    threads: Optional[int] = None,
) -> _Buffer:
    ...


@overload
def step_batch(  # type: ignore[misc]
    instances: Union[Fleet, Sequence[Instance]],
    inputs: "numpy.ndarray[Any, Any]",
    outputs: None = None,
    threads: Optional[int] = None,
) -> "numpy.typing.NDArray[numpy.float64]":
    ...


@overload
def step_batch(
    instances: Union[Fleet, Sequence[Instance]],
    inputs: object,
    outputs: None = None,
    threads: Optional[int] = None,
) -> "array.array[float]":
    ...


def step_batch(
    instances: Union[Fleet, Sequence[Instance]],
    inputs: object,
    outputs: object = None,
    threads: Optional[int] = None,
) -> Any:
    """Steps N distinct instances at once; returns the outputs.

    ``inputs``: any buffer of N*19 float64 (flat, or shaped (N, 19)), or a
    list of N rows of 19 numbers as Instance.step takes them; row i goes to
    instances[i]. ``outputs``: a writable buffer of N*4 float64 (or (N, 4))
    to fill, or None for a new one (a numpy array when the inputs are one,
    else a flat array('d')). Contiguous writable buffers are used in place;
    read-only or strided inputs and lists are copied once. ``threads``: how
    many threads share the rows (default 1, or the Fleet's own setting; at
    most max_threads()); the results do not depend on it.
    ``instances`` may be a Fleet, which keeps its pointer array ready.
    """
    if isinstance(instances, Fleet):
        if outputs is None:
            outputs = _new_outputs(len(instances), inputs)
        return instances.step(inputs, outputs, threads)
    listed = list(instances)
    lib, handles = _batch_handles(listed)
    array_type = ctypes.c_void_p * len(handles)
    return _run_batch(
        lib,
        array_type(*handles),
        len(handles),
        inputs,
        outputs,
        _threads(1 if threads is None else threads),
    )


class OutputRows(collections.abc.Sequence):  # type: ignore[type-arg]
    """The commands of N aircraft from one Fleet step: a copy, which later
    steps leave as it is (``history.append(fleet.step())`` keeps them all).

    ``rows[i]`` is aircraft i's Outputs, ``rows[i, "nz_cmd"]`` or
    ``rows[i, 1]`` one command; ``numpy.asarray(rows)`` is an (N, 4) array
    over the same memory; ``data`` is the flat array('d'), row after row.
    """

    __slots__ = ("data",)

    def __init__(self, data: array.array[float]) -> None:
        if len(data) % OUTPUT_COUNT:
            raise ValueError("%d values are not whole rows of %d" % (len(data), OUTPUT_COUNT))
        self.data = data

    def __len__(self) -> int:
        return len(self.data) // OUTPUT_COUNT

    def _row(self, index: int) -> int:
        rows = len(self)
        if not -rows <= index < rows:
            raise IndexError("row %d of %d" % (index, rows))
        return index % rows

    @overload
    def __getitem__(self, index: int) -> Outputs:
        ...

    @overload
    def __getitem__(self, index: slice) -> List[Outputs]:
        ...

    @overload
    def __getitem__(self, index: Tuple[int, Union[int, str]]) -> float:
        ...

    def __getitem__(self, index: Union[int, slice, Tuple[int, Union[int, str]]]) -> Any:
        """Aircraft ``index``'s Outputs; ``[i, j]`` or ``[i, "nz_cmd"]`` one
        command; a slice gives a list of Outputs."""
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(len(self)))]
        if isinstance(index, tuple):
            row, column = index
            if isinstance(column, str):
                if column not in OUTPUT_FIELDS:
                    raise unknown_field("output", column, OUTPUT_FIELDS)
                col = OUTPUT_FIELDS.index(column)
            else:
                col = column
            if not -OUTPUT_COUNT <= col < OUTPUT_COUNT:
                raise IndexError("column %d of %d" % (col, OUTPUT_COUNT))
            return self.data[self._row(row) * OUTPUT_COUNT + col % OUTPUT_COUNT]
        start = self._row(index) * OUTPUT_COUNT
        return Outputs(*self.data[start : start + OUTPUT_COUNT])

    def tolist(self) -> List[List[float]]:
        """N lists of the four commands."""
        data = self.data.tolist()
        return [data[i : i + OUTPUT_COUNT] for i in range(0, len(data), OUTPUT_COUNT)]

    def tobytes(self) -> bytes:
        """The float64 values, row after row."""
        return self.data.tobytes()

    def __array__(self, dtype: Any = None) -> Any:
        import numpy

        rows = numpy.frombuffer(self.data, dtype=numpy.float64).reshape(len(self), OUTPUT_COUNT)
        return rows if dtype is None else rows.astype(dtype)

    def __eq__(self, other: object) -> bool:
        if isinstance(other, OutputRows):
            return self.data == other.data
        return NotImplemented

    __hash__ = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        return "<guidew.OutputRows of %d aircraft>" % len(self)


class DoubleRows(Protocol):
    """What a Fleet's ``inputs`` and ``outputs`` are: a (rows, columns)
    memoryview of float64 over the fleet's own buffer, here with its
    ``[row, column]`` indexing typed (``fleet.inputs[i, j] = v``);
    ``numpy.asarray`` views it without copying."""

    @property
    def shape(self) -> Optional[Tuple[int, ...]]:
        """(rows, columns): (N, 19) for inputs, (N, 4) for outputs."""

    @property
    def nbytes(self) -> int:
        """8 bytes per value."""

    def __len__(self) -> int:
        """The rows: one per aircraft."""

    def __getitem__(self, index: Tuple[int, int]) -> float:
        """``[row, column]``: one value."""

    def __setitem__(self, index: Tuple[int, int], value: float) -> None:
        """``[row, column] = value``: one value written in place."""

    def cast(self, format: str, shape: Union[List[int], Tuple[int, ...]] = ...) -> memoryview:
        """The same memory seen in another format or shape (memoryview.cast)."""

    def tolist(self) -> List[List[float]]:
        """A copy, as lists of rows."""

    def tobytes(self) -> bytes:
        """A copy of the float64 values, row after row."""


def _rows_view(buffer: Any, rows: int, columns: int) -> memoryview:
    return memoryview(buffer).cast("B").cast("d", (rows, columns))


def _destroy_all(destroy: Any, handles: Any) -> None:
    for handle in handles:
        if handle:
            destroy(handle)


class Fleet:
    """N instances stepped together, one library call per period.

    Fill ``fleet.inputs`` (a (N, 19) memoryview of the fleet's own buffer;
    ``numpy.asarray(fleet.inputs)`` views it without copying) or
    ``set_inputs``, then ``step()``: it returns the commands as OutputRows,
    a copy of this step's. ``fleet.outputs`` is the live (N, 4) view of the
    fleet's own output buffer, overwritten by every step (``output(i)``
    reads one row of it). ``fleet[i]`` is instance i (a view the fleet owns,
    made when first asked for); close the fleet to destroy them all. A
    dropped fleet is freed at once; a member or record still held keeps the
    fleet's aircraft (not its buffers) alive until it is dropped too.
    """

    def __init__(self, count: int, library: LibraryArg = None, threads: int = 1) -> None:
        if isinstance(count, bool) or not isinstance(count, int) or count < 1:
            raise ValueError("a Fleet needs a positive number of instances, got %r" % (count,))
        self._lib = lib = library_of(library)
        self.threads = threads
        # Only the C instances and an array of their pointers: a Python
        # object per aircraft is made when one is asked for.
        self._handles = handles = (ctypes.c_void_p * count)()
        # Its members and records hold this, not the Fleet: the fleet's
        # buffers go with the Fleet, the C instances with the last holder.
        self._life = Lifetime("Fleet", _destroy_all, lib.GuideW_instance_destroy, handles)
        create = lib.GuideW_instance_create
        for i in range(count):
            handle = create()
            if not handle:
                self._life.close()
                raise MemoryError(
                    "GuideW_instance_create returned NULL at instance %d of %d" % (i, count)
                )
            handles[i] = handle
        self._count = count
        self._members: Dict[int, Instance] = {}
        self._in = (ctypes.c_double * (count * INPUT_COUNT))()
        self._out = (ctypes.c_double * (count * OUTPUT_COUNT))()
        self.inputs = cast(DoubleRows, _rows_view(self._in, count, INPUT_COUNT))
        self.outputs = cast(DoubleRows, _rows_view(self._out, count, OUTPUT_COUNT))
        self._batch = lib.GuideW_step_batch

    @property
    def threads(self) -> int:
        """Threads used by step(): what was asked for, at most max_threads()."""
        return self._threads

    @threads.setter
    def threads(self, value: int) -> None:
        self._threads = _threads(value)

    def close(self) -> None:
        """Destroys every instance of the fleet."""
        self._life.close()

    @property
    def closed(self) -> bool:
        """True once the fleet is closed."""
        return self._life.closed

    def __enter__(self) -> Fleet:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __len__(self) -> int:
        return self._count

    def _member(self, index: int) -> Instance:
        if not -self._count <= index < self._count:
            raise IndexError("instance %d of a fleet of %d" % (index, self._count))
        index %= self._count
        member = self._members.get(index)
        if member is None:
            handle = self._handles[index]
            assert handle is not None
            member = self._members[index] = fleet_member(self._lib, handle, self._life)
        return member

    @overload
    def __getitem__(self, index: int) -> Instance:
        ...

    @overload
    def __getitem__(self, index: slice) -> List[Instance]:
        ...

    def __getitem__(self, index: Union[int, slice]) -> Union[Instance, List[Instance]]:
        """Instance ``index`` of the fleet (a list of them for a slice)."""
        self._check_open()
        if isinstance(index, slice):
            return [self._member(i) for i in range(*index.indices(self._count))]
        return self._member(index)

    def __iter__(self) -> Iterator[Instance]:
        for i in range(self._count):
            yield self[i]

    def initialize(self) -> None:
        """Initialises every instance (clears all but the parameters)."""
        self._check_open()
        initialize = self._lib.GuideW_instance_initialize
        for handle in self._handles:
            initialize(handle)

    def load_params(self, source: ParamsSource) -> Dict[str, float]:
        """Sets the parameters of a parameter file (or a mapping such as
        read_params returns) in every aircraft of the fleet; all are checked
        before any is written. Returns the assignments."""
        self._check_open()
        assignments = assignments_of(source)
        # Written once into a scratch record, then copied byte range by
        # byte range into each aircraft: a million aircraft take a million
        # copies, not a Python object and a check per aircraft and name.
        template = GuideWParams()
        apply_params(ParamRecord(template, FOR_PROCESS, "param"), assignments)
        ranges = assigned_bytes(assignments)
        source_address = ctypes.addressof(template)
        params_of = self._lib.GuideW_instance_params
        for handle in self._handles:
            address = params_of(handle)
            for start, length in ranges:
                ctypes.memmove(address + start, source_address + start, length)
        return assignments

    def set_inputs(self, row: int, values: Union[Mapping[str, float], Sequence[float]]) -> None:
        """Row ``row`` of the fleet's input buffer: a mapping of fields by
        name (others keep their values) or 19 values in order."""
        self._check_open()
        if not -len(self) <= row < len(self):
            raise IndexError("row %d of a fleet of %d" % (row, len(self)))
        start = (row % len(self)) * INPUT_COUNT
        current = GuideWInputs.from_buffer(self._in, start * 8)
        if isinstance(values, collections.abc.Mapping):
            Record[float](current, self._life, "input").update(values)
        else:
            ctypes.memmove(ctypes.addressof(current), input_row(values), 8 * INPUT_COUNT)

    def output(self, row: int) -> Outputs:
        """Outputs of row ``row`` from the last step on the fleet's buffers."""
        self._check_open()
        if not -len(self) <= row < len(self):
            raise IndexError("row %d of a fleet of %d" % (row, len(self)))
        start = (row % len(self)) * OUTPUT_COUNT
        return Outputs(*self._out[start : start + OUTPUT_COUNT])

    def _check_open(self) -> None:
        if self.closed:
            raise ValueError("the Fleet is closed")

    def _copy_outputs(self) -> OutputRows:
        data: array.array[float] = array.array("d")
        data.frombytes(memoryview(self._out).cast("B"))
        return OutputRows(data)

    @overload
    def step(  # type: ignore[misc]
        self, inputs: object = None, outputs: None = None, threads: Optional[int] = None
    ) -> OutputRows:
        ...

    @overload
    def step(self, inputs: object, outputs: _Buffer, threads: Optional[int] = None) -> _Buffer:
        ...

    @overload
    def step(self, *, outputs: _Buffer, threads: Optional[int] = None) -> _Buffer:
        ...

    def step(
        self, inputs: object = None, outputs: object = None, threads: Optional[int] = None
    ) -> Any:
        """One step of every instance.

        ``inputs``: None for the fleet's own buffer (``fleet.inputs``), or
        any input buffer or list of rows step_batch takes. ``outputs``: None
        for the fleet's own buffer, or a writable buffer of N*4 float64.
        Returns OutputRows (a copy of the commands) when ``outputs`` is None,
        else ``outputs``, filled. ``threads`` overrides ``fleet.threads``.
        """
        self._check_open()
        threads = self._threads if threads is None else _threads(threads)
        if inputs is None and outputs is None:
            if self._batch(self._handles, self._count, self._in, self._out, threads) != 0:
                raise GuideWError("GuideW_step_batch refused the batch")
            return self._copy_outputs()
        if outputs is None:
            _run_batch(self._lib, self._handles, self._count, inputs, self._out, threads)
            return self._copy_outputs()
        return _run_batch(
            self._lib,
            self._handles,
            self._count,
            self._in if inputs is None else inputs,
            outputs,
            threads,
        )
