// The four tools answer the same situation alike: the same exit status (0
// done and every check held, 1 a check failed or an input file's content is
// bad, 2 a bad command line or an input file that is not there, 3 the
// environment: a library that cannot be loaded, an output that cannot be
// written), one line on standard error naming the culprit, --version and
// --help with the exit statuses. The tools' table in docs/tools.md is this
// table.
#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tool_sandbox.h"

namespace {

using ::testing::HasSubstr;

enum Tool { kStep, kRun, kSim, kCampaign, kPythonCampaign };
const char* const kToolNames[] = {"guide-step", "guide-run", "guide-sim", "guide-campaign",
                                  "python3 -m guidew.campaign"};

// A flight short enough to fly in a test; its one check holds. Its twin
// asks for a convergence no flight makes in 0.05 s.
const char* const kQuickFlight =
    R"({"name": "quick", "duration_s": 2, "inputs": {"azim_cmd": 10}, "expect": {"max_load_g": 9}})";
const char* const kFailingFlight =
    R"({"name": "hopeless", "duration_s": 2, "inputs": {"azim_cmd": 90}, "expect": {"converge_within_s": 0.05}})";
std::string campaign_file(const std::string& scenario) {
    return "[campaign]\nsamples = 2\nseed = 1\n[scenario]\nfile = \"" + scenario +
           "\"\n[dispersions]\n\"initial.altitude_m\" = { uniform = [2900, 3100] }\n";
}

struct Situation {
    const char* name;
    Tool tool;
    std::vector<std::string> args;  // "@NAME" stands for the file NAME in the sandbox
    std::vector<std::string> env;
    int status;
    const char* says;  // on standard error; "" for a run that succeeds
};

// Each tool through each situation that applies to it (guide-step and
// guide-run make no checks).
// clang-format off
const std::vector<Situation> kSituations = {
    {"ok", kStep, {"azim_cmd=60"}, {}, 0, ""},
    {"input file missing", kStep, {"--params", "@none.txt"}, {}, 2, "none.txt: cannot read"},
    {"bad data file", kStep, {"--params", "@bad.txt"}, {}, 1, "bad.txt:1:"},
    {"bad option", kStep, {"--bogus"}, {}, 2, "--bogus"},
    {"library not loadable", kStep, {"--library", "@nope.so"}, {}, 3, "nope.so"},
    {"output unwritable", kStep, {"-o", "@nodir/out.txt"}, {}, 3, "nodir/out.txt"},

    {"ok", kRun, {"@flight.csv", "-o", "@out.csv"}, {}, 0, ""},
    {"input file missing", kRun, {"@none.csv"}, {}, 2, "none.csv: cannot read"},
    {"bad data file", kRun, {"@bad.csv"}, {}, 1, "bad.csv:1:"},
    {"bad option", kRun, {"--bogus", "@flight.csv"}, {}, 2, "--bogus"},
    {"library not loadable", kRun, {"--library", "@nope.so", "@flight.csv"}, {}, 3, "nope.so"},
    {"output unwritable", kRun, {"@flight.csv", "-o", "@nodir/out.csv"}, {}, 3, "nodir/out.csv"},

    {"ok", kSim, {"--no-plot", "-o", "@out", "@quick.json"}, {}, 0, ""},
    {"input file missing", kSim, {"--no-plot", "-o", "@out", "@none.json"}, {}, 2, "none.json"},
    {"bad data file", kSim, {"--no-plot", "-o", "@out", "@bad.json"}, {}, 1, "bad.json:1:"},
    {"bad option", kSim, {"--bogus"}, {}, 2, "--bogus"},
    {"checks failed", kSim, {"--no-plot", "-o", "@out", "@hopeless.json"}, {}, 1, ""},
    {"library not loadable", kSim, {"--no-plot", "-o", "@out", "--library", "@nope.so", "@quick.json"}, {}, 3, "nope.so"},
    {"output unwritable", kSim, {"--no-plot", "-o", "@flight.csv/out", "@quick.json"}, {}, 3, "flight.csv/out"},

    {"ok", kCampaign, {"--no-pictures", "--quiet", "--workers", "1", "-o", "@out", "@quick.toml"}, {}, 0, ""},
    {"input file missing", kCampaign, {"--no-pictures", "-o", "@out", "@none.toml"}, {}, 2, "none.toml"},
    {"bad data file", kCampaign, {"--no-pictures", "-o", "@out", "@bad.toml"}, {}, 1, "bad.toml"},
    {"bad option", kCampaign, {"--bogus", "@quick.toml"}, {}, 2, "--bogus"},
    {"checks failed", kCampaign, {"--no-pictures", "--quiet", "--workers", "1", "-o", "@out", "@hopeless.toml"}, {}, 1, ""},
    {"library not loadable", kCampaign, {"--no-pictures", "--quiet", "--workers", "1", "-o", "@out", "@quick.toml"},
     {"GUIDESIM_LIBRARY=@nope.so"}, 3, "nope.so"},
    {"output unwritable", kCampaign, {"--no-pictures", "--quiet", "--workers", "1", "-o", "@flight.csv/out", "@quick.toml"},
     {}, 3, "flight.csv/out"},
};
// clang-format on

class ToolConvention : public ToolSandbox {
protected:
    void SetUp() override {
        ToolSandbox::SetUp();
        write("bad.txt", "roll_kp 3\n");
        write("flight.csv",
              "speed_cmd,elev_cmd,azim_cmd,ext_weight,ext_nz,ext_bank,ext_throttle,mode,yaw,pitch,"
              "roll,tas,"
              "vel_up,vel_north,vel_east,roll_rate,altitude,ext_lat,aux_in\n"
              "220,5,30,0,0,0,0,1,0,0,0,200,0,200,0,0,3000,0,7\n");
        write("bad.csv", "speed_cmd,elev_cmd\n1,2\n");
        write("quick.json", kQuickFlight);
        write("hopeless.json", kFailingFlight);
        write("bad.json", "{\"name\": \"x\", ]");
        write("quick.toml", campaign_file("quick.json"));
        write("hopeless.toml", campaign_file("hopeless.json"));
        write("bad.toml", "[campaign\nsamples = \n");
    }

