// The profile commands end to end: profiles made and read by the program through files and
// through standard input and output agree with what the library makes of the same fields in
// this process.
#include "harness.h"

#include "qxtp.h"

#include <sstream>

namespace {

using namespace harness;
using ProfileCommand = CliTest;

using field_values = std::vector<std::pair<std::string, std::string>>;

// The library's JSON and arguments for a profile with these fields.
struct expected {
    std::string json, args, file_type;
};

expected library_view(const field_values &fields) {
    const int32_t id = qxtp_profile_create(nullptr);
    EXPECT_GE(id, 0);
    for (const auto &[f, v] : fields)
        qxtp_profile_set(id, f.c_str(), v.c_str());
    expected e{qxtp_profile_to_json(id), qxtp_profile_to_ffmpeg_args(id),
               qxtp_profile_file_type(id)};
    qxtp_profile_destroy(id);
    qx_clear_warnings();
    return e;
}

std::vector<std::string> set_args(const field_values &fields) {
    std::vector<std::string> a{"profile", "new"};
    for (const auto &[f, v] : fields)
        a.insert(a.end(), {"--set", f + "=" + v});
    return a;
}

const field_values k_profiles[] = {
    {},
    {{"ProfileName", "Phone"}, {"FormatCreator", "mp4"}, {"AudioBitrate", "128000"}},
    {{"ProfileName", "Kitchen radio \"mono\""},
     {"FormatCreator", "mp3"},
     {"AudioBitrate", "96000"},
     {"AudioChannelCount", "1"},
     {"AudioSampleRate", "22050"},
     {"AudioBitsPerSample", "16"}},
    {{"ProfileName", "Télé 720p"},
     {"FormatCreator", "hevc"},
     {"FormatQuality", "-3"},
     {"HardwareAccelerationEnabled", "true"},
     {"VideoWidth", "1280"},
     {"VideoHeight", "720"},
     {"VideoBitrate", "2500000"},
     {"VideoFrameRateNumerator", "30000"},
     {"VideoFrameRateDenominator", "1001"},
     {"AlwaysReencode", "1"}},
    {{"FormatCreator", "mkv"},
     {"VideoPixelAspectRatioNumerator", "4"},
     {"VideoPixelAspectRatioDenominator", "3"},
     {"ProfileEnableMrfCrf444", "False"}},
};

TEST_F(ProfileCommand, NewArgsAndFmtAgreeWithTheLibraryThroughFilesAndPipes) {
    const fs::path dir = fresh_dir();
    for (const auto &fields : k_profiles) {
        SCOPED_TRACE(fields.empty() ? "defaults" : fields.front().second);
        const expected want = library_view(fields);

        // new: standard output, then a file
        result r = run(set_args(fields));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, want.json + "\n");
        auto to_file = set_args(fields);
        to_file.insert(to_file.end(), {"-o", "p.json"});
        ASSERT_EQ(run(to_file).status, 0);
        EXPECT_EQ(read_file(dir / "p.json"), want.json + "\n");

        // args from the file and from standard input
        const std::string args_out = want.args + "\n" + want.file_type + "\n";
        r = run({"profile", "args", "p.json"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, args_out);
        r = run({"profile", "args", "-"}, want.json);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, args_out);

        // fmt: file to standard output, standard input to standard output, file to file
        r = run({"profile", "fmt", "p.json", "-o", "-"});
        EXPECT_EQ(r.out, want.json + "\n");
        r = run({"profile", "fmt", "-"}, want.json);
        EXPECT_EQ(r.out, want.json + "\n");
        ASSERT_EQ(run({"profile", "fmt", "-", "-o", "q.json"}, want.json).status, 0);
        EXPECT_EQ(read_file(dir / "q.json"), want.json + "\n");

        // validate: these are all valid
        r = run({"profile", "validate", "q.json"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "'q.json': valid\n");
    }
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"p.json", "q.json"}));
}

