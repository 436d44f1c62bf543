"""The static model and single instances."""

from __future__ import annotations

import collections.abc
import ctypes
from typing import Dict, Mapping, Optional, Sequence, Tuple, Union

from ._library import Library, LibraryArg, library_of
from ._lifetime import FOR_PROCESS, Lifetime
from ._params_file import ParamsSource, apply_params
from ._records import (
    OUTPUT_COUNT,
    GuideWInputs,
    GuideWModel,
    GuideWOutputs,
    GuideWParams,
    GuideWStates,
    Outputs,
    ParamRecord,
    Record,
    input_row,
)

_Out = ctypes.c_double * OUTPUT_COUNT

# The inputs of one step: some fields by name (the others keep their
# values), or all 19 in the order of INPUT_FIELDS.
StepInputs = Union[Mapping[str, float], Sequence[float], None]


def _status_text(status: Optional[bytes]) -> Optional[str]:
    return None if status is None else status.decode()


def default_params(library: LibraryArg = None) -> ParamRecord:
    """A detached copy of the build-time parameter defaults, as a Record."""
    params = GuideWParams()
    library_of(library).GuideW_default_params(ctypes.byref(params))
    return ParamRecord(params, FOR_PROCESS, "param")


class StaticModel:
    """The library's module-level model (GuideW_U/Y/P/DW/M_): one per
    process, shared by everything that loads the same library file.

    ``inputs``, ``params`` and ``states`` are Records over the library's own
    variables.
    """

    def __init__(self, library: LibraryArg = None) -> None:
        self.library = lib = library_of(library)
        self._lib = lib
        self._u = lib.record(GuideWInputs, "GuideW_U")
        self._y = lib.record(GuideWOutputs, "GuideW_Y")
        self._m = lib.record(GuideWModel, "GuideW_M_")
        self.inputs: Record[float] = Record(self._u, FOR_PROCESS, "input")
        self.params = ParamRecord(lib.record(GuideWParams, "GuideW_P"), FOR_PROCESS, "param")
        self.states: Record[float] = Record(
            lib.record(GuideWStates, "GuideW_DW"), FOR_PROCESS, "state"
        )
        self._out = _Out()

    def load_params(self, source: ParamsSource) -> Dict[str, float]:
        """Sets the parameters a parameter file assigns (the format every
        tool's --params reads, e.g. campaigns/f16_trim.params), or those of
        a mapping such as read_params returns. All are checked before any
        is written; returns the assignments."""
        return apply_params(self.params, source)

    def initialize(self) -> None:
        """GuideW_initialize: clears inputs, outputs, states, error status."""
        self._lib.initialize()

    def terminate(self) -> None:
        """GuideW_terminate: ends the model's run (the records stay readable)."""
        self._lib.terminate()

    def step(self, inputs: StepInputs = None) -> Outputs:
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
            Record[float](row, FOR_PROCESS, "input").update(inputs)
        else:
            row = input_row(inputs)
        self._lib.Guide_OneStep(ctypes.byref(row))
        self._lib.Guide_GetOutput(self._out)
        return Outputs(*self._out)

    @property
    def outputs(self) -> Outputs:
        """The outputs of the last step (GuideW_Y)."""
        return Outputs(*_Out.from_buffer_copy(self._y))

    @property
    def error_status(self) -> Optional[str]:
        """None, or the text of the error ("Overrun")."""
        return _status_text(self._m.error_status)


