// Peaking-filter design and the combined response. Coefficients are the standard peaking
// biquad, computed in double precision in a fixed order so that results are reproducible. A band
// whose centre lies at or above half the sample rate has no peaking filter at that rate (w0 >= pi
// gives alpha <= 0 and poles outside the unit circle): it is switched off, its coefficients the
// identity, so low-rate audio passes through the bands that exist and never blows up.
#include "qxeq.h"

#include "equaliser.h"

#include <cmath>

namespace qxeq {

namespace {
constexpr double k_two_pi = 6.283185307179586; // 2 * pi, exact in double
}

bool band_active(int32_t band, int32_t fs) {
    return 2.0 * k_centers[static_cast<size_t>(band)] < static_cast<double>(fs);
}

raw_coeffs design_band(int32_t band, double gain_db, int32_t fs) {
    if (!band_active(band, fs))
        return raw_coeffs{1, 0, 0, 1, 0, 0};
    const double A = std::pow(10.0, gain_db / 40.0);
    const double w0 = (k_centers[static_cast<size_t>(band)] * k_two_pi) / static_cast<double>(fs);
    const double s = std::sin(w0);
    const double c = std::cos(w0);
    const double alpha = s / 1.6; // s / (2 * Q): kept as a division, the last bit depends on it
    return raw_coeffs{1 + alpha * A, -2 * c, 1 - alpha * A, 1 + alpha / A, -2 * c, 1 - alpha / A};
}

double combined_response_db(const double *gain_db, int32_t fs, double hz) {
    const double w = (hz * k_two_pi) / static_cast<double>(fs);
    const double cw = std::cos(w);
    const double sw = std::sin(w);
    const double c2 = cw * cw - sw * sw; // cos 2w
    const double s2 = 2 * sw * cw;       // sin 2w
    double hr = 1.0;
    double hi = 0.0;
    for (int32_t band = 0; band < k_bands; ++band) {
        const raw_coeffs r = design_band(band, gain_db[band], fs);
        const double dr = (r.a0 + r.a1 * cw) + r.a2 * c2;
        const double di = -r.a2 * s2 - r.a1 * sw;
        const double d2 = dr * dr + di * di;
        if (d2 < 1e-300)
            continue;
        const double nr = (r.b0 + r.b1 * cw) + r.b2 * c2;
        const double ni = -r.b2 * s2 - r.b1 * sw;
        const double qr = (nr * dr + ni * di) / d2;
        const double qi = (ni * dr - nr * di) / d2;
        const double next_r = qr * hr - qi * hi;
        hi = qi * hr + qr * hi;
        hr = next_r;
    }
    const double m = hr * hr + hi * hi;
    if (m < 1e-300)
        return -200.0;
    return 10 * std::log10(m);
}

void rebuild_filters(qxeq_eq &eq) {
    for (int32_t band = 0; band < k_bands; ++band) {
        const raw_coeffs r = design_band(band, eq.gain[band], eq.fs);
        band_record &b = eq.bq[band];
        b.b0 = r.b0 / r.a0;
        b.b1 = r.b1 / r.a0;
        b.b2 = r.b2 / r.a0;
        b.a1 = r.a1 / r.a0;
        b.a2 = r.a2 / r.a0;
    }
    eq.dirty = 0;
}

} // namespace qxeq

using namespace qxeq;

// MARK: coefficients and response

int32_t qxeq_eq_coeffs(qxeq_eq *eq, uint32_t band, double *b0, double *b1, double *b2, double *a0,
                       double *a1, double *a2) {
    if (eq == nullptr)
        return QX_ERR_INVALID_ARG;
    if (band >= static_cast<uint32_t>(k_bands))
        return eq->err.fail(QX_ERR_NO_SUCH_BAND);
    if (!b0 || !b1 || !b2 || !a0 || !a1 || !a2)
        return eq->err.fail(QX_ERR_INVALID_ARG);
    const int32_t i = static_cast<int32_t>(band);
    const raw_coeffs r = design_band(i, eq->gain[i], eq->fs);
    *b0 = r.b0;
    *b1 = r.b1;
    *b2 = r.b2;
    *a0 = r.a0;
    *a1 = r.a1;
    *a2 = r.a2;
    eq->err.clear();
    return QX_OK;
}

double qxeq_eq_response_db(const qxeq_eq *eq, double hz) {
    if (eq == nullptr || !std::isfinite(hz) || hz < 0)
        return 0.0;
    if (eq->bypass)
        return 0.0;
    return combined_response_db(eq->gain, eq->fs, hz);
}
