// libFuzzer target: guide-sim's scenario loader. Any bytes either load or are
// refused with a message that starts with "s.json:" and names the place (a
// line and column, or a key path). What loads holds what the simulator
// relies on: a start inside the envelope, events in time order within the
// flight, finite commands, weights within [0, 1]; and its parameters, written
// as guide-sim writes its .params file, read back to the same values.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "guide_fields.h"
#include "reader_checks.h"
#include "sim/scenario.h"
#include "tool_error.h"
#include "values.h"

namespace {

void check_loaded(const Scenario& sc) {
    const InitialFlight& i = sc.initial;
    if (!(sc.duration_s > 0.0 && sc.duration_s <= kMaxDuration_s))
        fault("duration outside (0, max]");
    if (!(i.speed_mps >= kMinStartSpeed_mps && i.speed_mps <= kMaxStartSpeed_mps))
        fault("start speed outside the envelope");
    if (!(i.altitude_m >= kMinStartAltitude_m && i.altitude_m <= kMaxStartAltitude_m))
        fault("start altitude outside the envelope");
    const auto check_inputs = [](const GuideWInputs& u) {
        for (int k = 0; k < kInputCount; ++k) {
            if (!std::isfinite(input_values(u)[k])) fault("a command is not finite");
        }
        for (const CommandRange& r : kCommandRanges) {
            const double v = input_values(u)[field_index(kInputNames, kInputCount, r.input)];
            if (!(v >= r.min && v <= r.max)) fault("a command outside its range");
        }
    };
    check_inputs(sc.commands);
    GuideWInputs u = sc.commands;
    double last = 0.0;
    for (const TimedChange& e : sc.events) {
        if (!(e.t_s >= last && e.t_s <= sc.duration_s))
            fault("event out of order or outside the flight");
        last = e.t_s;
        for (const InputChange& c : e.changes) input_values(u)[c.index] = c.value;
        check_inputs(u);
    }
    GuideWParams p{};
    for (const auto& [name, value] : sc.params) set_parameter(p, name, value);
    GuideWParams again{};
    for (const Assignment& a : parse_parameter_text(parameter_text(p), "written"))
        set_parameter(again, a.name, a.value);
    if (parameter_text(again) != parameter_text(p))
        fault("a scenario's parameters do not survive their file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<Scenario> loaded;
    try {
        loaded = parse_scenarios(text, "s.json");
    } catch (const ToolError& e) {
        check_refusal(e.what(), "s.json:");
        return 0;
    }
    if (loaded.empty()) fault("nothing loaded, nothing refused");
    for (const Scenario& sc : loaded) check_loaded(sc);
    return 0;
}
