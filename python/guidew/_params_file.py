"""Parameter files: the ``NAME = VALUE`` text every tool's ``--params``
reads and guide-sim's calibration writes (campaigns/f16_trim.params).

The rules are the tools' own, so that one file means the same parameters
wherever it is read, and is refused with the same message:

- one assignment a line; ``#`` starts a comment; blank lines are skipped;
  lines end at ``\\n`` (a ``\\r`` before it is dropped); a UTF-8 byte-order
  mark at the start of the file is skipped; spaces and tabs around the
  name and the value are ignored;
- a name is a scalar (``roll_kp``) or one element of an array, 0-based and
  written plainly (``thr_table[17]``: digits only, no sign, space or
  leading zero), so that each element has one name; a name set twice is
  refused;
- a value is decimal or exponent notation with an optional sign, or nan,
  inf, infinity in any case; nothing else (no hex, no ``1_0``), and a
  magnitude a double cannot hold (``1e999``, ``1e-400``) is refused rather
  than turned into inf or 0; ``thr_max_index`` takes a whole number in
  0..4294967295.

Errors are one line, ``FILE:LINE: reason``, with the offending text quoted
and its control characters and non-ASCII bytes escaped.
"""

from __future__ import annotations

import math
import numbers
import os
import re
from typing import Dict, List, Mapping, Optional, Tuple, Union, cast

from ._errors import GuideWError
from ._fields import PARAM_LAYOUT
from ._finder import PathLike
from ._records import ArrayField, ParamRecord

UINT32_MAX = 2**32 - 1
# Longest text a message quotes before cutting it with "...".
QUOTED_MAX = 40
BYTE_ORDER_MARK = "\xef\xbb\xbf"  # as the file's bytes, read one character a byte

# name: (element count or 0 for a scalar, whole numbers only)
_FIELDS: Dict[str, Tuple[int, bool]] = {
    name: (length, kind == "I") for name, kind, length, _offset in PARAM_LAYOUT
}
# name: (byte offset in the record, bytes an element)
_PLACES: Dict[str, Tuple[int, int]] = {
    name: (offset, 4 if kind == "I" else 8) for name, kind, _length, offset in PARAM_LAYOUT
}
NAME_LIST = ", ".join(
    name + ("[0..%d]" % (length - 1) if length else "") for name, (length, _) in _FIELDS.items()
)

# What a double may be written as: the strict decimal and exponent forms,
# or inf / infinity / nan (a nan may carry a payload of letters, digits and
# underscores in parentheses), each after at most one sign.
_NUMBER = re.compile(
    r"[+-]?(?:(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?"
    r"|(?i:inf|infinity)|(?i:nan)(?:\([A-Za-z0-9_]*\))?)"
)
_NONZERO_DIGITS = re.compile(r"[1-9]")
# An element's index as the tools write it: no sign, no leading zero, and
# short enough that no reader overflows on it.
_INDEX = re.compile(r"0|[1-9][0-9]{0,8}")


class ParamsFileError(GuideWError, ValueError):
    """A parameter file (or a mapping of assignments) the law cannot take;
    the message names the file and line, or the name."""

    __module__ = "guidew"


def quote(text: str) -> str:
    """text between double quotes as a message shows it: control characters
    and bytes beyond ASCII escaped, anything past QUOTED_MAX characters cut."""
    shown = "".join(_escaped(c) for c in text[:QUOTED_MAX])
    return '"%s%s"' % (shown, "..." if len(text) > QUOTED_MAX else "")


_ESCAPES = {"\r": "\\r", "\n": "\\n", "\t": "\\t", '"': '\\"', "\\": "\\\\"}


def _escaped(c: str) -> str:
    if c in _ESCAPES:
        return _ESCAPES[c]
    code = ord(c)
    if code < 0x20 or code >= 0x7F:
        # The text is read one character a byte; a character beyond one
        # byte (from a mapping's key) is shown as its UTF-8 bytes.
        return "".join("\\x%02x" % b for b in c.encode("utf-8" if code > 0xFF else "latin-1"))
    return c


def parse_number(text: str, what: str) -> float:
    """The double text holds, or ParamsFileError "WHAT: not a number" /
    "WHAT: out of range"."""
    if not _NUMBER.fullmatch(text):
        raise ParamsFileError("%s: not a number: %s" % (what, quote(text)))
    unsigned = text.lstrip("+-")
    if unsigned[:1].isalpha():  # inf, infinity or nan, whose payload says nothing here
        return float(text[: len(text) - len(unsigned)] + unsigned[:3])
    value = float(text)
    mantissa = re.split("[eE]", unsigned, maxsplit=1)[0]
    if math.isinf(value) or (value == 0.0 and _NONZERO_DIGITS.search(mantissa)):
        raise ParamsFileError("%s: out of range: %s" % (what, quote(text)))
    return value


