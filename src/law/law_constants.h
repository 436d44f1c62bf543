// The guidance law's named constants, each once, with its unit.
//
// Every value here is part of the law: results are compared to the last
// bit, so a constant is written exactly as the law uses it (pi/6 as the
// double nearest to it, not as kPi / 6 formed at run time). Grouped by the
// stage that uses them; the unit factors, the step and the mode bands are
// shared by all.
#ifndef LAW_CONSTANTS_H
#define LAW_CONSTANTS_H

#include <cstdint>

#include "GuideW_constants.h"

// ---- Units and angles -----------------------------------------------------
constexpr double kRadPerDeg = 0.017453292519943295;
constexpr double kDegPerRad = 57.29577951308232;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kHalfPi_rad = 1.5707963267948966;
constexpr double kDeg30_rad = 0.5235987755982988;
constexpr double kDeg60_rad = 1.0471975511965976;
constexpr double kQuarterTurn_deg = 90.0;
constexpr double kHalfTurn_deg = 180.0;
constexpr double kThreeQuarterTurn_deg = 270.0;
constexpr double kFullTurn_deg = 360.0;

// ---- The step ---------------------------------------------------------------
// Time enters the law only through the public step period.
constexpr double kStep_s = GUIDEW_STEP_PERIOD_S;

// ---- Mode bands -------------------------------------------------------------
// The edges between the mode bands (GuideW_constants.h names the bands; the
// law reads them through GuideW_mode_band, once per step).
constexpr double kMode1To2 = GUIDEW_MODE_EDGE_BLEND_TAKEOVER;
constexpr double kMode2To3 = GUIDEW_MODE_EDGE_TAKEOVER_ORBIT;
constexpr double kMode3To4 = GUIDEW_MODE_EDGE_ORBIT_DIRECT;
// The two mode latches are flags tested against one half, not for equality.
constexpr double kModeLatchHalf = 0.5;

// ---- Atmosphere -------------------------------------------------------------
// Density from an isothermal column at the local temperature of the standard
// troposphere, constant above the tropopause. It uses standard gravity; the
// load demands use the rounded kGravity_mps2 below.
constexpr double kSeaLevelTemp_K = 288.15;
constexpr double kLapseRate_Kpm = 0.0065;
constexpr double kTropopause_m = 11000.0;
constexpr double kStratosphereTemp_K = 216.65;
constexpr double kSeaLevelDensity_kgpm3 = 1.225;
constexpr double kStandardGravity_mps2 = 9.80665;
constexpr double kGasConstantAir_JpkgK = 287.05;

// ---- Conditioning: load-factor limit over equivalent airspeed ---------------
// 1.5 g when slow, rising to 5 g at 200 m/s and 9 g at 400 m/s. The first
// slope's 22.857 m/s per g (not 80/3.5) ends it a hair above 5 g.
constexpr double kLoadLimitSlow_g = 1.5;
constexpr double kLoadLimitSlowEas_mps = 120.0;
constexpr double kLoadLimitMid_g = 5.0;
constexpr double kLoadLimitMidEas_mps = 200.0;
constexpr double kLoadLimitFast_g = 9.0;
constexpr double kLoadLimitFastEas_mps = 400.0;
constexpr double kLoadLimitSlowSlope_mpspg = 22.857;
constexpr double kLoadLimitMidSlope_mpspg = 50.0;

// ---- Geometry ---------------------------------------------------------------
// Below this speed, or climbing faster than the total speed accounts for,
// the flight path counts as level.
constexpr double kStandstill_mps = 1.0;
// A horizontal component below this (m/s) is due north or south, and is kept
// off the divisor of the track azimuth.
constexpr double kTinyHorizontal_mps = 0.001;
// Floor of a vector's norm before it is divided by it.
constexpr double kMinVectorNorm = 0.01;
// Turn-rate bound over horizontal speed: 9.81 tan 85 deg, the lateral
// acceleration of a level turn at 85 deg of bank.
constexpr double kMaxTurnAccel_mps2 = 112.12881309008883;
// Beyond this tilt of the body up axis from world up the aircraft is upside
// down; exactly 90 deg counts as upright.
constexpr double kInvertedTilt_deg = 90.0;
// A dive command at or below -45 deg is steep: behind, it is flown as a split
// manoeuvre and steered on the full angle to the command.
constexpr double kSteepDive_rad = -0.7853981633974483;
// A command whose full off-angle is within 5 deg of its azimuth error counts
// as level with the aircraft.
constexpr double kLevelTargetTolerance_rad = 0.08726646259971647;

