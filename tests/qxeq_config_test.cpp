// Equaliser configuration: bands, presets, gains with clamping, bypass, rate, last error.
#include "defaults.h"

#include <cmath>
#include <limits>
#include <string>

namespace {

using Config = EqualiserTest;
constexpr double k_nan = std::numeric_limits<double>::quiet_NaN();
constexpr double k_inf = std::numeric_limits<double>::infinity();

TEST_F(Config, BandLayout) {
    EXPECT_EQ(qxeq_band_count(), 8);
    const double centers[] = {400, 620, 960, 1500, 2400, 3700, 6200, 9600};
    for (uint32_t band = 0; band < 8; ++band) {
        EXPECT_EQ(qxeq_band_center_hz(band), centers[band]);
        EXPECT_EQ(qxeq_band_q(band), 0.8);
    }
    EXPECT_STREQ(qxeq_last_error(), "OK");
    for (uint32_t band : {8u, 0xFFFFFFFFu}) { // -1 from a host arrives as 0xFFFFFFFF
        qxeq_set_sample_rate(44100);
        EXPECT_EQ(qxeq_band_center_hz(band), 0.0);
        EXPECT_STREQ(qxeq_last_error(), "ERR_NO_SUCH_BAND");
        qxeq_set_sample_rate(44100);
        EXPECT_EQ(qxeq_band_q(band), 0.0);
        EXPECT_STREQ(qxeq_last_error(), "ERR_NO_SUCH_BAND");
    }
}

TEST_F(Config, PresetTable) {
    const char *names[] = {"PS_none",      "PS_custom",   "PS_acoustic",     "PS_bass_boost",
                           "PS_classical", "PS_dance",    "PS_electronic",   "PS_hip_hop",
                           "PS_jazz",      "PS_loudness", "PS_pop",          "PS_r_b",
                           "PS_rock",      "PS_speech",   "PS_treble_boost", "PS_vocal_boost"};
    const double gains[16][7] = {
        {0, 0, 0, 0, 0, 0, 0},    {0, 0, 0, 0, 0, 0, 0},    {4, 3, 0, 1, 2, 3, 2},
        {5, 3, 2, 1, 0, 0, 0},    {4, 2, 0, -1, 0, 2, 3},   {6, 5, 0, 2, 4, 4, 3},
        {3, 1, -2, -1, 0, 0, 3},  {4, 1, 0, -1, 0, 0, 2},   {2, 1, 1, 0, 1, 1, 2},
        {5, 0, -1, 0, -1, -2, 5}, {-1, -1, 3, 3, 2, 0, -1}, {6, 3, -2, -1, 2, 3, 3},
        {4, 2, 0, 0, 0, 2, 3},    {-1, 0, 1, 3, 4, 4, 2},   {0, 0, 0, 1, 2, 3, 5},
        {0, 0, 2, 5, 2, 0, 0}};
    ASSERT_EQ(qxeq_preset_count(), 16);
    for (uint32_t p = 0; p < 16; ++p) {
        SCOPED_TRACE(names[p]);
        EXPECT_STREQ(qxeq_preset_name(p), names[p]);
        EXPECT_EQ(qxeq_preset_index_by_name(names[p]), static_cast<int32_t>(p));
        for (uint32_t band = 0; band < 7; ++band)
            EXPECT_EQ(qxeq_preset_gain(p, band), gains[p][band]);
        EXPECT_EQ(qxeq_preset_gain(p, 7), 0.0);
    }
    EXPECT_STREQ(qxeq_last_error(), "OK"); // band 7 is no error
}

TEST_F(Config, PresetLookupErrors) {
    struct {
        uint32_t preset, band;
        const char *error;
    } const cases[] = {{16, 0, "ERR_NO_SUCH_PRESET"},
                       {16, 9, "ERR_NO_SUCH_PRESET"},
                       {0xFFFFFFFF, 0, "ERR_NO_SUCH_PRESET"},
                       {2, 8, "ERR_NO_SUCH_BAND"}};
    for (const auto &c : cases) {
        qxeq_set_sample_rate(44100);
        EXPECT_EQ(qxeq_preset_gain(c.preset, c.band), 0.0);
        EXPECT_STREQ(qxeq_last_error(), c.error);
    }
    qxeq_set_sample_rate(44100);
    EXPECT_EQ(qxeq_preset_name(16), nullptr);
    EXPECT_STREQ(qxeq_last_error(), "ERR_NO_SUCH_PRESET");
    qxeq_set_sample_rate(44100);
    EXPECT_EQ(qxeq_preset_index_by_name("PS_Rock"), -1);
    EXPECT_STREQ(qxeq_last_error(), "ERR_NO_SUCH_PRESET");
    EXPECT_EQ(qxeq_preset_index_by_name(nullptr), -1);
    EXPECT_STREQ(qxeq_last_error(), "ERR_INVALID_ARG");
}

TEST_F(Config, SetPresetLoadsGainsAndBypass) {
    ASSERT_EQ(qxeq_set_preset("PS_rock"), QX_OK);
    const double rock[] = {4, 2, 0, 0, 0, 2, 3, 0};
    for (uint32_t band = 0; band < 8; ++band)
        EXPECT_EQ(qxeq_get_gain(band), rock[band]);
    EXPECT_EQ(qxeq_is_bypassed(), 0);

    ASSERT_EQ(qxeq_set_gain(7, 5.0), QX_OK);
    ASSERT_EQ(qxeq_set_preset("PS_custom"), QX_OK); // keeps the gains, stays active
    EXPECT_EQ(qxeq_get_gain(0), 4.0);
    EXPECT_EQ(qxeq_get_gain(7), 5.0);
    EXPECT_EQ(qxeq_is_bypassed(), 0);

    ASSERT_EQ(qxeq_set_preset("PS_rock"), QX_OK); // presets always reset band 7
    EXPECT_EQ(qxeq_get_gain(7), 0.0);

    ASSERT_EQ(qxeq_set_preset("PS_none"), QX_OK);
    for (uint32_t band = 0; band < 8; ++band)
        EXPECT_EQ(qxeq_get_gain(band), 0.0);
    EXPECT_EQ(qxeq_is_bypassed(), 1);
}

TEST_F(Config, SetPresetFailuresChangeNothing) {
    ASSERT_EQ(qxeq_set_preset("PS_jazz"), QX_OK);
    EXPECT_EQ(qxeq_set_preset("rock"), QX_ERR_NO_SUCH_PRESET);
    EXPECT_STREQ(qxeq_last_error(), "ERR_NO_SUCH_PRESET");
    EXPECT_EQ(qxeq_set_preset(nullptr), QX_ERR_NO_SUCH_PRESET);
    EXPECT_STREQ(qxeq_last_error(), "ERR_INVALID_ARG");
    EXPECT_EQ(qxeq_get_gain(0), 2.0);
    EXPECT_EQ(qxeq_is_bypassed(), 0);
    EXPECT_EQ(qxeq_set_preset("PS_jazz"), QX_OK);
    EXPECT_STREQ(qxeq_last_error(), "OK");
}

TEST_F(Config, SetGainClampsAndWarns) {
    struct {
        uint32_t band;
        double requested, stored;
        const char *warning; // null: none expected
    } const cases[] = {
        {3, 30.0, 24.0, "gain clamp band3 30.000 -> [-24,24]"},
        {0, -24.5, -24.0, "gain clamp band0 -24.500 -> [-24,24]"},
        {0, -24.0, -24.0, nullptr},
        {7, 24.0, 24.0, nullptr},
        {5, -3.25, -3.25, nullptr},
        {1, std::numeric_limits<double>::max(), 24.0, nullptr}, // checked below: cut to 95
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.requested);
        qx_clear_warnings();
        EXPECT_EQ(qxeq_set_gain(c.band, c.requested), QX_OK);
        EXPECT_EQ(qxeq_get_gain(c.band), c.stored);
        EXPECT_STREQ(qxeq_last_error(), "OK");
        EXPECT_EQ(qxeq_is_bypassed(), 0);
        if (c.warning) {
            ASSERT_EQ(qx_warning_count(), 1);
            EXPECT_STREQ(qx_warning(0), c.warning);
        } else if (c.requested <= 24.0) {
            EXPECT_EQ(qx_warning_count(), 0);
        }
    }
}

