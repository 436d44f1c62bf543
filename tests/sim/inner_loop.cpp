// Our inner loop on the surfaces of an aircraft without fly-by-wire: its
// protections and its scaling with the dynamic pressure on the loop alone,
// and the f15, T38 and c172p flying level flight, a pull and a roll with
// the gains of their data.
#include <gtest/gtest.h>

#include <stdlib.h>  // mkdtemp

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "guide_library.h"
#include "sim/aircraft_catalog.h"
#include "sim/control_gains.h"
#include "sim/flight.h"
#include "sim/inner_loop.h"
#include "sim/scenario.h"

namespace fs = std::filesystem;

namespace {

// kStep_s, the law's step, comes with the simulator's headers.

InnerLoopGains some_gains() {
    InnerLoopGains g;
    g.qbar_ref_kpa = 20.0;
    g.elevator_per_g = -0.1;
    g.n_kp = 0.3;
    g.n_ki = 0.5;
    g.q_kd = 1.0;
    g.p_kp = 2.0;
    g.p_ki = 5.0;
    return g;
}

const AircraftLimits kLimits{7.0, -3.0, 25.0};

// Straight and level at the reference dynamic pressure, pitching as a
// steady pull at the flown load does.
InnerLoopInput level(double n_cmd, double n) {
    InnerLoopInput in;
    in.n_cmd_g = n_cmd;
    in.n_g = n;
    in.qbar_kpa = 20.0;
    in.speed_mps = 200.0;
    in.q_rps = 9.80665 * (n - 1.0) / in.speed_mps;
    in.alpha_deg = 3.0;
    return in;
}

// Level at 1 g, asked to roll at p_cmd, rolling at p (rad/s).
InnerLoopInput rolling(double p_cmd, double p) {
    InnerLoopInput in = level(1.0, 1.0);
    in.p_cmd_rps = p_cmd;
    in.p_rps = p;
    return in;
}

const GuideLibrary& law() {
    static const GuideLibrary lib = load_guide_library(GUIDE_LIBRARY_PATH);
    return lib;
}

}  // namespace

// The loop alone, one law step from a trim (elevator -0.05 at 20 kPa):
// each row a flight situation and the elevator it must (not) give.
TEST(InnerLoop, ProtectsTheEnvelopeAndScalesWithDynamicPressure) {
    const auto first_elevator = [](const InnerLoopInput& in) {
        SurfaceInnerLoop loop(some_gains(), kLimits);
        loop.reset(-0.05, 20.0, 0.0);
        return loop.step(in, kStep_s).elevator;
    };

    // A command past the structural limit is flown as 80 % of it.
    EXPECT_EQ(first_elevator(level(12.0, 1.0)), first_elevator(level(0.8 * 7.0, 1.0)));
    EXPECT_EQ(first_elevator(level(-8.0, 1.0)), first_elevator(level(0.8 * -3.0, 1.0)));

    // Past the angle-of-attack margin the elevator pushes (above the
    // trim's) though the load command asks for a hard pull.
    InnerLoopInput stalling = level(5.0, 1.0);
    stalling.alpha_deg = 24.0;
    EXPECT_GT(first_elevator(stalling), -0.05);
    EXPECT_LT(first_elevator(level(5.0, 1.0)), -0.3) << "below the margin it pulls";

    // The same load error at twice the dynamic pressure moves the elevator
    // half as far from the steady pull's (a surface's moment doubles), and
    // the steady pull's elevator per g halves too.
    const auto error_response = [&](double qbar_kpa) {
        InnerLoopInput hit = level(3.0, 2.0), on = level(3.0, 3.0);
        hit.qbar_kpa = on.qbar_kpa = qbar_kpa;
        hit.q_rps = on.q_rps;
        return first_elevator(hit) - first_elevator(on);
    };
    EXPECT_NEAR(error_response(40.0), 0.5 * error_response(20.0), 1e-12);
    const auto steady_per_g = [&](double qbar_kpa) {
        InnerLoopInput one = level(1.0, 1.0), two = level(2.0, 2.0);
        one.qbar_kpa = two.qbar_kpa = qbar_kpa;
        return first_elevator(two) - first_elevator(one);
    };
    EXPECT_NEAR(steady_per_g(20.0), -0.1, 1e-12);
    EXPECT_NEAR(steady_per_g(40.0), -0.05, 1e-12);
}

