#include "media.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace media {

namespace {

fs::path test_dir() {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char &c : name)
        if (c == '/')
            c = '_';
    const fs::path dir = fs::path(QX_TEST_TMP) / name;
    fs::create_directories(dir);
    return dir;
}

// Forks the program in the test's folder with stdin from /dev/null and the given stdout and
// stderr.
pid_t spawn(const std::string &exe, const std::vector<std::string> &args,
            const std::vector<std::string> &env_changes, int out_fd, int err_fd) {
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        bool changed = false;
        for (const auto &c : env_changes)
            changed = changed || entry.compare(0, c.find('=') + 1, c, 0, c.find('=') + 1) == 0;
        if (!changed)
            env.push_back(entry);
    }
    for (const auto &c : env_changes)
        if (c.back() != '=')
            env.push_back(c);
    std::vector<char *> argv{const_cast<char *>(exe.c_str())}, envp;
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (auto &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string dir = test_dir();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, STDIN_FILENO);
        dup2(out_fd, STDOUT_FILENO);
        dup2(err_fd, STDERR_FILENO);
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        execve(exe.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

int wait_status(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// One expression per channel: two sines whose pitch depends on the channel, and noise.
std::string channel_exprs(int channels) {
    std::string e;
    for (int c = 0; c < channels; ++c) {
        e += (c ? "|" : "") + std::string("0.35*sin(2*PI*") + std::to_string(300 + 110 * c) +
             "*t)+0.25*sin(2*PI*" + std::to_string(2500 + 700 * c) + "*t)+0.1*(2*random(" +
             std::to_string(c) + ")-1)";
    }
    return e;
}

int layout_channels(const std::string &layout) {
    struct {
        const char *name;
        int channels;
    } const known[] = {{"mono", 1}, {"stereo", 2},    {"quad", 4},
                       {"5.1", 6},  {"5.1(side)", 6}, {"7.1", 8}};
    for (const auto &k : known)
        if (layout == k.name)
            return k.channels;
    ADD_FAILURE() << "unknown layout " << layout;
    return 0;
}

std::string audio_source(int rate, const std::string &layout, double seconds) {
    return "aevalsrc=exprs=" + channel_exprs(layout_channels(layout)) +
           ":s=" + std::to_string(rate) + ":c=" + layout + ":d=" + std::to_string(seconds);
}

} // namespace

bool bundle_built() { return fs::exists(fs::path(QX_LV2_BUNDLE) / "manifest.ttl"); }

void ffmpeg(const std::vector<std::string> &args) {
    std::vector<std::string> all = {"-hide_banner", "-nostdin", "-v", "error", "-y"};
    all.insert(all.end(), args.begin(), args.end());
    const harness::result r = run_env(QX_FFMPEG, all, {});
    ASSERT_EQ(r.status, 0) << "ffmpeg failed: " << r.err;
}

void audio_clip(const fs::path &p, const std::string &codec, int rate, const std::string &layout,
                double seconds) {
    ffmpeg({"-f", "lavfi", "-i", audio_source(rate, layout, seconds), "-c:a", codec, p.string()});
}

void av_clip(const fs::path &p, int width, int height, double seconds, const std::string &layout) {
    std::vector<std::string> args = {"-f", "lavfi", "-i",
                                     "testsrc2=size=" + std::to_string(width) + "x" +
                                         std::to_string(height) +
                                         ":rate=25:d=" + std::to_string(seconds)};
    if (!layout.empty())
        args.insert(args.end(), {"-f", "lavfi", "-i", audio_source(48000, layout, seconds), "-c:a",
                                 "pcm_s16le"});
    args.insert(args.end(), {"-c:v", "mpeg4", "-q:v", "5", p.string()});
    ffmpeg(args);
}

const stream *probed::first(const std::string &type) const {
    for (const auto &s : streams)
        if (s.type == type)
            return &s;
    return nullptr;
}

probed probe(const fs::path &p) {
    const harness::result r = run_env(
        QX_FFPROBE,
        {"-v", "error", "-show_entries",
         "format=format_name:stream=codec_type,codec_name,sample_rate,channels,channel_layout,"
         "width,height,r_frame_rate",
         "-of", "default", p.string()},
        {});
    EXPECT_EQ(r.status, 0) << p << ": " << r.err;
    probed out;
    stream s;
    bool in_stream = false;
    size_t at = 0;
    while (at < r.out.size()) {
        size_t nl = r.out.find('\n', at);
        if (nl == std::string::npos)
            nl = r.out.size();
        const std::string line = r.out.substr(at, nl - at);
        at = nl + 1;
        if (line == "[STREAM]") {
            in_stream = true;
            s = stream{};
        } else if (line == "[/STREAM]") {
            out.streams.push_back(s);
            in_stream = false;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (!in_stream && key == "format_name")
            out.format = value;
        else if (key == "codec_type")
            s.type = value;
        else if (key == "codec_name")
            s.codec = value;
        else if (key == "sample_rate")
            s.rate = std::atoi(value.c_str());
        else if (key == "channels")
            s.channels = std::atoi(value.c_str());
        else if (key == "channel_layout")
            s.layout = value;
        else if (key == "width")
            s.width = std::atoi(value.c_str());
        else if (key == "height")
            s.height = std::atoi(value.c_str());
        else if (key == "r_frame_rate")
            s.frame_rate = value;
    }
    return out;
}

harness::result run_env(const std::string &exe, const std::vector<std::string> &args,
                        const std::vector<std::string> &env) {
    const fs::path dir = fs::path(QX_TEST_TMP) / "io";
    fs::create_directories(dir);
    const fs::path out = dir / ("env-out." + std::to_string(getpid()));
    const fs::path err = dir / ("env-err." + std::to_string(getpid()));
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = spawn(exe, args, env, o, e);
    close(o);
    close(e);
    harness::result r;
    r.status = wait_status(pid);
    r.out = harness::read_file(out);
    r.err = harness::read_file(err);
    fs::remove(out);
    fs::remove(err);
    return r;
}

background start(const std::vector<std::string> &args) {
    int fds[2];
    background b;
    if (pipe2(fds, O_CLOEXEC) != 0)
        return b;
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    b.pid = spawn(QX_CLI, args, {}, null_fd, fds[1]);
    close(null_fd);
    close(fds[1]);
    b.err_fd = fds[0];
    return b;
}

bool wait_for_line(background &b, const std::string &needle, std::string &seen) {
    char buf[4096];
    for (;;) {
        const size_t at = seen.find(needle);
        if (at != std::string::npos && seen.find('\n', at) != std::string::npos)
            return true;
        const ssize_t n = read(b.err_fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        seen.append(buf, static_cast<size_t>(n));
    }
}

int finish(background &b, std::string &seen) {
    char buf[4096];
    for (ssize_t n; (n = read(b.err_fd, buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        seen.append(buf, static_cast<size_t>(n));
    }
    close(b.err_fd);
    b.err_fd = -1;
    return wait_status(b.pid);
}

} // namespace media
