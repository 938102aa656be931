// The bundle in the real hosts: lv2apply, ffmpeg's lv2 filter (with asendcmd for changes while
// playing) and GStreamer's lv2 elements, each run as a program on float WAV files this test
// writes, their output compared with the library's planar processing bit for bit.
#include "reference.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace lv2test;
namespace fs = std::filesystem;

constexpr size_t k_fade = 240; // 5 ms at 48 kHz

fs::path fresh_dir() {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path dir =
        fs::path(QX_TEST_TMP) / (std::string(info->test_suite_name()) + "." + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string slurp(const fs::path &p) {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

struct result {
    int status = -1;
    std::string out, err;
};

// Run a host program in dir, its output captured. In a sanitizer build the module carries the
// sanitizer runtime, which the (uninstrumented) host then loads first through QX_HOST_PRELOAD;
// the host's own leaks are not ours to report.
result run(const fs::path &dir, const std::vector<std::string> &args) {
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, STDOUT_FILENO);
        dup2(e, STDERR_FILENO);
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        if (*QX_HOST_PRELOAD) {
            setenv("LD_PRELOAD", QX_HOST_PRELOAD, 1);
            setenv("ASAN_OPTIONS", "detect_leaks=0:halt_on_error=1:abort_on_error=1", 1);
        }
        setenv("LV2_PATH", QX_LV2_PATH, 1);
        setenv("GST_REGISTRY", (dir / "gst-registry.bin").c_str(), 1); // no shared cache
        std::vector<char *> argv;
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

// Float WAV files; more than two channels carry ffmpeg's layout (FL FR FC LFE BL BR SL SR) in
// the channel mask, so ffmpeg hands them to the plugin without a remix.
void write_wav(const fs::path &p, int rate, const planes &x) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = static_cast<int>(x.size());
    info.format = (x.size() > 2 ? SF_FORMAT_WAVEX : SF_FORMAT_WAV) | SF_FORMAT_FLOAT;
    SNDFILE *f = sf_open(p.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    int map[8] = {SF_CHANNEL_MAP_LEFT,      SF_CHANNEL_MAP_RIGHT,     SF_CHANNEL_MAP_CENTER,
                  SF_CHANNEL_MAP_LFE,       SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT,
                  SF_CHANNEL_MAP_SIDE_LEFT, SF_CHANNEL_MAP_SIDE_RIGHT};
    if (x.size() > 2)
        sf_command(f, SFC_SET_CHANNEL_MAP_INFO, map, static_cast<int>(x.size() * sizeof(int)));
    std::vector<float> interleaved(x.size() * x[0].size());
    for (size_t c = 0; c < x.size(); ++c)
        for (size_t i = 0; i < x[c].size(); ++i)
            interleaved[i * x.size() + c] = x[c][i];
    EXPECT_EQ(sf_writef_float(f, interleaved.data(), static_cast<sf_count_t>(x[0].size())),
              static_cast<sf_count_t>(x[0].size()));
    sf_close(f);
}

planes read_wav(const fs::path &p, int *rate = nullptr) {
    SF_INFO info{};
    SNDFILE *f = sf_open(p.c_str(), SFM_READ, &info);
    if (f == nullptr)
        return {};
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT) << p;
    std::vector<float> interleaved(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, interleaved.data(), info.frames);
    sf_close(f);
    const auto channels = static_cast<size_t>(info.channels);
    planes x(channels, std::vector<float>(static_cast<size_t>(info.frames)));
    for (size_t i = 0; i < interleaved.size(); ++i)
        x[i % channels][i / channels] = interleaved[i];
    if (rate)
        *rate = info.samplerate;
    return x;
}

std::string escaped_uri(const char *fragment) { // ffmpeg's filter graph needs ':' escaped twice
    return std::string("urn\\\\:playback-profile\\\\:eq#") + fragment;
}

TEST(Lv2apply, EqualsTheLibraryBitForBit) {
    eq_settings rock, custom, clamped, off, none, low_rate;
    rock.preset = 12;
    custom.gain[0] = 4.0;
    custom.gain[3] = -9.0;
    custom.gain[7] = 24.0;
    clamped.gain[2] = 24.0; // asked for 40
    clamped.preamp_db = -6.0f;
    off = custom;
    off.enable = false;
    none.preset = 0;
    low_rate.gain[5] = 12.0; // 3700 Hz: still below half of 8000 Hz
    low_rate.gain[6] = 12.0; // 6200 Hz: switched off
    struct {
        const char *uri;
        size_t channels;
        int rate;
        std::vector<std::string> controls;
        eq_settings as;
    } const cases[] = {
        {"urn:playback-profile:eq#mono", 1, 48000, {"-c", "preset", "12"}, rock},
        {"urn:playback-profile:eq#stereo", 2, 44100, {"-c", "preset", "12"}, rock},
        {"urn:playback-profile:eq#stereo",
         2,
         48000,
         {"-c", "g400", "4", "-c", "g1500", "-9", "-c", "g9600", "24"},
         custom},
        {"urn:playback-profile:eq#stereo",
         2,
         48000,
         {"-c", "g960", "40", "-c", "preamp", "-6"},
         clamped},
        {"urn:playback-profile:eq#mono", 1, 48000, {"-c", "enable", "0", "-c", "g400", "4"}, off},
        {"urn:playback-profile:eq#stereo", 2, 96000, {"-c", "preset", "0"}, none},
        {"urn:playback-profile:eq#mono",
         1,
         8000,
         {"-c", "g3700", "12", "-c", "g6200", "12"},
         low_rate},
    };
    const fs::path dir = fresh_dir();
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.uri) + " row " + std::to_string(n));
        const planes x = make_signal(30000, c.channels, c.rate, 0.5, static_cast<uint32_t>(n));
        const std::string in = "in" + std::to_string(n) + ".wav",
                          out = "out" + std::to_string(n++) + ".wav";
        write_wav(dir / in, c.rate, x);
        std::vector<std::string> args{QX_LV2APPLY, "-i", in, "-o", out};
        args.insert(args.end(), c.controls.begin(), c.controls.end());
        args.push_back(c.uri);
        const result r = run(dir, args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(first_difference(read_wav(dir / out), reference(x, c.rate, c.as)), "");
    }
}

