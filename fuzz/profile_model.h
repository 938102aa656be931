// What the two profile fuzz targets expect of the store, written independently of the library
// from its documented rules: the field table, the value rules, the file type, the argument
// fragment, what an import stores and what an export must look like. The targets compare the
// library with these after every call; QX_CHECK aborts on the first difference.
#ifndef QX_FUZZ_PROFILE_MODEL_H
#define QX_FUZZ_PROFILE_MODEL_H

#include "fuzz_input.h"
#include "qxtp.h"

#include <yyjson.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace model {

enum kind { k_string, k_int, k_bool, k_uint };

constexpr int k_fields = 17;
constexpr const char *k_names[k_fields] = {
    "ProfileName",
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
    "VideoPixelAspectRatioDenominator",
};
constexpr kind k_kinds[k_fields] = {k_string, k_string, k_int,  k_bool, k_bool, k_bool,
                                    k_uint,   k_uint,   k_uint, k_uint, k_uint, k_uint,
                                    k_uint,   k_uint,   k_uint, k_uint, k_uint};

using texts = std::string[k_fields];

inline bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// MARK: value rules

inline bool parse_bool(const char *t, int *out) {
    for (const char *yes : {"true", "1", "True"})
        if (std::strcmp(t, yes) == 0)
            return (*out = 1), true;
    for (const char *no : {"false", "0", "False"})
        if (std::strcmp(t, no) == 0)
            return (*out = 0), true;
    return false;
}

inline bool parse_uint(const char *t, uint32_t *out) {
    while (is_space(*t))
        ++t;
    if (!is_digit(*t))
        return false; // nothing left, a sign, or no digit
    uint64_t v = 0;
    for (; is_digit(*t); ++t)
        v = v > 4294967295u ? v : v * 10 + static_cast<uint64_t>(*t - '0');
    if (*t != '\0')
        return false;
    *out = v > 4294967295u ? 4294967295u : static_cast<uint32_t>(v);
    return true;
}

// A whole-text base-10 signed number, saturated to the 32-bit range.
inline bool parse_int(const char *t, int32_t *out) {
    while (is_space(*t))
        ++t;
    const bool negative = *t == '-';
    if (*t == '+' || *t == '-')
        ++t;
    if (!is_digit(*t))
        return false;
    int64_t v = 0;
    for (; is_digit(*t); ++t)
        v = v > 4294967296 ? v : v * 10 + (*t - '0');
    if (*t != '\0')
        return false;
    if (negative)
        v = -v;
    *out = v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
    return true;
}

inline bool valid(int field, const char *t) {
    if (*t == '\0')
        return true;
    int b;
    uint32_t u;
    int32_t i;
    switch (k_kinds[field]) {
    case k_int:
        return parse_int(t, &i);
    case k_bool:
        return parse_bool(t, &b);
    case k_uint:
        return parse_uint(t, &u);
    default:
        return true;
    }
}

inline uint32_t parsed_uint(int field, const char *t) {
    uint32_t u = 0;
    return field >= 0 && k_kinds[field] == k_uint && parse_uint(t, &u) ? u : 0;
}

inline int field_index(const char *name) {
    if (name == nullptr)
        return -1;
    for (int f = 0; f < k_fields; ++f)
        if (std::strcmp(name, k_names[f]) == 0)
            return f;
    return -1;
}

// MARK: texts

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
inline bool utf8_valid(const char *text) {
    const auto *s = reinterpret_cast<const unsigned char *>(text);
    while (*s) {
        const unsigned c = *s;
        int n;
        unsigned lo = 0x80, hi = 0xBF;
        if (c < 0x80)
            n = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            n = 1;
        else if (c == 0xE0)
            n = 2, lo = 0xA0;
        else if (c == 0xED)
            n = 2, hi = 0x9F;
        else if (c >= 0xE1 && c <= 0xEF)
            n = 2;
        else if (c == 0xF0)
            n = 3, lo = 0x90;
        else if (c == 0xF4)
            n = 3, hi = 0x8F;
        else if (c >= 0xF1 && c <= 0xF3)
            n = 3;
        else
            return false;
        ++s;
        for (int k = 0; k < n; ++k, ++s) {
            const unsigned b = *s;
            if (b < (k == 0 ? lo : 0x80) || b > (k == 0 ? hi : 0xBF))
                return false;
        }
    }
    return true;
}

