/* The typical flight: the one situation every example, test and tool starts
 * from. Level, wings-level flight at 200 m/s towards azimuth 0 at 3000 m,
 * commanded 30 deg to the right and 5 deg up at 220 m/s, mode 1, no external
 * weight, aux_in 7.
 *
 * From fresh states with the default parameters the law answers with the
 * commands below: the bank error of about 71 deg drives the roll law past
 * lat_max (150), and the pull the climbing turn wants (about 3.64 g) is held
 * at the load limit of 165 m/s of equivalent airspeed. Usable from C. */
#ifndef GUIDEW_TYPICAL_FLIGHT_H
#define GUIDEW_TYPICAL_FLIGHT_H

#include "GuideW_types.h"

/* In the order of GuideWInputs. */
#define GUIDEW_TYPICAL_FLIGHT                                                                  \
    {                                                                                          \
        220.0, 5.0, 30.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 200.0, 0.0, 200.0, 0.0, 0.0, \
            3000.0, 0.0, 7.0                                                                   \
    }
/* lat_cmd, nz_cmd, throttle_cmd, aux_out of one step of it. */
#define GUIDEW_TYPICAL_COMMANDS \
    { 150.0, 3.4804704136617577, 1.002442075, 7.0 }

static const GuideWInputs kTypicalFlight = GUIDEW_TYPICAL_FLIGHT;
static const GuideWOutputs kTypicalCommands = GUIDEW_TYPICAL_COMMANDS;

#endif
