// The command-line conventions every tool shares (CLI11): the parameter
// options --set and --params, the --library option, and the exit status of
// a bad command line.
#ifndef TOOL_OPTIONS_H
#define TOOL_OPTIONS_H

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "GuideW.h"
#include "values.h"

struct ParameterOptions {
    std::vector<std::string> sets;  // --set NAME=VALUE, in order
    std::string params_file;        // --params FILE
};

// Adds --set and --params to app.
void add_parameter_options(CLI::App& app, ParameterOptions& opt);

// Adds --library PATH to app: the libGuide.so to load, by default the one
// next to the program (library must hold that default already).
void add_library_option(CLI::App& app, std::string& library);

// The assignments of --params and then of --set (a later one wins): a bad
// --set is a bad command line (status 2), a bad file bad data (status 1).
std::vector<Assignment> read_parameter_options(const ParameterOptions& opt);

// Applies assignments that read_parameter_options has checked.
void apply_parameters(GuideWParams& p, const std::vector<Assignment>& list);

// Adds --version: prints "PROGRAM VERSION" (the project's version) and exits 0.
void add_version_option(CLI::App& app, const char* program);

// Adds -o, --output PATH (what it holds is the tool's own; help says so).
CLI::Option* add_output_option(CLI::App& app, std::string& output, const std::string& help);

// Parses argv; on --help prints it and exits 0, on a bad command line prints
// "PROGRAM: what\nRun with --help..." and exits 2.
void parse_command_line(CLI::App& app, const char* program, int argc, char** argv);

#endif
