// transcode's promises about files: what it refuses, it refuses before ffmpeg starts, with one
// message and nothing written; a failing or interrupted ffmpeg leaves nothing behind; the
// command --dry-run prints, run by a shell, makes the same file as the real run.
#include "media.h"

#include <csignal>
#include <cstdio>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace harness;
using TranscodeSafety = CliTest;

// An ffmpeg that is the real one in every way but its filter list, which lacks lv2.
void write_ffmpeg_without_lv2(const fs::path &p) {
    write_file(p, std::string("#!/bin/sh\n"
                              "if [ \"$2\" = -filters ]; then\n"
                              "    '") +
                      QX_FFMPEG +
                      "' -hide_banner -filters | grep -v ' lv2 '\n"
                      "    exit 0\n"
                      "fi\n"
                      "exec '" +
                      QX_FFMPEG + "' \"$@\"\n");
    fs::permissions(p, fs::perms::owner_all);
}

void make_inputs(const fs::path &dir) {
    media::audio_clip(dir / "in.wav", "pcm_s16le", 44100, "stereo", 0.5);
    media::audio_clip(dir / "quad.wav", "pcm_s16le", 44100, "quad", 0.5);
    media::av_clip(dir / "video.mkv", 160, 120, 0.5, "");
    write_file(dir / "notes.txt", "not media\n");
    write_file(dir / "flac.json", R"({"FormatCreator":"flac"})");
    write_file(dir / "wav.json", R"({"FormatCreator":"wav"})");
    write_file(dir / "blank.json", "{}");
    write_file(dir / "bad.json",
               R"({"FormatCreator":"flac","AudioBitrate":"fast","FormatQuality":"high"})");
    write_file(dir / "broken.json", "{\"FormatCreator\":");
    write_file(dir / "taken.flac", "keep me");
    fs::create_directory(dir / "outdir");
    fs::create_directory(dir / "nolv2");
    write_ffmpeg_without_lv2(dir / "nolv2" / "ffmpeg");
}

