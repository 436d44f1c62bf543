#include "fmu_slave.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "law_constants.h"
#include "text_format.h"

namespace guidew_fmu {

// A saved FMU state: everything a step reads or writes, and where the
// instance stood in time and in the state machine.
struct Snapshot {
    Phase phase;
    bool overrun;
    uint64_t steps;
    double start_time;
    GuideWInputs u;
    GuideWOutputs y;
    GuideWParams p;
    GuideWStates x;
};

namespace {

// A communication step is a whole number of law steps; hosts accumulate
// their step sizes and times in floating point, so both are compared with
// this relative tolerance.
constexpr double kRelativeTolerance = 1e-9;
// Hosts also compute a step size as the difference of two communication
// points (start + (k + 1) h minus start + k h), each rounded to the doubles
// near the current time, whose spacing grows with it: 2.9e-11 s at 2e5 s,
// 2.4e-7 s at an epoch time of 1.7e9 s, against 1e-11 s of relative
// tolerance on 0.01 s. Two points each off by up to a spacing (a product
// and a sum rounded) put the difference up to a few spacings off; this many
// are accepted.
constexpr double kTimeSpacings = 8.0;

// ---- The serialised state --------------------------------------------------------
// Little-endian on the platforms the FMU is built for:
//   8 bytes  magic "GuideWst"
//   u32      layout version
//   u32 x 4  sizes of the input, output, parameter and state records
//   u32      phase, u32 overrun (0 or 1), u64 steps, f64 start time
//   the input, output, parameter and state records, as in memory
// A change to any record changes its size, so an old state is refused
// rather than misread; a change of meaning bumps the layout version.
constexpr char kMagic[8] = {'G', 'u', 'i', 'd', 'e', 'W', 's', 't'};
constexpr uint32_t kLayoutVersion = 1;
constexpr uint32_t kRecordSizes[4] = {sizeof(GuideWInputs), sizeof(GuideWOutputs),
                                      sizeof(GuideWParams), sizeof(GuideWStates)};
constexpr size_t kSerializedSize = sizeof kMagic + 4 + sizeof kRecordSizes + 4 + 4 + 8 + 8 +
                                   sizeof(GuideWInputs) + sizeof(GuideWOutputs) +
                                   sizeof(GuideWParams) + sizeof(GuideWStates);

using guidew_text::format;

}  // namespace

const char* phase_name(Phase p) {
    switch (p) {
        case Phase::instantiated: return "Instantiated";
        case Phase::initialization: return "Initialization Mode";
        case Phase::stepping: return "Step Mode (step complete)";
        case Phase::terminated: return "Terminated";
        case Phase::error: return "the error state";
    }
    return "?";
}

Slave::Slave(FmiVersion version, std::string name, LogSink sink, bool logging_on)
    : version_(version),
      name_(std::move(name)),
      sink_(std::move(sink)),
      model_(GuideW_instance_create()) {
    // Errors are always reported; debug logging adds the rest.
    for (unsigned c = 0; c < kCategoryCount; ++c) enabled_[c] = logging_on;
    enabled_[kLogStatusError] = true;
}

Slave::~Slave() {
    for (Snapshot* s : states_) delete s;
    GuideW_instance_destroy(model_);
}

double Slave::time() const { return start_time_ + static_cast<double>(steps_) * kStep_s; }

void Slave::log(Status s, Category c, const std::string& message) {
    if (enabled_[c] && sink_) sink_(s, category_name(c), message);
}

Status Slave::fail(const char* fn, const std::string& why) {
    log(Status::error, kLogStatusError, std::string(fn) + ": " + why);
    phase_ = Phase::error;
    return Status::error;
}

Status Slave::admit(const CallRule& rule) {
    if (rule.refusal != nullptr) return fail(rule.name, rule.refusal);
    if (contains(rule.allowed, phase_)) return Status::ok;
    std::string list;
    for (auto p = static_cast<uint32_t>(kFirstPhase); p <= static_cast<uint32_t>(kLastPhase); ++p) {
        if (contains(rule.allowed, static_cast<Phase>(p))) {
            list += std::string(list.empty() ? "" : ", ") + phase_name(static_cast<Phase>(p));
        }
    }
    return fail(rule.name, std::string("not allowed in ") + phase_name(phase_) +
                               " (allowed in: " + list + ")");
}

Status Slave::discard(const char* fn, const std::string& why) {
    log(Status::discard, kLogStatusWarning, std::string(fn) + ": " + why);
    return Status::discard;
}

Status Slave::refuse(const char* fn, const std::string& why) {
    log(Status::error, kLogStatusError, std::string(fn) + ": " + why);
    return Status::error;
}

// A wrong category list changes nothing: the call is refused as a whole and
// the instance stays where it was, since switching messages on or off does
// not touch the simulation. The names accepted are those the model
// description declares, logAll included.
Status Slave::set_debug_logging(const char* fn, bool on, size_t n, const char* const names[]) {
    if (n > 0 && names == nullptr) return refuse(fn, "categories is null but nCategories > 0");
    bool chosen[kCategoryCount] = {};
    for (size_t i = 0; i < n; ++i) {
        if (names[i] == nullptr) return refuse(fn, format("category %zu is null", i));
        const bool all = std::strcmp(names[i], kLogAll.name) == 0;
        bool known = all;
        for (unsigned c = 0; c < kCategoryCount; ++c) {
            if (all || std::strcmp(names[i], category_name(static_cast<Category>(c))) == 0) {
                chosen[c] = known = true;
            }
        }
        if (!known) {
            std::string list;
            for (unsigned c = 0; c < kCategoryCount; ++c) {
                list += std::string(category_name(static_cast<Category>(c))) + ", ";
            }
            return refuse(fn, format("unknown log category '%s' (known: %s%s); nothing changed",
                                     names[i], list.c_str(), kLogAll.name));
        }
    }
    for (unsigned c = 0; c < kCategoryCount; ++c) {
        if (n == 0 || chosen[c]) enabled_[c] = on;
    }
    return Status::ok;
}

// ---- Life cycle ------------------------------------------------------------------

Status Slave::setup_experiment(const char* fn, double start_time, bool stop_defined,
                               double stop_time) {
    if (!std::isfinite(start_time))
        return fail(fn, format("startTime %g is not finite", start_time));
    if (stop_defined && !(stop_time >= start_time)) {
        return fail(fn, format("stopTime %.17g is before startTime %.17g", stop_time, start_time));
    }
    start_time_ = start_time;
    steps_ = 0;
    return Status::ok;
}

Status Slave::enter_initialization(const char*) {
    phase_ = Phase::initialization;
    return Status::ok;
}

Status Slave::exit_initialization(const char* fn) {
    phase_ = Phase::stepping;
    log(Status::ok, kLogEvents, format("%s: initialised, time %.17g s", fn, time()));
    return Status::ok;
}

Status Slave::terminate(const char* fn) {
    phase_ = Phase::terminated;
    log(Status::ok, kLogEvents, format("%s: terminated at %.17g s", fn, time()));
    return Status::ok;
}

Status Slave::reset(const char* fn) {
    // As GuideW_initialize restarts the model, with the parameters back at
    // their start values.
    GuideW_instance_initialize(model_);
    GuideW_default_params(GuideW_instance_params(model_));
    start_time_ = 0.0;
    steps_ = 0;
    overrun_ = false;
    phase_ = Phase::instantiated;
    log(Status::ok, kLogEvents, std::string(fn) + ": reset to the instantiated state");
    return Status::ok;
}

void Slave::note_overrun() {
    if (GuideW_instance_error_status(model_) != nullptr) overrun_ = true;
}

namespace {

// How far a step size from communication point t may be from a whole number
// of law steps: relative to the step, or a few spacings of the doubles at
// the times it was computed from, whichever is larger. (epsilon * |x| bounds
// the spacing at x.)
double step_tolerance(double t, double h) {
    const double spacing = std::numeric_limits<double>::epsilon() * (std::fabs(t) + h);
    return std::fmax(kRelativeTolerance * h, kTimeSpacings * spacing);
}

// Beyond some 10^12 s the doubles are too coarse to tell one law step from
// the next: the tolerance would reach a quarter of a step.
constexpr double kCoarsestTolerance_s = 0.25 * kStep_s;

}  // namespace

Status Slave::do_step(const char* fn, double t, double h) {
    const double steps = h / kStep_s;
    const double whole = std::round(steps);
    const double tolerance = step_tolerance(t, h);
    if (!(h > 0.0) || !std::isfinite(h) || whole < 1.0 || whole > 9.0e15 ||
        std::fabs(h - whole * kStep_s) > tolerance) {
        return fail(fn, format("communicationStepSize %.17g s is not a positive whole multiple "
                               "of the law's step, 0.01 s",
                               h));
    }
    if (std::isfinite(t) && !(tolerance < kCoarsestTolerance_s)) {
        return fail(fn, format("at currentCommunicationPoint %.17g s the times are too coarse to "
                               "count law steps of 0.01 s",
                               t));
    }
    const double now = time();
    if (!std::isfinite(t) ||
        std::fabs(t - now) > kRelativeTolerance * std::fmax(1.0, std::fabs(now))) {
        return fail(
            fn, format("currentCommunicationPoint %.17g s is not the FMU's time %.17g s", t, now));
    }
    const uint64_t n = static_cast<uint64_t>(whole);
    for (uint64_t i = 0; i < n; ++i) GuideW_instance_step(model_);
    note_overrun();
    steps_ += n;
    return Status::ok;
}

// ---- Values -----------------------------------------------------------------------

const Variable* Slave::variable_of(const char* fn, uint32_t vr, Base base) {
    const Variable* v = find_variable(version_, vr);
    if (v == nullptr) {
        fail(fn, format("no variable has value reference %u", vr));
        return nullptr;
    }
    if (v->base != base) {
        fail(fn, format("%s (value reference %u) is a %s variable, not %s", v->name.c_str(), vr,
                        type_name(version_, v->base), type_name(version_, base)));
        return nullptr;
    }
    return v;
}

Status Slave::resolve(const char* fn, Base base, const uint32_t* vr, size_t nvr, const void* values,
                      size_t n_values, const Variable** found) {
    if (nvr > 0 && vr == nullptr) return fail(fn, "the value reference array is null");
    if (n_values > 0 && values == nullptr) return fail(fn, "the value array is null");
    size_t total = 0;
    for (size_t i = 0; i < nvr; ++i) {
        found[i] = variable_of(fn, vr[i], base);
        if (found[i] == nullptr) return Status::error;
        total += found[i]->count;
    }
    if (total != n_values) {
        return fail(
            fn, format("the value references hold %zu values but nValues is %zu", total, n_values));
    }
    return Status::ok;
}

unsigned char* Slave::address(const Variable& v) {
    void* record = nullptr;
    switch (v.record) {
        case Record::inputs: record = GuideW_instance_inputs(model_); break;
        case Record::outputs: record = GuideW_instance_outputs(model_); break;
        case Record::params: record = GuideW_instance_params(model_); break;
        case Record::states: record = GuideW_instance_states(model_); break;
        case Record::time:
        case Record::overrun: return nullptr;
    }
    return static_cast<unsigned char*>(record) + v.offset;
}

// Element k of a variable in the tool's type. The records hold doubles and,
// for the table indices, uint32_t; time and overrun are the FMU's own.
template <class T>
T Slave::element(const Variable& v, size_t k) {
    if (v.record == Record::time) return static_cast<T>(time());
    if (v.record == Record::overrun) return static_cast<T>(overrun_);
    if (v.base == Base::integer) {
        uint32_t u;
        std::memcpy(&u, address(v) + k * sizeof u, sizeof u);
        return static_cast<T>(u);
    }
    double d;
    std::memcpy(&d, address(v) + k * sizeof d, sizeof d);
    return static_cast<T>(d);
}

// Writes element k of a settable variable (an input or a parameter: a
// double, or a table index already checked to be representable).
template <class T>
void Slave::store(const Variable& v, size_t k, T value) {
    if (v.base == Base::integer) {
        const auto u = static_cast<uint32_t>(value);
        std::memcpy(address(v) + k * sizeof u, &u, sizeof u);
    } else {
        const auto d = static_cast<double>(value);
        std::memcpy(address(v) + k * sizeof d, &d, sizeof d);
    }
}

template <class T>
Status Slave::get(const char* fn, Base base, const uint32_t* vr, size_t nvr, T* values,
                  size_t n_values) {
    std::vector<const Variable*> found(nvr);
    if (resolve(fn, base, vr, nvr, values, n_values, found.data()) != Status::ok) {
        return Status::error;
    }
    for (const Variable* v : found) {
        for (size_t k = 0; k < v->count; ++k) *values++ = element<T>(*v, k);
    }
    return Status::ok;
}

namespace {

// Why a variable cannot be written by the tool, or null when it can.
// Parameters and inputs both carry start values; an importer writes a
// user's start values right after instantiation, inputs included, and from
// then on between steps. Everything else the law or the FMU computes.
const char* why_not_settable(Causality c) {
    switch (c) {
        case Causality::independent: return "is the independent variable: it advances by stepping";
        case Causality::output: return "is an output: the law computes it";
        case Causality::local: return "is a local variable: the law keeps it";
        case Causality::input:
        case Causality::parameter: return nullptr;
    }
    return "cannot be set";
}

// A table index handed over as a signed FMI 2.0 Integer must not be
// negative: the record holds it unsigned.
template <class T>
bool negative_index(const Variable& v, T value) {
    if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
        return v.base == Base::integer && value < 0;
    } else {
        return false;
    }
}

}  // namespace

