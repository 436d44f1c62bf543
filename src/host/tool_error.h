// How every host program reports a failure: a ToolError carrying the exit
// status and a message that names the place of the fault (file:line:column,
// a key path, an option). Functions throw it; each program's main catches it
// once, prints "PROGRAM: message" on standard error and exits with its code.
#ifndef TOOL_ERROR_H
#define TOOL_ERROR_H

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

// The exit status of every tool.
enum ExitCode : int {
    kExitOk = 0,             // done; every check passed
    kExitFailed = 1,         // a check failed, or a file held bad data
    kExitUsage = 2,          // bad command line, or an input file that is not there
    kExitEnvironment = 3,    // the library, a file system or the plotting package cannot be used
    kExitInterrupted = 130,  // Ctrl-C: 128 + SIGINT, as a shell reports it
};

// The exit-status paragraph of every --help.
extern const char* const kExitStatusHelp;

class ToolError : public std::runtime_error {
public:
    ToolError(int exit_code, const std::string& message)
        : std::runtime_error(message), code(exit_code) {}
    int code;
};

[[noreturn]] void fail(int code, const std::string& message);

// text between double quotes as an error message may show it: control
// characters and other bytes that are not printable escaped (\r, \t, \x00),
// and anything beyond kQuotedMax characters cut with "...".
constexpr size_t kQuotedMax = 40;
std::string quote_text(std::string_view text);

// text with the same escapes, neither quoted nor cut: for the messages of
// libraries that echo what they read.
std::string escape_text(std::string_view text);

// Runs body and turns a ToolError (or any other exception, as status 1)
// into its message on standard error and its exit status.
int run_reporting_errors(const char* program, const std::function<void()>& body);

#endif
