// Profile JSON: the exact exported text, import of every kind of value, failures, the largest
// possible export, a round trip of random profiles, and the yyjson the library runs with.
#include "profile_test.h"

#include <yyjson.h> // for YYJSON_VERSION_HEX only: the test itself does not link yyjson

#include <dlfcn.h>
#include <link.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Json = ProfileTest;

std::vector<std::string> field_names() {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < 17; ++i)
        names.emplace_back(qxtp_profile_field_name(i));
    return names;
}

std::vector<std::string> field_texts(int32_t id) {
    std::vector<std::string> texts;
    for (const std::string &name : field_names())
        texts.emplace_back(qxtp_profile_get(id, name.c_str()));
    return texts;
}

TEST_F(Json, PhoneExample) {
    const int32_t id = qxtp_profile_create("Phone");
    qxtp_profile_set(id, "FormatCreator", "mp4");
    qxtp_profile_set(id, "AudioBitrate", "128000");
    qxtp_profile_destroy(64);
    EXPECT_STREQ(qxtp_profile_to_json(id),
                 "{\"ProfileName\":\"Phone\",\"FormatCreator\":\"mp4\",\"FormatQuality\":0,"
                 "\"ProfileEnableMrfCrf444\":false,\"HardwareAccelerationEnabled\":false,"
                 "\"AlwaysReencode\":false,\"AudioBitrate\":\"128000\",\"AudioBitsPerSample\":\"\","
                 "\"AudioChannelCount\":\"\",\"AudioSampleRate\":\"\",\"VideoWidth\":\"\","
                 "\"VideoHeight\":\"\",\"VideoBitrate\":\"\",\"VideoFrameRateNumerator\":\"\","
                 "\"VideoFrameRateDenominator\":\"\",\"VideoPixelAspectRatioNumerator\":\"\","
                 "\"VideoPixelAspectRatioDenominator\":\"\",\"FileType\":\".mp4\"}");
    EXPECT_STREQ(qxtp_last_error(), "OK");
}

TEST_F(Json, FreshProfileAndValueMapping) {
    const int32_t id = qxtp_profile_create(nullptr);
    EXPECT_STREQ(qxtp_profile_to_json(id),
                 "{\"ProfileName\":\"\",\"FormatCreator\":\"\",\"FormatQuality\":0,"
                 "\"ProfileEnableMrfCrf444\":false,\"HardwareAccelerationEnabled\":false,"
                 "\"AlwaysReencode\":false,\"AudioBitrate\":\"\",\"AudioBitsPerSample\":\"\","
                 "\"AudioChannelCount\":\"\",\"AudioSampleRate\":\"\",\"VideoWidth\":\"\","
                 "\"VideoHeight\":\"\",\"VideoBitrate\":\"\",\"VideoFrameRateNumerator\":\"\","
                 "\"VideoFrameRateDenominator\":\"\",\"VideoPixelAspectRatioNumerator\":\"\","
                 "\"VideoPixelAspectRatioDenominator\":\"\",\"FileType\":\"\"}");

    // Numbers in text fields stay texts, even invalid ones; FormatQuality and bools convert.
    qxtp_profile_set(id, "FormatCreator", "hevc");
    qxtp_profile_set(id, "FormatQuality", "+3");
    qxtp_profile_set(id, "ProfileEnableMrfCrf444", "1");
    qxtp_profile_set(id, "HardwareAccelerationEnabled", "True");
    qxtp_profile_set(id, "AlwaysReencode", "2");
    qxtp_profile_set(id, "AudioBitrate", "fast");
    qxtp_profile_set(id, "VideoWidth", " 0640");
    const std::string json = qxtp_profile_to_json(id);
    EXPECT_NE(json.find("\"FormatCreator\":\"hevc\",\"FormatQuality\":3,"
                        "\"ProfileEnableMrfCrf444\":true,\"HardwareAccelerationEnabled\":true,"
                        "\"AlwaysReencode\":false,\"AudioBitrate\":\"fast\","),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"VideoWidth\":\" 0640\","), std::string::npos) << json;
    EXPECT_NE(json.find("\"FileType\":\".mp4\"}"), std::string::npos) << json;

    // And back: numbers and bools come in as their canonical texts.
    const int32_t back = qxtp_profile_from_json(json.c_str());
    ASSERT_GE(back, 0);
    EXPECT_STREQ(qxtp_profile_get(back, "FormatQuality"), "3");
    EXPECT_STREQ(qxtp_profile_get(back, "ProfileEnableMrfCrf444"), "true");
    EXPECT_STREQ(qxtp_profile_get(back, "AlwaysReencode"), "false");
    EXPECT_STREQ(qxtp_profile_get(back, "AudioBitrate"), "fast");
}

