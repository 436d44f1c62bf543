// Conditioning of the raw aircraft state, and the step with guidance off.
#include <gtest/gtest.h>

#include <cmath>

#include "test_support.h"

struct AttitudeCase {
    const char* situation;
    double pitch, roll, yaw, pitch_n, roll_n, yaw_n;
};

TEST(Conditioning, AttitudeComesIntoCanonicalRanges) {
    const AttitudeCase cases[] = {
        {"nose past the vertical: pitch folded, roll and yaw turned", 100, 10, 30, 80, -170, -150},
        {"shallow dive", -30, 0, 0, -30, 0, 0},
        {"straight down as 270 stays 270", 270, 0, 0, 270, 0, 0},
        {"straight down as -90 arrives as 270", -90, 0, 0, 270, 0, 0},
        {"straight up", 90, 0, 0, 90, 0, 0},
        {"inverted", 0, 180, 0, 0, 180, 0},
        {"inverted the other way round", 0, -180, 0, 0, 180, 0},
        {"one and a half turns of heading", 0, 0, 540, 0, 0, 180},
        {"two turns and 30 of heading", 0, 0, 750, 0, 0, 30},
        {"minus 400 of heading: 40 left", 0, 0, -400, 0, 0, -40},
        {"a turn and 10 of pitch", 370, 0, 0, 10, 0, 0},
        {"minus a whole turn of roll: wings level", 0, -360, 0, 0, 0, 0},
        {"minus a turn and 100 of roll", 0, -460, 0, 0, -100, 0},
        {"minus a turn and 90 of pitch arrives as 270", -450, 0, 0, 270, 0, 0},
        {"minus a turn and 200 of pitch: 20 up, the other way round", -560, 0, 0, 20, 180, 180}};
    for (const AttitudeCase& c : cases) {
        GuideWInputs u = level_flight();
        u.pitch = c.pitch;
        u.roll = c.roll;
        u.yaw = c.yaw;
        const FlightState fs = conditioned(u);
        EXPECT_EQ(fs.pitch_n_deg, c.pitch_n) << c.situation;
        EXPECT_EQ(fs.roll_n_deg, c.roll_n) << c.situation;
        EXPECT_EQ(fs.yaw_n_deg, c.yaw_n) << c.situation;
    }
}

TEST(Conditioning, EquivalentAirspeedAndLoadLimitAtSeaLevel) {
    // {tas at sea level, n_lim}: slow, each end of the rising segments, 5 g
    // exactly where the upper segment starts, fast, unknown airspeed (no
    // range matches).
    const double cases[][2] = {{100, 1.5},
                               {119, 1.5},
                               {121, 1 / 22.857 + 1.5},
                               {150, 30 / 22.857 + 1.5},
                               {200, 5},
                               {399, 8.98},
                               {401, 9},
                               {500, 9},
                               {NAN, 9}};
    for (const auto& c : cases) {
        GuideWInputs u = level_flight();
        u.tas = c[0];
        const FlightState fs = conditioned(u);
        EXPECT_TRUE(fs.eas_mps == c[0] || (std::isnan(c[0]) && std::isnan(fs.eas_mps))) << c[0];
        EXPECT_EQ(fs.n_lim_g, c[1]) << c[0];
    }
}

// The air column at the local temperature, 288.15 K less 6.5 K per km, and
// 216.65 K from the tropopause (11000 m) up: sqrt(exp(-g h / (R T))) with
// g 9.80665, R 287.05, worked out apart from the law. At exactly 11000 m the
// stratosphere's 216.65 K applies: the lapse formula gives 3e-14 K less there,
// and another last bit.
TEST(Conditioning, DensityRatioRootOfTheIsothermalColumn) {
    const double cases[][2] = {{0, 1.0},
                               {9000, 0.5119971642856534},
                               {11000, 0.42008611423348485},
                               {15000, 0.3064576345188437}};
    for (const auto& c : cases) {
        GuideWInputs u = level_flight();
        u.altitude = c[0];
        EXPECT_EQ(conditioned(u).sigma_root, c[1]) << c[0] << " m";
    }
}
