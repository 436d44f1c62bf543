// The FMI 3.0 Co-Simulation entry points: each finds its instance, which
// checks the call against the entry point's rule (the list in
// fmi3_declarations.h), then checks the arguments only FMI 3.0 has and hands
// over to the Slave. The functions of Model Exchange, Scheduled Execution,
// event mode, clocks and configuration mode are refused with their reason.
// No exception leaves an entry point.
#include <string>

#include "call_rules.h"
#include "fmi3_declarations.h"
#include "fmu_registry.h"
#include "fmu_slave.h"

using guidew_fmu::Base;
using guidew_fmu::FmiVersion;
using guidew_fmu::Slave;
using guidew_fmu::Status;

namespace {

constexpr FmiVersion kVersion = FmiVersion::v3;

// Every entry point by name, and its rule (in the same order).
enum class Call : unsigned { GUIDEW_FMI3_SERVED(GUIDEW_CALL_ID) GUIDEW_FMI3_REFUSED(GUIDEW_CALL_ID) };
using guidew_fmu::kEveryState;
using guidew_fmu::kInitialization;
using guidew_fmu::kInstantiated;
using guidew_fmu::kStepping;
using guidew_fmu::kWithoutInstance;
using guidew_fmu::kWritable;
constexpr guidew_fmu::CallRule kRules[] = {GUIDEW_FMI3_SERVED(GUIDEW_SERVED_RULE)
                                               GUIDEW_FMI3_REFUSED(GUIDEW_REFUSED_RULE)};

constexpr const guidew_fmu::CallRule& rule(Call call) { return kRules[static_cast<unsigned>(call)]; }

fmi3Status to_fmi3(Status s) { return static_cast<fmi3Status>(s); }

// Runs body(slave, name) for the call on a live instance, if its rule lets it.
template <class Body>
fmi3Status on_instance(fmi3Instance instance, Call call, Body body) {
    return guidew_fmu::on_live_slave<fmi3Status>(instance, rule(call), body);
}

fmi3Status refused(fmi3Instance instance, Call call) {
    return on_instance(instance, call, [](Slave&, const char*) { return Status::error; });
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

fmi3Status fmi3SetDebugLogging(fmi3Instance instance, fmi3Boolean loggingOn, size_t nCategories,
                               const fmi3String categories[]) {
    return on_instance(instance, Call::fmi3SetDebugLogging, [&](Slave& s, const char* fn) {
        return s.set_debug_logging(fn, loggingOn, nCategories, categories);
    });
}

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

// FMI 3.0 sets the experiment up on entering initialisation.
fmi3Status fmi3EnterInitializationMode(fmi3Instance instance, fmi3Boolean, fmi3Float64,
                                       fmi3Float64 startTime, fmi3Boolean stopTimeDefined,
                                       fmi3Float64 stopTime) {
    return on_instance(instance, Call::fmi3EnterInitializationMode, [&](Slave& s, const char* fn) {
        const Status st = s.setup_experiment(fn, startTime, stopTimeDefined, stopTime);
        return st != Status::ok ? st : s.enter_initialization();
    });
}

fmi3Status fmi3ExitInitializationMode(fmi3Instance instance) {
    return on_instance(instance, Call::fmi3ExitInitializationMode,
                       [](Slave& s, const char* fn) { return s.exit_initialization(fn); });
}

fmi3Status fmi3Terminate(fmi3Instance instance) {
    return on_instance(instance, Call::fmi3Terminate,
                       [](Slave& s, const char* fn) { return s.terminate(fn); });
}

fmi3Status fmi3Reset(fmi3Instance instance) {
    return on_instance(instance, Call::fmi3Reset,
                       [](Slave& s, const char* fn) { return s.reset(fn); });
}

// ---- Values ----------------------------------------------------------------------
// The types this FMU has variables of, each read and written through the
// one typed path of the Slave.
#define GUIDEW_FMI3_VALUES(T, BASE)                                                           \
    fmi3Status fmi3Get##T(fmi3Instance instance, const fmi3ValueReference vr[], size_t nvr,   \
                          fmi3##T values[], size_t nValues) {                                 \
        return on_instance(instance, Call::fmi3Get##T, [&](Slave& s, const char* fn) {        \
            return s.get(fn, BASE, vr, nvr, values, nValues);                                 \
        });                                                                                   \
    }                                                                                         \
    fmi3Status fmi3Set##T(fmi3Instance instance, const fmi3ValueReference vr[], size_t nvr,   \
                          const fmi3##T values[], size_t nValues) {                           \
        return on_instance(instance, Call::fmi3Set##T, [&](Slave& s, const char* fn) {        \
            return s.set(fn, BASE, vr, nvr, values, nValues);                                 \
        });                                                                                   \
    }