TEST_F(Json, OnlyWhatJsonRequiresIsEscaped) {
    const int32_t id = qxtp_profile_create("\"\\\b\t\n\f\r\x01\x1F\x7F/\xC3\xA9\xE2\x82\xAC");
    const std::string json = qxtp_profile_to_json(id);
    const std::string expected =
        "{\"ProfileName\":\"\\\"\\\\\\b\\t\\n\\f\\r\\u0001\\u001F\x7F/\xC3\xA9\xE2\x82\xAC\",";
    EXPECT_EQ(json.substr(0, expected.size()), expected);
    const int32_t back = qxtp_profile_from_json(json.c_str());
    ASSERT_GE(back, 0);
    EXPECT_EQ(field_texts(back), field_texts(id));
}

TEST_F(Json, TextsThatAreNotUtf8CannotBeExported) {
    const int32_t id = qxtp_profile_create("before");
    const char *json = qxtp_profile_to_json(id);
    ASSERT_NE(json, nullptr);
    const std::string before = json;
    for (const char *bad :
         {"\xFF", "\xC3", "a\xC3(", "\xED\xA0\x80" /* surrogate */, "\xC0\xAF" /* overlong */}) {
        for (const char *field : {"ProfileName", "AudioBitrate"}) {
            SCOPED_TRACE(field);
            qxtp_profile_set(id, "ProfileName", "before");
            qxtp_profile_set(id, "AudioBitrate", nullptr);
            qxtp_profile_set(id, field, bad);
            EXPECT_EQ(qxtp_profile_to_json(id), nullptr);
            EXPECT_STREQ(qxtp_last_error(), "ERR_OOM");
            EXPECT_EQ(std::string(json), before); // the earlier export stays
        }
    }
}

// Every text field full of control characters, each written as a six-byte escape: the export
// is far longer than 4 KiB and still comes out whole.
TEST_F(Json, LargestExportComesOutWhole) {
    const int32_t id = qxtp_profile_create(nullptr);
    size_t expected = 2 + 17; // braces, and commas between the 18 members
    for (uint32_t i = 0; i < 17; ++i) {
        const std::string name = qxtp_profile_field_name(i);
        const std::string type = qxtp_profile_field_type(i);
        expected += name.size() + 3;
        if (type == "int") {
            qxtp_profile_set(id, name.c_str(), "-99999999999");
            expected += 11; // -2147483648
        } else if (type == "bool") {
            expected += 5; // false
        } else {
            const char control = static_cast<char>(0x0E + i); // each one needs \u00XX
            qxtp_profile_set(id, name.c_str(), std::string(127, control).c_str());
            expected += 2 + 127 * 6;
        }
    }
    expected += std::strlen("FileType") + 3 + 2; // the creator is no token: ""
    const char *json = qxtp_profile_to_json(id);
    ASSERT_NE(json, nullptr);
    EXPECT_EQ(std::strlen(json), expected);
    EXPECT_GT(std::strlen(json), 4095u);
    EXPECT_EQ(std::string(json).substr(std::strlen(json) - 14), "\"FileType\":\"\"}");
    const int32_t back = qxtp_profile_from_json(json);
    ASSERT_GE(back, 0) << qxtp_last_error();
    EXPECT_EQ(field_texts(back)[0], field_texts(id)[0]);
    std::vector<std::string> expected_texts = field_texts(id);
    expected_texts[2] = "-2147483648"; // FormatQuality comes back as the saturated number
    EXPECT_EQ(field_texts(back), expected_texts);
}