// Held against a stop for seconds (the aircraft cannot give the load),
// the loop's integrals must not wind up: the surface leaves the stop in the
// first step the error reverses.
TEST(InnerLoop, LeavesAStopAsSoonAsTheErrorReverses) {
    const struct {
        const char* situation;
        InnerLoopInput pinned, reversed;
        bool roll;
    } rows[] = {
        {"a pull for 5 g the aircraft cannot give, then it overshoots", level(5.0, 1.0),
         level(5.0, 5.3), false},
        {"a push for -2 g it cannot give, then it passes it", level(-2.0, 1.0), level(-2.0, -2.3),
         false},
        {"a roll at 3 rad/s it cannot reach, then it rolls faster", rolling(3.0, 0.0),
         rolling(3.0, 3.2), true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.situation);
        SurfaceInnerLoop loop(some_gains(), kLimits);
        loop.reset(-0.05, 20.0, 0.0);
        SurfaceCommand at_stop{};
        for (int i = 0; i < 500; ++i) at_stop = loop.step(r.pinned, kStep_s);
        const double pinned = r.roll ? at_stop.aileron : at_stop.elevator;
        ASSERT_EQ(std::fabs(pinned), 1.0) << "the surface should have reached its stop";
        const SurfaceCommand after = loop.step(r.reversed, kStep_s);
        EXPECT_LT(std::fabs(r.roll ? after.aileron : after.elevator), 1.0);
    }
}

// Each aircraft with the gains of its data, through the law's
// passthrough (mode 4): level flight, a pull, back to 1 g, a roll. The
// level flight holds 1 g and its altitude, the pull settles on its command
// without overshooting by more than 10 %, the roll reaches its rate. Rows
// at two dynamic pressures for a jet show the scheduling holds.
TEST(InnerLoop, EachAircraftFliesTheCommandedLoadAndRollRate) {
    const struct {
        const char* situation;
        const char* aircraft;
        double altitude_m, speed_mps, pull_g, roll_dps;
    } rows[] = {
        {"F-15 low and fast, 3 g", "f15", 3000.0, 200.0, 3.0, 40.0},
        {"F-15 high, a third of the dynamic pressure, 2 g", "f15", 9000.0, 200.0, 2.0, 20.0},
        {"T-38 low and fast, 3 g", "T38", 3000.0, 200.0, 3.0, 40.0},
        {"T-38 faster, 4 g", "T38", 3000.0, 250.0, 4.0, 40.0},
        {"Cessna 172 at cruise, 1.6 g", "c172p", 1000.0, 55.0, 1.6, 20.0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.situation);
        char text[1024];
        std::snprintf(text, sizeof text, R"([{"name": "steps", "duration_s": 12,
            "initial": {"altitude_m": %g, "speed_mps": %g},
            "inputs": {"mode": 4, "ext_lat": 0, "ext_nz": 1, "ext_throttle": 100},
            "events": [{"t_s": 3, "inputs": {"ext_nz": %g}}, {"t_s": 6, "inputs": {"ext_nz": 1}},
                       {"t_s": 9, "inputs": {"ext_lat": %g}}, {"t_s": 11, "inputs": {"ext_lat": 0}}]}])",
                      r.altitude_m, r.speed_mps, r.pull_g, r.roll_dps);
        const Scenario sc = parse_scenarios(text, "steps").at(0);
        AircraftModel& aircraft = aircraft_model(r.aircraft);
        double level_dev = 0.0, alt_lo = INFINITY, alt_hi = -INFINITY, peak = -INFINITY;
        double settled_sum = 0.0, roll_sum = 0.0;
        int settled_n = 0, roll_n = 0;
        fly_scenario(law(), sc, aircraft, [&](const FlightSample& s) {
            const double n = s.aircraft->load_g;
            if (s.t_s > 0.5 && s.t_s <= 3.0) {
                level_dev = std::max(level_dev, std::fabs(n - 1.0));
                alt_lo = std::min(alt_lo, s.aircraft->position.y);
                alt_hi = std::max(alt_hi, s.aircraft->position.y);
            }
            if (s.t_s > 3.0 && s.t_s <= 6.0) peak = std::max(peak, n);
            if (s.t_s > 5.0 && s.t_s <= 6.0) settled_sum += n, ++settled_n;
            if (s.t_s > 10.0 && s.t_s <= 11.0) roll_sum += s.aircraft->roll_rate_dps, ++roll_n;
        });
        EXPECT_LT(level_dev, 0.05) << "level flight off 1 g";
        EXPECT_LT(alt_hi - alt_lo, 10.0) << "level flight lost its altitude";
        EXPECT_NEAR(settled_sum / settled_n, r.pull_g, 0.05 * r.pull_g)
            << "the pull did not settle";
        EXPECT_LE(peak, 1.1 * r.pull_g) << "the pull overshot";
        EXPECT_NEAR(roll_sum / roll_n, r.roll_dps, 0.1 * r.roll_dps) << "the roll rate";
    }
}

