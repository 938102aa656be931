// The eq command and the files around the samples: the output's format follows its extension
// or --type, lossy outputs are encoded at a high quality unless told otherwise, channel layouts
// survive, a cut input is equalised as far as it goes, and clipped, non-finite and preamplified
// samples are handled and reported.
#include "harness.h"

#include "qxeq.h"

#include <cmath>
#include <cstring>

namespace {

using namespace harness;
using EqFiles = CliTest;

SF_INFO info_of(const fs::path &p) {
    SF_INFO info{};
    SNDFILE *f = sf_open(p.c_str(), SFM_READ, &info);
    EXPECT_NE(f, nullptr) << p << ": " << sf_strerror(nullptr);
    if (f)
        sf_close(f);
    return info;
}

// A stereo 48 kHz input in the given encoding (48 kHz suits every container, Opus included).
void write_input(const fs::path &p, int format) {
    const auto x = signal(4800, 2, 0.5);
    if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16)
        write_audio(p, format, 48000, 2, to_pcm16(x));
    else
        write_audio(p, format, 48000, 2, x);
}

TEST_F(EqFiles, OutputFormatFollowsTheExtensionOrType) {
    struct {
        int input;
        std::vector<std::string> args; // after "eq in"
        int want;
    } const cases[] = {
        // clang-format off
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, {"out.flac"}, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_24, {"out.flac"}, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {SF_FORMAT_WAV | SF_FORMAT_FLOAT,  {"out.flac"}, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, {"out.mp3"},  SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, {"out.ogg"},  SF_FORMAT_OGG | SF_FORMAT_VORBIS},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, {"out.opus"}, SF_FORMAT_OGG | SF_FORMAT_OPUS},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, {"out.AIF"},  SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, {"out.wav"}, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {SF_FORMAT_WAV | SF_FORMAT_FLOAT,  {"out.au"},   SF_FORMAT_AU | SF_FORMAT_FLOAT},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, {"out.bin", "--type", "flac"}, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, {"out.wav", "--type", "caf"},  SF_FORMAT_CAF | SF_FORMAT_PCM_16},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_24, {"out"},     SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_24, {"out.part"}, SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
        // clang-format on
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.front() + (c.args.size() > 1 ? " --type " + c.args.back() : ""));
        const fs::path dir = fresh_dir();
        write_input(dir / "in", c.input);
        std::vector<std::string> args{"eq", "in"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const result r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const SF_INFO got = info_of(dir / c.args.front());
        EXPECT_EQ(got.format, c.want) << std::hex << got.format;
        EXPECT_EQ(got.channels, 2);
        EXPECT_EQ(got.samplerate, 48000);
    }
}

double kbit_per_s(const fs::path &p) {
    const SF_INFO info = info_of(p);
    return static_cast<double>(fs::file_size(p)) * 8.0 / 1000.0 /
           (static_cast<double>(info.frames) / info.samplerate);
}

