"""The model's records as ctypes structures, and a by-name view on them."""

import collections
import collections.abc
import ctypes
import difflib

from ._fields import INPUT_FIELDS, OUTPUT_FIELDS, PARAM_LAYOUT, RECORD_SIZES, STATE_FIELDS

_CTYPES = {"d": ctypes.c_double, "I": ctypes.c_uint32}
_PARAM_LAYOUT = tuple((name, _CTYPES[kind] * length if length else _CTYPES[kind])
                      for name, kind, length, _offset in PARAM_LAYOUT)
PARAM_FIELDS = tuple(name for name, _ in _PARAM_LAYOUT)

INPUT_COUNT = len(INPUT_FIELDS)
OUTPUT_COUNT = len(OUTPUT_FIELDS)


class GuideWInputs(ctypes.Structure):
    _fields_ = [(name, ctypes.c_double) for name in INPUT_FIELDS]


class GuideWOutputs(ctypes.Structure):
    _fields_ = [(name, ctypes.c_double) for name in OUTPUT_FIELDS]


class GuideWParams(ctypes.Structure):
    _fields_ = list(_PARAM_LAYOUT)


class GuideWStates(ctypes.Structure):
    _fields_ = [(name, ctypes.c_double) for name in STATE_FIELDS]


class GuideWModel(ctypes.Structure):
    _fields_ = [("error_status", ctypes.c_char_p)]


# The library lays its records out exactly so; a mismatch here would make
# every read and write land on the wrong field.
for _struct, _size in ((GuideWInputs, RECORD_SIZES["inputs"]),
                       (GuideWOutputs, RECORD_SIZES["outputs"]),
                       (GuideWParams, RECORD_SIZES["params"]),
                       (GuideWStates, RECORD_SIZES["states"]),
                       (GuideWModel, RECORD_SIZES["model"])):
    if ctypes.sizeof(_struct) != _size:
        raise ImportError("guidew: %s is %d bytes here, the library's is %d"
                          % (_struct.__name__, ctypes.sizeof(_struct), _size))
del _struct, _size

Outputs = collections.namedtuple("Outputs", OUTPUT_FIELDS)
Outputs.__doc__ = "The four commands of one step."


class FieldNameError(KeyError):
    """An unknown record field name; the message lists the valid ones."""

    __module__ = "guidew"

    def __str__(self):
        return self.args[0]


def unknown_field(kind, name, valid):
    close = difflib.get_close_matches(str(name), valid, n=1)
    hint = " (did you mean %r?)" % close[0] if close else ""
    return FieldNameError("unknown %s field %r%s; valid fields: %s"
                          % (kind, name, hint, ", ".join(valid)))


def check_length(what, values, expected):
    got = len(values)
    if got != expected:
        raise ValueError("%s: expected %d values, got %d" % (what, expected, got))


class ArrayField(collections.abc.Sequence):
    """A live view of an array field (thr_table, ...) of an open record."""

    __slots__ = ("_array", "_owner")

    def __init__(self, array, owner):
        self._array = array
        self._owner = owner

    def __len__(self):
        return len(self._array)

    def __getitem__(self, index):
        self._owner._check_open()
        return self._array[index]

    def __setitem__(self, index, value):
        self._owner._check_open()
        self._array[index] = value

    def __repr__(self):
        return repr(list(self))


class Record(collections.abc.Mapping):
    """Fields of one model record by name, read and written in place.

    ``rec["azim_cmd"]``, ``rec["azim_cmd"] = 30``, ``rec.update(mode=1)``;
    array fields read as live sequences (``rec["thr_table"][3] = 0.5``) and
    are assigned whole from a sequence of the right length.
    """

    __slots__ = ("_struct", "_owner", "_kind", "_names", "_arrays")

    def __init__(self, struct, owner, kind):
        self._struct = struct
        self._owner = owner
        self._kind = kind
        self._names = tuple(name for name, _ in struct._fields_)
        self._arrays = {name for name, ctype in struct._fields_
                        if issubclass(ctype, ctypes.Array)}

    def _field(self, name):
        if name not in self._names:
            raise unknown_field(self._kind, name, self._names)
        self._owner._check_open()
        return name

    def __getitem__(self, name):
        value = getattr(self._struct, self._field(name))
        return ArrayField(value, self._owner) if name in self._arrays else value

    def __setitem__(self, name, value):
        name = self._field(name)
        if name in self._arrays:
            array = getattr(self._struct, name)
            check_length("%s field %s" % (self._kind, name), value, len(array))
            array[:] = list(value)
        else:
            setattr(self._struct, name, value)

    def __iter__(self):
        return iter(self._names)

    def __len__(self):
        return len(self._names)

    def __contains__(self, name):
        return name in self._names

    def update(self, other=(), **fields):
        """Sets several fields; all names are checked before any is written."""
        items = list(other.items() if isinstance(other, collections.abc.Mapping)
                     else other) + list(fields.items())
        for name, _ in items:
            self._field(name)
        for name, value in items:
            self[name] = value

    def to_dict(self):
        """A plain copy: numbers, and lists for array fields."""
        return {name: list(v) if name in self._arrays else v
                for name, v in self.items()}

    def __repr__(self):
        return "<%s record %s>" % (self._kind, self.to_dict())
