// JSBSim's aircraft behind the aircraft-model interface: lock-step flights
// that repeat to the last bit (a one-against-one too, through guide-sim and
// the simulator library), the trim-throttle calibration, the envelope
// checks, and the one-line failures of an aircraft that cannot be had.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "guide_library.h"
#include "guide_sim_api.h"
#include "sim/aircraft_catalog.h"
#include "sim/aircraft_scenarios.h"
#include "sim/control_gains.h"
#include "sim/controls_recorder.h"
#include "sim/envelope_watch.h"
#include "sim/flight.h"
#include "sim/jsbsim_model.h"
#include "sim/point_mass_model.h"
#include "sim/scenario.h"
#include "sim/throttle_calibration.h"
#include "tool_sandbox.h"

namespace fs = std::filesystem;

namespace {

const GuideLibrary& law() {
    static const GuideLibrary lib = load_guide_library(GUIDE_LIBRARY_PATH);
    return lib;
}

Scenario builtin(const std::string& name) {
    for (const Scenario& sc : builtin_scenarios()) {
        if (sc.name == name) return sc;
    }
    throw std::runtime_error("no built-in " + name);
}

// FNV-1a over every value a flight records.
std::uint64_t flight_digest(AircraftModel& aircraft, const Scenario& sc) {
    std::uint64_t h = 14695981039346656037ull;
    const auto add = [&](const void* data, size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 1099511628211ull;
    };
    fly_scenario(law(), sc, aircraft, [&](const FlightSample& s) {
        add(s.inputs, sizeof *s.inputs);
        add(s.outputs, sizeof *s.outputs);
        add(s.states, sizeof *s.states);
        add(&s.aircraft->position, sizeof s.aircraft->position);
        add(&s.aircraft->load_g, sizeof s.aircraft->load_g);
    });
    return h;
}

std::unique_ptr<JsbsimModel> load_jsbsim(const std::string& name) {
    const ControlEntry& g = *find_aircraft(name);
    const fs::path root = jsbsim_root_dir();
    return std::make_unique<JsbsimModel>(name, root.string(), (root / "aircraft").string(),
                                         g.folder, g);
}

}  // namespace

// The F-16 flies a built-in in lock-step: a second flight on the same
// loaded aircraft (reset in between), a freshly loaded one and one loaded
// on another thread all give the same trajectory to the last bit.
TEST(JsbsimAircraft, TheSameFlightRepeatsToTheLastBit) {
    const Scenario sc = builtin("split_manoeuvre");
    AircraftModel& shared = aircraft_model("f16");
    const std::uint64_t first = flight_digest(shared, sc);
    flight_digest(shared, builtin("upright_recovery"));  // another flight in between
    EXPECT_EQ(flight_digest(shared, sc), first) << "reset left state behind";
    EXPECT_EQ(flight_digest(*load_jsbsim("f16"), sc), first) << "a fresh load flies differently";
    std::uint64_t other_thread = 0;
    std::thread([&] { other_thread = flight_digest(aircraft_model("f16"), sc); }).join();
    EXPECT_EQ(other_thread, first);
}

// Turbulence comes from the flight's own seed: the same seed flies the same
// flight to the last bit, on the same aircraft after other flights and on
// a fresh one; another seed flies another; and a flight in still air after
// a turbulent one is the still-air flight (nothing of the wind, the gust or
// the turbulence stays with the aircraft).
TEST(JsbsimAircraft, TurbulenceRepeatsFromItsSeedAndLeavesNothingBehind) {
    constexpr double kShort_s = 6.0;  // enough for the turbulence to move the aircraft
    Scenario rough = builtin("typical_turbulence"), calm = builtin("typical");
    rough.duration_s = calm.duration_s = kShort_s;
    rough.atmosphere.gust = Gust{2.0, 8.0, 90.0, 30.0, 0.5, 0.5, 0.5};
    AircraftModel& f16 = aircraft_model("f16");
    const std::uint64_t still = flight_digest(f16, calm);
    const std::uint64_t first = flight_digest(f16, rough);
    EXPECT_EQ(flight_digest(f16, rough), first) << "the same seed flies differently";
    EXPECT_EQ(flight_digest(*load_jsbsim("f16"), rough), first) << "a fresh load flies differently";
    Scenario reseeded = rough;
    reseeded.atmosphere.turbulence.seed = 2;
    EXPECT_NE(flight_digest(f16, reseeded), first) << "another seed, the same turbulence";
    EXPECT_EQ(flight_digest(f16, calm), still) << "the air of the last flight stayed";
}

