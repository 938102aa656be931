// Profile JSON: export of one slot as a compact object of the seventeen fields and FileType,
// and import of such an object into a new slot through the field setter. yyjson does the
// reading and writing; every document and written text it allocates is freed before the call
// returns. Calls must not overlap: no locks are taken.
#include "qxtp.h"

#include "qxtp_state.h"

#include <yyjson.h>

#include <cstdlib>
#include <cstring>

static_assert(YYJSON_VERSION_HEX >= 0x000C00, "yyjson 0.12.0 or later is needed");

using namespace qxtp;

namespace {

// The JSON value of one field: a number for the int field, true/false for the bools, the
// stored text for the rest (numbers in text fields are not converted).
yyjson_mut_val *field_value(yyjson_mut_doc *doc, const profile_slot &slot, int32_t field) {
    const char *text = slot.value[field];
    switch (k_fields[static_cast<size_t>(field)].type) {
    case k_int: {
        int32_t number = 0; // empty or unacceptable: 0
        parse_int(text, &number);
        return yyjson_mut_sint(doc, number);
    }
    case k_bool: {
        int32_t flag = 0; // empty or unacceptable: false
        parse_bool(text, &flag);
        return yyjson_mut_bool(doc, flag == 1);
    }
    case k_string:
    case k_uint_string:
        break;
    }
    return yyjson_mut_strcpy(doc, text);
}

// The text a member's value stands for, or false for the kinds that leave the default (reals,
// null, arrays, objects). A string ends at its first NUL.
bool value_text(yyjson_val *value, char (&text)[k_value_size]) {
    if (yyjson_is_str(value)) {
        qx::copy_text(text, yyjson_get_str(value));
    } else if (yyjson_is_bool(value)) {
        qx::copy_text(text, yyjson_get_bool(value) ? "true" : "false");
    } else if (yyjson_is_uint(value)) {
        qx::bounded_format(text, sizeof text, "%llu",
                           static_cast<unsigned long long>(yyjson_get_uint(value)));
    } else if (yyjson_is_sint(value)) { // yyjson reads only negative integers (and -0) as sint
        qx::bounded_format(text, sizeof text, "%lld",
                           static_cast<long long>(yyjson_get_sint(value)));
    } else {
        return false;
    }
    return true;
}

// The first member whose key has exactly the field name's bytes; later duplicates never count.
yyjson_val *first_member(yyjson_val *object, const char *name) {
    const size_t length = std::strlen(name);
    yyjson_obj_iter iter = yyjson_obj_iter_with(object);
    while (yyjson_val *key = yyjson_obj_iter_next(&iter)) {
        if (yyjson_get_len(key) == length && std::memcmp(yyjson_get_str(key), name, length) == 0)
            return yyjson_obj_iter_get_val(key);
    }
    return nullptr;
}

} // namespace

// MARK: JSON

const char *qxtp_profile_to_json(int32_t id) {
    profile_slot *slot = slot_in_use(id);
    if (slot == nullptr)
        return (g_err.fail(QX_ERR_NO_SUCH_PROFILE), nullptr);
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    if (doc == nullptr)
        return (g_err.fail(QX_ERR_OOM), nullptr);
    // A node that cannot be allocated leaves its member out; without a root nothing is written.
    if (yyjson_mut_val *root = yyjson_mut_obj(doc)) {
        yyjson_mut_doc_set_root(doc, root);
        for (int32_t field = 0; field < k_field_count; ++field) {
            yyjson_mut_obj_add_val(doc, root, k_fields[static_cast<size_t>(field)].name,
                                   field_value(doc, *slot, field));
        }
        recompute_file_type(*slot);
        yyjson_mut_obj_add_strcpy(doc, root, k_file_type_key, slot->file_type);
    }
    // Default flags: compact, no final newline, and no text at all when a string is not
    // well-formed UTF-8.
    char *text = yyjson_mut_write(doc, 0, nullptr);
    yyjson_mut_doc_free(doc);
    if (text == nullptr)
        return (g_err.fail(QX_ERR_OOM), nullptr); // the old export stays
    qx::copy_text(slot->json, text); // k_json_size holds the longest possible export whole
    std::free(text);
    g_err.clear();
    return slot->json;
}

int32_t qxtp_profile_from_json(const char *json) {
    if (json == nullptr)
        return -g_err.fail(QX_ERR_INVALID_ARG);
    // Strict reading into yyjson's own copy: json may be a text this library handed out, even
    // from the slot the new profile is about to take.
    yyjson_doc *doc = yyjson_read(json, std::strlen(json), 0);
    if (doc == nullptr)
        return -g_err.fail(QX_ERR_INVALID_ARG);
    yyjson_val *root = yyjson_doc_get_root(doc);
    if (!yyjson_is_obj(root)) {
        yyjson_doc_free(doc);
        return -g_err.fail(QX_ERR_INVALID_ARG);
    }
    const int32_t id = qxtp_profile_create(nullptr);
    if (id < 0) {
        yyjson_doc_free(doc);
        return id; // "ERR_OOM" from create
    }
    // Table order, so that the setter's warnings come in table order whatever the document's.
    for (int32_t field = 0; field < k_field_count; ++field) {
        yyjson_val *value = first_member(root, k_fields[static_cast<size_t>(field)].name);
        char text[k_value_size];
        if (value != nullptr && value_text(value, text))
            set_field(g_prof[id], field, text);
    }
    yyjson_doc_free(doc);
    g_err.clear(); // a rejected field shows in its flag and the warning log, not here
    return id;
}
