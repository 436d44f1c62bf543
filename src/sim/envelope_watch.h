// The aircraft's own envelope over a flight: the first time the flown load
// factor leaves the structural limits, and the first time the angle of
// attack passes the limit, each with time and value (the checks
// "load_limits" and "alpha_limit" judge them). A point mass has no limits
// and never leaves them.
#ifndef SIM_ENVELOPE_WATCH_H
#define SIM_ENVELOPE_WATCH_H

#include <cmath>
#include <optional>

#include "aircraft_model.h"
#include "checks.h"

class EnvelopeWatch {
public:
    explicit EnvelopeWatch(const AircraftModel& aircraft)
        : aircraft_(aircraft), limits_(aircraft.limits()) {}

    void observe(double t_s) {
        const double n = aircraft_.state().load_g, alpha = aircraft_.alpha_deg();
        if (!load_ && (n > limits_.max_load_g || n < limits_.min_load_g)) load_ = Excursion{n, t_s};
        if (!alpha_ && std::fabs(alpha) > limits_.max_alpha_deg) alpha_ = Excursion{alpha, t_s};
    }

    // The envelope and its excursions, as the checks judge them.
    void report(FlightFigures& f) const {
        f.aircraft = aircraft_.name();
        f.min_load_limit_g = limits_.min_load_g;
        f.max_load_limit_g = limits_.max_load_g;
        f.alpha_limit_deg = limits_.max_alpha_deg;
        f.load_excursion = load_;
        f.alpha_excursion = alpha_;
    }

private:
    const AircraftModel& aircraft_;
    AircraftLimits limits_;
    std::optional<Excursion> load_, alpha_;
};

#endif
