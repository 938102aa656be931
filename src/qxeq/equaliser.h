// One equaliser: its configuration, the band records (coefficients and the per-channel filter
// state) and its last-error text, in one struct that every file of the module works on. The
// flat functions act on the default instance g_eq; qxeq_eq_new makes others. Internal.
#ifndef QXEQ_EQUALISER_H
#define QXEQ_EQUALISER_H

#include "qx_internal.h"
#include "qxeq.h"

#include <array>
#include <cstdint>

namespace qxeq {

constexpr int32_t k_bands = 8;
constexpr int32_t k_max_channels = 8;
constexpr int32_t k_max_rate = 384000;
constexpr int32_t k_default_rate = 44100;
constexpr double k_q = 0.8;
constexpr double k_max_gain_db = 24.0;
constexpr std::array<double, k_bands> k_centers = {400, 620, 960, 1500, 2400, 3700, 6200, 9600};
// Band outputs of smaller magnitude are stored and passed on as exact zero, so silence settles
// to exact zero and never runs into subnormal arithmetic; exactly +-k_flush_bound stays.
constexpr double k_flush_bound = 1e-20;

constexpr int32_t k_preset_none = 0;
constexpr int32_t k_preset_custom = 1;

// One band's biquad: coefficients divided by a0, and the direct-form-I filter state (the last
// two inputs and outputs of this band) of each channel.
struct band_record {
    double b0, b1, b2, a1, a2;
    double x1[k_max_channels], x2[k_max_channels], y1[k_max_channels], y2[k_max_channels];
};

// Raw coefficients of one band, before normalisation.
struct raw_coeffs {
    double b0, b1, b2, a0, a1, a2;
};

} // namespace qxeq

struct qxeq_eq {
    int32_t fs;                          // sample rate, 1..k_max_rate
    double gain[qxeq::k_bands];          // dB, within -24..+24
    int32_t preset;                      // index of the preset in force
    int32_t bypass;                      // 1 exactly while preset is k_preset_none
    int32_t dirty;                       // coefficients in bq are stale
    qxeq::band_record bq[qxeq::k_bands]; // coefficients and filter state
    qx::last_error err;
};

namespace qxeq {

// The load-time settings of every instance: bypassed under "PS_none" at 44100 Hz, gains 0 dB,
// coefficients stale, filter state and last error cleared. Constant, so the default instance
// needs no code at load.
constexpr qxeq_eq k_new_instance = {k_default_rate, {}, k_preset_none, 1, 1, {}, {}};

extern qxeq_eq g_eq; // the default instance: what the flat functions act on

// Whether a band exists at rate fs: its centre lies below half the rate (2 * centre < fs).
bool band_active(int32_t band, int32_t fs);
// The raw peaking biquad of one band for a gain and a rate; the identity when the band is off.
raw_coeffs design_band(int32_t band, double gain_db, int32_t fs);
// The combined response in dB of the eight bands with these gains at rate fs, evaluated at a
// finite hz >= 0, exactly as qxeq_response_db reports it (-200.0 where the magnitude vanishes).
double combined_response_db(const double *gain_db, int32_t fs, double hz);
// Refresh eq's normalised coefficients from its gains and rate, and lower eq.dirty.
void rebuild_filters(qxeq_eq &eq);
// Clear the filter state of every band and channel.
void reset_histories(qxeq_eq &eq);

// Lookups shared by the flat and the instance calls; failures write err.
int32_t preset_index(const char *name, qx::last_error &err);

} // namespace qxeq

#endif // QXEQ_EQUALISER_H
