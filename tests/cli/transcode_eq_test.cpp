// The equaliser inside ffmpeg's transcode gives the library's own output: bit for bit where
// every step is float (float WAV in, raw float out), preamp and --preamp auto included, and
// after ffmpeg's 16-bit conversion where the formats are integer. The channel layout survives
// the filter.
#include "media.h"

#include "qxeq.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using namespace harness;

struct eq_case {
    const char *name;
    std::string layout;
    int rate;
    std::vector<std::string> args; // --preset / --gain / --preamp as the tool takes them
};

void PrintTo(const eq_case &c, std::ostream *os) { *os << c.name; }

// The same settings on the library's default equaliser, as the tool's options give them.
void apply(const std::vector<std::string> &args, int rate) {
    ASSERT_EQ(qxeq_set_sample_rate(rate), QX_OK);
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == "--preset") {
            ASSERT_EQ(qxeq_set_preset(args[i + 1].c_str()), QX_OK);
        } else if (args[i] == "--gain") {
            const std::string g = args[i + 1];
            const size_t eq = g.find('=');
            ASSERT_EQ(qxeq_set_gain(static_cast<uint32_t>(std::stoul(g.substr(0, eq))),
                                    std::stod(g.substr(eq + 1))),
                      QX_OK);
        }
    }
}

// The preamp the tool hands the plugin, read back as the float its control port holds; auto
// is the cut that undoes the library's peak for the settings applied, and 0.01 dB more.
float preamp_db(const std::vector<std::string> &args) {
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] != "--preamp")
            continue;
        if (args[i + 1] != "auto")
            return std::stof(args[i + 1]);
        const double peak = qxeq_peak_db(nullptr); // undone with 0.01 dB to spare
        return static_cast<float>(peak > 0.0 ? std::max(-(peak + 0.01), -24.0) : 0.0);
    }
    return 0.0f;
}

const eq_case k_float_cases[] = {
    // clang-format off
    {"stereo_rock", "stereo", 48000, {"--preset", "PS_rock"}},
    {"mono_gains", "mono", 44100, {"--gain", "0=6", "--gain", "6=-3.5"}},
    {"surround51_dance", "5.1(side)", 48000, {"--preset", "PS_dance"}},
    {"surround71_96k", "7.1", 96000, {"--gain", "2=12", "--gain", "7=-24"}},
    {"none_passes_through", "stereo", 48000, {"--preset", "PS_none"}},
    {"clamped_gain", "stereo", 44100, {"--gain", "3=30"}},
    {"top_bands_off_at_16k", "stereo", 16000, {"--preset", "PS_treble_boost"}},
    {"preamp_cut", "stereo", 48000, {"--preset", "PS_dance", "--preamp", "-6"}},
    {"preamp_only", "mono", 48000, {"--preamp", "3.25"}},
    {"preamp_auto", "stereo", 48000, {"--preset", "PS_dance", "--preamp", "auto"}},
    {"preamp_auto_beyond_24", "5.1(side)", 44100, {"--gain", "0=24", "--gain", "1=24", "--preamp", "auto"}},
    {"preamp_auto_nothing_to_undo", "stereo", 48000, {"--gain", "3=-6", "--preamp", "auto"}},
    // clang-format on
};

class FloatPath : public CliTest, public ::testing::WithParamInterface<eq_case> {};

TEST_P(FloatPath, EqualsTheLibrarysProcessingOfTheDecodedInput) {
    QX_NEED_BUNDLE();
    const eq_case &c = GetParam();
    const fs::path dir = fresh_dir();
    media::audio_clip(dir / "in.wav", "pcm_f32le", c.rate, c.layout, 1.5);
    write_file(dir / "raw.json", R"({"FormatCreator":"f32le"})");
    std::vector<std::string> args = {"transcode", "in.wav", "out.f32le", "--profile", "raw.json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const result r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;

    // The plugin's preamp is a float factor 10^(dB/20) on each input sample, none at 0 dB.
    audio want = read_audio(dir / "in.wav", true);
    ASSERT_FALSE(want.f.empty());
    apply(c.args, c.rate);
    const float db = preamp_db(c.args);
    if (db != 0.0f) {
        const float gain = static_cast<float>(std::pow(10.0, static_cast<double>(db) / 20.0));
        for (float &x : want.f)
            x *= gain;
    }
    ASSERT_EQ(
        qxeq_process_f32(want.f.data(), static_cast<int32_t>(want.info.frames), want.info.channels),
        QX_OK);

    const std::string raw = read_file(dir / "out.f32le");
    ASSERT_EQ(raw.size(), want.f.size() * sizeof(float));
    std::vector<float> got(want.f.size());
    std::memcpy(got.data(), raw.data(), raw.size());
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], want.f[i]) << "sample " << i;
}

INSTANTIATE_TEST_SUITE_P(Table, FloatPath, ::testing::ValuesIn(k_float_cases),
                         [](const auto &info) { return std::string(info.param.name); });

using IntegerPath = CliTest;

