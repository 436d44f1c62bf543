// How guide-run maps a recorded CSV onto the model and back: which column
// feeds which input, and which columns the replay writes.
//
// The replay keeps the input file's layout: every column stays in its place
// with its text, except the outputs (and, with states, the states), whose
// columns get the replayed values; outputs and states the file lacks are
// appended. So replaying a recording of the simulator gives the same bytes
// when the law gives the same results.
#ifndef REPLAY_LAYOUT_H
#define REPLAY_LAYOUT_H

#include <string>
#include <string_view>
#include <vector>

#include "guide_fields.h"

// One written column: an input file's column passed on as text, an output
// or a state.
struct OutColumn {
    enum Kind { passed, output, state } kind;
    int index;  // input column, output or state number
};

struct ReplayLayout {
    size_t field_count = 0;          // fields of every input row
    int input_column[kInputCount];   // input column of each model input
    int time_column = -1;            // a column named "time", if any
    std::vector<OutColumn> columns;  // written columns, in order
    std::string header;              // written header line, with '\n'
};

// The layout for a header's column names; where ("FILE:LINE: ") starts every
// message. Refuses (ToolError, status 1) an empty or repeated name and a
// missing input.
ReplayLayout plan_layout(const std::vector<std::string_view>& names, bool states,
                         const std::string& where);

// Reads a row's inputs into u (record order); refuses a row of the wrong
// width or a field that is not a number, naming the column.
void read_row_inputs(const ReplayLayout& layout, const std::vector<std::string_view>& fields,
                     double* u, const std::string& where);

// Appends the written row: the passed fields' text, the outputs y and the
// states dw in the layout's order, with '\n'.
void append_row(const ReplayLayout& layout, const std::vector<std::string_view>& fields,
                const double* y, const double* dw, std::string& out);

#endif
