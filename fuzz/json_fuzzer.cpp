// JSON import fuzz target: the input, made NUL-terminated, is handed to qxtp_profile_from_json.
// A failed import must be exactly a text that is not strict JSON with an object root, and must
// leave no slot in use. A successful one must store what the document says, field by field;
// then every accessor is checked (texts within their bounds, validity, parsed numbers, file
// type, argument fragment, validation and its warnings), the export must be strict JSON that
// re-imports to the same texts and exports again identically, and both profiles are destroyed.
// The slot count is checked after every input: the store must be empty again.
#include "profile_model.h"

#include <vector>

namespace {

using model::k_fields;
using model::k_names;

void check_profile(int32_t id, const model::texts &v) {
    for (int f = 0; f < k_fields; ++f) {
        const char *t = qxtp_profile_get(id, k_names[f]);
        QX_CHECK(t != nullptr && std::strlen(t) <= 127 && v[f] == t);
        QX_CHECK(qxtp_profile_field_valid(id, k_names[f]) == (model::valid(f, t) ? 1 : 0));
        QX_CHECK(qxtp_profile_parsed_uint(id, k_names[f]) == model::parsed_uint(f, t));
    }
    const char *type = qxtp_profile_file_type(id);
    QX_CHECK(type != nullptr && std::strlen(type) <= 15 && model::file_type(v[1]) == type);
    const char *args = qxtp_profile_to_ffmpeg_args(id);
    QX_CHECK(args != nullptr && std::strlen(args) <= 267 && model::args(v) == args);
    QX_CHECK(std::strcmp(qxtp_last_error(), "OK") == 0);

    // Validation: one warning per invalid field, in table order, while the log has room.
    int invalid = 0;
    const char *first = nullptr;
    for (int f = 0; f < k_fields; ++f)
        if (!model::valid(f, v[f].c_str()))
            invalid++, first = first ? first : k_names[f];
    const int32_t before = qx_warning_count();
    const int32_t status = qxtp_profile_validate(id);
    QX_CHECK(status == (invalid ? QX_ERR_FIELD_INVALID : QX_OK));
    const int32_t added = invalid < 64 - before ? invalid : 64 - before;
    QX_CHECK(qx_warning_count() == before + added);
    if (invalid) {
        QX_CHECK(std::string("ERR_FIELD_INVALID:") + first == qxtp_last_error());
        if (added > 0)
            QX_CHECK(std::strcmp(qx_warning(before), qxtp_last_error()) == 0);
    } else {
        QX_CHECK(std::strcmp(qxtp_last_error(), "OK") == 0);
    }
}

// Creates profiles until the store is full: exactly `free_slots` creates must succeed, in
// ascending slot order, and the next must fail with "ERR_OOM". Destroys what it created.
void check_free_slots(int32_t free_slots) {
    std::vector<int32_t> ids;
    for (;;) {
        const int32_t id = qxtp_profile_create(nullptr);
        if (id < 0) {
            QX_CHECK(id == -QX_ERR_OOM);
            QX_CHECK(std::strcmp(qxtp_last_error(), "ERR_OOM") == 0);
            break;
        }
        QX_CHECK(id < 64);
        ids.push_back(id);
    }
    QX_CHECK(static_cast<int32_t>(ids.size()) == free_slots);
    for (int32_t id : ids)
        QX_CHECK(qxtp_profile_destroy(id) == QX_OK);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string json(reinterpret_cast<const char *>(data), size); // NUL-terminated by c_str
    qx_clear_warnings();

    const model::import_plan plan = model::plan_import(json.c_str());
    const int32_t id = qxtp_profile_from_json(json.c_str());
    if (!plan.ok) {
        QX_CHECK(id == -QX_ERR_INVALID_ARG);
        QX_CHECK(std::strcmp(qxtp_last_error(), "ERR_INVALID_ARG") == 0);
        QX_CHECK(qx_warning_count() == 0);
        // The lowest slot is still free: a failed import took none.
        const int32_t probe = qxtp_profile_create(nullptr);
        QX_CHECK(probe == 0);
        QX_CHECK(qxtp_profile_destroy(probe) == QX_OK);
        if (size % 8 == 0)
            check_free_slots(64);
        return 0;
    }
    QX_CHECK(id == 0); // the store is empty between inputs
    QX_CHECK(std::strcmp(qxtp_last_error(), "OK") == 0);

    // Stored texts: the setter's cut of each member's text, the defaults elsewhere.
    model::texts v = {"", "", "0", "false", "false", "false"};
    int uint_rejected = 0;
    for (int f = 0; f < k_fields; ++f) {
        if (!plan.set[f])
            continue;
        const char *stored = qxtp_profile_get(id, k_names[f]);
        QX_CHECK(stored != nullptr);
        model::check_cut(stored, plan.text[f], 128);
        v[f] = stored;
        if (model::k_kinds[f] == model::k_uint && !model::valid(f, stored)) {
            QX_CHECK(std::string("ERR_FIELD_INVALID:") + k_names[f] == qx_warning(uint_rejected));
            ++uint_rejected;
        }
    }
    QX_CHECK(qx_warning_count() == uint_rejected);
    check_profile(id, v);

    const std::string exported = model::check_export(id, v);
    if (!exported.empty()) {
        // The export read back: the same texts up to the JSON types, and the same export.
        const int32_t again = qxtp_profile_from_json(qxtp_profile_to_json(id));
        QX_CHECK(again == 1);
        model::texts w;
        model::reimported(v, w);
        check_profile(again, w);
        QX_CHECK(model::check_export(again, w) == exported);
        QX_CHECK(qxtp_profile_destroy(again) == QX_OK);
    }
    QX_CHECK(qxtp_profile_destroy(id) == QX_OK);
    QX_CHECK(qxtp_profile_destroy(id) == QX_ERR_NO_SUCH_PROFILE);
    QX_CHECK(qxtp_profile_get(id, k_names[0]) == nullptr);

    // Importing with every slot taken: a readable object fails with "ERR_OOM" and takes
    // nothing; the store must then give back exactly its 64 slots.
    if (size % 8 == 0) {
        std::vector<int32_t> ids;
        for (int32_t i = 0; i < 64; ++i)
            ids.push_back(qxtp_profile_create("full"));
        QX_CHECK(qxtp_profile_from_json(json.c_str()) == -QX_ERR_OOM);
        QX_CHECK(std::strcmp(qxtp_last_error(), "ERR_OOM") == 0);
        for (int32_t i : ids)
            QX_CHECK(qxtp_profile_destroy(i) == QX_OK);
        check_free_slots(64);
    }
    return 0;
}
