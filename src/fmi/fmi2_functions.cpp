// The FMI 2.0 Co-Simulation entry points: each finds its instance, checks
// the arguments only FMI 2.0 has, and hands over to the Slave. No exception
// leaves an entry point: out of memory is an error status like any other.
#include <cstring>
#include <new>
#include <string>

#include "fmi2_declarations.h"
#include "fmu_registry.h"
#include "fmu_slave.h"

using guidew_fmu::FmiVersion;
using guidew_fmu::Slave;
using guidew_fmu::Status;

namespace {

constexpr FmiVersion kVersion = FmiVersion::v2;

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

template <class Body>
fmi2Status on_instance(fmi2Component c, const char* fn, Body body) {
    return guidew_fmu::on_live_slave<fmi2Status>(c, fn, body);
}

fmi2Status not_supported(fmi2Component c, const char* fn, const char* why) {
    return on_instance(c, fn, [&](Slave& s) { return s.fail(fn, why); });
}

const char* const kCoSimulationOnly =
    "this FMU is for Co-Simulation only (no Model Exchange functions)";

}  // namespace

extern "C" {

const char* fmi2GetTypesPlatform(void) { return "default"; }
const char* fmi2GetVersion(void) { return "2.0"; }

fmi2Status fmi2SetDebugLogging(fmi2Component c, fmi2Boolean loggingOn, size_t nCategories,
                               const fmi2String categories[]) {
    const char* fn = "fmi2SetDebugLogging";
    return on_instance(c, fn, [&](Slave& s) {
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
    const auto refuse = [&](const char* why) -> fmi2Component {
        if (logger != nullptr) {
            logger(env, name.c_str(), fmi2Error, "logStatusError",
                   escaped(std::string("fmi2Instantiate: ") + why).c_str());
        }
        return nullptr;
    };
    if (instanceName == nullptr || *instanceName == '\0') return refuse("instanceName is empty");
    if (fmuType != fmi2CoSimulation) {
        return refuse("this FMU is for Co-Simulation only, not Model Exchange");
    }
    const std::string& guid = guidew_fmu::model_token(kVersion);
    if (fmuGUID == nullptr || guid != fmuGUID) {
        return refuse(
            ("the GUID does not match this binary's model description (expected " + guid + ")")
                .c_str());
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
    const char* fn = "fmi2SetupExperiment";
    return on_instance(c, fn, [&](Slave& s) {
        return s.setup_experiment(fn, startTime, stopTimeDefined != fmi2False, stopTime);
    });
}

fmi2Status fmi2EnterInitializationMode(fmi2Component c) {
    const char* fn = "fmi2EnterInitializationMode";
    return on_instance(c, fn, [&](Slave& s) { return s.enter_initialization(fn); });
}

fmi2Status fmi2ExitInitializationMode(fmi2Component c) {
    const char* fn = "fmi2ExitInitializationMode";
    return on_instance(c, fn, [&](Slave& s) { return s.exit_initialization(fn); });
}

fmi2Status fmi2Terminate(fmi2Component c) {
    const char* fn = "fmi2Terminate";
    return on_instance(c, fn, [&](Slave& s) { return s.terminate(fn); });
}

fmi2Status fmi2Reset(fmi2Component c) {
    const char* fn = "fmi2Reset";
    return on_instance(c, fn, [&](Slave& s) { return s.reset(fn); });
}

// ---- Values ----------------------------------------------------------------------

fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                       fmi2Real value[]) {
    const char* fn = "fmi2GetReal";
    return on_instance(c, fn, [&](Slave& s) { return s.get_real(fn, vr, nvr, value, nvr); });
}

fmi2Status fmi2GetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          fmi2Integer value[]) {
    const char* fn = "fmi2GetInteger";
    return on_instance(c, fn, [&](Slave& s) {
        if (nvr > 0 && value == nullptr) return s.fail(fn, "the value array is null");
        for (size_t i = 0; i < nvr; ++i) {
            uint32_t v = 0;
            const Status st = s.get_integer(fn, vr != nullptr ? &vr[i] : nullptr, 1, &v, 1);
            if (st != Status::ok) return st;
            value[i] = static_cast<fmi2Integer>(v);  // at most 11 in any useful table
        }
        return Status::ok;
    });
}

fmi2Status fmi2GetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          fmi2Boolean value[]) {
    const char* fn = "fmi2GetBoolean";
    return on_instance(c, fn, [&](Slave& s) {
        if (nvr > 0 && value == nullptr) return s.fail(fn, "the value array is null");
        for (size_t i = 0; i < nvr; ++i) {
            bool v = false;
            const Status st = s.get_boolean(fn, vr != nullptr ? &vr[i] : nullptr, 1, &v, 1);
            if (st != Status::ok) return st;
            value[i] = v ? fmi2True : fmi2False;
        }
        return Status::ok;
    });
}

fmi2Status fmi2GetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2String[]) {
    const char* fn = "fmi2GetString";
    return on_instance(c, fn, [&](Slave& s) {
        if (s.require_readable(fn) != Status::ok) return Status::error;
        return s.no_variables_of_type(fn, "String", vr, nvr);
    });
}

