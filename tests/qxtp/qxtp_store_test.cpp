// The profile store: slots, defaults, set and get, validation, last-error and warning rules,
// UTF-8-safe cuts and values that point into the library's own storage.
#include "profile_test.h"
#include "qxeq.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Store = ProfileTest;

const char *const k_names[17] = {"ProfileName",
                                 "FormatCreator",
                                 "FormatQuality",
                                 "ProfileEnableMrfCrf444",
                                 "HardwareAccelerationEnabled",
                                 "AlwaysReencode",
                                 "AudioBitrate",
                                 "AudioBitsPerSample",
                                 "AudioChannelCount",
                                 "AudioSampleRate",
                                 "VideoWidth",
                                 "VideoHeight",
                                 "VideoBitrate",
                                 "VideoFrameRateNumerator",
                                 "VideoFrameRateDenominator",
                                 "VideoPixelAspectRatioNumerator",
                                 "VideoPixelAspectRatioDenominator"};

void expect_defaults(int32_t id, const char *name) {
    for (const char *field : k_names) {
        SCOPED_TRACE(field);
        const std::string f = field;
        const char *expected = f == "ProfileName"     ? name
                               : f == "FormatQuality" ? "0"
                               : (f == "ProfileEnableMrfCrf444" ||
                                  f == "HardwareAccelerationEnabled" || f == "AlwaysReencode")
                                   ? "false"
                                   : "";
        EXPECT_STREQ(qxtp_profile_get(id, field), expected);
        EXPECT_EQ(qxtp_profile_field_valid(id, field), 1);
    }
    EXPECT_STREQ(qxtp_profile_file_type(id), "");
}

TEST_F(Store, CreateGivesDefaults) {
    const std::string long_name(200, 'n'), cut_name(127, 'n');
    const struct {
        const char *name, *stored;
    } cases[] = {
        {"Phone", "Phone"},
        {nullptr, ""},
        {"", ""},
        {long_name.c_str(), cut_name.c_str()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name == nullptr ? "(null)" : c.name);
        qxtp_profile_destroy(64); // a failure text that create must empty
        const int32_t id = qxtp_profile_create(c.name);
        ASSERT_EQ(id, 0);
        EXPECT_STREQ(qxtp_last_error(), "OK");
        expect_defaults(id, c.stored);
        EXPECT_EQ(qxtp_profile_validate(id), QX_OK);
        EXPECT_EQ(qxtp_profile_destroy(id), QX_OK);
    }
    EXPECT_EQ(qx_warning_count(), 0);
}

TEST_F(Store, SlotsRunOutAndAreReused) {
    for (int32_t i = 0; i < 64; ++i)
        ASSERT_EQ(qxtp_profile_create("p"), i);
    EXPECT_EQ(qxtp_profile_create("one too many"), -QX_ERR_OOM);
    EXPECT_STREQ(qxtp_last_error(), "ERR_OOM");

    // A reused slot starts from defaults: nothing of the old profile survives.
    for (const char *field : k_names)
        qxtp_profile_set(5, field, "7");
    qxtp_profile_set(5, "FormatCreator", "mkv");
    ASSERT_STREQ(qxtp_profile_file_type(5), ".mkv");
    ASSERT_NE(qxtp_profile_to_json(5), nullptr);
    EXPECT_EQ(qxtp_profile_destroy(5), QX_OK);
    EXPECT_STREQ(qxtp_last_error(), "OK");
    EXPECT_EQ(qxtp_profile_create(nullptr), 5);
    expect_defaults(5, "");

    EXPECT_EQ(qxtp_profile_destroy(0), QX_OK);
    EXPECT_EQ(qxtp_profile_destroy(63), QX_OK);
    EXPECT_EQ(qxtp_profile_create(nullptr), 0); // the lowest free slot first
    EXPECT_EQ(qxtp_profile_create(nullptr), 63);
    EXPECT_EQ(qxtp_profile_create(nullptr), -QX_ERR_OOM);
}

