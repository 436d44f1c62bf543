#include "flight.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "angles.h"
#include "envelope_watch.h"
#include "guide_fields.h"
#include "GuideW_constants.h"
#include "law_constants.h"
#include "orbit.h"
#include "text_format.h"

namespace {

constexpr double kConvergedDir_deg = 5.0;
// An event at t_s happens at the first step not before it; the steps' times
// are multiples of the step formed in floating point.
constexpr double kEventTimeTolerance_s = 1e-9;
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

double input_or_output(const GuideWInputs& u, const GuideWOutputs& y, const char* name) {
    const int i = field_index(kInputNames, kInputCount, name);
    return i >= 0 ? input_values(u)[i]
                  : output_values(y)[field_index(kOutputNames, kOutputCount, name)];
}

// Follows the flight step by step and judges the scenario's checks without
// keeping the trajectory.
class CheckTracker {
public:
    explicit CheckTracker(const Scenario& sc) : sc_(sc), e_(sc.expect) {
        for (const std::string& name : e_.latched) {
            latched_.push_back({field_index(kStateNames, kStateCount, name), false});
        }
    }

    void observe(const FlightSample& s) {
        const GuideWStates& dw = *s.states;
        const GuideWInputs& u = *s.inputs;
        const double alt = s.aircraft->position.y;
        // NaN-safe: a value that is not a number is kept, so a check fails.
        if (!(alt >= min_alt_)) min_alt_ = alt;
        if (!(s.aircraft->load_g <= peak_load_)) peak_load_ = s.aircraft->load_g;
        for (auto& [idx, seen] : latched_) seen = seen || state_values(dw)[idx] == 1.0;
        observe_direction(s);

        observe_split(dw, u);
        if (e_.turn_direction_latched && dw.sign_latch == 1.0 &&
            std::fabs(u.roll) > kBankSideThreshold_deg) {
            const int side = u.roll > 0.0 ? 1 : -1;
            if (latched_side_ == 0) latched_side_ = side;
            turn_reversed_ = turn_reversed_ || side != latched_side_;
        }
        if (e_.passthrough && (s.outputs->lat_cmd != u.ext_lat || s.outputs->nz_cmd != u.ext_nz)) {
            ++passthrough_misses_;
        }
        if (e_.orbit && s.t_s >= e_.orbit->settle_s) observe_orbit(s);
        last_roll_ = u.roll;
        last_speed_ = u.tas;
        last_speed_cmd_ = u.speed_cmd;
    }

    FlightSummary finish() {
        FlightSummary sum;
        if (within_) sum.converge_s = entered_s_;
        sum.first_within_s = first_within_s_;
        sum.peak_load_g = peak_load_;
        sum.altitude_lost_m = std::max(0.0, sc_.initial.altitude_m - min_alt_);
        sum.final_speed_err_mps = last_speed_ - last_speed_cmd_;
        judge(sum.failed);
        return sum;
    }

private:
    // A flight that swings back out of the band has not converged: the time
    // that counts is the last entry into it, provided the error stays inside
    // to the end (NaN is outside).
    void observe_direction(const FlightSample& s) {
        const bool inside = s.dir_err_deg <= kConvergedDir_deg;
        if (inside && !within_) entered_s_ = s.t_s;
        if (inside && !first_within_s_) first_within_s_ = s.t_s;
        within_ = inside;
    }

    void observe_split(const GuideWStates& dw, const GuideWInputs& u) {
        if (!e_.rolls_before_pull) return;
        if (dw.splits_active == 1.0 && dw.splits_pull == 0.0) {
            split_seen_ = true;
            split_roll_ = std::max(split_roll_, std::fabs(u.roll));
        }
        if (dw.splits_pull == 1.0 && !pull_seen_) {
            pull_seen_ = true;
            pulled_after_roll_ = split_seen_ && split_roll_ >= kQuarterTurn_deg;
        }
    }

