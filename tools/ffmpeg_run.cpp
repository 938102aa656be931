// ffmpeg and ffprobe as child processes: started from an argument vector with execve (no
// shell), their output read through pipes, and the interrupting signals this program receives
// passed on to ffmpeg so that it stops too. One child runs at a time, so the signal handler
// needs one process id.
#include "transcode.h"

#include "cli.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace cli {

namespace {

// MARK: signals

constexpr int k_forwarded[] = {SIGINT, SIGTERM, SIGHUP};

static_assert(std::size(k_forwarded) == 3, "interrupt_guard keeps three old actions");

volatile sig_atomic_t g_child = 0;  // the running ffmpeg, or 0
volatile sig_atomic_t g_signal = 0; // the last interrupting signal received, or 0

extern "C" void forward_signal(int sig) {
    g_signal = sig;
    if (g_child > 0)
        kill(static_cast<pid_t>(g_child), sig);
}

// MARK: helpers

struct fd_closer {
    int fd = -1;
    ~fd_closer() { close(); }
    void close() {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

struct pipe_pair {
    fd_closer read, write;
    pipe_pair() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw error(std::string("cannot start a process: ") + std::strerror(errno));
        read.fd = fds[0];
        write.fd = fds[1];
    }
};

std::vector<char *> pointers(std::vector<std::string> &texts) {
    std::vector<char *> p;
    for (auto &t : texts)
        p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

// This program's environment with each NAME=value of extra replacing NAME.
std::vector<std::string> environment(const std::vector<std::string> &extra) {
    std::vector<std::string> env;
    for (char **e = environ; e && *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto &x : extra)
            replaced = replaced || entry.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0;
        if (!replaced)
            env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// Forks a child that runs argv with stdin from /dev/null, stdout and stderr on the given
// descriptors and, when progress_fd >= 0, that descriptor as 3. Everything the child needs is
// prepared before fork, so that the child only calls async-signal-safe functions.
pid_t start(const std::vector<std::string> &argv, const std::vector<std::string> &extra_env,
            int out_fd, int err_fd, int progress_fd) {
    std::vector<std::string> args = argv, env = environment(extra_env);
    std::vector<char *> arg_p = pointers(args), env_p = pointers(env);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0)
        throw error(std::string("cannot start ") + argv[0] + ": " + std::strerror(errno));
    if (pid > 0)
        return pid;
    // A child left behind would go on writing a file nobody removes.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(127);
    for (int sig : k_forwarded)
        signal(sig, SIG_DFL);
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd < 0 || dup2(null_fd, STDIN_FILENO) < 0)
        _exit(127);
    if (dup2(out_fd >= 0 ? out_fd : null_fd, STDOUT_FILENO) < 0 || dup2(err_fd, STDERR_FILENO) < 0)
        _exit(127);
    if (progress_fd >= 0 && dup2(progress_fd, 3) < 0)
        _exit(127);
    execve(arg_p[0], arg_p.data(), env_p.data());
    _exit(127);
}

int wait_for(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reads what is there; false at the end of the stream.
bool drain(int fd, std::string &into) {
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<size_t>(n));
            return true;
        }
        if (n == 0)
            return false;
        if (errno == EINTR)
            continue;
        return false;
    }
}

// Reads both pipes to their ends, handing each chunk to its sink.
template <typename OnOut, typename OnErr>
void read_both(int out_fd, int err_fd, OnOut on_out, OnErr on_err) {
    struct pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    int open_count = 2;
    while (open_count > 0) {
        const int n = poll(fds, 2, -1);
        if (n < 0 && errno == EINTR)
            continue; // a forwarded signal: ffmpeg stops and closes its pipes itself
        if (n < 0)
            break;
        for (auto &p : fds) {
            if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            std::string chunk;
            const bool more = drain(p.fd, chunk);
            if (&p == &fds[0])
                on_out(chunk);
            else
                on_err(chunk);
            if (!more) {
                p.fd = -1;
                --open_count;
            }
        }
    }
}

