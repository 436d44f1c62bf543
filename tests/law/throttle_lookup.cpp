// Trim-throttle lookup and the throttle command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "test_support.h"

namespace {
const GuideWParams& P = GuideW_P;

// The throttle stage for a set of inputs.
double throttle_command_of(const GuideWInputs& u, const GuideWParams& p, const FlightState& fs,
                           double speed_ref_mps) {
    const InputRoles in = input_roles(u);
    return throttle_command(in.band, in.external, in.aircraft, p, fs, speed_ref_mps);
}
double trim(double altitude, double speed) {
    return look2_binlcapw(altitude, speed, P.thr_alt_bp, P.thr_spd_bp, P.thr_table, P.thr_max_index,
                          11);
}
}  // namespace

struct TrimCase {
    const char* situation;
    double altitude, speed, value, tol;
};

// Corner and edge values are entries of the default trim table
// (src/runtime/GuideW_data.cpp); those between, interpolated by hand.
TEST(TrimLookup, ClipsBelowHoldsAboveAndInterpolatesInside) {
    const TrimCase cases[] = {
        {"first entry", 0, 100, 0.266878, 0},
        {"below both ranges", -500, 50, 0.266878, 0},
        {"above both ranges", 25000, 700, 0.20141, 0},
        {"slow, between 4000 and 6000 m", 5000, 50, 0.373352, 1e-12},
        {"below ground, between 100 and 150 m/s", -100, 125, 0.240573, 1e-6},
        {"above the ceiling, slow", 30000, 50, 0.404484, 0},
        {"halfway in both", 1000, 125, 0.257701, 1e-12},
        {"at the ceiling", 20000, 375, 0.404484, 0},
        {"at the top speed", 11000, 650, 0.668459, 1e-6},
        {"speed unknown: top column", 9000, NAN, 0.890709, 1e-12},
        {"altitude unknown: ceiling row", NAN, 300, 0.404484, 0},
        {"between four entries: (upper - lower) x fraction + lower, to the bit", 5000, 240,
         0.26496319999999995, 0}};
    for (const TrimCase& c : cases)
        EXPECT_NEAR(trim(c.altitude, c.speed), c.value, c.tol) << c.situation;
}

// An input exactly on a breakpoint. On an interior one the interval starts
// there, so the entry is read as it is: 0.1 at 150 m/s, where an interval
// ending there would give (0.1 - 1) x 1 + 1, a hair below. With the first two
// breakpoints equal, an input on them clips to the first entry; a hair above
// them the second column starts (the table jumps, as its data says).
TEST(TrimLookup, InputsExactlyOnABreakpoint) {
    struct {
        const char* situation;
        bool equal_first_speeds;
        double speed, value, tol;
    } cases[] = {{"a hair below 150 m/s: near the end of the first interval", false,
                  std::nextafter(150.0, 0.0), 0.1, 1e-12},
                 {"exactly 150 m/s: the second interval starts", false, 150, 0.1, 0},
                 {"a hair above 150 m/s", false, std::nextafter(150.0, 200.0), 0.1, 1e-12},
                 {"100, 100: a hair below clips", true, std::nextafter(100.0, 0.0), 1.0, 0},
                 {"100, 100: exactly on them clips to the first entry", true, 100, 1.0, 0},
                 {"100, 100: a hair above reads the second column", true,
                  std::nextafter(100.0, 200.0), 0.1, 1e-12}};
    for (const auto& c : cases) {
        GuideWParams p = P;
        p.thr_table[0] = 1.0;   // sea level, first speed
        p.thr_table[11] = 0.1;  // sea level, second speed
        if (c.equal_first_speeds) p.thr_spd_bp[1] = p.thr_spd_bp[0];
        const double v = look2_binlcapw(0.0, c.speed, p.thr_alt_bp, p.thr_spd_bp, p.thr_table,
                                        p.thr_max_index, 11);
        if (c.tol == 0) EXPECT_EQ(v, c.value) << c.situation;
        else EXPECT_NEAR(v, c.value, c.tol) << c.situation;
    }
}

