#include "commands.h"

#include "guide_fields.h"

namespace {

// An event at t_s happens at the first step not before it; the steps' times
// are multiples of the step formed in floating point.
constexpr double kEventTimeTolerance_s = 1e-9;

}  // namespace

void apply_due_events(const std::vector<TimedChange>& events, size_t& next, double t_s,
                      GuideWInputs& u) {
    for (; next < events.size() && events[next].t_s <= t_s + kEventTimeTolerance_s; ++next) {
        for (const InputChange& c : events[next].changes) input_values(u)[c.index] = c.value;
    }
}
