// transcode end to end against the real ffmpeg and ffprobe: every example profile and a table
// of common ones turn generated clips into files ffprobe reads with the codecs, rates, channel
// counts, sizes and frame rates the profile names, with and without the equaliser.
#include "media.h"

#include "qxtp.h"

#include <map>

namespace {

using namespace harness;
using TranscodeProfiles = CliTest;

// What ffmpeg makes of each FormatCreator by default: its format name as ffprobe reports it,
// the audio and the video codec.
struct container {
    const char *format, *audio, *video;
};
const std::map<std::string, container> k_defaults = {
    {"mp4", {"mov,mp4,m4a,3gp,3g2,mj2", "aac", "h264"}},
    {"hevc", {"mov,mp4,m4a,3gp,3g2,mj2", "aac", "hevc"}},
    {"mkv", {"matroska,webm", "vorbis", "h264"}},
    {"webm", {"matroska,webm", "opus", "vp9"}},
    {"opus", {"ogg", "opus", ""}},
    {"ogg", {"ogg", "vorbis", ""}},
    {"mp3", {"mp3", "mp3", ""}},
    {"flac", {"flac", "flac", ""}},
    {"ts", {"mpegts", "mp2", "mpeg2video"}},
    {"m4a", {"mov,mp4,m4a,3gp,3g2,mj2", "aac", ""}},
    {"aac", {"aac", "aac", ""}},
};

struct clip {
    bool video;
    std::string layout; // the audio's channel layout; empty for none
    int rate;           // the audio's sample rate
};

int layout_channels(const std::string &layout) {
    return layout == "mono" ? 1 : layout == "stereo" ? 2 : layout == "5.1(side)" ? 6 : 8;
}

fs::path make_clip(const fs::path &dir, const clip &c) {
    if (c.video) {
        const fs::path p = dir / "clip.mkv";
        media::av_clip(p, 320, 240, 1.0, c.layout);
        return p;
    }
    const fs::path p = dir / "clip.wav";
    media::audio_clip(p, "pcm_s16le", c.rate, c.layout, 1.0);
    return p;
}

// Transcodes the clip with the profile (and the equaliser settings, if any) to OUT, and checks
// the file it makes, written, against the profile's fields and ffmpeg's defaults.
void check_profile(const fs::path &dir, const fs::path &profile, const clip &c,
                   const std::vector<std::string> &eq, const fs::path &out,
                   const fs::path &written) {
    const fs::path in = make_clip(dir, c);
    std::vector<std::string> args = {"transcode", in.string(), out.string(), "--profile",
                                     profile.string()};
    args.insert(args.end(), eq.begin(), eq.end());
    const result r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;

    const int32_t id = qxtp_profile_from_json(read_file(profile).c_str());
    ASSERT_GE(id, 0);
    const std::string creator = qxtp_profile_get(id, "FormatCreator");
    auto number = [&](const char *field) {
        return static_cast<int>(qxtp_profile_parsed_uint(id, field));
    };
    const auto known = k_defaults.find(creator);
    ASSERT_NE(known, k_defaults.end()) << "add FormatCreator '" << creator << "' to k_defaults";
    const container want = known->second;

    const media::probed got = media::probe(written);
    EXPECT_EQ(got.format, want.format);
    const media::stream *a = got.first("audio");
    ASSERT_NE(a, nullptr) << "no audio in " << written;
    EXPECT_EQ(a->codec, want.audio);
    EXPECT_EQ(a->rate, number("AudioSampleRate") ? number("AudioSampleRate") : c.rate);
    EXPECT_EQ(a->channels, number("AudioChannelCount") ? number("AudioChannelCount")
                                                       : layout_channels(c.layout));
    const media::stream *v = got.first("video");
    if (!c.video) {
        EXPECT_EQ(v, nullptr);
        qxtp_profile_destroy(id);
        return;
    }
    ASSERT_NE(v, nullptr) << "no video in " << written;
    EXPECT_EQ(v->codec, want.video);
    EXPECT_EQ(v->width, number("VideoWidth") ? number("VideoWidth") : 320);
    EXPECT_EQ(v->height, number("VideoHeight") ? number("VideoHeight") : 240);
    const std::string fps = number("VideoFrameRateNumerator")
                                ? std::to_string(number("VideoFrameRateNumerator")) + "/" +
                                      std::to_string(number("VideoFrameRateDenominator"))
                                : "25/1";
    EXPECT_EQ(v->frame_rate, fps);
    qxtp_profile_destroy(id);
}

struct profile_case {
    const char *name;
    const char *json;
    clip input;
    std::vector<std::string> eq; // equaliser options; empty for a plain transcode
};

const profile_case k_cases[] = {
    // clang-format off
    {"mp4_aac_h264", R"({"FormatCreator":"mp4","AudioBitrate":"96000","AudioSampleRate":"44100","VideoWidth":"320","VideoHeight":"180","VideoFrameRateNumerator":"30000","VideoFrameRateDenominator":"1001"})",
     {true, "stereo", 48000}, {"--preset", "PS_rock"}},
    {"mp4_plain", R"({"FormatCreator":"mp4"})", {true, "stereo", 48000}, {}},
    {"matroska_vorbis_h264_51_to_stereo", R"({"FormatCreator":"mkv","AudioChannelCount":"2"})",
     {true, "5.1(side)", 48000}, {"--gain", "0=6", "--gain", "9600=-4"}},
    {"webm_vp9_opus", R"({"FormatCreator":"webm","AudioBitrate":"64000","VideoWidth":"160","VideoHeight":"120"})",
     {true, "stereo", 48000}, {"--preset", "PS_pop"}},
    {"ogg_opus", R"({"FormatCreator":"opus","AudioBitrate":"64000"})", {false, "stereo", 48000},
     {"--preset", "PS_classical"}},
    {"mp3_mono_22k", R"({"FormatCreator":"mp3","AudioBitrate":"64000","AudioSampleRate":"22050","AudioChannelCount":"1"})",
     {false, "stereo", 44100}, {"--preset", "PS_pop", "--preamp", "-3"}},
    {"mp3_plain", R"({"FormatCreator":"mp3"})", {false, "mono", 44100}, {}},
    {"flac_51", R"({"FormatCreator":"flac","AudioBitsPerSample":"16"})", {false, "5.1(side)", 48000},
     {"--preset", "PS_bass_boost"}},
    {"ogg_vorbis_mono_32k", R"({"FormatCreator":"ogg","AudioSampleRate":"32000"})", {false, "mono", 44100},
     {"--gain", "1500=-6"}},
    {"mpegts_25fps", R"({"FormatCreator":"ts","VideoFrameRateNumerator":"25","VideoFrameRateDenominator":"1"})",
     {true, "stereo", 48000}, {"--preset", "PS_rock"}},
    {"m4a_71", R"({"FormatCreator":"m4a","AudioBitrate":"256000"})", {false, "7.1", 48000},
     {"--preset", "PS_dance"}},
    {"adts_aac", R"({"FormatCreator":"aac","AudioBitrate":"128000"})", {false, "stereo", 44100}, {}},
    {"hevc_mp4", R"({"FormatCreator":"hevc","VideoWidth":"160","VideoHeight":"120"})",
     {true, "stereo", 48000}, {}},
    // clang-format on
};

void PrintTo(const profile_case &c, std::ostream *os) { *os << c.name; }

class CommonProfiles : public CliTest, public ::testing::WithParamInterface<profile_case> {};

TEST_P(CommonProfiles, ProduceTheCodecsRatesAndChannelsTheyName) {
    const profile_case &c = GetParam();
    if (!c.eq.empty())
        QX_NEED_BUNDLE();
    const fs::path dir = fresh_dir();
    write_file(dir / "p.json", c.json);
    const int32_t id = qxtp_profile_from_json(c.json);
    ASSERT_GE(id, 0);
    const std::string type = qxtp_profile_file_type(id);
    qxtp_profile_destroy(id);
    check_profile(dir, dir / "p.json", c.input, c.eq, dir / ("out" + type), dir / ("out" + type));
    // Nothing but the clip and the output: the temporary file went with the rename.
    EXPECT_EQ(listing(dir).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Table, CommonProfiles, ::testing::ValuesIn(k_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// Every shipped profile, on a clip with video and on one without, into a folder: the output
// is named after the input with the profile's file type.
TEST_F(TranscodeProfiles, EveryExampleProfileProducesWhatItNames) {
    QX_NEED_BUNDLE();
    size_t tried = 0;
    for (const auto &e : fs::directory_iterator(fs::path(QX_SOURCE_DIR) / "examples")) {
        if (e.path().extension() != ".json")
            continue;
        SCOPED_TRACE(e.path());
        const int32_t id = qxtp_profile_from_json(read_file(e.path()).c_str());
        ASSERT_GE(id, 0);
        const std::string type = qxtp_profile_file_type(id);
        qxtp_profile_destroy(id);
        for (const clip &c : {clip{true, "stereo", 48000}, clip{false, "mono", 44100}}) {
            const fs::path dir = fresh_dir();
            fs::create_directory(dir / "out");
            check_profile(dir, e.path(), c, {"--preset", "PS_rock"}, dir / "out",
                          dir / "out" / ("clip" + type));
            EXPECT_EQ(listing(dir / "out").size(), 1u);
        }
        ++tried;
    }
    EXPECT_GE(tried, 1u);
}

// No FormatCreator: no format clause and no file type, so ffmpeg picks the format from OUT.
TEST_F(TranscodeProfiles, ProfileWithoutCreatorLeavesTheFormatToTheOutputName) {
    const fs::path dir = fresh_dir();
    write_file(dir / "p.json", R"({"AudioSampleRate":"8000"})");
    media::audio_clip(dir / "in.wav", "pcm_s16le", 44100, "stereo", 1.0);
    const result r = run({"transcode", "in.wav", "out.mka", "--profile", "p.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const media::probed got = media::probe(dir / "out.mka");
    EXPECT_EQ(got.format, "matroska,webm");
    ASSERT_NE(got.first("audio"), nullptr);
    EXPECT_EQ(got.first("audio")->rate, 8000);
}

} // namespace
