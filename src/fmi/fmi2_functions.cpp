// The FMI 2.0 Co-Simulation entry points: each finds its instance, which
// checks the call against the entry point's rule (the list in
// fmi2_declarations.h), then checks the arguments only FMI 2.0 has and hands
// over to the Slave. No exception leaves an entry point: out of memory is an
// error status like any other.
#include <string>

#include "call_rules.h"
#include "fmi2_declarations.h"
#include "fmu_registry.h"
#include "fmu_slave.h"

using guidew_fmu::Base;
using guidew_fmu::FmiVersion;
using guidew_fmu::Slave;
using guidew_fmu::Status;

namespace {

constexpr FmiVersion kVersion = FmiVersion::v2;

// Every entry point by name, and its rule (in the same order).
enum class Call : unsigned { GUIDEW_FMI2_SERVED(GUIDEW_CALL_ID) GUIDEW_FMI2_REFUSED(GUIDEW_CALL_ID) };
using guidew_fmu::kEveryState;
using guidew_fmu::kInitialization;
using guidew_fmu::kInstantiated;
using guidew_fmu::kStepping;
using guidew_fmu::kWithoutInstance;
using guidew_fmu::kWritable;
constexpr guidew_fmu::CallRule kRules[] = {GUIDEW_FMI2_SERVED(GUIDEW_SERVED_RULE)
                                               GUIDEW_FMI2_REFUSED(GUIDEW_REFUSED_RULE)};

constexpr const guidew_fmu::CallRule& rule(Call call) { return kRules[static_cast<unsigned>(call)]; }

fmi2Status to_fmi2(Status s) { return static_cast<fmi2Status>(s); }

// FMI 2.0 log messages are printf formats in which "#<type><vr>#" names a
// variable: a plain text needs its '%' and '#' doubled.
std::string escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        out += c;
        if (c == '%' || c == '#') out += c;
    }
    return out;
}

// Runs body(slave, name) for the call on a live instance, if its rule lets it.
template <class Body>
fmi2Status on_instance(fmi2Component c, Call call, Body body) {
    return guidew_fmu::on_live_slave<fmi2Status>(c, rule(call), body);
}

fmi2Status refused(fmi2Component c, Call call) {
    return on_instance(c, call, [](Slave&, const char*) { return Status::error; });
}

}  // namespace