// 16-bit WAV in, 16-bit FLAC out: ffmpeg scales to float by 1/32768 (the library's own input
// scaling) and back by lrintf(x * 32768) saturated, without dither. Applying that conversion
// to the library's float output gives the file's samples exactly.
TEST_F(IntegerPath, SixteenBitFlacIsTheLibrarysFloatOutputConvertedAsFfmpegDoes) {
    QX_NEED_BUNDLE();
    const fs::path dir = fresh_dir();
    media::audio_clip(dir / "in.wav", "pcm_s16le", 44100, "stereo", 1.5);
    write_file(dir / "flac.json", R"({"FormatCreator":"flac","AudioBitsPerSample":"16"})");
    const result r = run({"transcode", "in.wav", "out.flac", "--profile", "flac.json", "--gain",
                          "0=12", "--gain", "1=6"});
    ASSERT_EQ(r.status, 0) << r.err;

    const audio in = read_audio(dir / "in.wav", false);
    std::vector<float> y(in.s.size());
    for (size_t i = 0; i < y.size(); ++i)
        y[i] = static_cast<float>(in.s[i]) * (1.0f / 32768.0f);
    ASSERT_EQ(qxeq_set_sample_rate(44100), QX_OK);
    ASSERT_EQ(qxeq_set_gain(0, 12.0), QX_OK);
    ASSERT_EQ(qxeq_set_gain(1, 6.0), QX_OK);
    ASSERT_EQ(qxeq_process_f32(y.data(), static_cast<int32_t>(in.info.frames), 2), QX_OK);
    const audio got = read_audio(dir / "out.flac", false);
    ASSERT_EQ(got.s.size(), y.size());
    size_t clipped = 0;
    for (size_t i = 0; i < y.size(); ++i) {
        const long v = std::lrintf(y[i] * 32768.0f);
        clipped += v > 32767 || v < -32768;
        ASSERT_EQ(got.s[i], static_cast<int16_t>(std::clamp(v, -32768L, 32767L))) << i;
    }
    EXPECT_GT(clipped, 0u) << "the boost should push some samples past full scale";
}

// The filter hands on bare channels; the output names the input's layout again.
TEST_F(IntegerPath, ChannelLayoutSurvivesTheEqualiser) {
    QX_NEED_BUNDLE();
    const fs::path dir = fresh_dir();
    write_file(dir / "flac.json", R"({"FormatCreator":"flac"})");
    for (const std::string layout : {"mono", "stereo", "5.1(side)", "5.1", "7.1"}) {
        SCOPED_TRACE(layout);
        media::audio_clip(dir / "in.wav", "pcm_s16le", 48000, layout, 0.5);
        const result r = run({"transcode", "in.wav", "out.flac", "--profile", "flac.json",
                              "--preset", "PS_rock", "--overwrite"});
        ASSERT_EQ(r.status, 0) << r.err;
        const media::probed got = media::probe(dir / "out.flac");
        const media::stream *a = got.first("audio");
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->layout, layout);
    }
}

// With two audio streams ffmpeg equalises the one it picks (a default stream, else the most
// channels), so the plugin's variant must be the one for that stream's channels.
TEST_F(IntegerPath, VariantFitsTheAudioStreamFfmpegPicks) {
    QX_NEED_BUNDLE();
    const fs::path dir = fresh_dir();
    write_file(dir / "flac.json", R"({"FormatCreator":"flac"})");
    const std::string two = "[0]pan=stereo|c0=c0|c1=c0[a];"
                            "[1]pan=5.1(side)|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0[b]";
    struct {
        const char *file;
        std::vector<std::string> disposition; // extra ffmpeg options for the clip
        int channels;
        const char *variant;
    } const cases[] = {
        {"default_stereo.mkv", {}, 2, "eq#stereo"}, // matroska marks the first track default
        {"no_default.mkv", {"-disposition:a:0", "0"}, 6, "eq#surround51"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<std::string> args = {"-f",
                                         "lavfi",
                                         "-i",
                                         "sine=d=0.5",
                                         "-f",
                                         "lavfi",
                                         "-i",
                                         "sine=f=300:d=0.5",
                                         "-filter_complex",
                                         two,
                                         "-map",
                                         "[a]",
                                         "-map",
                                         "[b]",
                                         "-c:a",
                                         "pcm_s16le"};
        args.insert(args.end(), c.disposition.begin(), c.disposition.end());
        args.push_back((dir / c.file).string());
        media::ffmpeg(args);
        const std::vector<std::string> tc = {"transcode", c.file,     "out.flac", "--profile",
                                             "flac.json", "--preset", "PS_rock",  "--overwrite"};
        std::vector<std::string> dry = tc;
        dry.push_back("--dry-run");
        EXPECT_NE(run(dry).out.find(c.variant), std::string::npos);
        const result r = run(tc);
        ASSERT_EQ(r.status, 0) << r.err;
        const media::probed got = media::probe(dir / "out.flac");
        ASSERT_NE(got.first("audio"), nullptr);
        EXPECT_EQ(got.first("audio")->channels, c.channels);
    }
}

} // namespace