    // The ground track's radius from distance flown over heading turned,
    // and the altitude against the profile the orbit steers to.
    void observe_orbit(const FlightSample& s) {
        const GuideWInputs& u = *s.inputs;
        const GuideWStates& dw = *s.states;
        const double vh = std::hypot(u.vel_north, u.vel_east);
        if (orbit_started_) {
            orbit_turn_rad_ += std::fabs(wrap180(u.yaw - orbit_last_yaw_)) * kRadPerDeg;
            orbit_dist_m_ += vh * kStep_s;
        }
        orbit_started_ = true;
        orbit_last_yaw_ = u.yaw;
        (void)dw;
        orbit_radius_formula_ = s.orbit_radius_m;
        const double err = std::fabs(s.aircraft->position.y - s.orbit_alt_target_m);
        orbit_alt_err_ = std::isnan(err) ? err : std::max(orbit_alt_err_, err);
    }

    void judge(std::vector<std::string>& failed) const {
        if (e_.converge_within_s && !(within_ && entered_s_ <= *e_.converge_within_s)) {
            failed.push_back(format("converge within %.0f s", *e_.converge_within_s));
        }
        if (e_.max_load_g && !(peak_load_ <= *e_.max_load_g)) {
            failed.push_back(format("load %.2f g above %.2f g", peak_load_, *e_.max_load_g));
        }
        if (e_.min_altitude_m && !(min_alt_ >= *e_.min_altitude_m)) {
            failed.push_back(format("altitude %.0f m below %.0f m", min_alt_, *e_.min_altitude_m));
        }
        if (e_.final_speed_error_mps &&
            !(std::fabs(last_speed_ - last_speed_cmd_) <= *e_.final_speed_error_mps)) {
            failed.push_back(format("final speed error %.1f m/s above %.1f m/s",
                                    std::fabs(last_speed_ - last_speed_cmd_),
                                    *e_.final_speed_error_mps));
        }
        for (const auto& [idx, seen] : latched_) {
            if (!seen) failed.push_back(std::string(kStateNames[idx]) + " never set");
        }
        if (e_.rolls_before_pull && !pulled_after_roll_) {
            failed.push_back(format(
                "split manoeuvre did not roll past 90 deg (%.0f) before pulling", split_roll_));
        }
        if (e_.turn_direction_latched && (latched_side_ == 0 || turn_reversed_)) {
            failed.push_back(latched_side_ == 0 ? "turn direction never latched"
                                                : "turn reversed while its direction was latched");
        }
        if (e_.passthrough && passthrough_misses_ > 0) {
            failed.push_back(
                format("commands differ from ext_lat/ext_nz in %d steps", passthrough_misses_));
        }
        if (e_.ends_upright && !(std::fabs(last_roll_) < kQuarterTurn_deg)) {
            failed.push_back(format("ends with bank %.0f deg", last_roll_));
        }
        if (e_.final_bank &&
            !(std::fabs(last_roll_ - e_.final_bank->value_deg) <= e_.final_bank->tolerance_deg)) {
            failed.push_back(
                format("final bank %.1f deg, wanted %.1f", last_roll_, e_.final_bank->value_deg));
        }
        if (e_.orbit) judge_orbit(failed);
    }

    void judge_orbit(std::vector<std::string>& failed) const {
        const double radius = orbit_turn_rad_ > 0.0 ? orbit_dist_m_ / orbit_turn_rad_ : 0.0;
        const double rel = std::fabs(radius - orbit_radius_formula_) / orbit_radius_formula_;
        if (!(rel <= e_.orbit->radius_tolerance)) {
            failed.push_back(
                format("orbit radius %.0f m, formula %.0f m", radius, orbit_radius_formula_));
        }
        if (!(orbit_alt_err_ <= e_.orbit->altitude_tolerance_m)) {
            failed.push_back(format("altitude %.0f m off the orbit profile", orbit_alt_err_));
        }
    }

