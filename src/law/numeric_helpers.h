// Small pure helpers of the guidance step: angle and vector arithmetic, the
// standard-atmosphere density ratio, the limiter, and the time-constant
// schedules that turn an angle error into a demanded rate.
//
// They are internal to the model (hidden from the library's symbol table)
// and inline, so each stage pays no call for them. Their thresholds and the
// order of their arithmetic are part of the law: results are compared to the
// last bit, so do not regroup any expression here.
#ifndef NUMERIC_HELPERS_H
#define NUMERIC_HELPERS_H

#include <cmath>

constexpr double kRadPerDeg = 0.017453292519943295;
constexpr double kDegPerRad = 57.29577951308232;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kHalfPi_rad = 1.5707963267948966;
constexpr double kDeg30_rad = 0.5235987755982988;
constexpr double kDeg60_rad = 1.0471975511965976;

// The load demands use the rounded gravity 9.81; the atmosphere uses the
// standard 9.80665.
constexpr double kGravity_mps2 = 9.81;

// Demanded flight-path rate is held within +-60 deg/s.
constexpr double kGammaRateMax_radps = kDeg60_rad;

struct Vec3 {
    double x, y, z;
};

// Limiter of the guidance law: the upper bound is tested first and wins on
// equality; a NaN passes through.
inline double clamp_upper_first(double x, double lo, double hi) {
    if (x >= hi) return hi;
    if (x <= lo) return lo;
    return x;
}

// Square root of the density ratio at altitude h (m): an isothermal column
// at the local temperature of the standard troposphere, constant 216.65 K
// from 11 km up.
inline double density_ratio_root(double h_m) {
    constexpr double kSeaLevelTemp_K = 288.15;
    constexpr double kLapseRate_Kpm = 0.0065;
    constexpr double kTropopause_m = 11000.0;
    constexpr double kStratosphereTemp_K = 216.65;
    constexpr double kSeaLevelDensity_kgpm3 = 1.225;
    constexpr double kStandardGravity_mps2 = 9.80665;
    constexpr double kGasConstantAir_JpkgK = 287.05;

    double temp_K = kSeaLevelTemp_K - kLapseRate_Kpm * h_m;
    if (h_m >= kTropopause_m) temp_K = kStratosphereTemp_K;
    const double rho = kSeaLevelDensity_kgpm3 *
        std::exp((-kStandardGravity_mps2 / (kGasConstantAir_JpkgK * temp_K)) * h_m);
    return std::sqrt(rho / kSeaLevelDensity_kgpm3);
}

// Azimuth in degrees, 0..360, of a horizontal vector with component x along
// azimuth 90 and y along azimuth 0. Near-zero x is kept off the divisor, and
// a vector with |x| < 0.001 counts as due north or due south.
inline double GuideW_azimuth360_deg(double x, double y) {
    constexpr double kTinyComponent = 0.001;
    double d = x;
    if (x < kTinyComponent && x >= 0.0) {
        d = kTinyComponent;
    } else if (x > -kTinyComponent && x <= 0.0) {
        d = -kTinyComponent;
    }
    const double a = std::atan(y / d) * kDegPerRad;
    if (std::fabs(x) < kTinyComponent) return y < 0.0 ? 180.0 : 0.0;
    if (x < 0.0) return 270.0 - a;
    return 90.0 - a;
}

inline double GuideW_dot(const Vec3& a, const Vec3& b) {
    return (a.x * b.x + a.y * b.y) + a.z * b.z;
}

// Normalises v into u; a vector shorter than 0.01 is divided by 0.01, so a
// zero vector stays zero instead of becoming NaN.
inline void GuideW_unit_vector(const Vec3& v, Vec3& u) {
    constexpr double kMinNorm = 0.01;
    double n = std::sqrt((v.x * v.x + v.y * v.y) + v.z * v.z);
    if (n < kMinNorm && n >= 0.0) n = kMinNorm;
    u.x = v.x / n;
    u.y = v.y / n;
    u.z = v.z / n;
}

// Moves a divisor out of (-0.01, 0.01), keeping its sign; 0 stays 0.
inline double GuideW_nonzero(double x) {
    constexpr double kMinMagnitude = 0.01;
    if (x > 0.0 && x < kMinMagnitude) return kMinMagnitude;
    if (x < 0.0 && x > -kMinMagnitude) return -kMinMagnitude;
    return x;
}

// -1 for negative values, +1 otherwise (zero, minus zero and NaN included).
inline double GuideW_signg(double x) {
    return x < 0.0 ? -1.0 : 1.0;
}

// Time constant (s) of the turn-rate demand for an azimuth error (rad).
// Small errors are taken briskly; large ones lazily, so that a big heading
// change is flown as a steady turn. Thin air slows the response further.
// sigma_root is the density-ratio root at the aircraft's altitude.
inline double GuideW_T_turn_cal(double err, double sigma_root) {
    constexpr double kMaxScale = 8.0;
    constexpr double kTurnTime_s = 1.5;
    const double e = std::fabs(err);
    double k;
    if (e < kDeg30_rad) {
        k = 2.0;
    } else if (e < kDeg60_rad) {
        k = 2.0 * ((e - kDeg30_rad) / kDeg30_rad) + 2.0;
    } else {
        k = ((e - kDeg60_rad) / kDeg30_rad) * 1.5 + 4.0;
        if (k > kMaxScale) k = kMaxScale;
    }
    return (k * kTurnTime_s) / sigma_root;
}

// Time constant (s) of the flight-path-rate demand for an elevation error
// (rad): 1 to 2 units up to 30 deg, then 2 more per further 30 deg, uncapped.
inline double GuideW_T_pitch_cal(double err, double sigma_root) {
    constexpr double kPitchTime_s = 1.1;
    const double e = std::fabs(err);
    const double r = (e - kDeg30_rad) / kDeg30_rad;
    const double k = e < kDeg30_rad ? r + 2.0 : 2.0 * r + 2.0;
    return (k * kPitchTime_s) / sigma_root;
}

#endif
