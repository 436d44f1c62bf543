// libguidesim.so flies scenarios in-process for campaigns. Its figures must
// be those guide-sim reports (guide-sim flies the module-level model of the
// dynamically loaded library), whatever overrides vary the scenario and
// whichever thread flies it.
#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "guide_library.h"
#include "guide_sim_api.h"
#include "sim/flight.h"
#include "sim/point_mass_model.h"

using nlohmann::json;

namespace {

struct Flown {
    int status;
    std::string text;
};

Flown fly(const std::string& scenario, const char* overrides, double path_interval_s = 0.0) {
    char* result = nullptr;
    const int status = guide_sim_fly(scenario.c_str(), overrides, path_interval_s, &result);
    Flown f{status, result ? result : ""};
    guide_sim_free(result);
    return f;
}

json fly_ok(const std::string& scenario, const char* overrides) {
    const Flown f = fly(scenario, overrides);
    EXPECT_EQ(f.status, 0) << f.text;
    return f.status == 0 ? json::parse(f.text) : json::object();
}

// The flight as guide-sim flies it: the module-level model of libGuide.so,
// loaded through the dynamic loader (and an opponent on an instance of it).
FlightSummary fly_as_guide_sim(const json& scenario) {
    static const GuideLibrary lib = load_guide_library(GUIDE_LIBRARY_PATH);
    const Scenario sc = parse_scenarios(scenario.dump(), "flown").at(0);
    PointMassModel ours, theirs;
    LoadedLaw law(lib);
    LoadedInstanceLaw second(lib.instances);
    Opponent opponent{second, theirs};
    const bool one_against_one = sc.target && sc.target->opponent;
    return fly_scenario(law, sc, ours, nullptr, one_against_one ? &opponent : nullptr);
}

// Bit-for-bit: doubles compared with ==, the failures word for word.
void expect_same_figures(const json& flown, const FlightSummary& ref, const std::string& what) {
    const json& m = flown.at("metrics");
    EXPECT_EQ(m.at("peak_load_g").get<double>(), ref.peak_load_g) << what;
    EXPECT_EQ(m.at("altitude_lost_m").get<double>(), ref.altitude_lost_m) << what;
    EXPECT_EQ(m.at("final_speed_err_mps").get<double>(), ref.final_speed_err_mps) << what;
    if (ref.converge_s && ref.steers) {
        EXPECT_EQ(m.at("converge_s").get<double>(), *ref.converge_s) << what;
    } else {
        EXPECT_TRUE(m.at("converge_s").is_null()) << what;
    }
    if (ref.first_within_s && ref.steers) {
        EXPECT_EQ(m.at("first_within_s").get<double>(), *ref.first_within_s) << what;
    } else {
        EXPECT_TRUE(m.at("first_within_s").is_null()) << what;
    }
    if (ref.engagement) {
        EXPECT_EQ(m.at("closest_m").get<double>(), ref.engagement->closest_m) << what;
        EXPECT_EQ(m.at("rear_cone_s").get<double>(), ref.engagement->cone_time.total_s) << what;
    }
    // The same checks, in the same order, with the same words.
    std::vector<std::pair<std::string, std::string>> checks, expected;
    for (const json& c : flown.at("checks")) {
        checks.emplace_back(c.at("check").get<std::string>(), c.at("failure").get<std::string>());
        EXPECT_EQ(c.at("passed").get<bool>(), checks.back().second.empty()) << what;
    }
    for (const CheckResult& c : ref.checks) expected.emplace_back(c.check, c.failure);
    EXPECT_EQ(checks, expected) << what;
    EXPECT_EQ(flown.at("passed").get<bool>(), ref.passed()) << what;
}

}  // namespace

TEST(SimLibrary, EveryBuiltinFliesAsGuideSimFliesIt) {
    for (const Scenario& sc : builtin_scenarios()) {
        const json flown = fly_ok(sc.name, nullptr);
        if (flown.empty()) continue;
        EXPECT_EQ(flown.at("name"), sc.name);
        expect_same_figures(flown, fly_as_guide_sim(flown.at("scenario")), sc.name);
    }
}

