#include "csv_stream.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstring>

std::string_view trim(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool is_blank(std::string_view line) {
    return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

void split_fields(std::string_view line, std::vector<std::string_view>& fields) {
    fields.clear();
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    for (;;) {
        const size_t comma = line.find(',');
        fields.push_back(trim(line.substr(0, comma)));
        if (comma == std::string_view::npos) return;
        line.remove_prefix(comma + 1);
    }
}

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

void append_number(std::string& out, double value) {
    if (std::isnan(value)) {  // to_chars would print a negative NaN as "-nan"
        out += "nan";
        return;
    }
    char text[32];
    const auto [stop, ec] = std::to_chars(text, text + sizeof text, value);
    out.append(text, stop);
}

// ---------------------------------------------------------------------------

namespace {

constexpr size_t kBlockSize = 1 << 20;

// The temporary file a signal handler must remove: one output at a time.
char g_temp_path[PATH_MAX];
volatile std::sig_atomic_t g_temp_pending = 0;

extern "C" void remove_temp_and_die(int sig) {
    if (g_temp_pending) unlink(g_temp_path);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
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

std::string failure(const std::string& path, const char* what) {
    return path + ": " + what + ": " + std::strerror(errno);
}

}  // namespace

bool CsvOutput::open(const std::string& path, std::string& error) {
    buffer_.reserve(kBlockSize + 4096);
    if (path == "-") {
        path_ = "<stdout>";
        fd_ = STDOUT_FILENO;
        return true;
    }
    path_ = path;
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    temp_path_ = dir + (slash == std::string::npos ? "/." : ".") + base + ".XXXXXX";
    if (temp_path_.size() >= sizeof g_temp_path) {
        errno = ENAMETOOLONG;
        error = failure(path, "cannot create");
        temp_path_.clear();
        return false;
    }
    fd_ = mkstemp(temp_path_.data());
    if (fd_ < 0) {
        error = failure(path, "cannot create");
        temp_path_.clear();
        return false;
    }
    std::memcpy(g_temp_path, temp_path_.c_str(), temp_path_.size() + 1);
    g_temp_pending = 1;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, remove_temp_and_die);

    // mkstemp makes the file private; give it the mode a plain create would
    // (or the mode of the file it replaces).
    struct stat old;
    mode_t mode;
    if (stat(path.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(fd_, mode);
    return true;
}

bool CsvOutput::write_buffer(std::string& error) {
    if (!write_all(fd_, buffer_.data(), buffer_.size())) {
        error = failure(path_, "cannot write");
        return false;
    }
    buffer_.clear();
    return true;
}

bool CsvOutput::flush_if_full(std::string& error) {
    return buffer_.size() < kBlockSize || write_buffer(error);
}

bool CsvOutput::commit(std::string& error) {
    if (!write_buffer(error)) return false;
    if (temp_path_.empty()) return true;
    if (fsync(fd_) != 0) {
        error = failure(path_, "cannot write");
        return false;
    }
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        error = failure(path_, "cannot write");
        return false;
    }
    if (rename(temp_path_.c_str(), path_.c_str()) != 0) {
        error = failure(path_, "cannot replace");
        return false;
    }
    temp_path_.clear();
    g_temp_pending = 0;
    return true;
}

void CsvOutput::abandon() {
    if (temp_path_.empty()) return;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    unlink(temp_path_.c_str());
    temp_path_.clear();
    g_temp_pending = 0;
}