fmi2Status fmi2SetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                       const fmi2Real value[]) {
    const char* fn = "fmi2SetReal";
    return on_instance(c, fn, [&](Slave& s) { return s.set_real(fn, vr, nvr, value, nvr); });
}

fmi2Status fmi2SetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          const fmi2Integer value[]) {
    const char* fn = "fmi2SetInteger";
    return on_instance(c, fn, [&](Slave& s) {
        if (nvr > 0 && (value == nullptr || vr == nullptr)) {
            return s.fail(fn, "the value or value reference array is null");
        }
        // The record holds unsigned indices: check every value before any
        // is written.
        std::basic_string<uint32_t> converted;
        for (size_t i = 0; i < nvr; ++i) {
            if (value[i] < 0) {
                const guidew_fmu::Variable* v = s.variable_of(fn, vr[i], guidew_fmu::Base::integer);
                if (v == nullptr) return Status::error;
                return s.fail(fn, v->name + " cannot be negative (" + std::to_string(value[i]) +
                                      "): it is a table index");
            }
            converted += static_cast<uint32_t>(value[i]);
        }
        return s.set_integer(fn, vr, nvr, converted.data(), nvr);
    });
}

fmi2Status fmi2SetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          const fmi2Boolean[]) {
    const char* fn = "fmi2SetBoolean";
    return on_instance(c, fn, [&](Slave& s) {
        if (nvr == 0) return Status::ok;
        if (vr == nullptr) return s.fail(fn, "the value reference array is null");
        if (s.variable_of(fn, vr[0], guidew_fmu::Base::boolean) == nullptr) return Status::error;
        return s.fail(fn, "overrun is a local variable: the law keeps it");
    });
}

fmi2Status fmi2SetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                         const fmi2String[]) {
    const char* fn = "fmi2SetString";
    return on_instance(c, fn,
                       [&](Slave& s) { return s.no_variables_of_type(fn, "String", vr, nvr); });
}

// ---- FMU states -----------------------------------------------------------------

fmi2Status fmi2GetFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
    const char* fn = "fmi2GetFMUstate";
    return on_instance(c, fn, [&](Slave& s) { return s.get_state(fn, FMUstate); });
}

fmi2Status fmi2SetFMUstate(fmi2Component c, fmi2FMUstate FMUstate) {
    const char* fn = "fmi2SetFMUstate";
    return on_instance(c, fn, [&](Slave& s) { return s.set_state(fn, FMUstate); });
}

fmi2Status fmi2FreeFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
    const char* fn = "fmi2FreeFMUstate";
    return on_instance(c, fn, [&](Slave& s) { return s.free_state(fn, FMUstate); });
}

fmi2Status fmi2SerializedFMUstateSize(fmi2Component c, fmi2FMUstate FMUstate, size_t* size) {
    const char* fn = "fmi2SerializedFMUstateSize";
    return on_instance(c, fn, [&](Slave& s) { return s.serialized_size(fn, FMUstate, size); });
}

fmi2Status fmi2SerializeFMUstate(fmi2Component c, fmi2FMUstate FMUstate, fmi2Byte serializedState[],
                                 size_t size) {
    const char* fn = "fmi2SerializeFMUstate";
    return on_instance(c, fn, [&](Slave& s) {
        return s.serialize(fn, FMUstate, reinterpret_cast<unsigned char*>(serializedState), size);
    });
}

fmi2Status fmi2DeSerializeFMUstate(fmi2Component c, const fmi2Byte serializedState[], size_t size,
                                   fmi2FMUstate* FMUstate) {
    const char* fn = "fmi2DeSerializeFMUstate";
    return on_instance(c, fn, [&](Slave& s) {
        return s.deserialize(fn, reinterpret_cast<const unsigned char*>(serializedState), size,
                             FMUstate);
    });
}

fmi2Status fmi2GetDirectionalDerivative(fmi2Component c, const fmi2ValueReference[], size_t,
                                        const fmi2ValueReference[], size_t, const fmi2Real[],
                                        fmi2Real[]) {
    return not_supported(c, "fmi2GetDirectionalDerivative",
                         "directional derivatives are not provided "
                         "(providesDirectionalDerivative=\"false\")");
}

// ---- Model Exchange: refused ----------------------------------------------------

