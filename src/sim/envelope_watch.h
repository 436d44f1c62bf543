// The aircraft's own envelope over a flight: the first time the flown load
// factor leaves the structural limits, and the first time the angle of
// attack passes the limit, each with time and value. A point mass has no
// limits and never fails here.
#ifndef SIM_ENVELOPE_WATCH_H
#define SIM_ENVELOPE_WATCH_H

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "aircraft_model.h"
#include "text_format.h"

class EnvelopeWatch {
public:
    explicit EnvelopeWatch(const AircraftModel& aircraft)
        : aircraft_(aircraft), limits_(aircraft.limits()) {}

    void observe(double t_s) {
        const double n = aircraft_.state().load_g, alpha = aircraft_.alpha_deg();
        if (load_.empty() && (n > limits_.max_load_g || n < limits_.min_load_g)) {
            load_ = guidew_text::format(
                "load factor %.2f g beyond the limits %.1f/%.1f g at t = %.2f s", n,
                limits_.min_load_g, limits_.max_load_g, t_s);
        }
        if (alpha_.empty() && std::fabs(alpha) > limits_.max_alpha_deg) {
            alpha_ = guidew_text::format("angle of attack %.1f deg beyond %.0f deg at t = %.2f s",
                                         alpha, limits_.max_alpha_deg, t_s);
        }
    }

    std::vector<std::string> failures() const {
        std::vector<std::string> f;
        if (!load_.empty()) f.push_back(aircraft_.name() + ": " + load_);
        if (!alpha_.empty()) f.push_back(aircraft_.name() + ": " + alpha_);
        return f;
    }

private:
    const AircraftModel& aircraft_;
    AircraftLimits limits_;
    std::string load_, alpha_;
};

#endif
