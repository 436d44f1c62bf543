// guide-run replays a recorded flight through the library. These tests run
// the built program as a user does and hold its rows against stepping the
// library in this process, to the last bit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <functional>
#include <thread>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "guide_fields.h"
#include "guide_library.h"
#include "tool_error.h"
#include "tool_sandbox.h"
#include "typical_flight.h"
#include "values.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using Row = std::vector<std::string>;

namespace {

const Row kInputs(kInputNames, kInputNames + kInputCount);

std::array<double, kInputCount> typical_inputs() {
    std::array<double, kInputCount> in;
    std::copy(input_values(kTypicalFlight), input_values(kTypicalFlight) + kInputCount, in.begin());
    return in;
}

// The typical flight as a CSV row of inputs, with input `name` written as
// `text` instead.
std::string typical_row(const std::string& name = "", const std::string& text = "") {
    std::string row;
    for (int k = 0; k < kInputCount; ++k) {
        row += (k ? "," : "") +
               (kInputNames[k] == name ? text : number_text(input_values(kTypicalFlight)[k]));
    }
    return row + "\n";
}
// speed_cmd elev_cmd azim_cmd ext_weight ext_nz ext_bank ext_throttle mode yaw pitch roll tas
// vel_up vel_north vel_east roll_rate altitude ext_lat aux_in
const std::vector<std::array<double, kInputCount>> kFlight = {
    typical_inputs(),  // level, turn right
    {220, 5, 60.1, 0, 0, 0, 0, 1, 3, 1, 20.5, 201, 3, 199, 10, 5.5, 3000.1, 0, 0.1},  // rolling in
    {250, -70, 175, 0, 0, 0, 0, 1, 10, 2, 45, 205, 5, 190, 40, 12, 3010, 0,
     1e-300},  // dive behind: split
    {250, -70, 175, 0, 0, 0, 0, 1, 12, -5, 120, 210, -5, 185, 50, 30, 3005, 0,
     -2},                                                                        // pulling through
    {200, 0, 90, 0, 2.5, 0, 0.7, 3, 20, 0, 10, 200, 0, 188, 68, 0, 3100, 0, 5},  // orbit
    {200, 0, 90, 0.5, 1, -20, 0.6, 2, 25, 0, 15, 200, 0, 181, 84, -3, 3100, 0, 5},  // external bank
};

std::string join(const Row& r) {
    std::string s;
    for (const std::string& f : r) s += (s.empty() ? "" : ",") + f;
    return s + "\n";
}
std::vector<Row> parse_csv(const std::string& text) {
    std::vector<Row> rows;
    std::istringstream lines(text);
    for (std::string line, field; std::getline(lines, line);) {
        std::istringstream fields(line);
        for (rows.emplace_back(); std::getline(fields, field, ',');) rows.back().push_back(field);
    }
    return rows;
}
uint64_t bits(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}
uint64_t bits(const std::string& text) { return bits(std::strtod(text.c_str(), nullptr)); }

// kFlight with the given columns: its inputs ("%.17g", exact), the recorder's
// own "time" and "note", and "stale" under any other name.
std::string flight_csv(const Row& columns) {
    std::string text = join(columns);
    for (size_t i = 0; i < kFlight.size(); ++i) {
        Row row;
        for (const std::string& c : columns) {
            const int k = field_index(kInputNames, kInputCount, c);
            char number[32];
            if (k >= 0)
                std::snprintf(number, sizeof number, "%.17g", kFlight[i][static_cast<size_t>(k)]);
            row.push_back(k >= 0        ? number
                          : c == "time" ? "0.0" + std::to_string(i) + "0"
                          : c == "note" ? "leg " + std::to_string(i)
                                        : "stale");
        }
        text += join(row);
    }
    return text;
}

// Outputs and then states after each step of kFlight, from the library itself.
std::vector<std::vector<double>> fly_directly() {
    static const GuideLibrary lib = load_guide_library(GUIDE_LIBRARY_PATH);
    lib.initialize();
    std::vector<std::vector<double>> steps;
    for (const auto& in : kFlight) {
        std::copy(in.begin(), in.end(), input_values(*lib.inputs));
        lib.step();
        steps.emplace_back(output_values(*lib.outputs), output_values(*lib.outputs) + kOutputCount);
        steps.back().insert(steps.back().end(), state_values(*lib.states),
                            state_values(*lib.states) + kStateCount);
    }
    return steps;
}

using Result = ToolResult;

// Each test works in files/ of a fresh directory, which is also the working
// directory, so files/ holds only what the test made and what guide-run left
// there; the program's standard output and error go beside it.
class GuideRun : public ToolSandbox {
protected:
    void SetUp() override {
        ToolSandbox::SetUp();
        fs::current_path(base / "files");
    }
    void TearDown() override {
        fs::current_path("/");
        ToolSandbox::TearDown();
    }
    static Result run(const std::string& args, const std::string& input = "/dev/null") {
        const int status = std::system(
            ("'" GUIDE_RUN_PATH "' " + args + " <" + input + " >../out 2>../err").c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp("../out"), slurp("../err")};
    }
    static std::set<std::string> files() {
        std::set<std::string> names;
        for (const auto& f : fs::directory_iterator(".")) names.insert(f.path().filename());
        return names;
    }
};

}  // namespace