// ---- Demand laws (both hemispheres) -----------------------------------------
// The load demands use this rounded gravity, not the atmosphere's.
constexpr double kGravity_mps2 = 9.81;
// Demanded flight-path rate is held within +-60 deg/s.
constexpr double kGammaRateMax_radps = kDeg60_rad;
// Moves a divisor out of (-0.01, 0.01).
constexpr double kMinDivisorMagnitude = 0.01;
// Turn time constant: 1.5 s per unit of a schedule that is 2 up to 30 deg of
// error, rises to 4 at 60 deg, then 1.5 per further 30 deg up to 8.
constexpr double kTurnTimeUnit_s = 1.5;
constexpr double kTurnScaleSmall = 2.0;
constexpr double kTurnScaleAt60 = 4.0;
constexpr double kTurnScaleSlopeTo60 = 2.0;
constexpr double kTurnScaleSlopeBeyond60 = 1.5;
constexpr double kTurnScaleMax = 8.0;
// Pitch time constant: 1.1 s per unit of a schedule from 1 at zero error to 2
// at 30 deg, then 2 more per further 30 deg, uncapped.
constexpr double kPitchTimeUnit_s = 1.1;
constexpr double kPitchScaleAt30 = 2.0;
constexpr double kPitchScaleSlopeBeyond30 = 2.0;
// Bank limits of the guidance branches: 85 deg while upright; upside down the
// full half turn, so that an inverted aircraft can be rolled either way.
constexpr double kUprightBankLimit_deg = 85.0;
constexpr double kInvertedBankLimit_deg = 180.0;
// The speed reference never exceeds this, m/s.
constexpr double kMaxSpeedRef_mps = 600.0;

// ---- Forward pursuit --------------------------------------------------------
// A push (negative load) only within 10 deg of the target in azimuth and
// 10 deg of wings level.
constexpr double kPushAzimuthWindow_rad = 0.17453292519943295;
constexpr double kPushRollWindow_deg = 10.0;
// Floor of |cos gamma| in the pursuit bank: keeps the bank finite in steep
// climbs and dives.
constexpr double kPursuitBankDivisorFloor = 0.09;
// The upright recovery starts with the nose below 70 deg of pitch and near
// the command, in space or in pitch alone ...
constexpr double kRecoveryMaxPitch_deg = 70.0;
constexpr double kRecoveryNoseWindow_deg = 30.0;
constexpr double kRecoveryPitchWindow_deg = 10.0;
// ... and ends upright with the wings within 60 deg of level, or within
// 5 deg of the pursuit bank.
constexpr double kRecoveryEndRoll_deg = 60.0;
constexpr double kRecoveryEndRollErr_deg = 5.0;
// Commanded speeds are held within what the speed hold is meant for.
constexpr double kMinSpeedRef_mps = 100.0;

// ---- Rear manoeuvres --------------------------------------------------------
// A command more than 170 deg off is almost straight behind.
constexpr double kStraightBehind_rad = 2.9670597283903604;
// Split manoeuvre: the bank target is 110 deg with the command abeam, rising
// 7 deg for every 8 deg further off (180 deg at 170 deg off); the roll phase
// ends within 1 deg of inverted or after 2.5 s.
constexpr double kSplitBankAbeam_deg = 110.0;
constexpr double kSplitBankRise_deg = 7.0;
constexpr double kSplitBankRun_deg = 8.0;
constexpr double kSplitsInvertedRoll_deg = 179.0;
constexpr double kSplitsRollTime_s = 2.5;
// Rear turn: the bank counts as captured within 5 deg, with the elevation
// error under 30 deg; a negative bank divisor is replaced by this.
constexpr double kCaptureRollErr_deg = 5.0;
constexpr double kCaptureElevErr_rad = kDeg30_rad;
constexpr double kRearTurnBankDivisorFloor = 0.01;
// Climbing turn: almost straight behind and more than 20 deg off in
// elevation, pull in the vertical plane alone; a horizontal demand above
// 3.5 g and twice the vertical one keeps the load positive; inverted within
// 30 deg of the command, fly wings level.
constexpr double kPurePullElevErr_rad = 0.3490658503988659;
constexpr double kTurnDominates_g = 3.5;
constexpr double kTurnDominatesRatio = 2.0;
constexpr double kWingsLevelNose_deg = 30.0;

// ---- Command mixing ---------------------------------------------------------
// The external bank may take over in mode 2 only while both sources carry
// real weight (guidance weight strictly between these).
constexpr double kTakeoverMinWeight = 0.05;
constexpr double kTakeoverMaxWeight = 0.95;
// Load from the speed error in the orbit and wings-level bands, g per m/s.
constexpr double kSpeedErrLoadGain_gpmps = 0.04;

// ---- Orbit ------------------------------------------------------------------
// ext_nz is moved out of (-0.1, 0.1) so 1 / nz stays bounded; a turn needs
// more than 1 g.
constexpr double kMinOrbitLoad_g = 0.1;
constexpr double kLevelTurnMinLoad_g = 1.0;
// Bank per metre above the altitude target, within +-30 deg.
constexpr double kOrbitAltGain_degpm = 0.2;
constexpr double kOrbitMaxCorrection_deg = 30.0;
// The orbit converts the commanded elevation with its own rounded factor.
constexpr double kOrbitDegPerRad = 57.3;

// ---- Speed hold and throttle ------------------------------------------------
constexpr double kMaxSpeedErr_mps = 20.0;
constexpr double kSpeedErrThrottleGain_permps = 5.0;
// The trim table: 11 altitudes by 12 speeds, altitude index varying fastest.
constexpr uint32_t kTrimStride = 11;
constexpr uint32_t kTrimMaxAltIndex = 10;
constexpr uint32_t kTrimMaxSpdIndex = 11;

#endif
