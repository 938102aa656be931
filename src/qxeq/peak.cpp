// The peak of the combined response, for automatic headroom. Each band is the bilinear image of
// one analog peaking filter, so on a logarithmic scale of t = tan(w / 2) every band keeps the
// same width wherever it lies, even when the rate squeezes it up against half the rate. A grid
// even in log t across all the active bands finds every local maximum worth a look, and a
// golden-section search pins each one down. Calls on the flat equaliser must not overlap with
// calls that change it.
#include "qxeq.h"

#include "equaliser.h"
#include "peak.h"

#include <cmath>

namespace qxeq {

namespace {

constexpr double k_pi = 3.141592653589793;
// Grid step and margin in decades of t. A band is about half a decade wide (Q 0.8); neighbours
// with opposite gains make features a little narrower, still many grid steps across. Three
// decades beyond the outermost centres every band is within 0.002 dB of 0.
constexpr double k_step_decades = 0.005;
constexpr double k_margin_decades = 3.0;
constexpr int32_t k_refined_candidates = 16;
constexpr int32_t k_golden_iterations = 60;

struct band_shapes {
    int32_t count;
    double bs[k_bands], bd2[k_bands], b1[k_bands], as[k_bands], ad2[k_bands], a1[k_bands];
};

// A band whose design ignores its gain is switched off at this rate.
bool band_has_effect(int32_t band, int32_t fs) {
    const raw_coeffs lo = design_band(band, -k_max_gain_db, fs);
    const raw_coeffs hi = design_band(band, k_max_gain_db, fs);
    return lo.b0 != hi.b0 || lo.a0 != hi.a0;
}

// The response in dB at t = tan(w / 2), from |e^jw N|^2 = ((b0 + b2) cos w + b1)^2 +
// ((b0 - b2) sin w)^2 and the same for the denominator. The grid's value: the reported peak is
// recomputed with combined_response_db.
double response_at(const band_shapes &s, double t) {
    const double cos_w = (1 - t * t) / (1 + t * t);
    const double sin_w = (2 * t) / (1 + t * t);
    const double sin2_w = sin_w * sin_w;
    double ratio = 1.0;
    for (int32_t k = 0; k < s.count; ++k) {
        const double nc = s.bs[k] * cos_w + s.b1[k];
        const double dc = s.as[k] * cos_w + s.a1[k];
        ratio *= (nc * nc + s.bd2[k] * sin2_w) / (dc * dc + s.ad2[k] * sin2_w);
    }
    return 10 * std::log10(ratio);
}

double hz_at(double log_t, int32_t fs) {
    return (static_cast<double>(fs) / k_pi) * std::atan(std::pow(10.0, log_t));
}

// Golden-section search for the maximum on [lo, hi] in log t.
double refine(const band_shapes &s, double lo, double hi) {
    const double r = 0.6180339887498949;
    double x1 = hi - r * (hi - lo), x2 = lo + r * (hi - lo);
    double f1 = response_at(s, std::pow(10.0, x1)), f2 = response_at(s, std::pow(10.0, x2));
    for (int32_t i = 0; i < k_golden_iterations; ++i) {
        if (f1 < f2) {
            lo = x1;
            x1 = x2;
            f1 = f2;
            x2 = lo + r * (hi - lo);
            f2 = response_at(s, std::pow(10.0, x2));
        } else {
            hi = x2;
            x2 = x1;
            f2 = f1;
            x1 = hi - r * (hi - lo);
            f1 = response_at(s, std::pow(10.0, x1));
        }
    }
    return f1 < f2 ? x2 : x1;
}

} // namespace

double peak_response_db(const double *gain_db, int32_t fs, int32_t bypass, double *at_hz) {
    band_shapes s;
    s.count = 0;
    double lowest = 0, highest = 0;
    for (int32_t k = 0; k < k_bands && !bypass; ++k) { // bypassed, no band counts
        if (!band_has_effect(k, fs) || gain_db[k] == 0.0)
            continue;
        const raw_coeffs r = design_band(k, gain_db[k], fs);
        const int32_t j = s.count++;
        s.bs[j] = r.b0 + r.b2;
        s.bd2[j] = (r.b0 - r.b2) * (r.b0 - r.b2);
        s.b1[j] = r.b1;
        s.as[j] = r.a0 + r.a2;
        s.ad2[j] = (r.a0 - r.a2) * (r.a0 - r.a2);
        s.a1[j] = r.a1;
        const double centre = std::log10(
            std::tan((k_centers[static_cast<size_t>(k)] * k_pi) / static_cast<double>(fs)));
        if (j == 0 || centre < lowest)
            lowest = centre;
        if (j == 0 || centre > highest)
            highest = centre;
    }
    double best_db = 0.0, best_hz = 0.0;
    if (s.count > 0) {
        // The grid's local maxima, best first, then each refined.
        const double start = lowest - k_margin_decades;
        const auto steps = static_cast<int32_t>(
            std::ceil(((highest + k_margin_decades) - start) / k_step_decades));
        double cand_x[k_refined_candidates], cand_db[k_refined_candidates];
        int32_t found = 0;
        double before = response_at(s, std::pow(10.0, start - k_step_decades));
        double here = response_at(s, std::pow(10.0, start));
        for (int32_t i = 0; i <= steps; ++i) {
            const double x = start + k_step_decades * i;
            const double after = response_at(s, std::pow(10.0, x + k_step_decades));
            if (here > 0 && here >= before && here >= after) {
                // Keep the best k_refined_candidates, sorted by value.
                int32_t pos = found < k_refined_candidates ? found++ : k_refined_candidates;
                while (pos > 0 && cand_db[pos - 1] < here) {
                    if (pos < k_refined_candidates) {
                        cand_db[pos] = cand_db[pos - 1];
                        cand_x[pos] = cand_x[pos - 1];
                    }
                    --pos;
                }
                if (pos < k_refined_candidates) {
                    cand_db[pos] = here;
                    cand_x[pos] = x;
                }
            }
            before = here;
            here = after;
        }
        for (int32_t c = 0; c < found; ++c) {
            const double x = refine(s, cand_x[c] - k_step_decades, cand_x[c] + k_step_decades);
            const double hz = hz_at(x, fs);
            const double db = combined_response_db(gain_db, fs, hz);
            if (db > best_db) {
                best_db = db;
                best_hz = hz;
            }
        }
    }
    if (at_hz)
        *at_hz = best_hz;
    return best_db;
}

} // namespace qxeq

using namespace qxeq;

// MARK: headroom

double qxeq_peak_db(double *at_hz) {
    return peak_response_db(g_eq.gain, g_eq.fs, g_eq.bypass, at_hz);
}