template <class T>
Status Slave::set(const char* fn, Base base, const uint32_t* vr, size_t nvr, const T* values,
                  size_t n_values) {
    std::vector<const Variable*> found(nvr);
    if (resolve(fn, base, vr, nvr, values, n_values, found.data()) != Status::ok) {
        return Status::error;
    }
    const T* value = values;
    for (const Variable* v : found) {
        if (const char* why = why_not_settable(v->causality)) {
            return fail(
                fn, format("%s (value reference %u) %s", v->name.c_str(), v->value_reference, why));
        }
        for (size_t k = 0; k < v->count; ++k, ++value) {
            if (negative_index(*v, *value)) {
                return fail(fn, v->name + " cannot be negative (" + std::to_string(*value) +
                                    "): it is a table index");
            }
        }
    }
    // All checked: write them all.
    for (const Variable* v : found) {
        for (size_t k = 0; k < v->count; ++k) store(*v, k, *values++);
    }
    return Status::ok;
}

// The element types the two versions hand over: FMI 2.0 Real, Integer and
// Boolean (double, int, int), FMI 3.0 Float64, UInt32 and Boolean.
template Status Slave::get(const char*, Base, const uint32_t*, size_t, double*, size_t);
template Status Slave::get(const char*, Base, const uint32_t*, size_t, int*, size_t);
template Status Slave::get(const char*, Base, const uint32_t*, size_t, uint32_t*, size_t);
template Status Slave::get(const char*, Base, const uint32_t*, size_t, bool*, size_t);
template Status Slave::set(const char*, Base, const uint32_t*, size_t, const double*, size_t);
template Status Slave::set(const char*, Base, const uint32_t*, size_t, const int*, size_t);
template Status Slave::set(const char*, Base, const uint32_t*, size_t, const uint32_t*, size_t);
template Status Slave::set(const char*, Base, const uint32_t*, size_t, const bool*, size_t);