    const Scenario& sc_;
    const Expectations& e_;
    std::vector<std::pair<int, bool>> latched_;
    bool within_ = false;
    double entered_s_ = 0.0;
    std::optional<double> first_within_s_;
    double min_alt_ = INFINITY, peak_load_ = -INFINITY;
    double last_roll_ = 0.0, last_speed_ = 0.0, last_speed_cmd_ = 0.0;
    bool split_seen_ = false, pull_seen_ = false, pulled_after_roll_ = false;
    double split_roll_ = 0.0;
    int latched_side_ = 0;
    bool turn_reversed_ = false;
    int passthrough_misses_ = 0;
    bool orbit_started_ = false;
    double orbit_last_yaw_ = 0.0, orbit_turn_rad_ = 0.0, orbit_dist_m_ = 0.0;
    double orbit_radius_formula_ = 0.0, orbit_alt_err_ = 0.0;
};

}  // namespace

GuideWParams scenario_parameters(const GuideLibrary& lib, const Scenario& sc) {
    GuideWParams p = *lib.params;
    for (const auto& [name, value] : sc.params) set_parameter(p, name, value);
    return p;
}

FlightSummary fly_scenario(const GuideLibrary& lib, const Scenario& sc, AircraftModel& aircraft,
                           const SampleSink& sink) {
    const GuideWParams saved_params = *lib.params;
    lib.initialize();
    *lib.params = scenario_parameters(lib, sc);
    const bool guidance_on = lib.params->guide_ref != 0.0;

    GuideWInputs u = sc.commands;
    GuideWOutputs y{};
    const std::string air_left_out = aircraft.set_air_mass(sc.atmosphere);
    aircraft.reset(sc.initial);
    const Aircraft& ac = aircraft.state();
    CheckTracker checks(sc);
    EnvelopeWatch envelope(aircraft);
    size_t next_event = 0;
    bool steers = guidance_on;
    std::optional<double> ended_s;
    std::string end_reason;

    const long steps = std::lround(sc.duration_s / kStep_s);
    for (long k = 0; k <= steps; ++k) {
        const double t = static_cast<double>(k) * kStep_s;
        for (; next_event < sc.events.size() &&
               sc.events[next_event].t_s <= t + kEventTimeTolerance_s;
             ++next_event) {
            for (const InputChange& c : sc.events[next_event].changes)
                input_values(u)[c.index] = c.value;
        }
        aircraft.sense(u);
        lib.one_step(input_values(u));
        lib.get_output(&y.lat_cmd);
        // Above the mode-2/3 edge the law flies an orbit or passes external
        // commands through: it does not steer towards the commanded direction.
        const GuideWModeBand band = GuideW_mode_band(u.mode);
        steers = steers && band != GUIDEW_BAND_ORBIT && band != GUIDEW_BAND_DIRECT;

        FlightSample sample{t,          &u,  &y,
                            lib.states, &ac, commanded_direction_error_deg(u, ac),
                            NAN,        NAN, aircraft.air_data()};
        in_orbit(u, *lib.states, sample);
        checks.observe(sample);
        envelope.observe(t);
        if (sink) sink(sample);

        if (const char* bad = first_non_finite(u, y)) {
            ended_s = t;
            end_reason = std::string(bad) + " is " +
                         (std::isnan(input_or_output(u, y, bad)) ? "nan" : "infinite") +
                         format(" at t = %.2f s", t);
            break;
        }
        aircraft.step(y);
        if (!aircraft.fault().empty()) {
            ended_s = t + kStep_s;
            end_reason = aircraft.fault();
            break;
        }
        if (!(ac.position.y > 0.0)) {
            ended_s = t + kStep_s;
            if (!sc.expect.may_reach_ground)
                end_reason = format("reached the ground at t = %.2f s", *ended_s);
            break;
        }
    }
    *lib.params = saved_params;
    FlightSummary sum = checks.finish();
    sum.steers = steers;
    sum.ended_s = ended_s;
    sum.air_left_out = air_left_out;
    for (const std::string& f : envelope.failures()) sum.failed.push_back(f);
    if (!end_reason.empty()) sum.failed.insert(sum.failed.begin(), end_reason);
    if (!steers && sc.expect.converge_within_s) {
        sum.failed.push_back(
            "converge_within_s asked of a flight the law does not steer (mode above 2.5 or "
            "guide_ref 0)");
    }
    return sum;
}
