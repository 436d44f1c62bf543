// The instances alive in this process. Every entry point looks its
// instance pointer up here first, so a pointer that is null, already freed
// or not an instance at all is refused with an error instead of being
// followed.
#ifndef GUIDEW_FMU_REGISTRY_H
#define GUIDEW_FMU_REGISTRY_H

#include <new>
#include <utility>

#include "call_rules.h"
#include "fmu_slave.h"

namespace guidew_fmu {

// A new instance, registered as live; null when memory runs out (nothing is
// left behind then).
Slave* create_registered_slave(FmiVersion version, const std::string& name, LogSink sink,
                               bool logging_on);
// Frees the live instance behind an FMI instance pointer; anything else
// (null, freed, not an instance) is left alone.
void free_registered_slave(void* instance);
// The live instance behind an FMI instance pointer, or null.
Slave* live_slave(void* instance);

// Runs body(slave, name) on the live instance behind an FMI instance
// pointer if the call's rule lets it be made in the instance's state, and
// returns its status in the FMI version's own type (whose values are the
// same). An unknown instance is an error with nothing to log through; no
// exception leaves: out of memory and anything else become a logged error.
template <class FmiStatus, class Body>
FmiStatus on_live_slave(void* instance, const CallRule& rule, Body body) {
    Slave* s = live_slave(instance);
    if (s == nullptr) return static_cast<FmiStatus>(Status::error);
    try {
        if (s->admit(rule) != Status::ok) return static_cast<FmiStatus>(Status::error);
        return static_cast<FmiStatus>(body(*s, rule.name));
    } catch (const std::bad_alloc&) {
        return static_cast<FmiStatus>(s->fail(rule.name, "out of memory"));
    } catch (...) {
        return static_cast<FmiStatus>(s->fail(rule.name, "internal error"));
    }
}

// The common case: a call the Slave answers with one member, which takes the
// call's name and then the entry point's arguments.
template <class FmiStatus, class... Params, class... Args>
FmiStatus forward(void* instance, const CallRule& rule,
                  Status (Slave::*member)(const char*, Params...), Args&&... args) {
    return on_live_slave<FmiStatus>(instance, rule, [&](Slave& s, const char* fn) {
        return (s.*member)(fn, std::forward<Args>(args)...);
    });
}

}  // namespace guidew_fmu

#endif
