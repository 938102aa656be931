// Profile fields: the table, the value rules of each type, and the file type derived from
// FormatCreator.
#include "profile_test.h"

#include <cstdint>
#include <string>

namespace {

using Fields = ProfileTest;

// The JSON value written for a member, e.g. 'true' or '-3' (for the number and bool members).
std::string exported_member(int32_t id, const char *field) {
    const std::string json = qxtp_profile_to_json(id);
    const std::string key = std::string("\"") + field + "\":";
    const size_t at = json.find(key);
    if (at == std::string::npos)
        return "<missing>";
    const size_t start = at + key.size();
    return json.substr(start, json.find_first_of(",}", start) - start);
}

TEST_F(Fields, Table) {
    const struct {
        const char *name, *type;
    } rows[] = {
        {"ProfileName", "string"},
        {"FormatCreator", "string"},
        {"FormatQuality", "int"},
        {"ProfileEnableMrfCrf444", "bool"},
        {"HardwareAccelerationEnabled", "bool"},
        {"AlwaysReencode", "bool"},
        {"AudioBitrate", "uint_string"},
        {"AudioBitsPerSample", "uint_string"},
        {"AudioChannelCount", "uint_string"},
        {"AudioSampleRate", "uint_string"},
        {"VideoWidth", "uint_string"},
        {"VideoHeight", "uint_string"},
        {"VideoBitrate", "uint_string"},
        {"VideoFrameRateNumerator", "uint_string"},
        {"VideoFrameRateDenominator", "uint_string"},
        {"VideoPixelAspectRatioNumerator", "uint_string"},
        {"VideoPixelAspectRatioDenominator", "uint_string"},
    };
    ASSERT_EQ(qxtp_profile_field_count(), 17);
    for (uint32_t i = 0; i < 17; ++i) {
        SCOPED_TRACE(i);
        EXPECT_STREQ(qxtp_profile_field_name(i), rows[i].name);
        EXPECT_STREQ(qxtp_profile_field_type(i), rows[i].type);
    }
    // Out of range: null, and an earlier failure text stays.
    EXPECT_EQ(qxtp_profile_destroy(64), QX_ERR_NO_SUCH_PROFILE);
    for (uint32_t index : {17u, 100u, 0xFFFFFFFFu}) {
        EXPECT_EQ(qxtp_profile_field_name(index), nullptr);
        EXPECT_EQ(qxtp_profile_field_type(index), nullptr);
    }
    EXPECT_STREQ(qxtp_last_error(), "ERR_NO_SUCH_PROFILE");
}

TEST_F(Fields, UnsignedTexts) {
    const std::string digits127(127, '9');
    const struct {
        std::string text;
        int valid;
        uint32_t value;
    } cases[] = {
        {"128000", 1, 128000},
        {" 44100", 1, 44100},
        {"\t\n\v\f\r 7", 1, 7},
        {"", 1, 0},
        {"0", 1, 0},
        {"007", 1, 7},
        {"4294967295", 1, 4294967295u},
        {"4294967296", 1, 4294967295u},
        {"99999999999", 1, 4294967295u},
        {"18446744073709551617", 1, 4294967295u}, // past 64 bits too
        {digits127, 1, 4294967295u},
        {"44100 ", 0, 0},
        {"+5", 0, 0},
        {"-5", 0, 0},
        {" -5", 0, 0},
        {"-0", 0, 0},
        {" ", 0, 0},
        {"abc", 0, 0},
        {"12abc", 0, 0},
        {"1 2", 0, 0},
        {"0x10", 0, 0},
        {"1e3", 0, 0},
        {"1.0", 0, 0},
        {"\xC2\xA0"
         "5",
         0, 0}, // a no-break space is not white space
    };
    const int32_t id = qxtp_profile_create("u");
    for (const auto &c : cases) {
        SCOPED_TRACE("'" + c.text + "'");
        EXPECT_EQ(qxtp_profile_set(id, "VideoWidth", c.text.c_str()),
                  c.valid ? QX_OK : QX_ERR_FIELD_INVALID);
        EXPECT_EQ(qxtp_profile_field_valid(id, "VideoWidth"), c.valid);
        EXPECT_EQ(qxtp_profile_parsed_uint(id, "VideoWidth"), c.value);
        EXPECT_STREQ(qxtp_profile_get(id, "VideoWidth"), c.text.c_str()); // stored as given
    }
}

TEST_F(Fields, IntegerTexts) {
    const struct {
        const char *text;
        int valid;
        const char *exported;
    } cases[] = {
        {"-3", 1, "-3"},
        {"+3", 1, "3"},
        {" 7", 1, "7"},
        {"\t-7", 1, "-7"},
        {"0", 1, "0"},
        {"-0", 1, "0"},
        {"00012", 1, "12"},
        {"", 1, "0"},
        {"2147483647", 1, "2147483647"},
        {"2147483648", 1, "2147483647"},
        {"99999999999", 1, "2147483647"},
        {"-2147483648", 1, "-2147483648"},
        {"-2147483649", 1, "-2147483648"},
        {"-99999999999", 1, "-2147483648"},
        {"-99999999999999999999999", 1, "-2147483648"},
        {"3.5", 0, "0"},
        {"x", 0, "0"},
        {"high", 0, "0"},
        {"7 ", 0, "0"},
        {"+", 0, "0"},
        {"-", 0, "0"},
        {" ", 0, "0"},
        {"+-3", 0, "0"},
        {"--3", 0, "0"},
        {"- 3", 0, "0"},
        {"1e3", 0, "0"},
    };
    const int32_t id = qxtp_profile_create("i");
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "'");
        EXPECT_EQ(qxtp_profile_set(id, "FormatQuality", c.text), QX_OK); // never rejected
        EXPECT_EQ(qxtp_profile_field_valid(id, "FormatQuality"), c.valid);
        EXPECT_EQ(qxtp_profile_parsed_uint(id, "FormatQuality"), 0u); // not a uint_string
        EXPECT_EQ(exported_member(id, "FormatQuality"), c.exported);
    }
    EXPECT_EQ(qx_warning_count(), 0);
}

