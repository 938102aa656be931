// The eq command end to end: files written here, equalised by the program, read back and
// compared sample for sample with the library's own process call on the same input and
// settings, in this process.
#include "block_pipeline.h"
#include "harness.h"

#include "qxeq.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

namespace {

using namespace harness;
using EqCommand = CliTest;

struct gain {
    uint32_t band;
    double db;
};

struct eq_case {
    const char *label;
    int container; // SF_FORMAT_WAV, SF_FORMAT_FLAC, SF_FORMAT_AIFF
    bool pcm16;    // 16-bit integer samples, else 32-bit float
    int channels, rate;
    int64_t frames;
    const char *preset; // or nullptr
    std::vector<gain> gains;
    const char *format; // --format, or nullptr for the default path
    bool pipes;         // through standard input and output
};

// The tool's conversion for a float path writing 16-bit samples: the inverse of the
// library's 1/32768 input scaling, rounded and saturated.
int16_t to_s16(float x) {
    const float v = x * 32768.0f;
    if (v >= 32767.0f)
        return 32767;
    if (v <= -32768.0f)
        return -32768;
    return static_cast<int16_t>(std::lrintf(v));
}

void configure(const eq_case &c) {
    ASSERT_EQ(qxeq_set_preset(c.preset ? c.preset : "PS_none"), QX_OK); // also clears state
    for (const auto &g : c.gains)
        ASSERT_EQ(qxeq_set_gain(g.band, g.db), QX_OK);
    ASSERT_EQ(qxeq_set_sample_rate(c.rate), QX_OK);
    qxeq_reset_state();
    qx_clear_warnings();
}

std::vector<std::string> settings_args(const eq_case &c) {
    std::vector<std::string> a;
    if (c.preset)
        a.insert(a.end(), {"--preset", c.preset});
    for (const auto &g : c.gains) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%u=%.17g", g.band, g.db);
        a.insert(a.end(), {"--gain", buf});
    }
    if (c.format)
        a.insert(a.end(), {"--format", c.format});
    return a;
}

// Boosting presets push the test signal past full scale, and bands above half of a low rate
// make the filters grow without bound: the only words these cases may print are the warnings
// that say so.
bool only_level_warnings(const std::string &err) {
    std::istringstream s(err);
    for (std::string line; std::getline(s, line);) {
        const bool level = line.find("clipped") != std::string::npos ||
                           line.find("exceed full scale") != std::string::npos ||
                           line.find("beyond the float range") != std::string::npos;
        if (line.rfind("playback-profile: warning: ", 0) != 0 || !level)
            return false;
    }
    return true;
}

// 3 blocks of 4096 frames and a partial one: the program's block boundaries must not show.
constexpr int64_t k_long = 3 * 4096 + 1001;

