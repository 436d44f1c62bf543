// The aircraft-model interface: the point mass flown through it gives the
// trajectories it gave before the interface existed, to the last bit.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "guide_library.h"
#include "sim/flight.h"
#include "sim/point_mass_model.h"
#include "sim/scenario.h"
#include "sim/tracking.h"
#include "tracking_feed.h"

namespace {

// FNV-1a over the bytes of every value a step records.
class Digest {
public:
    void add(const void* data, size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) h_ = (h_ ^ p[i]) * 1099511628211ull;
    }
    void add(double v) { add(&v, sizeof v); }
    std::string hex() const {
        char buf[17];
        std::snprintf(buf, sizeof buf, "%016" PRIx64, h_);
        return buf;
    }

private:
    std::uint64_t h_ = 14695981039346656037ull;
};

std::string flight_digest(const Scenario& sc, AircraftModel& aircraft) {
    Digest d;
    static const GuideLibrary lib = load_guide_library(GUIDE_LIBRARY_PATH);
    const FlightSummary sum = fly_scenario(lib, sc, aircraft, [&](const FlightSample& s) {
        d.add(s.t_s);
        d.add(s.inputs, sizeof *s.inputs);
        d.add(s.outputs, sizeof *s.outputs);
        d.add(s.states, sizeof *s.states);
        const Aircraft& ac = *s.aircraft;
        for (double v :
             {ac.position.x, ac.position.y, ac.position.z, ac.velocity.x, ac.velocity.y,
              ac.velocity.z, ac.load_g, ac.thrust_frac, ac.roll_rate_dps, s.dir_err_deg}) {
            d.add(v);
        }
    });
    d.add(static_cast<double>(sum.failed().size()));
    return d.hex();
}

}  // namespace

// Digests of every recorded value of each built-in scenario as the point
// mass flew it before it became one implementation of the interface (the
// same flights guide-sim writes). A built-in that changes on purpose gets
// its row rewritten; any other difference is a change of the flights.
TEST(AircraftModels, PointMassFliesTheBuiltInsAsBefore) {
    const std::map<std::string, std::string> before = {
        {"typical", "9a9892353746a8b0"},
        {"target_60_off", "5eabbef65e4777a0"},
        {"straight_behind", "a89f915cb1ef3411"},
        {"split_manoeuvre", "e2e80bbe0d137d0e"},
        {"climb_behind", "a77a61ea9744b863"},
        {"upright_recovery", "06c73f12c067d9c2"},
        {"external_bank", "c198b15c43bbf453"},
        {"orbit", "1951b1190bb170de"},
        {"passthrough", "ee31cd8f54a38d92"},
        {"speed_hold", "88dc33802f79b518"},
        {"typical_turbulence", "a0c85da3a46c7bbd"},
        {"crossing_target", "091e1f694106aba3"},
        {"target_turning_away", "4d4369604ba2bd57"},
        {"weaving_target", "2af4b8db1324c220"},
        {"target_above_behind", "ffc33bfa9f1cc044"},
    };
    PointMassModel point_mass;
    for (const Scenario& sc : builtin_scenarios()) {
        SCOPED_TRACE(sc.name);
        // A second aircraft's flight repeats byte for byte in its own test.
        if (sc.target && sc.target->opponent) continue;
        const std::string now = flight_digest(sc, point_mass);
        ASSERT_EQ(before.count(sc.name), 1u) << "a built-in without a recorded digest";
        EXPECT_EQ(now, before.at(sc.name));
    }
}

// A wind the same at every altitude carries the aircraft over the ground
// and changes nothing of its flight through the air, which is what the law
// is fed and what the convergence check judges: the flight converges when
// it did in still air, and ends displaced by the wind times the flight's
// duration. Winds from several sides, so that no sign slips through.
TEST(AircraftModels, ASteadyWindMovesTheGroundTrackNotTheFlightThroughTheAir) {
    static const GuideLibrary lib = load_guide_library(GUIDE_LIBRARY_PATH);
    const Scenario still = builtin_scenarios().front();  // typical
    ASSERT_EQ(still.name, "typical");
    const auto fly = [&](const Scenario& sc, V3& end) {
        PointMassModel point_mass;
        const FlightSummary sum = fly_scenario(
            lib, sc, point_mass, [&](const FlightSample& s) { end = s.aircraft->position; });
        EXPECT_TRUE(sum.passed()) << sc.name;
        EXPECT_TRUE(sum.air_left_out.empty());
        return sum.converge_s.value_or(NAN);
    };
    V3 still_end;
    const double still_converge_s = fly(still, still_end);
    const double speed_mps = 15.0;
    for (const double from_deg : {0.0, 90.0, 225.0, 300.0}) {
        SCOPED_TRACE(from_deg);
        Scenario windy = still;
        windy.atmosphere.wind = {WindLayer{0.0, from_deg, speed_mps}};
        V3 end;
        EXPECT_NEAR(fly(windy, end), still_converge_s, 0.02);
        // The wind blows towards the azimuth opposite where it comes from.
        const double to = (from_deg + 180.0) * kRadPerDeg;
        EXPECT_NEAR(end.x - still_end.x, speed_mps * std::cos(to) * still.duration_s, 0.5);
        EXPECT_NEAR(end.z - still_end.z, speed_mps * std::sin(to) * still.duration_s, 0.5);
        EXPECT_NEAR(end.y, still_end.y, 0.5);
    }
}

