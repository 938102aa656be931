// Helpers shared by the library's modules: the one way texts are copied or formatted into
// fixed buffers, and the last-error buffer rules. Internal: never installed.
#ifndef QX_INTERNAL_H
#define QX_INTERNAL_H

#include "qx_common.h"

#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace qx {

// Copy src into dst (capacity cap >= 1), keeping at most cap - 1 bytes and always terminating.
// A cut never splits a UTF-8 character: when the first byte left out is a continuation byte
// (10xxxxxx), the cut moves back to the character's lead byte and leaves that out too. A
// character has at most three continuation bytes, the one left out included; where a fourth
// would be needed, or no lead byte (11xxxxxx) is found, the text is not UTF-8 there and is cut at
// the byte bound. src may overlap dst (a host may pass back a text the library
// returned). Returns the number of bytes kept.
size_t copy_text(char *dst, size_t cap, const char *src);

template <size_t N> size_t copy_text(char (&dst)[N], const char *src) {
    return copy_text(dst, N, src);
}

// vsnprintf into a fixed buffer: keeps at most cap - 1 bytes, always terminates, and returns
// the length it would have written. Used for texts the library composes itself; arbitrary
// texts go through copy_text.
[[gnu::format(printf, 3, 4)]] inline int bounded_format(char *dst, size_t cap, const char *fmt,
                                                        ...) {
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(dst, cap, fmt, ap);
    va_end(ap);
    return n;
}

// Last-error texts, indexed by status code; index 4 is only the prefix of a field error.
constexpr std::array<const char *, 9> k_err_text = {
    "",
    "ERR_NO_SUCH_PRESET",
    "ERR_NO_SUCH_BAND",
    "ERR_NO_SUCH_PROFILE",
    "ERR_FIELD_INVALID:",
    "ERR_UNKNOWN_FIELD",
    "ERR_BAD_SAMPLE_RATE",
    "ERR_INVALID_ARG",
    "ERR_OOM",
};

// One module's last-error text: 256 bytes, empty means "OK".
struct last_error {
    char text[256];

    int32_t fail(int32_t code) {
        copy_text(text, k_err_text[static_cast<size_t>(code)]);
        return code;
    }
    void set(const char *message) { copy_text(text, message); }
    void clear() { text[0] = '\0'; }
    const char *get() const { return text[0] != '\0' ? text : "OK"; }
};

} // namespace qx

#endif // QX_INTERNAL_H
