// Angle and vector helpers, and where the commanded direction lies relative
// to the aircraft's velocity vector or nose.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "atmosphere.h"
#include "demand_laws.h"
#include "numeric_helpers.h"
#include "test_support.h"

TEST(Helpers, AzimuthOfHorizontalComponents) {
    struct {
        double east, north, az;
    } cases[] = {{0, 5, 0},      {0, -5, 180},      {5, 0, 90},   {-5, 0, 270},
                 {1, 1, 45},     {-1, 1, 315},      {1, -1, 135}, {-1, -1, 225},
                 {0.0005, 1, 0}, {-0.0005, -1, 180}};  // nearly N / S
    for (auto c : cases)
        EXPECT_DOUBLE_EQ(GuideW_azimuth360_deg(c.east, c.north), c.az) << c.east << "," << c.north;
}

TEST(Helpers, GuardsAgainstTinyMagnitudes) {
    Vec3 u{1, 1, 1};
    GuideW_unit_vector(Vec3{0, 0, 0}, u);  // stays zero instead of NaN
    EXPECT_EQ(u.x, 0.0);
    EXPECT_EQ(u.y, 0.0);
    EXPECT_EQ(u.z, 0.0);
    GuideW_unit_vector(Vec3{0.001, 0, 0}, u);  // divided by the 0.01 floor
    EXPECT_DOUBLE_EQ(u.x, 0.1);
    EXPECT_EQ(u.y, 0.0);
    EXPECT_EQ(u.z, 0.0);
    EXPECT_EQ(GuideW_nonzero(0.0), 0.0);
    EXPECT_EQ(GuideW_nonzero(0.01), 0.01);
    EXPECT_EQ(GuideW_nonzero(0.005), 0.01);
    EXPECT_EQ(GuideW_nonzero(-0.005), -0.01);
    EXPECT_EQ(GuideW_signg(0.0), 1.0);
    EXPECT_EQ(GuideW_signg(-0.0), 1.0);
    EXPECT_EQ(GuideW_signg(-1e-300), -1.0);
}

// Directions at 0, 90 and 180 deg, among them unit vectors whose dot product
// rounds a hair beyond -1 or 1: still an angle, never NaN.
TEST(Helpers, AngleBetweenDirectionsStaysDefinedAtTheEnds) {
    const Vec3 u{0.14934538947531226, 0.85974507995247329,
                 0.48839978720304822};  // u.u rounds above 1
    const Vec3 minus_u{-u.x, -u.y, -u.z};
    ASSERT_LT(GuideW_dot(u, minus_u), -1.0);
    struct {
        const char* situation;
        Vec3 a, b;
        double deg;
    } cases[] = {{"the same direction, dot a hair above 1", u, u, 0},
                 {"opposite directions, dot a hair below -1", u, minus_u, 180},
                 {"world up and east", {0, 1, 0}, {0, 0, 1}, 90},
                 {"world up and down", {0, 1, 0}, {0, -1, 0}, 180}};
    for (const auto& c : cases) EXPECT_EQ(angle_between_deg(c.a, c.b), c.deg) << c.situation;
}

// The flight-path rate bends the path by the elevation error over its time
// constant, at most 60 deg/s. At sea level 30 deg over 2.2 s is 0.238 rad/s;
// only air more than 4.4 times the sea level's density root (a host's
// altitude far below sea level) shortens the time constant enough to reach
// the bound.
TEST(DemandLaws, FlightPathRateHeldWithin60DegPerSecond) {
    struct {
        const char* situation;
        double err_deg, sigma_root, rate;
    } cases[] = {{"sea level, 30 up", 30, 1.0, kDeg30_rad / 2.2},
                 {"density root 4.3, 30 up: 1.023 rad/s", 30, 4.3, kDeg30_rad / (2.2 / 4.3)},
                 {"density root 4.5, 30 up: the bound", 30, 4.5, kDeg60_rad},
                 {"density root 4.5, 30 down: the bound", -30, 4.5, -kDeg60_rad}};
    for (const auto& c : cases) {
        GuidanceGeometry geo{};
        geo.errors.elev_err_rad = c.err_deg * kRadPerDeg;
        FlightState fs{};
        fs.sigma_root = c.sigma_root;
        EXPECT_NEAR(flight_path_rate_demand(geo, fs), c.rate, 1e-12) << c.situation;
    }
}