GUIDEW_FMI3_VALUES(Float64, Base::real)
GUIDEW_FMI3_VALUES(UInt32, Base::integer)
GUIDEW_FMI3_VALUES(Boolean, Base::boolean)
#undef GUIDEW_FMI3_VALUES

// The types this FMU has no variable of: an empty request succeeds, any
// value reference is unknown.
#define GUIDEW_FMI3_NO_VARIABLES(T)                                                      \
    fmi3Status fmi3Get##T(fmi3Instance instance, const fmi3ValueReference vr[], size_t nvr,   \
                          fmi3##T[], size_t) {                                                 \
        return on_instance(instance, Call::fmi3Get##T, [&](Slave& s, const char* fn) {        \
            return s.no_variables_of_type(fn, #T, vr, nvr);                                   \
        });                                                                                   \
    }                                                                                         \
    fmi3Status fmi3Set##T(fmi3Instance instance, const fmi3ValueReference vr[], size_t nvr,   \
                          const fmi3##T[], size_t) {                                           \
        return on_instance(instance, Call::fmi3Set##T, [&](Slave& s, const char* fn) {        \
            return s.no_variables_of_type(fn, #T, vr, nvr);                                   \
        });                                                                                   \
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
    return on_instance(instance, Call::fmi3GetBinary, [&](Slave& s, const char* fn) {
        return s.no_variables_of_type(fn, "Binary", vr, nvr);
    });
}

fmi3Status fmi3SetBinary(fmi3Instance instance, const fmi3ValueReference vr[], size_t nvr,
                         const size_t[], const fmi3Binary[], size_t) {
    return on_instance(instance, Call::fmi3SetBinary, [&](Slave& s, const char* fn) {
        return s.no_variables_of_type(fn, "Binary", vr, nvr);
    });
}

// ---- FMU states -------------------------------------------------------------------

fmi3Status fmi3GetFMUState(fmi3Instance instance, fmi3FMUState* FMUState) {
    return on_instance(instance, Call::fmi3GetFMUState,
                       [&](Slave& s, const char* fn) { return s.get_state(fn, FMUState); });
}

fmi3Status fmi3SetFMUState(fmi3Instance instance, fmi3FMUState FMUState) {
    return on_instance(instance, Call::fmi3SetFMUState,
                       [&](Slave& s, const char* fn) { return s.set_state(fn, FMUState); });
}

fmi3Status fmi3FreeFMUState(fmi3Instance instance, fmi3FMUState* FMUState) {
    return on_instance(instance, Call::fmi3FreeFMUState,
                       [&](Slave& s, const char* fn) { return s.free_state(fn, FMUState); });
}

fmi3Status fmi3SerializedFMUStateSize(fmi3Instance instance, fmi3FMUState FMUState, size_t* size) {
    return on_instance(instance, Call::fmi3SerializedFMUStateSize, [&](Slave& s, const char* fn) {
        return s.serialized_size(fn, FMUState, size);
    });
}

fmi3Status fmi3SerializeFMUState(fmi3Instance instance, fmi3FMUState FMUState,
                                 fmi3Byte serializedState[], size_t size) {
    return on_instance(instance, Call::fmi3SerializeFMUState, [&](Slave& s, const char* fn) {
        return s.serialize(fn, FMUState, serializedState, size);
    });
}

fmi3Status fmi3DeserializeFMUState(fmi3Instance instance, const fmi3Byte serializedState[],
                                   size_t size, fmi3FMUState* FMUState) {
    return on_instance(instance, Call::fmi3DeserializeFMUState, [&](Slave& s, const char* fn) {
        return s.deserialize(fn, serializedState, size, FMUState);
    });
}

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
