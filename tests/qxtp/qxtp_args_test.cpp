// The ffmpeg argument fragment: the clause chosen from FormatCreator and the numeric options.
#include "profile_test.h"

#include <string>
#include <utility>
#include <vector>

namespace {

using Args = ProfileTest;

using Fields = std::vector<std::pair<const char *, std::string>>;

TEST_F(Args, Fragments) {
    const std::string creator127(127, 'z');
    const struct {
        const char *what;
        Fields fields;
        std::string args;
    } cases[] = {
        {"fresh profile", {}, ""},
        {"worked example",
         {{"FormatCreator", "mp4"},
          {"AudioBitrate", "128000"},
          {"AudioChannelCount", "2"},
          {"AudioSampleRate", "44100"},
          {"VideoWidth", "1280"},
          {"VideoHeight", "720"}},
         "-c:v libx264 -b:a 128000 -ac 2 -ar 44100 -s 1280x720 "},
        {"every numeric option, in order",
         {{"VideoFrameRateDenominator", "1001"},
          {"VideoFrameRateNumerator", "30000"},
          {"VideoHeight", "1080"},
          {"VideoWidth", "1920"},
          {"VideoBitrate", "4000000"},
          {"AudioBitsPerSample", "16"},
          {"AudioSampleRate", "48000"},
          {"AudioChannelCount", "6"},
          {"AudioBitrate", "384000"}},
         "-b:a 384000 -ac 6 -ar 48000 -sample_fmt s16 -b:v 4000000 -s 1920x1080 -r 30000/1001 "},
        {"codec hevc", {{"FormatCreator", "hevc"}}, "-c:v libx265 "},
        {"codec mp4", {{"FormatCreator", "mp4"}}, "-c:v libx264 "},
        {"codec h264", {{"FormatCreator", "h264"}}, "-c:v libx264 "},
        {"codec mp3", {{"FormatCreator", "mp3"}}, "-c:a libmp3lame "},
        {"codec aac", {{"FormatCreator", "aac"}}, "-c:a aac "},
        {"muxer name as given", {{"FormatCreator", "webm"}}, "-f webm "},
        {"case-sensitive names", {{"FormatCreator", "MP4"}}, "-f MP4 "},
        {"case-sensitive aliases", {{"FormatCreator", "MKV"}}, "-f MKV "},
        {"underscore token", {{"FormatCreator", "s16le_x"}}, "-f s16le_x "},
        {"alias mkv", {{"FormatCreator", "mkv"}}, "-f matroska "},
        {"alias ts", {{"FormatCreator", "ts"}}, "-f mpegts "},
        {"alias m4a", {{"FormatCreator", "m4a"}}, "-f ipod "},
        {"alias mpg", {{"FormatCreator", "mpg"}}, "-f mpeg "},
        {"alias wmv", {{"FormatCreator", "wmv"}}, "-f asf "},
        {"longest creator", {{"FormatCreator", creator127}}, "-f " + creator127 + " "},
        {"injected options",
         {{"FormatCreator", "mp4 -y -i secret"}, {"AudioBitrate", "1"}},
         "-b:a 1 "},
        {"path", {{"FormatCreator", "../../x"}}, ""},
        {"leading dash", {{"FormatCreator", "-y"}}, ""},
        {"quote", {{"FormatCreator", "mp4\""}}, ""},
        {"non-ASCII", {{"FormatCreator", "m\xC3\xBCx"}}, ""},
        {"width without height", {{"VideoWidth", "1280"}}, ""},
        {"height without width", {{"VideoHeight", "720"}}, ""},
        {"numerator without denominator", {{"VideoFrameRateNumerator", "25"}}, ""},
        {"zero denominator",
         {{"VideoFrameRateNumerator", "25"}, {"VideoFrameRateDenominator", "0"}},
         ""},
        {"invalid and zero numbers left out",
         {{"AudioBitrate", "fast"}, {"AudioChannelCount", "0"}, {"AudioSampleRate", " 44100"}},
         "-ar 44100 "},
        {"saturated number", {{"VideoBitrate", "99999999999"}}, "-b:v 4294967295 "},
        {"fields that never contribute",
         {{"ProfileName", "n"},
          {"FormatQuality", "5"},
          {"ProfileEnableMrfCrf444", "true"},
          {"HardwareAccelerationEnabled", "1"},
          {"AlwaysReencode", "True"},
          {"VideoPixelAspectRatioNumerator", "16"},
          {"VideoPixelAspectRatioDenominator", "9"}},
         ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const int32_t id = qxtp_profile_create("args");
        for (const auto &f : c.fields)
            qxtp_profile_set(id, f.first, f.second.c_str());
        qxtp_profile_destroy(64);
        const char *args = qxtp_profile_to_ffmpeg_args(id);
        ASSERT_NE(args, nullptr);
        EXPECT_EQ(std::string(args), c.args);
        EXPECT_STREQ(qxtp_last_error(), "OK");
        qxtp_profile_destroy(id);
    }
}

// The longest fragment there is: a 127-byte creator and every number at ten digits.
TEST_F(Args, LongestFragment) {
    const int32_t id = qxtp_profile_create(nullptr);
    qxtp_profile_set(id, "FormatCreator", std::string(127, 'f').c_str());
    for (const char *field : {"AudioBitrate", "AudioChannelCount", "AudioSampleRate",
                              "AudioBitsPerSample", "VideoBitrate", "VideoWidth", "VideoHeight",
                              "VideoFrameRateNumerator", "VideoFrameRateDenominator"})
        qxtp_profile_set(id, field, "4294967295");
    EXPECT_EQ(std::string(qxtp_profile_to_ffmpeg_args(id)).size(), 267u);
}

// The buffer is rebuilt on each call: a pointer taken earlier shows the latest fragment.
TEST_F(Args, RebuiltOnEachCall) {
    const int32_t id = qxtp_profile_create(nullptr);
    qxtp_profile_set(id, "FormatCreator", "aac");
    const char *args = qxtp_profile_to_ffmpeg_args(id);
    EXPECT_STREQ(args, "-c:a aac ");
    qxtp_profile_set(id, "FormatCreator", nullptr);
    EXPECT_EQ(qxtp_profile_to_ffmpeg_args(id), args);
    EXPECT_STREQ(args, "");
}

} // namespace
