/* The functions both FMI versions have alike but for the spelling of their
 * names and types, listed here once for both versions' lists of functions,
 * as X(return type, name, (parameters), states) rows. For version P (fmi2 or
 * fmi3) with instance parameter INSTANCE:
 *
 *   GUIDEW_SHARED_CALLS(X, P, INSTANCE)
 *       freeing an instance, debug logging, leaving initialisation,
 *       termination and reset
 *   GUIDEW_FMU_STATE_CALLS(X, P, INSTANCE, S, DE)
 *       saving and restoring an FMU state, S the state type's spelling
 *       (FMUstate, FMUState), DE deserialisation's (DeSerialize,
 *       Deserialize): in every state (an importer saves and restores states
 *       in any, the error state included, to go back to a good one)
 *
 * entry_points.h defines them from the same spellings. */
#ifndef GUIDEW_FMU_SHARED_CALLS_H
#define GUIDEW_FMU_SHARED_CALLS_H

#define GUIDEW_SHARED_CALLS(X, P, INSTANCE)                                               \
    X(void, P##FreeInstance, (INSTANCE), kWithoutInstance)                                \
    X(P##Status, P##SetDebugLogging,                                                      \
      (INSTANCE, P##Boolean loggingOn, size_t nCategories, const P##String categories[]), \
      kEveryState)                                                                        \
    X(P##Status, P##ExitInitializationMode, (INSTANCE), kInitialization)                  \
    X(P##Status, P##Terminate, (INSTANCE), kStepping)                                     \
    X(P##Status, P##Reset, (INSTANCE), kEveryState)

#define GUIDEW_FMU_STATE_CALLS(X, P, INSTANCE, S, DE)                                             \
    X(P##Status, P##Get##S, (INSTANCE, P##S * state), kEveryState)                                \
    X(P##Status, P##Set##S, (INSTANCE, P##S state), kEveryState)                                  \
    X(P##Status, P##Free##S, (INSTANCE, P##S * state), kEveryState)                               \
    X(P##Status, P##Serialized##S##Size, (INSTANCE, P##S state, size_t * size), kEveryState)      \
    X(P##Status, P##Serialize##S, (INSTANCE, P##S state, P##Byte serializedState[], size_t size), \
      kEveryState)                                                                                \
    X(P##Status, P##DE##S, (INSTANCE, const P##Byte serializedState[], size_t size, P##S* state), \
      kEveryState)

#endif