// With the calibrated table, level flight at a breakpoint at the
// commanded speed holds that speed: the trim throttle alone balances the
// drag. With the law's default table (made for another aircraft) the speed
// hold needs a standing error of several m/s.
TEST(JsbsimAircraft, CalibratedThrottleHoldsLevelSpeedAtABreakpoint) {
    AircraftModel& f16 = aircraft_model("f16");
    law().initialize();
    const GuideWParams defaults = *law().params;
    const ThrottleCalibration cal = calibrate_trim_throttle(f16, defaults);
    EXPECT_GT(cal.trimmed, 30);
    EXPECT_EQ(cal.trimmed + static_cast<int>(cal.filled.size()), 132);
    // The table the F-16 flies with by default is this calibration's.
    const std::vector<double>& shipped = find_aircraft("f16")->thr_table;
    ASSERT_EQ(shipped.size(), 132u);
    for (size_t i = 0; i < shipped.size(); ++i) {
        EXPECT_EQ(shipped[i], cal.params.thr_table[i])
            << "thr_table[" << i << "] is stale: rerun --calibrate-throttle";
    }
    const struct {
        const char* situation;
        double altitude_m, speed_mps;
    } rows[] = {
        {"low and slow, 2000 m at 200 m/s", 2000.0, 200.0},
        {"cruise, 8000 m at 250 m/s", 8000.0, 250.0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.situation);
        Scenario sc;
        sc.name = "level";
        sc.duration_s = 60.0;
        sc.initial.altitude_m = r.altitude_m;
        sc.initial.speed_mps = r.speed_mps;
        sc.commands.speed_cmd = r.speed_mps;
        sc.commands.mode = 1.0;
        const auto final_speed_error = [&](const GuideWParams& p) {
            *law().params = p;
            double err = NAN;
            fly_scenario(law(), sc, f16,
                         [&](const FlightSample& s) { err = s.inputs->tas - r.speed_mps; });
            return std::fabs(err);
        };
        EXPECT_LT(final_speed_error(cal.params), 1.0);
        EXPECT_GT(final_speed_error(defaults), 3.0);
    }
    *law().params = defaults;
}

// A banked start is the trimmed flight rolled about its velocity: the same
// angle of attack and load as wings level, and the law senses the bank,
// track and path angle the scenario gives. (Rolled from JSBSim's initial
// conditions, which its trim leaves at zero angle of attack, a start at
// 20 deg of bank began at 0.49 g.)
TEST(JsbsimAircraft, ABankedStartKeepsTheTrimmedFlight) {
    AircraftModel& f16 = aircraft_model("f16");
    const struct {
        const char* situation;
        double heading_deg, path_deg, bank_deg;
    } rows[] = {
        {"level, 20 deg right", 0.0, 0.0, 20.0},
        {"level heading north-east, 60 deg left", 45.0, 0.0, -60.0},
        {"climbing 10 deg, inverted", 0.0, 10.0, 180.0},
        {"descending 5 deg heading west, 90 deg right", -90.0, -5.0, 90.0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.situation);
        InitialFlight start;
        start.altitude_m = 3000.0;
        start.speed_mps = 200.0;
        start.heading_deg = r.heading_deg;
        start.path_deg = r.path_deg;
        f16.reset(start);
        const double level_load = f16.state().load_g, level_alpha = f16.alpha_deg();
        start.bank_deg = r.bank_deg;
        f16.reset(start);
        EXPECT_NEAR(f16.alpha_deg(), level_alpha, 0.05);
        EXPECT_NEAR(f16.state().load_g, level_load, 0.05);
        GuideWInputs u{};
        f16.sense(u);
        EXPECT_NEAR(std::fabs(u.roll), std::fabs(r.bank_deg), 0.1);  // +-180 are one bank
        if (std::fabs(r.bank_deg) < 180.0) EXPECT_NEAR(u.roll, r.bank_deg, 0.1);
        EXPECT_NEAR(u.yaw, r.heading_deg, 0.1);
        EXPECT_NEAR(u.pitch, r.path_deg, 0.1);
        EXPECT_NEAR(u.tas, 200.0, 0.5);
    }
}

