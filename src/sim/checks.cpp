#include "checks.h"

#include <cmath>

#include "guide_fields.h"
#include "law_constants.h"
#include "text_format.h"

namespace {

using guidew_text::format;

// A judge returns why its check failed, or nothing when it held. item is
// the entry of a check that comes once per listed item (latched states).
using Judge = std::string (*)(const Expectations&, const FlightFigures&, size_t item);

// Who asks for a check: the scenario, or the simulator of every flight.
enum class AskedBy { kScenario, kSimulator };

struct CheckDef {
    const char* name;
    AskedBy asked_by;
    // How many times the flight is judged by it (0: not at all).
    size_t (*times)(const Expectations&);
    Judge judge;
};

size_t always(const Expectations&) { return 1; }
size_t once_if(bool asked) { return asked ? 1 : 0; }

// Within a bound; NaN never is.
bool within(double value, double bound) { return value <= bound; }

std::string judge_trim(const Expectations&, const FlightFigures& f, size_t) { return f.no_trim; }
std::string judge_finite(const Expectations&, const FlightFigures& f, size_t) {
    return f.not_finite;
}
std::string judge_model(const Expectations&, const FlightFigures& f, size_t) {
    return f.model_fault;
}
std::string judge_ground(const Expectations&, const FlightFigures& f, size_t) {
    return f.ground_s ? format("reached the ground at t = %.2f s", *f.ground_s) : "";
}

// A flight the law does not steer has no convergence to judge: asking for
// one is a mistake of the scenario, said as such.
std::string judge_converge(const Expectations& e, const FlightFigures& f, size_t) {
    std::string why;
    if (!(f.within && f.entered_s <= *e.converge_within_s))
        why = format("converge within %.0f s", *e.converge_within_s);
    if (!f.steers) {
        why += std::string(why.empty() ? "" : "; ") +
               "converge_within_s asked of a flight the law does not steer (mode above 2.5 or "
               "guide_ref 0)";
    }
    return why;
}

std::string judge_max_load(const Expectations& e, const FlightFigures& f, size_t) {
    if (within(f.peak_load_g, *e.max_load_g)) return "";
    return format("load %.2f g above %.2f g", f.peak_load_g, *e.max_load_g);
}

std::string judge_min_altitude(const Expectations& e, const FlightFigures& f, size_t) {
    if (f.min_altitude_m >= *e.min_altitude_m) return "";
    return format("altitude %.0f m below %.0f m", f.min_altitude_m, *e.min_altitude_m);
}

std::string judge_final_speed(const Expectations& e, const FlightFigures& f, size_t) {
    const double err = std::fabs(f.final_speed_error_mps);
    if (within(err, *e.final_speed_error_mps)) return "";
    return format("final speed error %.1f m/s above %.1f m/s", err, *e.final_speed_error_mps);
}

std::string judge_latched(const Expectations& e, const FlightFigures& f, size_t item) {
    return f.latched_seen[item] ? "" : e.latched[item] + " never set";
}

std::string judge_rolls_before_pull(const Expectations&, const FlightFigures& f, size_t) {
    if (f.pulled_after_roll) return "";
    return format("split manoeuvre did not roll past 90 deg (%.0f) before pulling",
                  f.split_roll_deg);
}

std::string judge_turn_direction(const Expectations&, const FlightFigures& f, size_t) {
    if (f.latched_side == 0) return "turn direction never latched";
    return f.turn_reversed ? "turn reversed while its direction was latched" : "";
}

std::string judge_passthrough(const Expectations&, const FlightFigures& f, size_t) {
    if (f.passthrough_misses == 0) return "";
    return format("commands differ from ext_lat/ext_nz in %d steps", f.passthrough_misses);
}

std::string judge_upright(const Expectations&, const FlightFigures& f, size_t) {
    if (std::fabs(f.last_roll_deg) < kQuarterTurn_deg) return "";
    return format("ends with bank %.0f deg", f.last_roll_deg);
}

std::string judge_final_bank(const Expectations& e, const FlightFigures& f, size_t) {
    if (within(std::fabs(f.last_roll_deg - e.final_bank->value_deg), e.final_bank->tolerance_deg))
        return "";
    return format("final bank %.1f deg, wanted %.1f", f.last_roll_deg, e.final_bank->value_deg);
}

// The ground track's radius against the law's formula, and the altitude
// against the profile it steers to.
std::string judge_orbit(const Expectations& e, const FlightFigures& f, size_t) {
    std::string why;
    const double rel =
        std::fabs(f.orbit_radius_m - f.orbit_radius_formula_m) / f.orbit_radius_formula_m;
    if (!within(rel, e.orbit->radius_tolerance)) {
        why = format("orbit radius %.0f m, formula %.0f m", f.orbit_radius_m,
                     f.orbit_radius_formula_m);
    }
    if (!within(f.orbit_altitude_error_m, e.orbit->altitude_tolerance_m)) {
        why += (why.empty() ? "" : "; ") +
               format("altitude %.0f m off the orbit profile", f.orbit_altitude_error_m);
    }
    return why;
}

std::string judge_load_limits(const Expectations&, const FlightFigures& f, size_t) {
    if (!f.load_excursion) return "";
    return f.aircraft + ": " +
           format("load factor %.2f g beyond the limits %.1f/%.1f g at t = %.2f s",
                  f.load_excursion->value, f.min_load_limit_g, f.max_load_limit_g,
                  f.load_excursion->t_s);
}

std::string judge_alpha_limit(const Expectations&, const FlightFigures& f, size_t) {
    if (!f.alpha_excursion) return "";
    return f.aircraft + ": " +
           format("angle of attack %.1f deg beyond %.0f deg at t = %.2f s",
                  f.alpha_excursion->value, f.alpha_limit_deg, f.alpha_excursion->t_s);
}

// An engagement's: our velocity onto the line of sight in time and to the
// end.
std::string judge_on_target(const Expectations& e, const FlightFigures& f, size_t) {
    const EngagementFigures& g = *f.engagement;
    if (g.on_target && g.on_target_entered_s <= *e.on_target_within_s) return "";
    const std::string came = g.on_target ? format("came at %.2f s", g.on_target_entered_s)
                                         : (g.first_on_target_s ? "did not stay" : "never came");
    return format("velocity within %.0f deg of the line of sight by %.0f s: ", e.on_target_deg,
                  *e.on_target_within_s) +
           came;
}

std::string judge_separation(const Expectations& e, const FlightFigures& f, size_t) {
    const EngagementFigures& g = *f.engagement;
    if (g.closest_m >= *e.min_separation_m) return "";
    return format("came within %.0f m of the target at t = %.2f s (separation %.0f m)", g.closest_m,
                  g.closest_t_s, *e.min_separation_m);
}

std::string judge_rear_cone(const Expectations& e, const FlightFigures& f, size_t) {
    const EngagementFigures& g = *f.engagement;
    if (g.cone_time.total_s >= *e.rear_cone_s) return "";
    return format(
        "%.2f s in the target's rear cone (%.0f deg off its tail, %.0f-%.0f m, pointing within "
        "%.0f deg), %.2f s asked",
        g.cone_time.total_s, g.cone.angle_deg, g.cone.min_range_m, g.cone.max_range_m,
        g.cone.ata_deg, *e.rear_cone_s);
}

// The second aircraft of a one-against-one flies under the same rules as
// ours: finite, sound, off the ground and inside its envelope.
std::string judge_opponent(const Expectations&, const FlightFigures& f, size_t) {
    if (!f.engagement) return "";
    const EngagementFigures& g = *f.engagement;
    std::string why = g.opponent_fault;
    if (g.opponent_load)
        why += (why.empty() ? "" : "; ") +
               format("load factor %.2f g beyond the limits %.1f/%.1f g at t = %.2f s",
                      g.opponent_load->value, g.opponent_load_limit_min_g,
                      g.opponent_load_limit_max_g, g.opponent_load->t_s);
    if (g.opponent_alpha)
        why += (why.empty() ? "" : "; ") +
               format("angle of attack %.1f deg beyond %.0f deg at t = %.2f s",
                      g.opponent_alpha->value, g.opponent_alpha_limit_deg, g.opponent_alpha->t_s);
    return why.empty() ? "" : "opponent " + g.opponent_name + ": " + why;
}

// Every check, in the order its verdict is reported: first what ends or
// prevents a flight, then the scenario's expectations, then the envelope.
const CheckDef kChecks[] = {
    {"trim", AskedBy::kSimulator, always, judge_trim},
    {"finite_values", AskedBy::kSimulator, always, judge_finite},
    {"aircraft_fault", AskedBy::kSimulator, always, judge_model},
    {"ground", AskedBy::kSimulator,
     [](const Expectations& e) { return once_if(!e.may_reach_ground); }, judge_ground},
    {"converge_within_s", AskedBy::kScenario,
     [](const Expectations& e) { return once_if(e.converge_within_s.has_value()); },
     judge_converge},
    {"max_load_g", AskedBy::kScenario,
     [](const Expectations& e) { return once_if(e.max_load_g.has_value()); }, judge_max_load},
    {"min_altitude_m", AskedBy::kScenario,
     [](const Expectations& e) { return once_if(e.min_altitude_m.has_value()); },
     judge_min_altitude},
    {"final_speed_error_mps", AskedBy::kScenario,
     [](const Expectations& e) { return once_if(e.final_speed_error_mps.has_value()); },
     judge_final_speed},
    {"latched", AskedBy::kScenario, [](const Expectations& e) { return e.latched.size(); },
     judge_latched},
    {"rolls_before_pull", AskedBy::kScenario,
     [](const Expectations& e) { return once_if(e.rolls_before_pull); }, judge_rolls_before_pull},
    {"turn_direction_latched", AskedBy::kScenario,
     [](const Expectations& e) { return once_if(e.turn_direction_latched); }, judge_turn_direction},
    {"passthrough", AskedBy::kScenario,
     [](const Expectations& e) { return once_if(e.passthrough); }, judge_passthrough},
    {"ends_upright", AskedBy::kScenario,
     [](const Expectations& e) { return once_if(e.ends_upright); }, judge_upright},
    {"final_bank_deg", AskedBy::kScenario,
     [](const Expectations& e) { return once_if(e.final_bank.has_value()); }, judge_final_bank},
    {"orbit", AskedBy::kScenario,
     [](const Expectations& e) { return once_if(e.orbit.has_value()); }, judge_orbit},
    {"on_target_within_s", AskedBy::kScenario,
     [](const Expectations& e) { return once_if(e.on_target_within_s.has_value()); },
     judge_on_target},
    {"min_separation_m", AskedBy::kScenario,
     [](const Expectations& e) { return once_if(e.min_separation_m.has_value()); },
     judge_separation},
    {"rear_cone_s", AskedBy::kScenario,
     [](const Expectations& e) { return once_if(e.rear_cone_s.has_value()); }, judge_rear_cone},
    {"load_limits", AskedBy::kSimulator, always, judge_load_limits},
    {"alpha_limit", AskedBy::kSimulator, always, judge_alpha_limit},
    {"opponent", AskedBy::kSimulator, always, judge_opponent},
};

// A check judged once per item carries the item in its name
// ("latched.inverted_latch").
std::string check_name(const CheckDef& def, const Expectations& e, size_t item) {
    if (def.judge == judge_latched) return std::string(def.name) + "." + e.latched[item];
    return def.name;
}

}  // namespace

