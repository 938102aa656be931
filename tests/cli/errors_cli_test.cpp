// Bad input end to end: every case exits non-zero with one line on stderr that names the file
// or value (and carries the library's error text where there is one), and leaves the folder
// as it was: no output, no temporary file. Also the help and version texts.
#include "harness.h"

namespace {

using namespace harness;
using ErrorsAndHelp = CliTest;

// The inputs each case may refer to, made afresh in the case's folder.
void make_inputs(const fs::path &dir) {
    write_audio(dir / "in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2,
                to_pcm16(signal(1000, 2, 0.5)));
    write_audio(dir / "nine.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 9, signal(100, 9, 0.5));
    write_audio(dir / "fast.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 400000, 1,
                to_pcm16(signal(100, 1, 0.5)));
    write_file(dir / "notes.txt", "these are not samples\n");
    write_file(dir / "broken.json", "{\"ProfileName\": \"x\",");
    write_file(dir / "array.json", "[1,2]");
    write_file(dir / "ok.json", "{\"ProfileName\":\"ok\"}");
    fs::create_directory(dir / "folder");
}

TEST_F(ErrorsAndHelp, BadInputFailsWithOneMessageAndLeavesNoOutput) {
    struct {
        std::vector<std::string> args;
        std::string stdin_text;
        std::vector<std::string> message; // each must appear in the one stderr line
    } const cases[] = {
        // clang-format off
        // eq: files
        {{"eq", "missing.wav", "out.wav"}, "", {"'missing.wav'", "No such file"}},
        {{"eq", "notes.txt", "out.wav"}, "", {"'notes.txt'", "not an audio file"}},
        {{"eq", "-", "out.wav"}, "not audio either", {"standard input", "not an audio file"}},
        {{"eq", "folder", "out.wav"}, "", {"'folder'", "directory"}},
        {{"eq", "nine.wav", "out.wav"}, "", {"'nine.wav'", "9 channels"}},
        {{"eq", "fast.wav", "out.wav"}, "", {"'fast.wav'", "400000", "ERR_BAD_SAMPLE_RATE"}},
        {{"eq", "in.wav", "no/such/dir/out.wav"}, "", {"'no/such/dir/out.wav'"}},
        {{"eq", "in.wav", "folder"}, "", {"'folder'", "directory"}},
        // eq: settings
        {{"eq", "in.wav", "out.wav", "--preset", "PS_nope"}, "", {"'PS_nope'", "ERR_NO_SUCH_PRESET"}},
        {{"eq", "in.wav", "out.wav", "--preset", "rock"}, "", {"'rock'", "ERR_NO_SUCH_PRESET"}},
        {{"eq", "in.wav", "out.wav", "--gain", "3=loud"}, "", {"'loud'", "not a number"}},
        {{"eq", "in.wav", "out.wav", "--gain", "treble=3"}, "", {"'treble'", "not a number"}},
        {{"eq", "in.wav", "out.wav", "--gain", "-1=3"}, "", {"'-1'", "not a number"}},
        {{"eq", "in.wav", "out.wav", "--gain", "3"}, "", {"'3'", "BAND=DB"}},
        {{"eq", "in.wav", "out.wav", "--gain", "8=3"}, "", {"'8=3'", "ERR_NO_SUCH_BAND"}},
        {{"eq", "in.wav", "out.wav", "--gain", "0=nan"}, "", {"'0=nan'", "ERR_INVALID_ARG"}},
        {{"eq", "in.wav", "out.wav", "--format", "s24"}, "", {"s24"}},
        {{"eq", "in.wav", "out.m4a"}, "", {"'out.m4a'", "'.m4a'", "flac", "mp3", "wav", "--type"}},
        {{"eq", "in.wav", "out.wav", "--type", "m4a"}, "", {"--type 'm4a'", "flac"}},
        {{"eq", "in.wav", "out.opus"}, "", {"'out.opus'", "OGG", "44100"}},
        {{"eq", "in.wav", "out.mp3", "--quality", "11"}, "", {"--quality"}},
        {{"eq", "in.wav", "out.mp3", "--bitrate-mode", "fast"}, "", {"--bitrate-mode"}},
        {{"eq", "in.wav", "out.wav", "--preamp", "loud"}, "", {"--preamp 'loud'", "dB"}},
        {{"eq", "in.wav", "out.wav", "--preamp", "-99"}, "", {"--preamp '-99'", "-60"}},
        {{"eq", "in.wav", "out.wav", "--preset", "PS_rock", "--gain", "0=1"}, "", {"--gain", "--preset"}},
        // response
        {{"response", "--preset", "PS_nope", "--svg", "out.svg"}, "", {"'PS_nope'", "ERR_NO_SUCH_PRESET"}},
        {{"response", "--gain", "2=x", "--svg", "out.svg"}, "", {"'x'", "not a number"}},
        {{"response", "--rate", "0", "--svg", "out.svg"}, "", {"0", "ERR_BAD_SAMPLE_RATE"}},
        {{"response", "--rate", "384001", "--svg", "out.svg"}, "", {"384001", "ERR_BAD_SAMPLE_RATE"}},
        {{"response", "--points", "1", "--svg", "out.svg"}, "", {"--points"}},
        // profiles
        {{"profile", "new", "--set", "Bitrate=1", "-o", "out.json"}, "", {"'Bitrate'", "ERR_UNKNOWN_FIELD"}},
        {{"profile", "new", "--set", "AudioBitrate=fast", "-o", "out.json"}, "", {"'fast'", "ERR_FIELD_INVALID:AudioBitrate"}},
        {{"profile", "new", "--set", "FormatQuality=high", "-o", "out.json"}, "", {"high", "ERR_FIELD_INVALID:FormatQuality"}},
        {{"profile", "new", "--set", "AudioBitrate", "-o", "out.json"}, "", {"'AudioBitrate'", "Field=Value"}},
        {{"profile", "show", "missing.json"}, "", {"'missing.json'", "No such file"}},
        {{"profile", "show", "broken.json"}, "", {"'broken.json'", "ERR_INVALID_ARG"}},
        {{"profile", "args", "array.json"}, "", {"'array.json'", "object", "ERR_INVALID_ARG"}},
        {{"profile", "validate", "notes.txt"}, "", {"'notes.txt'", "ERR_INVALID_ARG"}},
        {{"profile", "args", "-"}, "{", {"standard input", "ERR_INVALID_ARG"}},
        {{"profile", "fmt", "-"}, std::string("{}\0{}", 5), {"standard input", "NUL"}},
        {{"profile", "fmt", "broken.json", "-o", "out.json"}, "", {"'broken.json'", "ERR_INVALID_ARG"}},
        {{"profile", "fmt", "broken.json"}, "", {"'broken.json'", "ERR_INVALID_ARG"}},
        {{"profile", "fmt", "ok.json", "-o", "folder"}, "", {"'folder'", "directory"}},
        // the command line itself
        {{}, "", {"subcommand"}},
        {{"eq", "in.wav"}, "", {"OUT"}},
        {{"frobnicate"}, "", {"frobnicate"}},
        // clang-format on
    };
    for (const auto &c : cases) {
        std::string trace;
        for (const auto &a : c.args)
            trace += a + " ";
        SCOPED_TRACE(trace);
        const fs::path dir = fresh_dir();
        make_inputs(dir);
        const auto before = listing(dir);
        const std::string broken_before = read_file(dir / "broken.json");

        const result r = run(c.args, c.stdin_text);
        EXPECT_NE(r.status, 0);
        EXPECT_LT(r.status, 128) << "killed by a signal";
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("playback-profile: ", 0), 0u) << r.err;
        for (const auto &m : c.message)
            EXPECT_NE(r.err.find(m), std::string::npos) << r.err;
        EXPECT_EQ(listing(dir), before);
        EXPECT_EQ(read_file(dir / "broken.json"), broken_before); // fmt left it alone
    }
}

TEST_F(ErrorsAndHelp, EveryCommandHasHelpAndTheProgramItsVersion) {
    struct {
        std::vector<std::string> args;
        std::string expect;
    } const cases[] = {
        {{"--help"}, "Usage:"},
        {{"eq", "--help"}, "--preset"},
        {{"response", "--help"}, "--svg"},
        {{"presets", "--help"}, "Usage:"},
        {{"profile", "--help"}, "validate"},
        {{"profile", "new", "--help"}, "VideoPixelAspectRatioDenominator (uint_string)"},
        {{"profile", "show", "--help"}, "FILE"},
        {{"profile", "validate", "--help"}, "FILE"},
        {{"profile", "args", "--help"}, "FILE"},
        {{"profile", "fmt", "--help"}, "--output"},
        {{"--version"}, "playback-profile " QX_VERSION "\n"},
    };
    fresh_dir();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        const result r = run(c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find(c.expect), std::string::npos) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

} // namespace