TEST(Ffmpeg, Lv2FilterEqualsTheLibraryBitForBit) {
    eq_settings rock, custom, pop, off;
    rock.preset = 12;
    off.enable = false;
    custom.gain[1] = 6.0;
    custom.gain[4] = -3.5;
    pop.preset = 10;
    pop.preamp_db = -3.0f;
    struct {
        const char *fragment;
        size_t channels;
        const char *controls;
        eq_settings as;
    } const cases[] = {
        {"stereo", 2, "preset=12", rock},
        {"mono", 1, "g620=6|g2400=-3.5", custom},
        {"surround51", 6, "preset=12", rock},
        {"surround51", 6, "g620=6|g2400=-3.5", custom},
        {"surround71", 8, "preset=10|preamp=-3", pop},
        {"stereo", 2, "enable=0|preset=12", off},
    };
    const fs::path dir = fresh_dir();
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.fragment) + " " + c.controls);
        const planes x = make_signal(48000, c.channels, 48000, 0.5, static_cast<uint32_t>(n));
        const std::string in = "in" + std::to_string(n) + ".wav",
                          out = "out" + std::to_string(n++) + ".wav";
        write_wav(dir / in, 48000, x);
        const std::string graph = "lv2=p=" + escaped_uri(c.fragment) + ":c=" + c.controls;
        const result r = run(dir, {QX_FFMPEG, "-nostdin", "-hide_banner", "-y", "-i", in, "-af",
                                   graph, "-c:a", "pcm_f32le", out});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(first_difference(read_wav(dir / out), reference(x, 48000, c.as)), "");
    }
}

// asendcmd changes a control mid-stream at a frame boundary of ffmpeg's choosing: find that
// frame as the first one that departs from the old settings, then check the fade has no step
// beyond the signal's own and the output is the library's stream changed there once it ends.
TEST(Ffmpeg, AsendcmdChangesFadeWithoutAClick) {
    eq_settings boost, cut, bass, none;
    boost.gain[0] = 18.0;
    cut = boost;
    cut.gain[0] = -18.0;
    bass.preset = 3;
    none.preset = 0;
    // "enable" is ffmpeg's own timeline command, never passed to the filter: PS_none switches
    // the equaliser off instead
    struct {
        const char *command;
        eq_settings to;
    } const cases[] = {{"g400 -18", cut}, {"preset 3", bass}, {"preset 0", none}};
    const fs::path dir = fresh_dir();
    const size_t frames = 48000;
    // 400 Hz as sine and cosine: wherever ffmpeg puts the change, one channel is near its peak,
    // so an abrupt switch there would show
    planes x = make_signal(frames, 2, 48000, 0.1);
    for (size_t i = 0; i < frames; ++i) {
        const double phase = 2 * M_PI * 400.0 * static_cast<double>(i) / 48000.0;
        x[0][i] += static_cast<float>(0.3 * std::sin(phase));
        x[1][i] += static_cast<float>(0.3 * std::cos(phase));
    }
    write_wav(dir / "in.wav", 48000, x);
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        const std::string out = "out" + std::to_string(n++) + ".wav";
        const std::string graph = std::string("asendcmd=c='0.5 lv2 ") + c.command +
                                  "',lv2=p=" + escaped_uri("stereo") + ":c=g400=18";
        const result r = run(dir, {QX_FFMPEG, "-nostdin", "-hide_banner", "-y", "-i", "in.wav",
                                   "-af", graph, "-c:a", "pcm_f32le", out});
        ASSERT_EQ(r.status, 0) << r.err;
        const planes y = read_wav(dir / out);
        const planes before = reference(x, 48000, boost);
        size_t k = 0;
        while (k < frames && y[0][k] == before[0][k] && y[1][k] == before[1][k])
            ++k;
        ASSERT_GT(k, 20000u); // near 0.5 s, where the command was due
        ASSERT_LT(k, 28000u);

        planes want = x;
        qxeq_eq *eq = qxeq_eq_new();
        qxeq_eq_set_sample_rate(eq, 48000);
        configure(eq, boost);
        process(eq, boost, want, 0, k);
        if (c.to.preset == boost.preset)
            qxeq_eq_set_gain(eq, 0, c.to.gain[0]);
        else
            configure(eq, c.to);
        process(eq, c.to, want, k, frames);
        qxeq_eq_free(eq);
        EXPECT_EQ(first_difference(y, want, k + k_fade), "");
        const double steady =
            std::fmax(max_step(before, 1000, k), max_step(want, k + 2000, frames));
        EXPECT_LE(max_step(y, k - 1, k + k_fade + 1), 1.05 * steady);
        if (c.to.preset == 0) { // switched off without a fade, the same frame would click
            planes spliced = before;
            for (size_t ch = 0; ch < 2; ++ch)
                for (size_t i = k; i < frames; ++i)
                    spliced[ch][i] = want[ch][i];
            EXPECT_GT(max_step(spliced, k - 1, k + 1), 1.05 * steady);
        }
    }
}

