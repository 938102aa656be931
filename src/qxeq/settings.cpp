// Equaliser settings: the band layout, the presets, and each instance's gains, bypass and
// sample rate. Setters only mark an instance's coefficients stale (dirty); its next processed
// block rebuilds them once. Calls on one instance must not overlap.
#include "qxeq.h"

#include "equaliser.h"

#include <cmath>

using namespace qxeq;

namespace {

// clang-format off
constexpr std::array<const char *, 16> k_preset_names = {
    "PS_none",       "PS_custom",  "PS_acoustic", "PS_bass_boost", "PS_classical", "PS_dance",
    "PS_electronic", "PS_hip_hop", "PS_jazz",     "PS_loudness",   "PS_pop",       "PS_r_b",
    "PS_rock",       "PS_speech",  "PS_treble_boost", "PS_vocal_boost",
};

// Gains in dB for bands 0..6; presets always leave band 7 (9600 Hz) at 0 dB.
constexpr float k_preset_gains[16][7] = {
    {0, 0, 0, 0, 0, 0, 0},    {0, 0, 0, 0, 0, 0, 0},     {4, 3, 0, 1, 2, 3, 2},
    {5, 3, 2, 1, 0, 0, 0},    {4, 2, 0, -1, 0, 2, 3},    {6, 5, 0, 2, 4, 4, 3},
    {3, 1, -2, -1, 0, 0, 3},  {4, 1, 0, -1, 0, 0, 2},    {2, 1, 1, 0, 1, 1, 2},
    {5, 0, -1, 0, -1, -2, 5}, {-1, -1, 3, 3, 2, 0, -1},  {6, 3, -2, -1, 2, 3, 3},
    {4, 2, 0, 0, 0, 2, 3},    {-1, 0, 1, 3, 4, 4, 2},    {0, 0, 0, 1, 2, 3, 5},
    {0, 0, 2, 5, 2, 0, 0},
};
// clang-format on

bool valid_band(uint32_t band) { return band < static_cast<uint32_t>(k_bands); }

} // namespace

namespace qxeq {

int32_t preset_index(const char *name, qx::last_error &err) {
    if (name == nullptr)
        return (err.fail(QX_ERR_INVALID_ARG), -1);
    for (size_t i = 0; i < k_preset_names.size(); ++i)
        if (std::strcmp(name, k_preset_names[i]) == 0)
            return static_cast<int32_t>(i);
    return (err.fail(QX_ERR_NO_SUCH_PRESET), -1);
}

void reset_histories(qxeq_eq &eq) {
    for (band_record &b : eq.bq) {
        for (int32_t c = 0; c < k_max_channels; ++c)
            b.x1[c] = b.x2[c] = b.y1[c] = b.y2[c] = 0.0;
    }
}

} // namespace qxeq

// MARK: bands and presets

int32_t qxeq_band_count(void) { return k_bands; }

double qxeq_band_center_hz(uint32_t band) {
    if (!valid_band(band))
        return (g_eq.err.fail(QX_ERR_NO_SUCH_BAND), 0.0);
    return k_centers[band];
}

double qxeq_band_q(uint32_t band) {
    if (!valid_band(band))
        return (g_eq.err.fail(QX_ERR_NO_SUCH_BAND), 0.0);
    return k_q;
}

int32_t qxeq_preset_count(void) { return static_cast<int32_t>(k_preset_names.size()); }

const char *qxeq_preset_name(uint32_t index) {
    if (index >= k_preset_names.size())
        return (g_eq.err.fail(QX_ERR_NO_SUCH_PRESET), nullptr);
    return k_preset_names[index];
}

double qxeq_preset_gain(uint32_t preset, uint32_t band) {
    if (preset >= k_preset_names.size())
        return (g_eq.err.fail(QX_ERR_NO_SUCH_PRESET), 0.0);
    if (!valid_band(band))
        return (g_eq.err.fail(QX_ERR_NO_SUCH_BAND), 0.0);
    if (band == k_bands - 1)
        return 0.0;
    return static_cast<double>(k_preset_gains[preset][band]);
}

int32_t qxeq_preset_index_by_name(const char *name) { return preset_index(name, g_eq.err); }

// MARK: instance settings

int32_t qxeq_eq_set_preset(qxeq_eq *eq, const char *name) {
    if (eq == nullptr)
        return QX_ERR_INVALID_ARG;
    const int32_t index = preset_index(name, eq->err);
    if (index < 0)
        return QX_ERR_NO_SUCH_PRESET; // keeps the lookup's text
    eq->preset = index;
    if (index == k_preset_none) {
        eq->bypass = 1;
        for (double &gain : eq->gain)
            gain = 0.0;
    } else {
        eq->bypass = 0;
        if (index != k_preset_custom) {
            for (int32_t band = 0; band < k_bands - 1; ++band)
                eq->gain[band] = static_cast<double>(k_preset_gains[index][band]);
            eq->gain[k_bands - 1] = 0.0;
        }
    }
    eq->dirty = 1;
    reset_histories(*eq);
    eq->err.clear();
    return QX_OK;
}

int32_t qxeq_eq_preset(const qxeq_eq *eq) { return eq != nullptr ? eq->preset : -1; }

int32_t qxeq_eq_set_gain(qxeq_eq *eq, uint32_t band, double gain_db) {
    if (eq == nullptr)
        return QX_ERR_INVALID_ARG;
    if (!valid_band(band))
        return eq->err.fail(QX_ERR_NO_SUCH_BAND);
    if (!std::isfinite(gain_db))
        return eq->err.fail(QX_ERR_INVALID_ARG);
    if (gain_db < -k_max_gain_db || gain_db > k_max_gain_db) {
        char warning[96];
        qx::bounded_format(warning, sizeof warning, "gain clamp band%d %.3f -> [%.0f,%.0f]",
                           static_cast<int>(band), gain_db, -k_max_gain_db, k_max_gain_db);
        qx_warn(warning);
        gain_db = gain_db < 0 ? -k_max_gain_db : k_max_gain_db;
    }
    eq->gain[band] = gain_db;
    if (eq->preset != k_preset_custom) {
        eq->preset = k_preset_custom;
        eq->bypass = 0;
    }
    eq->err.clear();
    eq->dirty = 1;
    return QX_OK;
}

double qxeq_eq_get_gain(qxeq_eq *eq, uint32_t band) {
    if (eq == nullptr)
        return 0.0;
    if (!valid_band(band))
        return (eq->err.fail(QX_ERR_NO_SUCH_BAND), 0.0);
    return eq->gain[band];
}

int32_t qxeq_eq_is_bypassed(const qxeq_eq *eq) { return eq != nullptr ? eq->bypass : 0; }

int32_t qxeq_eq_sample_rate(const qxeq_eq *eq) { return eq != nullptr ? eq->fs : 0; }

int32_t qxeq_eq_set_sample_rate(qxeq_eq *eq, int32_t hz) {
    if (eq == nullptr)
        return QX_ERR_INVALID_ARG;
    if (hz < 1 || hz > k_max_rate)
        return eq->err.fail(QX_ERR_BAD_SAMPLE_RATE);
    if (hz != eq->fs) {
        eq->fs = hz;
        eq->dirty = 1;
        reset_histories(*eq);
    }
    eq->err.clear();
    return QX_OK;
}

void qxeq_eq_reset_state(qxeq_eq *eq) {
    if (eq != nullptr)
        reset_histories(*eq);
}

const char *qxeq_eq_last_error(const qxeq_eq *eq) {
    return eq != nullptr ? eq->err.get() : qx::k_err_text[QX_ERR_INVALID_ARG];
}
