/* Facts every host of the law needs: the period it is stepped at, and how
 * it reads the mode input. Usable from C.
 *
 * The mode is a double, read as one of six bands. The edges lie halfway
 * between the whole modes, so a host writing 1, 2, 3 or 4 is never near
 * one; the values exactly on an edge have behaviours of their own, kept
 * because hosts rely on them:
 *
 *   mode < 1.5          BLEND: guidance blended with the external bank and
 *                       load by ext_weight; the throttle holds the speed
 *   mode == 1.5         BLEND_EXT_THROTTLE: bank and load blended as below
 *                       1.5, but the speed hold runs strictly below 1.5, so
 *                       the throttle is the external one as above it
 *   1.5 < mode < 2.5    TAKEOVER: the blend, but an external bank opposing
 *                       the present roll takes the bank over alone
 *   mode == 2.5, or NaN WINGS_LEVEL: wings level, load from the speed error
 *                       (a NaN fails every comparison, as 2.5 fails both
 *                       of its neighbours' strict ones)
 *   2.5 < mode <= 3.5   ORBIT: a level turn at ext_nz around an altitude
 *                       profile, load from the speed error
 *   mode > 3.5          DIRECT: ext_lat and ext_nz passed straight through
 *
 * Every band but BLEND takes the external throttle. */
#ifndef GUIDEW_CONSTANTS_H
#define GUIDEW_CONSTANTS_H

/* The law runs at a fixed 100 Hz: one step is 0.01 s of flight, and time
 * enters the law only through this period. */
#define GUIDEW_STEP_PERIOD_S 0.01

/* The edges between the mode bands. */
#define GUIDEW_MODE_EDGE_BLEND_TAKEOVER 1.5
#define GUIDEW_MODE_EDGE_TAKEOVER_ORBIT 2.5
#define GUIDEW_MODE_EDGE_ORBIT_DIRECT 3.5

typedef enum GuideWModeBand {
    GUIDEW_BAND_BLEND,
    GUIDEW_BAND_BLEND_EXT_THROTTLE,
    GUIDEW_BAND_TAKEOVER,
    GUIDEW_BAND_WINGS_LEVEL,
    GUIDEW_BAND_ORBIT,
    GUIDEW_BAND_DIRECT
} GuideWModeBand;

/* The band of a mode value, as the law reads it in every step. */
static inline GuideWModeBand GuideW_mode_band(double mode) {
    if (mode > GUIDEW_MODE_EDGE_ORBIT_DIRECT) return GUIDEW_BAND_DIRECT;
    if (mode > GUIDEW_MODE_EDGE_TAKEOVER_ORBIT) return GUIDEW_BAND_ORBIT;
    if (mode < GUIDEW_MODE_EDGE_BLEND_TAKEOVER) return GUIDEW_BAND_BLEND;
    if (mode == GUIDEW_MODE_EDGE_BLEND_TAKEOVER) return GUIDEW_BAND_BLEND_EXT_THROTTLE;
    if (mode < GUIDEW_MODE_EDGE_TAKEOVER_ORBIT) return GUIDEW_BAND_TAKEOVER;
    return GUIDEW_BAND_WINGS_LEVEL; /* exactly 2.5, or NaN */
}

#endif
