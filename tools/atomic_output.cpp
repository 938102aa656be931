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

namespace {

// Devices, FIFOs and sockets, and the links under /dev and /proc (/dev/stdout, /proc/self/fd/1)
// whose file a shell or another process already holds open: written in place, never replaced.
bool is_stream_target(const std::string &path, const struct stat &st) {
    return !S_ISREG(st.st_mode) || path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
}

std::string folder_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The file a path names once the symbolic links of its last part are followed, which need not
// exist yet (a link to a new file). The folders on the way may be links themselves: a rename
// within the target's folder works whatever they are.
std::string follow_links(const std::string &path) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return p;
        std::string link(4096, '\0');
        const ssize_t n = readlink(p.c_str(), link.data(), link.size());
        if (n < 0 || static_cast<size_t>(n) >= link.size())
            return p;
        link.resize(static_cast<size_t>(n));
        p = link[0] == '/' ? link : folder_of(p) + link;
    }
    errno = ELOOP;
    throw error(system_error("cannot write", path, true));
}

} // namespace

atomic_output::atomic_output(const std::string &path) : path_(path) {
    if (path == "-") {
        stream_fd_ = STDOUT_FILENO;
        fd_ = anonymous_temp_file();
        return;
    }
    const size_t slash = path.rfind('/');
    if (path.substr(slash == std::string::npos ? 0 : slash + 1).empty())
        throw error("cannot write " + display_name(path, true) + ": not a file name");
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw error("cannot write " + display_name(path, true) + ": it is a directory");
        if (is_stream_target(path, st)) {
            const int flags = O_WRONLY | O_NOCTTY | O_CLOEXEC | (S_ISREG(st.st_mode) ? O_TRUNC : 0);
            stream_fd_ = ::open(path.c_str(), flags);
            if (stream_fd_ < 0)
                throw error(system_error("cannot write", path, true));
            fd_ = anonymous_temp_file();
            return;
        }
    }
    target_ = follow_links(path);
    if (stat(target_.c_str(), &st) == 0) {
        existed_ = true;
        mode_ = st.st_mode & 07777;
        uid_ = st.st_uid;
        gid_ = st.st_gid;
    } else {
        mode_ = default_file_mode();
    }
    open_temporary();
}

void atomic_output::open_temporary() {
    const std::string dir = folder_of(target_);
    fd_ = ::open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
        unnamed_ = true;
        return;
    }
    // File systems without unnamed files say so with one of these; anything else is an error
    // a named file would meet too (a missing folder, no permission).
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        throw error(system_error("cannot write", path_, true));
    // A dot name in the same folder: rename() stays within one file system, and a folder
    // listing hides the file while it is being written.
    const size_t slash = target_.rfind('/');
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    named_tmp_ = dir + "." + base.substr(0, 200) + ".XXXXXX";
    fd_ = mkstemp(named_tmp_.data());
    if (fd_ < 0)
        throw error(system_error("cannot write", path_, true));
    set_pending(named_tmp_);
}

atomic_output::~atomic_output() {
    if (fd_ >= 0)
        ::close(fd_);
    if (stream_fd_ > STDERR_FILENO)
        ::close(stream_fd_);
    if (!done_ && !named_tmp_.empty()) {
        unlink(named_tmp_.c_str());
        clear_pending();
    }
}

// An unnamed file cannot be linked over an existing name: a new path gets it directly, an
// existing file through a hidden name renamed over it (pending only for that instant).
void atomic_output::link_into_place() {
    const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
    auto link_to = [&](const std::string &name) {
        if (linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        // Without /proc, linking by descriptor needs CAP_DAC_READ_SEARCH, which root has.
        return errno == ENOENT && linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
    };
    if (!existed_ && link_to(target_))
        return;
    if (!existed_ && errno != EEXIST)
        throw error(system_error("cannot write", path_, true));
    const size_t slash = target_.rfind('/');
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = folder_of(target_) + "." + base.substr(0, 200) + ".XXXXXX";
        const int reserved = mkstemp(name.data());
        if (reserved < 0)
            throw error(system_error("cannot write", path_, true));
        ::close(reserved);
        unlink(name.c_str());
        set_pending(name);
        if (!link_to(name)) {
            clear_pending();
            if (errno == EEXIST)
                continue; // another process took the name in between
            throw error(system_error("cannot write", path_, true));
        }
        const bool renamed = std::rename(name.c_str(), target_.c_str()) == 0;
        const int saved = errno;
        if (!renamed)
            unlink(name.c_str());
        clear_pending();
        errno = saved;
        if (!renamed)
            throw error(system_error("cannot write", path_, true));
        return;
    }
    errno = EEXIST;
    throw error(system_error("cannot write", path_, true));
}

void atomic_output::commit() {
    if (stream_fd_ >= 0) {
        if (lseek(fd_, 0, SEEK_SET) < 0)
            throw error(system_error("cannot read back", path_, true));
        read_chunks(fd_, "cannot read back", path_, true, [&](const char *data, size_t n) {
            if (!write_all(stream_fd_, data, n))
                throw error(system_error("cannot write", path_, true));
        });
        done_ = true;
        return;
    }
    // The temporary file is private until now; the result gets the replaced file's mode and
    // owner, or the mode a new file would have. Another owner is kept only where allowed.
    if (existed_ && (uid_ != geteuid() || gid_ != getegid()))
        (void)!fchown(fd_, uid_, gid_);
    if (fchmod(fd_, static_cast<mode_t>(mode_)) != 0)
        throw error(system_error("cannot write", path_, true));
    if (unnamed_) {
        link_into_place();
    } else if (std::rename(named_tmp_.c_str(), target_.c_str()) != 0) {
        throw error(system_error("cannot write", path_, true));
    }
    done_ = true;
    clear_pending();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        throw error(system_error("cannot write", path_, true));
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

std::string read_text(const std::string &path, size_t limit, const std::string &what) {
    const int fd = path == "-" ? dup(STDIN_FILENO) : open_named(path);
    if (fd < 0)
        throw error(system_error("cannot open", path, false));
    std::string text;
    try {
        read_chunks(fd, "cannot read", path, false, [&](const char *data, size_t n) {
            text.append(data, n);
            if (text.size() > limit)
                throw error(display_name(path) + " is not " + what + ": it is larger than " +
                            std::to_string(limit / 1024) + " KiB");
        });
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
