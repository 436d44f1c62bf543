/* The FMI 3.0 C interface as this FMU implements it: the types, the
 * callbacks a simulation tool hands over and every function of the
 * standard. The FMU is Co-Simulation only, without event mode, clocks or
 * intermediate updates: the functions of the other interface types and
 * features are exported to refuse with a message.
 *
 * Written for this project from the function signatures and types the
 * FMI 3.0 standard publishes. */
#ifndef GUIDEW_FMI3_DECLARATIONS_H
#define GUIDEW_FMI3_DECLARATIONS_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "shared_calls.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void* fmi3Instance;
typedef void* fmi3InstanceEnvironment;
typedef void* fmi3FMUState;
typedef uint32_t fmi3ValueReference;
typedef float fmi3Float32;
typedef double fmi3Float64;
typedef int8_t fmi3Int8;
typedef uint8_t fmi3UInt8;
typedef int16_t fmi3Int16;
typedef uint16_t fmi3UInt16;
typedef int32_t fmi3Int32;
typedef uint32_t fmi3UInt32;
typedef int64_t fmi3Int64;
typedef uint64_t fmi3UInt64;
typedef bool fmi3Boolean;
typedef char fmi3Char;
typedef const fmi3Char* fmi3String;
typedef uint8_t fmi3Byte;
typedef const fmi3Byte* fmi3Binary;
typedef bool fmi3Clock;

#define fmi3True true
#define fmi3False false

typedef enum { fmi3OK, fmi3Warning, fmi3Discard, fmi3Error, fmi3Fatal } fmi3Status;
typedef enum {
    fmi3Independent,
    fmi3Constant,
    fmi3Fixed,
    fmi3Tunable,
    fmi3Discrete,
    fmi3Dependent
} fmi3DependencyKind;
typedef enum {
    fmi3IntervalNotYetKnown,
    fmi3IntervalUnchanged,
    fmi3IntervalChanged
} fmi3IntervalQualifier;

typedef void (*fmi3LogMessageCallback)(fmi3InstanceEnvironment instanceEnvironment,
                                       fmi3Status status, fmi3String category, fmi3String message);
typedef void (*fmi3IntermediateUpdateCallback)(
    fmi3InstanceEnvironment instanceEnvironment, fmi3Float64 intermediateUpdateTime,
    fmi3Boolean intermediateVariableSetRequested, fmi3Boolean intermediateVariableGetAllowed,
    fmi3Boolean intermediateStepFinished, fmi3Boolean canReturnEarly,
    fmi3Boolean* earlyReturnRequested, fmi3Float64* earlyReturnTime);
typedef void (*fmi3ClockUpdateCallback)(fmi3InstanceEnvironment instanceEnvironment);
typedef void (*fmi3LockPreemptionCallback)(void);
typedef void (*fmi3UnlockPreemptionCallback)(void);

#define FMI3_EXPORT __attribute__((visibility("default")))

/* Every function this FMU exports, listed once: the declarations below, the
 * names its messages give and the rule table of when each is answered
 * (call_rules.h) all come from these two lists.
 *
 *   GUIDEW_FMI3_SERVED(X)   X(return type, name, (parameters), states)
 *       the states of the instance the function is answered in
 *       (kWithoutInstance: it makes, frees or describes an instance)
 *   GUIDEW_FMI3_REFUSED(X)  X(return type, name, (parameters), why)
 *       always refused with this reason: a feature this FMU does not have
 *       (the instance parameter is named instance) */
#define GUIDEW_FMI3_CO_SIMULATION_ONLY \
    "this FMU is for Co-Simulation only (no Model Exchange or Scheduled Execution)"
#define GUIDEW_FMI3_NO_EVENT_MODE "this FMU has no event mode (hasEventMode=\"false\")"
#define GUIDEW_FMI3_NO_CLOCKS "this FMU has no clocks"
#define GUIDEW_FMI3_NO_DEPENDENCIES \
    "per-element dependencies are not provided (providesPerElementDependencies=\"false\")"
#define GUIDEW_FMI3_NO_CONFIGURATION "this FMU has no structural parameters"

/* Getting and setting values of one type: read in every state, written
 * from instantiation until termination. */