TEST_F(Config, HugeGainWarningIsCutToItsBuffer) {
    ASSERT_EQ(qxeq_set_gain(0, 1e100), QX_OK);
    EXPECT_EQ(qxeq_get_gain(0), 24.0);
    ASSERT_EQ(qx_warning_count(), 1);
    const std::string w = qx_warning(0);
    EXPECT_EQ(w.size(), 95u);
    EXPECT_EQ(w.rfind("gain clamp band0 10000000000", 0), 0u);
}

TEST_F(Config, SetGainSelectsCustomEvenAtZero) {
    ASSERT_EQ(qxeq_set_gain(0, 0.0), QX_OK);
    EXPECT_EQ(qxeq_is_bypassed(), 0);
    EXPECT_EQ(qxeq_get_gain(0), 0.0);
    // Under PS_custom, PS_custom again keeps it active.
    ASSERT_EQ(qxeq_set_preset("PS_custom"), QX_OK);
    EXPECT_EQ(qxeq_is_bypassed(), 0);
}

TEST_F(Config, SetGainRejectsBadInputAndChangesNothing) {
    struct {
        uint32_t band;
        double gain;
        int32_t status;
        const char *error;
    } const cases[] = {{8, 1.0, QX_ERR_NO_SUCH_BAND, "ERR_NO_SUCH_BAND"},
                       {0xFFFFFFFF, 1.0, QX_ERR_NO_SUCH_BAND, "ERR_NO_SUCH_BAND"},
                       {0, k_nan, QX_ERR_INVALID_ARG, "ERR_INVALID_ARG"},
                       {0, k_inf, QX_ERR_INVALID_ARG, "ERR_INVALID_ARG"},
                       {0, -k_inf, QX_ERR_INVALID_ARG, "ERR_INVALID_ARG"},
                       {9, k_nan, QX_ERR_NO_SUCH_BAND, "ERR_NO_SUCH_BAND"}};
    for (const auto &c : cases) {
        EXPECT_EQ(qxeq_set_gain(c.band, c.gain), c.status);
        EXPECT_STREQ(qxeq_last_error(), c.error);
        EXPECT_EQ(qxeq_get_gain(0), 0.0);
        EXPECT_EQ(qxeq_is_bypassed(), 1);
        EXPECT_EQ(qx_warning_count(), 0);
    }
}

