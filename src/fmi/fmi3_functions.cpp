// The FMI 3.0 Co-Simulation entry points: each finds its instance, checks
// the arguments only FMI 3.0 has, and hands over to the Slave. The functions
// of Model Exchange, Scheduled Execution, event mode, clocks and
// configuration mode are refused with a message. No exception leaves an
// entry point.
#include <new>
#include <string>

#include "fmi3_declarations.h"
#include "fmu_registry.h"
#include "fmu_slave.h"

using guidew_fmu::Base;
using guidew_fmu::FmiVersion;
using guidew_fmu::Slave;
using guidew_fmu::Status;

namespace {

constexpr FmiVersion kVersion = FmiVersion::v3;

fmi3Status to_fmi3(Status s) { return static_cast<fmi3Status>(s); }

template <class Body>
fmi3Status on_instance(fmi3Instance instance, const char* fn, Body body) {
    return guidew_fmu::on_live_slave<fmi3Status>(instance, fn, body);
}

fmi3Status refuse(fmi3Instance instance, const char* fn, const char* why) {
    return on_instance(instance, fn, [&](Slave& s) { return s.fail(fn, why); });
}

const char* const kCoSimulationOnly =
    "this FMU is for Co-Simulation only (no Model Exchange or Scheduled Execution)";
const char* const kNoEventMode = "this FMU has no event mode (hasEventMode=\"false\")";
const char* const kNoClocks = "this FMU has no clocks";

void log_refusal(fmi3LogMessageCallback log, fmi3InstanceEnvironment env, const std::string& why) {
    if (log != nullptr) log(env, fmi3Error, "logStatusError", why.c_str());
}

}  // namespace

