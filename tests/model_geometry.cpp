// Angle and vector helpers, and where the commanded direction lies relative
// to the aircraft's velocity vector or nose.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "atmosphere.h"
#include "numeric_helpers.h"
#include "test_support.h"

TEST(Helpers, AzimuthOfHorizontalComponents) {
    struct { double east, north, az; } cases[] = {
        {0, 5, 0}, {0, -5, 180}, {5, 0, 90}, {-5, 0, 270}, {1, 1, 45}, {-1, 1, 315},
        {1, -1, 135}, {-1, -1, 225}, {0.0005, 1, 0}, {-0.0005, -1, 180}};  // nearly N / S
    for (auto c : cases)
        EXPECT_DOUBLE_EQ(GuideW_azimuth360_deg(c.east, c.north), c.az) << c.east << "," << c.north;
}

TEST(Helpers, GuardsAgainstTinyMagnitudes) {
    Vec3 u{1, 1, 1};
    GuideW_unit_vector(Vec3{0, 0, 0}, u);  // stays zero instead of NaN
    EXPECT_EQ(u.x, 0.0); EXPECT_EQ(u.y, 0.0); EXPECT_EQ(u.z, 0.0);
    GuideW_unit_vector(Vec3{0.001, 0, 0}, u);  // divided by the 0.01 floor
    EXPECT_DOUBLE_EQ(u.x, 0.1); EXPECT_EQ(u.y, 0.0); EXPECT_EQ(u.z, 0.0);
    EXPECT_EQ(GuideW_nonzero(0.0), 0.0); EXPECT_EQ(GuideW_nonzero(0.01), 0.01);
    EXPECT_EQ(GuideW_nonzero(0.005), 0.01); EXPECT_EQ(GuideW_nonzero(-0.005), -0.01);
    EXPECT_EQ(GuideW_signg(0.0), 1.0); EXPECT_EQ(GuideW_signg(-0.0), 1.0);
    EXPECT_EQ(GuideW_signg(-1e-300), -1.0);
}

TEST(Helpers, TimeConstantsGrowWithErrorAndThinAir) {
    const double sea = density_ratio_root(0.0);
    ASSERT_EQ(sea, 1.0);
    EXPECT_EQ(GuideW_T_turn_cal(0.0, sea), 3.0); EXPECT_EQ(GuideW_T_turn_cal(0.0, 0.5), 6.0);
    EXPECT_EQ(GuideW_T_turn_cal(-kDeg60_rad, sea), 6.0);
    EXPECT_EQ(GuideW_T_turn_cal(kPi, sea), 12.0);
    EXPECT_EQ(GuideW_T_pitch_cal(0.0, sea), 1.1);
    EXPECT_EQ(GuideW_T_pitch_cal(kDeg30_rad, sea), 2.2);
    EXPECT_EQ(GuideW_T_pitch_cal(-kDeg60_rad, sea), 4.4);
}

namespace {
GuidanceGeometry geometry_of(const GuideWInputs& u, double guide_ref, double upright_latch = 0) {
    GuideWParams p = GuideW_P;
    p.guide_ref = guide_ref;
    GuideWStates dw = kFreshStates;
    dw.upright_latch = upright_latch;
    return guidance_geometry(u, p, dw, condition_flight_state(u));
}
const double kN30 = 200 * std::cos(30 * kRadPerDeg);  // north speed on a 30 deg track
}  // namespace

