// The instances alive in this process. Every entry point looks its
// instance pointer up here first, so a pointer that is null, already freed
// or not an instance at all is refused with an error instead of being
// followed.
#ifndef GUIDEW_FMU_REGISTRY_H
#define GUIDEW_FMU_REGISTRY_H

#include <new>

#include "call_rules.h"
#include "fmu_slave.h"

namespace guidew_fmu {

// A new instance, registered as live; null when memory runs out (nothing is
// left behind then).
Slave* create_registered_slave(FmiVersion version, const std::string& name, LogSink sink,
                               bool logging_on);
// Removes s from the live set; false when it was not there.
bool unregister_slave(Slave* s);
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

}  // namespace guidew_fmu

#endif