// What the tracking figures count. A sample's aircraft has flown the
// command of the sample before (the law commands after sensing): an
// aircraft that flies each command exactly over the next step tracks
// perfectly. The second after a step of the command is set aside in the
// settled figure, not in the full one.
TEST(TrackingMeter, CountsTheLoadAgainstTheCommandJustFlown) {
    const size_t n = 400;
    std::vector<double> step(n, 1.0);
    for (size_t k = 100; k < n; ++k) step[k] = 3.0;
    std::vector<double> exact(n, 1.0), lagging(n, 1.0), from_trim(n, 3.0);
    for (size_t k = 1; k < n; ++k) exact[k] = step[k - 1];
    for (size_t k = 101; k < n; ++k) lagging[k] = k < 150 ? 2.0 : 3.0;  // half a second at 2 g
    from_trim[0] = 1.0;  // trimmed at 1 g before the first command of 3 g
    const struct {
        const char* situation;
        std::vector<double> commanded, flown;
        double rms_g, settled_rms_g;
        long steps;
    } rows[] = {
        {"each command flown exactly over the next step", step, exact, 0.0, 0.0, 1},
        {"a pull that builds half a second after the step", step, lagging, std::sqrt(49.0 / 399.0),
         0.0, 1},
        {"a first command far from the trimmed load", std::vector<double>(n, 3.0), from_trim, 0.0,
         0.0, 1},
        {"a steady 0.1 g short without steps", std::vector<double>(n, 2.0),
         std::vector<double>(n, 1.9), 0.1, 0.1, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.situation);
        const Tracking t = track(r.commanded, r.flown);
        EXPECT_EQ(t.samples, static_cast<long>(n) - 1);
        EXPECT_NEAR(t.rms_load_error_g, r.rms_g, 1e-12);
        EXPECT_NEAR(t.rms_load_error_settled_g, r.settled_rms_g, 1e-12);
        EXPECT_EQ(t.command_steps, r.steps);
    }
}

// The ideal airframe's floor: after a step of dn g it closes the error by
// the factor r = exp(-0.01 s / 0.1 s) every step, so its squared errors
// form a geometric series, dn^2 r^2 (1 - r^(2m)) / (1 - r^2) over m steps.
// It starts where the aircraft starts and owes nothing to what the aircraft
// flies afterwards.
TEST(TrackingMeter, TheFloorIsWhatAnIdealAirframeWouldLeave) {
    const size_t n = 300;
    const double r = std::exp(-0.1);
    const auto series = [&](double dn, size_t m) {
        return dn * dn * r * r * (1.0 - std::pow(r, 2.0 * static_cast<double>(m))) / (1.0 - r * r);
    };
    std::vector<double> steady(n, 2.0), step_at_50(n, 1.0), started_on_command(n, 0.0);
    started_on_command[0] = 2.0;
    for (size_t k = 50; k < n; ++k) step_at_50[k] = 4.0;
    const struct {
        const char* situation;
        std::vector<double> commanded, flown;
        double floor_g;
    } rows[] = {
        {"a 2 g turn begun on command, the aircraft then falling away", steady, started_on_command,
         0.0},
        {"a 3 g step from level flight", step_at_50, std::vector<double>(n, 1.0),
         std::sqrt(series(3.0, n - 51) / static_cast<double>(n - 1))},
        {"a 1 g first command from a 2 g start", std::vector<double>(n, 1.0),
         std::vector<double>(n, 2.0), std::sqrt(series(1.0, n - 1) / static_cast<double>(n - 1))},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.situation);
        EXPECT_NEAR(track(row.commanded, row.flown).rms_load_error_floor_g, row.floor_g, 1e-9);
    }
}
