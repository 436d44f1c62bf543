// guide-sim flies the law in closed loop. These tests run the built program
// as a user would: every built-in scenario must pass its own checks, its
// recorded flights must replay bit for bit through guide-run, and bad
// scenarios and options must be refused clearly.
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "guide_fields.h"
#include "tool_sandbox.h"

namespace {

class GuideSim : public ToolSandbox {
protected:
    ToolResult sim(std::vector<std::string> args) const {
        return run_program(GUIDE_SIM_PATH, std::move(args));
    }
};

// The column named name of a CSV text, one string per row.
std::vector<std::string> column(const std::string& csv, const std::string& name) {
    std::istringstream in(csv);
    std::string line, cell;
    std::getline(in, line);
    std::istringstream header(line);
    int index = -1;
    for (int i = 0; std::getline(header, cell, ','); ++i) {
        if (cell == name) index = i;
    }
    std::vector<std::string> values;
    while (index >= 0 && std::getline(in, line)) {
        std::istringstream row(line);
        for (int i = 0; i <= index; ++i) std::getline(row, cell, ',');
        values.push_back(cell);
    }
    return values;
}

}  // namespace

// All built-in scenarios pass their checks, and each recorded flight,
// replayed through guide-run, gives the same outputs and states bit for bit.
TEST_F(GuideSim, BuiltinScenariosPassAndReplayExactly) {
    const ToolResult r = sim({"--no-plot", "-o", at("out")});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("FAILED"), std::string::npos) << r.out;

    for (const char* name : {"typical", "split_manoeuvre", "climb_behind", "orbit", "passthrough",
                             "crossing_target", "head_on_1v1"}) {
        const std::string base = "out/" + std::string(name);
        const ToolResult replay = run_program(
            GUIDE_RUN_PATH, {"--states", "--params", at(base + ".params"), at(base + ".csv")});
        ASSERT_EQ(replay.status, 0) << replay.err;
        EXPECT_TRUE(replay.out == read(base + ".csv")) << name << " differs from its replay";
    }
    // Both aircraft of the head-on pass hold their start until they turn
    // after it: they pass 8 km x sin(11 deg) = 1526.5 m apart.
    const nlohmann::json pass = nlohmann::json::parse(read("out/head_on_1v1.summary.json"));
    EXPECT_NEAR(pass["metrics"]["closest_m"].get<double>(), 8000.0 * std::sin(11.0 * M_PI / 180.0),
                1.0);
}

// Without -o each aircraft's run lands in out/sim/AIRCRAFT of the working
// folder, so the README's two runs (point mass, then the F-16) keep both;
// aircraft names are taken in any case.
TEST_F(GuideSim, EachAircraftHasItsOwnDefaultFolder) {
    const struct {
        std::string aircraft, folder;
    } cases[] = {{"", "point_mass"}, {"Point_Mass", "point_mass"}, {"t38", "t38"}};
    for (const auto& c : cases) {
        std::filesystem::remove_all(at("out"));
        const std::string aircraft = c.aircraft.empty() ? "" : " --aircraft " + c.aircraft;
        const ToolResult r = run_program(
            "/bin/sh", {"-c", "cd '" + at("") + "' && exec '" GUIDE_SIM_PATH "' --no-plot" +
                                  aircraft + " typical"});
        if (r.err.find("this build has no JSBSim") != std::string::npos) continue;  // T-38 unknown
        EXPECT_NE(r.status, 2) << c.aircraft << ": " << r.err;
        EXPECT_FALSE(read("out/sim/" + c.folder + "/typical.csv").empty()) << c.aircraft;
    }
}

// One scenario from a file of the user's, with its picture drawn.
TEST_F(GuideSim, UserScenarioFileIsFlownAndDrawn) {
    write("mine.json", R"({"name": "left_turn", "duration_s": 25,
        "inputs": {"azim_cmd": 270, "speed_cmd": 200},
        "expect": {"converge_within_s": 24, "max_load_g": 9}})");
    const ToolResult r = sim({"-o", at("out"), at("mine.json")});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("left_turn"), std::string::npos);
    EXPECT_GT(std::filesystem::file_size(at("out/left_turn.png")), 10000u);
}