extern "C" {

const char* fmi2GetTypesPlatform(void) { return "default"; }
const char* fmi2GetVersion(void) { return "2.0"; }

fmi2Status fmi2SetDebugLogging(fmi2Component c, fmi2Boolean loggingOn, size_t nCategories,
                               const fmi2String categories[]) {
    return on_instance(c, Call::fmi2SetDebugLogging, [&](Slave& s, const char* fn) {
        return s.set_debug_logging(fn, loggingOn != fmi2False, nCategories, categories);
    });
}

fmi2Component fmi2Instantiate(fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID,
                              fmi2String, const fmi2CallbackFunctions* functions, fmi2Boolean,
                              fmi2Boolean loggingOn) {
    if (functions == nullptr) return nullptr;
    const fmi2CallbackLogger logger = functions->logger;
    void* const env = functions->componentEnvironment;
    const std::string name = instanceName != nullptr ? instanceName : "";
    const auto refuse = [&](const std::string& why) -> fmi2Component {
        if (logger != nullptr) {
            logger(env, name.c_str(), fmi2Error, "logStatusError",
                   escaped(std::string(rule(Call::fmi2Instantiate).name) + ": " + why).c_str());
        }
        return nullptr;
    };
    if (instanceName == nullptr || *instanceName == '\0') return refuse("instanceName is empty");
    if (fmuType != fmi2CoSimulation) {
        return refuse("this FMU is for Co-Simulation only, not Model Exchange");
    }
    const std::string& guid = guidew_fmu::model_token(kVersion);
    if (fmuGUID == nullptr || guid != fmuGUID) {
        return refuse("the GUID does not match this binary's model description (expected " + guid +
                      ")");
    }
    try {
        auto sink = [logger, env, name](Status st, const char* category, const std::string& m) {
            if (logger != nullptr) {
                logger(env, name.c_str(), to_fmi2(st), category, escaped(m).c_str());
            }
        };
        Slave* s = guidew_fmu::create_registered_slave(kVersion, name, sink, loggingOn != fmi2False);
        return s != nullptr ? s : refuse("out of memory");
    } catch (...) {
        return refuse("out of memory");
    }
}

void fmi2FreeInstance(fmi2Component c) {
    Slave* s = static_cast<Slave*>(c);
    if (guidew_fmu::unregister_slave(s)) delete s;
}

fmi2Status fmi2SetupExperiment(fmi2Component c, fmi2Boolean, fmi2Real, fmi2Real startTime,
                               fmi2Boolean stopTimeDefined, fmi2Real stopTime) {
    return on_instance(c, Call::fmi2SetupExperiment, [&](Slave& s, const char* fn) {
        return s.setup_experiment(fn, startTime, stopTimeDefined != fmi2False, stopTime);
    });
}

fmi2Status fmi2EnterInitializationMode(fmi2Component c) {
    return on_instance(c, Call::fmi2EnterInitializationMode,
                       [](Slave& s, const char*) { return s.enter_initialization(); });
}

fmi2Status fmi2ExitInitializationMode(fmi2Component c) {
    return on_instance(c, Call::fmi2ExitInitializationMode,
                       [](Slave& s, const char* fn) { return s.exit_initialization(fn); });
}

fmi2Status fmi2Terminate(fmi2Component c) {
    return on_instance(c, Call::fmi2Terminate,
                       [](Slave& s, const char* fn) { return s.terminate(fn); });
}

fmi2Status fmi2Reset(fmi2Component c) {
    return on_instance(c, Call::fmi2Reset, [](Slave& s, const char* fn) { return s.reset(fn); });
}

// ---- Values ----------------------------------------------------------------------
// FMI 2.0 passes one value per value reference: nValues is nvr.

fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                       fmi2Real value[]) {
    return on_instance(c, Call::fmi2GetReal, [&](Slave& s, const char* fn) {
        return s.get(fn, Base::real, vr, nvr, value, nvr);
    });
}

fmi2Status fmi2GetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          fmi2Integer value[]) {
    return on_instance(c, Call::fmi2GetInteger, [&](Slave& s, const char* fn) {
        return s.get(fn, Base::integer, vr, nvr, value, nvr);
    });
}

fmi2Status fmi2GetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          fmi2Boolean value[]) {
    return on_instance(c, Call::fmi2GetBoolean, [&](Slave& s, const char* fn) {
        return s.get(fn, Base::boolean, vr, nvr, value, nvr);
    });
}

fmi2Status fmi2GetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2String[]) {
    return on_instance(c, Call::fmi2GetString, [&](Slave& s, const char* fn) {
        return s.no_variables_of_type(fn, "String", vr, nvr);
    });
}

fmi2Status fmi2SetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                       const fmi2Real value[]) {
    return on_instance(c, Call::fmi2SetReal, [&](Slave& s, const char* fn) {
        return s.set(fn, Base::real, vr, nvr, value, nvr);
    });
}

fmi2Status fmi2SetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          const fmi2Integer value[]) {
    return on_instance(c, Call::fmi2SetInteger, [&](Slave& s, const char* fn) {
        return s.set(fn, Base::integer, vr, nvr, value, nvr);
    });
}

fmi2Status fmi2SetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          const fmi2Boolean value[]) {
    return on_instance(c, Call::fmi2SetBoolean, [&](Slave& s, const char* fn) {
        return s.set(fn, Base::boolean, vr, nvr, value, nvr);
    });
}

fmi2Status fmi2SetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                         const fmi2String[]) {
    return on_instance(c, Call::fmi2SetString, [&](Slave& s, const char* fn) {
        return s.no_variables_of_type(fn, "String", vr, nvr);
    });
}

// ---- FMU states -----------------------------------------------------------------

fmi2Status fmi2GetFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
    return on_instance(c, Call::fmi2GetFMUstate,
                       [&](Slave& s, const char* fn) { return s.get_state(fn, FMUstate); });
}

fmi2Status fmi2SetFMUstate(fmi2Component c, fmi2FMUstate FMUstate) {
    return on_instance(c, Call::fmi2SetFMUstate,
                       [&](Slave& s, const char* fn) { return s.set_state(fn, FMUstate); });
}

