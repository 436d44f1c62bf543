// Small pure helpers of the guidance step: limits, angle wrapping, angle and
// vector arithmetic, and the time-constant schedules that turn an angle
// error into a demanded rate.
//
// They are internal to the law (hidden from the library's symbol table) and
// inline, so each stage pays no call for them. Their thresholds and the
// order of their arithmetic are part of the law: results are compared to the
// last bit, so do not regroup any expression here.
#ifndef NUMERIC_HELPERS_H
#define NUMERIC_HELPERS_H

#include <cmath>

#include "law_constants.h"

struct Vec3 {
    double x, y, z;
};

// ---- Limits -----------------------------------------------------------------
// The law limits values in three orders. The order is part of the result:
// which bound is tested first wins when a host sets lo above hi; a non-strict
// test returns the bound itself for a value equal to it (so -0.0 against a
// bound of +0.0 comes out +0.0, where a strict test passes -0.0 through); and
// a NaN fails every test and passes through unlimited. Each order has its
// helper, named for it; no limit is written by hand.

// x >= hi gives hi, else x <= lo gives lo: the guidance branches' limits.
inline double limit_upper_first(double x, double lo, double hi) {
    if (x >= hi) return hi;
    if (x <= lo) return lo;
    return x;
}

// Which bound x passes, upper tested first, strictly: x > hi, else x < lo.
enum class Passes { none, upper, lower };
inline Passes passes_upper_first_strict(double x, double lo, double hi) {
    if (x > hi) return Passes::upper;
    if (x < lo) return Passes::lower;
    return Passes::none;
}

// x > hi gives hi, else x < lo gives lo: the output limits.
inline double limit_upper_first_strict(double x, double lo, double hi) {
    switch (passes_upper_first_strict(x, lo, hi)) {
        case Passes::upper: return hi;
        case Passes::lower: return lo;
        default: return x;
    }
}

// x < lo gives lo; then a result > hi gives hi (the second test sees the
// first's result): the speed-error and orbit-correction limits.
inline double limit_lower_first_strict(double x, double lo, double hi) {
    if (x < lo) x = lo;
    if (x > hi) x = hi;
    return x;
}

// ---- Angles -----------------------------------------------------------------

// One correction by a full turn into [-pi, pi]; exactly +-pi is kept, and an
// error of more than three half turns stays out of range.
inline double wrap_once_rad(double err_rad) {
    if (err_rad > kPi) return err_rad - kTwoPi;
    if (err_rad < -kPi) return kTwoPi + err_rad;
    return err_rad;
}

// One correction by a full turn into [-180, 180]: down first, then up.
inline double wrap_once_deg(double a_deg) {
    if (a_deg > kHalfTurn_deg) a_deg = a_deg - kFullTurn_deg;
    if (a_deg < -kHalfTurn_deg) a_deg = a_deg + kFullTurn_deg;
    return a_deg;
}

// An azimuth in degrees as radians, shifted once from (180, 360] to
// (-180, 0]; a negative azimuth, or one beyond 540, is converted unchanged.
inline double signed_azimuth_rad(double azimuth_deg) {
    if (azimuth_deg > kHalfTurn_deg) return (azimuth_deg - kFullTurn_deg) * kRadPerDeg;
    return kRadPerDeg * azimuth_deg;
}

// Azimuth in degrees, 0..360, of a horizontal vector with component x along
// azimuth 90 and y along azimuth 0. Near-zero x is kept off the divisor, and
// a vector with |x| < 0.001 counts as due north or due south.
inline double GuideW_azimuth360_deg(double x, double y) {
    double d = x;
    if (x < kTinyHorizontal_mps && x >= 0.0) {
        d = kTinyHorizontal_mps;
    } else if (x > -kTinyHorizontal_mps && x <= 0.0) {
        d = -kTinyHorizontal_mps;
    }
    const double a = std::atan(y / d) * kDegPerRad;
    if (std::fabs(x) < kTinyHorizontal_mps) return y < 0.0 ? kHalfTurn_deg : 0.0;
    if (x < 0.0) return kThreeQuarterTurn_deg - a;
    return kQuarterTurn_deg - a;
}

// ---- Vectors ----------------------------------------------------------------

inline double GuideW_dot(const Vec3& a, const Vec3& b) {
    return (a.x * b.x + a.y * b.y) + a.z * b.z;
}

// Normalises v into u; a vector shorter than 0.01 is divided by 0.01, so a
// zero vector stays zero instead of becoming NaN.
inline void GuideW_unit_vector(const Vec3& v, Vec3& u) {
    double n = std::sqrt((v.x * v.x + v.y * v.y) + v.z * v.z);
    if (n < kMinVectorNorm && n >= 0.0) n = kMinVectorNorm;
    u.x = v.x / n;
    u.y = v.y / n;
    u.z = v.z / n;
}

// Angle between two directions in degrees, from their dot product limited
// to [-1, 1] so that nearly parallel vectors never give NaN.
inline double angle_between_deg(const Vec3& a, const Vec3& b) {
    return std::acos(limit_upper_first(GuideW_dot(a, b), -1.0, 1.0)) * kDegPerRad;
}

// ---- Divisors and signs -----------------------------------------------------

// Moves a divisor out of (-0.01, 0.01), keeping its sign; 0 stays 0.
inline double GuideW_nonzero(double x) {
    if (x > 0.0 && x < kMinDivisorMagnitude) return kMinDivisorMagnitude;
    if (x < 0.0 && x > -kMinDivisorMagnitude) return -kMinDivisorMagnitude;
    return x;
}

// -1 for negative values, +1 otherwise (zero, minus zero and NaN included).
inline double GuideW_signg(double x) { return x < 0.0 ? -1.0 : 1.0; }

// ---- Time constants ---------------------------------------------------------

// Time constant (s) of the turn-rate demand for an azimuth error (rad).
// Small errors are taken briskly; large ones lazily, so that a big heading
// change is flown as a steady turn. Thin air slows the response further
// (sigma_root is the density-ratio root at the aircraft's altitude).
inline double GuideW_T_turn_cal(double err_rad, double sigma_root) {
    const double e = std::fabs(err_rad);
    double k;
    if (e < kDeg30_rad) {
        k = kTurnScaleSmall;
    } else if (e < kDeg60_rad) {
        k = kTurnScaleSlopeTo60 * ((e - kDeg30_rad) / kDeg30_rad) + kTurnScaleSmall;
    } else {
        k = ((e - kDeg60_rad) / kDeg30_rad) * kTurnScaleSlopeBeyond60 + kTurnScaleAt60;
        if (k > kTurnScaleMax) k = kTurnScaleMax;
    }
    return (k * kTurnTimeUnit_s) / sigma_root;
}

// Time constant (s) of the flight-path-rate demand for an elevation error
// (rad): 1 to 2 units up to 30 deg, then 2 more per further 30 deg, uncapped.
inline double GuideW_T_pitch_cal(double err_rad, double sigma_root) {
    const double e = std::fabs(err_rad);
    const double r = (e - kDeg30_rad) / kDeg30_rad;
    const double k =
        e < kDeg30_rad ? r + kPitchScaleAt30 : kPitchScaleSlopeBeyond30 * r + kPitchScaleAt30;
    return (k * kPitchTimeUnit_s) / sigma_root;
}

#endif
