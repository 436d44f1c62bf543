// guide-step: load libGuide.so, run one step of the guidance law from the
// typical flight (or inputs changed by name) and print the outputs by name.
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "files.h"
#include "guide_fields.h"
#include "guide_library.h"
#include "tool_error.h"
#include "tool_options.h"
#include "typical_flight.h"
#include "values.h"

namespace {

struct Options {
    std::vector<std::string> inputs;  // NAME=VALUE
    std::string output = "-";
    ParameterOptions params;
    bool states = false;
    std::string library = default_library_path();
};

// The typical flight with the named inputs changed; each name once.
GuideWInputs step_inputs(const std::vector<std::string>& assignments) {
    GuideWInputs u = kTypicalFlight;
    std::vector<Assignment> list;
    for (const std::string& text : assignments) {
        Assignment a;
        try {
            a = parse_assignment(text, quote_text(text));
        } catch (const ToolError& e) {
            fail(kExitUsage, e.what());
        }
        const int k = field_index(kInputNames, kInputCount, a.name);
        if (k < 0) {
            std::string names;
            for (const char* n : kInputNames) names += std::string(names.empty() ? "" : ", ") + n;
            fail(kExitUsage, "unknown input " + quote_text(a.name) + "; inputs are: " + names);
        }
        list.push_back(a);
        input_values(u)[k] = a.value;
    }
    check_names_unique(list, "inputs");
    return u;
}

void print_field(std::string& text, const char* name, double value) {
    char padded[32];
    std::snprintf(padded, sizeof padded, "%-16s ", name);
    text.append(padded).append(number_text(value)).append("\n");
}

void run_step(const Options& opt) {
    const GuideWInputs u = step_inputs(opt.inputs);
    const std::vector<Assignment> params = read_parameter_options(opt.params);
    GuideLibrary lib = load_guide_library(opt.library);
    lib.initialize();
    apply_parameters(*lib.params, params);
    lib.one_step(input_values(u));
    double out[kOutputCount];
    lib.get_output(out);
    std::string text;
    for (int i = 0; i < kOutputCount; ++i) print_field(text, kOutputNames[i], out[i]);
    if (opt.states) {
        for (int i = 0; i < kStateCount; ++i)
            print_field(text, kStateNames[i], state_values(*lib.states)[i]);
    }
    lib.guide_exit();
    write_text_file(opt.output, text);
}

const char* const kDescription =
    "guide-step: loads libGuide.so, initialises the model, runs one 0.01 s\n"
    "step and prints lat_cmd, nz_cmd, throttle_cmd and aux_out (and, with\n"
    "--states, the 16 states after the step).";

const char* const kFooter =
    "The inputs are the typical flight: level and wings level at 200 m/s\n"
    "towards azimuth 0 at 3000 m, commanded 30 deg right and 5 deg up at\n"
    "220 m/s in mode 1, aux_in 7. NAME=VALUE changes one input, for example\n"
    "azim_cmd=60 mode=4; each input at most once. Numbers are read as\n"
    "guide-run reads them (decimal or exponent notation, nan, inf) and printed\n"
    "in the shortest form that reads back to the same double.\n\n";

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    CLI::App app(kDescription, "guide-step");
    app.footer(std::string(kFooter) + kExitStatusHelp +
               "\n\nExample:\n  guide-step --set roll_kp=1 azim_cmd=60");
    app.add_option("INPUT", opt.inputs, "an input changed by name, e.g. azim_cmd=60")
        ->type_name("NAME=VALUE");
    app.add_flag("--states", opt.states, "also print the 16 states after the step");
    add_parameter_options(app, opt.params);
    add_library_option(app, opt.library);
    add_output_option(app, opt.output,
                      "where to write the outputs; - (the default)\nis standard output")
        ->type_name("FILE");
    add_version_option(app, "guide-step");
    parse_command_line(app, "guide-step", argc, argv);
    end_cleanly_on_interrupt("guide-step");
    return run_reporting_errors("guide-step", [&] { run_step(opt); });
}
