// The simulator's core judged against laws of known behaviour: a stand-in
// for libGuide.so whose commands are chosen by the test, so that what the
// flight must show follows from the mechanics alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "sim/flight.h"

namespace {

GuideWInputs g_u;
GuideWOutputs g_y;
GuideWParams g_p;
GuideWStates g_dw;
long g_steps = 0;
std::function<GuideWOutputs(long step, const GuideWInputs&)> g_law;

GuideLibrary stand_in(std::function<GuideWOutputs(long, const GuideWInputs&)> law) {
    g_law = std::move(law);
    GuideLibrary lib;
    lib.initialize = [] {
        g_steps = 0;
        g_dw = GuideWStates{};
    };
    lib.one_step = [](const double* in) {
        std::memcpy(&g_u, in, sizeof g_u);
        g_y = g_law(g_steps++, g_u);
    };
    lib.get_output = [](double* out) { std::memcpy(out, &g_y, sizeof g_y); };
    lib.inputs = &g_u;
    lib.outputs = &g_y;
    lib.params = &g_p;
    lib.states = &g_dw;
    g_p.guide_ref = 1.0;
    return lib;
}

Scenario level_flight(double duration_s) {
    Scenario sc;
    sc.name = "stand_in";
    sc.duration_s = duration_s;
    sc.commands.speed_cmd = sc.initial.speed_mps;
    sc.commands.mode = 1.0;
    return sc;
}

}  // namespace

// What the law commands decides how the flight ends: a value that is not
// finite stops it at once, naming the quantity and the time; with no lift
// and no thrust the aircraft falls from 3000 m, in vacuum in
// sqrt(2 * 3000 / 9.80665) = 24.7 s and a little later against drag, and
// the flight ends at the ground.
TEST(SimCore, FlightsEndWhereTheyStopMakingSense) {
    const struct {
        const char* situation;
        std::function<GuideWOutputs(long, const GuideWInputs&)> law;
        double max_load_g;
        const char* first_failure;
        double ended_lo_s, ended_hi_s;
    } cases[] = {
        {"load command turns NaN after 1 s",
         [](long k, const GuideWInputs&) {
             return GuideWOutputs{0.0, k < 100 ? 1.0 : NAN, 0.3, 0.0};
         },
         9.0, "nz_cmd is nan at t = 1.00 s", 1.0, 1.0},
        {"throttle command infinite from the start",
         [](long, const GuideWInputs&) {
             return GuideWOutputs{0.0, 1.0, INFINITY, 0.0};
         },
         9.0, "throttle_cmd is infinite at t = 0.00 s", 0.0, 0.0},
        {"falling without lift or thrust",
         [](long, const GuideWInputs&) {
             return GuideWOutputs{0.0, 0.0, 0.0, 0.0};
         },
         9.0, "reached the ground at t = ", 24.7, 30.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        const GuideLibrary lib = stand_in(c.law);
        Scenario sc = level_flight(60.0);
        sc.expect.max_load_g = c.max_load_g;
        const FlightSummary sum = fly_scenario(lib, sc, AircraftConfig{}, nullptr);
        ASSERT_FALSE(sum.failed.empty());
        EXPECT_EQ(sum.failed.front().rfind(c.first_failure, 0), 0u) << sum.failed.front();
        ASSERT_TRUE(sum.ended_s.has_value());
        EXPECT_GE(*sum.ended_s, c.ended_lo_s);
        EXPECT_LE(*sum.ended_s, c.ended_hi_s);
    }
}

// A check that meets a value that is not a number fails: NaN is never
// within a limit.
TEST(SimCore, ChecksTreatNanAsAFailure) {
    const GuideLibrary lib = stand_in([](long, const GuideWInputs&) {
        return GuideWOutputs{0.0, 1.0, 0.3, 0.0};
    });
    Scenario sc = level_flight(2.0);
    sc.expect.orbit = OrbitExpectation{};  // no orbit is flown: its radius is not a number
    sc.expect.orbit->settle_s = 0.0;
    const FlightSummary sum = fly_scenario(lib, sc, AircraftConfig{}, nullptr);
    ASSERT_FALSE(sum.failed.empty());
    EXPECT_NE(sum.failed.front().find("orbit radius"), std::string::npos) << sum.failed.front();
    // Straight and level at trim thrust: no altitude to speak of is lost.
    EXPECT_LT(sum.altitude_lost_m, 5.0);
}