// A text stored into a buffer of cap bytes from src: the whole of src when it fits, else a
// prefix of at most cap - 1 bytes that stops at most three bytes short of the bound, and, when
// src is well-formed UTF-8, never inside a character.
inline void check_cut(const std::string &stored, const std::string &src, size_t cap) {
    if (src.size() < cap) {
        QX_CHECK(stored == src);
        return;
    }
    QX_CHECK(stored.size() <= cap - 1 && stored.size() + 4 >= cap - 1);
    QX_CHECK(src.compare(0, stored.size(), stored) == 0);
    if (utf8_valid(src.c_str())) {
        QX_CHECK(utf8_valid(stored.c_str()));
        const unsigned char next = static_cast<unsigned char>(src[stored.size()]);
        QX_CHECK((next & 0xC0u) != 0x80u); // the cut is at a character boundary
        const size_t width = next < 0x80 ? 1 : next < 0xE0 ? 2 : next < 0xF0 ? 3 : 4;
        QX_CHECK(stored.size() + width > cap - 1); // and keeps every character that fits
    }
}

inline std::string text_of(const char *p) { return p != nullptr ? std::string(p) : std::string(); }

// MARK: derived texts

inline bool is_token(const std::string &t) {
    if (t.empty())
        return false;
    for (char c : t)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c) || c == '_'))
            return false;
    return true;
}

inline std::string file_type(const std::string &creator) {
    if (creator == "hevc")
        return ".mp4";
    if (!is_token(creator))
        return "";
    return "." + creator.substr(0, 14);
}

inline std::string args(const texts &v) {
    static const char *const clauses[][2] = {
        {"hevc", "-c:v libx265 "},   {"mp4", "-c:v libx264 "}, {"h264", "-c:v libx264 "},
        {"mp3", "-c:a libmp3lame "}, {"aac", "-c:a aac "},     {"mkv", "-f matroska "},
        {"ts", "-f mpegts "},        {"m4a", "-f ipod "},      {"mpg", "-f mpeg "},
        {"wmv", "-f asf "},
    };
    std::string out;
    const std::string &creator = v[1];
    bool known = false;
    for (const auto &c : clauses)
        if (creator == c[0])
            out = c[1], known = true;
    if (!known && is_token(creator))
        out = "-f " + creator + " ";
    auto u = [&](int f) { return parsed_uint(f, v[f].c_str()); };
    auto add = [&](const char *fmt, uint32_t a, uint32_t b = 0) {
        char buf[64];
        std::snprintf(buf, sizeof buf, fmt, a, b);
        out += buf;
    };
    if (u(6))
        add("-b:a %u ", u(6));
    if (u(8))
        add("-ac %u ", u(8));
    if (u(9))
        add("-ar %u ", u(9));
    if (u(7))
        add("-sample_fmt s%u ", u(7));
    if (u(12))
        add("-b:v %u ", u(12));
    if (u(10) && u(11))
        add("-s %ux%u ", u(10), u(11));
    if (u(13) && u(14))
        add("-r %u/%u ", u(13), u(14));
    return out;
}

// MARK: JSON

// What an import of json stores: false when it must fail with "ERR_INVALID_ARG"; else, per
// field, whether a member sets it and the text handed to the setter (before the setter's cut).
struct import_plan {
    bool ok = false;
    bool set[k_fields] = {};
    std::string text[k_fields];
};

