#include "files.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <string>

#include "tool_error.h"

namespace {

// A file that cannot be read is bad data (status 1); one that cannot be
// written means the file system cannot be used (status 3).
// A path is shown with its control characters escaped: a file name may
// hold any byte but a message stays one readable line.
[[noreturn]] void fail_errno(const std::string& path, const char* what, int err) {
    fail(kExitFailed, escape_text(path) + ": " + what + ": " + std::strerror(err));
}
[[noreturn]] void fail_write(const std::string& path, const char* what, int err) {
    fail(kExitEnvironment, escape_text(path) + ": " + what + ": " + std::strerror(err));
}

}  // namespace

void check_readable(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        // A file that is not there is a mistake on the command line (a
        // misspelt name), not bad data in a file.
        const int err = errno;
        if (err == ENOENT)
            fail(kExitUsage, escape_text(path) + ": cannot read: " + std::strerror(err));
        fail_errno(path, "cannot read", err);
    }
    if (S_ISDIR(st.st_mode)) fail_errno(path, "cannot read", EISDIR);
    if (access(path.c_str(), R_OK) != 0) fail_errno(path, "cannot read", errno);
}

std::string read_text_file(const std::string& path) {
    check_readable(path);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail_errno(path, "cannot read", errno);
    std::string text;
    char block[65536];
    for (;;) {
        const ssize_t n = read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            close(fd);
            fail_errno(path, "cannot read", err);
        }
        if (n == 0) break;
        text.append(block, static_cast<size_t>(n));
    }
    close(fd);
    return text;
}