// An aircraft folder that names no control entry flies the generic one
// (not another aircraft's), and says so, though its aerodynamics name the
// elevator's lift otherwise (the T-38's model in a folder of its own): it
// loads, trims and holds level flight. Named without a '/', the folder is
// found in the current directory.
TEST(InnerLoop, AnAircraftFolderFliesTheGenericEntry) {
    char t[] = "/tmp/guide_folder_XXXXXX";
    const fs::path base = mkdtemp(t), dir = base / "jet";
    fs::create_directories(dir);
    fs::copy_file(fs::path(jsbsim_root_dir()) / "aircraft" / "T38" / "T38.xml", dir / "jet.xml");
    const fs::path was = fs::current_path();
    fs::current_path(base);
    EXPECT_EQ(control_entry_name("jet", {}), "generic");
    EXPECT_NE(control_notice("jet", {}).find("flying the generic one"), std::string::npos);
    EXPECT_EQ(control_notice("jet", {"T38", false}), "") << "an entry was named";
    AircraftModel& jet = aircraft_model("jet");
    EXPECT_EQ(jet.limits().max_load_g, generic_control_entry().limits.max_load_g);
    const Scenario sc = parse_scenarios(R"([{"name": "level", "duration_s": 5,
        "initial": {"altitude_m": 3000, "speed_mps": 200},
        "inputs": {"mode": 4, "ext_lat": 0, "ext_nz": 1, "ext_throttle": 60}}])",
                                        "level")
                            .at(0);
    double worst = 0.0;
    fly_scenario(law(), sc, jet, [&](const FlightSample& s) {
        worst = std::max(worst, std::fabs(s.aircraft->load_g - 1.0));
    });
    EXPECT_LT(worst, 0.05);
    fs::current_path(was);
    fs::remove_all(base);
}

// A flight on a loaded aircraft repeats to the last bit after other flights
// on it: nothing of the last flight's loop (its integrals, the command it
// slewed to, the rudder it held) is left for the next.
TEST(InnerLoop, AFlightRepeatsAfterAnotherOnTheSameAircraft) {
    const auto trace = [](const std::string& name, double duration_s) {
        Scenario sc = *std::find_if(builtin_scenarios().begin(), builtin_scenarios().end(),
                                    [&](const Scenario& s) { return s.name == name; });
        sc.duration_s = duration_s;
        std::vector<double> loads;
        fly_scenario(law(), sc, aircraft_model("f15"),
                     [&](const FlightSample& s) { loads.push_back(s.aircraft->load_g); });
        return loads;
    };
    const std::vector<double> first = trace("typical", 5.0);
    trace("target_60_off", 1.0);  // ends rolling hard, the rudder off centre
    EXPECT_EQ(trace("typical", 5.0), first);
}