Status Slave::no_variables_of_type(const char* fn, const char* type, const uint32_t* vr,
                                   size_t nvr) {
    if (nvr == 0) return Status::ok;
    if (vr == nullptr) return fail(fn, "the value reference array is null");
    return fail(fn,
                format("no %s variable has value reference %u: this FMU has only %s", type, vr[0],
                       version_ == FmiVersion::v2 ? "Real, Integer and Boolean variables"
                                                  : "Float64, UInt32 and Boolean variables"));
}

// ---- Saved states --------------------------------------------------------------------

Snapshot* Slave::owned(void* state) {
    Snapshot* s = static_cast<Snapshot*>(state);
    return states_.count(s) != 0 ? s : nullptr;
}

void Slave::capture(Snapshot& s) {
    s.phase = phase_;
    s.overrun = overrun_;
    s.steps = steps_;
    s.start_time = start_time_;
    s.u = *GuideW_instance_inputs(model_);
    s.y = *GuideW_instance_outputs(model_);
    s.p = *GuideW_instance_params(model_);
    s.x = *GuideW_instance_states(model_);
}

Status Slave::get_state(const char* fn, void** state) {
    if (state == nullptr) return fail(fn, "the FMU state pointer is null");
    Snapshot* s = nullptr;
    if (*state != nullptr) {
        s = owned(*state);
        if (s == nullptr) return fail(fn, "*FMUstate is neither null nor a state of this instance");
    } else {
        s = new Snapshot;
        states_.insert(s);
    }
    capture(*s);
    *state = s;
    return Status::ok;
}