const char* const kNotFlown = "the flight did not start";

std::vector<CheckResult> judge_flight(const Expectations& e, const FlightFigures& f) {
    std::vector<CheckResult> results;
    // A flight that never started has shown none of what was asked of it.
    if (!f.no_trim.empty()) {
        results.push_back({"trim", f.no_trim});
        for (std::string& name : checks_asked(e)) results.push_back({name, kNotFlown});
        return results;
    }
    for (const CheckDef& def : kChecks) {
        for (size_t i = 0, n = def.times(e); i < n; ++i) {
            std::string why = def.judge(e, f, i);
            if (def.asked_by == AskedBy::kScenario || !why.empty())
                results.push_back({check_name(def, e, i), std::move(why)});
        }
    }
    return results;
}

std::vector<std::string> checks_asked(const Expectations& e) {
    std::vector<std::string> names;
    for (const CheckDef& def : kChecks) {
        if (def.asked_by != AskedBy::kScenario) continue;
        for (size_t i = 0, n = def.times(e); i < n; ++i) names.push_back(check_name(def, e, i));
    }
    return names;
}

std::vector<std::string> own_checks() {
    std::vector<std::string> names;
    for (const CheckDef& def : kChecks) {
        if (def.asked_by == AskedBy::kSimulator) names.push_back(def.name);
    }
    return names;
}
