// The values an input means something for, where it has such a range: what
// the law was built to be given. The FMUs declare them as their inputs' min
// and max, the region the standard lets a model state it operates in.
//
// The law itself takes every value (nothing is refused, see "What a host
// must know" in docs/host-integration.md), so the ranges are as wide as the
// law's meaning allows: a host that relies on a value inside them keeps it.
// Attitudes (yaw, pitch, roll) have none: the law folds any angle into its
// canonical range. Speeds and altitudes have no upper bound: the trim table
// holds its edge values beyond its breakpoints. The simulator's scenarios
// ask for narrower commands (src/sim/scenario.h, kCommandRanges): what an
// aircraft can be asked to fly, not what the law can read.
#ifndef GUIDEW_INPUT_RANGES_H
#define GUIDEW_INPUT_RANGES_H

#include <limits>

namespace guidew_fields {

inline constexpr double kUnbounded = std::numeric_limits<double>::infinity();

struct InputRange {
    const char* input;
    double min, max;
};

inline constexpr InputRange kInputRanges[] = {
    {"speed_cmd", 0.0, kUnbounded},     // m/s: an airspeed is never negative
    {"elev_cmd", -90.0, 90.0},          // deg: straight down to straight up
    {"azim_cmd", -360.0, 360.0},        // deg: within a turn either way (wrapped once)
    {"ext_weight", 0.0, 1.0},           // a blend of two commands
    {"ext_nz", -10.0, 10.0},            // g: beyond any airframe's limit
    {"ext_bank", -180.0, 180.0},        // deg: a bank either way
    {"ext_throttle", 0.0, kUnbounded},  // a demand, scaled by the tunable thr_gain
    {"mode", 0.0, 5.0},                 // the bands 1 to 4 and their edges
    {"tas", 0.0, kUnbounded},           // m/s: an airspeed is never negative
    {"ext_lat", -360.0, 360.0},         // deg: passed through as lat_cmd in mode 4
};

}  // namespace guidew_fields

#endif
