// The values a user writes to the tools, read by one parser for each kind,
// whichever tool, file or option they come in:
//   - a number: decimal or exponent notation with an optional sign, "nan",
//     "inf" or "infinity" in any case; nothing else (no hex, no "1e999"
//     turned into inf, no "1e-400" turned into 0);
//   - NAME=VALUE, with spaces allowed around both;
//   - a parameter name: "roll_kp", "thr_table[17]", "thr_max_index[0]";
//   - a parameter file: one NAME = VALUE a line, '#' starts a comment,
//     blank lines skipped, CRLF endings and a UTF-8 byte-order mark accepted.
// Numbers are written back in the shortest form that reads back to the same
// double, and every NaN is written "nan".
#ifndef TOOL_VALUES_H
#define TOOL_VALUES_H

#include <string>
#include <string_view>
#include <vector>

#include "GuideW.h"

enum class NumberError { none, not_a_number, out_of_range };

// Reads a whole field as a double. Anything left over makes it not a
// number; a magnitude beyond the double range (or a nonzero value too small
// for the smallest subnormal) is out of range.
NumberError parse_number(std::string_view text, double& value);

// The number text holds; otherwise a ToolError (status 1) "WHAT: not a
// number: "text"" or "... out of range ...".
double number_or_fail(std::string_view text, const std::string& what);

// Appends the shortest text that parse_number reads back to the same double:
// "0.1", "5e-324", "-0", "inf", "-inf"; every NaN is written "nan".
void append_number(std::string& out, double value);
std::string number_text(double value);

// s without its surrounding spaces and tabs.
std::string_view trim(std::string_view s);

// text without a leading UTF-8 byte-order mark.
std::string_view without_byte_order_mark(std::string_view text);

struct Assignment {
    std::string name;
    double value;
};

// "NAME=VALUE" with a numeric value; the name is not checked. Throws a
// ToolError (status 1) whose message starts with where.
Assignment parse_assignment(std::string_view text, const std::string& where);

// A "NAME=VALUE" that sets a known parameter (checked against a scratch
// record).
Assignment parse_parameter_assignment(std::string_view text, const std::string& where);

// Every assignment of a parameter file's text; origin names the file in
// errors ("p.txt:3: ..."). A name given twice is refused.
std::vector<Assignment> parse_parameter_text(std::string_view text, const std::string& origin);

// The parameter file that parse_parameter_text reads back to exactly p:
// every scalar and every array element, one a line.
std::string parameter_text(const GuideWParams& p);

// Refuses a name given twice in one list; what names the list.
void check_names_unique(const std::vector<Assignment>& list, const std::string& what);

#endif
