/* The fields of the model's records, listed once, in record order, with
 * their units and meanings. Usable from C.
 *
 * GuideW_types.h builds the records of doubles from these lists, and
 * everything else that names a field takes it from here too: the tools' name
 * tables, the FMU's model description, the README's tables and the Python
 * package's field lists. The parameter record is written out by hand in
 * GuideW_types.h (it mixes scalars, arrays and integers) and checked against
 * its list at compile time.
 *
 * Each list is an X-macro: define X to make a row of whatever you need.
 *   GUIDEW_INPUT_FIELDS(X), GUIDEW_OUTPUT_FIELDS(X), GUIDEW_STATE_FIELDS(X):
 *       X(name, unit, description)
 *   GUIDEW_PARAM_FIELDS(X):
 *       X(name, element type, array length or 0 for a scalar, unit, description)
 * Units are SI symbols, "deg", "deg/s" or "g"; "" for a plain number or a
 * flag (a flag holds 0.0 or 1.0). */
#ifndef GUIDEW_FIELDS_H
#define GUIDEW_FIELDS_H

#define GUIDEW_INPUT_FIELDS(X)                                                               \
    X(speed_cmd, "m/s", "commanded airspeed")                                                \
    X(elev_cmd, "deg", "elevation of the commanded flight direction, positive up")           \
    X(azim_cmd, "deg", "azimuth of the commanded flight direction, 0 to 360 (wrapped once)") \
    X(ext_weight, "", "weight of the external commands in modes 1 and 2, 0 to 1")            \
    X(ext_nz, "g", "external normal load factor; in mode 3 the orbit's turn load")           \
    X(ext_bank, "deg", "external bank command")                                              \
    X(ext_throttle, "", "external throttle command, scaled by thr_gain")                     \
    X(mode, "", "operating mode, compared with 1.5, 2.5 and 3.5")                            \
    X(yaw, "deg", "yaw (heading)")                                                           \
    X(pitch, "deg", "pitch, positive nose up")                                               \
    X(roll, "deg", "roll, positive right wing down")                                         \
    X(tas, "m/s", "true airspeed")                                                           \
    X(vel_up, "m/s", "velocity component up")                                                \
    X(vel_north, "m/s", "velocity component along azimuth 0")                                \
    X(vel_east, "m/s", "velocity component along azimuth 90")                                \
    X(roll_rate, "deg/s", "roll rate, the roll law's damping term")                          \
    X(altitude, "m", "altitude above sea level")                                             \
    X(ext_lat, "deg", "direct lateral command, passed through in mode 4")                    \
    X(aux_in, "", "passed unchanged to aux_out")

#define GUIDEW_OUTPUT_FIELDS(X)                                                          \
    X(lat_cmd, "deg", "lateral (roll) command: the bank error, or the roll law's bound") \
    X(nz_cmd, "g", "normal load factor command")                                         \
    X(throttle_cmd, "", "throttle command")                                              \
    X(aux_out, "", "copy of aux_in")

#define GUIDEW_PARAM_FIELDS(X)                                                                  \
    X(guide_ref, double, 0, "",                                                                 \
      "0: guidance off; 1 or 2: steer the velocity vector; any other value: steer the nose")    \
    X(roll_kp, double, 0, "", "roll law gain on the bank error (sets where lat_cmd saturates)") \
    X(roll_kd, double, 0, "", "roll law gain on the roll rate (sets where lat_cmd saturates)")  \
    X(lat_max, double, 0, "deg", "upper bound of the roll law, and lat_cmd beyond it")          \
    X(lat_min, double, 0, "deg", "lower bound of the roll law, and lat_cmd beyond it")          \
    X(nz_max, double, 0, "g", "upper limit of nz_cmd")                                          \
    X(nz_min, double, 0, "g", "lower limit of nz_cmd")                                          \
    X(thr_table, double, 132, "",                                                               \
      "trim throttle, 11 altitudes by 12 speeds, altitude index varying fastest")               \
    X(thr_alt_bp, double, 11, "m", "altitude breakpoints of the trim table")                    \
    X(thr_spd_bp, double, 12, "m/s", "speed breakpoints of the trim table")                     \
    X(thr_gain, double, 0, "", "scale of the throttle demand")                                  \
    X(thr_max, double, 0, "", "upper limit of throttle_cmd")                                    \
    X(thr_min, double, 0, "", "lower limit of throttle_cmd")                                    \
    X(thr_max_index, uint32_t, 2, "",                                                           \
      "highest breakpoint index of altitude and speed (at most 10 and 11)")

#define GUIDEW_STATE_FIELDS(X)                                             \
    X(splits_active, "", "flag: split manoeuvre latched")                  \
    X(splits_pull, "", "flag: split manoeuvre in its pull phase")          \
    X(turn_sign, "", "latched rear-turn direction, +1 or -1")              \
    X(inverted_latch, "", "flag: went inverted in a rear climbing turn")   \
    X(upright_latch, "", "flag: upright recovery roll in progress")        \
    X(splits_timer, "s", "time spent in the split manoeuvre's roll phase") \
    X(sign_latch, "", "flag: rear-turn direction forced to turn_sign")     \
    X(bank_captured, "", "flag: rear-turn bank target reached")            \
    X(front_roll_err, "deg", "last roll error of the forward pursuit")     \
    X(was_behind, "", "flag: the last guided step had the command behind") \
    X(front_entry_roll, "deg", "roll when the command came back ahead")    \
    X(splits_bank, "deg", "bank target of the split manoeuvre")            \
    X(orbit_yaw_ref, "deg", "heading when the orbit was entered")          \
    X(orbit_latched, "", "flag: orbit references taken")                   \
    X(orbit_alt_ref, "m", "altitude when the orbit was entered")           \
    X(ext_bank_latch, "", "flag: the external bank has taken over in mode 2")

#endif
