#include "replay_layout.h"

#include <algorithm>

#include "tool_error.h"
#include "values.h"

namespace {

// A column as a message names it: a header's own text quoted, an input by
// its name.
std::string header_column(size_t j, std::string_view name) {
    return "column " + std::to_string(j + 1) + " (" + quote_text(name) + ")";
}
std::string input_column(size_t j, const char* input) {
    return "column " + std::to_string(j + 1) + " (" + input + ")";
}

}  // namespace

ReplayLayout plan_layout(const std::vector<std::string_view>& names, bool states,
                         const std::string& where) {
    ReplayLayout l;
    l.field_count = names.size();
    std::fill(std::begin(l.input_column), std::end(l.input_column), -1);
    bool output_placed[kOutputCount] = {};
    bool state_placed[kStateCount] = {};
    for (size_t j = 0; j < names.size(); ++j) {
        const std::string name(names[j]);
        if (name.empty())
            fail(kExitFailed, where + "column " + std::to_string(j + 1) + " has no name");
        for (size_t i = 0; i < j; ++i) {
            if (names[i] == names[j]) {
                fail(kExitFailed, where + header_column(j, name) + ": same name as column " +
                                      std::to_string(i + 1));
            }
        }
        const int col = static_cast<int>(j);
        int k = field_index(kInputNames, kInputCount, name);
        if (k >= 0) {
            l.input_column[k] = col;
            l.columns.push_back({OutColumn::passed, col});
        } else if ((k = field_index(kOutputNames, kOutputCount, name)) >= 0) {
            l.columns.push_back({OutColumn::output, k});
            output_placed[k] = true;
        } else if (states && (k = field_index(kStateNames, kStateCount, name)) >= 0) {
            l.columns.push_back({OutColumn::state, k});
            state_placed[k] = true;
        } else {
            if (name == "time") l.time_column = col;
            l.columns.push_back({OutColumn::passed, col});
        }
    }
    std::string missing;
    for (int k = 0; k < kInputCount; ++k) {
        if (l.input_column[k] < 0)
            missing += (missing.empty() ? "" : ", ") + std::string(kInputNames[k]);
    }
    if (!missing.empty()) fail(kExitFailed, where + "missing input column(s): " + missing);

    for (int k = 0; k < kOutputCount; ++k) {
        if (!output_placed[k]) l.columns.push_back({OutColumn::output, k});
    }
    for (int k = 0; states && k < kStateCount; ++k) {
        if (!state_placed[k]) l.columns.push_back({OutColumn::state, k});
    }
    for (const OutColumn& c : l.columns) {
        if (!l.header.empty()) l.header += ',';
        l.header += c.kind == OutColumn::passed   ? names[static_cast<size_t>(c.index)]
                    : c.kind == OutColumn::output ? kOutputNames[c.index]
                                                  : kStateNames[c.index];
    }
    l.header += '\n';
    return l;
}

void read_row_inputs(const ReplayLayout& layout, const std::vector<std::string_view>& fields,
                     double* u, const std::string& where) {
    if (fields.size() != layout.field_count) {
        fail(kExitFailed, where + std::to_string(fields.size()) +
                              (fields.size() == 1 ? " field" : " fields") +
                              ", but the header has " + std::to_string(layout.field_count));
    }
    for (int k = 0; k < kInputCount; ++k) {
        const size_t j = static_cast<size_t>(layout.input_column[k]);
        u[k] = number_or_fail(fields[j], where + input_column(j, kInputNames[k]));
    }
}

void append_row(const ReplayLayout& layout, const std::vector<std::string_view>& fields,
                const double* y, const double* dw, std::string& out) {
    bool first = true;
    for (const OutColumn& c : layout.columns) {
        if (!first) out += ',';
        first = false;
        if (c.kind == OutColumn::passed) {
            out += fields[static_cast<size_t>(c.index)];
        } else {
            append_number(out, c.kind == OutColumn::output ? y[c.index] : dw[c.index]);
        }
    }
    out += '\n';
}
