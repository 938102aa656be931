// Output through a temporary file renamed into place, and whole-file input, for every command
// of the tool. Only one output is pending at a time, so the signal handler needs one path.
#include "atomic_output.h"

#include "cli.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

// MARK: cleanup on signals

// The pending temporary file, for the signal handler: a fixed buffer, because the handler may
// only call async-signal-safe functions.
char g_pending[4096] = "";

extern "C" void remove_pending_and_die(int sig) {
    if (g_pending[0] != '\0')
        unlink(g_pending);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void set_pending(const std::string &tmp) {
    static bool installed = false;
    if (!installed) {
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            std::signal(sig, remove_pending_and_die);
        installed = true;
    }
    std::snprintf(g_pending, sizeof g_pending, "%s", tmp.c_str());
}

void clear_pending() { g_pending[0] = '\0'; }

// MARK: helpers

std::string system_error(const std::string &what, const std::string &path, bool output) {
    return what + " " + display_name(path, output) + ": " + std::strerror(errno);
}

// False with errno set when a write fails.
bool write_all(int fd, const char *p, size_t n) {
    while (n > 0) {
        const ssize_t k = ::write(fd, p, n);
        if (k < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

// An unnamed temporary file: created in $TMPDIR (or /tmp) and unlinked at once.
// Reads fd to its end, handing each chunk to sink; a read error is reported as `what` on path.
// On failure the caller closes what it opened.
template <typename Sink>
void read_chunks(int fd, const char *what, const std::string &path, bool output, Sink sink) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw error(system_error(what, path, output));
        if (n == 0)
            return;
        sink(buf, static_cast<size_t>(n));
    }
}

int anonymous_temp_file() {
    const char *dir = std::getenv("TMPDIR");
    std::string name = std::string(dir && *dir ? dir : "/tmp") + "/playback-profile.XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0)
        throw error(system_error("cannot create a temporary file", name, true));
    unlink(name.c_str());
    return fd;
}

mode_t default_file_mode() {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

} // namespace

std::string display_name(const std::string &path, bool output) {
    if (path == "-")
        return output ? "standard output" : "standard input";
    return "'" + path + "'";
}

// MARK: atomic_output

atomic_output::atomic_output(const std::string &path) : path_(path), to_stdout_(path == "-") {
    if (to_stdout_) {
        fd_ = anonymous_temp_file();
        return;
    }
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty())
        throw error("cannot write " + display_name(path, true) + ": not a file name");
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw error("cannot write " + display_name(path, true) + ": it is a directory");
    // A dot name in the same folder: rename() stays within one file system, and a folder
    // listing hides the file while it is being written.
    tmp_ = dir + "." + base.substr(0, 200) + ".XXXXXX";
    fd_ = mkstemp(tmp_.data());
    if (fd_ < 0)
        throw error(system_error("cannot write", path, true));
    set_pending(tmp_);
}

atomic_output::~atomic_output() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!done_ && !to_stdout_) {
        unlink(tmp_.c_str());
        clear_pending();
    }
}

void atomic_output::commit() {
    if (to_stdout_) {
        if (lseek(fd_, 0, SEEK_SET) < 0)
            throw error(system_error("cannot read back", "-", true));
        read_chunks(fd_, "cannot read back", "-", true, [](const char *data, size_t n) {
            if (!write_all(STDOUT_FILENO, data, n))
                throw error(system_error("cannot write", "-", true));
        });
        done_ = true;
        return;
    }
    // mkstemp makes the file private; the result gets the mode a new file would have.
    if (fchmod(fd_, default_file_mode()) != 0)
        throw error(system_error("cannot write", path_, true));
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        throw error(system_error("cannot write", path_, true));
    if (std::rename(tmp_.c_str(), path_.c_str()) != 0)
        throw error(system_error("cannot write", path_, true));
    done_ = true;
    clear_pending();
}

// MARK: whole texts

void write_text(const std::string &path, const std::string &text) {
    if (path == "-") {
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
            std::fflush(stdout) != 0)
            throw error(system_error("cannot write", path, true));
        return;
    }
    atomic_output out(path);
    if (!write_all(out.fd(), text.data(), text.size()))
        throw error(system_error("cannot write", path, true));
    out.commit();
}

namespace {

// Opens a named file for reading; a directory is refused with a message naming it.
int open_named(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        throw error(system_error("cannot open", path, false));
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw error("cannot read " + display_name(path) + ": it is a directory");
    }
    return fd;
}

} // namespace

std::string read_text(const std::string &path) {
    const int fd = path == "-" ? dup(STDIN_FILENO) : open_named(path);
    if (fd < 0)
        throw error(system_error("cannot open", path, false));
    std::string text;
    try {
        read_chunks(fd, "cannot read", path, false,
                    [&](const char *data, size_t n) { text.append(data, n); });
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    return text;
}

int open_input(const std::string &path) {
    if (path != "-")
        return open_named(path);
    struct stat st;
    if (fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode)) {
        const int fd = dup(STDIN_FILENO);
        if (fd < 0)
            throw error(system_error("cannot open", path, false));
        return fd;
    }
    // A pipe cannot seek, and audio readers need to: buffer it in an unnamed file.
    const int fd = anonymous_temp_file();
    try {
        read_chunks(STDIN_FILENO, "cannot read", path, false, [&](const char *data, size_t n) {
            if (!write_all(fd, data, n))
                throw error(system_error("cannot buffer", path, false));
        });
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (lseek(fd, 0, SEEK_SET) < 0) {
        ::close(fd);
        throw error(system_error("cannot read", path, false));
    }
    return fd;
}

} // namespace cli