// A rate the library refuses (ffmpeg passes any): the audio comes through as it went in, and
// the plugin says why on standard error, ffmpeg offering no log feature.
TEST(Ffmpeg, RefusedRatePassesAudioThrough) {
    const fs::path dir = fresh_dir();
    const planes x = make_signal(40000, 2, 400000, 0.5);
    write_wav(dir / "in.wav", 400000, x);
    const result r = run(dir, {QX_FFMPEG, "-nostdin", "-hide_banner", "-y", "-i", "in.wav", "-af",
                               "lv2=p=" + escaped_uri("stereo") + ":c=preset=12", "-c:a",
                               "pcm_f32le", "out.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("sample rate 400000 Hz is outside 1..384000 Hz"), std::string::npos)
        << r.err;
    int rate = 0;
    EXPECT_EQ(first_difference(read_wav(dir / "out.wav", &rate), x), "");
    EXPECT_EQ(rate, 400000);
}

TEST(Gstreamer, ElementEqualisesLikeTheLibrary) {
    const fs::path dir = fresh_dir();
    const result inspect = run(dir, {QX_GST_INSPECT, "urn-playback-profile-eq-stereo"});
    ASSERT_EQ(inspect.status, 0) << inspect.err;
    // the ports as properties (enable starts on), the preset names as the enum and, quoted,
    // as the element's presets
    for (const char *text : {"enable", "Integer. Range: 0 - 1 Default: 1", "preamp", "g400",
                             "g9600", "(12): PS_rock", "\"PS_rock\"", "\"PS_vocal_boost\""})
        EXPECT_NE(inspect.out.find(text), std::string::npos) << text;
    const result all = run(dir, {QX_GST_INSPECT, "lv2"});
    for (const char *f : {"mono", "stereo", "surround51", "surround71"})
        EXPECT_NE(all.out.find(std::string("urn-playback-profile-eq-") + f), std::string::npos)
            << f;

    eq_settings rock;
    rock.preset = 12;
    eq_settings custom;
    custom.gain[2] = 9.0;
    struct {
        const char *element;
        size_t channels;
        std::vector<std::string> properties;
        eq_settings as;
    } const cases[] = {
        {"urn-playback-profile-eq-stereo", 2, {"preset=12"}, rock},
        {"urn-playback-profile-eq-mono", 1, {"g960=9"}, custom},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.element);
        const planes x = make_signal(44100, c.channels, 44100, 0.5, static_cast<uint32_t>(n));
        const std::string in = "in" + std::to_string(n) + ".wav",
                          out = "out" + std::to_string(n++) + ".wav";
        write_wav(dir / in, 44100, x);
        std::vector<std::string> args{QX_GST_LAUNCH, "-q",       "filesrc", "location=" + in,
                                      "!",           "wavparse", "!",       "audioconvert",
                                      "!",           c.element};
        args.insert(args.end(), c.properties.begin(), c.properties.end());
        for (const char *a :
             {"!", "audioconvert", "!", "audio/x-raw,format=F32LE", "!", "wavenc", "!", "filesink"})
            args.emplace_back(a);
        args.push_back("location=" + out);
        const result r = run(dir, args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(first_difference(read_wav(dir / out), reference(x, 44100, c.as)), "");
    }
}

} // namespace
