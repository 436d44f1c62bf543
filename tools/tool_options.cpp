#include "tool_options.h"

#include <cstdlib>

#include "files.h"
#include "guide_fields.h"
#include "tool_error.h"

void add_parameter_options(CLI::App& app, ParameterOptions& opt) {
    app.add_option("--set", opt.sets,
                   "set a parameter, e.g. roll_kp=3, thr_table[17]=0.5 or\n"
                   "thr_max_index[0]=9; may be repeated (a name once)")
        ->type_name("NAME=VALUE")
        ->allow_extra_args(false);
    app.add_option("--params", opt.params_file,
                   "read parameters from FILE: lines NAME = VALUE,\n"
                   "# comments (guide-sim writes one per scenario)")
        ->type_name("FILE");
}

void add_library_option(CLI::App& app, std::string& library) {
    app.add_option("--library", library,
                   "the library to load (default: libGuide.so next\nto this program)")
        ->type_name("PATH");
}

void add_version_option(CLI::App& app, const char* program) {
    app.set_version_flag("--version", std::string(program) + " " GUIDE_PROJECT_VERSION,
                         "print the version and exit");
}

CLI::Option* add_output_option(CLI::App& app, std::string& output, const std::string& help) {
    return app.add_option("-o,--output", output, help);
}

std::vector<Assignment> read_parameter_options(const ParameterOptions& opt) {
    std::vector<Assignment> list;
    if (!opt.params_file.empty())
        list = parse_parameter_text(read_text_file(opt.params_file), opt.params_file);
    std::vector<Assignment> sets;
    for (const std::string& s : opt.sets) {
        try {
            sets.push_back(parse_parameter_assignment(s, "--set " + quote_text(s)));
        } catch (const ToolError& e) {
            fail(kExitUsage, e.what());
        }
    }
    check_names_unique(sets, "--set");
    list.insert(list.end(), sets.begin(), sets.end());
    return list;
}

void apply_parameters(GuideWParams& p, const std::vector<Assignment>& list) {
    for (const Assignment& a : list) set_parameter(p, a.name, a.value);
}

void parse_command_line(CLI::App& app, const char* program, int argc, char** argv) {
    app.failure_message([program](const CLI::App*, const CLI::Error& e) {
        return std::string(program) + ": " + e.what() + "\nRun with --help for more information.\n";
    });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        std::exit(app.exit(e) == 0 ? kExitOk : kExitUsage);
    }
}