TEST_F(Fields, BoolTexts) {
    const struct {
        const char *text;
        int valid;
        const char *exported;
    } cases[] = {
        {"true", 1, "true"}, {"1", 1, "true"},      {"True", 1, "true"},   {"false", 1, "false"},
        {"0", 1, "false"},   {"False", 1, "false"}, {"", 1, "false"},      {"TRUE", 0, "false"},
        {"yes", 0, "false"}, {" true", 0, "false"}, {"true ", 0, "false"}, {"2", 0, "false"},
        {"01", 0, "false"},  {"tRUE", 0, "false"},  {"FALSE", 0, "false"},
    };
    const int32_t id = qxtp_profile_create("b");
    for (const char *field :
         {"ProfileEnableMrfCrf444", "HardwareAccelerationEnabled", "AlwaysReencode"}) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(field) + " '" + c.text + "'");
            EXPECT_EQ(qxtp_profile_set(id, field, c.text), QX_OK);
            EXPECT_EQ(qxtp_profile_field_valid(id, field), c.valid);
            EXPECT_EQ(exported_member(id, field), c.exported);
        }
        qxtp_profile_set(id, field, "false");
    }
    EXPECT_EQ(qx_warning_count(), 0);
}

TEST_F(Fields, StringsAreAlwaysValid) {
    const int32_t id = qxtp_profile_create("s");
    for (const char *text : {"", "anything at all", "\x01\x7F", "\xFF\xFE", "-5", "mp4 -y"}) {
        for (const char *field : {"ProfileName", "FormatCreator"}) {
            SCOPED_TRACE(field);
            EXPECT_EQ(qxtp_profile_set(id, field, text), QX_OK);
            EXPECT_EQ(qxtp_profile_field_valid(id, field), 1);
            EXPECT_STREQ(qxtp_profile_get(id, field), text);
        }
    }
}

// Only a plain token of ASCII letters, digits and '_' becomes a file extension: anything else
// could carry a path into the host's output name.
TEST_F(Fields, FileTypeFromFormatCreator) {
    const struct {
        const char *creator, *file_type;
    } cases[] = {
        {"", ""},
        {"hevc", ".mp4"},
        {"mp4", ".mp4"},
        {"mp3", ".mp3"},
        {"h264", ".h264"},
        {"aac", ".aac"},
        {"mkv", ".mkv"},
        {"ts", ".ts"},
        {"m4a", ".m4a"},
        {"MP4", ".MP4"},
        {"HEVC", ".HEVC"},
        {"_", "._"},
        {"abcdefghijklmnopqrst", ".abcdefghijklmn"}, // 20 characters: the first 14 kept
        {"mp4 -y -i secret", ""},
        {"../../x", ""},
        {"a.b", ""},
        {"mp4\n", ""},
        {" mp4", ""},
        {"caf\xC3\xA9", ""},
        {"x/y", ""},
        {"-f", ""},
    };
    const int32_t id = qxtp_profile_create("f");
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("'") + c.creator + "'");
        EXPECT_EQ(qxtp_profile_set(id, "FormatCreator", c.creator), QX_OK);
        EXPECT_STREQ(qxtp_profile_file_type(id), c.file_type);
        EXPECT_STREQ(qxtp_profile_get(id, "FormatCreator"), c.creator); // stored as given
        EXPECT_EQ(qxtp_profile_field_valid(id, "FormatCreator"), 1);
        EXPECT_EQ(exported_member(id, "FileType"), std::string("\"") + c.file_type + "\"");
    }
}

} // namespace
