// The straightforward per-sample cascade: each sample of a channel runs through the eight bands
// in series, in direct form I, in double precision. Non-finite values clear the affected filter
// state instead of spreading, and band outputs below the flush bound are stored as exact zero.
// process_one is the definition of every bit: the vector kernels reproduce it exactly.
#include "equaliser.h"
#include "kernels.h"

#include <algorithm>
#include <cmath>

namespace qxeq {

namespace {

void clear_history(band_record &b, int32_t c) { b.x1[c] = b.x2[c] = b.y1[c] = b.y2[c] = 0.0; }

float process_one(band_record *bq, float x, int32_t c) {
    double X = static_cast<double>(x);
    if (!std::isfinite(X)) {
        for (int32_t k = 0; k < k_bands; ++k)
            clear_history(bq[k], c);
        return 0.0f;
    }
    for (int32_t k = 0; k < k_bands; ++k) {
        band_record &b = bq[k];
        double y = b.b0 * X + b.b1 * b.x1[c] + b.b2 * b.x2[c] - b.a1 * b.y1[c] - b.a2 * b.y2[c];
        if (!std::isfinite(y)) {
            clear_history(b, c);
            y = 0.0;
        } else {
            b.x2[c] = b.x1[c];
            b.x1[c] = X;
            b.y2[c] = b.y1[c];
            if (y > -k_flush_bound && y < k_flush_bound)
                y = 0.0;
            b.y1[c] = y;
        }
        X = y;
    }
    return static_cast<float>(X); // beyond the float range this becomes +-infinity
}

int16_t process_s16(band_record *bq, int16_t sample, int32_t c) {
    const float x = static_cast<float>(sample) * (1.0f / 32768.0f);
    const float y = process_one(bq, x, c);
    // input scales by 1/32768, output by 32767: -32768 never comes back
    const float v = y > 1.0f ? 32767.0f : std::max(-1.0f, y) * 32767.0f;
    return static_cast<int16_t>(std::lrintf(v));
}

} // namespace

void scalar_f32(band_record *bq, float *samples, size_t frames, int32_t channels) {
    const size_t stride = static_cast<size_t>(channels);
    for (size_t i = 0; i < frames * stride; ++i)
        samples[i] = process_one(bq, samples[i], static_cast<int32_t>(i % stride));
}

void scalar_s16(band_record *bq, int16_t *samples, size_t frames, int32_t channels) {
    const size_t stride = static_cast<size_t>(channels);
    for (size_t i = 0; i < frames * stride; ++i)
        samples[i] = process_s16(bq, samples[i], static_cast<int32_t>(i % stride));
}

} // namespace qxeq