Status Slave::set_state(const char* fn, void* state) {
    const Snapshot* s = owned(state);
    if (s == nullptr) return fail(fn, "not a state of this instance (null, freed or another's)");
    GuideW_instance_initialize(model_);  // clears the error status
    *GuideW_instance_inputs(model_) = s->u;
    *GuideW_instance_outputs(model_) = s->y;
    *GuideW_instance_params(model_) = s->p;
    *GuideW_instance_states(model_) = s->x;
    phase_ = s->phase;
    overrun_ = s->overrun;
    steps_ = s->steps;
    start_time_ = s->start_time;
    return Status::ok;
}

Status Slave::free_state(const char* fn, void** state) {
    if (state == nullptr) return fail(fn, "the FMU state pointer is null");
    if (*state == nullptr) return Status::ok;
    Snapshot* s = owned(*state);
    if (s == nullptr) return fail(fn, "not a state of this instance (freed or another's)");
    states_.erase(s);
    delete s;
    *state = nullptr;
    return Status::ok;
}

Status Slave::serialized_size(const char* fn, void* state, size_t* size) {
    if (owned(state) == nullptr) return fail(fn, "not a state of this instance");
    if (size == nullptr) return fail(fn, "size is null");
    *size = kSerializedSize;
    return Status::ok;
}