// Entries equal to their speed index expose index and fraction; NaN between
// them (stride 2) and after the last one poisons any read of a neighbour in
// the single-breakpoint dimension or past the top speed.
TEST(TrimLookup, SingleAndTwoBreakpointDimensions) {
    const double zero[] = {0};
    double table[25], alt_index[11];
    for (int i = 0; i < 25; ++i) table[i] = (i % 2 || i > 22) ? NAN : i / 2;
    for (int i = 0; i < 11; ++i) alt_index[i] = i;
    const uint32_t speed_only[] = {0, 11}, alt_only[] = {10, 0}, two[] = {1, 1};
    const double speed_and_position[][2] = {{50, 0},   {100, 0},  {101, 0.02}, {625, 10.5},
                                            {650, 11}, {700, 11}, {NAN, 11}};
    for (const auto& c : speed_and_position)
        for (double alt : {-1e6, 0.0, 1e6, double(NAN)})
            EXPECT_NEAR(look2_binlcapw(alt, c[0], zero, P.thr_spd_bp, table, speed_only, 2), c[1],
                        1e-12)
                << c[0];
    EXPECT_NEAR(look2_binlcapw(19999, 400, P.thr_alt_bp, zero, alt_index, alt_only, 11), 9.9995,
                1e-12);
    const double ends[] = {0, 10}, corners[] = {0, 1, 10, 11};
    const double inside[][3] = {
        {5, 5, 5.5}, {0, 0, 0}, {9.99, 0, 0.999}, {-1, 20, 10}, {10, 10, 11}};
    for (const auto& c : inside)
        EXPECT_NEAR(look2_binlcapw(c[0], c[1], ends, ends, corners, two, 2), c[2], 1e-12)
            << c[0] << "," << c[1];
}

struct ThrottleCase {
    const char* situation;
    double mode, v, altitude, speed_ref, ext_throttle, cmd;
};

TEST(Throttle, SpeedHoldBelowMode1_5ExternalThrottleFromThere) {
    const ThrottleCase cases[] = {{"10 m/s slow", 0, 240, 5000, 250, 0, 0.502649632},
                                  {"error limited", 0, 240, 5000, 300, 0, 1.002649632},
                                  {"10 m/s fast: no reverse", 0, 240, 5000, 230, 0, 0},
                                  {"far too fast", 0, 240, 5000, 100, 0, 0},
                                  {"standstill: slowest column", 1, 0, 0, 250, 0, 1.00266878},
                                  {"exactly 1.5", 1.5, 240, 5000, 250, 50, 0.5},
                                  {"mode 2, over the top", 2, 240, 5000, 250, 150, 1.2},
                                  {"mode 3, negative", 3, 240, 5000, 250, -10, 0},
                                  {"mode 4", 4, 240, 5000, 250, 50, 0.5}};
    for (const ThrottleCase& c : cases) {
        GuideWInputs u = level_flight();
        u.mode = c.mode;
        u.altitude = c.altitude;
        u.ext_throttle = c.ext_throttle;
        FlightState fs{};
        fs.v_mag_mps = c.v;
        EXPECT_NEAR(throttle_command_of(u, P, fs, c.speed_ref), c.cmd, 1e-9) << c.situation;
    }
}

TEST(Throttle, SpeedErrorLimitsAndCrossedOutputLimits) {
    GuideWInputs u = level_flight();
    u.mode = 0;
    u.altitude = 5000;
    GuideWParams p = P;
    p.thr_min = -2;  // let negative demands through
    FlightState fs{};
    fs.v_mag_mps = 240;
    const double trim_5000_240 = 0.2649632;  // between four entries, worked out by hand
    for (double ref : {260.0, 265.0})
        EXPECT_NEAR(throttle_command_of(u, p, fs, ref), 0.01 * (100 + trim_5000_240), 1e-15) << ref;
    for (double ref : {220.0, 215.0})
        EXPECT_NEAR(throttle_command_of(u, p, fs, ref), 0.01 * (-100 + trim_5000_240), 1e-15)
            << ref;
    u.mode = 2;
    p.thr_min = 0.5;
    p.thr_max = 0.3;
    u.ext_throttle = 40;
    EXPECT_EQ(throttle_command_of(u, p, fs, 0), 0.3);  // upper limit tested first
    u.ext_throttle = 20;
    EXPECT_EQ(throttle_command_of(u, p, fs, 0), 0.5);
}