// The recorder's columns in any order (the inputs reversed, its own time and
// note columns among them): the rows are the library's own, bit for bit.
TEST_F(GuideRun, ReplayGivesWhatSteppingTheLibraryGives) {
    Row columns(kInputs.rbegin(), kInputs.rend());
    columns.insert(columns.begin() + 3, "time");
    columns.push_back("note");
    write("flight.csv", flight_csv(columns));
    const auto expected = fly_directly();
    for (const bool states : {false, true}) {
        SCOPED_TRACE(states ? "with --states" : "outputs only");
        const Result r = run(states ? "--states flight.csv" : "flight.csv");
        ASSERT_EQ(r.status, 0) << r.err;
        Row header = columns;  // the input file's layout, then what it lacks
        header.insert(header.end(), kOutputNames, kOutputNames + kOutputCount);
        if (states) header.insert(header.end(), kStateNames, kStateNames + kStateCount);
        const auto rows = parse_csv(r.out);
        ASSERT_EQ(rows.size(), kFlight.size() + 1);
        EXPECT_EQ(rows[0], header);
        for (size_t i = 0; i < kFlight.size(); ++i) {
            const Row& row = rows[i + 1];
            ASSERT_EQ(row.size(), header.size());
            EXPECT_EQ(row[3] + " " + row[columns.size() - 1],
                      "0.0" + std::to_string(i) + "0 leg " + std::to_string(i));
            for (size_t c = 0; c < kInputCount; ++c) {  // the inputs' text passes unchanged
                EXPECT_EQ(bits(row[c < 3 ? c : c + 1]), bits(kFlight[i][kInputCount - 1 - c]));
            }
            for (size_t c = columns.size(); c < header.size(); ++c) {
                EXPECT_EQ(bits(row[c]), bits(expected[i][c - columns.size()]))
                    << "step " << i << ", " << header[c] << " = " << row[c];
            }
        }
    }
}

TEST_F(GuideRun, DashMeansStandardInputAndOutput) {
    write("flight.csv", flight_csv(kInputs));
    const Result piped = run("- -o -", "flight.csv"), filed = run("flight.csv -o out.csv");
    ASSERT_EQ(piped.status, 0) << piped.err;
    ASSERT_EQ(filed.status, 0) << filed.err;
    EXPECT_EQ(filed.out, "");
    EXPECT_EQ(piped.out, slurp("out.csv"));
    EXPECT_EQ(parse_csv(piped.out).size(), kFlight.size() + 1);
}

// A simulator's recording holds its commands beside the inputs. The replay
// writes its own values in their place, so the layout stays; and since it is
// bit-exact, recording the replay and replaying that gives the same file.
TEST_F(GuideRun, RecordedCommandColumnsAreReplacedInPlace) {
    Row columns = {"time", "lat_cmd", "nz_cmd", "throttle_cmd", "aux_out", "turn_sign"};
    columns.insert(columns.end(), kInputs.begin(), kInputs.end());
    columns.push_back("note");
    write("recorded.csv", flight_csv(columns));
    const Result plain = run("recorded.csv"), with_states = run("--states recorded.csv");
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(with_states.status, 0) << with_states.err;
    const auto p = parse_csv(plain.out), w = parse_csv(with_states.out);
    EXPECT_EQ(p[0], columns);  // the layout stays
    EXPECT_EQ(p[1][1] + " " + p[1][5],
              "150 stale");  // without --states turn_sign is the recorder's
    ASSERT_EQ(w[0].size(), columns.size() + kStateCount - 1);
    EXPECT_EQ(w[0][5] + " " + w[0][columns.size() - 1], "turn_sign note");
    EXPECT_EQ(w[1][5], "1");

    // The replay of a replay is the same file.
    write("again.csv", plain.out);
    EXPECT_EQ(run("again.csv").out, plain.out);
}