namespace {

struct Writer {
    unsigned char* at;
    void put(const void* data, size_t n) {
        std::memcpy(at, data, n);
        at += n;
    }
    void u32(uint32_t v) { put(&v, sizeof v); }
};

struct Reader {
    const unsigned char* at;
    void get(void* data, size_t n) {
        std::memcpy(data, at, n);
        at += n;
    }
    uint32_t u32() {
        uint32_t v;
        get(&v, sizeof v);
        return v;
    }
};

}  // namespace

Status Slave::serialize(const char* fn, void* state, unsigned char* bytes, size_t size) {
    const Snapshot* s = owned(state);
    if (s == nullptr) return fail(fn, "not a state of this instance");
    if (bytes == nullptr) return fail(fn, "serializedState is null");
    if (size < kSerializedSize) {
        return fail(
            fn, format("size %zu is too small: the state takes %zu bytes", size, kSerializedSize));
    }
    Writer w{bytes};
    w.put(kMagic, sizeof kMagic);
    w.u32(kLayoutVersion);
    for (uint32_t n : kRecordSizes) w.u32(n);
    w.u32(static_cast<uint32_t>(s->phase));
    w.u32(s->overrun ? 1u : 0u);
    w.put(&s->steps, sizeof s->steps);
    w.put(&s->start_time, sizeof s->start_time);
    w.put(&s->u, sizeof s->u);
    w.put(&s->y, sizeof s->y);
    w.put(&s->p, sizeof s->p);
    w.put(&s->x, sizeof s->x);
    return Status::ok;
}

Status Slave::deserialize(const char* fn, const unsigned char* bytes, size_t size, void** state) {
    if (bytes == nullptr) return fail(fn, "serializedState is null");
    if (state == nullptr) return fail(fn, "the FMU state pointer is null");
    if (size != kSerializedSize) {
        return fail(fn, format("%zu bytes is not a GuideW FMU state (layout version %u takes %zu)",
                               size, kLayoutVersion, kSerializedSize));
    }
    Reader r{bytes};
    char magic[sizeof kMagic];
    r.get(magic, sizeof magic);
    if (std::memcmp(magic, kMagic, sizeof kMagic) != 0) {
        return fail(fn, "the bytes do not start with a GuideW FMU state's marker");
    }
    const uint32_t layout = r.u32();
    if (layout != kLayoutVersion) {
        return fail(fn, format("state layout version %u; this FMU reads version %u", layout,
                               kLayoutVersion));
    }
    for (uint32_t expected : kRecordSizes) {
        const uint32_t n = r.u32();
        if (n != expected) {
            return fail(fn, format("the state holds a %u-byte record where this FMU has %u bytes",
                                   n, expected));
        }
    }
    Snapshot s;
    const uint32_t phase = r.u32();
    const uint32_t overrun = r.u32();
    if (phase < static_cast<uint32_t>(Phase::instantiated) ||
        phase > static_cast<uint32_t>(Phase::error) || overrun > 1) {
        return fail(fn, format("corrupt state: phase %u, overrun %u", phase, overrun));
    }
    s.phase = static_cast<Phase>(phase);
    s.overrun = overrun == 1;
    r.get(&s.steps, sizeof s.steps);
    r.get(&s.start_time, sizeof s.start_time);
    r.get(&s.u, sizeof s.u);
    r.get(&s.y, sizeof s.y);
    r.get(&s.p, sizeof s.p);
    r.get(&s.x, sizeof s.x);
    Snapshot* fresh = new Snapshot(s);
    states_.insert(fresh);
    *state = fresh;
    return Status::ok;
}

}  // namespace guidew_fmu