// The trim table has a fixed size: larger maximum indices written by a host
// must not make the step read past it. Holding the speed leaves the trim
// alone, which at these points is one entry of the table (alt_i + 11 spd_i):
// beyond the last breakpoint of a dimension its last entry is held.
TEST(Throttle, OversizedTableIndicesAreCappedToTheTable) {
    struct {
        const char* situation;
        double altitude, v;
        int alt_i, spd_i;
    } cases[] = {{"above both ranges", 25000, 700, 10, 11},
                 {"at 10000 m, faster than the table", 10000, 700, 5, 11},
                 {"above the ceiling at 300 m/s", 30000, 300, 10, 4},
                 {"altitude unknown at 650 m/s", NAN, 650, 10, 11},
                 {"below ground, slower than the table", -100, 50, 0, 0},
                 {"at 12000 m and 650 m/s", 12000, 650, 6, 11}};
    GuideWInputs u = level_flight();
    u.mode = 0;
    GuideWParams p = P;
    for (const auto& c : cases) {
        u.altitude = c.altitude;
        FlightState fs{};
        fs.v_mag_mps = c.v;
        for (uint32_t index : {10u, 11u, 1000u, 0xFFFFFFFFu}) {
            p.thr_max_index[0] = std::max(index, 10u);
            p.thr_max_index[1] = std::max(index, 11u);
            EXPECT_EQ(throttle_command_of(u, p, fs, c.v),
                      P.thr_gain * P.thr_table[c.alt_i + 11 * c.spd_i])
                << c.situation << ", index " << index;
        }
    }
    p.thr_max_index[0] = 5;
    p.thr_max_index[1] = 11;  // six altitudes: held at 10000 m
    u.altitude = 15000;
    FlightState fs{};
    fs.v_mag_mps = 300;
    EXPECT_EQ(throttle_command_of(u, p, fs, 300), P.thr_gain * P.thr_table[5 + 11 * 4]);
}

// The aircraft's trim throttle on a grid of 2000 m by 50 m/s from sea level
// and 100 m/s, read at every node: never beyond full throttle (1 where it
// cannot fly trimmed), and at each altitude a drag bucket - falling to a
// least-drag speed where about a fifth of full throttle holds it, rising
// beyond - whose least-drag speed rises as the air thins.
TEST(TrimTable, EveryEntryIsAPointOfTheAircraftsDragBucket) {
    uint32_t least_drag_before = 0;
    for (uint32_t i = 0; i < 11; ++i) {
        EXPECT_EQ(P.thr_alt_bp[i], 2000.0 * i);
        double row[12];
        uint32_t least_drag = 0;
        for (uint32_t j = 0; j < 12; ++j) {
            if (i == 0) EXPECT_EQ(P.thr_spd_bp[j], 100.0 + 50.0 * j);
            row[j] = trim(P.thr_alt_bp[i], P.thr_spd_bp[j]);
            EXPECT_EQ(row[j], P.thr_table[i + 11 * j])
                << P.thr_alt_bp[i] << " m, " << P.thr_spd_bp[j] << " m/s";
            EXPECT_TRUE(row[j] > 0.2 && row[j] <= 1.0)
                << P.thr_alt_bp[i] << " m, " << P.thr_spd_bp[j] << " m/s";
            if (row[j] < row[least_drag]) least_drag = j;
        }
        for (uint32_t j = 1; j < 12; ++j)
            EXPECT_TRUE(j <= least_drag ? row[j] <= row[j - 1] : row[j] >= row[j - 1])
                << P.thr_alt_bp[i] << " m, " << P.thr_spd_bp[j] << " m/s";
        EXPECT_LT(row[least_drag], 0.215) << P.thr_alt_bp[i] << " m";
        EXPECT_GE(least_drag, least_drag_before) << P.thr_alt_bp[i] << " m";
        least_drag_before = least_drag;
    }
}
