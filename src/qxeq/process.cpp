// Sample processing: each sample of a channel runs through the eight bands in series, in
// direct form I, in double precision. Non-finite values reset the affected history instead of
// spreading, and band outputs below 1e-20 in magnitude are stored as exact zero, so silence
// settles to exact zero and never runs into subnormal arithmetic. process_one is the definition
// of every bit; the vector kernels (kernels.h) reproduce it, and the block loop hands each block
// to the kernel chosen for this CPU. Calls must not overlap: no locks are taken.
#include "qxeq.h"

#include "kernels.h"
#include "qxeq_state.h"

#include <algorithm>
#include <cmath>

using namespace qxeq;

namespace {

void clear_history(band_record &b, int32_t c) { b.x1[c] = b.x2[c] = b.y1[c] = b.y2[c] = 0.0; }

float process_one(float x, int32_t c) {
    double X = static_cast<double>(x);
    if (!std::isfinite(X)) {
        for (band_record &b : g_bq) clear_history(b, c);
        return 0.0f;
    }
    for (band_record &b : g_bq) {
        double y = b.b0 * X + b.b1 * b.x1[c] + b.b2 * b.x2[c] - b.a1 * b.y1[c] - b.a2 * b.y2[c];
        if (!std::isfinite(y)) {
            clear_history(b, c);
            y = 0.0;
        } else {
            b.x2[c] = b.x1[c];
            b.x1[c] = X;
            b.y2[c] = b.y1[c];
            if (y > -1e-20 && y < 1e-20) y = 0.0;
            b.y1[c] = y;
        }
        X = y;
    }
    return static_cast<float>(X);  // beyond the float range this becomes +-infinity
}

int16_t process_s16(int16_t sample, int32_t c) {
    const float x = static_cast<float>(sample) * (1.0f / 32768.0f);
    const float y = process_one(x, c);
    // input scales by 1/32768, output by 32767: -32768 never comes back
    const float v = y > 1.0f ? 32767.0f : std::max(-1.0f, y) * 32767.0f;
    return static_cast<int16_t>(std::lrintf(v));
}

// Validates the block and brings the coefficients up to date; false when there is nothing to do.
template <typename Sample> bool begin_block(const Sample *samples, int32_t frames, int32_t channels,
                                            int32_t *status) {
    if (samples == nullptr || channels < 1 || channels > k_max_channels || frames < 0) {
        *status = g_err.fail(QX_ERR_INVALID_ARG);
        return false;
    }
    *status = QX_OK;
    g_err.clear();
    if (g_bypass || frames == 0) return false;
    if (g_dirty) rebuild_filters();
    return true;
}

} // namespace

// MARK: scalar kernel

namespace qxeq {

void scalar_f32(float *samples, size_t frames, int32_t channels) {
    const size_t n = frames * static_cast<size_t>(channels);
    for (size_t i = 0; i < n; ++i)
        samples[i] = process_one(samples[i], static_cast<int32_t>(i % static_cast<size_t>(channels)));
}

void scalar_s16(int16_t *samples, size_t frames, int32_t channels) {
    const size_t n = frames * static_cast<size_t>(channels);
    for (size_t i = 0; i < n; ++i)
        samples[i] = process_s16(samples[i], static_cast<int32_t>(i % static_cast<size_t>(channels)));
}

} // namespace qxeq

// MARK: processing

int32_t qxeq_process_f32(float *samples, int32_t frames, int32_t channels) {
    int32_t status;
    if (!begin_block(samples, frames, channels, &status)) return status;
    run_f32(samples, static_cast<size_t>(frames), channels);
    return QX_OK;
}

int32_t qxeq_process_s16(int16_t *samples, int32_t frames, int32_t channels) {
    int32_t status;
    if (!begin_block(samples, frames, channels, &status)) return status;
    run_s16(samples, static_cast<size_t>(frames), channels);
    return QX_OK;
}
