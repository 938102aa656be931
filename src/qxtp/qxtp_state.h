// The profile store's process-wide state, shared by the files of the qxtp module: the field
// table, the 64 slots, the last-error text and the value rules every file applies. Internal.
#ifndef QXTP_STATE_H
#define QXTP_STATE_H

#include "qx_internal.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace qxtp {

enum field_type : int32_t { k_string = 0, k_int = 1, k_bool = 2, k_uint_string = 3 };

struct field_row {
    const char *name;
    field_type type;
};

constexpr int32_t k_field_count = 17;
constexpr int32_t k_max_profiles = 64;
constexpr int32_t k_format_creator = 1; // the field the file type and the format clause read
constexpr int32_t k_format_quality = 2;

constexpr std::array<field_row, k_field_count> k_fields = {{
    {"ProfileName", k_string},
    {"FormatCreator", k_string},
    {"FormatQuality", k_int},
    {"ProfileEnableMrfCrf444", k_bool},
    {"HardwareAccelerationEnabled", k_bool},
    {"AlwaysReencode", k_bool},
    {"AudioBitrate", k_uint_string},
    {"AudioBitsPerSample", k_uint_string},
    {"AudioChannelCount", k_uint_string},
    {"AudioSampleRate", k_uint_string},
    {"VideoWidth", k_uint_string},
    {"VideoHeight", k_uint_string},
    {"VideoBitrate", k_uint_string},
    {"VideoFrameRateNumerator", k_uint_string},
    {"VideoFrameRateDenominator", k_uint_string},
    {"VideoPixelAspectRatioNumerator", k_uint_string},
    {"VideoPixelAspectRatioDenominator", k_uint_string},
}};

constexpr size_t k_value_size = 128;    // field text: 127 bytes and the terminator
constexpr size_t k_file_type_size = 16; // "." and up to 14 bytes of the creator
constexpr size_t k_args_size = 2048;    // the longest fragment is 267 bytes
constexpr const char *k_file_type_key = "FileType";

// The longest compact export: every member's key and punctuation plus its longest value. A
// text member can escape each byte into six ("\u001F"); FormatQuality is at most
// "-2147483648"; a bool at most "false". Every member is counted with a comma, and the
// terminator is included.
constexpr size_t json_bound() {
    constexpr size_t escaped = 6;
    auto member = [](const char *key, size_t value) {
        size_t length = 0;
        while (key[length] != '\0')
            ++length;
        return length + 3 /* "": */ + value + 1 /* , */;
    };
    size_t n = 2 /* {} */ + 1 /* NUL */;
    for (const field_row &f : k_fields) {
        const size_t text = 2 + (k_value_size - 1) * escaped;
        n += member(f.name, f.type == k_int ? 11 : f.type == k_bool ? 5 : text);
    }
    return n + member(k_file_type_key, 2 + (k_file_type_size - 1) * escaped);
}
constexpr size_t k_json_size = json_bound();
static_assert(k_json_size > 4096, "thirteen escaped 127-byte texts do not fit in 4 KiB");

struct profile_slot {
    int32_t in_use;
    char value[k_field_count][k_value_size];
    int32_t valid[k_field_count];
    char file_type[k_file_type_size];
    char json[k_json_size];
    char args[k_args_size];
};

extern profile_slot g_prof[k_max_profiles];
extern qx::last_error g_err;

// MARK: fields and value rules (fields.cpp)

int32_t field_index(const char *name); // -1 for null or a name not in the table
bool parse_bool(const char *text, int32_t *out);
bool parse_uint(const char *text, uint32_t *out);
bool parse_int(const char *text, int32_t *out); // saturated to the 32-bit range
bool is_format_token(const char *creator);      // ASCII letters, digits and '_', non-empty
void revalidate_field(profile_slot &slot, int32_t field); // FormatCreator: file type too
void recompute_file_type(profile_slot &slot);

// MARK: store (store.cpp)

profile_slot *slot_in_use(int32_t id); // null for an id outside 0..63 or a free slot
// qxtp_profile_set once the id and the field are known to be good; value may be null.
int32_t set_field(profile_slot &slot, int32_t field, const char *value);

} // namespace qxtp

#endif // QXTP_STATE_H