fmi2Status fmi2FreeFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
    return on_instance(c, Call::fmi2FreeFMUstate,
                       [&](Slave& s, const char* fn) { return s.free_state(fn, FMUstate); });
}

fmi2Status fmi2SerializedFMUstateSize(fmi2Component c, fmi2FMUstate FMUstate, size_t* size) {
    return on_instance(c, Call::fmi2SerializedFMUstateSize, [&](Slave& s, const char* fn) {
        return s.serialized_size(fn, FMUstate, size);
    });
}

fmi2Status fmi2SerializeFMUstate(fmi2Component c, fmi2FMUstate FMUstate, fmi2Byte serializedState[],
                                 size_t size) {
    return on_instance(c, Call::fmi2SerializeFMUstate, [&](Slave& s, const char* fn) {
        return s.serialize(fn, FMUstate, reinterpret_cast<unsigned char*>(serializedState), size);
    });
}

fmi2Status fmi2DeSerializeFMUstate(fmi2Component c, const fmi2Byte serializedState[], size_t size,
                                   fmi2FMUstate* FMUstate) {
    return on_instance(c, Call::fmi2DeSerializeFMUstate, [&](Slave& s, const char* fn) {
        return s.deserialize(fn, reinterpret_cast<const unsigned char*>(serializedState), size,
                             FMUstate);
    });
}

// ---- Co-Simulation -------------------------------------------------------------

fmi2Status fmi2DoStep(fmi2Component c, fmi2Real currentCommunicationPoint,
                      fmi2Real communicationStepSize, fmi2Boolean) {
    return on_instance(c, Call::fmi2DoStep, [&](Slave& s, const char* fn) {
        return s.do_step(fn, currentCommunicationPoint, communicationStepSize);
    });
}

fmi2Status fmi2GetStatus(fmi2Component c, const fmi2StatusKind, fmi2Status*) {
    return on_instance(c, Call::fmi2GetStatus, [](Slave& s, const char* fn) {
        return s.discard(fn, "no asynchronous step is ever pending");
    });
}

fmi2Status fmi2GetRealStatus(fmi2Component c, const fmi2StatusKind kind, fmi2Real* value) {
    return on_instance(c, Call::fmi2GetRealStatus, [&](Slave& s, const char* fn) {
        if (value == nullptr) return s.fail(fn, "value is null");
        if (kind != fmi2LastSuccessfulTime) {
            return s.discard(fn, "only fmi2LastSuccessfulTime is a Real status");
        }
        *value = s.time();
        return Status::ok;
    });
}

fmi2Status fmi2GetIntegerStatus(fmi2Component c, const fmi2StatusKind, fmi2Integer*) {
    return on_instance(c, Call::fmi2GetIntegerStatus, [](Slave& s, const char* fn) {
        return s.discard(fn, "there is no Integer status");
    });
}

fmi2Status fmi2GetBooleanStatus(fmi2Component c, const fmi2StatusKind kind, fmi2Boolean* value) {
    return on_instance(c, Call::fmi2GetBooleanStatus, [&](Slave& s, const char* fn) {
        if (value == nullptr) return s.fail(fn, "value is null");
        if (kind != fmi2Terminated) {
            return s.discard(fn, "only fmi2Terminated is a Boolean status");
        }
        *value = fmi2False;  // the law never asks to end the simulation
        return Status::ok;
    });
}

fmi2Status fmi2GetStringStatus(fmi2Component c, const fmi2StatusKind, fmi2String*) {
    return on_instance(c, Call::fmi2GetStringStatus, [](Slave& s, const char* fn) {
        return s.discard(fn, "there is no String status (no step is ever pending)");
    });
}

// ---- Refused: Model Exchange and what this FMU does not provide --------------------
// Each answers with its reason from the list; the parameters are the
// standard's, unused.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define GUIDEW_FMI2_DEFINE_REFUSED(ret, name, params, why) \
    ret name params { return refused(c, Call::name); }
GUIDEW_FMI2_REFUSED(GUIDEW_FMI2_DEFINE_REFUSED)
#undef GUIDEW_FMI2_DEFINE_REFUSED
#pragma GCC diagnostic pop

}  // extern "C"