// The trim-throttle tables the other aircraft carry in their data are
// still what the calibration gives for them: a change to their model, its
// trim or the fill rules shows here. (The F-16's is checked above, with the
// level flights its table must hold.)
TEST(JsbsimAircraft, ShippedTrimTablesAreTheirCalibrations) {
    law().initialize();
    const GuideWParams defaults = *law().params;
    for (const char* name : {"T38", "f15", "f16_stock"}) {
        SCOPED_TRACE(name);
        const std::vector<double>& shipped = find_aircraft(name)->thr_table;
        ASSERT_EQ(shipped.size(), 132u);
        const ThrottleCalibration cal = calibrate_trim_throttle(aircraft_model(name), defaults);
        for (size_t i = 0; i < shipped.size(); ++i) {
            EXPECT_EQ(shipped[i], cal.params.thr_table[i])
                << "thr_table[" << i << "] is stale: rerun --calibrate-throttle";
        }
    }
}

// A full-rate roll into a 3.5 g pull from level flight at 200 m/s, 3000 m,
// held for a second. On JSBSim's F-16 as shipped the flaperons' lift
// followed the aileron, and a right roll took up to a g and a half off the
// load before the tail could move the angle of attack. On the corrected
// model the roll leaves the lift alone: either way the load never falls
// below the trimmed 1 g, is past 3 g within two thirds of a second, the
// roll is under way within a quarter second, and the pedal holds the
// sideslip within 2 deg (without it the FCS's yaw damper held zero yaw
// rate, and the roll at an angle of attack became 5 deg of sideslip).
TEST(JsbsimAircraft, ARollIntoAPullDoesNotTakeTheLoadAway) {
    AircraftModel& f16 = aircraft_model("f16");
    const struct {
        const char* situation;
        double roll_cmd_dps;
        double lowest_load_g;               // at least
        double roll_rate_at_quarter_s_dps;  // at least, in the roll's direction
    } rows[] = {
        {"rolling right", 150.0, 0.9, 50.0},
        {"rolling left", -150.0, 0.9, 50.0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.situation);
        InitialFlight start;
        start.altitude_m = 3000.0;
        start.speed_mps = 200.0;
        f16.reset(start);
        GuideWOutputs cmd{};
        cmd.lat_cmd = r.roll_cmd_dps;
        cmd.nz_cmd = 3.5;
        cmd.throttle_cmd = 0.8;
        double lowest = f16.state().load_g, load_at_two_thirds = 0.0, rate_at_quarter = 0.0;
        double most_sideslip = 0.0;
        for (int k = 1; k <= 100; ++k) {
            f16.step(cmd);
            lowest = std::min(lowest, f16.state().load_g);
            most_sideslip = std::max(most_sideslip, std::fabs(f16.air_data().beta_deg));
            if (k == 25) rate_at_quarter = f16.state().roll_rate_dps;
            if (k == 67) load_at_two_thirds = f16.state().load_g;
        }
        EXPECT_GE(lowest, r.lowest_load_g);
        EXPECT_GE(load_at_two_thirds, 3.0);
        EXPECT_GE(r.roll_cmd_dps > 0.0 ? rate_at_quarter : -rate_at_quarter,
                  r.roll_rate_at_quarter_s_dps);
        EXPECT_LT(most_sideslip, 2.0);
    }
}

// Every aircraft flies clean: trimmed, the gear of the jets is up (JSBSim
// starts them with it down, half the F-16's drag at 3000 m and 200 m/s);
// the C172's gear is fixed and stays down. And on the F-16, once the law's
// command holds still, the elevator holds still: no activity above 5 Hz
// (a loop on the raw sampled load swung it by 2-4 deg at 25-50 Hz).
TEST(JsbsimAircraft, FliesCleanAndHoldsItsElevatorInSteadyFlight) {
    const struct {
        const char* aircraft;
        double speed_mps, gear_down;
    } rows[] = {{"f16", 200.0, 0.0},
                {"f16_stock", 200.0, 0.0},
                {"f15", 200.0, 0.0},
                {"T38", 200.0, 0.0},
                {"c172p", 55.0, 1.0}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.aircraft);
        AircraftModel& a = aircraft_model(r.aircraft);
        InitialFlight start;
        start.altitude_m = 1000.0;
        start.speed_mps = r.speed_mps;
        a.reset(start);
        EXPECT_EQ(a.air_data().gear_down, r.gear_down);
    }
    AircraftModel& f16 = aircraft_model("f16");
    for (const double load_g : {1.0, 3.0}) {
        SCOPED_TRACE(load_g);
        InitialFlight start;
        start.altitude_m = 2000.0;
        start.speed_mps = 240.0;
        f16.reset(start);
        GuideWOutputs cmd{};
        cmd.nz_cmd = load_g;
        cmd.throttle_cmd = 0.6;
        double step_to_step = 0.0, last = f16.air_data().elevator_deg;
        for (int k = 1; k <= 300; ++k) {
            f16.step(cmd);
            const double e = f16.air_data().elevator_deg;
            if (k > 200) step_to_step = std::max(step_to_step, std::fabs(e - last));
            last = e;
        }
        EXPECT_LT(step_to_step, 0.01) << "deg in one law step";
    }
}

