// The shipped examples and the README's main job: the clip is what its generator makes, the
// sample profile is in the library's own form, the plot in docs/ is what the program draws,
// and the three commands of the main job work on them.
#include "harness.h"

#include "qxtp.h"

#include <cstdlib>
#include <sstream>

namespace {

using namespace harness;
using Examples = CliTest;

const fs::path k_source = QX_SOURCE_DIR;
const fs::path k_clip = k_source / "examples" / "demo-clip.wav";
const fs::path k_profile = k_source / "examples" / "phone-720p.json";
const fs::path k_plot = k_source / "docs" / "ps-rock-response.svg";

TEST_F(Examples, ClipIsTheGeneratorsShortSixteenBitSignal) {
    const fs::path dir = fresh_dir();
    ASSERT_EQ(run_built(QX_CLIP_MAKER, {(dir / "clip.wav").string()}).status, 0);
    const audio made = read_audio(dir / "clip.wav", false), shipped = read_audio(k_clip, false);
    EXPECT_EQ(shipped.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(shipped.info.samplerate, 44100);
    EXPECT_EQ(shipped.info.channels, 2);
    EXPECT_EQ(shipped.info.frames, 2 * 44100);
    EXPECT_LT(fs::file_size(k_clip), 400u * 1024u);
    ASSERT_EQ(made.s.size(), shipped.s.size());
    // A different maths library may round a last bit differently; nothing more.
    for (size_t i = 0; i < made.s.size(); ++i)
        ASSERT_LE(std::abs(made.s[i] - shipped.s[i]), 1) << "sample " << i;
}

TEST_F(Examples, SampleProfileIsValidAndInTheLibrarysForm) {
    fresh_dir();
    const std::string text = read_file(k_profile);
    const result r = run({"profile", "fmt", k_profile.string(), "-o", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, text);
    EXPECT_EQ(run({"profile", "validate", k_profile.string()}).status, 0);
}

TEST_F(Examples, ReadmeMainJobEqualisesPlotsAndPrintsArguments) {
    const fs::path dir = fresh_dir();
    result r = run({"eq", k_clip.string(), "rock.wav", "--preset", "PS_rock"});
    ASSERT_EQ(r.status, 0) << r.err;
    audio want = read_audio(k_clip, false);
    ASSERT_EQ(qxeq_set_preset("PS_rock"), QX_OK);
    ASSERT_EQ(qxeq_process_s16(want.s.data(), static_cast<int32_t>(want.info.frames), 2), QX_OK);
    EXPECT_EQ(read_audio(dir / "rock.wav", false).s, want.s);

    r = run({"response", "--preset", "PS_rock", "--svg", "rock.svg"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "rock.svg"), read_file(k_plot)) << "docs/ is out of date";

    r = run({"profile", "args", k_profile.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const int32_t id = qxtp_profile_from_json(read_file(k_profile).c_str());
    ASSERT_GE(id, 0);
    EXPECT_EQ(r.out, std::string(qxtp_profile_to_ffmpeg_args(id)) + "\n" +
                         qxtp_profile_file_type(id) + "\n");
}

// The README's equaliser example, built as a program of its own against the library and run
// under valgrind: it must compile as printed and read no uninitialised audio.
TEST_F(Examples, ReadmeEqualiserExampleRunsCleanUnderValgrind) {
    if (QX_SANITIZED)
        GTEST_SKIP() << "an instrumented library needs its sanitizer runtime loaded first";
    const fs::path dir = fresh_dir();
    const std::string readme = read_file(k_source / "README.md");
    const size_t section = readme.find("### Equaliser");
    ASSERT_NE(section, std::string::npos);
    const size_t start = readme.find("```c\n", section);
    ASSERT_NE(start, std::string::npos);
    const size_t end = readme.find("```", start + 5);
    std::string includes = "#include <stdio.h>\n", body;
    std::istringstream lines(readme.substr(start + 5, end - start - 5));
    for (std::string l; std::getline(lines, l);)
        (l.rfind("#include", 0) == 0 ? includes : body) += l + "\n";
    write_file(dir / "example.c", includes + "int main(void) {\n" + body + "return 0;\n}\n");

    const fs::path lib = QX_LIBRARY;
    result r =
        run_exe(QX_CC, {"-std=c99", "-Wall", "-Werror", "-I", (k_source / "include").string(), "-o",
                        (dir / "example").string(), (dir / "example.c").string(), lib.string(),
                        "-Wl,-rpath," + lib.parent_path().string()});
    ASSERT_EQ(r.status, 0) << r.err;
    // valgrind checks native programs; a cross build runs the example through its emulator
    const std::string emulator = QX_EMULATOR;
    r = emulator.empty()
            ? run_exe(QX_VALGRIND, {"-q", "--error-exitcode=99", (dir / "example").string()})
            : run_exe(emulator, {(dir / "example").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("dB at 1 kHz"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("gain clamp"), std::string::npos) << r.out; // the logged warning
}

} // namespace