inline import_plan plan_import(const char *json) {
    import_plan plan;
    yyjson_doc *doc = yyjson_read(json, std::strlen(json), 0);
    if (doc == nullptr)
        return plan;
    yyjson_val *root = yyjson_doc_get_root(doc);
    if (yyjson_is_obj(root)) {
        plan.ok = true;
        for (int f = 0; f < k_fields; ++f) {
            yyjson_val *value = nullptr; // the first member with exactly this key
            yyjson_obj_iter it = yyjson_obj_iter_with(root);
            while (yyjson_val *key = yyjson_obj_iter_next(&it)) {
                if (yyjson_get_len(key) == std::strlen(k_names[f]) &&
                    std::memcmp(yyjson_get_str(key), k_names[f], yyjson_get_len(key)) == 0) {
                    value = yyjson_obj_iter_get_val(key);
                    break;
                }
            }
            char buf[64];
            if (yyjson_is_str(value)) {
                plan.text[f] = yyjson_get_str(value); // up to a first NUL
            } else if (yyjson_is_bool(value)) {
                plan.text[f] = yyjson_get_bool(value) ? "true" : "false";
            } else if (yyjson_is_uint(value)) {
                std::snprintf(buf, sizeof buf, "%llu", (unsigned long long)yyjson_get_uint(value));
                plan.text[f] = buf;
            } else if (yyjson_is_sint(value)) {
                std::snprintf(buf, sizeof buf, "%lld", (long long)yyjson_get_sint(value));
                plan.text[f] = buf;
            } else {
                continue;
            }
            plan.set[f] = true;
        }
    }
    yyjson_doc_free(doc);
    return plan;
}

// Checks an export of a profile whose stored texts are v: null only with "ERR_OOM" and a text
// written as a string that is not well-formed UTF-8; otherwise strict JSON holding the
// seventeen fields in table order and FileType, each with the type and value it must have.
// Returns the export, or "" when it failed.
inline std::string check_export(int32_t id, const texts &v) {
    const char *out = qxtp_profile_to_json(id);
    bool all_utf8 = utf8_valid(file_type(v[1]).c_str()); // of the texts written as strings
    for (int f = 0; f < k_fields; ++f)
        if (k_kinds[f] == k_string || k_kinds[f] == k_uint)
            all_utf8 = all_utf8 && utf8_valid(v[f].c_str());
    if (out == nullptr) {
        QX_CHECK(std::strcmp(qxtp_last_error(), "ERR_OOM") == 0);
        QX_CHECK(!all_utf8);
        return "";
    }
    QX_CHECK(std::strcmp(qxtp_last_error(), "OK") == 0);
    const std::string text = out;
    yyjson_doc *doc = yyjson_read(text.data(), text.size(), 0);
    QX_CHECK(doc != nullptr); // an export is always JSON, never cut
    yyjson_val *root = yyjson_doc_get_root(doc);
    QX_CHECK(yyjson_is_obj(root));
    QX_CHECK(yyjson_obj_size(root) == k_fields + 1);
    yyjson_obj_iter it = yyjson_obj_iter_with(root);
    for (int f = 0; f <= k_fields; ++f) {
        yyjson_val *key = yyjson_obj_iter_next(&it);
        yyjson_val *val = yyjson_obj_iter_get_val(key);
        if (f == k_fields) {
            QX_CHECK(yyjson_equals_str(key, "FileType"));
            QX_CHECK(yyjson_is_str(val) && file_type(v[1]) == yyjson_get_str(val));
            break;
        }
        QX_CHECK(yyjson_equals_str(key, k_names[f]));
        const char *t = v[f].c_str();
        switch (k_kinds[f]) {
        case k_int: {
            int32_t n = 0;
            parse_int(t, &n);
            QX_CHECK(yyjson_is_int(val) && yyjson_get_sint(val) == n);
            break;
        }
        case k_bool: {
            int b = 0;
            parse_bool(t, &b);
            QX_CHECK(yyjson_is_bool(val) && yyjson_get_bool(val) == (b == 1));
            break;
        }
        default:
            QX_CHECK(yyjson_is_str(val) && yyjson_get_len(val) == v[f].size() &&
                     std::memcmp(yyjson_get_str(val), t, v[f].size()) == 0);
        }
    }
    yyjson_doc_free(doc);
    QX_CHECK(all_utf8); // a text the writer should have refused came out as JSON
    return text;
}

// The texts a re-import of an export of v stores: strings as they are, the number of
// FormatQuality in decimal, the bools as "true" or "false".
inline void reimported(const texts &v, texts &out) {
    for (int f = 0; f < k_fields; ++f) {
        out[f] = v[f];
        if (k_kinds[f] == k_int) {
            int32_t n = 0;
            parse_int(v[f].c_str(), &n);
            out[f] = std::to_string(n);
        } else if (k_kinds[f] == k_bool) {
            int b = 0;
            parse_bool(v[f].c_str(), &b);
            out[f] = b == 1 ? "true" : "false";
        }
    }
}

} // namespace model

#endif // QX_FUZZ_PROFILE_MODEL_H