TEST_F(Store, SetRulesPerType) {
    const struct {
        const char *field, *value;
        int32_t status;
        int32_t valid;
        const char *last_error;
        bool warns;
    } cases[] = {
        {"AudioBitrate", "fast", QX_ERR_FIELD_INVALID, 0, "ERR_FIELD_INVALID:AudioBitrate", true},
        {"VideoPixelAspectRatioDenominator", "-1", QX_ERR_FIELD_INVALID, 0,
         "ERR_FIELD_INVALID:VideoPixelAspectRatioDenominator", true},
        {"AudioBitrate", "128000", QX_OK, 1, "OK", false},
        {"AudioBitrate", nullptr, QX_OK, 1, "OK", false},
        {"FormatQuality", "high", QX_OK, 0, "OK", false},
        {"AlwaysReencode", "yes", QX_OK, 0, "OK", false},
        {"ProfileName", "x", QX_OK, 1, "OK", false},
        {"Bitrate", "1", QX_ERR_UNKNOWN_FIELD, -1, "ERR_UNKNOWN_FIELD", false},
        {"audiobitrate", "1", QX_ERR_UNKNOWN_FIELD, -1, "ERR_UNKNOWN_FIELD", false},
        {"AudioBitrate ", "1", QX_ERR_UNKNOWN_FIELD, -1, "ERR_UNKNOWN_FIELD", false},
        {"", "1", QX_ERR_UNKNOWN_FIELD, -1, "ERR_UNKNOWN_FIELD", false},
        {"FileType", ".mp4", QX_ERR_UNKNOWN_FIELD, -1, "ERR_UNKNOWN_FIELD", false},
        {nullptr, "1", QX_ERR_UNKNOWN_FIELD, -1, "ERR_UNKNOWN_FIELD", false},
    };
    const int32_t id = qxtp_profile_create("set");
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.field ? c.field : "(null)") + " = " +
                     (c.value ? c.value : "(null)"));
        qx_clear_warnings();
        EXPECT_EQ(qxtp_profile_set(id, c.field, c.value), c.status);
        EXPECT_STREQ(qxtp_last_error(), c.last_error);
        if (c.valid >= 0) {
            EXPECT_EQ(qxtp_profile_field_valid(id, c.field), c.valid);
            EXPECT_STREQ(qxtp_profile_get(id, c.field), c.value ? c.value : ""); // kept
        }
        ASSERT_EQ(qx_warning_count(), c.warns ? 1 : 0);
        if (c.warns)
            EXPECT_STREQ(qx_warning(0), c.last_error);
    }
}

TEST_F(Store, ValidateReportsEveryInvalidFieldInTableOrder) {
    const int32_t id = qxtp_profile_create("v");
    qxtp_profile_set(id, "VideoHeight", "tall");
    qxtp_profile_set(id, "AlwaysReencode", "maybe");
    qxtp_profile_set(id, "FormatQuality", "high");
    qx_clear_warnings();
    const std::vector<std::string> expected = {"ERR_FIELD_INVALID:FormatQuality",
                                               "ERR_FIELD_INVALID:AlwaysReencode",
                                               "ERR_FIELD_INVALID:VideoHeight"};
    EXPECT_EQ(qxtp_profile_validate(id), QX_ERR_FIELD_INVALID);
    EXPECT_STREQ(qxtp_last_error(), "ERR_FIELD_INVALID:FormatQuality");
    EXPECT_EQ(warnings(), expected);
    EXPECT_EQ(qxtp_profile_validate(id), QX_ERR_FIELD_INVALID); // twice: warnings twice
    EXPECT_EQ(qx_warning_count(), 6);

    for (const char *field : {"VideoHeight", "AlwaysReencode", "FormatQuality"})
        qxtp_profile_set(id, field, nullptr);
    EXPECT_EQ(qxtp_profile_validate(id), QX_OK);
    EXPECT_STREQ(qxtp_last_error(), "OK");
    EXPECT_EQ(qx_warning_count(), 6);
}