// aux_in reaches aux_out untouched, so it shows how numbers are read and
// written: the shortest text that reads back to the same bits, non-finite
// values by name.
TEST_F(GuideRun, NumbersRoundTripToTheLastBit) {
    const std::pair<std::string, std::string> cases[] = {
        {"0.1", "0.1"},       {"0.30000000000000004", "0.30000000000000004"},
        {"1e-300", "1e-300"}, {"5e-324", "5e-324"},
        {"-0.0", "-0"},       {"1.7976931348623157e308", "1.7976931348623157e+308"},
        {" +2.50 ", "2.5"},   {"123456789012", "123456789012"},
        {"nan", "nan"},       {"-nan", "nan"},
        {"inf", "inf"},       {"+INF", "inf"},
        {"-Infinity", "-inf"}};
    std::string text = join(kInputs);
    for (const auto& c : cases) text += typical_row("aux_in", c.first);
    // An infinite speed gives NaN commands, negative ones as the FPU makes
    // them; every NaN is written "nan". (CRLF line ending.)
    std::string infinite_speed = typical_row("vel_north", "inf");
    write("numbers.csv", text + infinite_speed.insert(infinite_speed.size() - 1, "\r"));
    const Result r = run("numbers.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = parse_csv(r.out);
    ASSERT_EQ(rows.size(), std::size(cases) + 2);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(rows[i + 1][kInputCount + 3], cases[i].second) << "aux_in " << cases[i].first;
        if (cases[i].second != "nan")
            EXPECT_EQ(bits(rows[i + 1][kInputCount + 3]), bits(cases[i].first));
    }
    EXPECT_EQ(rows.back()[kInputCount] + " " + rows.back()[kInputCount + 1], "nan nan");
    for (const Row& row :
         rows) {  // the input's own "-nan" text passes; what is written never says it
        for (size_t c = kInputCount; c < row.size(); ++c) EXPECT_NE(row[c], "-nan");
    }
}

// In the first step the roll law saturates at lat_max and, below it, gives
// roll_kp times the bank error: lat_cmd shows which parameters are in force.
TEST_F(GuideRun, ParametersComeFromTheCommandLineAndAFile) {
    const struct {
        const char* name;
        const char* file;
        const char* args;
        const char* lat_cmd;
    } cases[] = {
        {"defaults", "", "", "150"},
        {"--set", "", "--set lat_max=100", "100"},
        {"softer roll gain", "", "--set=roll_kp=1", "71.21694144537118"},
        {"file with comments", "# softer roll law\r\n\n  lat_max = 120\r\n", "--params p.txt",
         "120"},
        {"--set after the file", "lat_max = 120   # deg\n", "--set lat_max=100 --params p.txt",
         "100"},
    };
    write("flight.csv", flight_csv(kInputs));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write("p.txt", c.file);
        const Result r = run(std::string(c.args) + " flight.csv");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(parse_csv(r.out).at(1).at(kInputCount), c.lat_cmd);
    }
}

