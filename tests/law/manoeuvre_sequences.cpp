// Rear-hemisphere manoeuvres flown over many steps: how each latch is set,
// held and released as the command moves between behind and ahead.
#include <cmath>
#include <cstddef>
#include <cstring>

#include <gtest/gtest.h>

#include "numeric_helpers.h"
#include "test_support.h"

namespace {

// Level at sea level, 200 m/s over the ground, 9 g available.
Model flight() {
    Model m;
    m.u.tas = 400.0;
    m.u.speed_cmd = 250.0;
    return m;
}

// Commands a direction at a given roll and takes n steps.
void fly(Model& m, double azim_cmd, double elev_cmd, double roll, int n = 1) {
    m.u.azim_cmd = azim_cmd;
    m.u.elev_cmd = elev_cmd;
    m.u.roll = roll;
    for (int i = 0; i < n; ++i) m.step();
}

// The same for one step, returning its guidance results.
GuidanceResults guided(Model& m, double azim_cmd, double elev_cmd, double roll) {
    fly(m, azim_cmd, elev_cmd, roll, 0);
    GuideWStates dw = m.dw;
    const GuidanceResults res = guided_step(m.u, m.p, dw).res;
    m.step();
    return res;
}

TEST(SplitManoeuvre, SlowRollSwitchesToThePullAfterTwoAndAHalfSeconds) {
    Model m = flight();
    fly(m, 120, -60, 30, 250);
    // 250 and 251 steps of 0.01 s added one by one in doubles, rounding and all.
    EXPECT_EQ(m.dw.splits_timer, 2.4999999999999907);
    EXPECT_EQ(m.dw.splits_pull, 0.0);
    const GuidanceResults rolling = guided(m, 120, -60, 30);
    EXPECT_EQ(m.dw.splits_timer, 2.5099999999999905);
    EXPECT_EQ(m.dw.splits_pull, 1.0);
    EXPECT_EQ(rolling.nz_guid_g, 1.0 / std::cos(kRadPerDeg * 30.0));  // level-flight load
    const GuidanceResults pulling = guided(m, 120, -60, 30);
    EXPECT_EQ(m.dw.splits_timer, 0.0);
    EXPECT_NE(pulling.nz_guid_g, rolling.nz_guid_g);
    EXPECT_DOUBLE_EQ(pulling.bank_guid_deg, 136.25);
}

TEST(SplitManoeuvre, RollWithin1DegOfInvertedSwitchesToThePullAtOnce) {
    for (double roll : {-179.5, 179.0}) {
        SCOPED_TRACE(roll);
        Model m = flight();
        fly(m, 120, -60, roll);
        EXPECT_EQ(m.dw.splits_pull, roll == -179.5 ? 1.0 : 0.0);
        EXPECT_EQ(m.dw.splits_timer, 0.01);
    }
}

TEST(SplitManoeuvre, EndsWhenTheTargetComesAheadUprightButNotWhileInverted) {
    Model m = flight();
    fly(m, 120, -60, 30, 10);
    fly(m, 120, -60, -179.5);
    const double timer = m.dw.splits_timer;
    EXPECT_EQ(m.dw.splits_pull, 1.0);
    fly(m, 20, 0, 180);  // ahead, inverted
    EXPECT_EQ(m.dw.splits_active + m.dw.splits_pull, 2.0);
    fly(m, 20, 0, 0);  // ahead, upright
    EXPECT_EQ(m.dw.splits_active + m.dw.splits_pull, 0.0);
    EXPECT_EQ(m.dw.splits_timer, timer);
    EXPECT_DOUBLE_EQ(m.dw.splits_bank, 136.25);
    // The next split manoeuvre, to the left, counts on from the time left.
    fly(m, -120, -60, -30);
    EXPECT_DOUBLE_EQ(m.dw.splits_bank, -136.25);
    EXPECT_EQ(m.dw.splits_timer, timer + 0.01);
}

TEST(RearTurn, CommandAlmostStraightBehindKeepsItsTurnDirectionAcrossTheTail) {
    Model m = flight();
    EXPECT_EQ(guided(m, 185, -10, 0).bank_guid_deg, -85.0);  // 175 deg left
    EXPECT_EQ(m.dw.sign_latch, 1.0);
    EXPECT_EQ(m.dw.turn_sign, -1.0);
    // The error crosses the tail to 175 deg right: still turning left.
    EXPECT_EQ(guided(m, 175, -10, -40).bank_guid_deg, -85.0);
    EXPECT_EQ(m.dw.bank_captured, 0.0);
    fly(m, 175, -10, -84);
    EXPECT_EQ(m.dw.bank_captured, 1.0);
    fly(m, 30, 0, -84);  // ahead: direction and capture released together
    EXPECT_EQ(m.dw.sign_latch + m.dw.bank_captured, 0.0);
    EXPECT_EQ(m.dw.turn_sign, -1.0);
}

TEST(ClimbingTurn, AfterGoingInvertedRollsOverOnItsSideOnceTheNoseIsWithin90Deg) {
    Model m = flight();
    m.u.yaw = 60;  // command 120 deg off the track, 60 deg off the nose
    struct {
        const char* situation;
        double roll, bank;
    } steps[] = {
        {"first inverted step: atan law", 170, NAN},
        {"inverted, rolled right", 170, 180},
        {"inverted, rolled left", -170, -180},
        {"upright again, rolled right", 30, 85},
        {"upright, wings level", 0, 85},
        {"upright, rolled left", -30, -85},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.situation);
        const double bank = guided(m, 120, 10, s.roll).bank_guid_deg;
        if (std::isnan(s.bank)) EXPECT_LT(std::fabs(bank), 90.0);
        else EXPECT_EQ(bank, s.bank);
        EXPECT_EQ(m.dw.inverted_latch, 1.0);
    }
    fly(m, 120, -10, 0);  // a dive step while upright releases it
    EXPECT_EQ(m.dw.inverted_latch, 0.0);
}