fmi2Status fmi2EnterEventMode(fmi2Component c) {
    return not_supported(c, "fmi2EnterEventMode", kCoSimulationOnly);
}
fmi2Status fmi2NewDiscreteStates(fmi2Component c, fmi2EventInfo*) {
    return not_supported(c, "fmi2NewDiscreteStates", kCoSimulationOnly);
}
fmi2Status fmi2EnterContinuousTimeMode(fmi2Component c) {
    return not_supported(c, "fmi2EnterContinuousTimeMode", kCoSimulationOnly);
}
fmi2Status fmi2CompletedIntegratorStep(fmi2Component c, fmi2Boolean, fmi2Boolean*, fmi2Boolean*) {
    return not_supported(c, "fmi2CompletedIntegratorStep", kCoSimulationOnly);
}
fmi2Status fmi2SetTime(fmi2Component c, fmi2Real) {
    return not_supported(c, "fmi2SetTime", kCoSimulationOnly);
}
fmi2Status fmi2SetContinuousStates(fmi2Component c, const fmi2Real[], size_t) {
    return not_supported(c, "fmi2SetContinuousStates", kCoSimulationOnly);
}
fmi2Status fmi2GetDerivatives(fmi2Component c, fmi2Real[], size_t) {
    return not_supported(c, "fmi2GetDerivatives", kCoSimulationOnly);
}
fmi2Status fmi2GetEventIndicators(fmi2Component c, fmi2Real[], size_t) {
    return not_supported(c, "fmi2GetEventIndicators", kCoSimulationOnly);
}
fmi2Status fmi2GetContinuousStates(fmi2Component c, fmi2Real[], size_t) {
    return not_supported(c, "fmi2GetContinuousStates", kCoSimulationOnly);
}
fmi2Status fmi2GetNominalsOfContinuousStates(fmi2Component c, fmi2Real[], size_t) {
    return not_supported(c, "fmi2GetNominalsOfContinuousStates", kCoSimulationOnly);
}

// ---- Co-Simulation -------------------------------------------------------------

fmi2Status fmi2SetRealInputDerivatives(fmi2Component c, const fmi2ValueReference[], size_t,
                                       const fmi2Integer[], const fmi2Real[]) {
    return not_supported(c, "fmi2SetRealInputDerivatives",
                         "inputs are held over a step, not interpolated "
                         "(canInterpolateInputs=\"false\")");
}

fmi2Status fmi2GetRealOutputDerivatives(fmi2Component c, const fmi2ValueReference[], size_t,
                                        const fmi2Integer[], fmi2Real[]) {
    return not_supported(c, "fmi2GetRealOutputDerivatives",
                         "output derivatives are not provided (maxOutputDerivativeOrder=\"0\")");
}

fmi2Status fmi2DoStep(fmi2Component c, fmi2Real currentCommunicationPoint,
                      fmi2Real communicationStepSize, fmi2Boolean) {
    const char* fn = "fmi2DoStep";
    return on_instance(c, fn, [&](Slave& s) {
        return s.do_step(fn, currentCommunicationPoint, communicationStepSize);
    });
}

fmi2Status fmi2CancelStep(fmi2Component c) {
    return not_supported(c, "fmi2CancelStep",
                         "no step is in progress: every fmi2DoStep completes before it returns");
}

fmi2Status fmi2GetStatus(fmi2Component c, const fmi2StatusKind, fmi2Status*) {
    const char* fn = "fmi2GetStatus";
    return on_instance(c, fn, [&](Slave& s) {
        s.log(Status::discard, guidew_fmu::kLogStatusWarning,
              std::string(fn) + ": no asynchronous step is ever pending");
        return Status::discard;
    });
}

fmi2Status fmi2GetRealStatus(fmi2Component c, const fmi2StatusKind kind, fmi2Real* value) {
    const char* fn = "fmi2GetRealStatus";
    return on_instance(c, fn, [&](Slave& s) {
        if (s.require_readable(fn) != Status::ok) return Status::error;
        if (value == nullptr) return s.fail(fn, "value is null");
        if (kind != fmi2LastSuccessfulTime) {
            s.log(Status::discard, guidew_fmu::kLogStatusWarning,
                  std::string(fn) + ": only fmi2LastSuccessfulTime is a Real status");
            return Status::discard;
        }
        *value = s.time();
        return Status::ok;
    });
}

fmi2Status fmi2GetIntegerStatus(fmi2Component c, const fmi2StatusKind, fmi2Integer*) {
    const char* fn = "fmi2GetIntegerStatus";
    return on_instance(c, fn, [&](Slave& s) {
        s.log(Status::discard, guidew_fmu::kLogStatusWarning,
              std::string(fn) + ": there is no Integer status");
        return Status::discard;
    });
}

fmi2Status fmi2GetBooleanStatus(fmi2Component c, const fmi2StatusKind kind, fmi2Boolean* value) {
    const char* fn = "fmi2GetBooleanStatus";
    return on_instance(c, fn, [&](Slave& s) {
        if (s.require_readable(fn) != Status::ok) return Status::error;
        if (value == nullptr) return s.fail(fn, "value is null");
        if (kind != fmi2Terminated) {
            s.log(Status::discard, guidew_fmu::kLogStatusWarning,
                  std::string(fn) + ": only fmi2Terminated is a Boolean status");
            return Status::discard;
        }
        *value = fmi2False;  // the law never asks to end the simulation
        return Status::ok;
    });
}

fmi2Status fmi2GetStringStatus(fmi2Component c, const fmi2StatusKind, fmi2String*) {
    const char* fn = "fmi2GetStringStatus";
    return on_instance(c, fn, [&](Slave& s) {
        s.log(Status::discard, guidew_fmu::kLogStatusWarning,
              std::string(fn) + ": there is no String status (no step is ever pending)");
        return Status::discard;
    });
}

}  // extern "C"