TEST_F(Store, FullWarningLogLosesOnlyTheWarning) {
    const int32_t id = qxtp_profile_create("w");
    for (int i = 0; i < 64; ++i)
        qx_warn("filler");
    EXPECT_EQ(qxtp_profile_set(id, "AudioBitrate", "fast"), QX_ERR_FIELD_INVALID);
    EXPECT_STREQ(qxtp_last_error(), "ERR_FIELD_INVALID:AudioBitrate");
    EXPECT_EQ(qx_warning_count(), 64);
    EXPECT_STREQ(qx_warning(63), "filler");
}

TEST_F(Store, ParsedUint) {
    const int32_t id = qxtp_profile_create("n");
    qxtp_profile_set(id, "VideoWidth", "1920");
    qxtp_profile_set(id, "FormatQuality", "5");
    qxtp_profile_destroy(64); // parsed_uint leaves this text alone
    EXPECT_EQ(qxtp_profile_parsed_uint(id, "VideoWidth"), 1920u);
    EXPECT_EQ(qxtp_profile_parsed_uint(id, "FormatQuality"), 0u);
    EXPECT_EQ(qxtp_profile_parsed_uint(id, "ProfileName"), 0u);
    EXPECT_EQ(qxtp_profile_parsed_uint(id, "VideoHeight"), 0u); // empty
    EXPECT_EQ(qxtp_profile_parsed_uint(id, "Width"), 0u);
    EXPECT_EQ(qxtp_profile_parsed_uint(id, nullptr), 0u);
    EXPECT_EQ(qxtp_profile_parsed_uint(-1, "VideoWidth"), 0u);
    EXPECT_EQ(qxtp_profile_parsed_uint(64, "VideoWidth"), 0u);
    EXPECT_EQ(qxtp_profile_parsed_uint(id + 1, "VideoWidth"), 0u);
    EXPECT_STREQ(qxtp_last_error(), "ERR_NO_SUCH_PROFILE");
}

TEST_F(Store, BadIdsReportNoSuchProfile) {
    const int32_t destroyed = qxtp_profile_create("gone");
    qxtp_profile_destroy(destroyed);
    for (int32_t id : {64, -1, INT32_MIN, INT32_MAX, destroyed, 7}) {
        SCOPED_TRACE(id);
        const std::function<bool()> calls[] = {
            [&] { return qxtp_profile_destroy(id) == QX_ERR_NO_SUCH_PROFILE; },
            [&] { return qxtp_profile_set(id, "AudioBitrate", "1") == QX_ERR_NO_SUCH_PROFILE; },
            [&] { return qxtp_profile_set(id, "Nope", "1") == QX_ERR_NO_SUCH_PROFILE; },
            [&] { return qxtp_profile_validate(id) == QX_ERR_NO_SUCH_PROFILE; },
            [&] { return qxtp_profile_get(id, "AudioBitrate") == nullptr; },
            [&] { return qxtp_profile_file_type(id) == nullptr; },
            [&] { return qxtp_profile_to_json(id) == nullptr; },
            [&] { return qxtp_profile_to_ffmpeg_args(id) == nullptr; },
            [&] { return qxtp_profile_field_valid(id, "AudioBitrate") == 0; },
        };
        for (size_t i = 0; i < std::size(calls); ++i) {
            SCOPED_TRACE(i);
            qxtp_profile_destroy(qxtp_profile_create(nullptr)); // "OK" before each call
            ASSERT_STREQ(qxtp_last_error(), "OK");
            EXPECT_TRUE(calls[i]());
            EXPECT_STREQ(qxtp_last_error(), "ERR_NO_SUCH_PROFILE");
        }
    }
}

