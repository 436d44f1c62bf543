// The model's records, as plain C structures: a C or C++ host (or any
// language with a foreign-function interface) can lay them out alike.
#ifndef GUIDEW_TYPES_H
#define GUIDEW_TYPES_H

#include <stdint.h>

#define GUIDEW_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define GUIDEW_STATIC_ASSERT(cond, text) static_assert(cond, text)
#else
#define GUIDEW_STATIC_ASSERT(cond, text) _Static_assert(cond, text)
#endif

// Inputs, in the order of the 19-value array of Guide_Control/Guide_OneStep.
typedef struct GuideWInputs {
    double speed_cmd;     // commanded airspeed, m/s
    double elev_cmd;      // commanded flight-path elevation, deg, positive up
    double azim_cmd;      // commanded azimuth, deg, 0..360
    double ext_weight;    // weight of the external commands in modes 1 and 2, 0..1
    double ext_nz;        // external normal load factor command, g
    double ext_bank;      // external bank command, deg
    double ext_throttle;  // external throttle command
    double mode;          // operating mode, compared with 1.5, 2.5 and 3.5
    double yaw;           // heading, deg
    double pitch;         // pitch, deg
    double roll;          // roll, deg, positive right wing down
    double tas;           // true airspeed, m/s
    double vel_up;        // velocity component up, m/s
    double vel_north;     // velocity component along azimuth 0, m/s
    double vel_east;      // velocity component along azimuth 90, m/s
    double roll_rate;     // roll rate, deg/s (damping term of the roll law)
    double altitude;      // altitude above sea level, m
    double ext_lat;       // direct lateral command, passed through in mode 4
    double aux_in;        // copied unchanged to aux_out
} GuideWInputs;

// Outputs, in the order of the 4-value array of Guide_GetOutput.
typedef struct GuideWOutputs {
    double lat_cmd;       // lateral (roll) command from the bank error
    double nz_cmd;        // normal load factor command, g
    double throttle_cmd;  // throttle command
    double aux_out;       // copy of aux_in
} GuideWOutputs;

// Tunable parameters. GuideW_P holds the build-time defaults at load;
// GuideW_initialize() leaves it alone, so host changes survive a restart.
typedef struct GuideWParams {
    double guide_ref;        // 0: guidance off; 1 or 2: steer the velocity
                             // vector; any other value: steer the nose
    double roll_kp;          // roll law gain on the bank error
    double roll_kd;          // roll law gain on the roll rate
    double lat_max;          // upper bound of the roll law
    double lat_min;          // lower bound of the roll law
    double nz_max;           // upper limit of nz_cmd, g
    double nz_min;           // lower limit of nz_cmd, g
    double thr_table[132];   // trim throttle, 11 altitudes x 12 speeds,
                             // altitude index varying fastest
    double thr_alt_bp[11];   // altitude breakpoints, m
    double thr_spd_bp[12];   // speed breakpoints, m/s
    double thr_gain;         // scale applied to the throttle demand
    double thr_max;          // upper limit of throttle_cmd
    double thr_min;          // lower limit of throttle_cmd
    uint32_t thr_max_index[2];  // highest breakpoint index per dimension;
                                // the step uses at most {10, 11}
} GuideWParams;

// States kept between steps. Flags hold 0.0 or 1.0.
typedef struct GuideWStates {
    double splits_active;     // split manoeuvre latched
    double splits_pull;       // split manoeuvre in its pull phase
    double turn_sign;         // latched rear-turn direction, +1 or -1
    double inverted_latch;    // aircraft went inverted in a rear climbing turn
    double upright_latch;     // upright recovery roll in progress
    double splits_timer;      // time spent in the roll phase, s
    double sign_latch;        // rear turn direction forced to turn_sign
    double bank_captured;     // rear turn bank target reached
    double front_roll_err;    // last roll error of forward pursuit, deg
    double was_behind;        // the previous guided step was a rear step
    double front_entry_roll;  // roll when the target came back ahead, deg
    double splits_bank;       // bank target of the split manoeuvre, deg
    double orbit_yaw_ref;     // heading when the orbit mode was entered, deg
    double orbit_latched;     // orbit references taken
    double orbit_alt_ref;     // altitude when the orbit mode was entered, m
    double ext_bank_latch;    // external bank has taken over in mode 2
} GuideWStates;

// Model record: the error status text, null when there is none.
typedef struct GuideWModel {
    const char* error_status;
} GuideWModel;

/* The records that are arrays of doubles, as hosts hand them over. */
enum { GUIDEW_INPUT_COUNT = 19, GUIDEW_OUTPUT_COUNT = 4, GUIDEW_STATE_COUNT = 16 };

GUIDEW_STATIC_ASSERT(sizeof(GuideWInputs) == 152, "19 doubles");
GUIDEW_STATIC_ASSERT(sizeof(GuideWOutputs) == 32, "4 doubles");
GUIDEW_STATIC_ASSERT(sizeof(GuideWParams) == 1328, "parameter record layout");
GUIDEW_STATIC_ASSERT(sizeof(GuideWStates) == 128, "16 doubles");
GUIDEW_STATIC_ASSERT(sizeof(GuideWModel) == 8, "one pointer");

#endif