namespace {

// An aircraft whose state the test sets.
class Puppet final : public AircraftModel {
public:
    const std::string& name() const override { return name_; }
    void reset(const InitialFlight&) override {}
    void sense(GuideWInputs&) const override {}
    void step(const GuideWOutputs&) override {}
    const Aircraft& state() const override { return ac; }
    AircraftLimits limits() const override { return {9.0, -3.0, 25.0}; }
    double alpha_deg() const override { return alpha; }
    Aircraft ac;
    double alpha = 0.0;

private:
    std::string name_ = "puppet";
};

}  // namespace

// A flight beyond the aircraft's load or angle-of-attack limit fails,
// naming the aircraft, the first time and the value.
TEST(JsbsimAircraft, LeavingTheEnvelopeFailsNamingTimeAndValue) {
    const struct {
        const char* situation;
        double load_g, alpha_deg;
        const char* failure;  // empty: within the envelope
    } rows[] = {
        {"a hard pull within 9 g", 8.9, 20.0, ""},
        {"a pull past the structural limit", 9.5, 10.0,
         "puppet: load factor 9.50 g beyond the limits -3.0/9.0 g at t = 1.00 s"},
        {"a push past the negative limit", -3.2, -5.0,
         "puppet: load factor -3.20 g beyond the limits -3.0/9.0 g at t = 1.00 s"},
        {"a stall past the angle-of-attack limit", 4.0, 27.0,
         "puppet: angle of attack 27.0 deg beyond 25 deg at t = 1.00 s"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.situation);
        Puppet p;
        EnvelopeWatch watch(p);
        watch.observe(0.5);
        p.ac.load_g = r.load_g;
        p.alpha = r.alpha_deg;
        watch.observe(1.0);
        p.ac.load_g = 1.0;
        watch.observe(1.5);
        FlightFigures figures;
        watch.report(figures);
        const std::vector<CheckResult> failures = judge_flight(Expectations{}, figures);
        if (*r.failure) {
            ASSERT_EQ(failures.size(), 1u);
            const bool alpha = std::string(r.failure).find("angle of attack") != std::string::npos;
            EXPECT_EQ(failures[0].check, alpha ? "alpha_limit" : "load_limits");
            EXPECT_EQ(failures[0].failure, r.failure);
        } else {
            EXPECT_TRUE(failures.empty());
        }
    }
}

// An aircraft that cannot be had says why in one line, naming it.
TEST(JsbsimAircraft, AnAircraftThatCannotBeHadFailsInOneLine) {
    char t[] = "/tmp/guide_aircraft_XXXXXX";
    const fs::path dir = mkdtemp(t);
    fs::create_directories(dir / "empty");
    fs::create_directories(dir / "broken");
    std::ofstream(dir / "broken" / "broken.xml") << "<fdm_config name=\"broken\"><metrics>";
    const struct {
        const char* situation;
        std::string name;
        AircraftError::Kind kind;
        std::string says;
    } rows[] = {
        {"a name no one knows", "f22", AircraftError::kUnknown,
         "available: point_mass, f16, f16_stock, f15, T38, c172p"},
        {"a folder that does not exist", (dir / "none").string(), AircraftError::kUnknown,
         "no such folder"},
        {"a folder without its model file", (dir / "empty").string(), AircraftError::kUnknown,
         "not a JSBSim aircraft folder (no empty.xml in it)"},
        {"a model file JSBSim cannot read", (dir / "broken").string(), AircraftError::kLoad,
         "JSBSim could not load"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.situation);
        try {
            aircraft_model(r.name);
            ADD_FAILURE() << "accepted";
        } catch (const AircraftError& e) {
            const std::string what = e.what();
            EXPECT_EQ(e.kind(), r.kind) << what;
            EXPECT_NE(what.find(r.says), std::string::npos) << what;
            EXPECT_EQ(what.find('\n'), std::string::npos) << what;
        }
    }
    fs::remove_all(dir);

    // Far above the F-16's ceiling and far too slow: no trim.
    InitialFlight nowhere;
    nowhere.altitude_m = 25000.0;
    nowhere.speed_mps = 40.0;
    try {
        aircraft_model("f16").reset(nowhere);
        ADD_FAILURE() << "trimmed at 25000 m, 40 m/s";
    } catch (const AircraftError& e) {
        EXPECT_EQ(e.kind(), AircraftError::kTrim);
        EXPECT_NE(std::string(e.what()).find(
                      "aircraft f16: no trim in straight flight at 25000 m, 40 m/s"),
                  std::string::npos)
            << e.what();
    }
}