#define GUIDEW_FMI3_VALUE_ACCESS(X, T)                                                             \
    X(fmi3Status, fmi3Get##T,                                                                      \
      (fmi3Instance instance, const fmi3ValueReference valueReferences[], size_t nValueReferences, \
       fmi3##T values[], size_t nValues),                                                          \
      kEveryState)                                                                                 \
    X(fmi3Status, fmi3Set##T,                                                                      \
      (fmi3Instance instance, const fmi3ValueReference valueReferences[], size_t nValueReferences, \
       const fmi3##T values[], size_t nValues),                                                    \
      kWritable)

/* A function of clocks, which this FMU has none of: it takes the clocks'
 * value references and then its own parameters. */
#define GUIDEW_FMI3_CLOCK_CALL(X, NAME, ...)                                                       \
    X(fmi3Status, fmi3##NAME,                                                                      \
      (fmi3Instance instance, const fmi3ValueReference valueReferences[], size_t nValueReferences, \
       __VA_ARGS__),                                                                               \
      GUIDEW_FMI3_NO_CLOCKS)

/* A function of Model Exchange, which this FMU is not: it takes the instance
 * and then its own parameters. */
#define GUIDEW_FMI3_MODEL_EXCHANGE_CALL(X, NAME, ...) \
    X(fmi3Status, fmi3##NAME, (fmi3Instance instance, __VA_ARGS__), GUIDEW_FMI3_CO_SIMULATION_ONLY)

#define GUIDEW_FMI3_SERVED(X)                                                                      \
    /* Inquiry, logging, life cycle */                                                             \
    X(const char*, fmi3GetVersion, (void), kWithoutInstance)                                       \
    GUIDEW_SHARED_CALLS(X, fmi3, fmi3Instance instance)                                            \
    X(fmi3Instance, fmi3InstantiateModelExchange,                                                  \
      (fmi3String instanceName, fmi3String instantiationToken, fmi3String resourcePath,            \
       fmi3Boolean visible, fmi3Boolean loggingOn, fmi3InstanceEnvironment instanceEnvironment,    \
       fmi3LogMessageCallback logMessage),                                                         \
      kWithoutInstance)                                                                            \
    X(fmi3Instance, fmi3InstantiateCoSimulation,                                                   \
      (fmi3String instanceName, fmi3String instantiationToken, fmi3String resourcePath,            \
       fmi3Boolean visible, fmi3Boolean loggingOn, fmi3Boolean eventModeUsed,                      \
       fmi3Boolean earlyReturnAllowed, const fmi3ValueReference requiredIntermediateVariables[],   \
       size_t nRequiredIntermediateVariables, fmi3InstanceEnvironment instanceEnvironment,         \
       fmi3LogMessageCallback logMessage, fmi3IntermediateUpdateCallback intermediateUpdate),      \
      kWithoutInstance)                                                                            \
    X(fmi3Instance, fmi3InstantiateScheduledExecution,                                             \
      (fmi3String instanceName, fmi3String instantiationToken, fmi3String resourcePath,            \
       fmi3Boolean visible, fmi3Boolean loggingOn, fmi3InstanceEnvironment instanceEnvironment,    \
       fmi3LogMessageCallback logMessage, fmi3ClockUpdateCallback clockUpdate,                     \
       fmi3LockPreemptionCallback lockPreemption, fmi3UnlockPreemptionCallback unlockPreemption),  \
      kWithoutInstance)                                                                            \
    X(fmi3Status, fmi3EnterInitializationMode,                                                     \
      (fmi3Instance instance, fmi3Boolean toleranceDefined, fmi3Float64 tolerance,                 \
       fmi3Float64 startTime, fmi3Boolean stopTimeDefined, fmi3Float64 stopTime),                  \
      kInstantiated)                                                                               \
    /* Getting and setting values */                                                               \
    GUIDEW_FMI3_VALUE_ACCESS(X, Float32)                                                           \
    GUIDEW_FMI3_VALUE_ACCESS(X, Float64)                                                           \
    GUIDEW_FMI3_VALUE_ACCESS(X, Int8)                                                              \
    GUIDEW_FMI3_VALUE_ACCESS(X, UInt8)                                                             \
    GUIDEW_FMI3_VALUE_ACCESS(X, Int16)                                                             \
    GUIDEW_FMI3_VALUE_ACCESS(X, UInt16)                                                            \
    GUIDEW_FMI3_VALUE_ACCESS(X, Int32)                                                             \
    GUIDEW_FMI3_VALUE_ACCESS(X, UInt32)                                                            \
    GUIDEW_FMI3_VALUE_ACCESS(X, Int64)                                                             \
    GUIDEW_FMI3_VALUE_ACCESS(X, UInt64)                                                            \
    GUIDEW_FMI3_VALUE_ACCESS(X, Boolean)                                                           \
    GUIDEW_FMI3_VALUE_ACCESS(X, String)                                                            \
    X(fmi3Status, fmi3GetBinary,                                                                   \
      (fmi3Instance instance, const fmi3ValueReference valueReferences[], size_t nValueReferences, \
       size_t valueSizes[], fmi3Binary values[], size_t nValues),                                  \
      kEveryState)                                                                                 \
    X(fmi3Status, fmi3SetBinary,                                                                   \
      (fmi3Instance instance, const fmi3ValueReference valueReferences[], size_t nValueReferences, \
       const size_t valueSizes[], const fmi3Binary values[], size_t nValues),                      \
      kWritable)                                                                                   \
    /* FMU state */                                                                                \
    GUIDEW_FMU_STATE_CALLS(X, fmi3, fmi3Instance instance, FMUState, Deserialize)                  \
    /* Co-Simulation */                                                                            \
    X(fmi3Status, fmi3DoStep,                                                                      \
      (fmi3Instance instance, fmi3Float64 currentCommunicationPoint,                               \
       fmi3Float64 communicationStepSize, fmi3Boolean noSetFMUStatePriorToCurrentPoint,            \
       fmi3Boolean * eventHandlingNeeded, fmi3Boolean * terminateSimulation,                       \
       fmi3Boolean * earlyReturn, fmi3Float64 * lastSuccessfulTime),                               \
      kStepping)

#define GUIDEW_FMI3_REFUSED(X)                                                                     \
    X(fmi3Status, fmi3EnterEventMode, (fmi3Instance instance), GUIDEW_FMI3_NO_EVENT_MODE)          \
    GUIDEW_FMI3_CLOCK_CALL(X, GetClock, fmi3Clock values[])                                        \
    GUIDEW_FMI3_CLOCK_CALL(X, SetClock, const fmi3Clock values[])                                  \
    /* Dependencies and derivatives */                                                             \
    X(fmi3Status, fmi3GetNumberOfVariableDependencies,                                             \
      (fmi3Instance instance, fmi3ValueReference valueReference, size_t * nDependencies),          \
      GUIDEW_FMI3_NO_DEPENDENCIES)                                                                 \
    X(fmi3Status, fmi3GetVariableDependencies,                                                     \
      (fmi3Instance instance, fmi3ValueReference dependent, size_t elementIndicesOfDependent[],    \
       fmi3ValueReference independents[], size_t elementIndicesOfIndependents[],                   \
       fmi3DependencyKind dependencyKinds[], size_t nDependencies),                                \
      GUIDEW_FMI3_NO_DEPENDENCIES)                                                                 \
    X(fmi3Status, fmi3GetDirectionalDerivative,                                                    \
      (fmi3Instance instance, const fmi3ValueReference unknowns[], size_t nUnknowns,               \
       const fmi3ValueReference knowns[], size_t nKnowns, const fmi3Float64 seed[], size_t nSeed,  \
       fmi3Float64 sensitivity[], size_t nSensitivity),                                            \
      "directional derivatives are not provided")                                                  \
    X(fmi3Status, fmi3GetAdjointDerivative,                                                        \
      (fmi3Instance instance, const fmi3ValueReference unknowns[], size_t nUnknowns,               \
       const fmi3ValueReference knowns[], size_t nKnowns, const fmi3Float64 seed[], size_t nSeed,  \
       fmi3Float64 sensitivity[], size_t nSensitivity),                                            \
      "adjoint derivatives are not provided")                                                      \
    /* Configuration mode, clocks, discrete states */                                              \
    X(fmi3Status, fmi3EnterConfigurationMode, (fmi3Instance instance),                             \
      GUIDEW_FMI3_NO_CONFIGURATION)                                                                \
    X(fmi3Status, fmi3ExitConfigurationMode, (fmi3Instance instance),                              \
      GUIDEW_FMI3_NO_CONFIGURATION)                                                                \
    GUIDEW_FMI3_CLOCK_CALL(X, GetIntervalDecimal, fmi3Float64 intervals[],                         \
                           fmi3IntervalQualifier qualifiers[])                                     \
    GUIDEW_FMI3_CLOCK_CALL(X, GetIntervalFraction, fmi3UInt64 counters[],                          \
                           fmi3UInt64 resolutions[], fmi3IntervalQualifier qualifiers[])           \
    GUIDEW_FMI3_CLOCK_CALL(X, GetShiftDecimal, fmi3Float64 shifts[])                               \
    GUIDEW_FMI3_CLOCK_CALL(X, GetShiftFraction, fmi3UInt64 counters[], fmi3UInt64 resolutions[])   \
    GUIDEW_FMI3_CLOCK_CALL(X, SetIntervalDecimal, const fmi3Float64 intervals[])                   \
    GUIDEW_FMI3_CLOCK_CALL(X, SetIntervalFraction, const fmi3UInt64 counters[],                    \
                           const fmi3UInt64 resolutions[])                                         \
    GUIDEW_FMI3_CLOCK_CALL(X, SetShiftDecimal, const fmi3Float64 shifts[])                         \
    GUIDEW_FMI3_CLOCK_CALL(X, SetShiftFraction, const fmi3UInt64 counters[],                       \
                           const fmi3UInt64 resolutions[])                                         \
    X(fmi3Status, fmi3EvaluateDiscreteStates, (fmi3Instance instance), GUIDEW_FMI3_NO_EVENT_MODE)  \
    X(fmi3Status, fmi3UpdateDiscreteStates,                                                        \
      (fmi3Instance instance, fmi3Boolean * discreteStatesNeedUpdate,                              \
       fmi3Boolean * terminateSimulation, fmi3Boolean * nominalsOfContinuousStatesChanged,         \
       fmi3Boolean * valuesOfContinuousStatesChanged, fmi3Boolean * nextEventTimeDefined,          \
       fmi3Float64 * nextEventTime),                                                               \
      GUIDEW_FMI3_NO_EVENT_MODE)                                                                   \
    /* Model Exchange */                                                                           \
    X(fmi3Status, fmi3EnterContinuousTimeMode, (fmi3Instance instance),                            \
      GUIDEW_FMI3_CO_SIMULATION_ONLY)                                                              \
    GUIDEW_FMI3_MODEL_EXCHANGE_CALL(X, CompletedIntegratorStep,                                    \
                                    fmi3Boolean noSetFMUStatePriorToCurrentPoint,                  \
                                    fmi3Boolean* enterEventMode, fmi3Boolean* terminateSimulation) \
    GUIDEW_FMI3_MODEL_EXCHANGE_CALL(X, SetTime, fmi3Float64 time)                                  \
    GUIDEW_FMI3_MODEL_EXCHANGE_CALL(X, SetContinuousStates, const fmi3Float64 continuousStates[],  \
                                    size_t nContinuousStates)                                      \
    GUIDEW_FMI3_MODEL_EXCHANGE_CALL(X, GetContinuousStateDerivatives, fmi3Float64 derivatives[],   \
                                    size_t nContinuousStates)                                      \
    GUIDEW_FMI3_MODEL_EXCHANGE_CALL(X, GetEventIndicators, fmi3Float64 eventIndicators[],          \
                                    size_t nEventIndicators)                                       \
    GUIDEW_FMI3_MODEL_EXCHANGE_CALL(X, GetContinuousStates, fmi3Float64 continuousStates[],        \
                                    size_t nContinuousStates)                                      \
    GUIDEW_FMI3_MODEL_EXCHANGE_CALL(X, GetNominalsOfContinuousStates, fmi3Float64 nominals[],      \
                                    size_t nContinuousStates)                                      \
    GUIDEW_FMI3_MODEL_EXCHANGE_CALL(X, GetNumberOfEventIndicators, size_t* nEventIndicators)       \
    GUIDEW_FMI3_MODEL_EXCHANGE_CALL(X, GetNumberOfContinuousStates, size_t* nContinuousStates)     \
    /* Co-Simulation */                                                                            \
    X(fmi3Status, fmi3EnterStepMode, (fmi3Instance instance),                                      \
      "Step Mode is entered from Event Mode, which this FMU does not have: "                       \
      "fmi3ExitInitializationMode enters Step Mode")                                               \
    X(fmi3Status, fmi3GetOutputDerivatives,                                                        \
      (fmi3Instance instance, const fmi3ValueReference valueReferences[], size_t nValueReferences, \
       const fmi3Int32 orders[], fmi3Float64 values[], size_t nValues),                            \
      "output derivatives are not provided (maxOutputDerivativeOrder=\"0\")")                      \
    /* Scheduled Execution */                                                                      \
    X(fmi3Status, fmi3ActivateModelPartition,                                                      \
      (fmi3Instance instance, fmi3ValueReference clockReference, fmi3Float64 activationTime),      \
      GUIDEW_FMI3_CO_SIMULATION_ONLY)

#define GUIDEW_FMI3_DECLARE(ret, name, params, rule) FMI3_EXPORT ret name params;
GUIDEW_FMI3_SERVED(GUIDEW_FMI3_DECLARE)
GUIDEW_FMI3_REFUSED(GUIDEW_FMI3_DECLARE)
#undef GUIDEW_FMI3_DECLARE

#ifdef __cplusplus
}
#endif

#endif
