// When a simulation tool may make each call: the states of a co-simulation
// instance and the rule an entry point follows. Each FMI version's list of
// entry points (fmi2_declarations.h, fmi3_declarations.h) names, for every
// function, the states it is answered in or why it never is; the entry
// points' names, their declarations and this table all come from that one
// list, and the instance checks the rule before it does anything else.
//
// Both versions share the states: without event mode, FMI 3.0's
// Co-Simulation machine is FMI 2.0's under other names.
#ifndef GUIDEW_FMU_CALL_RULES_H
#define GUIDEW_FMU_CALL_RULES_H

#include <cstdint>

namespace guidew_fmu {

// The standard's states of a co-simulation instance.
enum class Phase : uint32_t {
    instantiated = 1,
    initialization = 2,
    stepping = 3,  // FMI 2.0 "step complete", FMI 3.0 "step mode"
    terminated = 4,
    error = 5,
};
inline constexpr Phase kFirstPhase = Phase::instantiated;
inline constexpr Phase kLastPhase = Phase::error;

// The "default" platform's state machine names, for messages.
const char* phase_name(Phase p);

// A set of states, one bit each.
using Phases = uint32_t;
constexpr Phases only(Phase p) { return Phases{1} << static_cast<uint32_t>(p); }
constexpr bool contains(Phases set, Phase p) { return (set & only(p)) != 0; }

// The sets the entry point lists name.
namespace call_states {
inline constexpr Phases kInstantiated = only(Phase::instantiated);
inline constexpr Phases kInitialization = only(Phase::initialization);
inline constexpr Phases kStepping = only(Phase::stepping);
// Writing values: an importer writes a user's start values right after
// instantiation, inputs included, and from then on between steps until it
// terminates.
inline constexpr Phases kWritable = kInstantiated | kInitialization | kStepping;
// Reading values and status, saving and restoring states, logging, reset:
// in every state. Before initialisation an importer reads the start values
// back; after termination or an error what the run ended with can still be
// read, and a saved state restored.
inline constexpr Phases kEveryState = kWritable | only(Phase::terminated) | only(Phase::error);
// Functions that make, free or describe an instance: there is no
// instance's state to check.
inline constexpr Phases kWithoutInstance = 0;
}  // namespace call_states

struct CallRule {
    const char* name;     // the entry point, as messages name it
    Phases allowed;       // the states it is answered in
    const char* refusal;  // why it never is (a feature this FMU does not have); else null
};

}  // namespace guidew_fmu

// Rows of the rule tables, from the entry point lists:
//   served functions  X(return type, name, (parameters), allowed states)
//   refused functions X(return type, name, (parameters), why)
#define GUIDEW_CALL_ID(ret, name, params, rule) name,
#define GUIDEW_SERVED_RULE(ret, name, params, allowed) {#name, allowed, nullptr},
#define GUIDEW_REFUSED_RULE(ret, name, params, why) {#name, 0, why},

#endif
