// Streaming CSV for host tools: a line at a time, fields as views into one
// reused line buffer, numbers that read back to the same bits they were
// written from, and an output file that appears only once it is complete.
//
// The dialect: comma-separated, no quoting; spaces and tabs around a field
// are not part of it; a line may end in CRLF.
#ifndef CSV_STREAM_H
#define CSV_STREAM_H

#include <string>
#include <string_view>
#include <vector>

// s without its surrounding spaces and tabs.
std::string_view trim(std::string_view s);

// True for a line of nothing but spaces, tabs and a final '\r'.
bool is_blank(std::string_view line);

// Splits line at its commas into trimmed fields (views into line, after
// dropping a final '\r'). fields is cleared first, so one vector can be
// reused for every line.
void split_fields(std::string_view line, std::vector<std::string_view>& fields);

enum class NumberError { none, not_a_number, out_of_range };

// Reads a whole field as a double: decimal or exponent notation with an
// optional sign, "nan", "inf" or "infinity" in any case. Anything left over
// makes it not a number; a magnitude beyond the double range (or a nonzero
// value too small for the smallest subnormal) is out of range.
NumberError parse_number(std::string_view text, double& value);

// Appends the shortest text that parse_number reads back to the same double:
// "0.1", "5e-324", "-0", "inf", "-inf"; every NaN is written "nan".
void append_number(std::string& out, double value);

// Where the rows go: standard output for "-", streamed as they come;
// otherwise a temporary file beside path that commit() renames over path.
// Until then path is not touched, and a failure (or a SIGINT, SIGTERM or
// SIGHUP) removes the temporary file. Text is appended to buffer() and
// written in large blocks.
class CsvOutput {
public:
    CsvOutput() = default;
    CsvOutput(const CsvOutput&) = delete;
    CsvOutput& operator=(const CsvOutput&) = delete;
    ~CsvOutput() { abandon(); }

    // Each returns false and sets error ("PATH: what went wrong") on failure.
    bool open(const std::string& path, std::string& error);
    std::string& buffer() { return buffer_; }
    bool flush_if_full(std::string& error);
    bool commit(std::string& error);

    // Drops the temporary file, if there is one.
    void abandon();

private:
    bool write_buffer(std::string& error);

    std::string path_;
    std::string temp_path_;
    std::string buffer_;
    int fd_ = -1;
};

#endif
