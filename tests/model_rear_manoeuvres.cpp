// Single steps with the command behind: rear turn, split manoeuvre latch,
// climbing turn and speed reference.
#include <cmath>

#include <gtest/gtest.h>

#include "numeric_helpers.h"
#include "test_support.h"

namespace {

struct RearStep { GuidanceGeometry geo; GuidanceResults res; };

RearStep rear_step(const GuideWInputs& u, GuideWStates& dw) {
    const FlightState fs = condition_flight_state(u);
    RearStep s{guidance_geometry(u, GuideW_P, dw, fs), guidance_entry_values(fs)};
    EXPECT_TRUE(s.geo.errors.behind);
    rear_manoeuvres(u, fs, s.geo, dw, s.res);
    return s;
}

// Level at sea level, 200 m/s over the ground, 400 m/s true airspeed (9 g
// available), command 120 deg to the right.
GuideWInputs behind(double elev_cmd, double roll = 0.0, double azim_cmd = 120.0) {
    GuideWInputs u = level_flight();
    u.tas = 400.0;
    u.speed_cmd = 250.0;
    u.azim_cmd = azim_cmd;
    u.elev_cmd = elev_cmd;
    u.roll = roll;
    return u;
}

TEST(RearTurn, ShallowDiveBehindBanksFirstAndPullsOnceCaptured) {
    struct { const char* situation; double elev_cmd, roll, captured, nz, nz_tol, bank, bank_tol; } cases[] = {
        // A descending demand makes the bank divisor negative: 89.86 -> 85.
        {"wings level, 10 deg dive", -10, 0, 0, 1.0, 0, 85.0, 0},
        {"inverted: the turn reverses", -10, 180, 0, 1.0, 0, -85.0, 0},
        {"1 deg dive, bank not captured", -1, 0, 0, 1.0, 0, 76.1847, 5e-5},
        {"1 deg dive, bank captured", -1, 0, 1, 4.12420, 5e-6, 76.1847, 5e-5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        GuideWStates dw = kFreshStates;
        dw.bank_captured = c.captured;
        const RearStep s = rear_step(behind(c.elev_cmd, c.roll), dw);
        EXPECT_EQ(s.geo.errors.az_err_rad, 2.0943951023931953);
        EXPECT_NEAR(s.res.nz_guid_g, c.nz, c.nz_tol);
        EXPECT_NEAR(s.res.bank_guid_deg, c.bank, c.bank_tol);
        EXPECT_EQ(s.res.speed_ref_mps, 400.0);
        EXPECT_EQ(dw.was_behind, 1.0);
        EXPECT_EQ(dw.bank_captured, c.captured);  // roll far from the bank
        EXPECT_EQ(dw.sign_latch + dw.splits_active, 0.0);
    }
}

// A dive of exactly 45 deg is steep: the manoeuvre latches and its roll
// phase, holding the level-flight load, runs in the same step.
TEST(SplitManoeuvre, LatchesBankOnTheCommandSideOrBeyond170DegOnTheRollSide) {
    struct { const char* situation; double azim_cmd, roll, splits_bank; } cases[] = {
        {"120 deg right", 120, -30, 136.25},
        {"100 deg left", -100, 30, -118.75},
        {"exactly 170 deg left: still the command's side", -170, 30, -180},
        {"175 deg right, rolled left", 175, -30, -180},
        {"175 deg left, rolled right", 185, 30, 180},
        {"175 deg left, wings level counts as right", 185, 0, 180},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        GuideWStates dw = kFreshStates;
        const RearStep s = rear_step(behind(-45, c.roll, c.azim_cmd), dw);
        EXPECT_EQ(dw.splits_active, 1.0);
        EXPECT_EQ(dw.splits_pull, 0.0);
        EXPECT_EQ(dw.splits_timer, 0.01);
        EXPECT_DOUBLE_EQ(dw.splits_bank, c.splits_bank);
        EXPECT_EQ(s.res.bank_guid_deg, dw.splits_bank);
        EXPECT_EQ(s.res.nz_guid_g, 1.0 / std::cos(kRadPerDeg * c.roll));
        EXPECT_EQ(dw.turn_sign, c.roll < 0 ? -1.0 : 1.0);
        EXPECT_EQ(dw.sign_latch, 0.0);  // a steep dive never freezes the turn
    }
}

TEST(SplitManoeuvre, FlagsWrittenOtherThanZeroOrOne) {
    // Half-latched: no law runs and the step's entry values stand.
    GuideWStates dw = kFreshStates;
    dw.splits_active = 0.5;
    RearStep s = rear_step(behind(-60, 20), dw);
    EXPECT_EQ(s.res.nz_guid_g, 1.0);
    EXPECT_EQ(s.res.bank_guid_deg, 20.0);

    // Any non-zero pull flag pulls, exactly as a pull flag of 1 does.
    GuideWStates pull = kFreshStates;
    pull.splits_active = pull.splits_pull = 1.0;
    pull.splits_bank = 150.0;
    pull.splits_timer = 1.0;
    GuideWStates half = pull;
    half.splits_pull = 0.5;
    const RearStep p = rear_step(behind(-60), pull);
    s = rear_step(behind(-60), half);
    EXPECT_EQ(s.res.nz_guid_g, p.res.nz_guid_g);
    EXPECT_NE(s.res.nz_guid_g, 1.0);  // not the roll phase's level-flight load
    EXPECT_EQ(s.res.bank_guid_deg, 150.0);
    EXPECT_EQ(half.splits_timer, 0.0);
    EXPECT_EQ(half.splits_pull, 0.5);
}

// Climbing command 114.6 deg off with the elevation on target, 9 g available.
// A turn_rate_max below 0.19 limits the turn rate, so n_h = 40 turn_rate_max.
GuidanceResults climb_step(double turn_rate_max, double cos_gamma, double tilt_deg,
                           double ang_nose_deg) {
    GuidanceGeometry g{};
    g.errors.behind = true;
    g.errors.az_err_rad = g.errors.az_err_abs_rad = g.errors.az_err_body_rad = 2.0;
    g.errors.elev_cmd_rad = 0.1;
    g.attitude.ang_nose_deg = ang_nose_deg;
    g.attitude.upright = !(g.attitude.inverted = tilt_deg > 90);
    g.path.v_h_mps = g.path.v_tot_mps = 392.4;
    g.path.cos_gamma = cos_gamma;
    g.attitude.cos_pitch = g.attitude.cos_roll = 1.0;
    g.path.turn_rate_max_radps = turn_rate_max;
    const FlightState fs{0, 0, 0, 1.0, 400.0, 9.0, 392.4};
    GuidanceResults res = guidance_entry_values(fs);
    GuideWStates dw = kFreshStates;
    rear_manoeuvres(behind(10), fs, g, dw, res);
    return res;
}

TEST(ClimbingTurn, PushesOnANegativeVerticalDemandUnlessAHardTurnDominates) {
    EXPECT_NEAR(climb_step(0.1, -1.0, 0, 100).nz_guid_g, 4.1231, 5e-5);     // 4 g vs -1 g
    EXPECT_NEAR(climb_step(0.075, -1.0, 0, 100).nz_guid_g, -3.1623, 5e-5);  // 3 g vs -1 g
}

TEST(ClimbingTurn, InvertedWithTheNoseNearTheCommandFliesWingsLevel) {
    EXPECT_EQ(climb_step(1.0, 1.0, 180, 20).bank_guid_deg, 0.0);
    EXPECT_NE(climb_step(1.0, 1.0, 180, 0).bank_guid_deg, 0.0);  // nose exactly on it
    EXPECT_NE(climb_step(1.0, 1.0, 180, 30).bank_guid_deg, 0.0);
    EXPECT_NE(climb_step(1.0, 1.0, 0, 20).bank_guid_deg, 0.0);   // upright
}

TEST(ClimbingTurn, CommandStraightBehindAndWellAboveIsAPurePull) {
    GuideWStates dw = kFreshStates;
    const RearStep s = rear_step(behind(30, 0, 180), dw);
    const double e = s.geo.errors.elev_err_rad;  // the 150 deg off-angle
    EXPECT_NEAR(e, 150 * kRadPerDeg, 1e-12);
    EXPECT_EQ(s.res.bank_guid_deg, 0.0);
    EXPECT_DOUBLE_EQ(s.res.nz_guid_g, 1.0 + ((e / GuideW_T_pitch_cal(e, 1.0)) * 200.0) / 9.81);
    // Only 3 deg off in elevation: the turn stays.
    EXPECT_NEAR(rear_step(behind(3, 0, 180), dw).res.bank_guid_deg, 79.39, 0.01);
}

// Never slow down to turn around; above 600 m/s of equivalent airspeed hold 600.
TEST(RearSpeedReference, LargerOfCommandAndPresentSpeedUpTo600) {
    const double cases[][3] = {{650, 250, 600}, {600, 250, 600}, {300, 250, 300}, {300, 700, 700}};
    for (const auto& c : cases) {
        for (double elev_cmd : {-10.0, 10.0}) {
            GuideWStates dw = kFreshStates;
            GuideWInputs u = behind(elev_cmd);
            u.tas = c[0];  // equals eas at sea level
            u.speed_cmd = c[1];
            EXPECT_EQ(rear_step(u, dw).res.speed_ref_mps, c[2]) << c[0] << " m/s, command " << c[1];
        }
    }
}

}  // namespace
