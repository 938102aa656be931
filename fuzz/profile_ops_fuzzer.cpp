// Profile operations fuzz target: the input is a sequence of store calls (create, destroy, set,
// get, field_valid, parsed_uint, validate, file_type, args, export, import, field table) with
// arbitrary ids (negative and above 63 included), field names (known, unknown, wrong case,
// null) and values (null, arbitrary bytes longer than a field, texts the library itself
// returned, its own field text included). A shadow store follows every call: which slots are
// in use and what each field holds; every result, status, last-error text and warning is
// checked against it.
#include "profile_model.h"

#include <vector>

namespace {

using model::k_fields;
using model::k_names;

struct shadow_slot {
    bool in_use = false;
    model::texts value;
};

shadow_slot g_shadow[64];

constexpr const char *k_values[] = {
    "0",           "-3",           "+3",       " 7",           "3.5",
    "99999999999", "-99999999999", "128000",   " 44100",       "44100 ",
    "007",         "true",         "True",     "TRUE",         "1",
    "false",       "False",        "yes",      "hevc",         "mp4",
    "h264",        "mp3",          "aac",      "mkv",          "ts",
    "m4a",         "mpg",          "wmv",      "MP4",          "a b",
    "-f x; rm",    "\xc3\xa9",     "\xff\xfe", "\xed\xa0\x80", "x\"\\\n\t",
    "1920",        "1080",         "30000",    "1001",         "16",
    "2",
};

// Ids: mostly 0..65 (64 and 65 are out of range), sometimes far outside.
int32_t read_id(fuzz_input &in) {
    const uint8_t sel = in.u8();
    if (sel < 198)
        return sel % 66;
    constexpr int32_t odd[] = {-1, -64, INT32_MIN, INT32_MAX, 1000, 64, 63, 127};
    return odd[sel % 8];
}

// Field names: a copy of a known name, the library's own constant, null, unknown or wrong case.
const char *read_field(fuzz_input &in, char (&buf)[256]) {
    const uint8_t sel = in.u8() % 24;
    if (sel < k_fields) {
        std::snprintf(buf, sizeof buf, "%s", k_names[sel]);
        return buf;
    }
    switch (sel) {
    case 17:
        return qxtp_profile_field_name(in.u8() % 18); // 17 gives null
    case 18:
        return nullptr;
    case 19:
        return "Bitrate";
    case 20:
        return "profilename";
    case 21:
        return "";
    case 22:
        return "FileType";
    default:
        in.text(buf);
        return buf;
    }
}

const char *g_kept = nullptr; // a text handed out earlier in this input; its slot may be free now

// A text the library handed out: fetched just now (a field of some profile, a file type, an
// argument fragment, an export, a last-error text or a warning; null when the call fails), or
// one kept from earlier, whose storage may since have been reused.
const char *library_text(fuzz_input &in) {
    const int32_t id = read_id(in);
    const char *t = nullptr;
    switch (in.u8() % 7) {
    case 0:
        t = qxtp_profile_get(id, k_names[in.u8() % k_fields]);
        break;
    case 1:
        t = qxtp_profile_file_type(id);
        break;
    case 2:
        t = qxtp_profile_to_ffmpeg_args(id);
        break;
    case 3:
        t = qxtp_profile_to_json(id);
        break;
    case 4:
        t = qxtp_last_error();
        break;
    case 5:
        t = qx_warning(in.u8() % 8);
        break;
    default:
        return g_kept;
    }
    if (t != nullptr)
        g_kept = t;
    return t;
}

const char *read_value(fuzz_input &in, char (&buf)[256]) {
    switch (in.u8() % 6) {
    case 0:
        return nullptr;
    case 1:
        return "";
    case 2:
        in.text(buf);
        return buf;
    case 3:
        return library_text(in);
    case 4: { // a long run of one byte, to hit the cut (a multi-byte character is split)
        static char run[300];
        const size_t n = 100 + in.u8() % 200;
        const char *unit = in.u8() % 2 ? "\xe2\x82\xac" : "9"; // a 3-byte character or a digit
        size_t i = 0;
        for (; i + std::strlen(unit) <= n; i += std::strlen(unit))
            std::memcpy(run + i, unit, std::strlen(unit));
        run[i] = '\0';
        return run;
    }
    default:
        return k_values[in.u8() % (sizeof k_values / sizeof k_values[0])];
    }
}

shadow_slot *shadow(int32_t id) {
    return id >= 0 && id < 64 && g_shadow[id].in_use ? &g_shadow[id] : nullptr;
}

void expect_no_profile() { QX_CHECK(std::strcmp(qxtp_last_error(), "ERR_NO_SUCH_PROFILE") == 0); }

void add_warning_expected(int32_t before, const std::string &text) {
    if (before == 64) {
        QX_CHECK(qx_warning_count() == 64);
    } else {
        QX_CHECK(qx_warning_count() == before + 1);
        QX_CHECK(text == qx_warning(before));
    }
}

int32_t lowest_free() {
    for (int32_t i = 0; i < 64; ++i)
        if (!g_shadow[i].in_use)
            return i;
    return -1;
}

void take_slot(int32_t id, const std::string &name) {
    shadow_slot &s = g_shadow[id];
    s.in_use = true;
    for (std::string &t : s.value)
        t.clear();
    s.value[0] = name;
    s.value[2] = "0";
    s.value[3] = s.value[4] = s.value[5] = "false";
}

// MARK: operations

void op_create(fuzz_input &in) {
    char buf[256];
    const char *name = read_value(in, buf);
    const std::string given = model::text_of(name);
    const int32_t want = lowest_free();
    const int32_t id = qxtp_profile_create(name);
    if (want < 0) {
        QX_CHECK(id == -QX_ERR_OOM);
        QX_CHECK(std::strcmp(qxtp_last_error(), "ERR_OOM") == 0);
        return;
    }
    QX_CHECK(id == want);
    QX_CHECK(std::strcmp(qxtp_last_error(), "OK") == 0);
    const std::string stored = qxtp_profile_get(id, "ProfileName");
    model::check_cut(stored, given, 128);
    take_slot(id, stored);
}

void op_destroy(fuzz_input &in) {
    const int32_t id = read_id(in);
    const int32_t status = qxtp_profile_destroy(id);
    if (shadow(id) == nullptr) {
        QX_CHECK(status == QX_ERR_NO_SUCH_PROFILE);
        expect_no_profile();
        return;
    }
    QX_CHECK(status == QX_OK);
    QX_CHECK(std::strcmp(qxtp_last_error(), "OK") == 0);
    g_shadow[id].in_use = false;
}

void op_set(fuzz_input &in) {
    const int32_t id = read_id(in);
    char fbuf[256], vbuf[256];
    const char *field = read_field(in, fbuf);
    const char *value = read_value(in, vbuf);
    const std::string given = model::text_of(value); // before the call: value may alias
    const int f = model::field_index(field);
    const int32_t warnings = qx_warning_count();
    const int32_t status = qxtp_profile_set(id, field, value);
    shadow_slot *s = shadow(id);
    if (s == nullptr) {
        QX_CHECK(status == QX_ERR_NO_SUCH_PROFILE);
        expect_no_profile();
        return;
    }
    if (f < 0) {
        QX_CHECK(status == QX_ERR_UNKNOWN_FIELD);
        QX_CHECK(std::strcmp(qxtp_last_error(), "ERR_UNKNOWN_FIELD") == 0);
        QX_CHECK(qx_warning_count() == warnings);
        return;
    }
    const std::string stored = qxtp_profile_get(id, k_names[f]);
    model::check_cut(stored, given, 128);
    s->value[f] = stored;
    if (model::k_kinds[f] == model::k_uint && !model::valid(f, stored.c_str())) {
        const std::string error = std::string("ERR_FIELD_INVALID:") + k_names[f];
        QX_CHECK(status == QX_ERR_FIELD_INVALID);
        QX_CHECK(error == qxtp_last_error());
        add_warning_expected(warnings, error);
    } else {
        QX_CHECK(status == QX_OK);
        QX_CHECK(std::strcmp(qxtp_last_error(), "OK") == 0);
        QX_CHECK(qx_warning_count() == warnings);
    }
}

void op_read(fuzz_input &in, uint8_t which) {
    const int32_t id = read_id(in);
    char fbuf[256];
    const char *field = read_field(in, fbuf);
    const int f = model::field_index(field);
    const std::string error_before = qxtp_last_error();
    shadow_slot *s = shadow(id);
    if (which == 0) {
        const char *t = qxtp_profile_get(id, field);
        if (s == nullptr || f < 0) {
            QX_CHECK(t == nullptr);
            QX_CHECK(std::strcmp(qxtp_last_error(),
                                 s ? "ERR_UNKNOWN_FIELD" : "ERR_NO_SUCH_PROFILE") == 0);
            return;
        }
        QX_CHECK(t != nullptr && std::strlen(t) <= 127 && s->value[f] == t);
        QX_CHECK(error_before == qxtp_last_error());
    } else if (which == 1) {
        const int32_t flag = qxtp_profile_field_valid(id, field);
        if (s == nullptr || f < 0) {
            QX_CHECK(flag == 0);
            QX_CHECK(std::strcmp(qxtp_last_error(),
                                 s ? "ERR_UNKNOWN_FIELD" : "ERR_NO_SUCH_PROFILE") == 0);
            return;
        }
        QX_CHECK(flag == (model::valid(f, s->value[f].c_str()) ? 1 : 0));
        QX_CHECK(error_before == qxtp_last_error());
    } else {
        const uint32_t u = qxtp_profile_parsed_uint(id, field);
        QX_CHECK(u == (s && f >= 0 ? model::parsed_uint(f, s->value[f].c_str()) : 0));
        QX_CHECK(error_before == qxtp_last_error());
    }
}

void op_validate(fuzz_input &in) {
    const int32_t id = read_id(in);
    const int32_t warnings = qx_warning_count();
    const int32_t status = qxtp_profile_validate(id);
    shadow_slot *s = shadow(id);
    if (s == nullptr) {
        QX_CHECK(status == QX_ERR_NO_SUCH_PROFILE);
        expect_no_profile();
        QX_CHECK(qx_warning_count() == warnings);
        return;
    }
    int32_t count = warnings;
    std::string first;
    for (int f = 0; f < k_fields; ++f) {
        if (model::valid(f, s->value[f].c_str()))
            continue;
        const std::string error = std::string("ERR_FIELD_INVALID:") + k_names[f];
        if (first.empty())
            first = error;
        if (count < 64)
            QX_CHECK(error == qx_warning(count++));
    }
    QX_CHECK(qx_warning_count() == count);
    QX_CHECK(status == (first.empty() ? QX_OK : QX_ERR_FIELD_INVALID));
    QX_CHECK((first.empty() ? std::string("OK") : first) == qxtp_last_error());
}

void op_derived(fuzz_input &in, uint8_t which) {
    const int32_t id = read_id(in);
    const std::string error_before = qxtp_last_error();
    shadow_slot *s = shadow(id);
    if (which == 0) {
        const char *t = qxtp_profile_file_type(id);
        if (s == nullptr) {
            QX_CHECK(t == nullptr);
            expect_no_profile();
            return;
        }
        QX_CHECK(t != nullptr && std::strlen(t) <= 15 && model::file_type(s->value[1]) == t);
        QX_CHECK(error_before == qxtp_last_error());
    } else if (which == 1) {
        const char *t = qxtp_profile_to_ffmpeg_args(id);
        if (s == nullptr) {
            QX_CHECK(t == nullptr);
            expect_no_profile();
            return;
        }
        QX_CHECK(t != nullptr && std::strlen(t) <= 267 && model::args(s->value) == t);
        QX_CHECK(std::strcmp(qxtp_last_error(), "OK") == 0);
    } else {
        if (s == nullptr) {
            QX_CHECK(qxtp_profile_to_json(id) == nullptr);
            expect_no_profile();
            return;
        }
        model::check_export(id, s->value);
    }
}

void op_import(fuzz_input &in) {
    char buf[256];
    const char *json = nullptr;
    std::string text;
    switch (in.u8() % 3) {
    case 0:
        json = nullptr;
        break;
    case 1:
        json = library_text(in);
        break; // an export, or any other text of the library
    default:
        in.text(buf);
        json = buf;
        break;
    }
    if (json != nullptr)
        text = json;
    const model::import_plan plan = model::plan_import(text.c_str());
    const int32_t want = lowest_free();
    const int32_t warnings = qx_warning_count();
    const int32_t id = qxtp_profile_from_json(json);
    if (json == nullptr || !plan.ok) {
        QX_CHECK(id == -QX_ERR_INVALID_ARG);
        QX_CHECK(std::strcmp(qxtp_last_error(), "ERR_INVALID_ARG") == 0);
        QX_CHECK(qx_warning_count() == warnings);
        return;
    }
    if (want < 0) {
        QX_CHECK(id == -QX_ERR_OOM);
        QX_CHECK(std::strcmp(qxtp_last_error(), "ERR_OOM") == 0);
        return;
    }
    QX_CHECK(id == want);
    QX_CHECK(std::strcmp(qxtp_last_error(), "OK") == 0);
    take_slot(id, "");
    int32_t count = warnings;
    for (int f = 0; f < k_fields; ++f) {
        if (!plan.set[f])
            continue;
        const std::string stored = qxtp_profile_get(id, k_names[f]);
        model::check_cut(stored, plan.text[f], 128);
        g_shadow[id].value[f] = stored;
        if (model::k_kinds[f] == model::k_uint && !model::valid(f, stored.c_str()) && count < 64)
            QX_CHECK(std::string("ERR_FIELD_INVALID:") + k_names[f] == qx_warning(count++));
    }
    QX_CHECK(qx_warning_count() == count);
}

void op_table(fuzz_input &in) {
    const uint32_t index = in.u8() % 20;
    const std::string error_before = qxtp_last_error();
    const char *name = qxtp_profile_field_name(index);
    const char *type = qxtp_profile_field_type(index);
    QX_CHECK(qxtp_profile_field_count() == 17);
    if (index >= 17) {
        QX_CHECK(name == nullptr && type == nullptr);
    } else {
        static const char *const types[] = {"string", "int", "bool", "uint_string"};
        QX_CHECK(name != nullptr && std::strcmp(name, k_names[index]) == 0);
        QX_CHECK(type != nullptr && std::strcmp(type, types[model::k_kinds[index]]) == 0);
    }
    QX_CHECK(error_before == qxtp_last_error());
}

// Every slot the shadow knows, read back whole.
void check_all() {
    for (int32_t id = 0; id < 64; ++id) {
        const bool used = g_shadow[id].in_use;
        QX_CHECK((qxtp_profile_get(id, k_names[0]) != nullptr) == used);
        if (!used)
            continue;
        for (int f = 0; f < k_fields; ++f)
            QX_CHECK(g_shadow[id].value[f] == qxtp_profile_get(id, k_names[f]));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Every input starts from an empty store and an empty warning log.
    for (int32_t id = 0; id < 64; ++id) {
        if (g_shadow[id].in_use)
            QX_CHECK(qxtp_profile_destroy(id) == QX_OK);
        g_shadow[id].in_use = false;
    }
    qx_clear_warnings();
    g_kept = nullptr;

    fuzz_input in(data, size);
    for (int op = 0; op < 256 && !in.empty(); ++op) {
        const uint8_t code = in.u8() % 16;
        switch (code) {
        case 0:
        case 1:
            op_create(in);
            break;
        case 2:
            op_destroy(in);
            break;
        case 3:
        case 4:
            op_set(in);
            break;
        case 5:
        case 6:
        case 7:
            op_read(in, static_cast<uint8_t>(code - 5));
            break;
        case 8:
            op_validate(in);
            break;
        case 9:
        case 10:
        case 11:
            op_derived(in, static_cast<uint8_t>(code - 9));
            break;
        case 12:
            op_import(in);
            break;
        case 13:
            op_table(in);
            break;
        case 14:
            qx_clear_warnings();
            break;
        default:
            check_all();
            break;
        }
        const char *error = qxtp_last_error();
        QX_CHECK(error != nullptr && std::strlen(error) < 256);
    }
    check_all();
    return 0;
}
