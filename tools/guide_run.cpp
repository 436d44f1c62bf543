// guide-run: replays recorded inputs through libGuide.so. Each CSV row is one
// 0.01 s step; each step writes one CSV row with the commands it gave (and,
// on request, the states it kept).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "csv_stream.h"
#include "guide_fields.h"
#include "guide_library.h"

namespace {

constexpr int kExitData = 1;   // bad input file, parameter file, library or I/O
constexpr int kExitUsage = 2;  // bad command line

struct RunError {
    int code;
    std::string message;
};

[[noreturn]] void fail(int code, const std::string& message) { throw RunError{code, message}; }

std::string quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

std::string number_problem(NumberError e, std::string_view text) {
    return (e == NumberError::out_of_range ? "out of range: " : "not a number: ") + quoted(text);
}

// ---- parameters ------------------------------------------------------------

struct Assignment {
    std::string name;
    double value;
};

// Reads "NAME=VALUE" (spaces allowed around both); problems are described
// for a message that starts with where the text came from.
bool parse_assignment(std::string_view text, Assignment& a, std::string& problem) {
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        problem = "expected NAME = VALUE, got " + quoted(text);
        return false;
    }
    a.name = std::string(trim(text.substr(0, eq)));
    const std::string_view value = trim(text.substr(eq + 1));
    const NumberError e = parse_number(value, a.value);
    if (e != NumberError::none) {
        problem = "value of " + a.name + ": " + number_problem(e, value);
        return false;
    }
    GuideWParams scratch{};  // checks the name before any file is touched
    problem = set_parameter(scratch, a.name, a.value);
    return problem.empty();
}

void read_params_file(const std::string& path, std::vector<Assignment>& out) {
    std::ifstream in(path);
    if (!in) fail(kExitData, path + ": cannot open: " + std::strerror(errno));
    std::string line, problem;
    for (long number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string_view text = trim(std::string_view(line).substr(0, line.find('#')));
        if (text.empty()) continue;
        Assignment a;
        if (!parse_assignment(text, a, problem)) {
            fail(kExitData, path + ":" + std::to_string(number) + ": " + problem);
        }
        out.push_back(a);
    }
}

// ---- columns ---------------------------------------------------------------

// One written column: an input column's text, an output or a state.
struct OutColumn {
    enum Kind { passed, output, state } kind;
    int index;  // input column, output or state number
};

struct Layout {
    size_t field_count = 0;          // fields of every input row
    int input_column[kInputCount];   // input column of each model input
    std::vector<OutColumn> columns;  // written columns, in order
    std::string header;
};

std::string column_label(size_t j, std::string_view name) {
    return "column " + std::to_string(j + 1) + " (" + std::string(name) + ")";
}

Layout plan_layout(const std::vector<std::string_view>& names, bool states,
                   const std::string& where) {
    Layout l;
    l.field_count = names.size();
    std::fill(std::begin(l.input_column), std::end(l.input_column), -1);
    bool output_placed[kOutputCount] = {};
    bool state_placed[kStateCount] = {};
    for (size_t j = 0; j < names.size(); ++j) {
        const std::string name(names[j]);
        if (name.empty()) fail(kExitData, where + "column " + std::to_string(j + 1) + " has no name");
        for (size_t i = 0; i < j; ++i) {
            if (names[i] == names[j]) {
                fail(kExitData, where + column_label(j, name) + ": same name as column " +
                                    std::to_string(i + 1));
            }
        }
        const int col = static_cast<int>(j);
        int k = field_index(kInputNames, kInputCount, name);
        if (k >= 0) {
            l.input_column[k] = col;
        } else if ((k = field_index(kOutputNames, kOutputCount, name)) >= 0) {
            l.columns.push_back({OutColumn::output, k});
            output_placed[k] = true;
        } else if (states && (k = field_index(kStateNames, kStateCount, name)) >= 0) {
            l.columns.push_back({OutColumn::state, k});
            state_placed[k] = true;
        } else {
            l.columns.push_back({OutColumn::passed, col});
        }
    }
    std::string missing;
    for (int k = 0; k < kInputCount; ++k) {
        if (l.input_column[k] < 0) missing += (missing.empty() ? "" : ", ") + std::string(kInputNames[k]);
    }
    if (!missing.empty()) fail(kExitData, where + "missing input column(s): " + missing);

    for (int k = 0; k < kOutputCount; ++k) {
        if (!output_placed[k]) l.columns.push_back({OutColumn::output, k});
    }
    for (int k = 0; states && k < kStateCount; ++k) {
        if (!state_placed[k]) l.columns.push_back({OutColumn::state, k});
    }
    for (const OutColumn& c : l.columns) {
        if (!l.header.empty()) l.header += ',';
        l.header += c.kind == OutColumn::passed ? names[static_cast<size_t>(c.index)]
                    : c.kind == OutColumn::output ? kOutputNames[c.index]
                                                  : kStateNames[c.index];
    }
    l.header += '\n';
    return l;
}

// ---- the replay ------------------------------------------------------------

struct Options {
    std::string input;
    std::string output = "-";
    bool states = false;
    std::vector<std::string> sets;
    std::string params_file;
    std::string library = default_library_path();
};

