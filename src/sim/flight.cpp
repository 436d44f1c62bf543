#include "flight.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "angles.h"
#include "envelope_watch.h"
#include "guide_fields.h"
#include "GuideW_constants.h"
#include "law_constants.h"
#include "orbit.h"
#include "text_format.h"

namespace {

constexpr double kConvergedDir_deg = 5.0;
constexpr double kBankSideThreshold_deg = 10.0;  // a bank clearly on one side

using guidew_text::format;

// The law steers the velocity through the air (what it is fed): in a wind
// the ground track differs, and convergence is judged in the air mass.
double commanded_direction_error_deg(const GuideWInputs& u, const Aircraft& ac) {
    const double el = u.elev_cmd * kRadPerDeg, az = u.azim_cmd * kRadPerDeg;
    const V3 cmd{std::cos(el) * std::cos(az), std::sin(el), std::cos(el) * std::sin(az)};
    const double c = dot(cmd, unit(air_velocity(ac)));
    return std::acos(std::clamp(c, -1.0, 1.0)) * kDegPerRad;
}

// The orbit's radius and altitude target from the law's own formulas (the
// aircraft's track stands for the law's yaw); left NaN outside mode 3.
void in_orbit(const GuideWInputs& u, const GuideWStates& dw, FlightSample& s) {
    if (GuideW_mode_band(u.mode) != GUIDEW_BAND_ORBIT || dw.orbit_latched != 1.0) return;
    const double nz = orbit_turn_load_g(u.ext_nz);
    if (!(std::fabs(nz) > 1.0)) return;
    s.orbit_radius_m = orbit_radius_m(u.speed_cmd, nz);
    const double delta = wrap180(u.yaw - dw.orbit_yaw_ref);
    s.orbit_alt_target_m =
        orbit_altitude_target_m(delta, s.orbit_radius_m, u.elev_cmd, dw.orbit_alt_ref);
}

// The first input or command that is not finite, by name; nullptr if none.
const char* first_non_finite(const GuideWInputs& u, const GuideWOutputs& y) {
    for (int i = 0; i < kInputCount; ++i) {
        if (!std::isfinite(input_values(u)[i])) return kInputNames[i];
    }
    for (int i = 0; i < kOutputCount; ++i) {
        if (!std::isfinite(output_values(y)[i])) return kOutputNames[i];
    }
    return nullptr;
}

// The first quantity of the aircraft's state that is not finite; nullptr
// if none.
const char* first_non_finite(const Aircraft& ac) {
    if (!std::isfinite(ac.position.x) || !std::isfinite(ac.position.y) ||
        !std::isfinite(ac.position.z))
        return "position";
    if (!std::isfinite(ac.velocity.x) || !std::isfinite(ac.velocity.y) ||
        !std::isfinite(ac.velocity.z))
        return "velocity";
    if (!std::isfinite(ac.load_g)) return "load factor";
    return nullptr;
}

double input_or_output(const GuideWInputs& u, const GuideWOutputs& y, const char* name) {
    const int i = field_index(kInputNames, kInputCount, name);
    return i >= 0 ? input_values(u)[i]
                  : output_values(y)[field_index(kOutputNames, kOutputCount, name)];
}

// Follows the flight step by step and gathers what the checks judge,
// without keeping the trajectory.
class CheckTracker {
public:
    explicit CheckTracker(const Scenario& sc) : e_(sc.expect) {
        for (const std::string& name : e_.latched)
            latched_.push_back(field_index(kStateNames, kStateCount, name));
        f_.latched_seen.assign(latched_.size(), false);
        f_.min_altitude_m = INFINITY;
        f_.peak_load_g = -INFINITY;
    }

    void observe(const FlightSample& s) {
        const GuideWStates& dw = *s.states;
        const GuideWInputs& u = *s.inputs;
        const double alt = s.aircraft->position.y;
        // NaN-safe: a value that is not a number is kept, so a check fails.
        if (!(alt >= f_.min_altitude_m)) f_.min_altitude_m = alt;
        if (!(s.aircraft->load_g <= f_.peak_load_g)) f_.peak_load_g = s.aircraft->load_g;
        for (size_t i = 0; i < latched_.size(); ++i)
            f_.latched_seen[i] = f_.latched_seen[i] || state_values(dw)[latched_[i]] == 1.0;
        observe_direction(s);

        observe_split(dw, u);
        if (e_.turn_direction_latched && dw.sign_latch == 1.0 &&
            std::fabs(u.roll) > kBankSideThreshold_deg) {
            const int side = u.roll > 0.0 ? 1 : -1;
            if (f_.latched_side == 0) f_.latched_side = side;
            f_.turn_reversed = f_.turn_reversed || side != f_.latched_side;
        }
        if (e_.passthrough && (s.outputs->lat_cmd != u.ext_lat || s.outputs->nz_cmd != u.ext_nz)) {
            ++f_.passthrough_misses;
        }
        if (e_.orbit && s.t_s >= e_.orbit->settle_s) observe_orbit(s);
        f_.last_roll_deg = u.roll;
        f_.final_speed_error_mps = u.tas - u.speed_cmd;
    }