using Texts = std::vector<std::pair<const char *, std::string>>;

TEST_F(Json, ImportEveryKindOfValue) {
    const std::string a200(200, 'a'), a126(126, 'a');
    const struct {
        const char *what;
        std::string json;
        Texts texts;
        std::vector<std::string> warnings;
        Texts invalid = {}; // fields stored with flag 0
    } cases[] = {
        {"empty object", "{}", {{"FormatQuality", "0"}, {"AlwaysReencode", "false"}}, {}},
        {"numbers and numeric strings",
         R"({"AudioBitrate":128000,"VideoWidth":"1920","AlwaysReencode":true,"FormatQuality":"5"})",
         {{"AudioBitrate", "128000"},
          {"VideoWidth", "1920"},
          {"AlwaysReencode", "true"},
          {"FormatQuality", "5"}},
         {}},
        {"real", R"({"AudioBitrate":128000.0})", {{"AudioBitrate", ""}}, {}},
        {"exponent",
         R"({"AudioBitrate":1e5,"FormatQuality":1E0})",
         {{"AudioBitrate", ""}, {"FormatQuality", "0"}},
         {}},
        {"first occurrence decides, even when ignored",
         R"({"AudioBitrate":1.5,"AudioBitrate":"128"})",
         {{"AudioBitrate", ""}},
         {}},
        {"first occurrence decides",
         R"({"AudioBitrate":"1","AudioBitrate":"2"})",
         {{"AudioBitrate", "1"}},
         {}},
        {"null first", R"({"VideoHeight":null,"VideoHeight":"720"})", {{"VideoHeight", ""}}, {}},
        {"largest unsigned",
         R"({"VideoBitrate":18446744073709551615})",
         {{"VideoBitrate", "18446744073709551615"}},
         {}},
        {"below the signed range",
         R"({"AudioBitrate":-10000000000000000000})",
         {{"AudioBitrate", ""}},
         {}},
        {"above the unsigned range",
         R"({"AudioBitrate":18446744073709551616})",
         {{"AudioBitrate", ""}},
         {}},
        {"smallest signed",
         R"({"FormatQuality":-9223372036854775808})",
         {{"FormatQuality", "-9223372036854775808"}},
         {}},
        {"negative into unsigned",
         R"({"AudioBitrate":-5})",
         {{"AudioBitrate", "-5"}},
         {"ERR_FIELD_INVALID:AudioBitrate"},
         {{"AudioBitrate", ""}}},
        {"minus zero",
         R"({"FormatQuality":-0,"VideoWidth":-0})",
         {{"FormatQuality", "0"}, {"VideoWidth", "0"}},
         {}},
        {"rejected uint text",
         R"({"AudioBitrate":"fast"})",
         {{"AudioBitrate", "fast"}},
         {"ERR_FIELD_INVALID:AudioBitrate"},
         {{"AudioBitrate", ""}}},
        {"bool as 1", R"({"AlwaysReencode":1})", {{"AlwaysReencode", "1"}}, {}},
        {"bool as 2",
         R"({"AlwaysReencode":2})",
         {{"AlwaysReencode", "2"}},
         {},
         {{"AlwaysReencode", ""}}},
        {"bool into a string",
         R"({"ProfileName":true,"FormatCreator":false})",
         {{"ProfileName", "true"}, {"FormatCreator", "false"}},
         {}},
        {"number into int", R"({"FormatQuality":-12})", {{"FormatQuality", "-12"}}, {}},
        {"nested values",
         R"({"ProfileName":{"ProfileName":"x"},"VideoWidth":[1920]})",
         {{"ProfileName", ""}, {"VideoWidth", ""}},
         {}},
        {"warnings in table order",
         R"({"VideoWidth":"w","AudioBitrate":"a","VideoPixelAspectRatioDenominator":"d"})",
         {{"VideoWidth", "w"}, {"AudioBitrate", "a"}},
         {"ERR_FIELD_INVALID:AudioBitrate", "ERR_FIELD_INVALID:VideoWidth",
          "ERR_FIELD_INVALID:VideoPixelAspectRatioDenominator"},
         {{"AudioBitrate", ""}, {"VideoWidth", ""}, {"VideoPixelAspectRatioDenominator", ""}}},
        {"string ends at NUL", R"({"ProfileName":"ab\u0000cd"})", {{"ProfileName", "ab"}}, {}},
        {"escapes",
         R"({"ProfileName":"\u00e9\ud83c\udfb5\/\t"})",
         {{"ProfileName", "\xC3\xA9\xF0\x9F\x8E\xB5/\t"}},
         {}},
        {"long string cut",
         "{\"ProfileName\":\"" + a200 + "\"}",
         {{"ProfileName", a200.substr(0, 127)}},
         {}},
        {"long string cut before a character",
         "{\"ProfileName\":\"" + a126 + "\\u00e9\"}",
         {{"ProfileName", a126}},
         {}},
        {"keys compared exactly",
         R"({"audiobitrate":"1","AudioBitrate ":"2","AudioBitrate\u0000":"3","Audio":"4"})",
         {{"AudioBitrate", ""}},
         {}},
        {"FileType ignored",
         R"({"FileType":".exe","FormatCreator":"mkv"})",
         {{"FormatCreator", "mkv"}},
         {}},
        {"other members ignored",
         R"({"x":{"AudioBitrate":"1"},"y":[],"z":null})",
         {{"AudioBitrate", ""}},
         {}},
        {"white space around", " \t\r\n{ \"VideoWidth\" : \"1\" }\n ", {{"VideoWidth", "1"}}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        qx_clear_warnings();
        qxtp_profile_destroy(64);
        const int32_t id = qxtp_profile_from_json(c.json.c_str());
        ASSERT_EQ(id, 0) << qxtp_last_error();
        EXPECT_STREQ(qxtp_last_error(), "OK");
        for (const auto &t : c.texts) {
            SCOPED_TRACE(t.first);
            EXPECT_EQ(std::string(qxtp_profile_get(id, t.first)), t.second);
        }
        for (const std::string &name : field_names()) {
            bool invalid = false;
            for (const auto &t : c.invalid)
                invalid |= name == t.first;
            EXPECT_EQ(qxtp_profile_field_valid(id, name.c_str()), invalid ? 0 : 1) << name;
        }
        EXPECT_EQ(warnings(), c.warnings);
        qxtp_profile_destroy(id);
    }
}

TEST_F(Json, ImportedNumbersKeepTheirMeaning) {
    const int32_t id = qxtp_profile_from_json(
        R"({"VideoBitrate":18446744073709551615,"FormatQuality":-9223372036854775808,)"
        R"("AlwaysReencode":1})");
    ASSERT_GE(id, 0);
    EXPECT_EQ(qxtp_profile_parsed_uint(id, "VideoBitrate"), 4294967295u);
    EXPECT_EQ(qxtp_profile_field_valid(id, "VideoBitrate"), 1);
    const std::string json = qxtp_profile_to_json(id);
    EXPECT_NE(json.find("\"FormatQuality\":-2147483648,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"AlwaysReencode\":true,"), std::string::npos) << json;
}

TEST_F(Json, UnreadableJsonIsRejected) {
    const char *const cases[] = {
        "",
        " ",
        "{",
        "[1,2]",
        "null",
        "\"text\"",
        "12",
        "true",
        "\xEF\xBB\xBF{}", // byte-order mark
        "{} x",           // trailing garbage
        "{}{}",
        "{\"ProfileName\":\"\xFF\"}", // invalid UTF-8 in a string
        "{\"\xC3\":1}",               // and in a key
        "{\"a\":1,}",                 // trailing comma
        "{'a':1}",
        "/* c */{}",
        "{} // c",
        "{\"a\":NaN}",
        "{\"a\":Infinity}",
        "{\"a\":01}",
        "{\"a\":\"\t\"}", // raw control character in a string
        "{\"a\":\"\\x\"}",
        "{\"a\" 1}",
    };
    for (const char *json : cases) {
        SCOPED_TRACE(json);
        qxtp_profile_destroy(qxtp_profile_create(nullptr));
        EXPECT_EQ(qxtp_profile_from_json(json), -QX_ERR_INVALID_ARG);
        EXPECT_STREQ(qxtp_last_error(), "ERR_INVALID_ARG");
    }
    EXPECT_EQ(qxtp_profile_from_json(nullptr), -QX_ERR_INVALID_ARG);
    EXPECT_STREQ(qxtp_last_error(), "ERR_INVALID_ARG");
    EXPECT_EQ(qxtp_profile_create(nullptr), 0); // no failed import left a profile behind
    EXPECT_EQ(qx_warning_count(), 0);
}

TEST_F(Json, FullStore) {
    for (int32_t i = 0; i < 64; ++i)
        ASSERT_EQ(qxtp_profile_create(nullptr), i);
    EXPECT_EQ(qxtp_profile_from_json("{}"), -QX_ERR_OOM);
    EXPECT_STREQ(qxtp_last_error(), "ERR_OOM");
    EXPECT_EQ(qxtp_profile_from_json("{\"AudioBitrate\":\"fast\"}"), -QX_ERR_OOM);
    EXPECT_EQ(qx_warning_count(), 0);                                // nothing was set
    EXPECT_EQ(qxtp_profile_from_json("[1,2]"), -QX_ERR_INVALID_ARG); // read before a slot
    EXPECT_STREQ(qxtp_last_error(), "ERR_INVALID_ARG");
}

// The import's text may be the export buffer of a profile, even of a destroyed one whose slot
// the import takes.
TEST_F(Json, ImportFromLibraryStorage) {
    const int32_t id = qxtp_profile_create("Copy me");
    qxtp_profile_set(id, "FormatCreator", "ts");
    const char *json = qxtp_profile_to_json(id);
    const int32_t copy = qxtp_profile_from_json(json);
    ASSERT_EQ(copy, id + 1);
    EXPECT_EQ(field_texts(copy), field_texts(id));
    const std::vector<std::string> texts = field_texts(id);
    qxtp_profile_destroy(id);
    EXPECT_EQ(qxtp_profile_from_json(json), id);
    EXPECT_EQ(field_texts(id), texts);
    EXPECT_STREQ(qxtp_profile_file_type(id), ".ts");
}

// Random valid UTF-8 of up to 127 bytes, control characters and all planes included.
std::string random_text(std::mt19937 &rng) {
    std::string text;
    const size_t target = std::uniform_int_distribution<size_t>(0, 127)(rng);
    while (true) {
        uint32_t cp = 0;
        switch (std::uniform_int_distribution<int>(0, 4)(rng)) {
        case 0:
            cp = std::uniform_int_distribution<uint32_t>(1, 0x1F)(rng);
            break;
        case 1:
            cp = std::uniform_int_distribution<uint32_t>(0x20, 0x7F)(rng);
            break;
        case 2:
            cp = std::uniform_int_distribution<uint32_t>(0x80, 0x7FF)(rng);
            break;
        case 3:
            cp = std::uniform_int_distribution<uint32_t>(0xE000, 0xFFFD)(rng);
            break;
        default:
            cp = std::uniform_int_distribution<uint32_t>(0x10000, 0x10FFFF)(rng);
            break;
        }
        std::string ch;
        if (cp < 0x80) {
            ch = static_cast<char>(cp);
        } else if (cp < 0x800) {
            ch = {static_cast<char>(0xC0 | cp >> 6), static_cast<char>(0x80 | (cp & 0x3F))};
        } else if (cp < 0x10000) {
            ch = {static_cast<char>(0xE0 | cp >> 12), static_cast<char>(0x80 | (cp >> 6 & 0x3F)),
                  static_cast<char>(0x80 | (cp & 0x3F))};
        } else {
            ch = {static_cast<char>(0xF0 | cp >> 18), static_cast<char>(0x80 | (cp >> 12 & 0x3F)),
                  static_cast<char>(0x80 | (cp >> 6 & 0x3F)),
                  static_cast<char>(0x80 | (cp & 0x3F))};
        }
        if (text.size() + ch.size() > target)
            return text;
        text += ch;
    }
}

// Texts that export and import to themselves: FormatQuality as a plain number, bools as
// "true"/"false"; the string and uint_string fields hold anything, valid or not.
TEST_F(Json, RandomProfilesRoundTrip) {
    std::mt19937 rng(20240611);
    const char *const tokens[] = {"", "hevc", "mp4", "mkv", "ts", "webm", "MP4", "mpegts_x"};
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        qx_clear_warnings();
        const int32_t id = qxtp_profile_create(nullptr);
        for (uint32_t i = 0; i < 17; ++i) {
            const std::string type = qxtp_profile_field_type(i);
            std::string text;
            if (type == "int") {
                text = std::to_string(static_cast<int32_t>(rng()));
            } else if (type == "bool") {
                text = rng() % 2 ? "true" : "false";
            } else if (i == 1 && rng() % 2) {
                text = tokens[rng() % std::size(tokens)];
            } else if (type == "uint_string" && rng() % 2) {
                text = std::to_string(rng());
            } else {
                text = random_text(rng);
            }
            qxtp_profile_set(id, qxtp_profile_field_name(i), text.c_str());
        }
        const char *exported = qxtp_profile_to_json(id);
        ASSERT_NE(exported, nullptr) << qxtp_last_error();
        const std::string json = exported;
        const int32_t back = qxtp_profile_from_json(json.c_str());
        ASSERT_GE(back, 0) << qxtp_last_error() << "\n" << json;
        EXPECT_EQ(field_texts(back), field_texts(id));
        for (const std::string &name : field_names())
            EXPECT_EQ(qxtp_profile_field_valid(back, name.c_str()),
                      qxtp_profile_field_valid(id, name.c_str()))
                << name;
        EXPECT_STREQ(qxtp_profile_file_type(back), qxtp_profile_file_type(id));
        EXPECT_STREQ(qxtp_profile_to_json(back), json.c_str());
        qxtp_profile_destroy(id);
        qxtp_profile_destroy(back);
    }
}

