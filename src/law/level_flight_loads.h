// The three loads of level flight the law asks for, side by side.
//
// A path held level at pitch theta and bank phi needs lift whose vertical
// share carries the weight: n cos(phi) = cos(theta). The law uses three forms
// of that load on purpose; they differ in sign, in what they divide by, and
// in how the angles reach them:
//
//   level_load_pull_either_side   cos(theta) / |cos(phi)|   rear manoeuvres
//       Holds the path while the aircraft rolls into a rear turn or a split
//       manoeuvre. Always a pull, even past the knife edge: rolling through
//       the vertical the aircraft must not push and then pull again.
//   level_load_signed             cos(theta) / cos(phi)     upright recovery
//       The load that really holds the path level: negative upside down,
//       where only a push keeps the lift pointing up. The recovery rolls
//       wings level while flying it.
//   gravity_share_on_lift_axis    cos(theta) * cos(phi)     command mixing
//       Not a quotient: gravity's share along the lift axis, which leaves the
//       path unbent along that axis. An external bank opposing the present
//       roll rolls the aircraft through wings level or the knife edge, where
//       the quotients grow without bound; this product stays within +-1 g.
//       Its angles come from the conditioned attitude in degrees, divided by
//       180 before multiplying by pi (not the geometry's radians), because
//       mixing runs with guidance off too, when no geometry is formed.
//
// The quotients keep their divisor off zero with GuideW_nonzero; the order of
// every operation is part of the law.
#ifndef LEVEL_FLIGHT_LOADS_H
#define LEVEL_FLIGHT_LOADS_H

#include <cmath>

#include "law_constants.h"
#include "numeric_helpers.h"

inline double level_load_pull_either_side(double cos_pitch, double cos_roll) {
    return cos_pitch / std::fabs(GuideW_nonzero(cos_roll));
}

inline double level_load_signed(double cos_pitch, double cos_roll) {
    return cos_pitch / GuideW_nonzero(cos_roll);
}

inline double gravity_share_on_lift_axis(double pitch_deg, double roll_deg) {
    return std::cos((pitch_deg / kHalfTurn_deg) * kPi) * std::cos((roll_deg / kHalfTurn_deg) * kPi);
}

#endif