TEST(Geometry, ReferenceErrorsAndHemisphere) {
    struct {
        const char* situation;
        double guide_ref, azim, elev, pitch, roll, latch, north, up, east;
        bool behind;
        double az_err_deg, elev_err_deg;
    } cases[] = {
        {"command dead ahead", 1, 0, 0, 0, 0, 0, 200, 0, 0, false, 0, 0},
        {"track 30, command 100: velocity 70 off", 1, 100, 0, 0, 0, 0, kN30, 0, 100, false, 70, 0},
        {"guide_ref 2 steers the velocity like 1", 2, 100, 0, 0, 0, 0, kN30, 0, 100, false, 70, 0},
        {"guide_ref 3 steers the nose: 100 off", 3, 100, 0, 0, 0, 0, kN30, 0, 100, true, 100, 0},
        {"guide_ref 0.5 steers the nose", 0.5, 100, 0, 0, 0, 0, kN30, 0, 100, true, 100, 0},
        {"guide_ref -1 steers the nose", -1, 100, 0, 0, 0, 0, kN30, 0, 100, true, 100, 0},
        {"negative command azimuth wraps once", 1, -200, 0, 0, 0, 0, 200, 0, 0, true, 160, 0},
        // Shifted once to 640, wrapped once to 280; the true off-angle is 80.
        {"azimuth 1000 stays out of range", 1, 1000, 0, 0, 0, 0, 200, 0, 0, true, 280, 80},
        {"astern, level: off-angle = azimuth error", 1, 180, 0, 0, 0, 0, 200, 0, 0, true, 180, 0},
        {"astern, diving 45: full angle", 1, 180, -45, 0, 0, 0, 200, 0, 0, true, 180, 135},
        {"astern, diving 44: plain error", 1, 180, -44, 0, 0, 0, 200, 0, 0, true, 180, -44},
        // Diving steeply astern steers on the velocity's angle even with the nose reference.
        {"nose up 20, astern diving 60", 3, 180, -60, 20, 0, 0, 200, 0, 0, true, 180, 120},
        {"astern, 3 up: within 5 of level", 1, 180, 3, 0, 0, 0, 200, 0, 0, true, 180, 3},
        {"astern, 6 up: full angle", 1, 180, 6, 0, 0, 0, 200, 0, 0, true, 180, 174},
        {"inverted, command ahead: full angle", 1, 30, 0, 0, 180, 0, 200, 0, 0, false, 30, 30},
        {"inverted, recovery running: plain", 1, 30, 0, 0, 180, 1, 200, 0, 0, false, 30, 0},
        {"hovering at 0.9 m/s up counts as level", 1, 0, 10, 0, 0, 0, 0, 0.9, 0, false, 0, 10},
        {"vertical climb, nose up 90", 1, 0, 0, 90, 0, 0, 0, 100, 0, false, 0, -90},
    };
    for (auto c : cases) {
        GuideWInputs u = level_flight();
        u.azim_cmd = c.azim; u.elev_cmd = c.elev; u.pitch = c.pitch; u.roll = c.roll;
        u.vel_north = c.north; u.vel_up = c.up; u.vel_east = c.east;
        const GuidanceGeometry g = geometry_of(u, c.guide_ref, c.latch);
        EXPECT_EQ(g.errors.behind, c.behind) << c.situation;
        EXPECT_NEAR(g.errors.az_err_rad, c.az_err_deg * kRadPerDeg, 1e-12) << c.situation;
        EXPECT_NEAR(g.errors.elev_err_rad, c.elev_err_deg * kRadPerDeg, 1e-12) << c.situation;
    }
}

TEST(Geometry, ExactBoundaries) {
    GuideWInputs u = level_flight();
    u.azim_cmd = 180;  // dead astern stays pi, not -pi
    EXPECT_EQ(geometry_of(u, 1).errors.az_err_rad, kPi);
    u.azim_cmd = 270;  // exactly abeam counts as ahead
    EXPECT_EQ(geometry_of(u, 1).errors.az_err_rad, -kHalfPi_rad);
    EXPECT_FALSE(geometry_of(u, 1).errors.behind);
    u = level_flight();
    u.vel_north = 0; u.vel_up = 0.9;  // no horizontal speed, no turn-rate bound
    EXPECT_EQ(geometry_of(u, 1).path.turn_rate_max_radps, std::numeric_limits<double>::infinity());
    u.vel_up = 100; u.pitch = 90;  // a vertical climb still counts as upright
    const GuidanceGeometry climb = geometry_of(u, 1);
    EXPECT_TRUE(climb.attitude.upright); EXPECT_FALSE(climb.attitude.inverted);
}

TEST(Geometry, TypicalClimbingTurnToTheRight) {
    GuideWInputs u = level_flight();
    u.azim_cmd = 30; u.elev_cmd = 5; u.altitude = 3000;
    const GuidanceGeometry g = geometry_of(u, 1);
    EXPECT_FALSE(g.errors.behind);
    EXPECT_EQ(g.errors.az_err_rad, 30 * kRadPerDeg); EXPECT_EQ(g.errors.elev_err_rad, 5 * kRadPerDeg);
    EXPECT_NEAR(g.path.turn_rate_max_radps, 0.56064, 5e-6);
}

// Upright or inverted: the side of 90 deg the body's up axis lies on. Exactly
// on a knife edge counts as upright; an attitude that cannot be known (a NaN
// yaw leaves the up axis undefined) counts as both, so that neither branch
// is skipped on its account.
TEST(Geometry, UprightOrInvertedByTheTilt) {
    struct { const char* situation; double yaw, pitch, roll; bool upright, inverted; } cases[] = {
        {"wings level", 0, 0, 0, true, false},
        {"knife edge, right wing down", 30, 0, 90, true, false},
        {"knife edge, left wing down", -30, 0, -90, true, false},
        {"just past the knife edge", 0, 0, 90.001, false, true},
        {"on its back", 0, 0, 180, false, true},
        {"nose 10 up, banked 60", 120, 10, 60, true, false},
        {"nose 80 down, rolled 100", -60, -80, 100, false, true},
        {"yaw not a number", NAN, 0, 0, true, true},
    };
    for (const auto& c : cases) {
        GuideWInputs u = level_flight();
        u.yaw = c.yaw; u.pitch = c.pitch; u.roll = c.roll;
        const GuidanceGeometry g = geometry_of(u, 1);
        EXPECT_EQ(g.attitude.upright, c.upright) << c.situation;
        EXPECT_EQ(g.attitude.inverted, c.inverted) << c.situation;
    }
}
