// Running the built playback-profile program from tests: a fresh folder per test under the
// build tree, the program run with given arguments and standard input (through a pipe, as a
// shell pipeline would), and audio files written and read with libsndfile.
#ifndef QX_TESTS_CLI_HARNESS_H
#define QX_TESTS_CLI_HARNESS_H

#include "qxeq.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace harness {

namespace fs = std::filesystem;

// Tests that also call the library in this process start from its load-time equaliser state,
// so the binary runs in any order when started directly.
class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qxeq_set_preset("PS_none");
        qxeq_set_sample_rate(44100);
        qx_clear_warnings();
    }
};

struct result {
    int status = -1; // exit status; 128 + signal number when killed
    std::string out, err;
};

// An empty folder for the running test, named after it, under the build tree.
fs::path fresh_dir();

// Run the program (or, with exe, another one) in the test's folder.
result run(const std::vector<std::string> &args, const std::string &stdin_text = "");
result run_exe(const std::string &exe, const std::vector<std::string> &args,
               const std::string &stdin_text = "");
// Run a program this build made: through the emulator when the build targets another machine.
result run_built(const std::string &exe, const std::vector<std::string> &args,
                 const std::string &stdin_text = "");

std::string read_file(const fs::path &p);
void write_file(const fs::path &p, const std::string &text);
// Names in a folder, sorted: what a failing command must leave unchanged.
std::vector<std::string> listing(const fs::path &dir);
size_t count(const std::string &text, const std::string &needle);

struct audio {
    SF_INFO info{};
    std::vector<float> f;   // filled when read as float
    std::vector<int16_t> s; // filled when read as 16-bit
};

// A deterministic test signal: a different chord of sines per channel plus noise, peaking
// near amp, so that boosts push some samples past full scale.
std::vector<float> signal(int64_t frames, int channels, double amp);
std::vector<int16_t> to_pcm16(const std::vector<float> &x);

// An audio file opened for writing (null, with a test failure, when libsndfile refuses).
SNDFILE *open_for_write(const fs::path &p, int format, int rate, int channels);
// format: libsndfile's container | sample format, e.g. SF_FORMAT_WAV | SF_FORMAT_PCM_16.
void write_audio(const fs::path &p, int format, int rate, int channels,
                 const std::vector<float> &samples);
void write_audio(const fs::path &p, int format, int rate, int channels,
                 const std::vector<int16_t> &samples);
audio read_audio(const fs::path &p, bool as_float);

} // namespace harness

#endif // QX_TESTS_CLI_HARNESS_H
