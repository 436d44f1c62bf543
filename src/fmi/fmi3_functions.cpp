// The FMI 3.0 Co-Simulation entry points: each finds its instance, which
// checks the call against the entry point's rule (the list in
// fmi3_declarations.h), then checks the arguments only FMI 3.0 has and hands
// over to the Slave. The functions of Model Exchange, Scheduled Execution,
// event mode, clocks and configuration mode are refused with their reason.
// No exception leaves an entry point.
#include <string>
#include <type_traits>

#include "entry_points.h"
#include "fmi3_declarations.h"

namespace {

GUIDEW_FMU_ENTRY_POINTS(guidew_fmu::FmiVersion::v3, fmi3Status, GUIDEW_FMI3_SERVED,
                        GUIDEW_FMI3_REFUSED)

// The variables' type behind an FMI 3.0 element type, for the types this
// FMU has variables of.
template <class T>
constexpr bool kHeld = std::is_same_v<T, fmi3Float64> || std::is_same_v<T, fmi3UInt32> ||
                       std::is_same_v<T, fmi3Boolean>;
template <class T>
constexpr Base base_of() {
    return std::is_same_v<T, fmi3Float64>  ? Base::real
           : std::is_same_v<T, fmi3UInt32> ? Base::integer
                                           : Base::boolean;
}

template <class T>
Status get_values(Slave& s, const char* fn, const char* type, const fmi3ValueReference* vr,
                  size_t nvr, T* values, size_t n_values) {
    if constexpr (kHeld<T>) {
        return s.get(fn, base_of<T>(), vr, nvr, values, n_values);
    } else {
        return s.no_variables_of_type(fn, type, vr, nvr);
    }
}

template <class T>
Status set_values(Slave& s, const char* fn, const char* type, const fmi3ValueReference* vr,
                  size_t nvr, const T* values, size_t n_values) {
    if constexpr (kHeld<T>) {
        return s.set(fn, base_of<T>(), vr, nvr, values, n_values);
    } else {
        return s.no_variables_of_type(fn, type, vr, nvr);
    }
}

// An instantiation refused: there is no instance to log through, only the
// tool's callback.
fmi3Instance refuse_instance(Call call, fmi3LogMessageCallback log, fmi3InstanceEnvironment env,
                             const std::string& why) {
    if (log != nullptr) {
        log(env, fmi3Error, "logStatusError", (std::string(rule(call).name) + ": " + why).c_str());
    }
    return nullptr;
}

}  // namespace

extern "C" {

const char* fmi3GetVersion(void) { return "3.0"; }

fmi3Instance fmi3InstantiateModelExchange(fmi3String, fmi3String, fmi3String, fmi3Boolean,
                                          fmi3Boolean, fmi3InstanceEnvironment env,
                                          fmi3LogMessageCallback logMessage) {
    return refuse_instance(Call::fmi3InstantiateModelExchange, logMessage, env,
                           GUIDEW_FMI3_CO_SIMULATION_ONLY);
}

fmi3Instance fmi3InstantiateScheduledExecution(fmi3String, fmi3String, fmi3String, fmi3Boolean,
                                               fmi3Boolean, fmi3InstanceEnvironment env,
                                               fmi3LogMessageCallback logMessage,
                                               fmi3ClockUpdateCallback, fmi3LockPreemptionCallback,
                                               fmi3UnlockPreemptionCallback) {
    return refuse_instance(Call::fmi3InstantiateScheduledExecution, logMessage, env,
                           GUIDEW_FMI3_CO_SIMULATION_ONLY);
}

fmi3Instance fmi3InstantiateCoSimulation(
    fmi3String instanceName, fmi3String instantiationToken, fmi3String, fmi3Boolean,
    fmi3Boolean loggingOn, fmi3Boolean eventModeUsed, fmi3Boolean, const fmi3ValueReference[],
    size_t nRequiredIntermediateVariables, fmi3InstanceEnvironment env,
    fmi3LogMessageCallback logMessage, fmi3IntermediateUpdateCallback) {
    const auto refused = [&](const std::string& why) {
        return refuse_instance(Call::fmi3InstantiateCoSimulation, logMessage, env, why);
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
        if (eventModeUsed) return refused(GUIDEW_FMI3_NO_EVENT_MODE);
        if (nRequiredIntermediateVariables > 0) {
            return refused("this FMU provides no intermediate updates");
        }
        auto sink = [logMessage, env](Status st, const char* category, const std::string& m) {
            if (logMessage != nullptr) logMessage(env, to_status(st), category, m.c_str());
        };
        Slave* s = guidew_fmu::create_registered_slave(kVersion, instanceName, sink, loggingOn);
        return s != nullptr ? s : refused("out of memory");
    } catch (...) {
        return refused("out of memory");
    }
}

GUIDEW_SHARED_DEFINITIONS(fmi3, fmi3Instance instance, instance)

// FMI 3.0 sets the experiment up on entering initialisation.
fmi3Status fmi3EnterInitializationMode(fmi3Instance instance, fmi3Boolean, fmi3Float64,
                                       fmi3Float64 startTime, fmi3Boolean stopTimeDefined,
                                       fmi3Float64 stopTime) {
    return on_instance(instance, Call::fmi3EnterInitializationMode, [&](Slave& s, const char* fn) {
        const Status st = s.setup_experiment(fn, startTime, stopTimeDefined, stopTime);
        return st != Status::ok ? st : s.enter_initialization(fn);
    });
}

// ---- Values ----------------------------------------------------------------------
// Every type goes one way: the Slave's typed path for the types this FMU has
// variables of; for the others an empty request succeeds and any value
// reference is unknown.
#define GUIDEW_FMI3_VALUES(T)                                                               \
    fmi3Status fmi3Get##T(fmi3Instance instance, const fmi3ValueReference vr[], size_t nvr, \
                          fmi3##T values[], size_t nValues) {                               \
        return on_instance(instance, Call::fmi3Get##T, [&](Slave& s, const char* fn) {      \
            return get_values(s, fn, #T, vr, nvr, values, nValues);                         \
        });                                                                                 \
    }                                                                                       \
    fmi3Status fmi3Set##T(fmi3Instance instance, const fmi3ValueReference vr[], size_t nvr, \
                          const fmi3##T values[], size_t nValues) {                         \
        return on_instance(instance, Call::fmi3Set##T, [&](Slave& s, const char* fn) {      \
            return set_values(s, fn, #T, vr, nvr, values, nValues);                         \
        });                                                                                 \
    }