// Each function either empties the last error on success, sets it only on failure, or never
// touches it. The rows start from an earlier failure text and check what a success leaves.
TEST_F(Store, LastErrorRules) {
    enum rule { empties, keeps };
    const int32_t id = qxtp_profile_create("rules");
    const struct {
        const char *what;
        std::function<void()> call;
        rule on_success;
    } rows[] = {
        {"create", [] { qxtp_profile_create(nullptr); }, empties},
        {"destroy", [] { qxtp_profile_destroy(qxtp_profile_create(nullptr)); }, empties},
        {"set", [&] { qxtp_profile_set(id, "VideoWidth", "1"); }, empties},
        {"set int rejected", [&] { qxtp_profile_set(id, "FormatQuality", "x"); }, empties},
        {"validate", [&] { qxtp_profile_validate(qxtp_profile_create(nullptr)); }, empties},
        {"to_json", [&] { qxtp_profile_to_json(id); }, empties},
        {"to_ffmpeg_args", [&] { qxtp_profile_to_ffmpeg_args(id); }, empties},
        {"from_json", [] { qxtp_profile_from_json("{\"AudioBitrate\":\"bad\"}"); }, empties},
        {"get", [&] { qxtp_profile_get(id, "ProfileName"); }, keeps},
        {"field_valid", [&] { qxtp_profile_field_valid(id, "ProfileName"); }, keeps},
        {"file_type", [&] { qxtp_profile_file_type(id); }, keeps},
        {"parsed_uint", [&] { qxtp_profile_parsed_uint(id, "VideoWidth"); }, keeps},
        {"parsed_uint bad id", [] { qxtp_profile_parsed_uint(99, "VideoWidth"); }, keeps},
        {"field_count", [] { qxtp_profile_field_count(); }, keeps},
        {"field_name", [] { qxtp_profile_field_name(99); }, keeps},
        {"field_type", [] { qxtp_profile_field_type(99); }, keeps},
        {"last_error", [] { qxtp_last_error(); }, keeps},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        qxtp_profile_set(id, "Nope", "1");
        ASSERT_STREQ(qxtp_last_error(), "ERR_UNKNOWN_FIELD");
        r.call();
        EXPECT_STREQ(qxtp_last_error(), r.on_success == empties ? "OK" : "ERR_UNKNOWN_FIELD");
        for (int32_t other = id + 1; other < 64; ++other)
            qxtp_profile_destroy(other);
    }
    // Failures of get and field_valid name an unknown field.
    qxtp_profile_destroy(qxtp_profile_create(nullptr));
    EXPECT_EQ(qxtp_profile_get(id, nullptr), nullptr);
    EXPECT_STREQ(qxtp_last_error(), "ERR_UNKNOWN_FIELD");
    qxtp_profile_destroy(qxtp_profile_create(nullptr));
    EXPECT_EQ(qxtp_profile_field_valid(id, "Nope"), 0);
    EXPECT_STREQ(qxtp_last_error(), "ERR_UNKNOWN_FIELD");
}

TEST_F(Store, ModulesKeepSeparateLastErrors) {
    EXPECT_EQ(qxeq_set_sample_rate(0), QX_ERR_BAD_SAMPLE_RATE);
    EXPECT_EQ(qxtp_profile_destroy(64), QX_ERR_NO_SUCH_PROFILE);
    EXPECT_STREQ(qxeq_last_error(), "ERR_BAD_SAMPLE_RATE");
    EXPECT_STREQ(qxtp_last_error(), "ERR_NO_SUCH_PROFILE");
    qxtp_profile_create(nullptr);
    EXPECT_STREQ(qxeq_last_error(), "ERR_BAD_SAMPLE_RATE");
    qxeq_set_sample_rate(44100);
    qxtp_profile_destroy(64);
    EXPECT_STREQ(qxtp_last_error(), "ERR_NO_SUCH_PROFILE");
}

