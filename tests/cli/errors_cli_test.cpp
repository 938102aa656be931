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
        {{"eq", "in.wav", "out.tmp", "--type", "xyz"}, "", {"--type 'xyz'", "flac"}},
        {{"eq", "in.wav", "out.WMA"}, "", {"'out.WMA'", "'.wma'", "flac"}},
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
        {{"profile", "new", "--set", "AudioBitrate=fast", "-o", "out.json"}, "", {"'fast'", "AudioBitrate", "uint_string", "(ERR_FIELD_INVALID)"}},
        {{"profile", "new", "--set", "FormatQuality=high", "-o", "out.json"}, "", {"high", "FormatQuality", "whole number", "(ERR_FIELD_INVALID)"}},
        {{"profile", "new", "--set", "AudioBitrate", "-o", "out.json"}, "", {"'AudioBitrate'", "Field=Value"}},
        {{"profile", "show", "missing.json"}, "", {"'missing.json'", "No such file"}},
        {{"profile", "show", "/dev/zero"}, "", {"'/dev/zero'", "larger than 1024 KiB"}},
        {{"eq", "in.wav", "/dev/full"}, "", {"'/dev/full'", "No space left on device"}},
        {{"profile", "new", "-o", "/dev/full"}, "", {"'/dev/full'", "No space left on device"}},
        {{"profile", "show", "broken.json"}, "", {"'broken.json'", "not valid JSON: line 1, column 21", "end of data", "ERR_INVALID_ARG"}},
        {{"profile", "show", "-"}, "\xEF\xBB\xBF{}", {"standard input", "byte-order mark", "ERR_INVALID_ARG"}},
        {{"profile", "show", "-"}, "{\n\"ProfileName\":\"Caf\xE9\"}", {"byte 21 (0xE9, line 2, column 19) is not UTF-8"}},
        {{"profile", "show", "-"}, "", {"standard input", "empty"}},
        {{"profile", "validate", "-"}, "{\"a\" 1}", {"line 1, column 6"}},
        {{"profile", "args", "array.json"}, "", {"'array.json'", "root is an array, not an object", "ERR_INVALID_ARG"}},
        {{"profile", "validate", "notes.txt"}, "", {"'notes.txt'", "ERR_INVALID_ARG"}},
        {{"profile", "args", "-"}, "{", {"standard input", "ERR_INVALID_ARG"}},
        {{"profile", "fmt", "-"}, std::string("{}\0{}", 5), {"standard input", "NUL"}},
        {{"profile", "fmt", "broken.json", "-o", "out.json"}, "", {"'broken.json'", "ERR_INVALID_ARG"}},
        {{"profile", "fmt", "broken.json"}, "", {"'broken.json'", "ERR_INVALID_ARG"}},
        {{"profile", "fmt", "ok.json", "-o", "folder"}, "", {"'folder'", "directory"}},
        // the command line itself
        {{}, "", {"subcommand"}},
        {{"eq", "in.wav"}, "", {"OUT"}},
        {{"frobnicate"}, "", {"unknown subcommand 'frobnicate'", "eq, response"}},
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

// Values on the command line the tool cannot act on: exit status 2 like every usage error,
// plain words naming the problem and the valid values, the status name only in parentheses.
TEST_F(ErrorsAndHelp, UsageErrorsExitTwoAndSayWhatIsValid) {
    struct {
        std::vector<std::string> args;
        std::vector<std::string> message;
    } const cases[] = {
        // clang-format off
        {{"eq", "in.wav", "out.wav", "--gain", "8=3"}, {"--gain '8=3': band 8 does not exist: bands are 0 to 7 or 400, 620, 960, 1500, 2400, 3700, 6200, 9600 Hz (ERR_NO_SUCH_BAND)"}},
        {{"eq", "in.wav", "out.wav", "--gain", "1000=3"}, {"band 1000 does not exist"}},
        {{"eq", "in.wav", "out.wav", "--gain", "0=nan"}, {"--gain '0=nan': the gain must be a finite number of dB, -24 to 24 (ERR_INVALID_ARG)"}},
        {{"eq", "in.wav", "out.wav", "--gain", "1=2", "3=4"}, {"3=4"}},
        {{"eq", "in.wav", "out.wav", "--preset", "PS_nope"}, {"unknown preset 'PS_nope'", "presets", "(ERR_NO_SUCH_PRESET)"}},
        {{"response", "--rate", "0"}, {"--rate 0: the sample rate must be 1 to 384000 Hz (ERR_BAD_SAMPLE_RATE)"}},
        {{"response", "--rate", "44.1k"}, {"--rate", "44.1k"}},
        {{"profile", "new", "--set", "ProfileName=Caf\xe9"}, {"--set 'ProfileName=Caf\\xE9': the value is not UTF-8 text (byte 4)"}},
        {{"profile", "new", "--set", "AudioBitRate=128000"}, {"unknown field 'AudioBitRate' (did you mean 'AudioBitrate'?)", "(ERR_UNKNOWN_FIELD)"}},
        {{"profile", "bar"}, {"unknown subcommand 'bar' of 'profile': new, show, validate, args, fmt"}},
        {{"profile"}, {"subcommand"}},
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
        const result r = run(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
        for (size_t at = r.err.find("ERR_"); at != std::string::npos;
             at = r.err.find("ERR_", at + 1))
            EXPECT_EQ(r.err[at - 1], '(') << "a status name outside parentheses: " << r.err;
        for (const auto &m : c.message)
            EXPECT_NE(r.err.find(m), std::string::npos) << r.err;
        EXPECT_EQ(listing(dir), before);
    }
}

// A write that runs into a file-size limit fails as a full disk would: the system's words for
// it, the file named, nothing left behind.
TEST_F(ErrorsAndHelp, AFailedWriteSaysWhyInTheSystemsWords) {
    const fs::path dir = fresh_dir();
    make_inputs(dir);
    const auto before = listing(dir);
    // a cross build's tool runs through its emulator, which the limit then applies to
    const std::string emulator = QX_EMULATOR;
    std::vector<std::string> args = {"-c", "trap '' XFSZ; ulimit -f 2; exec \"$0\" \"$@\""};
    if (!emulator.empty())
        args.push_back(emulator);
    for (const char *a : {QX_CLI, "eq", "in.wav", "big.wav"})
        args.push_back(a);
    const result r = run_exe("/bin/sh", args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "playback-profile: cannot write 'big.wav': File too large\n");
    EXPECT_EQ(listing(dir), before);
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
        // A repeatable option takes one value per occurrence, and its help says no more.
        EXPECT_EQ(r.out.find("BAND=DB ..."), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Field=Value ..."), std::string::npos) << r.out;
    }
    for (const char *exe : {QX_EQ_DEMO, QX_CLIP_MAKER}) {
        SCOPED_TRACE(exe);
        const result r = run_built(exe, {"--help"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("Usage: ", 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(listing(fresh_dir()), std::vector<std::string>{}); // no file named --help
}

} // namespace
