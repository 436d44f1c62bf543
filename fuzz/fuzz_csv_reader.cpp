// libFuzzer target: guide-run's CSV reader with its header mapping. Any
// bytes either load, row by row, or are refused at "in.csv:LINE: ". What
// loads is written back as guide-run writes it, and the written row reads
// back to the same inputs, bit for bit, with every passed column's text
// unchanged.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "csv_stream.h"
#include "reader_checks.h"
#include "replay_layout.h"
#include "tool_error.h"

namespace {

uint64_t bits(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// The written row holds every input at its column: the same text, so the
// same bits (NaN stays NaN).
void check_written_row(const ReplayLayout& layout, const std::vector<std::string_view>& fields,
                       const double* u, const std::string& written) {
    std::vector<std::string_view> back;
    split_fields(std::string_view(written).substr(0, written.size() - 1), back);
    if (back.size() != layout.columns.size()) fault("written row has the wrong width");
    for (size_t c = 0; c < layout.columns.size(); ++c) {
        const OutColumn& col = layout.columns[c];
        if (col.kind == OutColumn::passed && back[c] != fields[static_cast<size_t>(col.index)]) {
            fault("a passed column's text changed");
        }
    }
    // Read as guide-run would read the written file.
    double again[kInputCount];
    std::vector<std::string_view> names;
    split_fields(std::string_view(layout.header).substr(0, layout.header.size() - 1), names);
    const ReplayLayout as_input = plan_layout(names, true, "written: ");
    read_row_inputs(as_input, back, again, "written: ");
    for (int k = 0; k < kInputCount; ++k) {
        if (std::isnan(u[k]) ? !std::isnan(again[k]) : bits(u[k]) != bits(again[k]))
            fault("an input changed");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool states = data[0] & 1;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string_view rest = without_byte_order_mark(text);
    std::vector<std::string_view> fields;
    long number = 0;
    ReplayLayout layout;
    bool have_header = false;
    const double y[kOutputCount] = {150.0, -0.0, 1e-300, NAN};
    double dw[kStateCount];
    for (int k = 0; k < kStateCount; ++k) dw[k] = k * 0.1;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        ++number;
        if (is_blank(line)) continue;
        const std::string where = "in.csv:" + std::to_string(number) + ": ";
        split_fields(line, fields);
        try {
            if (!have_header) {
                layout = plan_layout(fields, states, where);
                have_header = true;
                continue;
            }
            double u[kInputCount];
            read_row_inputs(layout, fields, u, where);
            std::string written;
            append_row(layout, fields, y, dw, written);
            check_written_row(layout, fields, u, written);
        } catch (const ToolError& e) {
            check_refusal(e.what(), where);
            return 0;
        }
    }
    return 0;
}
