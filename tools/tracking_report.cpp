#include "tracking_report.h"

#include <cmath>

#include "text_format.h"

namespace {

using guidew_text::format;

// "at 12.34 s", or nothing where no time was kept.
std::string at(double t_s) { return std::isfinite(t_s) ? format(" at %.2f s", t_s) : ""; }

std::string load_lines(const Tracking& t) {
    return format(
               "load error %.3f g rms; away from the command's steps (%ld): %.3f g with the %.1f "
               "s after each left out, %.3f g with %.1f s; an ideal %.1f s airframe: %.3f g\n",
               t.rms_load_error_g, t.command_steps, t.rms_load_error_settled_short_g,
               TrackingMeter::kShortRise_s, t.rms_load_error_settled_g, TrackingMeter::kStepRise_s,
               TrackingMeter::kIdealLoadLag_s, t.rms_load_error_floor_g) +
           format(
               "    peak %.2f g flown for %.2f g commanded (%+.1f %%); worst excess %.2f g above",
               t.peak_flown_g, t.peak_commanded_g, t.peak_overshoot_percent(), t.worst_excess_g) +
           at(t.worst_excess_t_s) + format(", worst deficit %.2f g below", t.worst_deficit_g) +
           at(t.worst_deficit_t_s) + format("; lowest load %.2f g", t.lowest_load_g.value) +
           at(t.lowest_load_g.t_s) + "\n";
}

std::string elevator_line(const ElevatorFigures& e) {
    if (e.samples == 0) return "";
    std::string line = format("    elevator: %.2f deg rms about its %.1f s mean (", e.rms_deg,
                              ElevatorActivity::kMeanWindow_s);
    line += std::isnan(e.steady_rms_deg) ? "no steady phase)"
                                         : format("%.2f deg in steady phases)", e.steady_rms_deg);
    line += std::isnan(e.rate_limited_share)
                ? ", its actuator's rate unknown"
                : format(", %.0f %% of steps at its actuator's rate", 100.0 * e.rate_limited_share);
    return line + format("; above %.0f Hz %.2f deg rms, most at %.1f Hz (%.2f deg rms)\n",
                         ElevatorActivity::kMinBuzz_Hz, e.rms_above_min_buzz_deg,
                         e.buzz_frequency_Hz, e.buzz_rms_deg);
}

std::string air_line(const Tracking& t) {
    if (std::isnan(t.max_sideslip_deg.value) && std::isnan(t.max_alpha_deg.value)) return "";
    return format("    sideslip up to %+.1f deg", t.max_sideslip_deg.value) +
           at(t.max_sideslip_deg.t_s) +
           format("; angle of attack %.1f deg", t.min_alpha_deg.value) + at(t.min_alpha_deg.t_s) +
           format(" to %.1f deg", t.max_alpha_deg.value) + at(t.max_alpha_deg.t_s) + "\n";
}

}  // namespace

std::string tracking_report(const std::string& aircraft, const Tracking& t) {
    return "  " + aircraft + " tracking: " + load_lines(t) + elevator_line(t.elevator) +
           air_line(t) + format("    roll-rate error %.1f deg/s rms\n", t.rms_roll_rate_error_dps);
}

namespace {

std::string cone_words(const char* who, const ConeTime& c) {
    if (!c.first_s) return format("%s never in the rear cone", who);
    return format("%s in the rear cone %.2f s from %.2f s (longest %.2f s)", who, c.total_s,
                  *c.first_s, c.longest_s);
}

}  // namespace

std::string engagement_report(const EngagementFigures& f) {
    std::string line =
        f.on_target
            ? format("    on the line of sight (within %.0f deg) from %.2f s", f.on_target_deg,
                     f.on_target_entered_s)
            : format("    not on the line of sight (within %.0f deg) at the end", f.on_target_deg);
    line += format("; closest %.0f m at %.2f s; range at the end %.0f m\n", f.closest_m,
                   f.closest_t_s, f.final_range_m);
    line += format("    rear cone %.0f deg off the tail, %.0f-%.0f m, pointing within %.0f deg: ",
                   f.cone.angle_deg, f.cone.min_range_m, f.cone.max_range_m, f.cone.ata_deg) +
            cone_words("we", f.cone_time);
    if (f.opponent_cone) {
        const std::string first = first_in_cone(f);
        line += "; " + cone_words("the opponent", *f.opponent_cone) +
                "; first there: " + (first.empty() ? std::string("neither") : first);
    }
    return line + "\n";
}