// A bad file or parameter stops the replay with the place of the fault; no
// output file appears and an earlier one stays as it was, even when good rows
// came before the fault. A bad command line exits with 2, bad data with 1.
TEST_F(GuideRun, BadInputFailsNamingThePlaceAndLeavesNoOutput) {
    Row columns = {"time"};
    columns.insert(columns.end(), kInputs.begin(), kInputs.end());
    const std::string good = flight_csv(columns);
    const std::string header = good.substr(0, good.find('\n') + 1);
    const std::string row =
        good.substr(header.size(), good.find('\n', header.size()) + 1 - header.size());
    const std::string typo =
        row.substr(0, row.find(",30,")) + ",3o," + row.substr(row.find(",30,") + 4);
    const char* const valid = "; parameters are: guide_ref, roll_kp, roll_kd, lat_max";
    const struct {
        const char* name;
        std::string csv, args;
        int status;
        std::string message;
    } cases[] = {
        {"recorder without ext_lat and aux_in", flight_csv(Row(columns.begin(), columns.end() - 2)),
         "", 1, "in.csv:1: missing input column(s): ext_lat, aux_in"},
        {"typo after a blank line", header + row + "\n" + typo, "", 1,
         "in.csv:4: column 4 (azim_cmd): not a number: \"3o\""},
        {"a field lost", header + row + row.substr(0, row.rfind(',')) + "\n", "", 1,
         "in.csv:3: 19 fields, but the header has 20"},
        {"a name twice", "roll" + good.substr(4), "", 1,
         "in.csv:1: column 12 (\"roll\"): same name as column 1"},
        {"no such file", "", "", 2, "in.csv: cannot read: No such file or directory"},
        {"unknown parameter on the command line", good, "--set roll_kq=3", 2,
         "--set \"roll_kq=3\": unknown parameter \"roll_kq\"" + std::string(valid)},
        {"unknown parameter in a file", good, "--params p.txt", 1,
         "p.txt:2: unknown parameter \"roll_kq\"" + std::string(valid)},
    };
    write("p.txt", "lat_max = 120\nroll_kq = 3\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove("in.csv");
        if (!c.csv.empty()) write("in.csv", c.csv);
        const Result fresh = run(c.args + " in.csv -o new.csv");
        EXPECT_EQ(fresh.status, c.status);
        EXPECT_THAT(fresh.err, HasSubstr(c.message));
        write("old.csv", "keep\n");
        EXPECT_EQ(run(c.args + " in.csv -o old.csv").status, c.status);
        EXPECT_EQ(slurp("old.csv"), "keep\n");
        std::set<std::string> left = files();
        left.erase("in.csv");
        EXPECT_EQ(left, (std::set<std::string>{"old.csv", "p.txt"}));  // no temporary file either
    }
}