namespace {

class GuideSimAircraft : public ToolSandbox {
protected:
    ToolResult sim(std::vector<std::string> args) const {
        return run_program(GUIDE_SIM_PATH, std::move(args));
    }
};

}  // namespace

// guide-sim on a JSBSim aircraft: JSBSim prints nothing to the terminal,
// the same run twice writes the same trajectory, a scenario may name its
// aircraft, and a name that is not an aircraft is refused in one line with
// the convention's status (2 on the command line, 1 in a scenario file).
TEST_F(GuideSimAircraft, FliesJsbsimQuietlyAndRefusesUnknownAircraft) {
    const ToolResult a = sim({"--aircraft", "f16", "--no-plot", "-o", at("a"), "external_bank"});
    EXPECT_EQ(a.status, 0) << a.out << a.err;
    EXPECT_EQ(a.err, "");
    const ToolResult b = sim({"--aircraft", "f16", "--no-plot", "-o", at("b"), "external_bank"});
    EXPECT_EQ(read("a/external_bank.csv"), read("b/external_bank.csv"));

    write("on_f16.json", R"({"name": "external_bank", "aircraft": "f16", "duration_s": 30,
        "inputs": {"mode": 2, "ext_lat": 40}})");
    const ToolResult named = sim({"--no-plot", "-o", at("c"), at("on_f16.json")});
    const ToolResult point_mass =
        sim({"--aircraft", "point_mass", "--no-plot", "-o", at("d"), at("on_f16.json")});
    EXPECT_NE(read("c/external_bank.csv"), read("d/external_bank.csv"))
        << "the scenario's aircraft was not flown";

    const ToolResult unknown = sim({"--aircraft", "f22", "--no-plot", "-o", at("e")});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(
        unknown.err,
        "guide-sim: unknown aircraft f22 (available: point_mass, f16, f16_stock, f15, T38, c172p, "
        "or a JSBSim aircraft folder)\n");
    write("on_f22.json", R"({"name": "x", "aircraft": "f22", "duration_s": 1})");
    const ToolResult in_file = sim({"--no-plot", "-o", at("f"), at("on_f22.json")});
    EXPECT_EQ(in_file.status, 1);
    EXPECT_NE(in_file.err.find("unknown aircraft f22"), std::string::npos) << in_file.err;
}

// A one-against-one repeats byte for byte: guide-sim flown twice writes the
// same trajectory and verdict, and the simulator library (each law in an
// instance of its own) reports the verdict's figures to the last bit.
TEST_F(GuideSimAircraft, AOneAgainstOneRepeatsByteForByteAndInTheLibrary) {
    for (const std::string aircraft : {"f16", "point_mass"}) {
        SCOPED_TRACE("head_on_1v1 on " + aircraft);
        for (const char* run : {"a", "b"}) {
            const ToolResult r =
                sim({"--aircraft", aircraft, "--no-plot", "-o", at(aircraft + run), "head_on_1v1"});
            ASSERT_EQ(r.status, 0) << r.out << r.err;
        }
        for (const char* file : {"/head_on_1v1.csv", "/head_on_1v1.summary.json"})
            EXPECT_TRUE(read(aircraft + "a" + file) == read(aircraft + "b" + file)) << file;
        char* text = nullptr;
        const std::string overrides = R"({"aircraft": ")" + aircraft + R"("})";
        ASSERT_EQ(guide_sim_fly("head_on_1v1", overrides.c_str(), 0.0, &text), 0) << text;
        const nlohmann::json flown = nlohmann::json::parse(text);
        guide_sim_free(text);
        const nlohmann::json written =
            nlohmann::json::parse(read(aircraft + "a/head_on_1v1.summary.json"));
        for (const char* part : {"metrics", "engagement", "checks"})
            EXPECT_EQ(flown.at(part), written.at(part)) << part;  // doubles compared with ==
    }
}