    // The figures at the end of the flight; the caller adds how it ended.
    FlightFigures& figures() {
        f_.orbit_radius_m = orbit_turn_rad_ > 0.0 ? orbit_dist_m_ / orbit_turn_rad_ : 0.0;
        return f_;
    }

    std::optional<double> first_within_s() const { return first_within_s_; }

private:
    // A flight that swings back out of the band has not converged: the time
    // that counts is the last entry into it, provided the error stays inside
    // to the end (NaN is outside).
    void observe_direction(const FlightSample& s) {
        const bool inside = s.dir_err_deg <= kConvergedDir_deg;
        if (inside && !f_.within) f_.entered_s = s.t_s;
        if (inside && !first_within_s_) first_within_s_ = s.t_s;
        f_.within = inside;
    }

    void observe_split(const GuideWStates& dw, const GuideWInputs& u) {
        if (!e_.rolls_before_pull) return;
        if (dw.splits_active == 1.0 && dw.splits_pull == 0.0) {
            split_seen_ = true;
            f_.split_roll_deg = std::max(f_.split_roll_deg, std::fabs(u.roll));
        }
        if (dw.splits_pull == 1.0 && !pull_seen_) {
            pull_seen_ = true;
            f_.pulled_after_roll = split_seen_ && f_.split_roll_deg >= kQuarterTurn_deg;
        }
    }

    // The ground track's radius from distance flown over heading turned,
    // and the altitude against the profile the orbit steers to.
    void observe_orbit(const FlightSample& s) {
        const GuideWInputs& u = *s.inputs;
        const double vh = std::hypot(u.vel_north, u.vel_east);
        if (orbit_started_) {
            orbit_turn_rad_ += std::fabs(wrap180(u.yaw - orbit_last_yaw_)) * kRadPerDeg;
            orbit_dist_m_ += vh * kStep_s;
        }
        orbit_started_ = true;
        orbit_last_yaw_ = u.yaw;
        f_.orbit_radius_formula_m = s.orbit_radius_m;
        const double err = std::fabs(s.aircraft->position.y - s.orbit_alt_target_m);
        f_.orbit_altitude_error_m =
            std::isnan(err) ? err : std::max(f_.orbit_altitude_error_m, err);
    }

    const Expectations& e_;
    std::vector<int> latched_;  // the expected states' indices
    FlightFigures f_;
    std::optional<double> first_within_s_;
    bool split_seen_ = false, pull_seen_ = false;
    bool orbit_started_ = false;
    double orbit_last_yaw_ = 0.0, orbit_turn_rad_ = 0.0, orbit_dist_m_ = 0.0;
};

// What the flight's end says for the checks: the first value not finite,
// the model's fault, the ground.
struct FlightEnd {
    std::optional<double> ended_s;
    std::string not_finite, model_fault;
    std::optional<double> ground_s;
};

}  // namespace

bool FlightSummary::passed() const {
    for (const CheckResult& c : checks) {
        if (!c.failure.empty()) return false;
    }
    return true;
}

std::vector<CheckResult> FlightSummary::failed() const {
    std::vector<CheckResult> out;
    for (const CheckResult& c : checks) {
        if (!c.failure.empty()) out.push_back(c);
    }
    return out;
}

GuideWParams scenario_parameters(const GuideWParams& base, const Scenario& sc) {
    GuideWParams p = base;
    for (const auto& [name, value] : sc.params) set_parameter(p, name, value);
    return p;
}