TEST_F(EqCommand, OutputMatchesTheLibrarysProcessCallSampleForSample) {
    // clang-format off
    const eq_case cases[] = {
        {"s16 mono",        SF_FORMAT_WAV,  true,  1, 44100,  2000,   "PS_rock",       {}, nullptr, false},
        {"s16 stereo long", SF_FORMAT_WAV,  true,  2, 48000,  k_long, "PS_bass_boost", {}, nullptr, false},
        {"s16 6ch gains",   SF_FORMAT_WAV,  true,  6, 96000,  k_long, nullptr, {{0, 9}, {3, -7.5}, {7, 12}}, nullptr, false},
        {"f32 mono gains",  SF_FORMAT_WAV,  false, 1, 22050,  3000,   nullptr, {{1, 6}, {6, -3}}, nullptr, false},
        {"f32 stereo long", SF_FORMAT_WAV,  false, 2, 44100,  k_long, "PS_dance",      {}, nullptr, false},
        {"f32 6ch long",    SF_FORMAT_WAV,  false, 6, 48000,  k_long, "PS_speech",     {}, nullptr, false},
        {"s16 bypassed",    SF_FORMAT_WAV,  true,  2, 44100,  5000,   nullptr,         {}, nullptr, false},
        {"f32 bypassed",    SF_FORMAT_WAV,  false, 2, 44100,  5000,   nullptr,         {}, nullptr, false},
        {"flac s16",        SF_FORMAT_FLAC, true,  2, 44100,  k_long, "PS_pop",        {}, nullptr, false},
        {"aiff s16",        SF_FORMAT_AIFF, true,  1, 32000,  5000,   "PS_jazz",       {}, nullptr, false},
        {"aiff f32",        SF_FORMAT_AIFF, false, 2, 8000,   5000,   "PS_classical",  {}, nullptr, false},
        {"s16 through f32", SF_FORMAT_WAV,  true,  2, 44100,  k_long, "PS_loudness",   {}, "f32",   false},
        {"f32 through s16", SF_FORMAT_WAV,  false, 2, 44100,  k_long, "PS_loudness",   {}, "s16",   false},
        {"s16 max rate",    SF_FORMAT_WAV,  true,  1, 384000, 3000,   "PS_treble_boost", {}, nullptr, false},
        {"s16 pipes",       SF_FORMAT_WAV,  true,  2, 44100,  k_long, "PS_rock",       {}, nullptr, true},
        {"f32 pipes",       SF_FORMAT_WAV,  false, 6, 44100,  k_long, "PS_r_b",        {}, nullptr, true},
    };
    // clang-format on
    const fs::path dir = fresh_dir();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        const int format = c.container | (c.pcm16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
        const std::vector<float> x = signal(c.frames, c.channels, 0.9);
        const fs::path in = dir / "in", out = dir / "out";
        if (c.pcm16)
            write_audio(in, format, c.rate, c.channels, to_pcm16(x));
        else
            write_audio(in, format, c.rate, c.channels, x);

        std::vector<std::string> args{"eq", c.pipes ? "-" : in.string(),
                                      c.pipes ? "-" : out.string()};
        const auto settings = settings_args(c);
        args.insert(args.end(), settings.begin(), settings.end());
        const result r = run(args, c.pipes ? read_file(in) : "");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(only_level_warnings(r.err)) << r.err;
        if (c.pipes)
            write_file(out, r.out);

        // What the library gives for the same samples, as one block.
        const audio src = read_audio(in, !c.pcm16);
        configure(c);
        const bool s16_path = c.format ? std::strcmp(c.format, "s16") == 0 : c.pcm16;
        std::vector<int16_t> want_s;
        std::vector<float> want_f;
        if (s16_path) {
            want_s = c.pcm16 ? src.s : std::vector<int16_t>(src.f.size());
            if (!c.pcm16)
                std::transform(src.f.begin(), src.f.end(), want_s.begin(), to_s16);
            ASSERT_EQ(qxeq_process_s16(want_s.data(), static_cast<int32_t>(c.frames), c.channels),
                      QX_OK);
        } else {
            want_f = c.pcm16 ? std::vector<float>(src.s.size()) : src.f;
            if (c.pcm16)
                for (size_t i = 0; i < src.s.size(); ++i)
                    want_f[i] = static_cast<float>(src.s[i]) * (1.0f / 32768.0f);
            ASSERT_EQ(qxeq_process_f32(want_f.data(), static_cast<int32_t>(c.frames), c.channels),
                      QX_OK);
        }

        const audio got = read_audio(out, !c.pcm16);
        EXPECT_EQ(got.info.format, src.info.format);
        EXPECT_EQ(got.info.channels, c.channels);
        EXPECT_EQ(got.info.samplerate, c.rate);
        ASSERT_EQ(got.info.frames, c.frames);
        if (c.pcm16 && s16_path) {
            EXPECT_EQ(got.s, want_s);
        } else if (c.pcm16) {
            std::vector<int16_t> want(want_f.size());
            std::transform(want_f.begin(), want_f.end(), want.begin(), to_s16);
            EXPECT_EQ(got.s, want);
        } else if (s16_path) {
            // 16-bit results written to a float file: s / 32768, exactly.
            std::vector<float> want(want_s.size());
            for (size_t i = 0; i < want_s.size(); ++i)
                want[i] = static_cast<float>(want_s[i]) / 32768.0f;
            EXPECT_EQ(got.f, want);
        } else {
            ASSERT_EQ(got.f.size(), want_f.size());
            EXPECT_EQ(std::memcmp(got.f.data(), want_f.data(), want_f.size() * sizeof(float)), 0);
        }
        EXPECT_EQ(listing(dir), (std::vector<std::string>{"in", "out"})); // no temporary left
        fs::remove(in);
        fs::remove(out);
    }
}