TEST_F(Config, FailureTextSurvivesSuccessfulGetters) {
    EXPECT_EQ(qxeq_set_gain(8, 1.0), QX_ERR_NO_SUCH_BAND);
    EXPECT_EQ(qxeq_get_gain(0), 0.0);
    EXPECT_EQ(qxeq_preset_gain(2, 0), 4.0);
    EXPECT_STREQ(qxeq_preset_name(3), "PS_bass_boost");
    EXPECT_EQ(qxeq_preset_index_by_name("PS_pop"), 10);
    EXPECT_EQ(qxeq_band_center_hz(0), 400.0);
    qxeq_reset_state();
    EXPECT_EQ(qxeq_response_db(100.0), 0.0);
    EXPECT_STREQ(qxeq_last_error(), "ERR_NO_SUCH_BAND");
    EXPECT_EQ(qxeq_set_gain(1, 2.0), QX_OK);
    EXPECT_STREQ(qxeq_last_error(), "OK");
}

TEST_F(Config, SampleRateBounds) {
    struct {
        int32_t hz, status;
    } const cases[] = {{0, QX_ERR_BAD_SAMPLE_RATE},
                       {-1, QX_ERR_BAD_SAMPLE_RATE},
                       {384001, QX_ERR_BAD_SAMPLE_RATE},
                       {INT32_MIN, QX_ERR_BAD_SAMPLE_RATE},
                       {1, QX_OK},
                       {384000, QX_OK},
                       {48000, QX_OK}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hz);
        qxeq_set_sample_rate(44100);
        EXPECT_EQ(qxeq_set_sample_rate(c.hz), c.status);
        EXPECT_EQ(qxeq_sample_rate(), c.status == QX_OK ? c.hz : 44100);
        EXPECT_STREQ(qxeq_last_error(), c.status == QX_OK ? "OK" : "ERR_BAD_SAMPLE_RATE");
    }
}

} // namespace
