// The control mappings alone, without an aircraft: what they make of the
// law's command, the F-16's fly-by-wire channels on handed-in flights, and
// what every mapping must do however it flies (leave a stop at once, start
// each flight afresh).
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "law_constants.h"
#include "sim/control_gains.h"
#include "sim/control_mapping.h"
#include "sim/fcs_mapping.h"
#include "sim/surface_loop_mapping.h"

namespace {

constexpr double kPsfPerKiloPascal = 1.0 / 0.047880259;
constexpr double kSoundSpeedAt3000m_mps = 328.6;

// Straight and level at 200 m/s, 3000 m (a dynamic pressure of 18 kPa),
// flying load_g and pitching as a steady pull at it does.
MappingInput level(double load_g, double speed_mps = 200.0) {
    MappingInput in;
    in.load_g = load_g;
    in.speed_mps = speed_mps;
    in.qbar_psf = 18.0 * kPsfPerKiloPascal * (speed_mps / 200.0) * (speed_mps / 200.0);
    in.q_rps = kStandardGravity_mps2 * (load_g - 1.0) / speed_mps;
    in.mach = speed_mps / kSoundSpeedAt3000m_mps;
    in.alpha_deg = 3.0;
    in.fcs_pitch_limited_norm = in.fcs_pitch_scheduled_norm = 0.0;
    return in;
}

LawCommand command(double load_g, double roll_rate_dps = 0.0) {
    LawCommand c;
    c.load_cmd_g = load_g;
    c.roll_rate_cmd_rps = roll_rate_dps * kRadPerDeg;
    c.throttle_cmd_norm = 0.8;
    return c;
}

std::unique_ptr<ControlMapping> mapping_of(const char* aircraft) {
    return make_control_mapping(*find_aircraft(aircraft));
}

}  // namespace

// A command that is not a number is flown as neutral, never handed to the
// aircraft; a roll rate beyond what it follows, or a throttle beyond its
// travel, is flown at the limit.
TEST(ControlMapping, TheLawsCommandIsFlownNeutralOrWithinLimits) {
    const struct {
        const char* situation;
        double lat, nz, throttle;
        double roll_rate_dps, load_g, throttle_norm;
    } rows[] = {
        {"every command not a number", NAN, NAN, NAN, 0.0, 1.0, 0.0},
        {"a roll beyond the limit", 400.0, 3.0, 0.5, 180.0, 3.0, 0.5},
        {"a roll the other way beyond it", -400.0, -2.0, 1.0, -180.0, -2.0, 1.0},
        {"a roll rate without end", INFINITY, 2.0, 0.5, 0.0, 2.0, 0.5},
        {"a throttle past full and below idle", 30.0, 1.0, 1.7, 30.0, 1.0, 1.0},
        {"a throttle below idle", 0.0, 1.0, -0.2, 0.0, 1.0, 0.0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.situation);
        GuideWOutputs out{};
        out.lat_cmd = r.lat;
        out.nz_cmd = r.nz;
        out.throttle_cmd = r.throttle;
        const LawCommand c = law_command(out, 180.0);
        EXPECT_NEAR(c.roll_rate_cmd_rps, r.roll_rate_dps * kRadPerDeg, 1e-12);
        EXPECT_EQ(c.load_cmd_g, r.load_g);
        EXPECT_EQ(c.throttle_cmd_norm, r.throttle_norm);
    }
}

// The F-16's pitch stick for a pull from 1 g: a pull (negative stick), and
// the slower the aircraft the more, since the FCS's pitch channel is mostly
// pitch rate and a g of steady pull is g/V of it. Level at the commanded
// 1 g the sticks are neutral.
TEST(ControlMapping, TheF16PitchStickPullsHarderTheSlowerItFlies) {
    const auto first_stick = [](double load_cmd_g, double speed_mps) {
        FcsMapping m(find_aircraft("f16")->fcs);
        m.reset({});
        return m.step(command(load_cmd_g), level(1.0, speed_mps), kStep_s).elevator;
    };
    EXPECT_EQ(first_stick(1.0, 200.0), 0.0);
    EXPECT_LT(first_stick(1.2, 250.0), 0.0);
    EXPECT_LT(first_stick(1.2, 150.0), first_stick(1.2, 250.0));
}

