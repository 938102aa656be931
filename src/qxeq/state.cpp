// Equaliser configuration: band layout, presets, gains, bypass and sample rate. Setters only
// mark the coefficients stale (g_dirty); the next processed block rebuilds them once. Calls
// must not overlap: no locks are taken.
#include "qxeq.h"

#include "qxeq_state.h"

#include <cmath>

namespace qxeq {

int32_t g_fs = 44100;
double g_gain[k_bands] = {};
int32_t g_bypass = 1;
int32_t g_dirty = 1;
band_record g_bq[k_bands] = {};
qx::last_error g_err = {};

} // namespace qxeq

using namespace qxeq;

namespace {

constexpr int32_t k_preset_none = 0;
constexpr int32_t k_preset_custom = 1;

constexpr std::array<const char *, 16> k_preset_names = {
    "PS_none",    "PS_custom",   "PS_acoustic", "PS_bass_boost",   "PS_classical",   "PS_dance",
    "PS_electronic", "PS_hip_hop", "PS_jazz",   "PS_loudness",     "PS_pop",         "PS_r_b",
    "PS_rock",    "PS_speech",   "PS_treble_boost", "PS_vocal_boost",
};

// Gains in dB for bands 0..6; presets always leave band 7 (9600 Hz) at 0 dB.
constexpr float k_preset_gains[16][7] = {
    {0, 0, 0, 0, 0, 0, 0},   {0, 0, 0, 0, 0, 0, 0},    {4, 3, 0, 1, 2, 3, 2},
    {5, 3, 2, 1, 0, 0, 0},   {4, 2, 0, -1, 0, 2, 3},   {6, 5, 0, 2, 4, 4, 3},
    {3, 1, -2, -1, 0, 0, 3}, {4, 1, 0, -1, 0, 0, 2},   {2, 1, 1, 0, 1, 1, 2},
    {5, 0, -1, 0, -1, -2, 5}, {-1, -1, 3, 3, 2, 0, -1}, {6, 3, -2, -1, 2, 3, 3},
    {4, 2, 0, 0, 0, 2, 3},   {-1, 0, 1, 3, 4, 4, 2},   {0, 0, 0, 1, 2, 3, 5},
    {0, 0, 2, 5, 2, 0, 0},
};

int32_t g_preset = k_preset_none;  // read only by qxeq_set_gain

bool valid_band(uint32_t band) { return band < static_cast<uint32_t>(k_bands); }

} // namespace

// MARK: bands and presets

int32_t qxeq_band_count(void) { return k_bands; }

double qxeq_band_center_hz(uint32_t band) {
    if (!valid_band(band)) return (g_err.fail(QX_ERR_NO_SUCH_BAND), 0.0);
    return k_centers[band];
}

double qxeq_band_q(uint32_t band) {
    if (!valid_band(band)) return (g_err.fail(QX_ERR_NO_SUCH_BAND), 0.0);
    return k_q;
}

int32_t qxeq_preset_count(void) { return static_cast<int32_t>(k_preset_names.size()); }

const char *qxeq_preset_name(uint32_t index) {
    if (index >= k_preset_names.size()) return (g_err.fail(QX_ERR_NO_SUCH_PRESET), nullptr);
    return k_preset_names[index];
}

double qxeq_preset_gain(uint32_t preset, uint32_t band) {
    if (preset >= k_preset_names.size()) return (g_err.fail(QX_ERR_NO_SUCH_PRESET), 0.0);
    if (!valid_band(band)) return (g_err.fail(QX_ERR_NO_SUCH_BAND), 0.0);
    if (band == k_bands - 1) return 0.0;
    return static_cast<double>(k_preset_gains[preset][band]);
}

int32_t qxeq_preset_index_by_name(const char *name) {
    if (name == nullptr) return (g_err.fail(QX_ERR_INVALID_ARG), -1);
    for (size_t i = 0; i < k_preset_names.size(); ++i)
        if (std::strcmp(name, k_preset_names[i]) == 0) return static_cast<int32_t>(i);
    return (g_err.fail(QX_ERR_NO_SUCH_PRESET), -1);
}

// MARK: configuration

int32_t qxeq_set_preset(const char *name) {
    const int32_t index = qxeq_preset_index_by_name(name);
    if (index < 0) return QX_ERR_NO_SUCH_PRESET;  // keeps the lookup's text
    g_preset = index;
    if (index == k_preset_none) {
        g_bypass = 1;
        for (double &gain : g_gain) gain = 0.0;
    } else {
        g_bypass = 0;
        if (index != k_preset_custom) {
            for (int32_t band = 0; band < k_bands - 1; ++band)
                g_gain[band] = static_cast<double>(k_preset_gains[index][band]);
            g_gain[k_bands - 1] = 0.0;
        }
    }
    g_dirty = 1;
    qxeq_reset_state();
    g_err.clear();
    return QX_OK;
}

int32_t qxeq_set_gain(uint32_t band, double gain_db) {
    if (!valid_band(band)) return g_err.fail(QX_ERR_NO_SUCH_BAND);
    if (!std::isfinite(gain_db)) return g_err.fail(QX_ERR_INVALID_ARG);
    if (gain_db < -k_max_gain_db || gain_db > k_max_gain_db) {
        char warning[96];
        qx::bounded_format(warning, sizeof warning, "gain clamp band%d %.3f -> [%.0f,%.0f]",
                           static_cast<int>(band), gain_db, -k_max_gain_db, k_max_gain_db);
        qx_warn(warning);
        gain_db = gain_db < 0 ? -k_max_gain_db : k_max_gain_db;
    }
    g_gain[band] = gain_db;
    if (g_preset != k_preset_custom) {
        g_preset = k_preset_custom;
        g_bypass = 0;
    }
    g_err.clear();
    g_dirty = 1;
    return QX_OK;
}

double qxeq_get_gain(uint32_t band) {
    if (!valid_band(band)) return (g_err.fail(QX_ERR_NO_SUCH_BAND), 0.0);
    return g_gain[band];
}

int32_t qxeq_is_bypassed(void) { return g_bypass; }

int32_t qxeq_sample_rate(void) { return g_fs; }

int32_t qxeq_set_sample_rate(int32_t hz) {
    if (hz < 1 || hz > k_max_rate) return g_err.fail(QX_ERR_BAD_SAMPLE_RATE);
    if (hz != g_fs) {
        g_fs = hz;
        g_dirty = 1;
        qxeq_reset_state();
    }
    g_err.clear();
    return QX_OK;
}

void qxeq_reset_state(void) {
    for (band_record &b : g_bq) {
        for (int32_t c = 0; c < k_max_channels; ++c) b.x1[c] = b.x2[c] = b.y1[c] = b.y2[c] = 0.0;
    }
}

const char *qxeq_last_error(void) { return g_err.get(); }
