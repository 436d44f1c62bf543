// Load commands and flown loads, one per law step, through the tracking
// meter as the simulator feeds it: the aircraft of each sample has flown the
// command of the sample before.
#ifndef TESTS_SIM_TRACKING_FEED_H
#define TESTS_SIM_TRACKING_FEED_H

#include <cmath>
#include <vector>

#include "sim/tracking.h"

inline Tracking track(const std::vector<double>& commanded, const std::vector<double>& flown) {
    TrackingMeter meter(180.0);
    GuideWInputs u{};
    GuideWOutputs y{};
    GuideWStates dw{};
    Aircraft ac;
    for (size_t k = 0; k < commanded.size(); ++k) {
        y.nz_cmd = commanded[k];
        ac.load_g = flown[k];
        meter.observe(
            FlightSample{static_cast<double>(k) * 0.01, &u, &y, &dw, &ac, 0.0, NAN, NAN, {}});
    }
    return meter.result();
}

#endif