extern "C" {

const char* fmi3GetVersion(void) { return "3.0"; }

fmi3Status fmi3SetDebugLogging(fmi3Instance instance, fmi3Boolean loggingOn, size_t nCategories,
                               const fmi3String categories[]) {
    const char* fn = "fmi3SetDebugLogging";
    return on_instance(instance, fn, [&](Slave& s) {
        return s.set_debug_logging(fn, loggingOn, nCategories, categories);
    });
}

fmi3Instance fmi3InstantiateModelExchange(fmi3String, fmi3String, fmi3String, fmi3Boolean,
                                          fmi3Boolean, fmi3InstanceEnvironment env,
                                          fmi3LogMessageCallback logMessage) {
    log_refusal(logMessage, env, std::string("fmi3InstantiateModelExchange: ") + kCoSimulationOnly);
    return nullptr;
}

fmi3Instance fmi3InstantiateScheduledExecution(fmi3String, fmi3String, fmi3String, fmi3Boolean,
                                               fmi3Boolean, fmi3InstanceEnvironment env,
                                               fmi3LogMessageCallback logMessage,
                                               fmi3ClockUpdateCallback, fmi3LockPreemptionCallback,
                                               fmi3UnlockPreemptionCallback) {
    log_refusal(logMessage, env,
                std::string("fmi3InstantiateScheduledExecution: ") + kCoSimulationOnly);
    return nullptr;
}

fmi3Instance fmi3InstantiateCoSimulation(
    fmi3String instanceName, fmi3String instantiationToken, fmi3String, fmi3Boolean,
    fmi3Boolean loggingOn, fmi3Boolean eventModeUsed, fmi3Boolean, const fmi3ValueReference[],
    size_t nRequiredIntermediateVariables, fmi3InstanceEnvironment env,
    fmi3LogMessageCallback logMessage, fmi3IntermediateUpdateCallback) {
    const char* fn = "fmi3InstantiateCoSimulation: ";
    const auto refused = [&](const std::string& why) -> fmi3Instance {
        log_refusal(logMessage, env, fn + why);
        return nullptr;
    };
    try {
        if (instanceName == nullptr || *instanceName == '\0')
            return refused("instanceName is empty");
        const std::string& token = guidew_fmu::model_token(kVersion);
        if (instantiationToken == nullptr || token != instantiationToken) {
            return refused(
                "the instantiationToken does not match this binary's model description "
                "(expected " +
                token + ")");
        }
        if (eventModeUsed) return refused(kNoEventMode);
        if (nRequiredIntermediateVariables > 0) {
            return refused("this FMU provides no intermediate updates");
        }
        auto sink = [logMessage, env](Status st, const char* category, const std::string& m) {
            if (logMessage != nullptr) logMessage(env, to_fmi3(st), category, m.c_str());
        };
        Slave* s = guidew_fmu::create_registered_slave(kVersion, instanceName, sink, loggingOn);
        return s != nullptr ? s : refused("out of memory");
    } catch (...) {
        return refused("out of memory");
    }
}

void fmi3FreeInstance(fmi3Instance instance) {
    Slave* s = static_cast<Slave*>(instance);
    if (guidew_fmu::unregister_slave(s)) delete s;
}

fmi3Status fmi3EnterInitializationMode(fmi3Instance instance, fmi3Boolean, fmi3Float64,
                                       fmi3Float64 startTime, fmi3Boolean stopTimeDefined,
                                       fmi3Float64 stopTime) {
    const char* fn = "fmi3EnterInitializationMode";
    return on_instance(instance, fn, [&](Slave& s) {
        const Status st = s.setup_experiment(fn, startTime, stopTimeDefined, stopTime);
        return st != Status::ok ? st : s.enter_initialization(fn);
    });
}

fmi3Status fmi3ExitInitializationMode(fmi3Instance instance) {
    const char* fn = "fmi3ExitInitializationMode";
    return on_instance(instance, fn, [&](Slave& s) { return s.exit_initialization(fn); });
}

fmi3Status fmi3EnterEventMode(fmi3Instance instance) {
    return refuse(instance, "fmi3EnterEventMode", kNoEventMode);
}

fmi3Status fmi3Terminate(fmi3Instance instance) {
    const char* fn = "fmi3Terminate";
    return on_instance(instance, fn, [&](Slave& s) { return s.terminate(fn); });
}

fmi3Status fmi3Reset(fmi3Instance instance) {
    const char* fn = "fmi3Reset";
    return on_instance(instance, fn, [&](Slave& s) { return s.reset(fn); });
}

// ---- Values ----------------------------------------------------------------------

fmi3Status fmi3GetFloat64(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                          size_t nValueReferences, fmi3Float64 values[], size_t nValues) {
    const char* fn = "fmi3GetFloat64";
    return on_instance(instance, fn, [&](Slave& s) {
        return s.get_real(fn, valueReferences, nValueReferences, values, nValues);
    });
}

fmi3Status fmi3SetFloat64(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                          size_t nValueReferences, const fmi3Float64 values[], size_t nValues) {
    const char* fn = "fmi3SetFloat64";
    return on_instance(instance, fn, [&](Slave& s) {
        return s.set_real(fn, valueReferences, nValueReferences, values, nValues);
    });
}

fmi3Status fmi3GetUInt32(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                         size_t nValueReferences, fmi3UInt32 values[], size_t nValues) {
    const char* fn = "fmi3GetUInt32";
    return on_instance(instance, fn, [&](Slave& s) {
        return s.get_integer(fn, valueReferences, nValueReferences, values, nValues);
    });
}

fmi3Status fmi3SetUInt32(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                         size_t nValueReferences, const fmi3UInt32 values[], size_t nValues) {
    const char* fn = "fmi3SetUInt32";
    return on_instance(instance, fn, [&](Slave& s) {
        return s.set_integer(fn, valueReferences, nValueReferences, values, nValues);
    });
}

fmi3Status fmi3GetBoolean(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                          size_t nValueReferences, fmi3Boolean values[], size_t nValues) {
    const char* fn = "fmi3GetBoolean";
    return on_instance(instance, fn, [&](Slave& s) {
        return s.get_boolean(fn, valueReferences, nValueReferences, values, nValues);
    });
}

fmi3Status fmi3SetBoolean(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                          size_t nValueReferences, const fmi3Boolean[], size_t) {
    const char* fn = "fmi3SetBoolean";
    return on_instance(instance, fn, [&](Slave& s) {
        if (nValueReferences == 0) return Status::ok;
        if (valueReferences == nullptr) return s.fail(fn, "the value reference array is null");
        if (s.variable_of(fn, valueReferences[0], Base::boolean) == nullptr) return Status::error;
        return s.fail(fn, "overrun is a local variable: the law keeps it");
    });
}

// The types this FMU has no variable of: an empty request succeeds, any
// value reference is unknown.
#define GUIDEW_FMI3_NO_VARIABLES(T)                                                            \
    fmi3Status fmi3Get##T(fmi3Instance instance, const fmi3ValueReference vr[], size_t nvr,    \
                          fmi3##T[], size_t) {                                                 \
        const char* fn = "fmi3Get" #T;                                                         \
        return on_instance(instance, fn, [&](Slave& s) {                                       \
            if (s.require_readable(fn) != Status::ok) return Status::error;                    \
            return s.no_variables_of_type(fn, #T, vr, nvr);                                    \
        });                                                                                    \
    }                                                                                          \
    fmi3Status fmi3Set##T(fmi3Instance instance, const fmi3ValueReference vr[], size_t nvr,    \
                          const fmi3##T[], size_t) {                                           \
        const char* fn = "fmi3Set" #T;                                                         \
        return on_instance(instance, fn,                                                       \
                           [&](Slave& s) { return s.no_variables_of_type(fn, #T, vr, nvr); }); \
    }
GUIDEW_FMI3_NO_VARIABLES(Float32)
GUIDEW_FMI3_NO_VARIABLES(Int8)
GUIDEW_FMI3_NO_VARIABLES(UInt8)
GUIDEW_FMI3_NO_VARIABLES(Int16)
GUIDEW_FMI3_NO_VARIABLES(UInt16)
GUIDEW_FMI3_NO_VARIABLES(Int32)
GUIDEW_FMI3_NO_VARIABLES(Int64)
GUIDEW_FMI3_NO_VARIABLES(UInt64)
GUIDEW_FMI3_NO_VARIABLES(String)
#undef GUIDEW_FMI3_NO_VARIABLES

fmi3Status fmi3GetBinary(fmi3Instance instance, const fmi3ValueReference vr[], size_t nvr, size_t[],
                         fmi3Binary[], size_t) {
    const char* fn = "fmi3GetBinary";
    return on_instance(instance, fn, [&](Slave& s) {
        if (s.require_readable(fn) != Status::ok) return Status::error;
        return s.no_variables_of_type(fn, "Binary", vr, nvr);
    });
}

fmi3Status fmi3SetBinary(fmi3Instance instance, const fmi3ValueReference vr[], size_t nvr,
                         const size_t[], const fmi3Binary[], size_t) {
    const char* fn = "fmi3SetBinary";
    return on_instance(instance, fn,
                       [&](Slave& s) { return s.no_variables_of_type(fn, "Binary", vr, nvr); });
}

fmi3Status fmi3GetClock(fmi3Instance instance, const fmi3ValueReference[], size_t, fmi3Clock[]) {
    return refuse(instance, "fmi3GetClock", kNoClocks);
}

fmi3Status fmi3SetClock(fmi3Instance instance, const fmi3ValueReference[], size_t,
                        const fmi3Clock[]) {
    return refuse(instance, "fmi3SetClock", kNoClocks);
}

// ---- Dependencies and derivatives: not provided ---------------------------------------

fmi3Status fmi3GetNumberOfVariableDependencies(fmi3Instance instance, fmi3ValueReference, size_t*) {
    return refuse(instance, "fmi3GetNumberOfVariableDependencies",
                  "per-element dependencies are not provided "
                  "(providesPerElementDependencies=\"false\")");
}

fmi3Status fmi3GetVariableDependencies(fmi3Instance instance, fmi3ValueReference, size_t[],
                                       fmi3ValueReference[], size_t[], fmi3DependencyKind[],
                                       size_t) {
    return refuse(instance, "fmi3GetVariableDependencies",
                  "per-element dependencies are not provided "
                  "(providesPerElementDependencies=\"false\")");
}

fmi3Status fmi3GetDirectionalDerivative(fmi3Instance instance, const fmi3ValueReference[], size_t,
                                        const fmi3ValueReference[], size_t, const fmi3Float64[],
                                        size_t, fmi3Float64[], size_t) {
    return refuse(instance, "fmi3GetDirectionalDerivative",
                  "directional derivatives are not provided");
}

fmi3Status fmi3GetAdjointDerivative(fmi3Instance instance, const fmi3ValueReference[], size_t,
                                    const fmi3ValueReference[], size_t, const fmi3Float64[], size_t,
                                    fmi3Float64[], size_t) {
    return refuse(instance, "fmi3GetAdjointDerivative", "adjoint derivatives are not provided");
}

// ---- FMU states -------------------------------------------------------------------

fmi3Status fmi3GetFMUState(fmi3Instance instance, fmi3FMUState* FMUState) {
    const char* fn = "fmi3GetFMUState";
    return on_instance(instance, fn, [&](Slave& s) { return s.get_state(fn, FMUState); });
}

fmi3Status fmi3SetFMUState(fmi3Instance instance, fmi3FMUState FMUState) {
    const char* fn = "fmi3SetFMUState";
    return on_instance(instance, fn, [&](Slave& s) { return s.set_state(fn, FMUState); });
}

fmi3Status fmi3FreeFMUState(fmi3Instance instance, fmi3FMUState* FMUState) {
    const char* fn = "fmi3FreeFMUState";
    return on_instance(instance, fn, [&](Slave& s) { return s.free_state(fn, FMUState); });
}

fmi3Status fmi3SerializedFMUStateSize(fmi3Instance instance, fmi3FMUState FMUState, size_t* size) {
    const char* fn = "fmi3SerializedFMUStateSize";
    return on_instance(instance, fn,
                       [&](Slave& s) { return s.serialized_size(fn, FMUState, size); });
}

fmi3Status fmi3SerializeFMUState(fmi3Instance instance, fmi3FMUState FMUState,
                                 fmi3Byte serializedState[], size_t size) {
    const char* fn = "fmi3SerializeFMUState";
    return on_instance(instance, fn,
                       [&](Slave& s) { return s.serialize(fn, FMUState, serializedState, size); });
}

fmi3Status fmi3DeserializeFMUState(fmi3Instance instance, const fmi3Byte serializedState[],
                                   size_t size, fmi3FMUState* FMUState) {
    const char* fn = "fmi3DeserializeFMUState";
    return on_instance(
        instance, fn, [&](Slave& s) { return s.deserialize(fn, serializedState, size, FMUState); });
}

// ---- Configuration mode, clocks, discrete states: refused ------------------------------

fmi3Status fmi3EnterConfigurationMode(fmi3Instance instance) {
    return refuse(instance, "fmi3EnterConfigurationMode", "this FMU has no structural parameters");
}
fmi3Status fmi3ExitConfigurationMode(fmi3Instance instance) {
    return refuse(instance, "fmi3ExitConfigurationMode", "this FMU has no structural parameters");
}
fmi3Status fmi3GetIntervalDecimal(fmi3Instance instance, const fmi3ValueReference[], size_t,
                                  fmi3Float64[], fmi3IntervalQualifier[]) {
    return refuse(instance, "fmi3GetIntervalDecimal", kNoClocks);
}
fmi3Status fmi3GetIntervalFraction(fmi3Instance instance, const fmi3ValueReference[], size_t,
                                   fmi3UInt64[], fmi3UInt64[], fmi3IntervalQualifier[]) {
    return refuse(instance, "fmi3GetIntervalFraction", kNoClocks);
}
fmi3Status fmi3GetShiftDecimal(fmi3Instance instance, const fmi3ValueReference[], size_t,
                               fmi3Float64[]) {
    return refuse(instance, "fmi3GetShiftDecimal", kNoClocks);
}
fmi3Status fmi3GetShiftFraction(fmi3Instance instance, const fmi3ValueReference[], size_t,
                                fmi3UInt64[], fmi3UInt64[]) {
    return refuse(instance, "fmi3GetShiftFraction", kNoClocks);
}
fmi3Status fmi3SetIntervalDecimal(fmi3Instance instance, const fmi3ValueReference[], size_t,
                                  const fmi3Float64[]) {
    return refuse(instance, "fmi3SetIntervalDecimal", kNoClocks);
}
fmi3Status fmi3SetIntervalFraction(fmi3Instance instance, const fmi3ValueReference[], size_t,
                                   const fmi3UInt64[], const fmi3UInt64[]) {
    return refuse(instance, "fmi3SetIntervalFraction", kNoClocks);
}
fmi3Status fmi3SetShiftDecimal(fmi3Instance instance, const fmi3ValueReference[], size_t,
                               const fmi3Float64[]) {
    return refuse(instance, "fmi3SetShiftDecimal", kNoClocks);
}
fmi3Status fmi3SetShiftFraction(fmi3Instance instance, const fmi3ValueReference[], size_t,
                                const fmi3UInt64[], const fmi3UInt64[]) {
    return refuse(instance, "fmi3SetShiftFraction", kNoClocks);
}
fmi3Status fmi3EvaluateDiscreteStates(fmi3Instance instance) {
    return refuse(instance, "fmi3EvaluateDiscreteStates", kNoEventMode);
}
fmi3Status fmi3UpdateDiscreteStates(fmi3Instance instance, fmi3Boolean*, fmi3Boolean*, fmi3Boolean*,
                                    fmi3Boolean*, fmi3Boolean*, fmi3Float64*) {
    return refuse(instance, "fmi3UpdateDiscreteStates", kNoEventMode);
}

// ---- Model Exchange: refused --------------------------------------------------------

fmi3Status fmi3EnterContinuousTimeMode(fmi3Instance instance) {
    return refuse(instance, "fmi3EnterContinuousTimeMode", kCoSimulationOnly);
}
fmi3Status fmi3CompletedIntegratorStep(fmi3Instance instance, fmi3Boolean, fmi3Boolean*,
                                       fmi3Boolean*) {
    return refuse(instance, "fmi3CompletedIntegratorStep", kCoSimulationOnly);
}
fmi3Status fmi3SetTime(fmi3Instance instance, fmi3Float64) {
    return refuse(instance, "fmi3SetTime", kCoSimulationOnly);
}
fmi3Status fmi3SetContinuousStates(fmi3Instance instance, const fmi3Float64[], size_t) {
    return refuse(instance, "fmi3SetContinuousStates", kCoSimulationOnly);
}
fmi3Status fmi3GetContinuousStateDerivatives(fmi3Instance instance, fmi3Float64[], size_t) {
    return refuse(instance, "fmi3GetContinuousStateDerivatives", kCoSimulationOnly);
}
fmi3Status fmi3GetEventIndicators(fmi3Instance instance, fmi3Float64[], size_t) {
    return refuse(instance, "fmi3GetEventIndicators", kCoSimulationOnly);
}
fmi3Status fmi3GetContinuousStates(fmi3Instance instance, fmi3Float64[], size_t) {
    return refuse(instance, "fmi3GetContinuousStates", kCoSimulationOnly);
}
fmi3Status fmi3GetNominalsOfContinuousStates(fmi3Instance instance, fmi3Float64[], size_t) {
    return refuse(instance, "fmi3GetNominalsOfContinuousStates", kCoSimulationOnly);
}
fmi3Status fmi3GetNumberOfEventIndicators(fmi3Instance instance, size_t*) {
    return refuse(instance, "fmi3GetNumberOfEventIndicators", kCoSimulationOnly);
}
fmi3Status fmi3GetNumberOfContinuousStates(fmi3Instance instance, size_t*) {
    return refuse(instance, "fmi3GetNumberOfContinuousStates", kCoSimulationOnly);
}
fmi3Status fmi3ActivateModelPartition(fmi3Instance instance, fmi3ValueReference, fmi3Float64) {
    return refuse(instance, "fmi3ActivateModelPartition", kCoSimulationOnly);
}

// ---- Co-Simulation -------------------------------------------------------------------

fmi3Status fmi3EnterStepMode(fmi3Instance instance) {
    return refuse(instance, "fmi3EnterStepMode",
                  "Step Mode is entered from Event Mode, which this FMU does not have: "
                  "fmi3ExitInitializationMode enters Step Mode");
}

fmi3Status fmi3GetOutputDerivatives(fmi3Instance instance, const fmi3ValueReference[], size_t,
                                    const fmi3Int32[], fmi3Float64[], size_t) {
    return refuse(instance, "fmi3GetOutputDerivatives",
                  "output derivatives are not provided (maxOutputDerivativeOrder=\"0\")");
}

fmi3Status fmi3DoStep(fmi3Instance instance, fmi3Float64 currentCommunicationPoint,
                      fmi3Float64 communicationStepSize, fmi3Boolean,
                      fmi3Boolean* eventHandlingNeeded, fmi3Boolean* terminateSimulation,
                      fmi3Boolean* earlyReturn, fmi3Float64* lastSuccessfulTime) {
    const char* fn = "fmi3DoStep";
    return on_instance(instance, fn, [&](Slave& s) {
        if (eventHandlingNeeded == nullptr || terminateSimulation == nullptr ||
            earlyReturn == nullptr || lastSuccessfulTime == nullptr) {
            return s.fail(fn,
                          "an output argument (eventHandlingNeeded, terminateSimulation, "
                          "earlyReturn or lastSuccessfulTime) is null");
        }
        const Status st = s.do_step(fn, currentCommunicationPoint, communicationStepSize);
        *eventHandlingNeeded = false;
        *terminateSimulation = false;
        *earlyReturn = false;
        *lastSuccessfulTime = s.time();
        return st;
    });
}

}  // extern "C"