TEST(Helpers, TimeConstantsGrowWithErrorAndThinAir) {
    const double sea = density_ratio_root(0.0);
    ASSERT_EQ(sea, 1.0);
    EXPECT_EQ(GuideW_T_turn_cal(0.0, sea), 3.0);
    EXPECT_EQ(GuideW_T_turn_cal(0.0, 0.5), 6.0);
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
    const InputRoles in = input_roles(u);
    return guidance_geometry(in.command, in.aircraft, p.guide_ref, dw, conditioned(u));
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
        {"guide_ref 3 steers the nose: 100 off", 3, 100, 0, 0, 0, 0, kN30, 0, 100, true, 100, 0},
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
        {"astern, 4.9 up: within 5 of level", 1, 180, 4.9, 0, 0, 0, 200, 0, 0, true, 180, 4.9},
        {"astern, 5.1 up: full angle", 1, 180, 5.1, 0, 0, 0, 200, 0, 0, true, 180, 174.9},
        // The nose is 20 up, the command 5 up: the nose must come down 15,
        // whatever the level flight path says.
        {"nose 20 up steering the nose, command 5 up ahead", 3, 0, 5, 20, 0, 0, 200, 0, 0, false, 0,
         -15},
        {"nose 20 up steering the velocity, command 5 up ahead", 1, 0, 5, 20, 0, 0, 200, 0, 0,
         false, 0, 5},
        {"inverted, command ahead: full angle", 1, 30, 0, 0, 180, 0, 200, 0, 0, false, 30, 30},
        {"inverted, recovery running: plain", 1, 30, 0, 0, 180, 1, 200, 0, 0, false, 30, 0},
        {"hovering at 0.9 m/s up counts as level", 1, 0, 10, 0, 0, 0, 0, 0.9, 0, false, 0, 10},
        {"vertical climb, nose up 90", 1, 0, 0, 90, 0, 0, 0, 100, 0, false, 0, -90},
    };
    for (auto c : cases) {
        GuideWInputs u = level_flight();
        u.azim_cmd = c.azim;
        u.elev_cmd = c.elev;
        u.pitch = c.pitch;
        u.roll = c.roll;
        u.vel_north = c.north;
        u.vel_up = c.up;
        u.vel_east = c.east;
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
    u.vel_north = 0;
    u.vel_up = 0.9;  // no horizontal speed, no turn-rate bound
    EXPECT_EQ(geometry_of(u, 1).path.turn_rate_max_radps, std::numeric_limits<double>::infinity());
    u.vel_up = 100;
    u.pitch = 90;  // a vertical climb still counts as upright
    const GuidanceGeometry climb = geometry_of(u, 1);
    EXPECT_TRUE(climb.attitude.upright);
    EXPECT_FALSE(climb.attitude.inverted);
}

namespace {
// Angle (deg) between two directions given by azimuth and elevation (deg),
// by the spherical law of cosines.
double off_angle_deg(double az1, double el1, double az2, double el2) {
    const double r = kRadPerDeg;
    return std::acos(std::sin(el1 * r) * std::sin(el2 * r) +
                     std::cos(el1 * r) * std::cos(el2 * r) * std::cos((az1 - az2) * r)) /
           r;
}
}  // namespace

// Headings and attitudes off the axes, so that a direction mirrored east for
// west shows: the full off-angles against the spherical law of cosines.
TEST(Geometry, OffTheAxesTheFullAnglesAreThoseOfTheSphere) {
    struct {
        const char* situation;
        double guide_ref, track, yaw, pitch, roll, azim, elev;
        bool behind;
        double az_err_deg, elev_err_deg;
    } cases[] = {{"track 220, command 170 off and 30 up: full angle", 1, 220, 220, 0, 0, 50, 30,
                  true, -170, off_angle_deg(220, 0, 50, 30)},
                 {"track 250, command 100 off and diving 50: the velocity's angle", 1, 250, 250, 0,
                  0, 350, -50, true, 100, off_angle_deg(250, 0, 350, -50)},
                 {"nose 110 and 20 up, command 250 and 25 up: nose's full angle", 3, 110, 110, 20,
                  0, 250, 25, true, 140, off_angle_deg(110, 20, 250, 25)},
                 {"nose 110 crabbing off track 80, command 60 off the nose", 3, 80, 110, 0, 0, 170,
                  0, false, 60, 0},
                 {"track 300, pitch 30, rolled 95: inverted, full angle", 1, 300, 300, 30, 95, 330,
                  10, false, 30, off_angle_deg(300, 0, 330, 10)},
                 {"track 300, pitch 30, rolled 85: upright, plain error", 1, 300, 300, 30, 85, 330,
                  10, false, 30, 10},
                 {"track 120, pitch -20, rolled -100: inverted, full angle", 1, 120, 120, -20, -100,
                  80, -5, false, -40, off_angle_deg(120, 0, 80, -5)}};
    for (const auto& c : cases) {
        GuideWInputs u = level_flight();
        fly_along(u, 200, c.track, 0);
        u.yaw = c.yaw;
        u.pitch = c.pitch;
        u.roll = c.roll;
        u.azim_cmd = c.azim;
        u.elev_cmd = c.elev;
        const GuidanceGeometry g = geometry_of(u, c.guide_ref);
        EXPECT_EQ(g.errors.behind, c.behind) << c.situation;
        EXPECT_NEAR(g.errors.az_err_rad, c.az_err_deg * kRadPerDeg, 1e-12) << c.situation;
        EXPECT_NEAR(g.errors.elev_err_rad, c.elev_err_deg * kRadPerDeg, 1e-12) << c.situation;
    }
}

