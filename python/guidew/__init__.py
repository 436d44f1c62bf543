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
    outs = fleet.step()                      # (1000, 4) memoryview

    guidew.step_batch(instances, inputs_n_by_19, threads=4)

    static = guidew.StaticModel()            # the library's module-level model
    static.initialize(); static.step(row19)  # Guide_OneStep + Guide_GetOutput

The library is looked for in: the ``library=`` / ``load(path)`` argument,
the environment variable GUIDEW_LIBRARY, libGuide.so in this package's
folder, build/libGuide.so of the source tree, the system loader.
"""

from ._library import (LIBRARY_ENV, GuideWError, Library, LibraryNotFoundError,
                       load)
from ._model import Fleet, Instance, StaticModel, default_params, step_batch
from ._records import (INPUT_FIELDS, OUTPUT_FIELDS, PARAM_FIELDS, STATE_FIELDS,
                       FieldNameError, GuideWInputs, GuideWModel, GuideWOutputs,
                       GuideWParams, GuideWStates, Outputs, Record)

__all__ = [
    "LIBRARY_ENV", "GuideWError", "Library", "LibraryNotFoundError", "load",
    "Fleet", "Instance", "StaticModel", "default_params", "step_batch",
    "INPUT_FIELDS", "OUTPUT_FIELDS", "PARAM_FIELDS", "STATE_FIELDS",
    "FieldNameError", "GuideWInputs", "GuideWModel", "GuideWOutputs",
    "GuideWParams", "GuideWStates", "Outputs", "Record",
]

from . import campaign  # noqa: E402  Monte Carlo campaigns and sweeps (guidew.campaign)