// Files of the JSON parsing test suite: n_ texts are never imported; y_ texts are imported
// exactly when their root is an object; i_ texts only must not crash. A file with a NUL byte
// is read, as a host would pass it, up to that byte.
TEST_F(Json, ParsingTestSuite) {
    namespace fs = std::filesystem;
    const fs::path dir = QX_JSON_SUITE_DIR;
    if (!fs::is_directory(dir))
        GTEST_SKIP() << dir << " is not there";
    int files = 0;
    for (const fs::directory_entry &entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".json" || name.size() < 2 || name[1] != '_')
            continue;
        SCOPED_TRACE(name);
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        const std::string text = bytes.str();
        const int32_t id = qxtp_profile_from_json(text.c_str());
        const size_t start =
            std::strlen(text.c_str()) == 0 ? std::string::npos : text.find_first_not_of(" \t\r\n");
        const bool object = start != std::string::npos && text[start] == '{';
        if (name[0] == 'n')
            EXPECT_EQ(id, -QX_ERR_INVALID_ARG);
        if (name[0] == 'y')
            EXPECT_EQ(id >= 0, object) << id;
        if (id >= 0) {
            EXPECT_NE(qxtp_profile_to_json(id), nullptr);
            qxtp_profile_destroy(id);
        }
        ++files;
    }
    EXPECT_GT(files, 300);
}

// The yyjson the library runs with is the one its code was compiled against.
TEST(JsonLibrary, LinkedVersionMatchesHeader) {
    std::string path;
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *found) {
            const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            if (name.find("libyyjson") != std::string::npos)
                *static_cast<std::string *>(found) = name;
            return 0;
        },
        &path);
    ASSERT_FALSE(path.empty()) << "libyyjson is not loaded with the library";
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    using version_fn = uint32_t (*)();
    const auto version = reinterpret_cast<version_fn>(dlsym(handle, "yyjson_version"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), static_cast<uint32_t>(YYJSON_VERSION_HEX));
    EXPECT_GE(version(), 0x000C00u);
    dlclose(handle);
}

} // namespace
