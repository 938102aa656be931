// The process-wide warning log: 64 entries of at most 191 bytes, filled in order and emptied
// only by the host. Calls must not overlap: no locks are taken.
#include "qx_common.h"

#include "qx_internal.h"

namespace {

constexpr int32_t k_max_warnings = 64;
constexpr size_t k_warning_size = 192;

char g_warns[k_max_warnings][k_warning_size];
int32_t g_nw = 0;

} // namespace

// MARK: bounded copy

namespace qx {

size_t copy_text(char *dst, size_t cap, const char *src) {
    const size_t length = strnlen(src, cap);
    size_t keep = length < cap ? length : cap - 1;
    auto is_continuation = [](char c) { return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u; };
    if (length == cap && is_continuation(src[keep])) {
        size_t lead = keep;
        int moved = 0;
        while (lead > 0 && moved < 2 && is_continuation(src[lead - 1])) {
            --lead;
            ++moved;
        }
        if (lead > 0 && (static_cast<unsigned char>(src[lead - 1]) & 0xC0u) == 0xC0u)
            keep = lead - 1;
    }
    std::memmove(dst, src, keep);
    dst[keep] = '\0';
    return keep;
}

} // namespace qx

// MARK: warning log

void qx_warn(const char *text) {
    if (text == nullptr || g_nw >= k_max_warnings) return;  // a full log keeps its first 64
    qx::copy_text(g_warns[g_nw], text);
    ++g_nw;
}

void qx_clear_warnings(void) { g_nw = 0; }

int32_t qx_warning_count(void) { return g_nw; }

const char *qx_warning(int32_t index) {
    if (index < 0 || index >= g_nw) return nullptr;
    return g_warns[index];
}
