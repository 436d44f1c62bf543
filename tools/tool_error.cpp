#include "tool_error.h"

#include <cstdio>
#include <iostream>

const char* const kExitStatusHelp =
    "Exit status: 0 done (every check passed); 1 a check failed or a file\n"
    "held bad data (the message names the file and the place in it); 2 bad\n"
    "command line; 3 the library, a file system (an output that cannot be\n"
    "written) or the plotting package cannot be used.";

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