// A check that cannot hold fails the run with exit code 1 and says which.
TEST_F(GuideSim, FailedCheckIsReportedAndExitsNonZero) {
    write("hard.json", R"({"name": "too_quick", "duration_s": 5,
        "inputs": {"azim_cmd": 90}, "expect": {"converge_within_s": 1}})");
    const ToolResult r = sim({"--no-plot", "-o", at("out"), at("hard.json")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("FAILED: converge within 1 s"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("never"), std::string::npos) << r.out;
}

// Bad data is status 1 and names the key path; a bad command line 2; a
// library that cannot be loaded 3.
TEST_F(GuideSim, BadScenariosAndOptionsAreRefusedClearly) {
    const auto scenario = [](const std::string& body) {
        return "{\"name\": \"x\", \"duration_s\": 20, " + body + "}";
    };
    write("broken.json", "{\"name\": \"x\",\n \"duration_s\": 5,,}");
    write("typo.json", scenario(R"("expect": {"converge_in_s": 3})"));
    write("sensed.json", scenario(R"("inputs": {"altitude": 3000})"));
    write("twice.json", R"([{"name": "x", "duration_s": 5}, {"name": "x", "duration_s": 6}])");
    write("empty.json", "[]");
    write("late.json", scenario(R"("events": [{"t_s": 25, "inputs": {"azim_cmd": 90}}])"));
    write("early.json", scenario(R"("events": [{"t_s": -1, "inputs": {"azim_cmd": 90}}])"));
    write("dup.json", scenario(R"("inputs": {"azim_cmd": 30, "azim_cmd": 60})"));
    write("dup_nested.json",
          R"([{"name": "a", "duration_s": 5}, {"name": "b", "duration_s": 5, "name": "c"}])");
    write("weight.json", scenario(R"("inputs": {"ext_weight": 1.5})"));
    write("mode.json", scenario(R"("inputs": {"mode": -1})"));
    write("reverse.json", scenario(R"("inputs": {"speed_cmd": -500})"));
    write("warp.json", scenario(R"("events": [{"t_s": 1, "inputs": {"speed_cmd": 1e200}}])"));
    write("over.json", scenario(R"("inputs": {"elev_cmd": 95})"));
    write("nz.json", scenario(R"("inputs": {"mode": 4, "ext_nz": 50})"));
    write(
        "orbit_tol.json",
        scenario(
            R"("inputs": {"mode": 3, "ext_nz": 2}, "expect": {"orbit": {"radius_tolerance": -0.1}})"));
    write("bank_tol.json",
          scenario(R"("expect": {"final_bank_deg": {"value": 0, "tolerance": -1}})"));
    write("load.json", scenario(R"("expect": {"max_load_g": -1})"));
    write("fast.json", scenario(R"("initial": {"speed_mps": 1e200}, "expect": {"max_load_g": 9})"));
    write("slow.json",
          scenario(R"("initial": {"speed_mps": 1e-300}, "expect": {"max_load_g": 9})"));
    write("underground.json", scenario(R"("initial": {"altitude_m": -10})"));
    write("infinite.json", scenario(R"("inputs": {"azim_cmd": 1e999})"));
    write("long_token.json",
          "{\"name\": \"x\", \"duration_s\": 5 " + std::string(5000, '\t') + "nope}");
    const auto air = [&](const char* file, const std::string& body) {
        write(file, scenario("\"atmosphere\": " + body));
    };
    air("air_key.json", R"({"temperature_k": 250})");
    air("wind_fast.json", R"({"wind": {"from_deg": 90, "speed_mps": 150}})");
    air("wind_down.json", R"({"wind": [{"altitude_m": 1000, "from_deg": 0, "speed_mps": 5},
                                        {"altitude_m": 500, "from_deg": 0, "speed_mps": 5}]})");
    air("turb_model.json", R"({"turbulence": {"model": "dryden", "severity": "light"}})");
    air("turb_severity.json", R"({"turbulence": {"model": "tustin", "severity": 9}})");
    air("turb_seed.json", R"({"turbulence": {"model": "milspec", "severity": 4, "seed": 1.5}})");
    air("gust_late.json", R"({"gust": {"start_s": 30, "speed_mps": 5}})");
    write("pursue_nothing.json", scenario(R"("pursuit": {"law": "pure"})"));
    write("cone_alone.json", scenario(R"("expect": {"rear_cone_s": 5})"));
    write("two_targets.json",
          scenario(R"("target": {"manoeuvre": {"kind": "weave"}, "opponent": {}})"));
    write("law_word.json", scenario(R"("target": {}, "pursuit": {"law": "collision"})"));
    write("placed_twice.json", scenario(R"("target": {"range_m": 900, "recorded": "t.csv"})"));
    write("no_track.json", scenario(R"("target": {"recorded": "absent.csv"})"));
    write("target_underground.json", scenario(R"("target": {"altitude_diff_m": -3500})"));
    std::filesystem::create_directory(at("folder.json"));
    const struct {
        const char* situation;
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {"not JSON", {at("broken.json")}, 1, "broken.json:2:18: not valid JSON: syntax error"},
        {"misspelt key", {at("typo.json")}, 1, "unknown key \"converge_in_s\""},
        {"sensed input", {at("sensed.json")}, 1, "'altitude' is sensed from the aircraft"},
        {"duplicate names", {at("twice.json")}, 1, "two scenarios are named 'x'"},
        {"nothing to fly", {at("empty.json")}, 1, "empty.json: an empty list: no scenario to fly"},
        {"event after the end",
         {at("late.json")},
         1,
         "scenario (x).events[0].t_s: must lie within [0, 20], not 25"},
        {"event before the start",
         {at("early.json")},
         1,
         "scenario (x).events[0].t_s: must lie within [0, 20], not -1"},
        {"key twice", {at("dup.json")}, 1, "dup.json: inputs: key \"azim_cmd\" given twice"},
        {"key twice in a list's object",
         {at("dup_nested.json")},
         1,
         "dup_nested.json: [1]: key \"name\" given twice"},
        {"weight above one",
         {at("weight.json")},
         1,
         "scenario (x).inputs.ext_weight: must lie within [0, 1]"},
        {"negative mode",
         {at("mode.json")},
         1,
         "scenario (x).inputs.mode: must lie within [0, 5], not -1"},
        {"negative commanded speed",
         {at("reverse.json")},
         1,
         "scenario (x).inputs.speed_cmd: must lie within [30, 1000], not -500"},
        {"commanded speed beyond any aircraft",
         {at("warp.json")},
         1,
         "scenario (x).events[0].inputs.speed_cmd: must lie within [30, 1000], not 1e+200"},
        {"commanded straight past the vertical",
         {at("over.json")},
         1,
         "scenario (x).inputs.elev_cmd: must lie within [-90, 90]"},
        {"external load beyond any airframe",
         {at("nz.json")},
         1,
         "scenario (x).inputs.ext_nz: must lie within [-10, 10]"},
        {"negative orbit radius tolerance",
         {at("orbit_tol.json")},
         1,
         "scenario (x).expect.orbit.radius_tolerance: must lie within [0, 1], not -0.1"},
        {"negative bank tolerance",
         {at("bank_tol.json")},
         1,
         "scenario (x).expect.final_bank_deg.tolerance: must lie within [0, 180]"},
        {"negative load limit",
         {at("load.json")},
         1,
         "scenario (x).expect.max_load_g: must lie within [0, 20]"},
        {"faster than any aircraft",
         {at("fast.json")},
         1,
         "scenario (x).initial.speed_mps: must lie within [30, 1000]"},
        {"too slow to fly",
         {at("slow.json")},
         1,
         "scenario (x).initial.speed_mps: must lie within [30, 1000]"},
        {"starting underground",
         {at("underground.json")},
         1,
         "scenario (x).initial.altitude_m: must lie within"},
        {"infinite number",
         {at("infinite.json")},
         1,
         "infinite.json: not valid JSON: number overflow parsing '1e999'"},
        {"a folder", {at("folder.json")}, 1, "folder.json: cannot read: Is a directory"},
        {"air of an unknown kind", {at("air_key.json")}, 1, "unknown key \"temperature_k\""},
        {"a wind beyond any weather",
         {at("wind_fast.json")},
         1,
         "scenario (x).atmosphere.wind.speed_mps: must lie within [0, 100], not 150"},
        {"wind layers out of order",
         {at("wind_down.json")},
         1,
         "scenario (x).atmosphere.wind[1].altitude_m: layers must go up in altitude"},
        {"a turbulence model JSBSim has not",
         {at("turb_model.json")},
         1,
         "scenario (x).atmosphere.turbulence.model: must be \"milspec\" or \"tustin\""},
        {"a severity beyond the exceedance curves",
         {at("turb_severity.json")},
         1,
         "scenario (x).atmosphere.turbulence.severity: must lie within [0, 7], not 9"},
        {"a seed that is no whole number",
         {at("turb_seed.json")},
         1,
         "scenario (x).atmosphere.turbulence.seed: must be a whole number, not 1.5"},
        {"a gust after the end",
         {at("gust_late.json")},
         1,
         "scenario (x).atmosphere.gust.start_s: must lie within [0, 20], not 30"},
        {"a long run of whitespace echoed by the JSON reader",
         {at("long_token.json")},
         1,
         "long_token.json:1:"},
        {"a pursuit with nothing to pursue",
         {at("pursue_nothing.json")},
         1,
         "scenario (x).pursuit: needs a \"target\" to pursue"},
        {"an engagement's check without a target",
         {at("cone_alone.json")},
         1,
         "scenario (x).expect: an engagement's checks need a \"target\""},
        {"a target both scripted and flown",
         {at("two_targets.json")},
         1,
         "give one of \"manoeuvre\", \"recorded\" and \"opponent\""},
        {"a law of pursuit we have not",
         {at("law_word.json")},
         1,
         "scenario (x).pursuit.law: must be one of: pure, lead, lag"},
        {"a recorded target placed by hand too",
         {at("placed_twice.json")},
         1,
         "target.range_m: a recorded target is placed by its file"},
        {"a recorded track that is not there", {at("no_track.json")}, 1, "absent.csv"},
        {"a target below the ground",
         {at("target_underground.json")},
         1,
         "target.altitude_diff_m: puts the target at -500 m, outside [1, 30000]"},
        {"unknown scenario", {"no_such_one"}, 2, "unknown scenario \"no_such_one\""},
        {"unknown option", {"--fly-faster"}, 2, "--fly-faster"},
        {"nothing to compare with",
         {"--compare", at("no_run"), "typical"},
         2,
         "no_run\": no such folder"},
        {"library missing", {"--library", at("nope.so"), "typical"}, 3, "cannot load"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--no-plot", "-o", at("out")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolResult r = sim(args);
        EXPECT_EQ(r.status, c.status) << c.situation << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.situation << ": " << r.err;
        EXPECT_EQ(r.out.find(" ok"), std::string::npos) << c.situation;
        EXPECT_LT(r.err.size(), 600u) << c.situation;
    }
}

