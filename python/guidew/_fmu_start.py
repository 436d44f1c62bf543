"""A parameter file as the start values an FMU importer passes (FMPy's
``simulate_fmu(..., start_values=...)``), under the names the FMUs declare.

FMI 2.0 has no arrays: each element is a scalar variable named by the
structured convention, 1-based, the trim table speed index first
(``thr_table[s,a]``). FMI 3.0 declares each array as one variable and sets
it whole, in row-major order (the record's order, in which the table's
altitude index varies fastest).
"""

from __future__ import annotations

from typing import Dict, List, Sequence, Union, cast

from ._fields import PARAM_LAYOUT
from ._library import LibraryArg
from ._model import default_params
from ._params_file import ParamsSource, assignments_of, split_name

# The trim table is thr_spd_bp by thr_alt_bp; its FMUs name it by both.
TABLE = "thr_table"
_LENGTHS = {name: length for name, _kind, length, _offset in PARAM_LAYOUT}
_INTEGER = {name for name, kind, _length, _offset in PARAM_LAYOUT if kind == "I"}
SPEEDS = _LENGTHS["thr_spd_bp"]
ALTITUDES = _LENGTHS["thr_alt_bp"]
if SPEEDS * ALTITUDES != _LENGTHS[TABLE]:
    raise ImportError("guidew: thr_table is not thr_spd_bp by thr_alt_bp")

# A start value: a number (an int for thr_max_index), or for an FMI 3.0
# array all its elements.
StartValue = Union[float, List[float]]


def fmi2_name(name: str) -> str:
    """The FMI 2.0 variable of a parameter file's name: "thr_table[47]" is
    "thr_table[5,4]" (speed 5, altitude 4), "thr_alt_bp[0]" "thr_alt_bp[1]"."""
    base, index = split_name(name)
    if index < 0:
        return base
    if base == TABLE:
        return "%s[%d,%d]" % (base, index // ALTITUDES + 1, index % ALTITUDES + 1)
    return "%s[%d]" % (base, index + 1)


def fmu_start_values(
    source: ParamsSource, fmi_version: int = 2, library: LibraryArg = None
) -> Dict[str, StartValue]:
    """The start values that give an FMU the parameters of a parameter file
    (a path, in the format every tool's --params reads) or of a mapping such
    as read_params returns, named as the FMU of ``fmi_version`` (2 or 3)
    declares them; thr_max_index's values are ints (FMI 2.0 Integer, FMI
    3.0 UInt32).

    FMI 2.0: one entry an element, ``{"thr_table[5,4]": 0.25, ...}``.
    FMI 3.0: one entry an array, all its elements in row-major order; the
    elements the file does not set keep the FMU's start values, which are
    the library's defaults (read from the library, loaded as ``library=``
    or by the usual rules, only when an array is set in part).
    """
    if fmi_version not in (2, 3) or isinstance(fmi_version, bool):
        raise ValueError("fmi_version must be 2 or 3, got %r" % (fmi_version,))
    assignments = assignments_of(source)
    if fmi_version == 2:
        return {fmi2_name(name): _typed(name, value) for name, value in assignments.items()}
    starts: Dict[str, StartValue] = {}
    arrays: Dict[str, Dict[int, float]] = {}
    for name, value in assignments.items():
        base, index = split_name(name)
        if index < 0:
            starts[base] = value
        else:
            starts.setdefault(base, [])
            arrays.setdefault(base, {})[index] = value
    defaults = None
    for base, elements in arrays.items():
        length = _LENGTHS[base]
        fill: List[float] = [0.0] * length
        if len(elements) < length:
            defaults = defaults or default_params(library)
            fill = list(cast(Sequence[float], defaults[base]))
        starts[base] = [_typed(base, elements.get(i, fill[i])) for i in range(length)]
    return starts


def _typed(name: str, value: float) -> float:
    """An integer parameter's value as an int, which FMI's integer types take."""
    return int(value) if split_name(name)[0] in _INTEGER else value
