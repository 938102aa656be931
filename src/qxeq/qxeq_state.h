// The equaliser's process-wide state, shared by the files of the qxeq module: configuration,
// band records (coefficients and per-channel histories) and the last-error text. Internal.
#ifndef QXEQ_STATE_H
#define QXEQ_STATE_H

#include "qx_internal.h"

#include <array>
#include <cstdint>

namespace qxeq {

constexpr int32_t k_bands = 8;
constexpr int32_t k_max_channels = 8;
constexpr int32_t k_max_rate = 384000;
constexpr double k_q = 0.8;
constexpr double k_max_gain_db = 24.0;
constexpr std::array<double, k_bands> k_centers = {400, 620, 960, 1500, 2400, 3700, 6200, 9600};

// One band's biquad: coefficients divided by a0, and direct-form-I history per channel.
struct band_record {
    double b0, b1, b2, a1, a2;
    double x1[k_max_channels], x2[k_max_channels], y1[k_max_channels], y2[k_max_channels];
};

// Raw coefficients of one band, before normalisation.
struct raw_coeffs {
    double b0, b1, b2, a0, a1, a2;
};

extern int32_t g_fs;
extern double g_gain[k_bands];
extern int32_t g_bypass;
extern int32_t g_dirty;
extern band_record g_bq[k_bands];
extern qx::last_error g_err;

// Whether a band exists at rate fs: its centre lies below half the rate (2 * centre < fs).
bool band_active(int32_t band, int32_t fs);
// The raw peaking biquad of one band for a gain and a rate; the identity when the band is off.
raw_coeffs design_band(int32_t band, double gain_db, int32_t fs);
raw_coeffs band_coeffs(int32_t band);  // design_band with the current gain and rate
// The combined response in dB of the eight bands with these gains at rate fs, evaluated at a
// finite hz >= 0, exactly as qxeq_response_db reports it (-200.0 where the magnitude vanishes).
double combined_response_db(const double *gain_db, int32_t fs, double hz);
void rebuild_filters();                // refresh g_bq's coefficients, lower g_dirty

} // namespace qxeq

#endif // QXEQ_STATE_H
