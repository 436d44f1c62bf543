// What the entry points of both FMI versions share, made for one version
// from its two lists of functions (fmi2_declarations.h, fmi3_declarations.h):
//
//   kVersion                    the FMI version
//   to_status(status)           a Slave's status in the version's type
//   Call                        every entry point by name
//   rule(call)                  its rule: the states it is answered in, or
//                               why it never is (call_rules.h)
//   on_instance(i, call, body)  body(slave, name) on the live instance i, if
//                               the rule lets the call be made in its state
//   forward(i, call, &Slave::member, args...)
//                               the call answered by one member of the Slave
//   refused(i, call)            the call refused with its rule's reason
//
// Expanded once, in the unnamed namespace of each version's entry points.
#ifndef GUIDEW_FMU_ENTRY_POINTS_H
#define GUIDEW_FMU_ENTRY_POINTS_H

#include <utility>

#include "call_rules.h"
#include "fmu_registry.h"
#include "fmu_slave.h"

#define GUIDEW_FMU_ENTRY_POINTS(VERSION, FmiStatus, SERVED, REFUSED)                  \
    using guidew_fmu::Base;                                                           \
    using guidew_fmu::Slave;                                                          \
    using guidew_fmu::Status;                                                         \
    constexpr guidew_fmu::FmiVersion kVersion = VERSION;                              \
    FmiStatus to_status(Status s) { return static_cast<FmiStatus>(s); }               \
    enum class Call : unsigned { SERVED(GUIDEW_CALL_ID) REFUSED(GUIDEW_CALL_ID) };    \
    using namespace guidew_fmu::call_states;                                          \
    constexpr guidew_fmu::CallRule kRules[] = {SERVED(GUIDEW_SERVED_RULE)             \
                                                   REFUSED(GUIDEW_REFUSED_RULE)};     \
    constexpr const guidew_fmu::CallRule& rule(Call call) {                           \
        return kRules[static_cast<unsigned>(call)];                                   \
    }                                                                                 \
    template <class Body>                                                             \
    FmiStatus on_instance(void* instance, Call call, Body body) {                     \
        return guidew_fmu::on_live_slave<FmiStatus>(instance, rule(call), body);      \
    }                                                                                 \
    template <class... Forwarded>                                                     \
    FmiStatus forward(void* instance, Call call, Forwarded&&... forwarded) {          \
        return guidew_fmu::forward<FmiStatus>(instance, rule(call),                   \
                                              std::forward<Forwarded>(forwarded)...); \
    }                                                                                 \
    FmiStatus refused(void* instance, Call call) {                                    \
        return on_instance(instance, call, [](guidew_fmu::Slave&, const char*) {      \
            return guidew_fmu::Status::error;                                         \
        });                                                                           \
    }

// The functions of GUIDEW_SHARED_CALLS for version P, forwarded to the
// Slave (I names the instance parameter INSTANCE declares).
#define GUIDEW_SHARED_DEFINITIONS(P, INSTANCE, I)                                          \
    void P##FreeInstance(INSTANCE) { guidew_fmu::free_registered_slave(I); }               \
    P##Status P##SetDebugLogging(INSTANCE, P##Boolean loggingOn, size_t nCategories,       \
                                 const P##String categories[]) {                           \
        return forward(I, Call::P##SetDebugLogging, &guidew_fmu::Slave::set_debug_logging, \
                       loggingOn != P##False, nCategories, categories);                    \
    }                                                                                      \
    P##Status P##ExitInitializationMode(INSTANCE) {                                        \
        return forward(I, Call::P##ExitInitializationMode,                                 \
                       &guidew_fmu::Slave::exit_initialization);                           \
    }                                                                                      \
    P##Status P##Terminate(INSTANCE) {                                                     \
        return forward(I, Call::P##Terminate, &guidew_fmu::Slave::terminate);              \
    }                                                                                      \
    P##Status P##Reset(INSTANCE) { return forward(I, Call::P##Reset, &guidew_fmu::Slave::reset); }

// The six functions of GUIDEW_FMU_STATE_CALLS for version P, forwarded to the
// Slave (I names the instance parameter INSTANCE declares). The bytes of a
// serialised state are the version's byte type, char or uint8_t.
#define GUIDEW_FMU_STATE_DEFINITIONS(P, INSTANCE, I, S, DE)                                   \
    P##Status P##Get##S(INSTANCE, P##S* state) {                                              \
        return forward(I, Call::P##Get##S, &guidew_fmu::Slave::get_state, state);             \
    }                                                                                         \
    P##Status P##Set##S(INSTANCE, P##S state) {                                               \
        return forward(I, Call::P##Set##S, &guidew_fmu::Slave::set_state, state);             \
    }                                                                                         \
    P##Status P##Free##S(INSTANCE, P##S* state) {                                             \
        return forward(I, Call::P##Free##S, &guidew_fmu::Slave::free_state, state);           \
    }                                                                                         \
    P##Status P##Serialized##S##Size(INSTANCE, P##S state, size_t* size) {                    \
        return forward(I, Call::P##Serialized##S##Size, &guidew_fmu::Slave::serialized_size,  \
                       state, size);                                                          \
    }                                                                                         \
    P##Status P##Serialize##S(INSTANCE, P##S state, P##Byte serializedState[], size_t size) { \
        return forward(I, Call::P##Serialize##S, &guidew_fmu::Slave::serialize, state,        \
                       reinterpret_cast<unsigned char*>(serializedState), size);              \
    }                                                                                         \
    P##Status P##DE##S(INSTANCE, const P##Byte serializedState[], size_t size, P##S* state) { \
        return forward(I, Call::P##DE##S, &guidew_fmu::Slave::deserialize,                    \
                       reinterpret_cast<const unsigned char*>(serializedState), size, state); \
    }

#endif
