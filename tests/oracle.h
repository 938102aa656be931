// The straightforward equaliser: per frame, per channel, per band, exactly the arithmetic the
// library promises, with its own coefficients and histories. Tests compare the library with it
// bit for bit; it reads coefficients only through the public qxeq_coeffs.
#ifndef QX_TESTS_ORACLE_H
#define QX_TESTS_ORACLE_H

#include "qxeq.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

struct oracle_band {
    double b0, b1, b2, a1, a2;
    double x1[8], x2[8], y1[8], y2[8];
};

class oracle_eq {
  public:
    oracle_band band[8] = {};
    long non_finite_inputs = 0; // how often each rare case ran, so tests can show they were hit
    long band_overflows = 0;

    // Normalised coefficients for the current gains and rate of eq, or of the default
    // equaliser when eq is null.
    void load_coefficients(qxeq_eq *eq = nullptr) {
        for (uint32_t k = 0; k < 8; ++k) {
            double b0, b1, b2, a0, a1, a2;
            if (eq != nullptr)
                qxeq_eq_coeffs(eq, k, &b0, &b1, &b2, &a0, &a1, &a2);
            else
                qxeq_coeffs(k, &b0, &b1, &b2, &a0, &a1, &a2);
            band[k].b0 = b0 / a0;
            band[k].b1 = b1 / a0;
            band[k].b2 = b2 / a0;
            band[k].a1 = a1 / a0;
            band[k].a2 = a2 / a0;
        }
    }

    void reset() {
        for (auto &b : band)
            for (int c = 0; c < 8; ++c)
                b.x1[c] = b.x2[c] = b.y1[c] = b.y2[c] = 0.0;
    }

    float process_one(float x, int c) {
        double X = x;
        if (!std::isfinite(X)) {
            for (auto &b : band)
                b.x1[c] = b.x2[c] = b.y1[c] = b.y2[c] = 0.0;
            ++non_finite_inputs;
            return 0.0f;
        }
        for (auto &b : band) {
            double y = b.b0 * X + b.b1 * b.x1[c] + b.b2 * b.x2[c] - b.a1 * b.y1[c] - b.a2 * b.y2[c];
            if (!std::isfinite(y)) {
                b.x1[c] = b.x2[c] = b.y1[c] = b.y2[c] = 0.0;
                ++band_overflows;
                y = 0.0;
            } else {
                b.x2[c] = b.x1[c];
                b.x1[c] = X;
                b.y2[c] = b.y1[c];
                if (y > -1e-20 && y < 1e-20)
                    y = 0.0;
                b.y1[c] = y;
            }
            X = y;
        }
        return static_cast<float>(X);
    }

    void process_f32(float *s, int32_t frames, int32_t channels) {
        for (int32_t f = 0; f < frames; ++f)
            for (int32_t c = 0; c < channels; ++c) {
                float &v = s[static_cast<size_t>(f) * static_cast<size_t>(channels) +
                             static_cast<size_t>(c)];
                v = process_one(v, c);
            }
    }

    void process_s16(int16_t *s, int32_t frames, int32_t channels) {
        for (int32_t f = 0; f < frames; ++f)
            for (int32_t c = 0; c < channels; ++c) {
                int16_t &v = s[static_cast<size_t>(f) * static_cast<size_t>(channels) +
                               static_cast<size_t>(c)];
                const float y = process_one(static_cast<float>(v) * (1.0f / 32768.0f), c);
                const float w = y > 1.0f ? 32767.0f : std::max(-1.0f, y) * 32767.0f;
                v = static_cast<int16_t>(std::lrintf(w));
            }
    }
};

#endif
