// Files as the tools read and write them: every read failure named with its
// reason (a directory is not an empty file), and output that never leaves a
// half-written file behind and never replaces what is not a regular file.
#ifndef TOOL_FILES_H
#define TOOL_FILES_H

#include <string>

// The whole content of path. A ToolError "PATH: cannot read: REASON" when it
// is missing (status 2), cannot be opened, is a directory, or a read fails
// (status 1).
std::string read_text_file(const std::string& path);

// Refuses a path that cannot be read as a stream of text: a missing file
// (status 2: the command line named it), an unreadable file or a directory
// (status 1).
void check_readable(const std::string& path);

// True when the descriptor is a terminal, pipe or socket: data arrives as
// someone produces it, so results should leave at once too.
bool is_live_stream(int fd);
bool is_live_path(const std::string& path);

// Where a tool's output goes:
//   "-"                standard output, streamed as it comes;
//   a regular file, or a path not there yet:
//                      a temporary file beside it that commit() renames
//                      over it; until then the path is not touched, and a
//                      failure (or a SIGINT, SIGTERM or SIGHUP) removes the
//                      temporary file;
//   a symbolic link    is followed, and its final target is replaced as
//                      above (the link stays a link);
//                      A file that may not be written (read-only, as
//                      "> file" in a shell refuses it) is refused;
//   /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N (also when reached
//   through links):    the open descriptor itself, written in place at its
//                      offset and in its append mode (the file the shell
//                      opened for "> log" or ">> log", or a pipe);
//   a character device, FIFO or socket:
//                      written to directly (it cannot be "replaced": a
//                      rename would put a regular file in place of
//                      /dev/null or of the reader's FIFO).
// Text is appended to buffer() and written in large blocks; live() makes
// every flush_row() write at once. Failures throw a ToolError (status 3:
// the file system cannot be used; "PATH: what went wrong").
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { abandon(); }

    void open(const std::string& path);
    std::string& buffer() { return buffer_; }
    // After each row: writes when the block is full, or at once when live.
    void flush_row();
    void set_live(bool live) { live_ = live; }
    bool writes_to_stream() const { return temp_path_.empty(); }
    void commit();

    // Drops the temporary file, if there is one.
    void abandon();

private:
    void write_buffer();

    std::string path_;
    std::string temp_path_;
    std::string buffer_;
    int fd_ = -1;
    bool owns_fd_ = false;
    bool live_ = false;
};

// Refuses (status 3, "PATH: cannot write: REASON") an existing target that
// this user may not write, before anything is written beside it.
void check_replaceable(const std::string& path, const std::string& target);

// Ctrl-C ends the program at once with status 130 and the one line
// "PROGRAM: interrupted", after removing a half-written output file; SIGTERM
// and SIGHUP remove it too and end the program by their signal.
void end_cleanly_on_interrupt(const char* program);

// Writes text to path whole or not at all, as OutputFile does.
void write_text_file(const std::string& path, const std::string& text);

#endif
