"""The model's records as ctypes structures, and a by-name view on them."""

from __future__ import annotations

import collections.abc
import ctypes
import difflib
import numbers
import operator
from typing import (
    Any,
    Dict,
    FrozenSet,
    Iterable,
    Iterator,
    List,
    Literal,
    Mapping,
    NamedTuple,
    Protocol,
    Sequence,
    Tuple,
    Type,
    TypeVar,
    Union,
    cast,
    get_args,
    overload,
)

from ._errors import GuideWError
from ._fields import INPUT_FIELDS, OUTPUT_FIELDS, PARAM_LAYOUT, RECORD_SIZES, STATE_FIELDS

_CTYPES: Dict[str, Any] = {"d": ctypes.c_double, "I": ctypes.c_uint32}
_PARAM_LAYOUT = tuple(
    (name, _CTYPES[kind] * length if length else _CTYPES[kind])
    for name, kind, length, _offset in PARAM_LAYOUT
)
PARAM_FIELDS: Tuple[str, ...] = tuple(name for name, _ in _PARAM_LAYOUT)

INPUT_COUNT = len(INPUT_FIELDS)
OUTPUT_COUNT = len(OUTPUT_FIELDS)
UINT32_MAX = 2**32 - 1

# A value written to a field: a number, or a sequence of numbers for an
# array field (thr_table, thr_alt_bp, ...).
FieldValue = Union[float, Sequence[float]]


class GuideWInputs(ctypes.Structure):
    """The 19 inputs of one step, laid out as the library's GuideWInputs."""

    _fields_ = [(name, ctypes.c_double) for name in INPUT_FIELDS]


class GuideWOutputs(ctypes.Structure):
    """The 4 commands of one step, laid out as the library's GuideWOutputs."""

    _fields_ = [(name, ctypes.c_double) for name in OUTPUT_FIELDS]


class GuideWParams(ctypes.Structure):
    """The tunable parameters, laid out as the library's GuideWParams."""

    _fields_ = list(_PARAM_LAYOUT)


class GuideWStates(ctypes.Structure):
    """The 16 states kept from step to step, laid out as GuideWStates."""

    _fields_ = [(name, ctypes.c_double) for name in STATE_FIELDS]


class GuideWModel(ctypes.Structure):
    """The model's error status, laid out as the library's GuideWModel."""

    _fields_ = [("error_status", ctypes.c_char_p)]


# The library lays its records out exactly so; a mismatch here would make
# every read and write land on the wrong field.
for _struct, _size in (
    (GuideWInputs, RECORD_SIZES["inputs"]),
    (GuideWOutputs, RECORD_SIZES["outputs"]),
    (GuideWParams, RECORD_SIZES["params"]),
    (GuideWStates, RECORD_SIZES["states"]),
    (GuideWModel, RECORD_SIZES["model"]),
):
    if ctypes.sizeof(_struct) != _size:
        raise ImportError(
            "guidew: %s is %d bytes here, the library's is %d"
            % (_struct.__name__, ctypes.sizeof(_struct), _size)
        )
del _struct, _size


class Outputs(NamedTuple):
    """The four commands of one step."""

    lat_cmd: float
    nz_cmd: float
    throttle_cmd: float
    aux_out: float


if Outputs._fields != OUTPUT_FIELDS:
    raise ImportError(
        "guidew: Outputs names %s, the library's outputs are %s" % (Outputs._fields, OUTPUT_FIELDS)
    )


class FieldNameError(GuideWError, KeyError):
    """An unknown record field name; the message lists the valid ones."""

    __module__ = "guidew"

    def __str__(self) -> str:
        return str(self.args[0])


def unknown_field(kind: str, name: object, valid: Sequence[str]) -> FieldNameError:
    close = difflib.get_close_matches(str(name), valid, n=1)
    hint = " (did you mean %r?)" % close[0] if close else ""
    return FieldNameError(
        "unknown %s field %r%s; valid fields: %s" % (kind, name, hint, ", ".join(valid))
    )


def check_length(what: str, values: Any, expected: int) -> None:
    """``values`` holds ``expected`` values in a defined order; TypeError or
    ValueError naming ``what`` otherwise.

    A set (or a mapping, whose values would be taken by key) has no order
    its values could be matched to fields by, so it is refused rather than
    read in whatever order it happens to iterate.
    """
    if isinstance(values, (collections.abc.Set, collections.abc.Mapping)):
        raise TypeError(
            "%s: a %s has no order to match values to fields by; give them as a "
            "list, tuple or array" % (what, type(values).__name__)
        )
    try:
        got = len(values)
    except TypeError:
        raise TypeError(
            "%s: expected %d values, got %s" % (what, expected, type(values).__name__)
        ) from None
    if got != expected:
        raise ValueError("%s: expected %d values, got %d" % (what, expected, got))