def check_parameter(name: str, value: float) -> None:
    """Raises ParamsFileError (without a place) unless name is a parameter
    or an element of one, and value fits it."""
    base, bracket, rest = name.partition("[")
    field = _FIELDS.get(base)
    if field is None:
        raise ParamsFileError("unknown parameter %s; parameters are: %s" % (quote(name), NAME_LIST))
    length, whole = field
    if not length:
        if bracket:
            raise ParamsFileError("parameter %s is not an array" % base)
        return
    digits, close, tail = rest.partition("]")
    if not (bracket and close and not tail and _INDEX.fullmatch(digits) and int(digits) < length):
        raise ParamsFileError(
            "parameter %s needs an index in [0..%d], as in %s[0]" % (base, length - 1, base)
        )
    if whole and not (0.0 <= value <= UINT32_MAX and math.floor(value) == value):
        raise ParamsFileError("parameter %s takes a whole number in 0..%d" % (name, UINT32_MAX))


def parse_params(text: str, origin: str) -> Dict[str, float]:
    """Every assignment of a parameter file's text (one character a byte),
    in file order; origin names the file in errors ("p.params:3: ...")."""
    if text.startswith(BYTE_ORDER_MARK):
        text = text[len(BYTE_ORDER_MARK) :]
    assignments: Dict[str, float] = {}
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()  # the line break ending the last line
    for number, line in enumerate(lines, 1):
        if line.endswith("\r"):
            line = line[:-1]
        line = line.partition("#")[0].strip(" \t")
        if not line:
            continue
        where = "%s:%d" % (origin, number)
        name, value = _assignment(line, where)
        if name in assignments:
            raise ParamsFileError("%s: %s is set twice" % (where, quote(name)))
        assignments[name] = value
    return assignments


def _assignment(line: str, where: str) -> Tuple[str, float]:
    """One "NAME = VALUE" line: the value is read before the name is looked
    up, as the tools do, so one line gives the same first fault in each."""
    name, equals, text = line.partition("=")
    if not equals:
        raise ParamsFileError("%s: expected NAME=VALUE, got %s" % (where, quote(line)))
    name = name.strip(" \t")
    if not name:
        raise ParamsFileError("%s: no name before '=' in %s" % (where, quote(line)))
    value = parse_number(text.strip(" \t"), "%s: value of %s" % (where, quote(name)))
    try:
        check_parameter(name, value)
    except ParamsFileError as exc:
        raise ParamsFileError("%s: %s" % (where, exc)) from None
    return name, value


def read_params(path: PathLike, origin: Optional[str] = None) -> Dict[str, float]:
    """The assignments of a parameter file, keyed by name as written
    (``"roll_kp"``, ``"thr_table[17]"``), in file order, values as floats.

    The format and its checks are those of every tool's ``--params``: a
    file guide-run refuses raises ParamsFileError with the message it
    prints after ``guide-run:`` (``p.params:3: unknown parameter ...``).
    ``origin`` is what the messages call the file (default: path). A file
    that cannot be opened raises the OSError of open().
    """
    with open(path, "rb") as f:
        data = f.read()
    # One character a byte: names and values are ASCII, and any other byte
    # is shown escaped in a message, never misread as part of a character.
    return parse_params(data.decode("latin-1"), os.fspath(path) if origin is None else origin)


# Assignments from a parameter file or given directly: {"roll_kp": 3.0, ...}.
ParamsSource = Union[PathLike, Mapping[str, float]]


def assignments_of(source: ParamsSource) -> Dict[str, float]:
    """A parameter file's assignments (source a path), or a mapping's, each
    name and value checked by the file's rules (errors name the key)."""
    if isinstance(source, (str, os.PathLike)):
        return read_params(source)
    checked: Dict[str, float] = {}
    for name, value in source.items():
        if not isinstance(name, str):
            raise ParamsFileError("parameter names are strings, got %r" % (name,))
        if isinstance(value, bool) or not isinstance(value, numbers.Real):
            raise ParamsFileError(
                "%s: expected a number, got %r (%s)" % (quote(name), value, type(value).__name__)
            )
        try:
            number = float(value)
            check_parameter(name, number)
        except (ParamsFileError, OverflowError) as exc:
            raise ParamsFileError("%s: %s" % (quote(name), exc)) from None
        checked[name] = number
    return checked


def split_name(name: str) -> Tuple[str, int]:
    """("thr_table", 17) for "thr_table[17]"; (name, -1) for a scalar. The
    name must have passed check_parameter."""
    base, bracket, rest = name.partition("[")
    return (base, int(rest[:-1])) if bracket else (base, -1)


def apply_params(params: ParamRecord, source: ParamsSource) -> Dict[str, float]:
    """Sets each assignment of source (a parameter file or a mapping) in a
    parameter record; all are checked before any is written. Returns them."""
    assignments = assignments_of(source)
    for name, value in assignments.items():
        base, index = split_name(name)
        if index < 0:
            params[base] = value
        else:
            cast(ArrayField, params[base])[index] = value
    return assignments


def assigned_bytes(assignments: Mapping[str, float]) -> List[Tuple[int, int]]:
    """The (offset, length) byte ranges of a parameter record that the
    checked assignments write, adjacent ones merged: what to copy from one
    record to another to give it the same assignments and nothing else."""
    elements = []
    for name in assignments:
        base, index = split_name(name)
        offset, size = _PLACES[base]
        elements.append((offset + size * max(index, 0), size))
    ranges: List[Tuple[int, int]] = []
    for start, size in sorted(elements):
        if ranges and ranges[-1][0] + ranges[-1][1] == start:
            ranges[-1] = (ranges[-1][0], ranges[-1][1] + size)
        else:
            ranges.append((start, size))
    return ranges