// The whole step for every kind of reference. Level at 200 m/s on track 40,
// the nose at 70 (crabbing 30 deg), command at 80 and 300 m/s: the velocity
// is 40 deg off it, turned at 10 deg/s (time constant 4 s), the nose 10 deg
// off, turned at 10/3 deg/s (3 s). A level turn at rate w needs the bank
// atan(w V / g) and the load sqrt(1 + (w V / g)^2); beyond 60 deg of bank
// error the roll law commands its bound, 150. Guided, the throttle chases
// 300 m/s (5 x the error, held at 20, plus the trim at 200 m/s); with
// guidance off it holds 1 g, the present bank (rolled 20 with the nose past
// the vertical, i.e. -160) and the present 200 m/s: the trim alone.
TEST(Reference, EveryGuideRefValueThroughTheWholeStep) {
    const double velocity_turn = (40 * kRadPerDeg / 4.0) * 200 / 9.81;
    const double nose_turn = (10 * kRadPerDeg / 3.0) * 200 / 9.81;
    const double trim = GuideW_P.thr_table[2 * 11];  // sea level, 200 m/s
    const struct {
        double lat, nz, throttle;
    } off{0, 1, 0.01 * trim}, velocity{150, std::hypot(1.0, velocity_turn), 0.01 * (100 + trim)},
        nose{std::atan(nose_turn) / kRadPerDeg, std::hypot(1.0, nose_turn), 0.01 * (100 + trim)};
    const struct {
        const char* situation;
        double guide_ref;
        decltype(off) expect;
    } cases[] = {
        {"0: guidance off", 0, off},  {"-0: guidance off", -0.0, off},
        {"1: velocity", 1, velocity}, {"2: velocity", 2, velocity},
        {"3: nose", 3, nose},         {"0.5: nose", 0.5, nose},
        {"-1: nose", -1, nose},       {"a hair above 1: nose", std::nextafter(1.0, 2.0), nose},
        {"NaN: nose", NAN, nose}};
    for (const auto& c : cases) {
        Model m;
        fly_along(m.u, 200, 40, 0);
        m.u.yaw = 70;
        m.u.azim_cmd = 80;
        m.u.speed_cmd = 300;
        m.p.guide_ref = c.guide_ref;
        if (c.guide_ref == 0) {
            m.u.pitch = 100;
            m.u.roll = 20;
        }
        const GuideWOutputs& y = m.step();
        EXPECT_NEAR(y.lat_cmd, c.expect.lat, 1e-9) << c.situation;
        EXPECT_NEAR(y.nz_cmd, c.expect.nz, 1e-9) << c.situation;
        EXPECT_NEAR(y.throttle_cmd, c.expect.throttle, 1e-12) << c.situation;
    }
}

// Upright or inverted: the side of 90 deg the body's up axis lies on. Exactly
// on a knife edge counts as upright; an attitude that cannot be known (a NaN
// yaw leaves the up axis undefined) counts as both, so that neither branch
// is skipped on its account.
TEST(Geometry, UprightOrInvertedByTheTilt) {
    struct {
        const char* situation;
        double yaw, pitch, roll;
        bool upright, inverted;
    } cases[] = {
        {"wings level", 0, 0, 0, true, false},
        {"knife edge, right wing down", 30, 0, 90, true, false},
        {"knife edge, left wing down", -30, 0, -90, true, false},
        {"just past the knife edge", 0, 0, 90.001, false, true},
        {"on its back", 0, 0, 180, false, true},
        {"nose 10 up, banked 60", 120, 10, 60, true, false},
        {"nose 80 down, rolled 100", -60, -80, 100, false, true},
        {"yaw not a number", NAN, 0, 0, true, true},
        // Body up a hair below the horizon (its vertical component, cos
        // pitch cos roll, is -5e-17): just past the knife edge, the tilt
        // 90.000000000000014 deg. Only the exact tilt of the unit vector
        // tells; a shortcut or an unnormalised vector lands on 90.
        {"nose a hair below vertical, rolled 100: just past the knife edge", 130.82967598320892,
         89.999999999999986, 100.1231363572856, false, true},
        {"nose a hair below vertical, yaw 30, rolled 100.25: past the knife edge", 30,
         89.999999999999986, 100.25, false, true},
    };
    for (const auto& c : cases) {
        GuideWInputs u = level_flight();
        u.yaw = c.yaw;
        u.pitch = c.pitch;
        u.roll = c.roll;
        const GuidanceGeometry g = geometry_of(u, 1);
        EXPECT_EQ(g.attitude.upright, c.upright) << c.situation;
        EXPECT_EQ(g.attitude.inverted, c.inverted) << c.situation;
    }
}