// Where -o points decides how it is written: a regular file is replaced
// whole at the end, a link is followed (and stays a link), a FIFO or a
// device is written into (replacing it would put a regular file in place of
// the reader's FIFO or of /dev/null).
TEST_F(GuideRun, OutputKeepsWhatItsPathIs) {
    write("flight.csv", flight_csv(kInputs));
    const std::string replay = run("flight.csv").out;
    ASSERT_FALSE(replay.empty());
    fs::create_directory("sub");
    const struct {
        const char* situation;
        std::function<bool()> make;  // false: cannot be made here (no privilege)
        const char* path;
        std::function<void()> check;
    } cases[] = {
        {"link to a file",
         [this] {
             write("target.csv", "old\n");
             fs::create_symlink("target.csv", "link.csv");
             return true;
         },
         "link.csv",
         [&] {
             EXPECT_TRUE(fs::is_symlink("link.csv"));
             EXPECT_EQ(slurp("target.csv"), replay);
         }},
        {"link to a link into a folder",
         [] {
             fs::create_symlink("sub/t.csv", "l1");
             fs::create_symlink("l1", "l2");
             return true;
         },
         "l2",
         [&] {
             EXPECT_TRUE(fs::is_symlink("l1") && fs::is_symlink("l2"));
             EXPECT_EQ(slurp("sub/t.csv"), replay);
         }},
        {"character device", [] { return mknod("null", S_IFCHR | 0666, makedev(1, 3)) == 0; },
         "null", [] { EXPECT_TRUE(fs::is_character_file("null")); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        if (!c.make()) continue;
        const Result r = run(std::string("flight.csv -o ") + c.path);
        ASSERT_EQ(r.status, 0) << r.err;
        c.check();
    }

    // A FIFO's reader gets every row; the FIFO stays.
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    std::string read_back;
    std::thread reader([&] { read_back = slurp("fifo"); });
    const Result r = run("flight.csv -o fifo");
    reader.join();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_back, replay);
    EXPECT_TRUE(fs::is_fifo("fifo"));
}

// -o naming standard output (or any descriptor the shell opened) writes
// into that open file, where the shell left it: what was written before and
// after stays, ">>" keeps appending, and a pipe's reader gets the rows.
TEST_F(GuideRun, StandardOutputPathsWriteWhereTheShellPointsThem) {
    write("flight.csv", flight_csv(kInputs));
    const std::string replay = run("flight.csv").out;
    ASSERT_FALSE(replay.empty());
    const std::string tool = "'" GUIDE_RUN_PATH "' flight.csv -o ";
    const struct {
        const char* situation;
        std::string shell;
        std::string expected;
    } cases[] = {
        {"braced group into a new file",
         "{ echo BEFORE; " + tool + "/dev/stdout; echo AFTER; } > g.txt",
         "BEFORE\n" + replay + "AFTER\n"},
        {"appended to a log",
         "echo OLD > g.txt; " + tool + "/dev/stdout >> g.txt; echo AFTER >> g.txt",
         "OLD\n" + replay + "AFTER\n"},
        {"piped to a reader", tool + "/dev/stdout | cat > g.txt", replay},
        {"descriptor 3 by its /proc name",
         "{ echo BEFORE >&3; " + tool + "/proc/self/fd/3; } 3> g.txt", "BEFORE\n" + replay},
        {"/dev/fd of a descriptor in append mode",
         "echo OLD > g.txt; " + tool + "/dev/fd/4 4>> g.txt", "OLD\n" + replay},
        {"a link to /dev/stdout", "ln -s /dev/stdout out.lnk; " + tool + "out.lnk > g.txt", replay},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        fs::remove("g.txt");
        fs::remove("out.lnk");
        const int status = std::system(("set -e; " + c.shell + " 2>../err").c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << slurp("../err");
        EXPECT_EQ(slurp("g.txt"), c.expected);
        EXPECT_TRUE(fs::is_symlink("/dev/stdout"));
    }
    fs::remove("out.lnk");
    EXPECT_EQ(files(), (std::set<std::string>{"flight.csv", "g.txt"}));
}

// A read-only file is refused as "> file" in a shell refuses it, and left
// as it was. Root may write any file, so this runs as the user nobody.
TEST_F(GuideRun, ReadOnlyOutputIsRefusedAndKept) {
    write("flight.csv", flight_csv(kInputs));
    write("mine.csv", "mine\n");
    fs::permissions(base, fs::perms::all);
    fs::permissions(base / "files", fs::perms::all);
    fs::permissions("flight.csv",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions("mine.csv",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    if (std::system("setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null") != 0) {
        GTEST_SKIP() << "cannot run as the user nobody here";
    }
    const int status =
        std::system("setpriv --reuid=65534 --regid=65534 --clear-groups '" GUIDE_RUN_PATH
                    "' flight.csv -o mine.csv "
                    ">../out 2>../err");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_THAT(slurp("../err"), HasSubstr("mine.csv: cannot write: Permission denied"));
    EXPECT_EQ(slurp("mine.csv"), "mine\n");
    EXPECT_EQ(files(), (std::set<std::string>{"flight.csv", "mine.csv"}));
    // The same file, writable, is replaced as ever.
    fs::permissions("mine.csv", fs::perms::others_write, fs::perm_options::add);
    EXPECT_EQ(std::system("setpriv --reuid=65534 --regid=65534 --clear-groups '" GUIDE_RUN_PATH
                          "' flight.csv -o mine.csv 2>../err"),
              0)
        << slurp("../err");
    EXPECT_EQ(slurp("mine.csv"), run("flight.csv").out);
}

// A file that cannot be read is bad data that says why, never an empty
// file; one that cannot be written is a file system that cannot be used.
TEST_F(GuideRun, UnreadableFilesAreRefusedWithTheReason) {
    write("flight.csv", flight_csv(kInputs));
    fs::create_directory("folder");
    const struct {
        const char* situation;
        const char* args;
        int status;
        const char* message;
    } cases[] = {
        {"parameter file is a folder", "--params folder flight.csv", 1,
         "folder: cannot read: Is a directory"},
        {"input is a folder", "folder", 1, "folder: cannot read: Is a directory"},
        {"no parameter file", "--params none.txt flight.csv", 2,
         "none.txt: cannot read: No such file or directory"},
        {"output into a missing folder", "-o none/out.csv flight.csv", 3,
         "none/out.csv: cannot create: No such file"},
        {"output onto a folder", "-o folder flight.csv", 3, "folder: cannot write: Is a directory"},
        {"a missing file whose name holds a line break", "'none\nfile.csv'", 2,
         "none\\nfile.csv: cannot read: No such file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        const Result r = run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_THAT(r.err, HasSubstr(c.message));
        EXPECT_EQ(r.out, "");
    }
}

// A message shows what was read, escaped and cut short, on one line.
TEST_F(GuideRun, BadTextIsShownEscapedAndCut) {
    const std::string row_start = "220,5,";
    const struct {
        const char* situation;
        std::string azim;
        std::string shown;
    } cases[] = {
        {"carriage return inside a field", "3\r0", "\"3\\r0\""},
        {"NUL byte", std::string("3\0", 2), "\"3\\x00\""},
        {"byte above ASCII", "3\xff", "\"3\\xff\""},
        {"a huge cell", std::string(100000, '7') + "x",
         "\"" + std::string(kQuotedMax, '7') + "...\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        write("in.csv",
              join(kInputs) + row_start + c.azim + ",0,0,0,0,1,0,0,0,200,0,200,0,0,3000,0,7\n");
        const Result r = run("in.csv");
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr("in.csv:2: column 3 (azim_cmd): not a number: " + c.shown));
        EXPECT_LT(r.err.size(), 200u);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    }
}

// Rows typed or piped in one at a time leave one at a time, before the
// input ends.
TEST_F(GuideRun, PipedRowsLeaveAsTheyCome) {
    int to_tool[2], from_tool[2];
    ASSERT_EQ(pipe(to_tool), 0);
    ASSERT_EQ(pipe(from_tool), 0);
    posix_spawn_file_actions_t io;
    posix_spawn_file_actions_init(&io);
    posix_spawn_file_actions_adddup2(&io, to_tool[0], 0);
    posix_spawn_file_actions_adddup2(&io, from_tool[1], 1);
    posix_spawn_file_actions_addclose(&io, to_tool[1]);
    posix_spawn_file_actions_addclose(&io, from_tool[0]);
    char prog[] = GUIDE_RUN_PATH, dash[] = "-";
    char* argv[] = {prog, dash, nullptr};
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, prog, &io, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&io);
    close(to_tool[0]);
    close(from_tool[1]);

    const std::string text = flight_csv(kInputs);
    const std::string first_two = text.substr(0, text.find('\n', text.find('\n') + 1) + 1);
    ASSERT_EQ(::write(to_tool[1], first_two.data(), first_two.size()),
              static_cast<ssize_t>(first_two.size()));
    std::string got;
    for (int waited_ms = 0; std::count(got.begin(), got.end(), '\n') < 2 && waited_ms < 10000;
         waited_ms += 10) {
        pollfd p{from_tool[0], POLLIN, 0};
        if (poll(&p, 1, 10) == 1) {
            char block[4096];
            const ssize_t n = ::read(from_tool[0], block, sizeof block);
            if (n <= 0) break;
            got.append(block, static_cast<size_t>(n));
        }
    }
    close(to_tool[1]);  // only now does the input end
    int status;
    waitpid(pid, &status, 0);
    close(from_tool[0]);
    EXPECT_EQ(std::count(got.begin(), got.end(), '\n'), 2)
        << "header and first row before the input ended";
}

// Each row is one 0.01 s step; a recording at another rate draws one warning.
TEST_F(GuideRun, TimeSpacingOtherThanTheStepIsWarnedOnce) {
    const struct {
        const char* situation;
        double spacing_s;
        bool warned;
    } cases[] = {
        {"100 Hz recording", 0.01, false},
        {"20 Hz recording", 0.05, true},
        {"1 kHz recording", 0.001, true},
    };
    Row columns = {"time"};
    columns.insert(columns.end(), kInputs.begin(), kInputs.end());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        std::string text = join(columns);
        for (int i = 0; i < 5; ++i) {
            char t[32];
            std::snprintf(t, sizeof t, "%.17g,", i * c.spacing_s);
            text += t + typical_row();
        }
        write("in.csv", text);
        const Result r = run("in.csv");
        EXPECT_EQ(r.status, 0) << r.err;
        const auto warnings = std::count(r.err.begin(), r.err.end(), '\n');
        EXPECT_EQ(warnings, c.warned ? 1 : 0) << r.err;
        if (c.warned) EXPECT_THAT(r.err, HasSubstr("in.csv:3: time advances by"));
    }
}