// A copy of JSBSim's F-16 folder (the model as shipped), given by path,
// flies exactly as f16_stock once it names that control entry (its mapping,
// gains, envelope, throttle table and scenario changes: the orbit's
// throttle).
// Without one it would fly our surface loop over the F-16's own FCS: that
// is refused unless asked for, and asked for, the run says which entry it
// flies. An entry no one knows is refused naming those there are.
TEST_F(GuideSimAircraft, AFolderFliesTheControlEntryItNames) {
    const fs::path copy = fs::path(at("copy")) / "f16";
    fs::create_directories(copy.parent_path());
    fs::copy(fs::path(jsbsim_root_dir()) / "aircraft" / "f16", copy, fs::copy_options::recursive);
    constexpr int kFlown = -2;
    // The summary rows, without the line naming the output folder.
    const auto rows_of = [](const std::string& out) {
        return out.substr(0, out.rfind("trajectories in"));
    };
    const ToolResult f16 =
        sim({"--aircraft", "f16_stock", "--no-plot", "-o", at("f16"), "typical", "orbit"});
    ASSERT_EQ(f16.status, 0) << f16.err;
    const struct {
        const char* situation;
        std::vector<std::string> options;
        int status;       // kFlown: flown, whatever its checks say
        std::string err;  // the start of stderr's one line (empty: nothing said)
    } rows[] = {
        {"the copy named the shipped F-16's entry", {"--control", "f16_stock"}, 0, ""},
        {"the copy without an entry",
         {},
         2,
         "guide-sim: aircraft " + copy.string() + " has a flight-control system of its own (fcs/"},
        {"the copy with our surface loop asked over its FCS",
         {"--control-over-fcs"},
         kFlown,
         "guide-sim: aircraft " + copy.string() +
             " names no control entry: flying the generic one (surface_loop, +2.5/-1.0 g"},
        {"an entry no one knows",
         {"--control", "f22"},
         2,
         "guide-sim: aircraft " + copy.string() +
             ": unknown control entry f22 (available: f16, f16_stock, f15, T38, c172p, "
             "generic)"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.situation);
        std::vector<std::string> args = {"--aircraft", copy.string(), "--no-plot", "-o",
                                         at("out"),    "typical",     "orbit"};
        args.insert(args.end(), r.options.begin(), r.options.end());
        const ToolResult run = sim(args);
        if (r.status == kFlown) {
            EXPECT_TRUE(run.status == 0 || run.status == 1) << run.err;
        } else {
            EXPECT_EQ(run.status, r.status) << run.err;
        }
        EXPECT_EQ(run.err.substr(0, r.err.size()), r.err);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), r.err.empty() ? 0 : 1)
            << run.err;
        if (r.status != 0) continue;
        EXPECT_EQ(rows_of(run.out), rows_of(f16.out));
        for (const char* file : {"typical.csv", "orbit.csv", "typical.params", "orbit.params"})
            EXPECT_EQ(read(std::string("out/") + file), read(std::string("f16/") + file)) << file;
    }
}

