// Equaliser instances: making and releasing them, and the default instance that exists from
// load, which the flat functions act on. The default instance is constant-initialised, so
// nothing runs at load; qxeq_eq_new is the one place the equaliser allocates.
#include "qxeq.h"

#include "equaliser.h"

#include <cstdlib>
#include <new>
#include <type_traits>

namespace qxeq {

qxeq_eq g_eq = k_new_instance;

} // namespace qxeq

using namespace qxeq;

// MARK: instances

qxeq_eq *qxeq_eq_new(void) {
    void *memory = std::malloc(sizeof(qxeq_eq));
    if (memory == nullptr) return nullptr;
    return new (memory) qxeq_eq(k_new_instance);
}

void qxeq_eq_free(qxeq_eq *eq) { std::free(eq); }  // trivially destructible

static_assert(std::is_trivially_copyable_v<qxeq_eq>, "qxeq_eq_copy copies by assignment");

int32_t qxeq_eq_copy(qxeq_eq *dst, const qxeq_eq *src) {
    if (dst == nullptr || src == nullptr) return QX_ERR_INVALID_ARG;
    if (dst != src) *dst = *src;  // trivially copyable: settings, coefficients, state, text
    return QX_OK;
}

// MARK: the flat functions, on the default instance

int32_t qxeq_set_preset(const char *name) { return qxeq_eq_set_preset(&g_eq, name); }

int32_t qxeq_set_gain(uint32_t band, double gain_db) {
    return qxeq_eq_set_gain(&g_eq, band, gain_db);
}

double qxeq_get_gain(uint32_t band) { return qxeq_eq_get_gain(&g_eq, band); }

int32_t qxeq_is_bypassed(void) { return qxeq_eq_is_bypassed(&g_eq); }

int32_t qxeq_sample_rate(void) { return qxeq_eq_sample_rate(&g_eq); }

int32_t qxeq_set_sample_rate(int32_t hz) { return qxeq_eq_set_sample_rate(&g_eq, hz); }

void qxeq_reset_state(void) { qxeq_eq_reset_state(&g_eq); }

const char *qxeq_last_error(void) { return qxeq_eq_last_error(&g_eq); }

int32_t qxeq_coeffs(uint32_t band, double *b0, double *b1, double *b2, double *a0, double *a1,
                    double *a2) {
    return qxeq_eq_coeffs(&g_eq, band, b0, b1, b2, a0, a1, a2);
}

double qxeq_response_db(double hz) { return qxeq_eq_response_db(&g_eq, hz); }

int32_t qxeq_process_f32(float *samples, int32_t frames, int32_t channels) {
    return qxeq_eq_process_f32(&g_eq, samples, frames, channels);
}

int32_t qxeq_process_s16(int16_t *samples, int32_t frames, int32_t channels) {
    return qxeq_eq_process_s16(&g_eq, samples, frames, channels);
}