// A flight that flies into the ground ends there and fails, unless the
// scenario allows it; the converge column tells a mode that does not steer
// from a command never reached.
TEST_F(GuideSim, ImpossibleFlightsFailAndSaySo) {
    const std::string dive =
        R"("duration_s": 120, "initial": {"altitude_m": 1500, "speed_mps": 200},
        "inputs": {"azim_cmd": 0, "elev_cmd": -80, "speed_cmd": 200})";
    write("dive.json", "{\"name\": \"dive\", " + dive + "}");
    write("dive_ok.json",
          "{\"name\": \"dive_ok\", " + dive + R"(, "expect": {"may_reach_ground": true}})");
    write("orbit.json", R"({"name": "orbiting", "duration_s": 5,
        "inputs": {"mode": 3, "ext_nz": 2, "speed_cmd": 200}, "expect": {"converge_within_s": 4}})");
    write("slow_turn.json",
          R"({"name": "slow_turn", "duration_s": 2, "inputs": {"azim_cmd": 180}})");
    const struct {
        const char* situation;
        const char* file;
        int status;
        const char* row;  // what the summary row says
    } cases[] = {
        {"dive into the ground", "dive.json", 1, "FAILED: reached the ground at t = "},
        {"dive the scenario allows", "dive_ok.json", 0, " ok"},
        {"orbit does not steer to a direction", "orbit.json", 1, "n/a"},
        {"command not reached in time", "slow_turn.json", 0, "never"},
    };
    for (const auto& c : cases) {
        const ToolResult r = sim({"--no-plot", "-o", at("out"), at(c.file)});
        EXPECT_EQ(r.status, c.status) << c.situation << ": " << r.out << r.err;
        EXPECT_NE(r.out.find(c.row), std::string::npos) << c.situation << ": " << r.out;
    }
    // The trajectory stops where the ground was met, above it.
    const std::vector<std::string> altitude = column(read("out/dive.csv"), "altitude");
    ASSERT_FALSE(altitude.empty());
    EXPECT_LT(altitude.size(), 12001u);
    EXPECT_GT(std::stod(altitude.back()), 0.0);
}

