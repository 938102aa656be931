// Media for the transcode tests: clips made by ffmpeg's own test sources, the streams ffprobe
// finds in a file, and the program run with a changed environment or left running in the
// background, so that a test can interrupt it.
#ifndef QX_TESTS_CLI_MEDIA_H
#define QX_TESTS_CLI_MEDIA_H

#include "harness.h"

#include <sys/types.h>

#include <string>
#include <vector>

namespace media {

namespace fs = std::filesystem;

// The equaliser's bundle as the build makes it; tests that run the equaliser skip without it.
bool bundle_built();
#define QX_NEED_BUNDLE()                                                                           \
    do {                                                                                           \
        if (!media::bundle_built())                                                                \
            GTEST_SKIP() << "the LV2 bundle is not built (no " QX_LV2_BUNDLE "/manifest.ttl)";     \
    } while (0)

// Run ffmpeg with "-v error -y" and these arguments in the test's folder; fails the test on
// an error.
void ffmpeg(const std::vector<std::string> &args);

// An audio clip: sines and noise, a different mix per channel, peaking near 0.7 (boosts push
// some samples past full scale). codec e.g. "pcm_f32le", "pcm_s16le"; layout e.g. "stereo",
// "5.1(side)".
void audio_clip(const fs::path &p, const std::string &codec, int rate, const std::string &layout,
                double seconds);
// Video (a test pattern) with, when layout is not empty, an audio track as audio_clip makes.
void av_clip(const fs::path &p, int width, int height, double seconds, const std::string &layout);

struct stream {
    std::string type, codec; // "audio" or "video"; ffprobe's codec_name
    int rate = 0, channels = 0, width = 0, height = 0;
    std::string layout;     // "5.1(side)"; "unknown" when the file names none
    std::string frame_rate; // "30000/1001"
};
struct probed {
    std::string format; // ffprobe's format_name
    std::vector<stream> streams;
    const stream *first(const std::string &type) const; // into streams; null when none
};
probed probe(const fs::path &p);

// Run a program in the test's folder with env entries (NAME=value, or NAME= to remove NAME)
// changed for it.
harness::result run_env(const std::string &exe, const std::vector<std::string> &args,
                        const std::vector<std::string> &env);

// The program started in the test's folder, its stderr on a pipe the test reads.
struct background {
    pid_t pid = -1;
    int err_fd = -1;
};
background start(const std::vector<std::string> &args);
// Read stderr until a line holding needle has come (true) or the stream ended (false).
bool wait_for_line(background &b, const std::string &needle, std::string &seen);
// The exit status (128 + signal when killed) after reading the rest of stderr into seen.
int finish(background &b, std::string &seen);

} // namespace media

#endif // QX_TESTS_CLI_MEDIA_H
