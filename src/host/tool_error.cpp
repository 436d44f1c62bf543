#include "tool_error.h"

#include <cstdio>
#include <iostream>

const char* const kExitStatusHelp =
    "Exit status (the same in guide-step, guide-run, guide-sim, guide-campaign):\n"
    "  0    done, and every check held\n"
    "  1    a check failed, or an input file's content is bad or cannot be read\n"
    "       (the message names the file and the place in it)\n"
    "  2    bad command line: unknown option, bad option value, missing\n"
    "       argument, an input file that does not exist\n"
    "  3    environment: the library cannot be loaded, an output cannot be\n"
    "       written, Python or matplotlib is missing\n"
    "  130  interrupted by Ctrl-C";

void fail(int code, const std::string& message) { throw ToolError(code, message); }

namespace {

void append_escaped(std::string& out, char c) {
    const unsigned char b = static_cast<unsigned char>(c);
    switch (c) {
        case '\r': out += "\\r"; return;
        case '\n': out += "\\n"; return;
        case '\t': out += "\\t"; return;
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        default: break;
    }
    if (b < 0x20 || b >= 0x7f) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", b);
        out += hex;
    } else {
        out += c;
    }
}

}  // namespace

std::string quote_text(std::string_view text) {
    std::string out = "\"";
    size_t shown = 0;
    for (const char c : text) {
        if (shown == kQuotedMax) {
            out += "...";
            break;
        }
        ++shown;
        append_escaped(out, c);
    }
    return out + "\"";
}

std::string escape_text(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += c;
        } else {
            append_escaped(out, c);
        }
    }
    return out;
}

int run_reporting_errors(const char* program, const std::function<void()>& body) {
    try {
        body();
        return kExitOk;
    } catch (const ToolError& e) {
        std::cout.flush();
        std::fflush(stdout);
        std::cerr << program << ": " << e.what() << '\n';
        return e.code;
    } catch (const std::exception& e) {
        std::cout.flush();
        std::fflush(stdout);
        std::cerr << program << ": " << e.what() << '\n';
        return kExitFailed;
    }
}
