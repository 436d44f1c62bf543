// Single steps with the command behind: rear turn, split manoeuvre latch,
// climbing turn and speed reference.
#include <cmath>

#include <gtest/gtest.h>

#include "numeric_helpers.h"
#include "test_support.h"

namespace {

GuidedStep rear_step(const GuideWInputs& u, GuideWStates& dw) {
    const GuidedStep s = guided_step(u, GuideW_P, dw);
    EXPECT_TRUE(s.geo.errors.behind);
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

// The turn: 120 deg over the 10.5 s time constant at 200 m/s, 4.067 g. A
// climbing demand banks atan(4.067 / 1) = 76.1847 deg; a descending one
// steepens the bank (the lift carries less than gravity's share), and is
// never flown as a push: the turn alone. Captured in a 1 deg dive it pulls
// hypot(4.0666, 0.6870) = 4.12420 g, the vertical demand being
// 1 - (1 deg / (1.1 x (2 - 29/30) s)) x 200 / 9.81 (hand calculation).
TEST(RearTurn, ShallowDiveBehindBanksFirstAndPullsOnceCaptured) {
    const double turn = (120 * kRadPerDeg / 10.5) * 200 / 9.81;
    // 4 deg down over the pitch schedule's 1.1 x (2 - 26/30) s at 200 m/s.
    const double down_4 = 1 + (-4 * kRadPerDeg / (1.1 * (2 - 26.0 / 30))) * 200 / 9.81;
    struct {
        const char* situation;
        double elev_cmd, roll, captured, nz, nz_tol, bank, bank_tol;
    } cases[] = {
        // A descending demand makes the bank divisor negative: 89.86 -> 85.
        {"wings level, 10 deg dive", -10, 0, 0, 1.0, 0, 85.0, 0},
        {"inverted: the turn reverses", -10, 180, 0, 1.0, 0, -85.0, 0},
        {"1 deg dive, bank not captured", -1, 0, 0, 1.0, 0, std::atan(turn) / kRadPerDeg, 1e-12},
        {"1 deg dive, bank captured", -1, 0, 1, 4.12420, 5e-6, 76.1847, 5e-5},
        {"10 deg dive, bank captured: the turn alone", -10, 0, 1, turn, 1e-12, 85.0, 0},
        {"4 deg dive: the divisor 1 - 0.14 steepens the bank", -4, 0, 0, 1.0, 0,
         std::atan(turn / (1 + down_4)) / kRadPerDeg, 1e-9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        GuideWStates dw = kFreshStates;
        dw.bank_captured = c.captured;
        const GuidedStep s = rear_step(behind(c.elev_cmd, c.roll), dw);
        EXPECT_EQ(s.geo.errors.az_err_rad, 2.0943951023931953);  // 120 deg: 2 pi / 3
        EXPECT_NEAR(s.res.nz_guid_g, c.nz, c.nz_tol);
        EXPECT_NEAR(s.res.bank_guid_deg, c.bank, c.bank_tol);
        EXPECT_EQ(s.res.speed_ref_mps, 400.0);
        EXPECT_EQ(dw.was_behind, 1.0);
        EXPECT_EQ(dw.bank_captured, c.captured);  // roll far from the bank
        EXPECT_EQ(dw.sign_latch + dw.splits_active, 0.0);
    }
}

// The bank counts as captured within 5 deg of the turn's bank, on either
// side, with the elevation error under 30 deg: only then does the turn pull.
TEST(RearTurn, BankCapturedWithin5DegAndUnder30DegOfElevationError) {
    struct {
        const char* situation;
        double elev_cmd, roll_from_bank;
        bool captured;
    } cases[] = {{"1 deg dive, rolled 4.9 short of the bank", -1, -4.9, true},
                 {"1 deg dive, rolled 5.1 short of the bank", -1, -5.1, false},
                 {"1 deg dive, rolled 4.9 past the bank", -1, 4.9, true},
                 {"1 deg dive, rolled 5.1 past the bank", -1, 5.1, false},
                 {"29.9 deg dive, on the bank", -29.9, 0, true},
                 {"30.1 deg dive, on the bank", -30.1, 0, false}};
    for (const auto& c : cases) {
        GuideWStates first = kFreshStates;
        const double bank = rear_step(behind(c.elev_cmd), first).res.bank_guid_deg;
        GuideWStates dw = kFreshStates;
        rear_step(behind(c.elev_cmd, bank + c.roll_from_bank), dw);
        EXPECT_EQ(dw.bank_captured, c.captured ? 1.0 : 0.0)
            << c.situation << " (bank " << bank << ")";
    }
}

// Diving or climbing near the vertical, so slowly across that the turn asks
// for only about 0.1 g: a descending demand beyond gravity's share floors
// the bank divisor at 0.01 (the dive), and a path within 0.6 deg of the
// vertical holds |cos gamma| at 0.01 (the climb), so the bank stays that of
// a turn at 0.01 g of lift, not a knife edge.
TEST(RearTurn, BankDivisorsHeldOffZeroNearTheVertical) {
    const auto turn = [](double v_h) { return (120 * kRadPerDeg / 10.5) * v_h / 9.81; };
    const auto bank = [](double n_h, double divisor) {
        return std::atan(n_h / divisor) / kRadPerDeg;
    };
    const double v_up = std::sqrt(200.0 * 200.0 - 25.0);
    struct {
        const char* situation;
        Velocity vel;
        double elev_cmd, bank;
    } cases[] = {{"climbing at 200, 5 across, 10 deg dive wanted: divisor floored",
                  {5, 0, v_up},
                  -10,
                  bank(turn(5), 0.01)},
                 {"climbing at 200, 0.5 across, 10 up wanted: |cos gamma| held",
                  {0.5, 0, 200},
                  10,
                  bank(turn(0.5), 0.01)},
                 {"climbing at 200, 3 across, 10 up wanted: cos gamma",
                  {3, 0, 200},
                  10,
                  bank(turn(3), 3 / std::hypot(3.0, 200.0))}};
    for (const auto& c : cases) {
        GuideWInputs u = behind(c.elev_cmd);
        fly_with(u, c.vel);
        GuideWStates dw = kFreshStates;
        EXPECT_NEAR(rear_step(u, dw).res.bank_guid_deg, c.bank, 1e-9) << c.situation;
    }
}

// A dive of exactly 45 deg is steep: the manoeuvre latches and its roll
// phase, holding the level-flight load, runs in the same step.
TEST(SplitManoeuvre, LatchesBankOnTheCommandSideOrBeyond170DegOnTheRollSide) {
    struct {
        const char* situation;
        double azim_cmd, roll, splits_bank;
    } cases[] = {
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
        const GuidedStep s = rear_step(behind(-45, c.roll, c.azim_cmd), dw);
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

// The pull phase bends the path towards the command: gravity's share
// across the path plus the pull of the flight-path rate, on the angle
// between velocity and command over the pitch schedule's time constant
// (beyond 30 deg: 1.1 x (2 + 2 (angle - 30) / 30) s). That angle is never
// negative, so the pull never pushes; it is held at the load limit.
TEST(SplitManoeuvre, PullPhaseBendsThePathTowardsTheCommand) {
    const auto pull = [](double angle_deg, double gamma_deg) {
        const double t_s = 1.1 * (2 + 2 * (angle_deg - 30) / 30);
        return std::cos(gamma_deg * kRadPerDeg) + (angle_deg * kRadPerDeg / t_s) * 200 / 9.81;
    };
    struct {
        const char* situation;
        double gamma, tas, azim, elev, nz;
    } cases[] = {
        {"level, command astern 60 down: 120 deg off", 0, 400, 180, -60, pull(120, 0)},
        {"diving 40, command astern 60 down: 80 deg off", -40, 400, 180, -60, pull(80, -40)},
        {"level, 100 m/s of equivalent airspeed: held at 1.5 g", 0, 100, 180, -60, 1.5}};
    for (const auto& c : cases) {
        GuideWInputs u = behind(c.elev, 0, c.azim);
        fly_with(u, along(200, 0, c.gamma));
        u.tas = c.tas;
        GuideWStates dw = kFreshStates;
        dw.splits_active = dw.splits_pull = 1.0;
        dw.splits_bank = 150.0;
        const GuidedStep s = rear_step(u, dw);
        EXPECT_NEAR(s.res.nz_guid_g, c.nz, 1e-9) << c.situation;
        EXPECT_EQ(s.res.bank_guid_deg, 150.0) << c.situation;
    }
}

TEST(SplitManoeuvre, FlagsWrittenOtherThanZeroOrOne) {
    // Half-latched: no law runs and the step's entry values stand.
    GuideWStates dw = kFreshStates;
    dw.splits_active = 0.5;
    GuidedStep s = rear_step(behind(-60, 20), dw);
    EXPECT_EQ(s.res.nz_guid_g, 1.0);
    EXPECT_EQ(s.res.bank_guid_deg, 20.0);

    // Any non-zero pull flag pulls, exactly as a pull flag of 1 does.
    GuideWStates pull = kFreshStates;
    pull.splits_active = pull.splits_pull = 1.0;
    pull.splits_bank = 150.0;
    pull.splits_timer = 1.0;
    GuideWStates half = pull;
    half.splits_pull = 0.5;
    const GuidedStep p = rear_step(behind(-60), pull);
    s = rear_step(behind(-60), half);
    EXPECT_EQ(s.res.nz_guid_g, p.res.nz_guid_g);
    EXPECT_NE(s.res.nz_guid_g, 1.0);  // not the roll phase's level-flight load
    EXPECT_EQ(s.res.bank_guid_deg, 150.0);
    EXPECT_EQ(half.splits_timer, 0.0);
    EXPECT_EQ(half.splits_pull, 0.5);
}

// Climbing steeper than a level command 120 deg behind: the vertical demand
// is negative, so the load is signed like it (a push) unless the turn asks
// for more than 3.5 g and more than twice the vertical demand. A vertical
// demand of exactly 0 is no pull either: the turn alone (120 deg over the
// 10.5 s time constant at 60 m/s: 1.22 g) is flown as a push.
TEST(ClimbingTurn, PushesOnANegativeVerticalDemandUnlessAHardTurnDominates) {
    const double turn_120_at_60 = (120 * kRadPerDeg / 10.5) * 60 / 9.81;
    const double hard = 3.4, any = 1e9;
    struct {
        const char* situation;
        Velocity vel;
        double azim;
        bool pulls;
        double nz_abs_lo, nz_abs_hi;
    } cases[] = {{"turn 3.96 g, 2.02 times the push", along(200, 40, 13.0), 160, true, hard, any},
                 {"turn 3.96 g, 1.99 times the push", along(200, 40, 13.2), 160, false, hard, any},
                 {"turn 3.52 g, 4.4 times the push", along(175, 40, 8), 160, true, hard, any},
                 {"turn 3.48 g, 4.5 times the push", along(173, 40, 8), 160, false, hard, any},
                 {"vertical demand exactly 0: push", kZeroVerticalDemand, 120, false,
                  turn_120_at_60 - 1e-12, turn_120_at_60 + 1e-12},
                 {"vertical demand a hair above 0: pull",
                  {60, 0, 15.2},
                  120,
                  true,
                  turn_120_at_60,
                  turn_120_at_60 + 0.01},
                 {"vertical demand a hair below 0: push",
                  {60, 0, 15.35},
                  120,
                  false,
                  turn_120_at_60,
                  turn_120_at_60 + 0.01}};
    for (const auto& c : cases) {
        Model m;
        fly_with(m.u, c.vel);
        m.u.tas = 400;  // 9 g available
        m.u.azim_cmd = c.azim;
        m.u.elev_cmd = 0;
        const double nz = m.step().nz_cmd;
        EXPECT_EQ(nz > 0, c.pulls) << c.situation << ": " << nz;
        EXPECT_GE(std::fabs(nz), c.nz_abs_lo) << c.situation;
        EXPECT_LE(std::fabs(nz), c.nz_abs_hi) << c.situation;
    }
}

// Level on track 0, a climbing command behind. Inverted, with the nose less
// than 30 deg from the command (but not exactly on it), fly wings level: from
// 180 deg of roll the roll law is driven to its lower bound. Otherwise the
// climbing turn's bank (about 78 deg, mirrored while inverted) drives it to
// the upper bound. Yaw 132.10 puts the nose 29.5 deg from (160, 10 up).
TEST(ClimbingTurn, InvertedWithTheNoseNearTheCommandFliesWingsLevel) {
    struct {
        const char* situation;
        double azim, elev, yaw, roll, lat;
    } cases[] = {{"inverted, nose 14 off", 160, 10, 150.15171309293632, 180, -150},
                 {"inverted, nose 29.5 off", 160, 10, 132.10204556265833, 180, -150},
                 {"inverted, nose 30.5 off", 160, 10, 131.03564857273392, 180, 150},
                 {"inverted, nose exactly on it, dead astern", 180, 0, 180, 180, 150},
                 {"upright, nose 14 off", 160, 10, 150.15171309293632, 0, 150}};
    for (const auto& c : cases) {
        Model m;
        m.u.azim_cmd = c.azim;
        m.u.elev_cmd = c.elev;
        m.u.yaw = c.yaw;
        m.u.roll = c.roll;
        EXPECT_EQ(m.step().lat_cmd, c.lat) << c.situation;
    }
}

// The climbing turn's bank is limited to 85 deg while upright and to the
// full half turn upside down. At 600 m/s climbing 20 deg the 120 deg turn
// is held at the turn rate of an 85 deg level turn, tan 85 g across, which
// a lift carrying cos 20 of gravity flies at 85.3 deg of bank. An attitude
// that cannot be known (a NaN yaw) counts as upright here.
TEST(ClimbingTurn, BankLimitUprightInvertedOrUnknown) {
    const double asked =
        std::atan(std::tan(85 * kRadPerDeg) / std::cos(20 * kRadPerDeg)) / kRadPerDeg;
    struct {
        const char* situation;
        double yaw, roll, bank;
    } cases[] = {{"upright: 85", 0, 0, 85},
                 {"yaw unknown: 85", NAN, 0, 85},
                 {"inverted: the whole ask", 0, 180, -asked}};
    for (const auto& c : cases) {
        GuideWInputs u = behind(10, c.roll);
        fly_with(u, along(600, 0, 20));
        u.yaw = c.yaw;
        u.roll = c.roll;
        GuideWStates dw = kFreshStates;
        EXPECT_NEAR(rear_step(u, dw).res.bank_guid_deg, c.bank, 1e-9) << c.situation;
    }
}

// Going inverted in a climbing turn latches the roll-over; the dive and the
// command coming ahead release it, but only once the aircraft is upright.
TEST(InvertedLatch, ReleasedOnlyWhileNotInverted) {
    struct {
        const char* situation;
        double azim, elev, roll, latch;
    } cases[] = {{"diving behind, upright: released", 120, -10, 0, 0},
                 {"diving behind, inverted: kept", 120, -10, 180, 1},
                 {"ahead, upright: released", 10, 0, 0, 0},
                 {"ahead, inverted: kept", 10, 0, 180, 1},
                 {"climbing behind, upright: kept", 120, 10, 0, 1}};
    for (const auto& c : cases) {
        GuideWStates dw = kFreshStates;
        dw.inverted_latch = 1;
        GuideWInputs u = behind(c.elev, c.roll, c.azim);
        guided_step(u, GuideW_P, dw);
        EXPECT_EQ(dw.inverted_latch, c.latch) << c.situation;
    }
}

// A shallow dive with the command almost straight behind freezes the turn
// direction on the side of the command, but only beyond 170 deg: exactly
// 170 deg off the track still picks its side afresh every step.
TEST(RearTurn, TurnDirectionFrozenOnlyBeyond170DegBehind) {
    struct {
        const char* situation;
        double azim_cmd, sign_latch, turn_sign;
    } cases[] = {{"10 deg dive, 169.5 deg right: not frozen", 169.5, 0, NAN},
                 {"10 deg dive, exactly 170 deg right: not frozen", 170, 0, NAN},
                 {"10 deg dive, 170.5 deg right: frozen right", 170.5, 1, 1},
                 {"10 deg dive, 171 deg right: frozen right", 171, 1, 1},
                 {"10 deg dive, 172 deg left: frozen left", -172, 1, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        GuideWStates dw = kFreshStates;
        const GuidedStep s = rear_step(behind(-10, 0, c.azim_cmd), dw);
        EXPECT_EQ(s.geo.errors.az_err_rad, c.azim_cmd * kRadPerDeg);
        EXPECT_EQ(dw.sign_latch, c.sign_latch);
        if (c.sign_latch == 1) EXPECT_EQ(dw.turn_sign, c.turn_sign);
    }
}

// Latched inverted in a climbing turn, the roll-over to the half turn on the
// present side (rolled left: -180, held at the upright 85) starts only once
// the command is strictly within 90 deg of the nose. Steering the velocity,
// flying 40 deg left of north with the nose north, the command stays about 130 deg
// off the track, behind; at exactly 90 deg off the nose the turn to the
// right goes on.
TEST(InvertedLatch, RollsOverOnlyWithTheCommandWithin90DegOfTheNose) {
    struct {
        const char* situation;
        double azim_cmd;
        bool rolls_over;
    } cases[] = {{"rolled 20 left, command 89.5 deg right of the nose: rolls over", 89.5, true},
                 {"rolled 20 left, command exactly 90 deg right of the nose: turns", 90, false},
                 {"rolled 20 left, command 90.5 deg right of the nose: turns", 90.5, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        GuideWInputs u = behind(10, 0, c.azim_cmd);
        fly_with(u, along(200, -40, 0));
        u.yaw = 0;
        u.roll = -20;
        GuideWParams p = GuideW_P;
        p.guide_ref = 1;
        GuideWStates dw = kFreshStates;
        dw.inverted_latch = 1;
        const GuidedStep s = guided_step(u, p, dw);
        EXPECT_TRUE(s.geo.errors.behind);
        EXPECT_EQ(s.geo.errors.az_err_body_rad, c.azim_cmd * kRadPerDeg);
        if (c.rolls_over) {
            EXPECT_EQ(s.res.bank_guid_deg, -85.0);
        } else {
            EXPECT_GT(s.res.bank_guid_deg, 0.0);  // still banked into the right turn
        }
    }
}

TEST(ClimbingTurn, CommandStraightBehindAndWellAboveIsAPurePull) {
    GuideWStates dw = kFreshStates;
    const GuidedStep s = rear_step(behind(30, 0, 180), dw);
    const double e = s.geo.errors.elev_err_rad;  // the 150 deg off-angle
    EXPECT_NEAR(e, 150 * kRadPerDeg, 1e-12);
    EXPECT_EQ(s.res.bank_guid_deg, 0.0);
    // 150 deg over the pitch schedule's 10 units of 1.1 s, at 200 m/s.
    EXPECT_NEAR(s.res.nz_guid_g, 1.0 + (150 * kRadPerDeg / 11.0) * 200.0 / 9.81, 1e-12);
    // Only 3 deg off in elevation: the turn stays.
    EXPECT_NEAR(rear_step(behind(3, 0, 180), dw).res.bank_guid_deg, 79.39, 0.01);
}

// Never slow down to turn around; above 600 m/s of equivalent airspeed hold 600.
TEST(RearSpeedReference, LargerOfCommandAndPresentSpeedUpTo600) {
    const double cases[][3] = {{650, 250, 600}, {600, 250, 600}, {600, 650, 600},
                               {300, 250, 300}, {300, 700, 700}, {599, 650, 650}};
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