bool is_live_stream(int fd) {
    struct stat st;
    if (isatty(fd)) return true;
    return fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

bool is_live_path(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 &&
           (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISCHR(st.st_mode));
}

// ---------------------------------------------------------------------------

namespace {

constexpr size_t kBlockSize = 1 << 20;
constexpr int kMaxLinkDepth = 40;

// The temporary file a signal handler must remove: one output at a time.
char g_temp_path[PATH_MAX];
volatile std::sig_atomic_t g_temp_pending = 0;

// "PROGRAM: interrupted\n", written by the handler (which may not allocate).
char g_interrupted_line[128];
size_t g_interrupted_length = 0;
bool g_handlers_installed = false;

// Ctrl-C: the half-written output goes, one line says so, and the status
// is 130 as for every tool. SIGTERM and SIGHUP: the output goes and the
// program ends by that signal, as its sender expects.
extern "C" void remove_temp_and_end(int sig) {
    if (g_temp_pending) unlink(g_temp_path);
    if (sig == SIGINT && g_interrupted_length > 0) {
        const ssize_t ignored = write(STDERR_FILENO, g_interrupted_line, g_interrupted_length);
        (void)ignored;
        _exit(kExitInterrupted);
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void install_signal_handlers() {
    if (g_handlers_installed) return;
    g_handlers_installed = true;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, remove_temp_and_end);
}

bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string directory_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The path a chain of symbolic links ends at (which need not exist yet).
std::string final_target(std::string path) {
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char target[PATH_MAX];
        const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
        if (n < 0) fail_write(path, "cannot follow link", errno);
        const std::string t(target, static_cast<size_t>(n));
        path = t[0] == '/' ? t : directory_of(path) + t;
    }
    fail_write(path, "cannot follow link", ELOOP);
}

// The descriptor a path names when it is one of the program's own open
// descriptors (/dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N,
// /proc/PID/fd/N of this process); -1 for any other path.
int descriptor_alias(const std::string& path) {
    if (path == "/dev/stdout") return STDOUT_FILENO;
    if (path == "/dev/stderr") return STDERR_FILENO;
    const std::string own = "/proc/" + std::to_string(getpid()) + "/fd/";
    for (const std::string prefix :
         {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/", own.c_str()}) {
        if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = path.substr(prefix.size());
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
            return -1;
        return std::stoi(digits);
    }
    return -1;
}

// The descriptor alias met along path's chain of symbolic links, or -1.
// /dev/stdout leads through /proc/self/fd/1 to whatever the shell opened
// (a pipe, a terminal, the file of "> log" or ">> log"): that open file is
// where the output belongs, at its offset and in its append mode; opening
// or replacing the file it names would overwrite what the shell wrote
// before, or cut the reader of the pipe off.
int descriptor_along(std::string path) {
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        const int fd = descriptor_alias(path);
        if (fd >= 0) return fd;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return -1;
        char target[PATH_MAX];
        const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
        if (n <= 0) return -1;
        const std::string t(target, static_cast<size_t>(n));
        path = t[0] == '/' ? t : directory_of(path) + t;
    }
    return -1;
}

}  // namespace

void check_replaceable(const std::string& path, const std::string& target) {
    // Renaming over a file needs only the folder's permission; the file's
    // own mode is what "> file" in a shell obeys, so a read-only file is
    // refused as the shell refuses it (root may write it there too).
    if (access(target.c_str(), F_OK) == 0 && access(target.c_str(), W_OK) != 0) {
        fail_write(path, "cannot write", errno);
    }
}

void end_cleanly_on_interrupt(const char* program) {
    const int n =
        std::snprintf(g_interrupted_line, sizeof g_interrupted_line, "%s: interrupted\n", program);
    g_interrupted_length =
        n > 0 ? std::min(static_cast<size_t>(n), sizeof g_interrupted_line - 1) : 0;
    install_signal_handlers();
}

void OutputFile::open(const std::string& path) {
    buffer_.reserve(kBlockSize + 4096);
    if (path == "-") {
        path_ = "<stdout>";
        fd_ = STDOUT_FILENO;
        return;
    }
    path_ = path;
    if (const int alias = descriptor_along(path); alias >= 0) {
        fd_ = fcntl(alias, F_DUPFD_CLOEXEC, 0);
        if (fd_ < 0) fail_write(path, "cannot write", errno);
        owns_fd_ = true;
        return;
    }
    const std::string target = final_target(path);
    struct stat st;
    const bool exists = stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) fail_write(path, "cannot write", EISDIR);
    if (exists && S_ISREG(st.st_mode)) check_replaceable(path, target);
    if (exists && !S_ISREG(st.st_mode)) {
        // A device, FIFO or socket: write into it, never replace it.
        fd_ = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) fail_write(path, "cannot write", errno);
        owns_fd_ = true;
        return;
    }
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "./" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    temp_path_ = dir + "." + base + ".XXXXXX";
    if (temp_path_.size() >= sizeof g_temp_path) {
        temp_path_.clear();
        fail_write(path, "cannot create", ENAMETOOLONG);
    }
    fd_ = mkstemp(temp_path_.data());
    if (fd_ < 0) {
        temp_path_.clear();
        fail_write(path, "cannot create", errno);
    }
    owns_fd_ = true;
    std::memcpy(g_temp_path, temp_path_.c_str(), temp_path_.size() + 1);
    g_temp_pending = 1;
    install_signal_handlers();
    path_ = target;

    // mkstemp makes the file private; give it the mode a plain create would
    // (or the mode of the file it replaces).
    mode_t mode;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(fd_, mode);
}

void OutputFile::write_buffer() {
    if (!write_all(fd_, buffer_.data(), buffer_.size())) fail_write(path_, "cannot write", errno);
    buffer_.clear();
}

void OutputFile::flush_row() {
    if (live_ || buffer_.size() >= kBlockSize) write_buffer();
}

void OutputFile::commit() {
    write_buffer();
    if (temp_path_.empty()) {
        if (owns_fd_) {
            const int fd = fd_;
            fd_ = -1;
            owns_fd_ = false;
            if (close(fd) != 0) fail_write(path_, "cannot write", errno);
        }
        return;
    }
    if (fsync(fd_) != 0) fail_write(path_, "cannot write", errno);
    const int fd = fd_;
    fd_ = -1;
    owns_fd_ = false;
    if (close(fd) != 0) fail_write(path_, "cannot write", errno);
    if (rename(temp_path_.c_str(), path_.c_str()) != 0) fail_write(path_, "cannot replace", errno);
    temp_path_.clear();
    g_temp_pending = 0;
}

void OutputFile::abandon() {
    if (owns_fd_ && fd_ >= 0) close(fd_);
    fd_ = -1;
    owns_fd_ = false;
    if (temp_path_.empty()) return;
    unlink(temp_path_.c_str());
    temp_path_.clear();
    g_temp_pending = 0;
}

void write_text_file(const std::string& path, const std::string& text) {
    OutputFile out;
    out.open(path);
    out.buffer() = text;
    out.commit();
}