TEST_F(EqFiles, LossyOutputsAreEncodedAtHighQualityUnlessToldOtherwise) {
    const fs::path dir = fresh_dir();
    // Noise encoded at 320 kbit/s: an encoder left at its defaults gives far less.
    {
        SF_INFO info{};
        info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
        info.samplerate = 44100;
        info.channels = 2;
        SNDFILE *f = sf_open((dir / "noise.mp3").c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
        double level = 0.0;
        int mode = SF_BITRATE_MODE_CONSTANT;
        sf_command(f, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
        sf_command(f, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
        std::vector<float> x(2 * 44100 * 3);
        uint32_t seed = 7;
        for (auto &v : x) {
            seed = seed * 1664525u + 1013904223u;
            v = static_cast<float>((seed >> 8) / 16777216.0 - 0.5) * 0.5f;
        }
        sf_writef_float(f, x.data(), 44100 * 3);
        sf_close(f);
    }
    ASSERT_GT(kbit_per_s(dir / "noise.mp3"), 300.0);

    result r = run({"eq", "noise.mp3", "default.mp3", "--preset", "PS_none"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    r = run({"eq", "noise.mp3", "small.mp3", "--preset", "PS_none", "--quality", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run({"eq", "noise.mp3", "cbr.mp3", "--quality", "10", "--bitrate-mode", "constant"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GT(kbit_per_s(dir / "default.mp3"), 192.0);
    EXPECT_LT(kbit_per_s(dir / "small.mp3"), 0.7 * kbit_per_s(dir / "default.mp3"));
    EXPECT_GT(kbit_per_s(dir / "cbr.mp3"), 300.0);

    // Settings that do not apply are said, not silently dropped.
    r = run({"eq", "noise.mp3", "o.flac", "--quality", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("lossy"), std::string::npos) << r.err;
    EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
    EXPECT_EQ(info_of(dir / "o.flac").format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    r = run({"eq", "noise.mp3", "o.ogg", "--bitrate-mode", "constant"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--bitrate-mode constant"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "o.ogg"));
}

TEST_F(EqFiles, ChannelLayoutsAreKept) {
    using L = std::vector<int>;
    struct {
        const char *label;
        L layout;
    } const cases[] = {
        {"7.1",
         {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER, SF_CHANNEL_MAP_LFE,
          SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT, SF_CHANNEL_MAP_SIDE_LEFT,
          SF_CHANNEL_MAP_SIDE_RIGHT}},
        {"4.0",
         {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER,
          SF_CHANNEL_MAP_REAR_CENTER}},
        {"2.1", {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_LFE}},
    };
    auto layout_of = [](const fs::path &p) {
        SF_INFO info{};
        SNDFILE *f = sf_open(p.c_str(), SFM_READ, &info);
        L l(static_cast<size_t>(info.channels));
        if (!f || sf_command(f, SFC_GET_CHANNEL_MAP_INFO, l.data(),
                             static_cast<int>(l.size() * sizeof(int))) != SF_TRUE)
            l.clear();
        if (f)
            sf_close(f);
        return l;
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        const fs::path dir = fresh_dir();
        const int channels = static_cast<int>(c.layout.size());
        SF_INFO info{};
        info.format = SF_FORMAT_WAVEX | SF_FORMAT_PCM_16;
        info.samplerate = 44100;
        info.channels = channels;
        SNDFILE *f = sf_open((dir / "in.wav").c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
        ASSERT_EQ(sf_command(f, SFC_SET_CHANNEL_MAP_INFO, const_cast<int *>(c.layout.data()),
                             channels * static_cast<int>(sizeof(int))),
                  SF_TRUE);
        const auto x = to_pcm16(signal(2000, channels, 0.3));
        sf_writef_short(f, x.data(), 2000);
        sf_close(f);
        ASSERT_EQ(layout_of(dir / "in.wav"), c.layout);

        result r = run({"eq", "in.wav", "out.wav", "--preset", "PS_jazz"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(info_of(dir / "out.wav").format, SF_FORMAT_WAVEX | SF_FORMAT_PCM_16);
        EXPECT_EQ(layout_of(dir / "out.wav"), c.layout);

        // FLAC in libsndfile records no layout: said once, the output still made.
        r = run({"eq", "in.wav", "out.flac"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
        EXPECT_NE(r.err.find("channel layout"), std::string::npos) << r.err;
        EXPECT_EQ(info_of(dir / "out.flac").channels, channels);
    }
}

TEST_F(EqFiles, CutInputsAreEqualisedAsFarAsTheyGoAndSaidSo) {
    const fs::path dir = fresh_dir();
    const auto x = to_pcm16(signal(20000, 2, 0.5));
    write_audio(dir / "full.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, x);
    write_audio(dir / "full.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, x);
    for (const char *name : {"full.wav", "full.flac"}) {
        SCOPED_TRACE(name);
        const std::string whole = read_file(dir / name);
        const std::string cut_name = std::string("cut") + fs::path(name).extension().string();
        write_file(dir / cut_name, whole.substr(0, whole.size() * 6 / 10));
        const result r = run({"eq", cut_name, "out.wav", "--preset", "PS_pop"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
        EXPECT_NE(r.err.find("'" + cut_name + "'"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("20000"), std::string::npos) << r.err; // what the header promised
        const SF_INFO got = info_of(dir / "out.wav");
        EXPECT_GT(got.frames, 20000 * 4 / 10);
        EXPECT_LT(got.frames, 20000);
        EXPECT_NE(r.err.find(std::to_string(got.frames)), std::string::npos) << r.err;
    }
}

TEST_F(EqFiles, ClippingIsCountedAndPreampLowersTheLevel) {
    const fs::path dir = fresh_dir();
    // About -3 dBFS: the rock preset's boosts push part of it past full scale.
    const auto x = to_pcm16(signal(44100, 2, 0.7));
    write_audio(dir / "in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, x);
    result r = run({"eq", "in.wav", "loud.wav", "--preset", "PS_rock"});
    ASSERT_EQ(r.status, 0) << r.err;
    const audio loud = read_audio(dir / "loud.wav", false);
    size_t clipped = 0;
    for (int16_t s : loud.s)
        clipped += std::abs(static_cast<int>(s)) >= 32767;
    ASSERT_GT(clipped, 0u);
    EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
    EXPECT_NE(r.err.find("'loud.wav'"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(std::to_string(clipped) + " of 88200 samples clipped"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("--preamp -"), std::string::npos) << r.err;

    // --preamp 0 changes no bit; the suggested preamp leaves nothing clipped.
    r = run({"eq", "in.wav", "zero.wav", "--preset", "PS_rock", "--preamp", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "zero.wav"), read_file(dir / "loud.wav"));
    r = run({"eq", "in.wav", "quiet.wav", "--preset", "PS_rock", "--preamp", "-12"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    // The preamp is a plain gain before the equaliser, on the float path too.
    const auto f = signal(5000, 1, 0.9);
    write_audio(dir / "in.f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1, f);
    r = run({"eq", "in.f32.wav", "pre.wav", "--preset", "PS_rock", "--preamp", "-6.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<float> want = f;
    const float gain = static_cast<float>(std::pow(10.0, -6.5 / 20.0));
    for (auto &v : want)
        v *= gain;
    ASSERT_EQ(qxeq_set_preset("PS_rock"), QX_OK);
    ASSERT_EQ(qxeq_process_f32(want.data(), 5000, 1), QX_OK);
    const audio got = read_audio(dir / "pre.wav", true);
    ASSERT_EQ(got.f.size(), want.size());
    EXPECT_EQ(std::memcmp(got.f.data(), want.data(), want.size() * sizeof(float)), 0);
}

TEST_F(EqFiles, NonFiniteSamplesNeverReachAnIntegerEncoder) {
    const fs::path dir = fresh_dir();
    auto x = signal(3000, 1, 0.5);
    x[10] = NAN;
    x[20] = INFINITY;
    for (size_t i = 1000; i < 1100; ++i)
        x[i] = 3e38f; // boosted beyond the float range
    write_audio(dir / "in.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1, x);
    // FLAC takes integers, MP3 feeds an encoder: neither may see NaN or infinity. A float
    // WAV stores what the equaliser gave.
    for (const char *out : {"out.flac", "out.mp3", "out.wav"}) {
        SCOPED_TRACE(out);
        const result r = run({"eq", "in.wav", out, "--preset", "PS_rock"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("'in.wav': 2 samples are not finite"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("'" + std::string(out) + "': "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("samples went beyond the float range"), std::string::npos) << r.err;
        const audio got = read_audio(dir / out, true);
        EXPECT_GE(got.info.frames, 3000);
        if (std::strcmp(out, "out.wav") != 0)
            for (float v : got.f)
                ASSERT_TRUE(std::isfinite(v));
    }
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"in.wav", "out.flac", "out.mp3", "out.wav"}));
}

} // namespace