    ToolResult run_tool(Tool tool, std::vector<std::string> args,
                        std::vector<std::string> env = {}) const {
        for (std::vector<std::string>* list : {&args, &env}) {
            for (std::string& a : *list) {
                const size_t at_sign = a.find('@');
                if (at_sign != std::string::npos)
                    a = a.substr(0, at_sign) + at(a.substr(at_sign + 1));
            }
        }
        switch (tool) {
            case kStep: return run_program(GUIDE_STEP_PATH, args, "", env);
            case kRun: return run_program(GUIDE_RUN_PATH, args, "", env);
            case kSim: return run_program(GUIDE_SIM_PATH, args, "", env);
            case kCampaign: return run_program(GUIDE_CAMPAIGN_PATH, args, "", env);
            case kPythonCampaign: break;
        }
        args.insert(args.begin(), {"-m", "guidew.campaign"});
        env.insert(env.end(), {"PYTHONPATH=" GUIDE_PYTHON_DIR, "PYTHONDONTWRITEBYTECODE=1",
                               "GUIDEW_LIBRARY=" GUIDE_LIBRARY_PATH});
        bool library_given = false;
        for (const std::string& e : env)
            library_given = library_given || e.rfind("GUIDESIM_LIBRARY=", 0) == 0;
        if (!library_given) env.push_back("GUIDESIM_LIBRARY=" GUIDE_SIM_LIBRARY_PATH);
        return run_program("/usr/bin/python3", args, "", env);
    }

    // Every situation of tool (the campaign's rows serve both ways of
    // starting a campaign), then --version and --help.
    void check_tool(Tool tool) {
        const Tool rows_of = tool == kPythonCampaign ? kCampaign : tool;
        for (const Situation& s : kSituations) {
            if (s.tool != rows_of) continue;
            SCOPED_TRACE(std::string(kToolNames[tool]) + ": " + s.name);
            std::filesystem::remove_all(at("out"));
            const ToolResult r = run_tool(tool, s.args, s.env);
            EXPECT_EQ(r.status, s.status) << r.err;
            EXPECT_THAT(r.err, HasSubstr(s.says));
            EXPECT_EQ(r.err.find("Traceback"), std::string::npos) << r.err;
        }
        SCOPED_TRACE(kToolNames[tool]);
        const ToolResult version = run_tool(tool, {"--version"});
        EXPECT_EQ(version.status, 0) << version.err;
        EXPECT_THAT(version.out, HasSubstr(GUIDE_PROJECT_VERSION));
        const ToolResult help = run_tool(tool, {"--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_THAT(help.out, HasSubstr("--output"));
        // Each status on a line of its own, with what it means.
        const struct {
            const char* status;
            const char* meaning;
        } statuses[] = {
            {"0", "done"},        {"1", "check"},       {"2", "command line"},
            {"3", "environment"}, {"130", "interrupt"},
        };
        for (const auto& st : statuses) {
            const std::regex line(std::string("(^|\n)\\s*") + st.status + "\\s[^\n]*" + st.meaning);
            EXPECT_TRUE(std::regex_search(help.out, line)) << "status " << st.status << " in:\n"
                                                           << help.out;
        }
    }
};

}  // namespace

TEST_F(ToolConvention, GuideStepAnswersEachSituationAsTheOthers) { check_tool(kStep); }
TEST_F(ToolConvention, GuideRunAnswersEachSituationAsTheOthers) { check_tool(kRun); }
TEST_F(ToolConvention, GuideSimAnswersEachSituationAsTheOthers) { check_tool(kSim); }
TEST_F(ToolConvention, GuideCampaignAnswersEachSituationAsTheOthers) { check_tool(kCampaign); }
TEST_F(ToolConvention, PythonCampaignAnswersEachSituationAsTheOthers) {
    check_tool(kPythonCampaign);
}