// A flight its aircraft cannot start (the C172 trims at 45-65 m/s, not at
// 160) fails the check "trim": the row says it was not flown and why, the
// summary names the check and fails what the scenario asked with it, the
// trajectory an earlier run left under its name is gone, and
// --aircraft-log shows what JSBSim said.
TEST_F(GuideSim, AFlightThatCannotStartSaysSo) {
    write("fast.json", R"({"name": "fast", "aircraft": "c172p", "duration_s": 5,
        "initial": {"altitude_m": 1000, "speed_mps": 160}, "inputs": {"speed_cmd": 160},
        "expect": {"max_load_g": 3}})");
    std::filesystem::create_directories(at("out"));
    write("out/fast.csv", "an earlier flight\n");
    const ToolResult r = sim({"--no-plot", "--aircraft-log", "-o", at("out"), at("fast.json")});
    if (r.err.find("unknown aircraft") != std::string::npos) GTEST_SKIP() << "built without JSBSim";
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("not flown"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("FAILED: aircraft c172p: no trim"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("0.00 g"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("trim"), std::string::npos) << "JSBSim's own words: " << r.err;
    EXPECT_FALSE(std::filesystem::exists(at("out/fast.csv")));
    const nlohmann::json summary = nlohmann::json::parse(read("out/fast.summary.json"));
    EXPECT_FALSE(summary.at("started").get<bool>());
    ASSERT_EQ(summary.at("checks").size(), 2u);
    EXPECT_EQ(summary["checks"][0]["check"], "trim");
    EXPECT_EQ(summary["checks"][1]["check"], "max_load_g");
    EXPECT_EQ(summary["checks"][1]["failure"], "the flight did not start");
    EXPECT_TRUE(summary.at("metrics").at("peak_load_g").is_null());
}

// The one documented command reproduces any run byte for byte, tuned
// parameters included; without them the replay differs.
TEST_F(GuideSim, DocumentedReplayReproducesARunByteForByte) {
    write("tuned.json", R"({"name": "tuned", "duration_s": 15,
        "inputs": {"azim_cmd": 120, "elev_cmd": 10, "speed_cmd": 210},
        "params": {"roll_kp": 1.5, "lat_max": 90, "thr_table[17]": 0.25}})");
    ASSERT_EQ(sim({"--no-plot", "-o", at("out"), at("tuned.json")}).status, 0);
    for (const char* name : {"tuned"}) {
        const std::string recorded = at("out/" + std::string(name) + ".csv");
        const std::string params = at("out/" + std::string(name) + ".params");
        const ToolResult replay = run_program(
            GUIDE_RUN_PATH, {"--states", "--params", params, "-o", at("replay.csv"), recorded});
        ASSERT_EQ(replay.status, 0) << replay.err;
        EXPECT_EQ(run_program("/usr/bin/cmp", {at("replay.csv"), recorded}).status, 0) << name;
    }
    const ToolResult untuned = run_program(GUIDE_RUN_PATH, {"--states", at("out/tuned.csv")});
    EXPECT_NE(untuned.out, read("out/tuned.csv"));
}