TEST_F(TranscodeSafety, RefusalsComeBeforeFfmpegStartsAndLeaveNoFile) {
    const fs::path dir = fresh_dir();
    make_inputs(dir);
    const auto before = listing(dir);
    struct {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> message; // each must appear on stderr
        size_t lines;                     // stderr lines
    } const cases[] = {
        // clang-format off
        // the profile
        {{"in.wav", "o.flac", "--profile", "bad.json"}, 1,
         {"AudioBitrate \"fast\" is not valid", "FormatQuality \"high\" is not valid", "'bad.json' is not a valid profile"}, 3},
        {{"in.wav", "o.flac", "--profile", "broken.json"}, 1, {"'broken.json'", "not a profile"}, 1},
        {{"in.wav", "o.flac", "--profile", "missing.json"}, 1, {"'missing.json'", "No such file"}, 1},
        {{"in.wav", "o.flac"}, 2, {"--profile"}, 1},
        // ffmpeg
        {{"in.wav", "o.flac", "--profile", "flac.json", "--ffmpeg", "nowhere/ffmpeg"}, 1, {"'nowhere/ffmpeg'", "not an executable"}, 1},
        {{"in.wav", "o.flac", "--profile", "flac.json", "--ffmpeg", "notes.txt"}, 1, {"'notes.txt'", "not an executable"}, 1},
        {{"in.wav", "o.flac", "--profile", "flac.json", "--ffmpeg", "/bin/false", "--gain", "0=2"}, 1, {"'/bin/false'", "cannot list its filters"}, 1},
        {{"in.wav", "o.flac", "--profile", "flac.json", "--ffmpeg", "nolv2/ffmpeg", "--preset", "PS_rock"}, 1, {"without the lv2 filter"}, 1},
        {{"in.wav", "o.flac", "--profile", "flac.json", "--ffmpeg", "nolv2/ffmpeg", "--preamp", "-3"}, 1, {"without the lv2 filter"}, 1},
        // the input
        {{"missing.wav", "o.flac", "--profile", "flac.json"}, 1, {"'missing.wav'", "No such file"}, 1},
        {{"notes.txt", "o.flac", "--profile", "flac.json"}, 1, {"cannot read 'notes.txt'", "ffprobe"}, 1},
        {{"outdir", "o.flac", "--profile", "flac.json"}, 1, {"'outdir'", "directory"}, 1},
        {{"-", "o.flac", "--profile", "flac.json"}, 1, {"named files"}, 1},
        {{"video.mkv", "o.flac", "--profile", "flac.json", "--preset", "PS_rock"}, 1, {"'video.mkv'", "no audio stream"}, 1},
        {{"quad.wav", "o.flac", "--profile", "flac.json", "--gain", "0=3"}, 1, {"'quad.wav'", "4 audio channels", "5.1"}, 1},
        // the output
        {{"in.wav", "o.mkv", "--profile", "flac.json"}, 1, {"'o.mkv'", "ends in .mkv", ".flac"}, 1},
        {{"in.wav", "o", "--profile", "flac.json"}, 1, {"'o'", "no extension", ".flac"}, 1},
        {{"in.wav", "taken.flac", "--profile", "flac.json"}, 1, {"'taken.flac'", "exists", "--overwrite"}, 1},
        {{"in.wav", "in.wav", "--profile", "wav.json", "--overwrite"}, 1, {"'in.wav'", "input itself"}, 1},
        {{"in.wav", "outdir", "--profile", "blank.json"}, 1, {"'outdir'", "no file type"}, 1},
        {{"in.wav", "nodir/", "--profile", "flac.json"}, 1, {"'nodir/'", "no such folder"}, 1},
        {{"in.wav", "no/such/dir/o.flac", "--profile", "flac.json"}, 1, {"'no/such/dir/o.flac'", "No such file"}, 1},
        {{"in.wav", "-", "--profile", "flac.json"}, 1, {"named files"}, 1},
        // the equaliser settings
        {{"in.wav", "o.flac", "--profile", "flac.json", "--preset", "PS_nope"},2, {"'PS_nope'", "ERR_NO_SUCH_PRESET"}, 1},
        {{"in.wav", "o.flac", "--profile", "flac.json", "--gain", "3=loud"},2, {"'loud'", "not a number"}, 1},
        {{"in.wav", "o.flac", "--profile", "flac.json", "--gain", "8=3"},2, {"'8=3'", "band 8 does not exist", "ERR_NO_SUCH_BAND"}, 1},
        {{"in.wav", "o.flac", "--profile", "flac.json", "--preamp", "loud"},2, {"--preamp 'loud'", "auto"}, 1},
        {{"in.wav", "o.flac", "--profile", "flac.json", "--preamp", "nan"},2, {"--preamp 'nan'"}, 1},
        {{"in.wav", "o.flac", "--profile", "flac.json", "--preset", "PS_rock", "--gain", "0=1"}, 2, {"--gain", "--preset"}, 1},
        // clang-format on
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = {"transcode"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(testing::PrintToString(args));
        const result r = run(args);
        EXPECT_EQ(r.status, c.status);
        for (const auto &m : c.message)
            EXPECT_NE(r.err.find(m), std::string::npos) << "wanted '" << m << "' in:\n" << r.err;
        EXPECT_EQ(count(r.err, "\n"), c.lines) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(listing(dir), before);
        EXPECT_EQ(listing(dir / "outdir"), std::vector<std::string>{});
        EXPECT_EQ(read_file(dir / "taken.flac"), "keep me");
    }
}

TEST_F(TranscodeSafety, NoFfmpegInPathIsRefused) {
    const fs::path dir = fresh_dir();
    media::audio_clip(dir / "in.wav", "pcm_s16le", 44100, "stereo", 0.5);
    write_file(dir / "flac.json", R"({"FormatCreator":"flac"})");
    fs::create_directory(dir / "empty");
    const auto before = listing(dir);
    const result r =
        media::run_env(QX_CLI, {"transcode", "in.wav", "o.flac", "--profile", "flac.json"},
                       {"PATH=" + (dir / "empty").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "playback-profile: ffmpeg is not installed: no ffmpeg in PATH\n");
    EXPECT_EQ(listing(dir), before);
}

// Without the equaliser, an ffmpeg without lv2 is fine; --overwrite replaces a file in place.
TEST_F(TranscodeSafety, PlainTranscodeNeedsNoLv2AndOverwriteReplaces) {
    const fs::path dir = fresh_dir();
    make_inputs(dir);
    const result r = run({"transcode", "in.wav", "taken.flac", "--profile", "flac.json", "--ffmpeg",
                          "nolv2/ffmpeg", "--overwrite"});
    ASSERT_EQ(r.status, 0) << r.err;
    const media::probed got = media::probe(dir / "taken.flac");
    const media::stream *a = got.first("audio");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->codec, "flac");
}

// ffmpeg's own failure (the aac encoder takes no 16-bit samples): its status and last lines
// are shown and the temporary file is gone.
TEST_F(TranscodeSafety, FfmpegFailureIsReportedAndLeavesNoFile) {
    const fs::path dir = fresh_dir();
    media::audio_clip(dir / "in.wav", "pcm_s16le", 44100, "stereo", 0.5);
    write_file(dir / "p.json", R"({"FormatCreator":"aac","AudioBitsPerSample":"16"})");
    const auto before = listing(dir);
    const result r = run({"transcode", "in.wav", "out.aac", "--profile", "p.json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("playback-profile: ffmpeg: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("ffmpeg failed with status"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("'out.aac' was not written"), std::string::npos) << r.err;
    EXPECT_EQ(listing(dir), before);
}

// A signal to the program while ffmpeg runs reaches ffmpeg too; the program then removes the
// temporary file and ends by the same signal.
TEST_F(TranscodeSafety, InterruptionLeavesNoFile) {
    const fs::path dir = fresh_dir();
    // Long enough that the 720p H.264 encode is still running when the signal comes.
    media::av_clip(dir / "long.mkv", 320, 240, 60.0, "stereo");
    write_file(dir / "p.json",
               R"({"FormatCreator":"mp4","VideoWidth":"1280","VideoHeight":"720"})");
    const auto before = listing(dir);
    for (const int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        media::background b =
            media::start({"transcode", "long.mkv", "out.mp4", "--profile", "p.json"});
        ASSERT_GT(b.pid, 0);
        std::string err;
        ASSERT_TRUE(media::wait_for_line(b, "playback-profile: transcode ", err)) << err;
        ASSERT_EQ(kill(b.pid, sig), 0);
        const int status = media::finish(b, err);
        EXPECT_EQ(status, 128 + sig) << err;
        EXPECT_NE(err.find("interrupted; 'out.mp4' was not written"), std::string::npos) << err;
        EXPECT_EQ(listing(dir), before);
    }
}

struct dry_case {
    const char *name;
    const char *json;
    bool video;
    std::string in, out;
    std::vector<std::string> eq;
};

void PrintTo(const dry_case &c, std::ostream *os) { *os << c.name; }

const dry_case k_dry_cases[] = {
    {"flac_equalised_quoted_names",
     R"({"FormatCreator":"flac"})",
     false,
     "my clip's take.wav",
     "out put $HOME.flac",
     {"--gain", "0=4.5", "--gain", "9600=-2", "--preamp", "-1.5"}},
    {"mp3_preset_dash_name",
     R"({"FormatCreator":"mp3","AudioBitrate":"96000"})",
     false,
     "-in.wav",
     "-out.mp3",
     {"--preset", "PS_rock"}},
    {"mp4_video_colon_name",
     R"({"FormatCreator":"mp4","VideoWidth":"160","VideoHeight":"120"})",
     true,
     "in.mkv",
     "a:b.mp4",
     {}},
};

class DryRun : public CliTest, public ::testing::WithParamInterface<dry_case> {};

// The printed line, run by sh, makes the file the real run makes, byte for byte; the dry run
// itself writes nothing.
TEST_P(DryRun, ShellReproducesTheSameFile) {
    const dry_case &c = GetParam();
    if (!c.eq.empty())
        QX_NEED_BUNDLE();
    const fs::path dir = fresh_dir();
    if (c.video)
        media::av_clip(dir / c.in, 160, 120, 1.0, "stereo");
    else
        media::audio_clip(dir / c.in, "pcm_s16le", 44100, "stereo", 1.0);
    write_file(dir / "p.json", c.json);
    std::vector<std::string> args = {"transcode", "./" + c.in, "./" + c.out, "--profile", "p.json"};
    args.insert(args.end(), c.eq.begin(), c.eq.end());
    std::vector<std::string> dry = args;
    dry.push_back("--dry-run");
    const auto before = listing(dir);
    const result printed = run(dry);
    ASSERT_EQ(printed.status, 0) << printed.err;
    EXPECT_EQ(count(printed.out, "\n"), 1u);
    EXPECT_EQ(listing(dir), before) << "a dry run writes nothing";

    const result shell = run_exe("/bin/sh", {"-c", printed.out});
    ASSERT_EQ(shell.status, 0) << printed.out << shell.err;
    ASSERT_TRUE(fs::exists(dir / c.out)) << printed.out;
    fs::rename(dir / c.out, dir / "by-shell");
    const result real = run(args);
    ASSERT_EQ(real.status, 0) << real.err;
    EXPECT_EQ(read_file(dir / c.out), read_file(dir / "by-shell")) << printed.out;
}

INSTANTIATE_TEST_SUITE_P(Table, DryRun, ::testing::ValuesIn(k_dry_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// On a terminal the progress is one bar redrawn in place, cleared at the end.
TEST_F(TranscodeSafety, ProgressIsABarOnATerminal) {
    const fs::path dir = fresh_dir();
    media::audio_clip(dir / "in.wav", "pcm_s16le", 44100, "stereo", 20.0);
    write_file(dir / "p.json", R"({"FormatCreator":"mp3"})");
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        execl(QX_CLI, QX_CLI, "transcode", "in.wav", "out.mp3", "--profile", "p.json",
              static_cast<char *>(nullptr));
        _exit(127);
    }
    std::string seen;
    char buf[4096];
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;)
        seen.append(buf, static_cast<size_t>(n));
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    EXPECT_NE(seen.find("\r\033[Kplayback-profile: transcode ["), std::string::npos) << seen;
    EXPECT_NE(seen.find("] 100% "), std::string::npos) << seen;
    EXPECT_NE(seen.find("x 0:00 left"), std::string::npos) << seen;
    EXPECT_EQ(seen.find('\n'), std::string::npos) << "no line of its own: " << seen;
    EXPECT_EQ(seen.substr(seen.size() - 4), "\r\033[K") << seen;
    EXPECT_TRUE(fs::exists(dir / "out.mp3"));
}

// The bundle is found beside the program, else through LV2_PATH or the standard folders; when
// it is nowhere, the equaliser is refused before ffmpeg starts.
TEST_F(TranscodeSafety, BundleIsFoundBesideTheProgramOrThroughLv2Path) {
    QX_NEED_BUNDLE();
    const fs::path dir = fresh_dir();
    media::audio_clip(dir / "in.wav", "pcm_s16le", 44100, "stereo", 0.5);
    write_file(dir / "flac.json", R"({"FormatCreator":"flac"})");
    fs::create_directories(dir / "elsewhere" / "bin");
    const fs::path copy = dir / "elsewhere" / "bin" / "playback-profile";
    fs::copy_file(QX_CLI, copy);
    const std::vector<std::string> args = {"transcode", "in.wav",   "o.flac", "--profile",
                                           "flac.json", "--preset", "PS_rock"};
    const auto before = listing(dir);
    result r = media::run_env(copy, args, {"LV2_PATH=", "HOME=" + dir.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("LV2 bundle playback-profile-eq.lv2"), std::string::npos) << r.err;
    EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
    EXPECT_EQ(listing(dir), before);

    const std::string lv2_dir = fs::path(QX_LV2_BUNDLE).parent_path().string();
    r = media::run_env(copy, args, {"LV2_PATH=" + lv2_dir, "HOME=" + dir.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "o.flac"));

    // Beside the program it is found with nothing set, and named to ffmpeg through LV2_PATH.
    r = media::run_env(QX_CLI,
                       {"transcode", "in.wav", "p.flac", "--profile", "flac.json", "--preset",
                        "PS_rock", "--dry-run"},
                       {"LV2_PATH=", "HOME=" + dir.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("LV2_PATH=" + fs::canonical(lv2_dir).string() + " ", 0), 0u) << r.out;
}

} // namespace
