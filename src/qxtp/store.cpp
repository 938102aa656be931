// The profile store: 64 process-wide slots, each holding the seventeen field texts, their
// validity flags and the texts handed out for that profile (file type, JSON, arguments). A
// field keeps the text it was given even when that text fails its rule. Calls must not
// overlap: no locks are taken.
#include "qxtp.h"

#include "qxtp_state.h"

#include <cstring>

namespace qxtp {

profile_slot g_prof[k_max_profiles] = {}; // all free at load
qx::last_error g_err = {};

profile_slot *slot_in_use(int32_t id) {
    if (id < 0 || id >= k_max_profiles || g_prof[id].in_use == 0)
        return nullptr;
    return &g_prof[id];
}

} // namespace qxtp

using namespace qxtp;

namespace {

// "ERR_FIELD_INVALID:" and the field name, the text of both the last error and the warning.
void field_error_text(char (&text)[160], int32_t field) {
    qx::bounded_format(text, sizeof text, "%s%s", qx::k_err_text[QX_ERR_FIELD_INVALID],
                       k_fields[static_cast<size_t>(field)].name);
}

} // namespace

// MARK: store

int32_t qxtp_profile_create(const char *name) {
    int32_t id = 0;
    while (id < k_max_profiles && g_prof[id].in_use != 0)
        ++id;
    if (id == k_max_profiles)
        return -g_err.fail(QX_ERR_OOM);
    // The name may point into this very slot (a text handed out before it was destroyed), so
    // it is taken before the slot is cleared.
    char given[k_value_size];
    qx::copy_text(given, name != nullptr ? name : "");
    profile_slot &slot = g_prof[id];
    std::memset(&slot, 0, sizeof slot);
    slot.in_use = 1;
    for (int32_t &valid : slot.valid)
        valid = 1;
    qx::copy_text(slot.value[0], given);
    qx::copy_text(slot.value[k_format_quality], "0");
    for (int32_t field = 0; field < k_field_count; ++field)
        if (k_fields[static_cast<size_t>(field)].type == k_bool)
            qx::copy_text(slot.value[field], "false");
    g_err.clear();
    return id;
}

int32_t qxtp_profile_destroy(int32_t id) {
    profile_slot *slot = slot_in_use(id);
    if (slot == nullptr)
        return g_err.fail(QX_ERR_NO_SUCH_PROFILE);
    slot->in_use = 0; // the texts stay readable until the slot is taken again
    g_err.clear();
    return QX_OK;
}

namespace qxtp {

int32_t set_field(profile_slot &slot, int32_t field, const char *value) {
    // copy_text moves overlapping bytes safely: value may be this field's own text.
    qx::copy_text(slot.value[field], value != nullptr ? value : "");
    revalidate_field(slot, field);
    if (k_fields[static_cast<size_t>(field)].type == k_uint_string && slot.valid[field] == 0) {
        char text[160];
        field_error_text(text, field);
        g_err.set(text);
        qx_warn(text);
        return QX_ERR_FIELD_INVALID;
    }
    g_err.clear(); // a rejected int or bool text shows only in its flag until validation
    return QX_OK;
}

} // namespace qxtp

int32_t qxtp_profile_set(int32_t id, const char *field, const char *value) {
    profile_slot *slot = slot_in_use(id);
    if (slot == nullptr)
        return g_err.fail(QX_ERR_NO_SUCH_PROFILE);
    const int32_t index = field_index(field);
    if (index < 0)
        return g_err.fail(QX_ERR_UNKNOWN_FIELD);
    return set_field(*slot, index, value);
}

const char *qxtp_profile_get(int32_t id, const char *field) {
    profile_slot *slot = slot_in_use(id);
    if (slot == nullptr)
        return (g_err.fail(QX_ERR_NO_SUCH_PROFILE), nullptr);
    const int32_t index = field_index(field);
    if (index < 0)
        return (g_err.fail(QX_ERR_UNKNOWN_FIELD), nullptr);
    return slot->value[index];
}

int32_t qxtp_profile_field_valid(int32_t id, const char *field) {
    profile_slot *slot = slot_in_use(id);
    if (slot == nullptr)
        return (g_err.fail(QX_ERR_NO_SUCH_PROFILE), 0);
    const int32_t index = field_index(field);
    if (index < 0)
        return (g_err.fail(QX_ERR_UNKNOWN_FIELD), 0);
    return slot->valid[index];
}

const char *qxtp_profile_file_type(int32_t id) {
    profile_slot *slot = slot_in_use(id);
    if (slot == nullptr)
        return (g_err.fail(QX_ERR_NO_SUCH_PROFILE), nullptr);
    recompute_file_type(*slot);
    return slot->file_type;
}

uint32_t qxtp_profile_parsed_uint(int32_t id, const char *field) {
    const profile_slot *slot = slot_in_use(id);
    const int32_t index = field_index(field);
    if (slot == nullptr || index < 0 || k_fields[static_cast<size_t>(index)].type != k_uint_string)
        return 0;
    uint32_t value = 0;
    return parse_uint(slot->value[index], &value) ? value : 0;
}

int32_t qxtp_profile_validate(int32_t id) {
    profile_slot *slot = slot_in_use(id);
    if (slot == nullptr)
        return g_err.fail(QX_ERR_NO_SUCH_PROFILE);
    bool any_invalid = false;
    for (int32_t field = 0; field < k_field_count; ++field) {
        revalidate_field(*slot, field);
        if (slot->valid[field] != 0)
            continue;
        char text[160];
        field_error_text(text, field);
        qx_warn(text);
        if (!any_invalid)
            g_err.set(text); // the last error names the first invalid field
        any_invalid = true;
    }
    if (any_invalid)
        return QX_ERR_FIELD_INVALID;
    g_err.clear();
    return QX_OK;
}

const char *qxtp_last_error(void) { return g_err.get(); }
