#include "harness.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace harness {

namespace {

// The running test's folder; parameterised tests have '/' in their names.
fs::path test_dir() {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    return fs::path(QX_TEST_TMP) / name;
}

} // namespace

fs::path fresh_dir() {
    const fs::path dir = test_dir();
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

result run(const std::vector<std::string> &args, const std::string &stdin_text) {
    return run_built(QX_CLI, args, stdin_text);
}

result run_built(const std::string &exe, const std::vector<std::string> &args,
                 const std::string &stdin_text) {
    const std::string emulator = QX_EMULATOR;
    if (emulator.empty())
        return run_exe(exe, args, stdin_text);
    std::vector<std::string> all{exe};
    all.insert(all.end(), args.begin(), args.end());
    return run_exe(emulator, all, stdin_text);
}

result run_exe(const std::string &exe, const std::vector<std::string> &args,
               const std::string &stdin_text) {
    const fs::path dir = fs::path(QX_TEST_TMP) / "io";
    fs::create_directories(dir);
    const fs::path out = dir / ("out." + std::to_string(getpid()));
    const fs::path err = dir / ("err." + std::to_string(getpid()));
    const fs::path cwd = test_dir();
    fs::create_directories(cwd);

    int in_pipe[2];
    if (pipe(in_pipe) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in_pipe[0], STDIN_FILENO);
        close(in_pipe[0]);
        close(in_pipe[1]);
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, STDOUT_FILENO);
        dup2(e, STDERR_FILENO);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        std::vector<char *> argv{const_cast<char *>(exe.c_str())};
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    close(in_pipe[0]);
    // The child may exit without reading everything: a write error then is expected.
    const auto old = std::signal(SIGPIPE, SIG_IGN);
    size_t done = 0;
    while (done < stdin_text.size()) {
        const ssize_t n = write(in_pipe[1], stdin_text.data() + done, stdin_text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    close(in_pipe[1]);
    std::signal(SIGPIPE, old);
    int status = 0;
    waitpid(pid, &status, 0);
    result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = read_file(out);
    r.err = read_file(err);
    fs::remove(out);
    fs::remove(err);
    return r;
}

std::string read_file(const fs::path &p) {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void write_file(const fs::path &p, const std::string &text) {
    std::ofstream f(p, std::ios::binary);
    f << text;
}

std::vector<std::string> listing(const fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

size_t count(const std::string &text, const std::string &needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

std::vector<float> signal(int64_t frames, int channels, double amp) {
    std::vector<float> x(static_cast<size_t>(frames) * static_cast<size_t>(channels));
    uint32_t seed = 1;
    for (int64_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            const double t = static_cast<double>(f) / 44100.0;
            seed = seed * 1664525u + 1013904223u;
            const double noise = (seed >> 8) / 8388608.0 - 1.0;
            const double v = 0.4 * std::sin(2 * M_PI * (300.0 + 110.0 * c) * t) +
                             0.3 * std::sin(2 * M_PI * (2500.0 + 700.0 * c) * t) +
                             0.2 * std::sin(2 * M_PI * 7000.0 * t) + 0.1 * noise;
            x[static_cast<size_t>(f * channels + c)] = static_cast<float>(amp * v);
        }
    }
    return x;
}

std::vector<int16_t> to_pcm16(const std::vector<float> &x) {
    std::vector<int16_t> s(x.size());
    for (size_t i = 0; i < x.size(); ++i)
        s[i] = static_cast<int16_t>(std::lrint(std::clamp(x[i] * 32768.0, -32768.0, 32767.0)));
    return s;
}

SNDFILE *open_for_write(const fs::path &p, int format, int rate, int channels) {
    SF_INFO info{};
    info.format = format;
    info.samplerate = rate;
    info.channels = channels;
    SNDFILE *f = sf_open(p.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr) << p << ": " << sf_strerror(nullptr);
    return f;
}

namespace {} // namespace

void write_audio(const fs::path &p, int format, int rate, int channels,
                 const std::vector<float> &samples) {
    SNDFILE *f = open_for_write(p, format, rate, channels);
    if (!f)
        return;
    const sf_count_t frames = static_cast<sf_count_t>(samples.size()) / channels;
    EXPECT_EQ(sf_writef_float(f, samples.data(), frames), frames);
    sf_close(f);
}

void write_audio(const fs::path &p, int format, int rate, int channels,
                 const std::vector<int16_t> &samples) {
    SNDFILE *f = open_for_write(p, format, rate, channels);
    if (!f)
        return;
    const sf_count_t frames = static_cast<sf_count_t>(samples.size()) / channels;
    EXPECT_EQ(sf_writef_short(f, samples.data(), frames), frames);
    sf_close(f);
}

audio read_audio(const fs::path &p, bool as_float) {
    audio a;
    SNDFILE *f = sf_open(p.c_str(), SFM_READ, &a.info);
    EXPECT_NE(f, nullptr) << p << ": " << sf_strerror(nullptr);
    if (!f)
        return a;
    const size_t n = static_cast<size_t>(a.info.frames) * static_cast<size_t>(a.info.channels);
    if (as_float) {
        a.f.resize(n);
        EXPECT_EQ(sf_readf_float(f, a.f.data(), a.info.frames), a.info.frames);
    } else {
        a.s.resize(n);
        EXPECT_EQ(sf_readf_short(f, a.s.data(), a.info.frames), a.info.frames);
    }
    sf_close(f);
    return a;
}

} // namespace harness