TEST_F(ProfileCommand, FmtRewritesAFileInPlaceInTheLibrarysForm) {
    const fs::path dir = fresh_dir();
    // Spaced out, reordered, with a member the library ignores and a stale FileType.
    const std::string loose = "{\n  \"AudioBitrate\": 128000,\n  \"Comment\": \"kept nowhere\",\n"
                              "  \"FormatCreator\": \"aac\",\n  \"FileType\": \".wav\",\n"
                              "  \"AlwaysReencode\": true\n}\n";
    write_file(dir / "loose.json", loose);
    const int32_t id = qxtp_profile_from_json(loose.c_str());
    ASSERT_GE(id, 0);
    const std::string want = std::string(qxtp_profile_to_json(id)) + "\n";

    // Losing Comment and changing FileType needs --force; without it the file stays.
    result r = run({"profile", "fmt", "loose.json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(count(r.err, "\n"), 3u) << r.err;
    EXPECT_NE(r.err.find("\"Comment\" is ignored"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\"FileType\" \".wav\" is ignored"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir / "loose.json"), loose);

    r = run({"profile", "fmt", "loose.json", "--force"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(count(r.err, "warning: "), 2u) << r.err;
    EXPECT_EQ(read_file(dir / "loose.json"), want);
    r = run({"profile", "fmt", "loose.json"}); // already in form: unchanged, no --force needed
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(dir / "loose.json"), want);
    EXPECT_EQ(listing(dir), std::vector<std::string>{"loose.json"});
}

TEST_F(ProfileCommand, ShowListsEveryFieldWithTypeValidityAndValue) {
    const fs::path dir = fresh_dir();
    const std::string json = "{\"ProfileName\":\"Phone\",\"FormatCreator\":\"mp4\","
                             "\"FormatQuality\":\"high\",\"AudioBitrate\":\"fast\"}";
    for (const bool piped : {false, true}) {
        SCOPED_TRACE(piped ? "standard input" : "file");
        write_file(dir / "p.json", json);
        const result r =
            piped ? run({"profile", "show", "-"}, json) : run({"profile", "show", "p.json"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        std::vector<std::string> l;
        for (size_t at = 0, nl; (nl = r.out.find('\n', at)) != std::string::npos; at = nl + 1)
            l.push_back(r.out.substr(at, nl - at));
        ASSERT_EQ(l.size(), 1 + 17 + 1u) << r.out;
        struct {
            size_t line;
            const char *name, *type, *valid, *value;
        } const rows[] = {
            {1, "ProfileName", "string", "yes", "\"Phone\""},
            {2, "FormatCreator", "string", "yes", "\"mp4\""},
            {3, "FormatQuality", "int", "NO", "\"high\""},
            {4, "ProfileEnableMrfCrf444", "bool", "yes", "\"false\""},
            {7, "AudioBitrate", "uint_string", "NO", "\"fast\""},
            {17, "VideoPixelAspectRatioDenominator", "uint_string", "yes", "\"\""},
            {18, "FileType", "(derived)", nullptr, "\".mp4\""},
        };
        for (const auto &row : rows) {
            std::istringstream s(l[row.line]);
            std::string name, type, valid, value;
            s >> name >> type;
            if (row.valid)
                s >> valid;
            s >> value;
            EXPECT_EQ(name, row.name);
            EXPECT_EQ(type, row.type) << row.name;
            if (row.valid)
                EXPECT_EQ(valid, row.valid) << row.name;
            EXPECT_EQ(value, row.value) << row.name;
        }
    }
}

TEST_F(ProfileCommand, ValidateListsEachInvalidFieldAndFails) {
    const fs::path dir = fresh_dir();
    const std::string json = "{\"AudioBitrate\":\"fast\",\"FormatQuality\":\"high\","
                             "\"AlwaysReencode\":\"yes\",\"VideoWidth\":\"1280\"}";
    write_file(dir / "bad.json", json);
    for (const bool piped : {false, true}) {
        SCOPED_TRACE(piped ? "standard input" : "file");
        const result r = piped ? run({"profile", "validate", "-"}, json)
                               : run({"profile", "validate", "bad.json"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        const std::string name = piped ? "standard input" : "'bad.json'";
        // Table order, one line each, in plain words with the status name in parentheses.
        EXPECT_EQ(r.err,
                  "playback-profile: " + name +
                      ": FormatQuality \"high\" is not valid: an int is a whole number "
                      "from -2147483648 to 2147483647 (ERR_FIELD_INVALID)\n"
                      "playback-profile: " +
                      name +
                      ": AlwaysReencode \"yes\" is not valid: a bool is true, false, "
                      "True, False, 1 or 0 (ERR_FIELD_INVALID)\n"
                      "playback-profile: " +
                      name +
                      ": AudioBitrate \"fast\" is not valid: a uint_string is empty or "
                      "digits for a whole number from 0 to 4294967295 (ERR_FIELD_INVALID)\n");
    }
}

TEST_F(ProfileCommand, ArgsRefusesAnInvalidProfileAndPrintsOneLineOnRequest) {
    fresh_dir();
    result r = run({"profile", "args", "-"},
                   "{\"FormatCreator\":\"mp4\",\"AudioBitrate\":\"fast\",\"AudioChannelCount\":2}");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "playback-profile: standard input: AudioBitrate \"fast\" is not valid: a "
                     "uint_string is empty or digits for a whole number from 0 to 4294967295 "
                     "(ERR_FIELD_INVALID)\n");

    // $(playback-profile profile args --args-only p.json) pastes one line of options.
    const std::string json = "{\"FormatCreator\":\"mp4\",\"AudioChannelCount\":2}";
    r = run({"profile", "args", "--args-only", "-"}, json);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "-c:v libx264 -ac 2 \n");
    r = run({"profile", "args", "--type-only", "-"}, json);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, ".mp4\n");
    r = run({"profile", "args", "--type-only", "--args-only", "-"}, json);
    EXPECT_EQ(r.status, 2);

    // Bit depths ffmpeg has no signed sample format for: said, the arguments still printed.
    for (const char *bits : {"8", "12", "24"}) {
        SCOPED_TRACE(bits);
        r = run({"profile", "args", "-"},
                std::string("{\"FormatCreator\":\"mp3\",\"AudioBitsPerSample\":") + bits + "}");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, std::string("-c:a libmp3lame -sample_fmt s") + bits + " \n.mp3\n");
        EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
        EXPECT_NE(r.err.find("warning: standard input: AudioBitsPerSample " + std::string(bits)),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("ffmpeg"), std::string::npos) << r.err;
    }
    r = run({"profile", "args", "-"}, "{\"AudioBitsPerSample\":16}");
    EXPECT_EQ(r.err, "");

    // profile --help names the fields that never reach the arguments.
    r = run({"profile", "--help"});
    EXPECT_NE(r.out.find("never reach the ffmpeg arguments: ProfileName, FormatQuality, "
                         "ProfileEnableMrfCrf444, HardwareAccelerationEnabled, AlwaysReencode, "
                         "VideoPixelAspectRatioNumerator, VideoPixelAspectRatioDenominator."),
              std::string::npos)
        << r.out;
}

// Members the import ignores and values it changes: show and validate warn and keep their
// exit status, fmt refuses to lose them without --force.
TEST_F(ProfileCommand, IgnoredAndChangedMembersAreNamed) {
    const fs::path dir = fresh_dir();
    const std::string typo = "{\"ProfileName\":\"x\",\"AudioBitRate\":128000,"
                             "\"FormatQuality\":23.5,\"Notes\":\"keep me\","
                             "\"AlwaysReencode\":\"yes\",\"VideoWidth\":null,"
                             "\"FormatCreator\":\"aac\",\"FormatCreator\":\"mp3\","
                             "\"HardwareAccelerationEnabled\":2,\"ProfileName\":\"y\"}";
    write_file(dir / "typo.json", typo);
    const std::vector<std::string> warned = {
        "member \"AudioBitRate\" is ignored: no field has that name (did you mean "
        "\"AudioBitrate\"?)",
        "FormatQuality 23.5 is not imported (a real number",
        "member \"Notes\" is ignored: no field has that name\n",
        "VideoWidth null is not imported (null",
        "a second \"FormatCreator\" member is ignored",
        "a second \"ProfileName\" member is ignored",
    };
    // The invalid bool texts ("yes", 2) are validate's to report, as invalid fields.
    const std::vector<std::string> invalid = {"AlwaysReencode \"yes\" is not valid",
                                              "HardwareAccelerationEnabled \"2\" is not valid"};

    result r = run({"profile", "validate", "typo.json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(count(r.err, "\n"), warned.size() + invalid.size()) << r.err;
    for (const auto &w : warned)
        EXPECT_NE(r.err.find("warning: 'typo.json': " + w), std::string::npos) << w << r.err;
    for (const auto &w : invalid)
        EXPECT_NE(r.err.find("playback-profile: 'typo.json': " + w), std::string::npos) << r.err;

    r = run({"profile", "show", "typo.json"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count(r.err, "\n"), warned.size()) << r.err;

    // fmt lists everything the rewrite would lose or change, those bools included.
    r = run({"profile", "fmt", "typo.json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(count(r.err, "\n"), warned.size() + 2 + 1) << r.err;
    EXPECT_NE(r.err.find("AlwaysReencode \"yes\" becomes false"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("HardwareAccelerationEnabled 2 becomes false"), std::string::npos)
        << r.err;
    EXPECT_EQ(read_file(dir / "typo.json"), typo);
    r = run({"profile", "fmt", "typo.json", "-o", "-"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");

    // Texts the import cuts: at a NUL character, and to the field's 127 bytes.
    const std::string long_name(200, 'n');
    r = run({"profile", "show", "-"},
            "{\"ProfileName\":\"" + long_name + "\",\"FormatCreator\":\"mp3\\u0000x\"}");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("ProfileName is cut to 127 bytes: it becomes \"" +
                         long_name.substr(0, 127) + "\""),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("FormatCreator is cut at its NUL character (\\u0000): it becomes \"mp3\""),
              std::string::npos)
        << r.err;
    EXPECT_EQ(count(r.err, "\n"), 2u) << r.err;

    // A valid, complete file in another layout needs no --force.
    write_file(dir / "ok.json", "{ \"AudioBitrate\": \"128000\", \"FormatQuality\": \" 5\" }");
    r = run({"profile", "fmt", "ok.json", "-o", "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("\"FormatQuality\":5"), std::string::npos) << r.out;
}

TEST_F(ProfileCommand, ShowEscapesQuotesLineBreaksAndControlCharacters) {
    fresh_dir();
    const result r = run({"profile", "show", "-"},
                         "{\"ProfileName\":\"say \\\"hi\\\"\\nnext\\tline \\\\ \\u0001\"}");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count(r.out, "\n"), 19u) << r.out; // the table keeps one line per field
    EXPECT_NE(r.out.find("\"say \\\"hi\\\"\\nnext\\tline \\\\ \\u0001\"\n"), std::string::npos)
        << r.out;
}

} // namespace
