#include "values.h"

#include <charconv>
#include <cmath>

#include "guide_fields.h"
#include "record_fields.h"
#include "tool_error.h"

NumberError parse_number(std::string_view text, double& value) {
    // from_chars takes a '-' but not a '+'; "+-1" stays an error.
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text[0] == '+' || text[0] == '-')) return NumberError::not_a_number;
    }
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value, std::chars_format::general);
    if (text.empty() || stop != end) return NumberError::not_a_number;
    if (ec == std::errc::result_out_of_range) return NumberError::out_of_range;
    return ec == std::errc() ? NumberError::none : NumberError::not_a_number;
}

double number_or_fail(std::string_view text, const std::string& what) {
    double value = 0.0;
    switch (parse_number(text, value)) {
        case NumberError::none: return value;
        case NumberError::out_of_range:
            fail(kExitFailed, what + ": out of range: " + quote_text(text));
        case NumberError::not_a_number: break;
    }
    fail(kExitFailed, what + ": not a number: " + quote_text(text));
}

void append_number(std::string& out, double value) {
    if (std::isnan(value)) {  // to_chars would print a negative NaN as "-nan"
        out += "nan";
        return;
    }
    char text[32];
    const auto [stop, ec] = std::to_chars(text, text + sizeof text, value);
    out.append(text, stop);
}

std::string number_text(double value) {
    std::string s;
    append_number(s, value);
    return s;
}

std::string_view trim(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string_view without_byte_order_mark(std::string_view text) {
    constexpr std::string_view kMark = "\xEF\xBB\xBF";
    return text.substr(0, kMark.size()) == kMark ? text.substr(kMark.size()) : text;
}

Assignment parse_assignment(std::string_view text, const std::string& where) {
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos)
        fail(kExitFailed, where + ": expected NAME=VALUE, got " + quote_text(text));
    Assignment a{std::string(trim(text.substr(0, eq))), 0.0};
    if (a.name.empty()) fail(kExitFailed, where + ": no name before '=' in " + quote_text(text));
    a.value = number_or_fail(trim(text.substr(eq + 1)), where + ": value of " + quote_text(a.name));
    return a;
}

Assignment parse_parameter_assignment(std::string_view text, const std::string& where) {
    const Assignment a = parse_assignment(text, where);
    GuideWParams scratch{};
    try {
        set_parameter(scratch, a.name, a.value);
    } catch (const ToolError& e) {
        fail(e.code, where + ": " + e.what());
    }
    return a;
}

std::vector<Assignment> parse_parameter_text(std::string_view text, const std::string& origin) {
    text = without_byte_order_mark(text);
    std::vector<Assignment> list;
    for (long number = 1; !text.empty(); ++number) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        const std::string where = origin + ":" + std::to_string(number);
        list.push_back(parse_parameter_assignment(line, where));
        for (size_t i = 0; i + 1 < list.size(); ++i) {
            if (list[i].name == list.back().name) {
                fail(kExitFailed, where + ": " + quote_text(list.back().name) + " is set twice");
            }
        }
    }
    return list;
}

std::string parameter_text(const GuideWParams& p) {
    std::string text;
    const char* const base = reinterpret_cast<const char*>(&p);
    for (const guidew_fields::ParamField& f : guidew_fields::kParams) {
        const int n = f.length == 0 ? 1 : f.length;
        for (int i = 0; i < n; ++i) {
            text += f.name;
            if (f.length > 0) text += "[" + std::to_string(i) + "]";
            text += " = ";
            if (f.is_integer) {
                text += std::to_string(reinterpret_cast<const uint32_t*>(base + f.offset)[i]);
            } else {
                append_number(text, reinterpret_cast<const double*>(base + f.offset)[i]);
            }
            text += '\n';
        }
    }
    return text;
}

void check_names_unique(const std::vector<Assignment>& list, const std::string& what) {
    for (size_t j = 0; j < list.size(); ++j) {
        for (size_t i = 0; i < j; ++i) {
            if (list[i].name == list[j].name)
                fail(kExitUsage, what + ": " + quote_text(list[j].name) + " is given twice");
        }
    }
}
