// guide-run: replays recorded inputs through libGuide.so. Each CSV row is one
// 0.01 s step; each step writes one CSV row with the input file's columns and
// the commands the law gave (and, on request, the states it kept).
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "csv_stream.h"
#include "files.h"
#include "guide_fields.h"
#include "guide_library.h"
#include "law_constants.h"
#include "replay_layout.h"
#include "tool_error.h"
#include "tool_options.h"

namespace {

// A recording whose rows are further apart than this from the law's step is
// replayed at the wrong pace; the bound leaves room for rounding in the
// recorder's clock.
constexpr double kStepTolerance_s = 1e-6;

struct Options {
    std::string input;
    std::string output = "-";
    bool states = false;
    ParameterOptions params;
    std::string library = default_library_path();
};

// Warns once, on standard error, when the time column's spacing is not the
// law's step: each row is one step, whatever the recorder's rate.
class StepPaceCheck {
public:
    void row(const ReplayLayout& layout, const std::vector<std::string_view>& fields,
             const std::string& where) {
        if (warned_ || layout.time_column < 0) return;
        double t;
        if (parse_number(fields[static_cast<size_t>(layout.time_column)], t) != NumberError::none)
            return;
        if (has_last_ && !(std::fabs((t - last_) - kStep_s) <= kStepTolerance_s)) {
            std::cerr << "guide-run: warning: " << where << "time advances by "
                      << number_text(t - last_) << " s, but every row is replayed as one "
                      << number_text(kStep_s) << " s step\n";
            warned_ = true;
        }
        last_ = t;
        has_last_ = true;
    }

private:
    bool warned_ = false, has_last_ = false;
    double last_ = 0.0;
};

void replay(const Options& opt) {
    const std::vector<Assignment> params = read_parameter_options(opt.params);

    const bool from_stdin = opt.input == "-";
    const std::string name = from_stdin ? "<stdin>" : opt.input;
    std::ifstream file;
    std::vector<char> file_buffer(1 << 20);
    if (!from_stdin) {
        check_readable(opt.input);
        file.rdbuf()->pubsetbuf(file_buffer.data(),
                                static_cast<std::streamsize>(file_buffer.size()));
        file.open(opt.input);
        if (!file) fail(kExitFailed, name + ": cannot read");
    }
    std::istream& in = from_stdin ? std::cin : file;

    // The header: the first line that is not blank.
    std::string line;
    std::vector<std::string_view> fields;
    long number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (number == 1) line.erase(0, line.size() - without_byte_order_mark(line).size());
        if (!is_blank(line)) break;
    }
    if (in.bad()) fail(kExitFailed, name + ": cannot read");
    if (is_blank(line)) fail(kExitFailed, name + ": no header line");
    split_fields(line, fields);
    const ReplayLayout layout =
        plan_layout(fields, opt.states, name + ":" + std::to_string(number) + ": ");

    GuideLibrary lib = load_guide_library(opt.library);
    lib.initialize();
    apply_parameters(*lib.params, params);

    OutputFile out;
    out.open(opt.output);
    // Rows typed or piped in one at a time leave one at a time.
    out.set_live(from_stdin ? is_live_stream(STDIN_FILENO) : is_live_path(opt.input));
    out.buffer() += layout.header;
    out.flush_row();

    double* const u = input_values(*lib.inputs);
    const double* const y = output_values(*lib.outputs);
    const double* const dw = state_values(*lib.states);
    StepPaceCheck pace;
    while (std::getline(in, line)) {
        ++number;
        if (is_blank(line)) continue;
        split_fields(line, fields);
        const std::string where = name + ":" + std::to_string(number) + ": ";
        read_row_inputs(layout, fields, u, where);
        pace.row(layout, fields, where);
        lib.step();
        append_row(layout, fields, y, dw, out.buffer());
        out.flush_row();
    }
    if (in.bad()) fail(kExitFailed, name + ": cannot read");
    lib.terminate();
    out.commit();
}

const char* const kDescription =
    "Replays recorded inputs through libGuide.so: each row of INPUT is one\n"
    "0.01 s step of the guidance law, and each step writes one row with the\n"
    "commands it gave. The model is initialised once, before the first row;\n"
    "the parameters of --params and then of --set are applied after that.";

const char* const kFooter =
    "INPUT is a CSV file whose first line names its columns. It needs one\n"
    "column for each of the 19 inputs, in any order:\n"
    "  speed_cmd elev_cmd azim_cmd ext_weight ext_nz ext_bank ext_throttle\n"
    "  mode yaw pitch roll tas vel_up vel_north vel_east roll_rate altitude\n"
    "  ext_lat aux_in\n"
    "Fields are separated by commas, without quotes; spaces around a field are\n"
    "ignored, CRLF line endings and a UTF-8 byte-order mark are accepted and\n"
    "blank lines are skipped. Numbers are decimal or exponent notation, nan,\n"
    "inf or -inf. A time column whose spacing is not 0.01 s draws a warning.\n"
    "\n"
    "The output keeps INPUT's layout: every column in its place with its text,\n"
    "except lat_cmd nz_cmd throttle_cmd aux_out and, with --states, the 16\n"
    "states, which get the replayed values (appended when INPUT lacks them).\n"
    "So a guide-sim recording replayed with its parameters is the same file:\n"
    "  guide-run --states --params out/sim/NAME.params -o replay.csv \\\n"
    "      out/sim/NAME.csv && cmp replay.csv out/sim/NAME.csv\n"
    "Numbers are written in the shortest form that reads back to the same\n"
    "double. Rows read from a terminal or pipe are written as they come.\n"
    "\n"
    "An output file is written under a temporary name and renamed only when\n"
    "complete (a symbolic link is followed; a device or FIFO is written to\n"
    "directly); after an error an earlier file of that name is left as it was.\n"
    "A read-only file is refused. /dev/stdout and /proc/self/fd/N are written\n"
    "where the shell points them (\">> log\" keeps appending).\n"
    "\n";

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    Options opt;
    CLI::App app(kDescription, "guide-run");
    app.footer(std::string(kFooter) + kExitStatusHelp +
               "\n\nExample:\n  guide-run --states --set roll_kp=3 -o replay.csv flight.csv");
    app.add_option("INPUT", opt.input, "CSV of recorded inputs; - reads standard input")
        ->type_name("FILE")
        ->required();
    add_output_option(app, opt.output,
                      "where to write the CSV; - (the default) is\nstandard output")
        ->type_name("FILE");
    app.add_flag("--states", opt.states, "also write the 16 states after each step");
    add_parameter_options(app, opt.params);
    add_library_option(app, opt.library);
    add_version_option(app, "guide-run");
    parse_command_line(app, "guide-run", argc, argv);
    end_cleanly_on_interrupt("guide-run");
    return run_reporting_errors("guide-run", [&] { replay(opt); });
}