// Texts are cut at 127 bytes, but never inside a UTF-8 character: a well-formed value stays
// well-formed and its profile still exports.
TEST_F(Store, CutsKeepWholeCharacters) {
    const std::string a126(126, 'a'), a125(125, 'a'), a124(124, 'a');
    const std::string digits(127, '1');
    const struct {
        std::string value, stored;
    } cases[] = {
        {std::string(200, 'x'), std::string(127, 'x')},
        {a126 + "\xC3\xA9", a126},                      // 2-byte character across the bound
        {a125 + "\xE2\x82\xAC", a125},                  // 3-byte, one byte in
        {a124 + "\xE2\x82\xAC", a124 + "\xE2\x82\xAC"}, // 3-byte, fits exactly
        {a124 + "\xF0\x9F\x8E\xB5", a124},              // 4-byte, three bytes in
        {a126 + "\xA9\xA9", a126 + "\xA9"},             // not UTF-8 there: cut at the byte bound
    };
    const int32_t id = qxtp_profile_create("cut");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stored.size());
        EXPECT_EQ(qxtp_profile_set(id, "ProfileName", c.value.c_str()), QX_OK);
        EXPECT_EQ(std::string(qxtp_profile_get(id, "ProfileName")), c.stored);
    }
    qxtp_profile_set(id, "ProfileName", (a126 + "\xC3\xA9").c_str());
    EXPECT_NE(qxtp_profile_to_json(id), nullptr);
    EXPECT_STREQ(qxtp_last_error(), "OK");

    // 127 digits then letters: the cut leaves a valid number that saturates.
    EXPECT_EQ(qxtp_profile_set(id, "AudioBitrate", (digits + "abc").c_str()), QX_OK);
    EXPECT_EQ(std::string(qxtp_profile_get(id, "AudioBitrate")), digits);
    EXPECT_EQ(qxtp_profile_field_valid(id, "AudioBitrate"), 1);
    EXPECT_EQ(qxtp_profile_parsed_uint(id, "AudioBitrate"), 4294967295u);

    // A name given to create is cut by the same rule.
    EXPECT_EQ(std::string(qxtp_profile_get(qxtp_profile_create((a126 + "\xC3\xA9").c_str()),
                                           "ProfileName")),
              a126);
}

// A host may hand back any text the library gave it, even the very field it sets.
TEST_F(Store, ValuesMayPointIntoLibraryStorage) {
    const int32_t id = qxtp_profile_create("Living room");
    EXPECT_EQ(qxtp_profile_set(id, "ProfileName", qxtp_profile_get(id, "ProfileName")), QX_OK);
    EXPECT_STREQ(qxtp_profile_get(id, "ProfileName"), "Living room");
    EXPECT_EQ(qxtp_profile_set(id, "ProfileName", qxtp_profile_get(id, "ProfileName") + 7), QX_OK);
    EXPECT_STREQ(qxtp_profile_get(id, "ProfileName"), "room");

    qxtp_profile_set(id, "FormatCreator", "mkv");
    qxtp_profile_set(id, "AudioBitrate", "96000");
    EXPECT_EQ(qxtp_profile_set(id, "FormatCreator", qxtp_profile_file_type(id)), QX_OK);
    EXPECT_STREQ(qxtp_profile_get(id, "FormatCreator"), ".mkv");
    EXPECT_STREQ(qxtp_profile_file_type(id), ""); // ".mkv" is not a plain token

    qxtp_profile_set(id, "FormatCreator", "mp3");
    EXPECT_EQ(qxtp_profile_set(id, "ProfileName", qxtp_profile_to_ffmpeg_args(id)), QX_OK);
    EXPECT_STREQ(qxtp_profile_get(id, "ProfileName"), "-c:a libmp3lame -b:a 96000 ");

    const char *json = qxtp_profile_to_json(id);
    ASSERT_NE(json, nullptr);
    const std::string expected = std::string(json).substr(0, 127);
    EXPECT_EQ(qxtp_profile_set(id, "ProfileName", json), QX_OK);
    EXPECT_EQ(std::string(qxtp_profile_get(id, "ProfileName")), expected);

    // A text from a destroyed slot, passed to the create that takes that slot again.
    const int32_t old = qxtp_profile_create("Keep me");
    const char *name = qxtp_profile_get(old, "ProfileName");
    qxtp_profile_destroy(old);
    EXPECT_EQ(qxtp_profile_create(name), old);
    EXPECT_STREQ(qxtp_profile_get(old, "ProfileName"), "Keep me");

    // A field text pointing at another field of the same slot.
    qxtp_profile_set(id, "VideoWidth", "1280");
    EXPECT_EQ(qxtp_profile_set(id, "VideoHeight", qxtp_profile_get(id, "VideoWidth")), QX_OK);
    EXPECT_EQ(qxtp_profile_parsed_uint(id, "VideoHeight"), 1280u);
}

} // namespace
