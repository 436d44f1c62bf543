/* The FMI 2.0 C interface as this FMU implements it: the platform types,
 * the callback structure a simulation tool hands over, and the functions
 * of the common and Co-Simulation parts (plus the Model Exchange part,
 * which this FMU exports only to refuse: it is Co-Simulation only).
 *
 * Written for this project from the function signatures and types the
 * FMI 2.0 standard publishes; the types are those of its "default" platform
 * (plain C types, fmi2Boolean an int). */
#ifndef GUIDEW_FMI2_DECLARATIONS_H
#define GUIDEW_FMI2_DECLARATIONS_H

#include <stddef.h>

#include "shared_calls.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void* fmi2Component;
typedef void* fmi2ComponentEnvironment;
typedef void* fmi2FMUstate;
typedef unsigned int fmi2ValueReference;
typedef double fmi2Real;
typedef int fmi2Integer;
typedef int fmi2Boolean;
typedef char fmi2Char;
typedef const fmi2Char* fmi2String;
typedef char fmi2Byte;

#define fmi2True 1
#define fmi2False 0

typedef enum { fmi2OK, fmi2Warning, fmi2Discard, fmi2Error, fmi2Fatal, fmi2Pending } fmi2Status;
typedef enum { fmi2ModelExchange, fmi2CoSimulation } fmi2Type;
typedef enum {
    fmi2DoStepStatus,
    fmi2PendingStatus,
    fmi2LastSuccessfulTime,
    fmi2Terminated
} fmi2StatusKind;

/* The message is a printf format; a literal '#' is written "##". */
typedef void (*fmi2CallbackLogger)(fmi2ComponentEnvironment env, fmi2String instanceName,
                                   fmi2Status status, fmi2String category, fmi2String message, ...);
typedef void* (*fmi2CallbackAllocateMemory)(size_t nobj, size_t size);
typedef void (*fmi2CallbackFreeMemory)(void* obj);
typedef void (*fmi2StepFinished)(fmi2ComponentEnvironment env, fmi2Status status);

typedef struct {
    const fmi2CallbackLogger logger;
    const fmi2CallbackAllocateMemory allocateMemory;
    const fmi2CallbackFreeMemory freeMemory;
    const fmi2StepFinished stepFinished;
    const fmi2ComponentEnvironment componentEnvironment;
} fmi2CallbackFunctions;

typedef struct {
    fmi2Boolean newDiscreteStatesNeeded;
    fmi2Boolean terminateSimulation;
    fmi2Boolean nominalsOfContinuousStatesChanged;
    fmi2Boolean valuesOfContinuousStatesChanged;
    fmi2Boolean nextEventTimeDefined;
    fmi2Real nextEventTime;
} fmi2EventInfo;

#define FMI2_EXPORT __attribute__((visibility("default")))

/* Every function this FMU exports, listed once: the declarations below, the
 * names its messages give and the rule table of when each is answered
 * (call_rules.h) all come from these two lists.
 *
 *   GUIDEW_FMI2_SERVED(X)   X(return type, name, (parameters), states)
 *       the states of the instance the function is answered in
 *       (kWithoutInstance: it makes, frees or describes an instance)
 *   GUIDEW_FMI2_REFUSED(X)  X(return type, name, (parameters), why)
 *       always refused with this reason: a feature this FMU does not have
 *       (the instance parameter is named c) */
#define GUIDEW_FMI2_CO_SIMULATION_ONLY \
    "this FMU is for Co-Simulation only (no Model Exchange functions)"

/* Getting and setting values of one type: read in every state, written
 * from instantiation until termination. */