// Drawing needs Python with its plotting package: when it cannot be used the
// status is 3, even though every check passed.
TEST_F(GuideSim, PicturesThatCannotBeDrawnAreAnEnvironmentFault) {
    for (const char* python : {"/no/such/python3", "/bin/false"}) {
        const ToolResult r = sim({"-o", at("out"), "--python", python, "typical"});
        EXPECT_EQ(r.status, 3) << python << ": " << r.err;
        EXPECT_NE(r.out.find(" ok"), std::string::npos);
        EXPECT_NE(r.err.find("--no-plot"), std::string::npos);
    }
}

// The drawing script follows the tools' exit statuses and never answers a
// missing file with a traceback.
TEST_F(GuideSim, DrawingScriptExitsLikeTheTools) {
    const std::string script =
        std::filesystem::path(GUIDE_SIM_PATH).parent_path() / "plot_trajectory.py";
    const struct {
        const char* situation;
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {"help", {"--help"}, 0, "Exit status"},
        {"no such trajectory", {at("."), "nothing"}, 1, "nothing.csv"},
        {"no folder given", {}, 2, "usage"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {script};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolResult r = run_program("/usr/bin/python3", args);
        EXPECT_EQ(r.status, c.status) << c.situation << ": " << r.err;
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << c.situation;
        EXPECT_EQ(r.err.find("Traceback"), std::string::npos) << c.situation;
    }
}

// The convergence time is when the direction error last entered the 5 deg
// band and stayed in it; the first entry is kept beside it. Checked against
// the recorded error of flights that overshoot back out of the band
// (climb_behind), never settle (external_bank's error grows to 50 deg) and
// settle once (typical).
TEST_F(GuideSim, ConvergenceIsTheLastEntryIntoTheBand) {
    const ToolResult r =
        sim({"--no-plot", "-o", at("out"), "typical", "climb_behind", "external_bank"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const struct {
        const char* flight;
        const char* shown;
    } cases[] = {
        {"typical", "6.49 s"},
        {"climb_behind", "20.34 s"},
        {"external_bank", "never"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flight);
        const std::string csv = read("out/" + std::string(c.flight) + ".csv");
        const std::vector<std::string> t = column(csv, "time"), err = column(csv, "dir_err_deg");
        std::optional<double> first, entered;
        for (size_t k = 0; k < t.size(); ++k) {
            const bool inside = std::stod(err[k]) <= 5.0;
            if (inside && !first) first = std::stod(t[k]);
            if (inside && !entered) entered = std::stod(t[k]);
            if (!inside) entered.reset();
        }
        const nlohmann::json summary =
            nlohmann::json::parse(read("out/" + std::string(c.flight) + ".summary.json"));
        EXPECT_EQ(summary["converge_s"].is_null(), !entered);
        if (entered) EXPECT_DOUBLE_EQ(summary["converge_s"].get<double>(), *entered);
        ASSERT_EQ(summary["first_within_s"].is_null(), !first);
        if (first) EXPECT_DOUBLE_EQ(summary["first_within_s"].get<double>(), *first);
        EXPECT_NE(r.out.find(std::string(c.flight) + " "), std::string::npos);
        const size_t row = r.out.find(c.flight);
        EXPECT_NE(r.out.substr(row, r.out.find('\n', row) - row).find(c.shown), std::string::npos)
            << r.out;
    }
}

// --compare with a damaged earlier run names that run's file and what is
// wrong, as bad data (1), and still draws nothing stale.
TEST_F(GuideSim, CompareNamesTheBadFileItWasGiven) {
    std::filesystem::create_directory(at("badcmp"));
    const struct {
        const char* situation;
        std::string csv;
        const char* says;
    } cases[] = {
        {"garbage", "garbage\n\x01\x02\n",
         "badcmp/typical.csv: line 1: not a guide-sim trajectory: no column time"},
        {"empty", "", "badcmp/typical.csv: empty file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        write("badcmp/typical.csv", c.csv);
        const ToolResult r = sim({"-o", at("out"), "--compare", at("badcmp"), "typical"});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("out/typical.csv"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Traceback"), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(at("out/typical.png")));
    }
    // A row cut short is named by its line.
    const ToolResult good = sim({"--no-plot", "-o", at("good"), "typical"});
    ASSERT_EQ(good.status, 0) << good.err;
    std::string cut = read("good/typical.csv");
    cut = cut.substr(0, cut.find('\n', cut.find('\n', cut.find('\n') + 1) + 1));
    cut = cut.substr(0, cut.rfind(',')) + "\n";
    write("badcmp/typical.csv", cut);
    const ToolResult r = sim({"-o", at("out"), "--compare", at("badcmp"), "typical"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("badcmp/typical.csv: line 3: "), std::string::npos) << r.err;
    // A whole trajectory beside a summary that is not a flight's.
    write("badcmp/typical.csv", read("good/typical.csv"));
    for (const auto& [summary, says] : {std::pair{"[1,2]", "(a JSON object)"},
                                        std::pair{R"({"aircraft": 5})", "aircraft is 5"}}) {
        SCOPED_TRACE(summary);
        write("badcmp/typical.summary.json", summary);
        const ToolResult bad = sim({"-o", at("out"), "--compare", at("badcmp"), "typical"});
        EXPECT_EQ(bad.status, 1) << bad.err;
        EXPECT_NE(bad.err.find("badcmp/typical.summary.json: not a flight's summary"),
                  std::string::npos)
            << bad.err;
        EXPECT_NE(bad.err.find(says), std::string::npos) << bad.err;
        EXPECT_EQ(bad.err.find("Traceback"), std::string::npos) << bad.err;
    }
}

// A picture belongs to the flight it was drawn from: a new flight of the
// same name written without pictures, or whose drawing fails, leaves no
// picture of the old one beside its verdict.
TEST_F(GuideSim, OldPicturesGoWhenTheirFlightIsFlownAgain) {
    write("typical.json",
          R"({"name": "typical", "duration_s": 3, "expect": {"converge_within_s": 0.5},
        "inputs": {"azim_cmd": 90}})");
    const struct {
        const char* situation;
        std::vector<std::string> rerun;
        int status;
    } cases[] = {
        {"flown again without pictures", {"--no-plot"}, 1},
        {"drawing fails", {"--python", "/bin/false"}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        ASSERT_EQ(sim({"-o", at("out"), "typical"}).status, 0);
        ASSERT_TRUE(std::filesystem::exists(at("out/typical.png")));
        std::vector<std::string> args = {"-o", at("out"), at("typical.json")};
        args.insert(args.end(), c.rerun.begin(), c.rerun.end());
        const ToolResult r = sim(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.out.find("FAILED"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(at("out/typical.png")));
        for (const auto& f : std::filesystem::directory_iterator(at("out"))) {
            EXPECT_EQ(f.path().filename().string().find(".tmp"), std::string::npos) << f.path();
        }
    }
}

// --params and --set retune every scenario flown, after the scenario's own
// parameters, and the .params file written says so (so the replay holds).
TEST_F(GuideSim, CommandLineParametersRetuneEveryFlight) {
    write("tuned.json",
          R"({"name": "tuned", "duration_s": 5, "params": {"roll_kp": 3, "roll_kd": 0.5}})");
    write("p.txt", "roll_kd = 0.125\n");
    const ToolResult r = sim({"--no-plot", "-o", at("out"), "--params", at("p.txt"), "--set",
                              "roll_kp=1.5", "typical", at("tuned.json")});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name : {"typical", "tuned"}) {
        SCOPED_TRACE(name);
        const std::string params = read("out/" + std::string(name) + ".params");
        EXPECT_NE(params.find("\nroll_kp = 1.5\n"), std::string::npos) << params;
        EXPECT_NE(params.find("\nroll_kd = 0.125\n"), std::string::npos) << params;
        const ToolResult replay = run_program(
            GUIDE_RUN_PATH, {"--states", "--params", at("out/" + std::string(name) + ".params"),
                             at("out/" + std::string(name) + ".csv")});
        EXPECT_TRUE(replay.out == read("out/" + std::string(name) + ".csv"));
    }
    const ToolResult plain = sim({"--no-plot", "-o", at("plain"), "typical"});
    EXPECT_NE(read("plain/typical.csv"), read("out/typical.csv"));
    const ToolResult bad = sim({"--no-plot", "-o", at("out"), "--set", "roll_kq=1", "typical"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("unknown parameter \"roll_kq\""), std::string::npos) << bad.err;
}

// Ctrl-C during a long flight ends guide-sim at once with status 130 and one
// line, and leaves no half-written file behind.
TEST_F(GuideSim, CtrlCEndsWithOneLineAndNoHalfWrittenFile) {
    write("long.json", R"({"name": "long", "duration_s": 36000, "inputs": {"azim_cmd": 90}})");
    const std::string out = base / "stdout", err = base / "stderr";
    posix_spawn_file_actions_t io;
    posix_spawn_file_actions_init(&io);
    posix_spawn_file_actions_addopen(&io, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&io, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> args = {GUIDE_SIM_PATH, "--no-plot", "-o", at("out"), at("long.json")};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &io, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&io);
    // Wait until the trajectory is being written, then interrupt.
    const auto writing = [&] {
        return std::filesystem::exists(at("out")) && !std::filesystem::is_empty(at("out"));
    };
    for (int i = 0; i < 500 && !writing(); ++i) usleep(10000);
    ASSERT_TRUE(writing());
    usleep(100000);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_EQ(slurp(err), "guide-sim: interrupted\n");
    for (const auto& f : std::filesystem::directory_iterator(at("out")))
        ADD_FAILURE() << "left behind: " << f.path();
}