GUIDEW_FMI3_VALUES(Float32)
GUIDEW_FMI3_VALUES(Float64)
GUIDEW_FMI3_VALUES(Int8)
GUIDEW_FMI3_VALUES(UInt8)
GUIDEW_FMI3_VALUES(Int16)
GUIDEW_FMI3_VALUES(UInt16)
GUIDEW_FMI3_VALUES(Int32)
GUIDEW_FMI3_VALUES(UInt32)
GUIDEW_FMI3_VALUES(Int64)
GUIDEW_FMI3_VALUES(UInt64)
GUIDEW_FMI3_VALUES(Boolean)
GUIDEW_FMI3_VALUES(String)
#undef GUIDEW_FMI3_VALUES

// Binary values come with their sizes; this FMU has none.
fmi3Status fmi3GetBinary(fmi3Instance instance, const fmi3ValueReference vr[], size_t nvr, size_t[],
                         fmi3Binary[], size_t) {
    return forward(instance, Call::fmi3GetBinary, &Slave::no_variables_of_type, "Binary", vr, nvr);
}

fmi3Status fmi3SetBinary(fmi3Instance instance, const fmi3ValueReference vr[], size_t nvr,
                         const size_t[], const fmi3Binary[], size_t) {
    return forward(instance, Call::fmi3SetBinary, &Slave::no_variables_of_type, "Binary", vr, nvr);
}

// ---- FMU states -------------------------------------------------------------------

GUIDEW_FMU_STATE_DEFINITIONS(fmi3, fmi3Instance instance, instance, FMUState, Deserialize)

// ---- Co-Simulation -------------------------------------------------------------------

fmi3Status fmi3DoStep(fmi3Instance instance, fmi3Float64 currentCommunicationPoint,
                      fmi3Float64 communicationStepSize, fmi3Boolean,
                      fmi3Boolean* eventHandlingNeeded, fmi3Boolean* terminateSimulation,
                      fmi3Boolean* earlyReturn, fmi3Float64* lastSuccessfulTime) {
    return on_instance(instance, Call::fmi3DoStep, [&](Slave& s, const char* fn) {
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

// ---- Refused: Model Exchange, Scheduled Execution, event mode, clocks, ... -----------
// Each answers with its reason from the list; the parameters are the
// standard's, unused.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define GUIDEW_FMI3_DEFINE_REFUSED(ret, name, params, why) \
    ret name params { return refused(instance, Call::name); }
GUIDEW_FMI3_REFUSED(GUIDEW_FMI3_DEFINE_REFUSED)
#undef GUIDEW_FMI3_DEFINE_REFUSED
#pragma GCC diagnostic pop

}  // extern "C"
