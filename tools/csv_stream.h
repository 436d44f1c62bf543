// Streaming CSV for host tools: a line at a time, fields as views into one
// reused line buffer.
//
// The dialect: comma-separated, no quoting; spaces and tabs around a field
// are not part of it; a line may end in CRLF; a UTF-8 byte-order mark before
// the header is dropped. Numbers are read and written as values.h says.
#ifndef CSV_STREAM_H
#define CSV_STREAM_H

#include <string_view>
#include <vector>

#include "values.h"

// True for a line of nothing but spaces, tabs and a final '\r'.
bool is_blank(std::string_view line);

// Splits line at its commas into trimmed fields (views into line, after
// dropping a final '\r'). fields is cleared first, so one vector can be
// reused for every line.
void split_fields(std::string_view line, std::vector<std::string_view>& fields);

#endif
