/* The closed-loop simulator as a library (libguidesim.so): flies one
 * scenario in-process, the law through its own GuideW instance, and gives
 * back what guide-sim reports for it. C linkage, text in and text out, so
 * that a foreign-function interface (Python's ctypes) needs nothing but
 * char pointers.
 *
 *   char* result = NULL;
 *   if (guide_sim_fly("typical", "{\"initial.altitude_m\": 2500}", 0.0, &result) == 0) {
 *       ... result is a JSON object, see below ...
 *   } else {
 *       ... result is the error message ...
 *   }
 *   guide_sim_free(result);
 *
 * Every flight starts from a new instance with the parameters at their
 * build-time defaults, so flights are independent of each other and of the
 * thread that flies them: different threads may fly at the same time.
 * Each flight computes what guide-sim computes for the same scenario, to
 * the last bit. */
#ifndef GUIDE_SIM_API_H
#define GUIDE_SIM_API_H

#ifdef __cplusplus
extern "C" {
#endif

#define GUIDE_SIM_API __attribute__((visibility("default")))

/* Flies one scenario.
 *
 * scenario: the name of a built-in scenario, or the JSON text of one
 *   scenario object in the format guide-sim reads.
 * overrides: NULL, or a JSON object of field paths and values applied to
 *   the scenario before it is read, e.g.
 *     {"duration_s": 30, "initial.altitude_m": 2500, "inputs.azim_cmd": 45,
 *      "params.roll_kp": 3, "expect.max_load_g": 8, "events[0].t_s": 5}
 *   Objects on the way are created when missing; list elements must exist.
 *   The scenario is then checked as a file is, so a dispersed value out of
 *   range is refused with the same message.
 * path_interval_s: above 0, the aircraft's path is sampled this often.
 * result: receives a text the caller releases with guide_sim_free.
 *
 * Returns 0 and a JSON object (the one flight_result.h writes, guide-sim's
 * NAME.summary.json holds the same):
 *   {"name": ...,
 *    "started": true,            false: the aircraft could not be trimmed at the start
 *    "metrics": {"converge_s":          s or null,
 *                "first_within_s":      s or null,
 *                "peak_load_g", "altitude_lost_m", "final_speed_err_mps",
 *                "min_altitude_m", "final_bank_deg"},   all null when not started
 *    "checks": [{"check": "max_load_g", "passed": true, "failure": ""}, ...],
 *    "passed": true when every check holds,
 *    "scenario": {the scenario as flown, overrides applied},
 *    "path": [[t_s, north_m, east_m, altitude_m,
 *              track_deg, path_deg, bank_deg, alpha_deg, beta_deg], ...]   (when sampled),
 *    "target_path": [[t_s, north_m, east_m, altitude_m,
 *                     track_deg, path_deg, bank_deg], ...]   (an engagement's, when sampled)}
 *
 *   converge_s      the last entry into the 5 deg band around the command,
 *                   staying to the end; null when the flight ends outside it
 *   first_within_s  the first entry; null when it never came within
 *                   (both null in modes above 2.5, where the law does not
 *                   steer to the command)
 *   path            the velocity's angles as the law sees them, the body's
 *                   angle of attack and sideslip off it (0 on the point mass)
 *   metrics         an engagement's also, and its "engagement" object: see
 *                   flight_result.h
 *   checks          every check the scenario asks for, passed or not, and
 *                   each of the simulator's own checks that failed, by name:
 *                   trim, finite_values, aircraft_fault, ground,
 *                   load_limits, alpha_limit, opponent (docs/simulator.md
 *                   lists them);
 *                   failure is empty when the check held
 *
 * Numbers are written so that they read back to the same double.
 * Returns 1 with the error message when the scenario or the overrides are
 * refused (or the aircraft cannot be loaded), 2 when result is NULL. */
GUIDE_SIM_API int guide_sim_fly(const char* scenario, const char* overrides, double path_interval_s,
                                char** result);

/* Checks one scenario as guide_sim_fly would fly it, without flying it.
 *
 * The scenario and overrides are read and checked exactly as guide_sim_fly
 * reads them, with the scenario's own duration (an event late in a long
 * flight is accepted, a bad duration refused), and then flown for a single
 * step only. Returns what guide_sim_fly returns: 0 and the same JSON object
 * (the scenario as it would be flown, and every metric and check named, the
 * figures those of the single step and so meaningless), or 1 and the error
 * message. A campaign checks every dispersion's bounds this way before it
 * flies anything. */
GUIDE_SIM_API int guide_sim_check(const char* scenario, const char* overrides, char** result);

/* The built-in scenarios as a JSON array of {"name", "description"}. */
GUIDE_SIM_API char* guide_sim_builtin_list(void);

/* Releases a text this library returned; NULL is ignored. */
GUIDE_SIM_API void guide_sim_free(char* text);

#ifdef __cplusplus
}
#endif

#endif