namespace {

// The flight of a scenario the aircraft cannot start: no trim.
FlightSummary not_started(const Scenario& sc, const std::string& why) {
    FlightSummary sum;
    sum.started = false;
    FlightFigures f;
    f.no_trim = why;
    sum.checks = judge_flight(sc.expect, f);
    return sum;
}

// Steps the law and the aircraft to the end of the scenario or the first
// reason to stop; the checks and the sink see every step.
FlightEnd fly_steps(GuidanceLaw& law, const Scenario& sc, AircraftModel& aircraft,
                    CheckTracker& checks, EnvelopeWatch& envelope, bool& steers,
                    Engagement* engagement, EngagementTracker* tracker, const SampleSink& sink) {
    GuideWInputs u = sc.commands;
    GuideWOutputs y{};
    const Aircraft& ac = aircraft.state();
    size_t next_event = 0;
    FlightEnd end;
    const long steps = std::lround(sc.duration_s / kStep_s);
    for (long k = 0; k <= steps; ++k) {
        const double t = static_cast<double>(k) * kStep_s;
        apply_due_events(sc.events, next_event, t, u);
        aircraft.sense(u);
        if (engagement) engagement->command(t, ac, u);
        law.step(u, y);
        // Above the mode-2/3 edge the law flies an orbit or passes external
        // commands through: it does not steer towards the commanded direction.
        const GuideWModeBand band = GuideW_mode_band(u.mode);
        steers = steers && band != GUIDEW_BAND_ORBIT && band != GUIDEW_BAND_DIRECT;

        FlightSample sample{t,
                            &u,
                            &y,
                            &law.states(),
                            &ac,
                            commanded_direction_error_deg(u, ac),
                            NAN,
                            NAN,
                            aircraft.air_data()};
        in_orbit(u, law.states(), sample);
        if (engagement) {
            sample.engagement = &engagement->sample(ac);
            tracker->observe(t, sample.engagement->geometry, sample.engagement->opponent_geometry);
        }
        checks.observe(sample);
        envelope.observe(t);
        if (sink) sink(sample);

        if (const char* bad = first_non_finite(u, y)) {
            end.ended_s = t;
            end.not_finite = std::string(bad) + " is " +
                             (std::isnan(input_or_output(u, y, bad)) ? "nan" : "infinite") +
                             format(" at t = %.2f s", t);
            break;
        }
        aircraft.step(y);
        if (engagement) engagement->step(t);
        if (!aircraft.fault().empty()) {
            end.ended_s = t + kStep_s;
            end.model_fault = aircraft.fault();
            break;
        }
        // A state that is not finite has not reached the ground: it has left
        // the numbers (thrust beyond any engine's, say).
        if (const char* bad = first_non_finite(ac)) {
            end.ended_s = t + kStep_s;
            end.not_finite =
                format("the aircraft's %s is not finite at t = %.2f s", bad, t + kStep_s);
            break;
        }
        if (!(ac.position.y > 0.0)) {
            end.ended_s = t + kStep_s;
            if (!sc.expect.may_reach_ground) end.ground_s = end.ended_s;
            break;
        }
        // An opponent that can no longer fly ends the engagement.
        if (engagement && !engagement->opponent_fault().empty()) {
            end.ended_s = t + kStep_s;
            break;
        }
    }
    return end;
}

}  // namespace

FlightSummary fly_scenario(GuidanceLaw& law, const Scenario& sc, AircraftModel& aircraft,
                           const SampleSink& sink, Opponent* opponent) {
    if (sc.target && sc.target->opponent && !opponent)
        throw std::invalid_argument(sc.name + ": a second aircraft to fly and no law for it");
    const GuideWParams saved_params = law.params();
    law.initialize();
    law.params() = scenario_parameters(law.params(), sc);
    bool steers = law.params().guide_ref != 0.0;
    struct Restore {
        GuidanceLaw& law;
        const GuideWParams& params;
        ~Restore() { law.params() = params; }
    } restore{law, saved_params};
    std::string air_left_out;
    std::optional<Engagement> engagement;
    try {
        air_left_out = aircraft.set_air_mass(sc.atmosphere);
        aircraft.reset(sc.initial);
        if (sc.target)
            engagement.emplace(*sc.target, sc.pursuit, sc.initial, sc.atmosphere, opponent);
    } catch (const AircraftError& e) {
        if (e.kind() != AircraftError::kTrim) throw;
        return not_started(sc, e.what());
    }
    CheckTracker checks(sc);
    EnvelopeWatch envelope(aircraft);
    std::optional<EngagementTracker> tracker;
    if (engagement)
        tracker.emplace(sc.expect.on_target_deg, sc.expect.rear_cone,
                        opponent != nullptr && sc.target->opponent);
    const FlightEnd end =
        fly_steps(law, sc, aircraft, checks, envelope, steers, engagement ? &*engagement : nullptr,
                  tracker ? &*tracker : nullptr, sink);

    FlightFigures& f = checks.figures();
    f.steers = steers;
    f.not_finite = end.not_finite;
    f.model_fault = end.model_fault;
    f.ground_s = end.ground_s;
    envelope.report(f);
    if (tracker) {
        f.engagement = tracker->figures();
        engagement->report(*f.engagement);
    }

    FlightSummary sum;
    if (f.within) sum.converge_s = f.entered_s;
    sum.first_within_s = checks.first_within_s();
    sum.peak_load_g = f.peak_load_g;
    sum.altitude_lost_m = std::max(0.0, sc.initial.altitude_m - f.min_altitude_m);
    sum.min_altitude_m = f.min_altitude_m;
    sum.final_speed_err_mps = f.final_speed_error_mps;
    sum.final_bank_deg = f.last_roll_deg;
    sum.steers = steers;
    sum.ended_s = end.ended_s;
    sum.air_left_out = air_left_out;
    sum.engagement = f.engagement;
    sum.checks = judge_flight(sc.expect, f);
    return sum;
}

FlightSummary fly_scenario(const GuideLibrary& lib, const Scenario& sc, AircraftModel& aircraft,
                           const SampleSink& sink) {
    LoadedLaw law(lib);
    return fly_scenario(law, sc, aircraft, sink);
}
