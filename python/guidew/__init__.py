"""guidew: the libGuide guidance law from Python, through ctypes.

Nothing but the standard library is needed; numpy arrays are accepted (and
returned for numpy inputs) where buffers of doubles are.

    import guidew

    with guidew.Instance() as m:             # own records, default parameters
        m.params["roll_kp"] = 3.0
        m.inputs.update(speed_cmd=220, elev_cmd=5, azim_cmd=30, mode=1,
                        tas=200, vel_north=200, altitude=3000, aux_in=7)
        out = m.step()                       # Outputs(lat_cmd, nz_cmd, throttle_cmd, aux_out)
        out = m.step({"azim_cmd": 60})       # change some inputs and step
        out = m.step(row19)                  # or all 19 in order

    fleet = guidew.Fleet(1000, threads=2)    # many aircraft, one call per period
    fleet.inputs[i, j] = ...                 # or numpy.asarray(fleet.inputs)[:] = ...
    rows = fleet.step()                      # OutputRows: a copy; rows[i].nz_cmd
    history.append(fleet.step())             # each step's commands kept

    guidew.step_batch(instances, rows, threads=4)   # N x 19 buffer or list of rows

    static = guidew.StaticModel()            # the library's module-level model
    static.initialize(); static.step(row19)  # Guide_OneStep + Guide_GetOutput

    m.load_params("campaigns/f16_trim.params")   # a parameter file, as --params reads
    guidew.read_params(path)                 # {"roll_kp": 2.5, "thr_table[17]": 0.5, ...}
    guidew.fmu_start_values(path)            # {"thr_table[2,7]": 0.5, ...}: an FMU's start values

Every value written is checked first: a field takes a number, thr_max_index
a whole number from 0 to 4294967295; a step or update with a bad value
raises naming the field and writes nothing.

Batch steps use at most max_threads() threads (the processors the process
may run on); a larger ``threads`` is lowered to it. Results never depend on
the thread count.

The library is looked for in, in order: the ``library=`` / ``load(path)``
argument; the environment variable GUIDEW_LIBRARY (these two are the only
place tried when given); libGuide.so in this package's folder; lib/ of the
installation prefix the package is installed in (where ``cmake --install``
puts the library: install both into the same prefix); when the package is
used from its source tree (PYTHONPATH=python), $GUIDE_BUILD_DIR/libGuide.so
or else build/libGuide.so; the system loader. The campaigns' simulator,
libguidesim.so, is found by the same rules (its variable: GUIDESIM_LIBRARY).

Every error the package raises of its own derives from GuideWError, and is
still of its own kind where it has one (LibraryNotFoundError is an OSError,
FieldNameError a KeyError).

__version__ is the version of libGuide the package was made with.
"""

import importlib
from types import ModuleType

from ._fields import (
    INPUT_FIELDS,
    MEANINGS,
    OUTPUT_FIELDS,
    STATE_FIELDS,
    TYPICAL_COMMANDS,
    TYPICAL_FLIGHT,
)
from ._errors import GuideWError, LibraryNotFoundError
from ._library import LIBRARY_ENV, Library, load
from ._fleet import DoubleRows, Fleet, OutputRows, max_threads, step_batch
from ._model import Instance, StaticModel, default_params
from ._params_file import ParamsFileError, read_params
from ._fmu_start import fmu_start_values
from ._records import (
    PARAM_FIELDS,
    FieldNameError,
    GuideWInputs,
    ParamRecord,
    GuideWModel,
    GuideWOutputs,
    GuideWParams,
    GuideWStates,
    Outputs,
    Record,
)
from ._version import __version__

__all__ = [
    "__version__",
    "LIBRARY_ENV",
    "GuideWError",
    "Library",
    "LibraryNotFoundError",
    "load",
    "DoubleRows",
    "Fleet",
    "Instance",
    "OutputRows",
    "StaticModel",
    "default_params",
    "read_params",
    "ParamsFileError",
    "fmu_start_values",
    "max_threads",
    "step_batch",
    "INPUT_FIELDS",
    "OUTPUT_FIELDS",
    "PARAM_FIELDS",
    "STATE_FIELDS",
    "MEANINGS",
    "TYPICAL_FLIGHT",
    "TYPICAL_COMMANDS",
    "FieldNameError",
    "GuideWInputs",
    "GuideWModel",
    "GuideWOutputs",
    "GuideWParams",
    "GuideWStates",
    "Outputs",
    "ParamRecord",
    "Record",
]

# The public names are documented and pickled as guidew.X, where users find
# them, rather than under the private module that defines them.
for _name in __all__:
    _obj = globals()[_name]
    if isinstance(_obj, type) or callable(_obj):
        _obj.__module__ = __name__
del _name, _obj


def __getattr__(name: str) -> ModuleType:
    """guidew.campaign (Monte Carlo campaigns and sweeps) is imported when
    first used: it brings Dask's world and numpy, which a host stepping the
    law needs neither of."""
    if name == "campaign":
        return importlib.import_module(".campaign", __name__)
    raise AttributeError("module %r has no attribute %r" % (__name__, name))