// Dispersed scenarios, each also flown by the module-level model from the
// scenario the library reports as flown: the overrides land where they say.
TEST(SimLibrary, DispersedScenariosFlyAsTheirWrittenScenario) {
    struct Row {
        const char* situation;
        const char* base;
        const char* overrides;
        const char* check_failing;  // "" when every check should hold
    };
    const Row rows[] = {
        {"lower and slower start", "typical",
         R"({"initial.altitude_m": 2200, "initial.speed_mps": 180})", ""},
        {"retuned roll gain", "target_60_off", R"({"params.roll_kp": 2.5, "duration_s": 30})", ""},
        {"one throttle table entry changed", "speed_hold", R"({"params.thr_table[17]": 0.5})", ""},
        {"load limit below a 60 deg turn's load", "target_60_off", R"({"expect.max_load_g": 1.2})",
         "max_load_g"},
        {"time for convergence too short", "split_manoeuvre", R"({"expect.converge_within_s": 1})",
         "converge_within_s"},
        {"passthrough event moved", "passthrough", R"({"events[1].t_s": 11.5})", ""},
        {"2 g orbit against a 1.5 g limit", "orbit", R"({"expect.max_load_g": 1.5})", "max_load_g"},
    };
    for (const Row& row : rows) {
        const json flown = fly_ok(row.base, row.overrides);
        if (flown.empty()) continue;
        expect_same_figures(flown, fly_as_guide_sim(flown.at("scenario")), row.situation);
        for (const json& c : flown.at("checks")) {
            const bool should_fail = c.at("check") == row.check_failing;
            EXPECT_EQ(c.at("passed").get<bool>(), !should_fail)
                << row.situation << ": " << c.dump();
        }
    }
    // A scenario given as text, not by name.
    const json own =
        fly_ok(R"({"name": "left", "duration_s": 20, "inputs": {"azim_cmd": 270}})", nullptr);
    EXPECT_EQ(own.value("name", ""), "left");
}

TEST(SimLibrary, RefusesBadScenariosAndOverridesNamingThem) {
    struct Row {
        const char* situation;
        const char* scenario;
        const char* overrides;
        const char* message_part;
    };
    const Row rows[] = {
        {"unknown built-in", "no_such_flight", nullptr, "no_such_flight"},
        {"negative start speed", "typical", R"({"initial.speed_mps": -5})", "initial.speed_mps"},
        {"unknown initial field", "typical", R"({"initial.mach": 0.8})", "mach"},
        {"unknown parameter", "typical", R"({"params.no_gain": 1})", "no_gain"},
        {"sensed input commanded", "typical", R"({"inputs.altitude": 100})", "sensed"},
        {"event that does not exist", "typical", R"({"events[0].t_s": 3})", "events"},
        {"overrides not JSON", "typical", "{altitude: 3}", "overrides"},
        {"dive steeper than vertical", "typical", R"({"initial.path_deg": 95})", "path_deg"},
    };
    for (const Row& row : rows) {
        const Flown f = fly(row.scenario, row.overrides);
        EXPECT_EQ(f.status, 1) << row.situation;
        EXPECT_NE(f.text.find(row.message_part), std::string::npos)
            << row.situation << ": " << f.text;
    }
}

// Two threads flying at once get what one thread gets alone: a flight's
// law shares no records with another's.
TEST(SimLibrary, FlightsOnConcurrentThreadsAreIndependent) {
    const char* overrides[] = {R"({"initial.altitude_m": 2500})", R"({"inputs.azim_cmd": 200})",
                               R"({"params.roll_kp": 4})", R"({"inputs.elev_cmd": -20})"};
    std::vector<std::string> alone;
    for (const char* o : overrides) alone.push_back(fly("typical", o, 1.0).text);
    std::vector<std::string> together(2 * std::size(overrides));
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < std::size(overrides); ++i) {
                together[t * std::size(overrides) + i] = fly("typical", overrides[i], 1.0).text;
            }
        });
    }
    for (std::thread& th : threads) th.join();
    for (size_t i = 0; i < together.size(); ++i)
        EXPECT_EQ(together[i], alone[i % alone.size()]) << i;

    // The sampled path runs from the start to the last step, once a second.
    const json path = json::parse(alone[0]).at("path");
    ASSERT_EQ(path.size(), 41u);
    EXPECT_EQ(path.front()[0].get<double>(), 0.0);
    EXPECT_EQ(path.front()[3].get<double>(), 2500.0);
    // Each sample carries the attitude: typical starts level on a northern
    // track, wings level; the point mass has no angle of attack.
    EXPECT_EQ(path.front().size(), 9u);
    for (int k = 4; k < 9; ++k) EXPECT_EQ(path.front()[k].get<double>(), 0.0) << k;
    EXPECT_DOUBLE_EQ(path.back()[0].get<double>(), 40.0);
}
