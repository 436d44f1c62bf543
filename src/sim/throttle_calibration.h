// The law's trim-throttle table for an aircraft: the throttle that holds
// level flight at every breakpoint of thr_alt_bp x thr_spd_bp, found by
// trimming the aircraft there.
//
// The law's speed hold demands thr_gain * (5 per m/s * speed error +
// table value), so a cell holds the trimmed throttle divided by thr_gain:
// at the commanded speed the proportional term is then zero and the speed
// holds with no standing error.
//
// Cells where the aircraft cannot trim (too slow to fly level, too fast for
// its thrust, above its ceiling) are filled by this rule, and listed:
//   - slower than the slowest trimmed speed of the altitude: that speed's
//     value (the speed hold accelerates the aircraft out of there anyway);
//   - faster than the fastest trimmed speed: full throttle (thr_max);
//   - between two trimmed speeds: linear in speed between them;
//   - an altitude where no speed trims: the nearest altitude that has one
//     (lower first).
#ifndef SIM_THROTTLE_CALIBRATION_H
#define SIM_THROTTLE_CALIBRATION_H

#include <cmath>
#include <string>
#include <vector>

#include "GuideW.h"
#include "aircraft_model.h"

struct FilledCell {
    double altitude_m, speed_mps;
    std::string rule;  // which fill rule gave it
};

// What the trim found at one breakpoint: the trimmed angle of attack,
// throttle command and the engine's throttle position (beyond 1: the
// afterburner is lit), or why there is no trim.
struct TrimCell {
    double altitude_m = 0.0, speed_mps = 0.0;
    bool trimmed = false;
    double alpha_deg = NAN, throttle = NAN, engine_position = NAN;
    std::string no_trim;  // why not, where not trimmed
    bool afterburner() const { return engine_position > 1.0; }
};

struct ThrottleCalibration {
    GuideWParams params;             // base with thr_table replaced
    int trimmed = 0;                 // cells trimmed
    std::vector<FilledCell> filled;  // cells filled by the rule
    std::vector<TrimCell> cells;     // every breakpoint, by altitude, then speed
};

// The per-cell trim report as CSV: altitude_m, speed_mps, trimmed, alpha_deg,
// throttle, engine_position, afterburner, no_trim.
std::string trim_report_csv(const ThrottleCalibration& cal);

// Trims aircraft at every breakpoint of base's table (its breakpoints and
// thr_gain, thr_max are kept).
ThrottleCalibration calibrate_trim_throttle(AircraftModel& aircraft, const GuideWParams& base);

#endif