// Keeps the last lines of a stream of text.
class tail_lines {
  public:
    explicit tail_lines(size_t keep) : keep_(keep) {}
    void add(const std::string &chunk) {
        partial_ += chunk;
        for (size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
            push(partial_.substr(0, nl));
            partial_.erase(0, nl + 1);
        }
    }
    std::string text() {
        if (!partial_.empty())
            push(partial_);
        partial_.clear();
        std::string t;
        for (const auto &l : lines_)
            t += l + "\n";
        return t;
    }

  private:
    void push(std::string line) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            return;
        lines_.push_back(line);
        if (lines_.size() > keep_)
            lines_.erase(lines_.begin());
    }
    size_t keep_;
    std::string partial_;
    std::vector<std::string> lines_;
};

// One block of ffmpeg's progress output: key=value lines ending with progress=continue|end.
class progress_parser {
  public:
    template <typename Sink> void add(const std::string &chunk, Sink sink) {
        partial_ += chunk;
        for (size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
            const std::string line = partial_.substr(0, nl);
            partial_.erase(0, nl + 1);
            const size_t eq = line.find('=');
            if (eq == std::string::npos)
                continue;
            const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
            if (key == "out_time_us" || key == "out_time_ms") { // both are microseconds
                char *end = nullptr;
                const double us = std::strtod(value.c_str(), &end);
                if (end != value.c_str() && us >= 0)
                    report_.out_seconds = us / 1e6;
            } else if (key == "speed") {
                char *end = nullptr;
                const double x = std::strtod(value.c_str(), &end);
                report_.speed = end != value.c_str() && *end == 'x' ? x : -1;
            } else if (key == "progress") {
                report_.end = value == "end";
                sink(report_);
            }
        }
    }

  private:
    std::string partial_;
    progress_report report_;
};

} // namespace

// MARK: interruption

interrupt_guard::interrupt_guard() {
    g_signal = 0;
    struct sigaction sa {};
    sa.sa_handler = forward_signal;
    sigemptyset(&sa.sa_mask);
    for (size_t i = 0; i < std::size(k_forwarded); ++i)
        sigaction(k_forwarded[i], &sa, &old_[i]);
}

interrupt_guard::~interrupt_guard() {
    for (size_t i = 0; i < std::size(k_forwarded); ++i)
        sigaction(k_forwarded[i], &old_[i], nullptr);
}

int interrupt_guard::received() const { return g_signal; }

// MARK: programs

std::string find_program(const std::string &name) {
    auto runnable = [](const std::string &p) {
        struct stat st;
        return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
    };
    if (name.empty())
        return "";
    if (name.find('/') != std::string::npos)
        return runnable(name) ? name : "";
    const char *path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t at = 0;
    for (;;) {
        const size_t colon = dirs.find(':', at);
        std::string dir =
            dirs.substr(at, colon == std::string::npos ? std::string::npos : colon - at);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (runnable(candidate))
            return candidate;
        if (colon == std::string::npos)
            return "";
        at = colon + 1;
    }
}

capture_result capture(const std::vector<std::string> &argv) {
    pipe_pair out, err;
    const pid_t pid = start(argv, {}, out.write.fd, err.write.fd, -1);
    out.write.close();
    err.write.close();
    capture_result r;
    read_both(
        out.read.fd, err.read.fd, [&](const std::string &c) { r.out += c; },
        [&](const std::string &c) { r.err += c; });
    r.status = wait_for(pid);
    return r;
}

ffmpeg_result run_ffmpeg(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                         const std::function<void(const progress_report &)> &on_progress) {
    ffmpeg_result r;
    pipe_pair progress, err;
    const pid_t pid = start(argv, env, -1, err.write.fd, progress.write.fd);
    g_child = pid;
    // A signal that came between fork and the line above has not reached ffmpeg yet.
    if (g_signal != 0)
        kill(pid, g_signal);
    progress.write.close();
    err.write.close();
    progress_parser parser;
    tail_lines tail(12);
    read_both(
        progress.read.fd, err.read.fd,
        [&](const std::string &c) {
            parser.add(c, [&](const progress_report &p) {
                if (g_signal == 0)
                    on_progress(p);
            });
        },
        [&](const std::string &c) { tail.add(c); });
    r.status = wait_for(pid);
    g_child = 0;
    r.error_tail = tail.text();
    return r;
}

void die_by_signal(int sig) {
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    std::_Exit(128 + sig);
}

} // namespace cli
