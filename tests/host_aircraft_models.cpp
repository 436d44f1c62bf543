// The aircraft-model interface: the point mass flown through it gives the
// trajectories it gave before the interface existed, to the last bit.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "guide_library.h"
#include "sim/flight.h"
#include "sim/point_mass_model.h"
#include "sim/scenario.h"

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
        for (double v : {ac.position.x, ac.position.y, ac.position.z, ac.velocity.x, ac.velocity.y,
                         ac.velocity.z, ac.load_g, ac.thrust_frac, ac.roll_rate_dps, s.dir_err_deg}) {
            d.add(v);
        }
    });
    d.add(static_cast<double>(sum.failed.size()));
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
    };
    PointMassModel point_mass;
    for (const Scenario& sc : builtin_scenarios()) {
        SCOPED_TRACE(sc.name);
        const std::string now = flight_digest(sc, point_mass);
        ASSERT_EQ(before.count(sc.name), 1u) << "a built-in without a recorded digest";
        EXPECT_EQ(now, before.at(sc.name));
    }
}
