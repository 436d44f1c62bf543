// Angles the simulator reports and compares, in degrees.
#ifndef SIM_ANGLES_H
#define SIM_ANGLES_H

#include "law_constants.h"

// a brought into [-180, 180] by whole turns: a heading, or the turn between
// two headings.
inline double wrap180(double a) {
    while (a > kHalfTurn_deg) a -= kFullTurn_deg;
    while (a < -kHalfTurn_deg) a += kFullTurn_deg;
    return a;
}

#endif
