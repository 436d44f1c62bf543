// The FMI 2.0 Co-Simulation entry points: each finds its instance, which
// checks the call against the entry point's rule (the list in
// fmi2_declarations.h), then checks the arguments only FMI 2.0 has and hands
// over to the Slave. No exception leaves an entry point: out of memory is an
// error status like any other.
#include <string>

#include "entry_points.h"
#include "fmi2_declarations.h"

namespace {

GUIDEW_FMU_ENTRY_POINTS(guidew_fmu::FmiVersion::v2, fmi2Status, GUIDEW_FMI2_SERVED,
                        GUIDEW_FMI2_REFUSED)

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

// A status the FMU answers for one kind only (answer(slave)); asked for
// another kind, it has no answer: discard, saying which kind it answers.
template <class T, class Answer>
fmi2Status status_answer(fmi2Component c, Call call, fmi2StatusKind kind, fmi2StatusKind answered,
                         const char* only_answered, T* value, Answer answer) {
    return on_instance(c, call, [&](Slave& s, const char* fn) {
        if (value == nullptr) return s.fail(fn, "value is null");
        if (kind != answered) {
            return s.discard(fn, only_answered);
        }
        *value = answer(s);
        return Status::ok;
    });
}

}  // namespace

extern "C" {

const char* fmi2GetTypesPlatform(void) { return "default"; }
const char* fmi2GetVersion(void) { return "2.0"; }

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
                logger(env, name.c_str(), to_status(st), category, escaped(m).c_str());
            }
        };
        Slave* s =
            guidew_fmu::create_registered_slave(kVersion, name, sink, loggingOn != fmi2False);
        return s != nullptr ? s : refuse("out of memory");
    } catch (...) {
        return refuse("out of memory");
    }
}

GUIDEW_SHARED_DEFINITIONS(fmi2, fmi2Component c, c)

fmi2Status fmi2SetupExperiment(fmi2Component c, fmi2Boolean, fmi2Real, fmi2Real startTime,
                               fmi2Boolean stopTimeDefined, fmi2Real stopTime) {
    return forward(c, Call::fmi2SetupExperiment, &Slave::setup_experiment, startTime,
                   stopTimeDefined != fmi2False, stopTime);
}

fmi2Status fmi2EnterInitializationMode(fmi2Component c) {
    return forward(c, Call::fmi2EnterInitializationMode, &Slave::enter_initialization);
}

// ---- Values ----------------------------------------------------------------------
// FMI 2.0 passes one value per value reference (nValues is nvr), each type
// through the Slave's one typed path; there are no String variables.
#define GUIDEW_FMI2_VALUES(T, BASE)                                                           \
    fmi2Status fmi2Get##T(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,         \
                          fmi2##T value[]) {                                                  \
        return forward(c, Call::fmi2Get##T, &Slave::get<fmi2##T>, BASE, vr, nvr, value, nvr); \
    }                                                                                         \
    fmi2Status fmi2Set##T(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,         \
                          const fmi2##T value[]) {                                            \
        return forward(c, Call::fmi2Set##T, &Slave::set<fmi2##T>, BASE, vr, nvr, value, nvr); \
    }
GUIDEW_FMI2_VALUES(Real, Base::real)
GUIDEW_FMI2_VALUES(Integer, Base::integer)
GUIDEW_FMI2_VALUES(Boolean, Base::boolean)
#undef GUIDEW_FMI2_VALUES

fmi2Status fmi2GetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2String[]) {
    return forward(c, Call::fmi2GetString, &Slave::no_variables_of_type, "String", vr, nvr);
}

fmi2Status fmi2SetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                         const fmi2String[]) {
    return forward(c, Call::fmi2SetString, &Slave::no_variables_of_type, "String", vr, nvr);
}

// ---- FMU states -----------------------------------------------------------------

GUIDEW_FMU_STATE_DEFINITIONS(fmi2, fmi2Component c, c, FMUstate, DeSerialize)

// ---- Co-Simulation -------------------------------------------------------------

fmi2Status fmi2DoStep(fmi2Component c, fmi2Real currentCommunicationPoint,
                      fmi2Real communicationStepSize, fmi2Boolean) {
    return forward(c, Call::fmi2DoStep, &Slave::do_step, currentCommunicationPoint,
                   communicationStepSize);
}

fmi2Status fmi2GetStatus(fmi2Component c, const fmi2StatusKind, fmi2Status*) {
    return forward(c, Call::fmi2GetStatus, &Slave::discard, "no asynchronous step is ever pending");
}

fmi2Status fmi2GetRealStatus(fmi2Component c, const fmi2StatusKind kind, fmi2Real* value) {
    return status_answer(c, Call::fmi2GetRealStatus, kind, fmi2LastSuccessfulTime,
                         "only fmi2LastSuccessfulTime is a Real status", value,
                         [](Slave& s) { return s.time(); });
}

fmi2Status fmi2GetIntegerStatus(fmi2Component c, const fmi2StatusKind, fmi2Integer*) {
    return forward(c, Call::fmi2GetIntegerStatus, &Slave::discard, "there is no Integer status");
}

fmi2Status fmi2GetBooleanStatus(fmi2Component c, const fmi2StatusKind kind, fmi2Boolean* value) {
    // The law never asks to end the simulation.
    return status_answer(c, Call::fmi2GetBooleanStatus, kind, fmi2Terminated,
                         "only fmi2Terminated is a Boolean status", value,
                         [](Slave&) { return fmi2False; });
}

fmi2Status fmi2GetStringStatus(fmi2Component c, const fmi2StatusKind, fmi2String*) {
    return forward(c, Call::fmi2GetStringStatus, &Slave::discard,
                   "there is no String status (no step is ever pending)");
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