#define GUIDEW_FMI2_VALUE_ACCESS(X, T)                                                            \
    X(fmi2Status, fmi2Get##T,                                                                     \
      (fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2##T value[]), kEveryState) \
    X(fmi2Status, fmi2Set##T,                                                                     \
      (fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2##T value[]),        \
      kWritable)

#define GUIDEW_FMI2_SERVED(X)                                                                    \
    /* Common to both interface types */                                                         \
    X(const char*, fmi2GetTypesPlatform, (void), kWithoutInstance)                               \
    X(const char*, fmi2GetVersion, (void), kWithoutInstance)                                     \
    GUIDEW_SHARED_CALLS(X, fmi2, fmi2Component c)                                                \
    X(fmi2Component, fmi2Instantiate,                                                            \
      (fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID,                            \
       fmi2String fmuResourceLocation, const fmi2CallbackFunctions* functions,                   \
       fmi2Boolean visible, fmi2Boolean loggingOn),                                              \
      kWithoutInstance)                                                                          \
    X(fmi2Status, fmi2SetupExperiment,                                                           \
      (fmi2Component c, fmi2Boolean toleranceDefined, fmi2Real tolerance, fmi2Real startTime,    \
       fmi2Boolean stopTimeDefined, fmi2Real stopTime),                                          \
      kInstantiated)                                                                             \
    X(fmi2Status, fmi2EnterInitializationMode, (fmi2Component c), kInstantiated)                 \
    GUIDEW_FMI2_VALUE_ACCESS(X, Real)                                                            \
    GUIDEW_FMI2_VALUE_ACCESS(X, Integer)                                                         \
    GUIDEW_FMI2_VALUE_ACCESS(X, Boolean)                                                         \
    GUIDEW_FMI2_VALUE_ACCESS(X, String)                                                          \
    GUIDEW_FMU_STATE_CALLS(X, fmi2, fmi2Component c, FMUstate, DeSerialize)                      \
    /* Co-Simulation */                                                                          \
    X(fmi2Status, fmi2DoStep,                                                                    \
      (fmi2Component c, fmi2Real currentCommunicationPoint, fmi2Real communicationStepSize,      \
       fmi2Boolean noSetFMUStatePriorToCurrentPoint),                                            \
      kStepping)                                                                                 \
    X(fmi2Status, fmi2GetStatus, (fmi2Component c, const fmi2StatusKind s, fmi2Status* value),   \
      kEveryState)                                                                               \
    X(fmi2Status, fmi2GetRealStatus, (fmi2Component c, const fmi2StatusKind s, fmi2Real* value), \
      kEveryState)                                                                               \
    X(fmi2Status, fmi2GetIntegerStatus,                                                          \
      (fmi2Component c, const fmi2StatusKind s, fmi2Integer* value), kEveryState)                \
    X(fmi2Status, fmi2GetBooleanStatus,                                                          \
      (fmi2Component c, const fmi2StatusKind s, fmi2Boolean* value), kEveryState)                \
    X(fmi2Status, fmi2GetStringStatus,                                                           \
      (fmi2Component c, const fmi2StatusKind s, fmi2String* value), kEveryState)

#define GUIDEW_FMI2_REFUSED(X)                                                                    \
    X(fmi2Status, fmi2GetDirectionalDerivative,                                                   \
      (fmi2Component c, const fmi2ValueReference vUnknown_ref[], size_t nUnknown,                 \
       const fmi2ValueReference vKnown_ref[], size_t nKnown, const fmi2Real dvKnown[],            \
       fmi2Real dvUnknown[]),                                                                     \
      "directional derivatives are not provided (providesDirectionalDerivative=\"false\")")       \
    /* Model Exchange */                                                                          \
    X(fmi2Status, fmi2EnterEventMode, (fmi2Component c), GUIDEW_FMI2_CO_SIMULATION_ONLY)          \
    X(fmi2Status, fmi2NewDiscreteStates, (fmi2Component c, fmi2EventInfo * eventInfo),            \
      GUIDEW_FMI2_CO_SIMULATION_ONLY)                                                             \
    X(fmi2Status, fmi2EnterContinuousTimeMode, (fmi2Component c), GUIDEW_FMI2_CO_SIMULATION_ONLY) \
    X(fmi2Status, fmi2CompletedIntegratorStep,                                                    \
      (fmi2Component c, fmi2Boolean noSetFMUStatePriorToCurrentPoint,                             \
       fmi2Boolean * enterEventMode, fmi2Boolean * terminateSimulation),                          \
      GUIDEW_FMI2_CO_SIMULATION_ONLY)                                                             \
    X(fmi2Status, fmi2SetTime, (fmi2Component c, fmi2Real time), GUIDEW_FMI2_CO_SIMULATION_ONLY)  \
    X(fmi2Status, fmi2SetContinuousStates, (fmi2Component c, const fmi2Real x[], size_t nx),      \
      GUIDEW_FMI2_CO_SIMULATION_ONLY)                                                             \
    X(fmi2Status, fmi2GetDerivatives, (fmi2Component c, fmi2Real derivatives[], size_t nx),       \
      GUIDEW_FMI2_CO_SIMULATION_ONLY)                                                             \
    X(fmi2Status, fmi2GetEventIndicators,                                                         \
      (fmi2Component c, fmi2Real eventIndicators[], size_t ni), GUIDEW_FMI2_CO_SIMULATION_ONLY)   \
    X(fmi2Status, fmi2GetContinuousStates, (fmi2Component c, fmi2Real x[], size_t nx),            \
      GUIDEW_FMI2_CO_SIMULATION_ONLY)                                                             \
    X(fmi2Status, fmi2GetNominalsOfContinuousStates,                                              \
      (fmi2Component c, fmi2Real x_nominal[], size_t nx), GUIDEW_FMI2_CO_SIMULATION_ONLY)         \
    /* Co-Simulation */                                                                           \
    X(fmi2Status, fmi2SetRealInputDerivatives,                                                    \
      (fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Integer order[],     \
       const fmi2Real value[]),                                                                   \
      "inputs are held over a step, not interpolated (canInterpolateInputs=\"false\")")           \
    X(fmi2Status, fmi2GetRealOutputDerivatives,                                                   \
      (fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Integer order[],     \
       fmi2Real value[]),                                                                         \
      "output derivatives are not provided (maxOutputDerivativeOrder=\"0\")")                     \
    X(fmi2Status, fmi2CancelStep, (fmi2Component c),                                              \
      "no step is in progress: every fmi2DoStep completes before it returns")

#define GUIDEW_FMI2_DECLARE(ret, name, params, rule) FMI2_EXPORT ret name params;
GUIDEW_FMI2_SERVED(GUIDEW_FMI2_DECLARE)
GUIDEW_FMI2_REFUSED(GUIDEW_FMI2_DECLARE)
#undef GUIDEW_FMI2_DECLARE

#ifdef __cplusplus
}
#endif

#endif
