// guide-sim flies the law in closed loop. These tests run the built program
// as a user would: every built-in scenario must pass its own checks, its
// recorded flights must replay bit for bit through guide-run, and bad
// scenarios and options must be refused clearly.
#include <string>
#include <vector>

#include "guide_fields.h"
#include "tool_sandbox.h"

namespace {

class GuideSim : public ToolSandbox {
protected:
    ToolResult sim(std::vector<std::string> args) const { return run_program(GUIDE_SIM_PATH, std::move(args)); }
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

    for (const char* name : {"typical", "split_manoeuvre", "climb_behind", "orbit", "passthrough"}) {
        const std::string recorded = read("out/" + std::string(name) + ".csv");
        const ToolResult replay = run_program(GUIDE_RUN_PATH, {"--states", at("out/" + std::string(name) + ".csv")});
        ASSERT_EQ(replay.status, 0) << replay.err;
        for (const char* col : kOutputNames) EXPECT_EQ(column(replay.out, col), column(recorded, col)) << name << " " << col;
        for (const char* col : kStateNames) EXPECT_EQ(column(replay.out, col), column(recorded, col)) << name << " " << col;
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
}

TEST_F(GuideSim, BadScenariosAndOptionsAreRefusedClearly) {
    write("broken.json", "{\"name\": \"x\",\n \"duration_s\": 5,,}");
    write("typo.json", R"({"name": "x", "duration_s": 5, "expect": {"converge_in_s": 3}})");
    write("sensed.json", R"({"name": "x", "duration_s": 5, "inputs": {"altitude": 3000}})");
    write("twice.json", R"([{"name": "x", "duration_s": 5}, {"name": "x", "duration_s": 6}])");
    const struct {
        const char* situation;
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {"not JSON", {at("broken.json")}, "broken.json:2:18: not valid JSON: syntax error"},
        {"misspelt key", {at("typo.json")}, "unknown key 'converge_in_s'"},
        {"sensed input", {at("sensed.json")}, "'altitude' is sensed from the aircraft"},
        {"duplicate names", {at("twice.json")}, "two scenarios are named 'x'"},
        {"unknown scenario", {"no_such_one"}, "unknown scenario 'no_such_one'"},
        {"unknown option", {"--fly-faster"}, "--fly-faster"},
        {"library missing", {"--library", at("nope.so"), "typical"}, "cannot load"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--no-plot", "-o", at("out")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolResult r = sim(args);
        EXPECT_EQ(r.status, 2) << c.situation;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.situation << ": " << r.err;
    }
}