void replay(const Options& opt) {
    std::vector<Assignment> params;
    if (!opt.params_file.empty()) read_params_file(opt.params_file, params);
    for (const std::string& s : opt.sets) {
        Assignment a;
        std::string problem;
        if (!parse_assignment(s, a, problem)) fail(kExitUsage, "--set " + s + ": " + problem);
        params.push_back(a);
    }

    const bool from_stdin = opt.input == "-";
    const std::string name = from_stdin ? "<stdin>" : opt.input;
    std::ifstream file;
    std::vector<char> file_buffer(1 << 20);
    if (!from_stdin) {
        file.rdbuf()->pubsetbuf(file_buffer.data(), static_cast<std::streamsize>(file_buffer.size()));
        file.open(opt.input);
        if (!file) fail(kExitData, name + ": cannot open: " + std::strerror(errno));
    }
    std::istream& in = from_stdin ? std::cin : file;

    // The header: the first line that is not blank.
    std::string line;
    std::vector<std::string_view> fields;
    long number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // UTF-8 mark
        if (!is_blank(line)) break;
    }
    if (is_blank(line)) fail(kExitData, name + ": no header line");
    split_fields(line, fields);
    const Layout layout = plan_layout(fields, opt.states, name + ":" + std::to_string(number) + ": ");

    GuideLibrary lib;
    std::string error;
    if (!load_guide_library(opt.library, lib, error)) fail(kExitData, error);
    lib.initialize();
    for (const Assignment& a : params) set_parameter(*lib.params, a.name, a.value);

    CsvOutput out;
    if (!out.open(opt.output, error)) fail(kExitData, error);
    std::string& text = out.buffer();
    text += layout.header;

    double* const u = input_values(*lib.inputs);
    const double* const y = output_values(*lib.outputs);
    const double* const dw = state_values(*lib.states);
    while (std::getline(in, line)) {
        ++number;
        if (is_blank(line)) continue;
        split_fields(line, fields);
        const auto where = [&] { return name + ":" + std::to_string(number) + ": "; };
        if (fields.size() != layout.field_count) {
            fail(kExitData, where() + std::to_string(fields.size()) +
                                (fields.size() == 1 ? " field" : " fields") + ", but the header has " +
                                std::to_string(layout.field_count));
        }
        for (int k = 0; k < kInputCount; ++k) {
            const size_t j = static_cast<size_t>(layout.input_column[k]);
            const NumberError e = parse_number(fields[j], u[k]);
            if (e != NumberError::none) {
                fail(kExitData, where() + column_label(j, kInputNames[k]) + ": " +
                                    number_problem(e, fields[j]));
            }
        }
        lib.step();
        bool first = true;
        for (const OutColumn& c : layout.columns) {
            if (!first) text += ',';
            first = false;
            if (c.kind == OutColumn::passed) {
                text += fields[static_cast<size_t>(c.index)];
            } else {
                append_number(text, c.kind == OutColumn::output ? y[c.index] : dw[c.index]);
            }
        }
        text += '\n';
        if (!out.flush_if_full(error)) fail(kExitData, error);
    }
    if (in.bad()) fail(kExitData, name + ": cannot read: " + std::strerror(errno));
    lib.terminate();
    if (!out.commit(error)) fail(kExitData, error);
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
    "ignored, CRLF line endings are accepted and blank lines are skipped.\n"
    "Numbers are decimal or exponent notation, nan, inf or -inf.\n"
    "\n"
    "The output has every other column of INPUT, in its order and with its\n"
    "text (so a time column survives), then lat_cmd nz_cmd throttle_cmd\n"
    "aux_out and, with --states, the 16 states after the step. A column of\n"
    "INPUT named like one of these is not repeated: the new value takes its\n"
    "place, so replaying a recorded file keeps its layout. Numbers are\n"
    "written in the shortest form that reads back to the same double.\n"
    "\n"
    "An output file is written under a temporary name and renamed only when\n"
    "complete; after an error any earlier file of that name is left as it was.\n"
    "\n"
    "Exit status: 0 done; 1 bad input or parameter file, library or I/O error\n"
    "(the message names the file, line and column); 2 bad command line.\n"
    "\n"
    "Example:\n"
    "  guide-run --states --set roll_kp=3 -o replay.csv flight.csv";

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    Options opt;
    CLI::App app(kDescription, "guide-run");
    app.footer(kFooter);
    app.add_option("INPUT", opt.input, "CSV of recorded inputs; - reads standard input")
        ->type_name("FILE")
        ->required();
    app.add_option("-o,--output", opt.output,
                   "where to write the CSV; - (the default) is\nstandard output")
        ->type_name("FILE");
    app.add_flag("--states", opt.states, "also write the 16 states after each step");
    app.add_option("--set", opt.sets,
                   "set a parameter, e.g. roll_kp=3, thr_table[17]=0.5 or\n"
                   "thr_max_index[0]=9; may be repeated")
        ->type_name("NAME=VALUE")
        ->allow_extra_args(false);
    app.add_option("--params", opt.params_file,
                   "read parameters from FILE: lines NAME = VALUE,\n# comments")
        ->type_name("FILE");
    app.add_option("--library", opt.library,
                   "the library to load (default: libGuide.so next\nto this program)")
        ->type_name("PATH");
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return "guide-run: " + std::string(e.what()) + "\nRun with --help for more information.\n";
    });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kExitUsage;
    }

    try {
        replay(opt);
    } catch (const RunError& e) {
        std::cout.flush();
        std::cerr << "guide-run: " << e.message << '\n';
        return e.code;
    }
    return 0;
}