class Instance:
    """One independent model with its own records.

    Created initialised with the build-time default parameters. Close it
    with close(), a with-block, or let it be collected. The instances of a
    Fleet are views that the Fleet owns: they close with the Fleet.

    ``inputs``, ``params`` and ``states`` are Records over the instance's
    own records, read and written in place.
    """

    def __init__(self, library: LibraryArg = None) -> None:
        lib = library_of(library)
        handle = lib.GuideW_instance_create()
        if not handle:
            raise MemoryError("GuideW_instance_create returned NULL")
        life = Lifetime("GuideW instance", lib.GuideW_instance_destroy, handle)
        self._bind(lib, handle, life, False)

    def _bind(self, lib: Library, handle: int, life: Lifetime, in_fleet: bool) -> None:
        self.library = lib
        self._lib = lib
        self._handle = handle
        self._life = life
        self._in_fleet = in_fleet
        self._records: Optional[Tuple[Record[float], ParamRecord, Record[float]]] = None
        self._y: Optional[GuideWOutputs] = None
        self._out = _Out()

    @property
    def closed(self) -> bool:
        """True once the instance (or the Fleet it belongs to) is closed."""
        return self._life.closed

    def _check_open(self) -> None:
        if self._life.closed:
            raise ValueError("the GuideW instance is closed")

    @property
    def handle(self) -> int:
        """The GuideWInstance* as an integer."""
        self._check_open()
        return self._handle

    def close(self) -> None:
        """Destroys the instance; its records may not be used after."""
        if self._in_fleet:
            if not self._life.closed:
                raise ValueError("this instance belongs to a Fleet; close the Fleet")
            return
        self._life.close()

    def __enter__(self) -> Instance:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def _record_views(self) -> Tuple[Record[float], ParamRecord, Record[float]]:
        if self._records is None:
            handle, lib = self.handle, self._lib
            life = self._life  # not self: a record must not keep a cycle alive
            self._records = (
                Record(
                    GuideWInputs.from_address(lib.GuideW_instance_inputs(handle)), life, "input"
                ),
                ParamRecord(
                    GuideWParams.from_address(lib.GuideW_instance_params(handle)), life, "param"
                ),
                Record(
                    GuideWStates.from_address(lib.GuideW_instance_states(handle)), life, "state"
                ),
            )
        return self._records

    @property
    def inputs(self) -> Record[float]:
        """The inputs the next step() without arguments reads."""
        return self._record_views()[0]

    @property
    def params(self) -> ParamRecord:
        """The parameters (build-time defaults until changed)."""
        return self._record_views()[1]

    @property
    def states(self) -> Record[float]:
        """The states the law keeps from step to step."""
        return self._record_views()[2]

    def load_params(self, source: ParamsSource) -> Dict[str, float]:
        """Sets the parameters a parameter file assigns (the format every
        tool's --params reads, e.g. campaigns/f16_trim.params), or those of
        a mapping such as read_params returns. All are checked before any
        is written; returns the assignments."""
        return apply_params(self.params, source)

    def initialize(self) -> None:
        """Clears inputs, outputs, states and error status; keeps params."""
        self._lib.GuideW_instance_initialize(self.handle)

    def step(self, inputs: StepInputs = None) -> Outputs:
        """One step; returns the outputs.

        ``inputs``: None (step on the inputs held), a mapping of some fields
        by name (the others keep their values; all are checked before any
        is written), or 19 values in order.
        """
        handle = self.handle
        if inputs is None:
            row = None
        elif isinstance(inputs, collections.abc.Mapping):
            self.inputs.update(inputs)
            row = None
        else:
            row = ctypes.byref(input_row(inputs))
        self._lib.GuideW_instance_one_step(handle, row, self._out)
        return Outputs(*self._out)

    @property
    def outputs(self) -> Outputs:
        """The outputs of the last step."""
        self._check_open()
        if self._y is None:
            self._y = GuideWOutputs.from_address(self._lib.GuideW_instance_outputs(self._handle))
        return Outputs(*_Out.from_buffer_copy(self._y))

    @property
    def error_status(self) -> Optional[str]:
        """None, or the text of the error ("Overrun")."""
        return _status_text(self._lib.GuideW_instance_error_status(self.handle))

    def __repr__(self) -> str:
        state = "closed" if self.closed else hex(self._handle)
        return "<guidew.Instance %s>" % state


def fleet_member(lib: Library, handle: int, fleet_life: Lifetime) -> Instance:
    """A view of an instance a fleet owns: it keeps the fleet's instances
    alive, not the Fleet object."""
    member = Instance.__new__(Instance)
    member._bind(lib, handle, fleet_life, True)
    return member
