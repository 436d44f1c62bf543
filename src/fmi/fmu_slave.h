// One FMU instance, whichever FMI version calls it: a GuideW instance of
// the instance API, the simulation time, the standard's state machine,
// logging, value access by value reference and the saved FMU states.
//
// The FMI 2.0 and 3.0 entry points are thin: each hands its rule (when the
// standard lets a tool make the call, call_rules.h) to admit(), checks its
// own arguments, then calls these members, naming itself (fn) so that every
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
#include "call_rules.h"
#include "fmu_variables.h"
#include "log_categories.h"

namespace guidew_fmu {

// The standards' status values (the same order in both).
enum class Status { ok = 0, warning = 1, discard = 2, error = 3, fatal = 4 };

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

    // Status::ok when the rule lets the call be made in the current state;
    // otherwise logs why and returns Status::error, entering the error state.
    Status admit(const CallRule& rule);
    // Logs and returns Status::error, entering the error state.
    Status fail(const char* fn, const std::string& why);
    // Logs and returns Status::error, leaving the state as it was: for a call
    // that changed nothing and cannot harm the simulation.
    Status refuse(const char* fn, const std::string& why);
    // Logs under logStatusWarning and returns Status::discard: a status
    // request with no answer, which changes nothing.
    Status discard(const char* fn, const std::string& why);
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

    // ---- Values by value reference --------------------------------------------
    // One path for every type: vr names variables of `base`; n_values counts
    // elements (FMI 3.0 arrays count each element). T is the tool's element
    // type (double; uint32_t or int for the table indices; bool or int for
    // Boolean). A write checks every variable and value before it writes
    // any: a refused call changes nothing.
    template <class T>
    Status get(const char* fn, Base base, const uint32_t* vr, size_t nvr, T* values,
               size_t n_values);
    template <class T>
    Status set(const char* fn, Base base, const uint32_t* vr, size_t nvr, const T* values,
               size_t n_values);
    // For a type this FMU has no variable of: only an empty request is valid.
    Status no_variables_of_type(const char* fn, const char* type, const uint32_t* vr, size_t nvr);

    // ---- Saved states ----------------------------------------------------------
    // *state: null for a new one, or one of this instance's to overwrite.
    Status get_state(const char* fn, void** state);
    Status set_state(const char* fn, void* state);
    Status free_state(const char* fn, void** state);
    Status serialized_size(const char* fn, void* state, size_t* size);
    Status serialize(const char* fn, void* state, unsigned char* bytes, size_t size);
    Status deserialize(const char* fn, const unsigned char* bytes, size_t size, void** state);

private:
    // The variables behind vr, all of `base` and holding n_values elements
    // (logs otherwise).
    Status resolve(const char* fn, Base base, const uint32_t* vr, size_t nvr, const void* values,
                   size_t n_values, const Variable** found);
    const Variable* variable_of(const char* fn, uint32_t vr, Base base);
    unsigned char* address(const Variable& v);
    template <class T>
    T element(const Variable& v, size_t k);
    template <class T>
    void store(const Variable& v, size_t k, T value);
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

}  // namespace guidew_fmu

#endif
