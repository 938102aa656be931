// The process-wide warning log (64 entries of at most 191 bytes, filled in order and emptied
// only by the host), the status texts and the version. The log is shared by every equaliser
// instance and the profile store, so its calls take one short lock; processing never logs.
#include "qx_common.h"

#include "qx_internal.h"

#include <pthread.h>

namespace {

constexpr int32_t k_max_warnings = 64;
constexpr size_t k_warning_size = 192;

char g_warns[k_max_warnings][k_warning_size];
int32_t g_nw = 0;
pthread_mutex_t g_log_lock = PTHREAD_MUTEX_INITIALIZER; // guards g_warns and g_nw

// Holds the log's lock for its scope.
class log_lock {
  public:
    log_lock() { pthread_mutex_lock(&g_log_lock); }
    ~log_lock() { pthread_mutex_unlock(&g_log_lock); }
    log_lock(const log_lock &) = delete;
    log_lock &operator=(const log_lock &) = delete;
};

#define QX_STRINGIFY2(x) #x
#define QX_STRINGIFY(x) QX_STRINGIFY2(x)
constexpr const char *k_version = QX_STRINGIFY(QX_VERSION_MAJOR) "." QX_STRINGIFY(
    QX_VERSION_MINOR) "." QX_STRINGIFY(QX_VERSION_PATCH);

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
    if (text == nullptr)
        return;
    log_lock hold;
    if (g_nw >= k_max_warnings)
        return; // a full log keeps its first 64
    qx::copy_text(g_warns[g_nw], text);
    ++g_nw;
}

void qx_clear_warnings(void) {
    log_lock hold;
    g_nw = 0;
}

int32_t qx_warning_count(void) {
    log_lock hold;
    return g_nw;
}

const char *qx_warning(int32_t index) {
    log_lock hold;
    if (index < 0 || index >= g_nw)
        return nullptr;
    return g_warns[index];
}

// MARK: status texts and version

const char *qx_status_text(int32_t status) {
    if (status == QX_OK)
        return "OK";
    if (status == QX_ERR_FIELD_INVALID)
        return "ERR_FIELD_INVALID"; // its last error adds the field
    if (status < 0 || static_cast<size_t>(status) >= qx::k_err_text.size())
        return "ERR_UNKNOWN_STATUS";
    return qx::k_err_text[static_cast<size_t>(status)];
}

const char *qx_version(void) { return k_version; }