// The F-16's pedal asks its FCS's yaw-rate loop (100 units per rad/s) for
// the body yaw rate of flight without sideslip: none wings level; in a level
// bank the turn's g sin(phi)/V; rolling about the velocity at an angle of
// attack, p tan(alpha); and against a sideslip more, nose into the wind.
TEST(ControlMapping, TheF16PedalAsksForTheCoordinatedYawRate) {
    const struct {
        const char* situation;
        double phi_deg, p_dps, alpha_deg, beta_deg;
        double yaw_rate_rps;  // asked for
    } rows[] = {
        {"wings level", 0.0, 0.0, 3.0, 0.0, 0.0},
        {"banked 60 deg, level", 60.0, 0.0, 0.0, 0.0,
         kStandardGravity_mps2 * std::sin(60.0 * kRadPerDeg) / 200.0},
        {"rolling 90 deg/s at 5 deg of angle of attack", 0.0, 90.0, 5.0, 0.0,
         90.0 * kRadPerDeg * std::tan(5.0 * kRadPerDeg)},
        {"wings level, 1 deg of sideslip", 0.0, 0.0, 0.0, 1.0, 4.0 * kRadPerDeg},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.situation);
        MappingInput in = level(1.0);
        in.phi_rad = r.phi_deg * kRadPerDeg;
        in.p_rps = r.p_dps * kRadPerDeg;
        in.alpha_deg = r.alpha_deg;
        in.beta_rad = r.beta_deg * kRadPerDeg;
        FcsMapping m(find_aircraft("f16")->fcs);
        m.reset({});
        EXPECT_NEAR(m.step(command(1.0), in, kStep_s).rudder, -100.0 * r.yaw_rate_rps, 1e-9);
    }
}

// The F-16's pitch stick, held against a stop for seconds (the aircraft
// cannot give the load), must not wind the load integral up: the stick
// leaves the stop as soon as the load the loop sees (the flown load
// low-passed over 0.02 s) has passed the command, within a few steps of the
// flown load passing it. A push stops where the FCS's limiter stops passing
// it (0.44 of full travel, its -4 g).
TEST(ControlMapping, TheF16PitchStickLeavesAStopAsSoonAsTheErrorReverses) {
    const struct {
        const char* situation;
        double load_cmd_g, speed_mps, overshoot_g, stop;
    } rows[] = {
        {"a pull for 9 g it cannot give at 120 m/s, then it overshoots", 9.0, 120.0, 9.5, -1.0},
        {"a push for -2 g it cannot give, then it passes it", -2.0, 200.0, -2.3, 0.44},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.situation);
        FcsMapping m(find_aircraft("f16")->fcs);
        m.reset({});
        double pinned = 0.0;
        for (int i = 0; i < 500; ++i)
            pinned = m.step(command(r.load_cmd_g), level(1.0, r.speed_mps), kStep_s).elevator;
        ASSERT_GE(pinned / r.stop, 1.0) << "the stick should have reached its stop";
        double after = pinned;
        for (int i = 0; i < 5; ++i)
            after =
                m.step(command(r.load_cmd_g), level(r.overshoot_g, r.speed_mps), kStep_s).elevator;
        EXPECT_LT(after / r.stop, 1.0);
    }
}

// A mapping reset after a flight gives what a new one gives: nothing of the
// last flight (integrals, the load it last saw, a paced roll, a slewed
// command) is left for the next.
TEST(ControlMapping, EveryMappingStartsEachFlightAfresh) {
    for (const char* aircraft : {"f16", "f15", "T38", "c172p"}) {
        SCOPED_TRACE(aircraft);
        const auto fly = [](ControlMapping& m, int steps) {
            TrimReading trim;
            trim.qbar_psf = level(1.0).qbar_psf;
            trim.elevator_cmd_norm = -0.05;
            m.reset(trim);
            std::vector<double> controls;
            for (int i = 0; i < steps; ++i) {
                MappingInput in = level(1.0 + 0.01 * i);
                in.p_rps = 0.005 * i;
                in.fcs_pitch_limited_norm = -0.01 * i;
                in.fcs_pitch_scheduled_norm = -0.006 * i;
                const Controls c = m.step(command(4.0, 120.0), in, kStep_s);
                controls.insert(controls.end(), {c.elevator, c.aileron, c.rudder, c.throttle});
            }
            return controls;
        };
        const auto used = mapping_of(aircraft);
        fly(*used, 150);
        EXPECT_EQ(fly(*used, 50), fly(*mapping_of(aircraft), 50));
    }
}
