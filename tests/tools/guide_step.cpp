// guide-step and guide-run read the same kinds of value by the same rules,
// and exit with the same status for the same kind of failure.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "guide_fields.h"
#include "tool_sandbox.h"
#include "typical_flight.h"
#include "values.h"

using ::testing::HasSubstr;

namespace {

class GuideStep : public ToolSandbox {
protected:
    ToolResult step(std::vector<std::string> args) const {
        return run_program(GUIDE_STEP_PATH, std::move(args));
    }
};

}  // namespace

// With no arguments it flies the typical flight's first step and prints
// its commands in the shortest exact form.
TEST_F(GuideStep, TypicalFlightGivesTheTypicalCommands) {
    const ToolResult r = step({});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected;
    const char* const names[] = {"lat_cmd", "nz_cmd", "throttle_cmd", "aux_out"};
    const double* values = &kTypicalCommands.lat_cmd;
    for (int i = 0; i < 4; ++i) {
        std::string name = names[i];
        name.resize(16, ' ');
        expected += name + " " + number_text(values[i]) + "\n";
    }
    EXPECT_EQ(r.out, expected);
}

// One rule for each kind of value: what guide-run refuses in a CSV or a
// parameter file, guide-step refuses on its command line (status 2).
TEST_F(GuideStep, ValuesFollowTheRulesOfEveryTool) {
    write("bom.txt", "\xEF\xBB\xBFlat_max = 100\n");
    write("twice.txt", "lat_max = 100\nlat_max = 90\n");
    const struct {
        const char* situation;
        std::vector<std::string> args;
        int status;
        const char* shows;  // on stdout for status 0, else on stderr
    } cases[] = {
        {"hexadecimal", {"azim_cmd=0x10"}, 2, "not a number: \"0x10\""},
        {"beyond the double range", {"azim_cmd=1e999"}, 2, "out of range: \"1e999\""},
        {"below the smallest subnormal", {"azim_cmd=1e-400"}, 2, "out of range: \"1e-400\""},
        {"an input twice", {"azim_cmd=10", "azim_cmd=20"}, 2, "\"azim_cmd\" is given twice"},
        {"not an input", {"azimuth=10"}, 2, "unknown input \"azimuth\"; inputs are: speed_cmd"},
        {"not NAME=VALUE", {"azim_cmd"}, 2, "expected NAME=VALUE"},
        {"a parameter twice",
         {"--set", "lat_max=100", "--set", "lat_max=90"},
         2,
         "\"lat_max\" is given twice"},
        {"an element named loosely",
         {"--set", "thr_table[ +05]=0.5"},
         2,
         "thr_table needs an index in [0..131]"},
        {"parameter file with a byte-order mark",
         {"--params", at("bom.txt")},
         0,
         "lat_cmd          100\n"},
        {"parameter twice in a file",
         {"--params", at("twice.txt")},
         1,
         "twice.txt:2: \"lat_max\" is set twice"},
        {"the roll law at a softer gain", {"--set", "roll_kp=1", "--states"}, 0, "front_roll_err"},
        {"no library", {"--library", at("none.so")}, 3, "cannot load"},
        {"unknown option", {"--fast"}, 2, "--fast"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        const ToolResult r = step(c.args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_THAT(c.status == 0 ? r.out : r.err, HasSubstr(c.shows));
    }
    // The same file through guide-run: accepted or refused alike.
    std::string flight;
    for (int k = 0; k < kInputCount; ++k) flight += (k ? "," : "") + std::string(kInputNames[k]);
    flight += "\n";
    for (int k = 0; k < kInputCount; ++k)
        flight += (k ? "," : "") + number_text(input_values(kTypicalFlight)[k]);
    write("flight.csv", flight + "\n");
    EXPECT_EQ(run_program(GUIDE_RUN_PATH, {"--params", at("bom.txt"), at("flight.csv")}).status, 0);
    EXPECT_EQ(run_program(GUIDE_RUN_PATH, {"--params", at("twice.txt"), at("flight.csv")}).status,
              1);
}

// Every tool documents the same exit statuses.
TEST_F(GuideStep, EveryHelpStatesTheExitStatuses) {
    for (const char* program : {GUIDE_STEP_PATH, GUIDE_RUN_PATH}) {
        const ToolResult r = run_program(program, {"--help"});
        EXPECT_EQ(r.status, 0);
        EXPECT_THAT(
            r.out,
            HasSubstr("Exit status (the same in guide-step, guide-run, guide-sim, guide-campaign)"))
            << program;
        EXPECT_THAT(r.out, HasSubstr("3    environment: the library cannot be loaded")) << program;
    }
}

// -o writes the same lines into a file (whole, as the other tools write),
// or appends them where the shell points /dev/stdout.
TEST_F(GuideStep, OutputGoesWhereOutputSays) {
    const ToolResult shown = step({"--states", "azim_cmd=60"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    const ToolResult written = step({"--states", "-o", at("step.txt"), "azim_cmd=60"});
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(written.out, "");
    EXPECT_EQ(read("step.txt"), shown.out);
    write("log.txt", "earlier\n");
    const ToolResult appended = run_program(
        "/bin/sh", {"-c", "'" GUIDE_STEP_PATH "' --states -o /dev/stdout azim_cmd=60 >> '" +
                              at("log.txt") + "'"});
    EXPECT_EQ(appended.status, 0) << appended.err;
    EXPECT_EQ(read("log.txt"), "earlier\n" + shown.out);
}
