// The law's command inputs as a scenario gives them: at the start, and
// changed by events at stated times.
#ifndef SIM_COMMANDS_H
#define SIM_COMMANDS_H

#include <cstddef>
#include <vector>

#include "GuideW.h"

struct InputChange {
    int index;  // into the 19-value input array
    double value;
};

struct TimedChange {
    double t_s;
    std::vector<InputChange> changes;
};

// Applies the events due at t (those from next on whose time is not after
// it, within the rounding of the steps' times) to u, and moves next past
// them.
void apply_due_events(const std::vector<TimedChange>& events, size_t& next, double t_s,
                      GuideWInputs& u);

#endif