def as_double(what: str, value: object) -> float:
    """A value for a double field; TypeError naming ``what`` otherwise."""
    if isinstance(value, numbers.Real):
        try:
            return float(value)
        except OverflowError:
            raise ValueError(
                "%s: %s is beyond the range of a float64 (about 1.8e308)" % (what, _short(value))
            ) from None
    raise TypeError("%s: expected a number, got %r (%s)" % (what, value, type(value).__name__))


def _short(value: object) -> str:
    """A value for a message: a huge integer by its size, not its digits."""
    if isinstance(value, int) and value.bit_length() > 100:
        return "an integer of about %d digits" % int(value.bit_length() * 0.30103 + 1)
    return repr(value)


def as_uint32(what: str, value: object) -> int:
    """A value for a uint32 field: a whole number from 0 to 4294967295.

    ctypes would store -1 as 4294967295 and 2**40+3 as 3 without a word.
    """
    if isinstance(value, numbers.Integral):
        whole = operator.index(value)
    elif isinstance(value, numbers.Real) and float(value).is_integer():
        whole = int(value)
    elif isinstance(value, numbers.Real):
        raise ValueError(
            "%s must be a whole number from 0 to %d, got %r" % (what, UINT32_MAX, value)
        )
    else:
        raise TypeError(
            "%s: expected a whole number, got %r (%s)" % (what, value, type(value).__name__)
        )
    if not 0 <= whole <= UINT32_MAX:
        raise ValueError("%s must be from 0 to %d, got %d" % (what, UINT32_MAX, whole))
    return whole


# One step's 19 inputs as a plain row of doubles.
InputRow = ctypes.c_double * INPUT_COUNT


def name_bad_value(what: str, values: Sequence[Any]) -> None:
    """Raises TypeError naming the first of 19 inputs that is not a number."""
    for name, value in zip(INPUT_FIELDS, values):
        as_double("%s field %s" % (what, name), value)


def input_row(values: Any, what: str = "input") -> Any:
    """19 inputs as something the library reads: a record or a ctypes row."""
    if isinstance(values, (GuideWInputs, InputRow)):
        return values
    check_length("inputs (%s ... %s)" % (INPUT_FIELDS[0], INPUT_FIELDS[-1]), values, INPUT_COUNT)
    try:
        return InputRow(*values)
    except (TypeError, OverflowError):
        name_bad_value(what, values)
        raise


class Owner(Protocol):
    """What holds a record's memory: raises once that memory is gone."""

    def check_open(self) -> None:
        ...


class ArrayField(collections.abc.Sequence):  # type: ignore[type-arg]
    """A live view of an array field (thr_table, ...) of an open record.

    Elements are read and written in place: ``params["thr_table"][3] = 0.5``.
    """

    __slots__ = ("_array", "_owner", "_what", "_convert")

    def __init__(self, array: Any, owner: Owner, what: str, integer: bool) -> None:
        self._array = array
        self._owner = owner
        self._what = what
        self._convert = as_uint32 if integer else as_double

    def __len__(self) -> int:
        return len(self._array)

    @overload
    def __getitem__(self, index: int) -> float:
        ...

    @overload
    def __getitem__(self, index: slice) -> List[float]:
        ...

    def __getitem__(self, index: Union[int, slice]) -> Union[float, List[float]]:
        self._owner.check_open()
        return self._array[index]  # type: ignore[no-any-return]

    @overload
    def __setitem__(self, index: int, value: float) -> None:
        ...

    @overload
    def __setitem__(self, index: slice, value: Sequence[float]) -> None:
        ...

    def __setitem__(self, index: Union[int, slice], value: Any) -> None:
        self._owner.check_open()
        if isinstance(index, slice):
            positions = range(*index.indices(len(self)))
            check_length("%s[%s]" % (self._what, index), value, len(positions))
            checked = [
                self._convert("%s[%d]" % (self._what, p), v) for p, v in zip(positions, value)
            ]
            for p, v in zip(positions, checked):
                self._array[p] = v
            return
        position = operator.index(index)
        if not -len(self) <= position < len(self):
            raise IndexError("%s has %d elements, no index %d" % (self._what, len(self), position))
        self._array[position] = self._convert("%s[%d]" % (self._what, position % len(self)), value)

    def __repr__(self) -> str:
        return repr(list(self))


class _Layout:
    """What a Record needs to know of one structure type, worked out once."""

    __slots__ = ("names", "arrays", "integers")

    def __init__(self, struct_type: Type[ctypes.Structure]) -> None:
        fields: List[Tuple[str, Any]] = list(struct_type._fields_)  # type: ignore[arg-type]
        self.names: Tuple[str, ...] = tuple(name for name, _ in fields)
        self.arrays: FrozenSet[str] = frozenset(
            name for name, ctype in fields if issubclass(ctype, ctypes.Array)
        )
        self.integers: FrozenSet[str] = frozenset(
            name for name, ctype in fields if getattr(ctype, "_type_", ctype) is ctypes.c_uint32
        )