// Parameters of the command line go over the aircraft's calibrated
// throttle table cell by cell, never drop it, and the run says which table
// its flights fly.
TEST_F(GuideSimAircraft, ParametersGoOverTheCalibratedThrottleTableAndSaySo) {
    const std::vector<double>& table = find_aircraft("f16")->thr_table;
    const struct {
        const char* situation;
        std::string set, err;
        double cell1;  // thr_table[1] flown (cell 0 is always the table's)
    } rows[] = {
        {"a gain of the law", "roll_kp=3",
         "guide-sim: f16 flies its calibrated throttle table (--params/--set set none of it)\n",
         table[1]},
        {"one cell of the table", "thr_table[1]=0.5",
         "guide-sim: f16 flies its calibrated throttle table with 1 of its 132 cells from "
         "--params/--set\n",
         0.5},
    };
    // A parameter file's value, read back to the double it was written from.
    const auto cell = [](const std::string& params, int i) {
        const std::string key = "\nthr_table[" + std::to_string(i) + "] = ";
        const size_t at = params.find(key);
        return at == std::string::npos ? NAN : std::stod(params.substr(at + key.size()));
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.situation);
        const ToolResult run = sim(
            {"--aircraft", "f16", "--no-plot", "-o", at("out"), "--set", r.set, "external_bank"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, r.err);
        const std::string params = read("out/external_bank.params");
        EXPECT_EQ(cell(params, 0), table[0]);
        EXPECT_EQ(cell(params, 1), r.cell1);
    }
}

namespace {

// An aircraft that diverges after a given number of steps.
class Diverging final : public AircraftModel {
public:
    explicit Diverging(int after) : after_(after) {}
    const std::string& name() const override { return name_; }
    void reset(const InitialFlight& init) override {
        point_mass_.reset(init);
        steps_ = 0;
    }
    void sense(GuideWInputs& u) const override { point_mass_.sense(u); }
    void step(const GuideWOutputs& cmd) override {
        point_mass_.step(cmd);
        ++steps_;
    }
    const Aircraft& state() const override { return point_mass_.state(); }
    std::string fault() const override {
        return steps_ >= after_ ? "aircraft diverging: its state is not finite at t = 0.50 s" : "";
    }

private:
    std::string name_ = "diverging";
    PointMassModel point_mass_;
    int after_, steps_ = 0;
};

}  // namespace

// An aircraft model that can no longer be flown ends the flight there,
// its reason first among the failures.
TEST(JsbsimAircraft, ADivergedAircraftEndsTheFlightSayingWhy) {
    Diverging aircraft(50);
    long samples = 0;
    const FlightSummary sum =
        fly_scenario(law(), builtin("typical"), aircraft, [&](const FlightSample&) { ++samples; });
    ASSERT_FALSE(sum.failed().empty());
    EXPECT_EQ(sum.failed().front().check, "aircraft_fault");
    EXPECT_EQ(sum.failed().front().failure,
              "aircraft diverging: its state is not finite at t = 0.50 s");
    ASSERT_TRUE(sum.ended_s.has_value());
    EXPECT_NEAR(*sum.ended_s, 0.50, 1e-9);
    EXPECT_EQ(samples, 50);
}

// The controls a flight gave JSBSim, replayed on JSBSim alone from the
// same start, fly the same flight to the last bit: the benchmark's
// reference does the same work as the flight it is set against. This
// fails when the control mapping sets a control the record does not hold,
// or a replay steps differently (substeps, order).
TEST(JsbsimAircraft, ReplayedControlsFlyTheSameFlightToTheLastBit) {
    struct Case {
        const char* aircraft;
        const char* scenario;
        const char* situation;
    };
    const Case cases[] = {
        {"f16", "split_manoeuvre", "rolls past the vertical, then pulls through"},
        {"f16", "upright_recovery", "starts inverted (a rolled start), rolls upright"},
        {"f16", "speed_hold", "full throttle from 160 to 240 m/s, level"},
        {"f15", "typical", "our inner loop, its rudder coordinating the roll"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.aircraft) + " " + c.scenario + ": " + c.situation);
        const std::unique_ptr<JsbsimModel> aircraft = load_jsbsim(c.aircraft);
        Scenario sc = suited_builtin(builtin(c.scenario), c.aircraft);
        use_aircraft_trim_table(sc, c.aircraft);
        ControlsRecorder recorder(*aircraft);
        long samples = 0;
        fly_scenario(law(), sc, recorder, [&](const FlightSample&) { ++samples; });
        const Aircraft flown = aircraft->state();
        const double flown_alpha = aircraft->alpha_deg();
        ASSERT_EQ(static_cast<long>(recorder.record().size()), samples);

        replay_controls(*aircraft, sc.initial, recorder.record());
        EXPECT_EQ(std::memcmp(&aircraft->state(), &flown, sizeof flown), 0)
            << "replay ends at altitude " << aircraft->state().position.y << " m, the flight at "
            << flown.position.y << " m";
        EXPECT_EQ(aircraft->alpha_deg(), flown_alpha);
    }
}