TEST(UprightRecovery, DiveStepBehindClearsItAClimbStepLeavesIt) {
    Model m = flight();
    fly(m, 20, 0, 180);  // inverted, target ahead: recovery starts
    EXPECT_EQ(m.dw.upright_latch, 1.0);
    fly(m, 150, 10, 180);
    EXPECT_EQ(m.dw.upright_latch, 1.0);
    fly(m, 150, -10, 180);  // still inverted
    EXPECT_EQ(m.dw.upright_latch, 0.0);
}

TEST(GuidanceLatches, TargetsAheadAndBehindWithGuidanceSwitchedOffBetween) {
    Model m = flight();
    constexpr const char* kField[] = {
        "was_behind", "splits_active", "splits_pull",    "splits_timer",  "sign_latch",
        "turn_sign",  "bank_captured", "inverted_latch", "upright_latch", "front_entry_roll"};
    struct {
        const char* situation;
        double guide_ref, azim, elev, roll;
        int steps;
        double expect[10];
    } phases[] = {
        {"shallow dive 175 deg off, rolled into the frozen turn",
         1,
         175,
         -10,
         84,
         1,
         {1, 0, 0, 0, 1, 1, 1, 0, 0, 0}},
        {"guidance off, command ahead", 0, 30, 0, 0, 5, {1, 0, 0, 0, 1, 1, 1, 0, 0, 0}},
        {"guidance on, target ahead", 1, 30, 0, 20, 1, {0, 0, 0, 0, 0, 1, 0, 0, 0, 20}},
        {"shallow dive 120 deg off, bank captured",
         1,
         120,
         -10,
         85,
         1,
         {1, 0, 0, 0, 0, 1, 1, 0, 0, 20}},
        {"target ahead: capture kept without the frozen turn",
         1,
         30,
         0,
         0,
         1,
         {0, 0, 0, 0, 0, 1, 1, 0, 0, 0}},
        {"steep dive behind, rolling left",
         1,
         120,
         -60,
         -30,
         3,
         {1, 1, 0, 0.03, 0, -1, 1, 0, 0, 0}},
        {"guidance off mid-roll", 0, 120, -60, -30, 4, {1, 1, 0, 0.03, 0, -1, 1, 0, 0, 0}},
        {"guidance on: the roll resumes", 1, 120, -60, -30, 1, {1, 1, 0, 0.04, 0, -1, 1, 0, 0, 0}},
        {"climbing command behind, inverted",
         1,
         120,
         10,
         170,
         1,
         {1, 1, 0, 0.04, 0, -1, 1, 1, 0, 0}},
        {"guidance off, inverted, command ahead",
         0,
         20,
         0,
         170,
         4,
         {1, 1, 0, 0.04, 0, -1, 1, 1, 0, 0}},
        {"guidance on, ahead while inverted",
         1,
         20,
         0,
         170,
         1,
         {0, 1, 0, 0.04, 0, -1, 1, 1, 1, 170}},
        {"rolled upright, target ahead", 1, 20, 0, 0, 1, {0, 0, 0, 0.04, 0, -1, 1, 0, 0, 170}},
    };
    for (const auto& ph : phases) {
        SCOPED_TRACE(ph.situation);
        m.p.guide_ref = ph.guide_ref;
        const GuideWStates before = m.dw;
        fly(m, ph.azim, ph.elev, ph.roll, ph.steps);
        if (ph.guide_ref == 0.0) {  // no guidance field moves, the timer included
            EXPECT_EQ(0, std::memcmp(&before, &m.dw, offsetof(GuideWStates, orbit_yaw_ref)));
        }
        const GuideWStates& s = m.dw;
        const double got[] = {s.was_behind,    s.splits_active,   s.splits_pull,   s.splits_timer,
                              s.sign_latch,    s.turn_sign,       s.bank_captured, s.inverted_latch,
                              s.upright_latch, s.front_entry_roll};
        for (int i = 0; i < 10; ++i) EXPECT_NEAR(got[i], ph.expect[i], 1e-12) << kField[i];
    }
}

}  // namespace
