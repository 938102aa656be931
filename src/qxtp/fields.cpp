// The profile field table and the rules a field's text is judged by: the four value types,
// their parsers, and the output file type derived from FormatCreator. Integer texts saturate
// as a 32-bit long would, whatever the width of long here. Calls must not overlap: no locks.
#include "qxtp.h"

#include "qxtp_state.h"

#include <cstring>

using namespace qxtp;

namespace {

constexpr std::array<const char *, 4> k_type_names = {"string", "int", "bool", "uint_string"};

// The six bytes a C-locale isspace accepts, fixed here so that a host's locale cannot widen it.
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads the run of decimal digits at text, saturating at limit (at most 2^32, so v * 10 + 9
// never leaves 64 bits). Returns the position after the run: text itself when there is none.
const char *read_digits(const char *text, uint64_t limit, uint64_t *value) {
    uint64_t v = 0;
    for (; is_digit(*text); ++text) {
        v = v * 10 + static_cast<uint64_t>(*text - '0');
        if (v > limit)
            v = limit;
    }
    *value = v;
    return text;
}

} // namespace

// MARK: field table

int32_t qxtp_profile_field_count(void) { return k_field_count; }

const char *qxtp_profile_field_name(uint32_t index) {
    return index < k_fields.size() ? k_fields[index].name : nullptr;
}

const char *qxtp_profile_field_type(uint32_t index) {
    if (index >= k_fields.size())
        return nullptr;
    return k_type_names[static_cast<size_t>(k_fields[index].type)];
}

namespace qxtp {

int32_t field_index(const char *name) {
    if (name == nullptr)
        return -1;
    for (int32_t i = 0; i < k_field_count; ++i)
        if (std::strcmp(name, k_fields[static_cast<size_t>(i)].name) == 0)
            return i;
    return -1;
}

// MARK: value rules

bool parse_bool(const char *text, int32_t *out) {
    if (text == nullptr)
        return false;
    if (!std::strcmp(text, "true") || !std::strcmp(text, "1") || !std::strcmp(text, "True")) {
        *out = 1;
        return true;
    }
    if (!std::strcmp(text, "false") || !std::strcmp(text, "0") || !std::strcmp(text, "False")) {
        *out = 0;
        return true;
    }
    return false;
}

bool parse_uint(const char *text, uint32_t *out) {
    if (text == nullptr)
        return false;
    while (is_space(*text))
        ++text;
    if (*text == '+' || *text == '-')
        return false; // a sign is never part of an unsigned text
    uint64_t value = 0;
    const char *end = read_digits(text, UINT32_MAX, &value);
    if (end == text || *end != '\0')
        return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

bool parse_int(const char *text, int32_t *out) {
    if (text == nullptr)
        return false;
    while (is_space(*text))
        ++text;
    const bool negative = *text == '-';
    if (*text == '+' || *text == '-')
        ++text;
    uint64_t value = 0;
    const char *end = read_digits(text, negative ? 2147483648u : 2147483647u, &value);
    if (end == text || *end != '\0')
        return false;
    *out =
        static_cast<int32_t>(negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value));
    return true;
}

// Every muxer name is such a token. Anything else (blanks, dashes, dots, slashes) would paste
// options into an encoder command line or a path into an output file name.
bool is_format_token(const char *creator) {
    if (creator[0] == '\0')
        return false;
    for (const char *c = creator; *c != '\0'; ++c) {
        const bool ok =
            (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || is_digit(*c) || *c == '_';
        if (!ok)
            return false;
    }
    return true;
}

void revalidate_field(profile_slot &slot, int32_t field) {
    const char *text = slot.value[field];
    int32_t int_value = 0;
    uint32_t uint_value = 0;
    bool valid = true;
    if (text[0] != '\0') {
        switch (k_fields[static_cast<size_t>(field)].type) {
        case k_string:
            break;
        case k_int:
            valid = parse_int(text, &int_value);
            break;
        case k_bool:
            valid = parse_bool(text, &int_value);
            break;
        case k_uint_string:
            valid = parse_uint(text, &uint_value);
            break;
        }
    }
    slot.valid[field] = valid ? 1 : 0;
    if (field == k_format_creator)
        recompute_file_type(slot);
}

void recompute_file_type(profile_slot &slot) {
    const char *creator = slot.value[k_format_creator];
    if (std::strcmp(creator, "hevc") == 0) {
        qx::copy_text(slot.file_type, ".mp4");
    } else if (is_format_token(creator)) {
        slot.file_type[0] = '.';
        qx::copy_text(slot.file_type + 1, k_file_type_size - 1, creator);
    } else {
        slot.file_type[0] = '\0'; // no creator, or one that is not a plain token
    }
}

} // namespace qxtp
