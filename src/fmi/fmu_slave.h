// One FMU instance, whichever FMI version calls it: a GuideW instance of
// the instance API, the simulation time, the standard's state machine,
// logging, value access by value reference and the saved FMU states.
//
// The FMI 2.0 and 3.0 entry points are thin: they check their own
// arguments, then call these members, naming themselves (fn) so that every
// message says which call went wrong. Each refusal logs a message under
// logStatusError and leaves the instance in the error state, as both
// standards ask after an error status; from there only reading values,
// restoring a saved state, reset and freeing are accepted. The one
// exception is a refused debug-logging request, which changes nothing and
// leaves the instance usable.
#ifndef GUIDEW_FMU_SLAVE_H
#define GUIDEW_FMU_SLAVE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "GuideW_instance.h"
#include "fmu_variables.h"

namespace guidew_fmu {

// The standards' status values (the same order in both).
enum class Status { ok = 0, warning = 1, discard = 2, error = 3, fatal = 4 };

// The standard's states of a co-simulation instance.
enum class Phase : uint32_t {
    instantiated = 1,
    initialization = 2,
    stepping = 3,  // FMI 2.0 "step complete", FMI 3.0 "step mode"
    terminated = 4,
    error = 5,
};

// Log categories, as the model descriptions declare them.
enum Category : unsigned { kLogEvents, kLogStatusWarning, kLogStatusError, kCategoryCount };
const char* category_name(Category c);
inline constexpr const char* kLogAll = "logAll";

// Receives every message the instance logs (category enabled).
using LogSink = std::function<void(Status, const char* category, const std::string& message)>;

struct Snapshot;

class Slave {
public:
    Slave(FmiVersion version, std::string name, LogSink sink, bool logging_on);
    ~Slave();
    Slave(const Slave&) = delete;
    Slave& operator=(const Slave&) = delete;

    bool created() const { return model_ != nullptr; }
    const std::string& name() const { return name_; }
    Phase phase() const { return phase_; }
    double time() const;

    // Logs and returns Status::error, entering the error state.
    Status fail(const char* fn, const std::string& why);
    // Logs and returns Status::error, leaving the state as it was: for a call
    // that changed nothing and cannot harm the simulation.
    Status refuse(const char* fn, const std::string& why);
    void log(Status s, Category c, const std::string& message);
    Status set_debug_logging(const char* fn, bool on, size_t n, const char* const names[]);

    // ---- Life cycle ---------------------------------------------------------
    Status setup_experiment(const char* fn, double start_time, bool stop_defined, double stop_time);
    Status enter_initialization(const char* fn);
    Status exit_initialization(const char* fn);
    Status terminate(const char* fn);
    Status reset(const char* fn);
    // Runs h / 0.01 steps of the law from communication point t.
    Status do_step(const char* fn, double t, double h);
    // Accepted in the states where the standard lets a tool ask for status.
    Status require_readable(const char* fn);

    // ---- Values by value reference --------------------------------------------
    // n_values counts elements (FMI 3.0 arrays count each element).
    Status get_real(const char* fn, const uint32_t* vr, size_t nvr, double* values,
                    size_t n_values);
    Status set_real(const char* fn, const uint32_t* vr, size_t nvr, const double* values,
                    size_t n_values);
    Status get_integer(const char* fn, const uint32_t* vr, size_t nvr, uint32_t* values,
                       size_t n_values);
    Status set_integer(const char* fn, const uint32_t* vr, size_t nvr, const uint32_t* values,
                       size_t n_values);
    Status get_boolean(const char* fn, const uint32_t* vr, size_t nvr, bool* values,
                       size_t n_values);
    // For a type this FMU has no variable of: only an empty request is valid.
    Status no_variables_of_type(const char* fn, const char* type, const uint32_t* vr, size_t nvr);
    // The variable behind vr if it is one of `base` (logs otherwise).
    const Variable* variable_of(const char* fn, uint32_t vr, Base base);

    // ---- Saved states ----------------------------------------------------------
    // *state: null for a new one, or one of this instance's to overwrite.
    Status get_state(const char* fn, void** state);
    Status set_state(const char* fn, void* state);
    Status free_state(const char* fn, void** state);
    Status serialized_size(const char* fn, void* state, size_t* size);
    Status serialize(const char* fn, void* state, unsigned char* bytes, size_t size);
    Status deserialize(const char* fn, const unsigned char* bytes, size_t size, void** state);

private:
    bool in_phase(const char* fn, std::initializer_list<Phase> allowed);
    Status check_arrays(const char* fn, const uint32_t* vr, size_t nvr, const void* values,
                        size_t n_values);
    Status resolve(const char* fn, Base base, const uint32_t* vr, size_t nvr, size_t n_values,
                   const Variable** found);
    unsigned char* address(const Variable& v);
    Snapshot* owned(void* state);
    void capture(Snapshot& s);
    void note_overrun();

    FmiVersion version_;
    std::string name_;
    LogSink sink_;
    bool enabled_[kCategoryCount];
    GuideWInstance* model_;
    Phase phase_ = Phase::instantiated;
    double start_time_ = 0.0;
    uint64_t steps_ = 0;  // law steps since the start time
    bool overrun_ = false;
    std::set<Snapshot*> states_;
};

// The "default" platform's state machine names, for messages.
const char* phase_name(Phase p);

}  // namespace guidew_fmu

#endif