// The library's results as the tool hands them to libsndfile: clipping on, lossy encoders at
// their best quality and variable rate, in 4096-frame pieces.
void write_as_the_tool_does(const fs::path &p, int format, int rate, int channels,
                            const std::vector<float> &f, const std::vector<int16_t> &s) {
    SNDFILE *out = open_for_write(p, format, rate, channels);
    ASSERT_NE(out, nullptr);
    sf_command(out, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const int sub = format & SF_FORMAT_SUBMASK;
    if (sub == SF_FORMAT_VORBIS || sub == SF_FORMAT_OPUS || sub == SF_FORMAT_MPEG_LAYER_III) {
        double level = 0.0;
        int mode = SF_BITRATE_MODE_VARIABLE;
        sf_command(out, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
        sf_command(out, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
    }
    const sf_count_t frames = static_cast<sf_count_t>(f.empty() ? s.size() : f.size()) / channels;
    for (sf_count_t at = 0; at < frames; at += 4096) {
        const sf_count_t n = std::min<sf_count_t>(4096, frames - at);
        const size_t first = static_cast<size_t>(at * channels);
        EXPECT_EQ(f.empty() ? sf_writef_short(out, s.data() + first, n)
                            : sf_writef_float(out, f.data() + first, n),
                  n);
    }
    sf_close(out);
}

// Files of more blocks than the tool's ring holds, and a partial one: the ring's hand-offs must
// not show in FLAC, WAV or Vorbis outputs. The library processes the whole input as one block
// and libsndfile encodes its results; both outputs decode to the same samples.
TEST_F(EqCommand, FilesLongerThanTheRingMatchTheLibraryBitForBit) {
    constexpr int64_t frames =
        static_cast<int64_t>((cli::k_ring_blocks + 1) * cli::k_block_frames) + 1001;
    struct {
        const char *label;
        int input;       // container | encoding
        const char *out; // output name
        int channels;
        const char *preset;
        const char *format; // --format, or nullptr
        bool pipes;
    } const cases[] = {
        // clang-format off
        {"wav s16",          SF_FORMAT_WAV | SF_FORMAT_PCM_16,  "out.wav",  2, "PS_rock",       nullptr, false},
        {"wav s16 pipes",    SF_FORMAT_WAV | SF_FORMAT_PCM_16,  "out.wav",  2, "PS_rock",       nullptr, true},
        {"wav f32 6ch",      SF_FORMAT_WAV | SF_FORMAT_FLOAT,   "out.wav",  6, "PS_dance",      nullptr, false},
        {"flac 24-bit",      SF_FORMAT_FLAC | SF_FORMAT_PCM_24, "out.flac", 2, "PS_bass_boost", nullptr, false},
        {"flac 24-bit s16",  SF_FORMAT_FLAC | SF_FORMAT_PCM_24, "out.flac", 2, "PS_rock",       "s16",   false},
        {"flac 16-bit f32",  SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "out.flac", 1, "PS_pop",        "f32",   false},
        {"wav s16 to flac",  SF_FORMAT_WAV | SF_FORMAT_PCM_16,  "out.flac", 2, "PS_rock",       nullptr, false},
        {"wav s16 to ogg",   SF_FORMAT_WAV | SF_FORMAT_PCM_16,  "out.ogg",  2, "PS_rock",       nullptr, false},
        // clang-format on
    };
    const fs::path dir = fresh_dir();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        const bool in_16 = (c.input & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
        const std::vector<float> x = signal(frames, c.channels, 0.9);
        const fs::path in = dir / "in", out = dir / c.out, ref = dir / (std::string("ref") + c.out);
        if (in_16)
            write_audio(in, c.input, 44100, c.channels, to_pcm16(x));
        else
            write_audio(in, c.input, 44100, c.channels, x);
        std::vector<std::string> args{"eq", c.pipes ? "-" : in.string(),
                                      c.pipes ? "-" : out.string(), "--preset", c.preset};
        if (c.format)
            args.insert(args.end(), {"--format", c.format});
        const result r = run(args, c.pipes ? read_file(in) : "");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(only_level_warnings(r.err)) << r.err;
        if (c.pipes)
            write_file(out, r.out);
        const SF_INFO got_info = read_audio(out, true).info;
        ASSERT_EQ(got_info.frames, frames);
        const bool out_16 = (got_info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;

        ASSERT_EQ(qxeq_set_preset(c.preset), QX_OK);
        qxeq_reset_state();
        const bool s16_path = c.format ? std::strcmp(c.format, "s16") == 0 : in_16;
        std::vector<float> f;
        std::vector<int16_t> s;
        if (s16_path) {
            const audio src = read_audio(in, !in_16);
            s = in_16 ? src.s : std::vector<int16_t>(src.f.size());
            if (!in_16)
                std::transform(src.f.begin(), src.f.end(), s.begin(), to_s16);
            ASSERT_EQ(qxeq_process_s16(s.data(), static_cast<int32_t>(frames), c.channels), QX_OK);
            if (!out_16) {
                f.resize(s.size());
                for (size_t i = 0; i < s.size(); ++i)
                    f[i] = static_cast<float>(s[i]) * (1.0f / 32768.0f);
                s.clear();
            }
        } else {
            const audio src = read_audio(in, true); // 16-bit input reads as s / 32768
            f = src.f;
            ASSERT_EQ(qxeq_process_f32(f.data(), static_cast<int32_t>(frames), c.channels), QX_OK);
            if (out_16) {
                s.resize(f.size());
                std::transform(f.begin(), f.end(), s.begin(), to_s16);
                f.clear();
            } else if ((got_info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_VORBIS) {
                for (auto &v : f)
                    v = std::clamp(v, -1.0f, 1.0f); // what the tool gives a lossy encoder
            }
        }
        write_as_the_tool_does(ref, got_info.format, 44100, c.channels, f, s);
        const audio got = read_audio(out, true), want = read_audio(ref, true);
        ASSERT_EQ(got.f.size(), want.f.size());
        EXPECT_EQ(std::memcmp(got.f.data(), want.f.data(), want.f.size() * sizeof(float)), 0);
        fs::remove(in);
        fs::remove(out);
        fs::remove(ref);
    }
}

TEST_F(EqCommand, ClampedGainIsReportedAndStillEqualises) {
    const fs::path dir = fresh_dir();
    const std::vector<float> x = signal(4000, 1, 0.5);
    write_audio(dir / "in.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1, x);
    const result r = run({"eq", "in.wav", "out.wav", "--gain", "3=30", "--gain", "1500=-3"});
    ASSERT_EQ(r.status, 0) << r.err;
    // 1500 Hz is band 3, so the second setting replaces the clamped one.
    EXPECT_EQ(r.err, "playback-profile: warning: --gain '3=30': 30 dB is outside -24 to 24 dB; "
                     "band 3 (1500 Hz) is set to 24 dB\n");

    ASSERT_EQ(qxeq_set_gain(3, -3.0), QX_OK);
    std::vector<float> want = x;
    ASSERT_EQ(qxeq_process_f32(want.data(), 4000, 1), QX_OK);
    EXPECT_EQ(read_audio(dir / "out.wav", true).f, want);
}

// Telephone, speech and low music rates with every preset: the bands at or above half the rate
// are off, so the output is finite, about as loud as the input, and carries no warning.
TEST_F(EqCommand, LowRateFilesStayFiniteAndSensibleWithEveryPreset) {
    const fs::path dir = fresh_dir();
    for (int rate : {8000, 11025, 16000, 22050}) {
        std::vector<float> x(2000);
        for (size_t i = 0; i < x.size(); ++i)
            x[i] = static_cast<float>(0.1 *
                                      std::sin(2 * M_PI * 300.0 * static_cast<double>(i) / rate));
        write_audio(dir / "f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, rate, 1, x);
        write_audio(dir / "s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 1, to_pcm16(x));
        for (int32_t p = 0; p < qxeq_preset_count(); ++p) {
            const std::string preset = qxeq_preset_name(static_cast<uint32_t>(p));
            SCOPED_TRACE(std::to_string(rate) + " " + preset);
            for (const char *name : {"f32.wav", "s16.wav"}) {
                const result r = run({"eq", name, "out.wav", "--preset", preset});
                ASSERT_EQ(r.status, 0) << r.err;
                EXPECT_EQ(r.err, "") << name;
                const audio got = read_audio(dir / "out.wav", true);
                float peak = 0.0f;
                for (float v : got.f) {
                    ASSERT_TRUE(std::isfinite(v)) << name;
                    peak = std::max(peak, std::fabs(v));
                }
                EXPECT_LT(peak, 0.5f) << name; // the presets boost by at most 6 dB a band
            }
        }
    }
}

// --preamp auto under boosting presets: a full-scale logarithmic sweep from 20 Hz to 20 kHz
// comes back with no sample clipped, 16-bit and float, and without auto the same runs clip.
TEST_F(EqCommand, AutomaticPreampLeavesAFullScaleSweepUnclipped) {
    const fs::path dir = fresh_dir();
    const int rate = 44100;
    const double seconds = 6.0, f0 = 20.0, f1 = 20000.0, k = std::log(f1 / f0);
    std::vector<float> sweep(static_cast<size_t>(rate * seconds));
    for (size_t i = 0; i < sweep.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        sweep[i] = static_cast<float>(
            std::sin(2 * M_PI * f0 * seconds / k * (std::exp(t / seconds * k) - 1)));
    }
    write_audio(dir / "f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, rate, 1, sweep);
    write_audio(dir / "s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 1, to_pcm16(sweep));
    for (const char *preset : {"PS_dance", "PS_bass_boost", "PS_treble_boost", "PS_loudness"}) {
        for (const char *name : {"f32.wav", "s16.wav"}) {
            SCOPED_TRACE(std::string(preset) + " " + name);
            const result plain = run({"eq", name, "out.wav", "--preset", preset});
            ASSERT_EQ(plain.status, 0) << plain.err;
            EXPECT_NE(plain.err.find("lower the level with --preamp"), std::string::npos)
                << plain.err;
            const result r = run({"eq", name, "out.wav", "--preset", preset, "--preamp", "auto"});
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");
            const audio got = read_audio(dir / "out.wav", true);
            float peak = 0.0f;
            for (float v : got.f)
                peak = std::max(peak, std::fabs(v));
            EXPECT_LT(peak, 1.0f);
            EXPECT_GT(peak, 0.9f); // and the level is not cut further than it has to be
        }
    }
}

} // namespace