_LAYOUTS: Dict[type, _Layout] = {}


def _layout(struct_type: Type[ctypes.Structure]) -> _Layout:
    layout = _LAYOUTS.get(struct_type)
    if layout is None:
        layout = _LAYOUTS[struct_type] = _Layout(struct_type)
    return layout


_Value = TypeVar("_Value")


class Record(Mapping[str, _Value]):
    """Fields of one model record by name, read and written in place.

    ``rec["azim_cmd"]``, ``rec["azim_cmd"] = 30``, ``rec.update(mode=1)``;
    array fields read as live sequences (``rec["thr_table"][3] = 0.5``) and
    are assigned whole from a sequence of the right length. Every value is
    checked before it is stored: a double field takes a real number, a
    uint32 field (``thr_max_index``) a whole number from 0 to 4294967295;
    anything else raises TypeError or ValueError naming the field.
    """

    __slots__ = ("_struct", "_owner", "_kind", "_layout")

    def __init__(self, struct: ctypes.Structure, owner: Owner, kind: str) -> None:
        self._struct = struct
        self._owner = owner
        self._kind = kind
        self._layout = _layout(type(struct))

    def _field(self, name: str) -> str:
        if name not in self._layout.names:
            raise unknown_field(self._kind, name, self._layout.names)
        self._owner.check_open()
        return name

    def __getitem__(self, name: str) -> _Value:
        """The field's value: a float, an int for a uint32 field, or an
        ArrayField for an array field."""
        value = getattr(self._struct, self._field(name))
        if name in self._layout.arrays:
            value = ArrayField(
                value,
                self._owner,
                "%s field %s" % (self._kind, name),
                name in self._layout.integers,
            )
        return cast(_Value, value)

    def _checked(self, name: str, value: object) -> Any:
        """``value`` converted for field ``name``, or an error naming it."""
        what = "%s field %s" % (self._kind, name)
        convert = as_uint32 if name in self._layout.integers else as_double
        if name not in self._layout.arrays:
            return convert(what, value)
        check_length(what, value, len(getattr(self._struct, name)))
        return [
            convert("%s[%d]" % (what, i), v) for i, v in enumerate(cast(Sequence[object], value))
        ]

    def _store(self, name: str, value: Any) -> None:
        if name in self._layout.arrays:
            getattr(self._struct, name)[:] = value
        else:
            setattr(self._struct, name, value)

    def __setitem__(self, name: str, value: FieldValue) -> None:
        """Writes one field after checking the value (an array field whole)."""
        name = self._field(name)
        self._store(name, self._checked(name, value))

    def __iter__(self) -> Iterator[str]:
        return iter(self._layout.names)

    def __len__(self) -> int:
        return len(self._layout.names)

    def __contains__(self, name: object) -> bool:
        return name in self._layout.names

    def update(
        self,
        other: Union[Mapping[str, FieldValue], Iterable[Tuple[str, FieldValue]]] = (),
        **fields: FieldValue,
    ) -> None:
        """Sets several fields: every name and value is checked before any
        is written, so a bad one leaves the record as it was."""
        items = list(other.items() if isinstance(other, collections.abc.Mapping) else other) + list(
            fields.items()
        )
        checked = [(name, self._checked(self._field(name), value)) for name, value in items]
        for name, value in checked:
            self._store(name, value)

    def to_dict(self) -> Dict[str, Any]:
        """A plain copy: numbers, and lists for array fields."""
        return {
            name: list(cast(Iterable[float], v)) if name in self._layout.arrays else v
            for name, v in self.items()
        }

    def __repr__(self) -> str:
        return "<%s record %s>" % (self._kind, self.to_dict())


# The parameters that are arrays, by name, so that a typed host reads
# params["thr_table"] as an array and params["roll_kp"] as a float (checked
# against the field list below).
ArrayParamName = Literal["thr_table", "thr_alt_bp", "thr_spd_bp", "thr_max_index"]
ParamValue = Union[float, ArrayField]

if set(get_args(ArrayParamName)) != {n for n, _, length, _ in PARAM_LAYOUT if length}:
    raise ImportError("guidew: the typed parameter arrays differ from the library's field list")


class ParamRecord(Record[ParamValue]):
    """The parameter record: doubles, and the throttle table, its
    breakpoints and their highest indices (uint32) as live arrays."""

    __slots__ = ()

    @overload
    def __getitem__(self, name: ArrayParamName) -> ArrayField:  # type: ignore[misc]
        ...

    @overload
    def __getitem__(self, name: str) -> float:
        ...

    def __getitem__(self, name: str) -> ParamValue:
        """A parameter's value: a float, or a live ArrayField for an array."""
        return super().__getitem__(name)
