// Block processing through the public API, checked against the straightforward oracle and the
// reference impulse response.
#include "defaults.h"
#include "oracle.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using Process = EqualiserTest;
constexpr float k_nanf = std::numeric_limits<float>::quiet_NaN();
constexpr float k_inff = std::numeric_limits<float>::infinity();

std::vector<float> sine(int32_t frames, int32_t channels, double hz, double amp) {
    std::vector<float> s(static_cast<size_t>(frames) * static_cast<size_t>(channels));
    for (size_t i = 0; i < s.size(); ++i) {
        const size_t f = i / static_cast<size_t>(channels), c = i % static_cast<size_t>(channels);
        s[i] = static_cast<float>(amp * std::sin(2 * M_PI * hz * (1 + static_cast<double>(c)) *
                                                 static_cast<double>(f) / 44100.0));
    }
    return s;
}

bool same_bits(const std::vector<float> &a, const std::vector<float> &b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST_F(Process, InvalidArgumentsFailFirstAndChangeNothing) {
    float block[16] = {0.5f};
    struct {
        float *samples;
        int32_t frames, channels;
    } const cases[] = {{block, 1, 0},   {block, 1, 9}, {block, -1, 1},       {nullptr, 1, 1},
                       {nullptr, 0, 1}, {block, 0, 0}, {block, INT32_MIN, 2}};
    for (bool bypassed : {true, false}) {
        qxeq_set_preset(bypassed ? "PS_none" : "PS_rock");
        for (const auto &c : cases) {
            qxeq_set_sample_rate(44100);
            EXPECT_EQ(qxeq_process_f32(c.samples, c.frames, c.channels), QX_ERR_INVALID_ARG);
            EXPECT_STREQ(qxeq_last_error(), "ERR_INVALID_ARG");
            qxeq_set_sample_rate(44100);
            EXPECT_EQ(qxeq_process_s16(c.samples ? reinterpret_cast<int16_t *>(block) : nullptr,
                                       c.frames, c.channels),
                      7);
            EXPECT_STREQ(qxeq_last_error(), "ERR_INVALID_ARG");
        }
    }
    EXPECT_EQ(block[0], 0.5f);
}

TEST_F(Process, BypassedBlocksComeBackBitIdentical) {
    ASSERT_EQ(qxeq_set_preset("PS_rock"), QX_OK);
    ASSERT_EQ(qxeq_set_preset("PS_none"), QX_OK);
    std::vector<float> s = {0.5f, -0.0f, k_nanf, k_inff, 1e-30f, FLT_MAX, -1.0f, 0.25f};
    const std::vector<float> before = s;
    EXPECT_EQ(qxeq_process_f32(s.data(), 4, 2), QX_OK);
    EXPECT_TRUE(same_bits(s, before));
    int16_t pcm[3] = {-32768, 0, 32767};
    EXPECT_EQ(qxeq_process_s16(pcm, 3, 1), QX_OK);
    EXPECT_EQ(pcm[0], -32768);
    EXPECT_EQ(pcm[2], 32767);
}

TEST_F(Process, ImpulseResponseOfOneBoostedBand) {
    ASSERT_EQ(qxeq_set_gain(0, 24.0), QX_OK);
    std::vector<float> s(4, 0.0f);
    s[0] = 1.0f;
    ASSERT_EQ(qxeq_process_f32(s.data(), 4, 1), QX_OK);
    EXPECT_STREQ(qxeq_last_error(), "OK");
    const float expected[] = {1.1316059f, 0.26045525f, 0.25457668f, 0.24798304f};
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(s[static_cast<size_t>(i)], expected[i], 2e-7f) << i;
}

TEST_F(Process, ImpulseDecaysToExactZero) {
    ASSERT_EQ(qxeq_set_gain(0, 24.0), QX_OK);
    std::vector<float> s(8000, 0.0f);
    s[0] = 1.0f;
    ASSERT_EQ(qxeq_process_f32(s.data(), 8000, 1), QX_OK);
    size_t last_nonzero = 0;
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] != 0.0f)
            last_nonzero = i;
    EXPECT_GT(last_nonzero, 1000u);
    EXPECT_LT(last_nonzero, 6000u);
    for (size_t i = last_nonzero + 1; i < s.size(); ++i)
        ASSERT_EQ(s[i], 0.0f) << i;
}

TEST_F(Process, MatchesTheOracleAcrossBlocksFormatsAndGainChanges) {
    oracle_eq ref;
    ASSERT_EQ(qxeq_set_preset("PS_dance"), QX_OK);
    ASSERT_EQ(qxeq_set_sample_rate(48000), QX_OK);
    ref.load_coefficients();
    for (int32_t channels : {1, 2, 6, 8}) {
        auto f32 = sine(700, channels, 311.0, 0.9);
        auto expected = f32;
        ASSERT_EQ(qxeq_process_f32(f32.data(), 700, channels), QX_OK);
        ref.process_f32(expected.data(), 700, channels);
        EXPECT_TRUE(same_bits(f32, expected)) << channels;

        ASSERT_EQ(qxeq_set_gain(static_cast<uint32_t>(channels - 1), -7.5), QX_OK); // keeps history
        ref.load_coefficients();
        std::vector<int16_t> pcm(static_cast<size_t>(500 * channels));
        for (size_t i = 0; i < pcm.size(); ++i)
            pcm[i] = static_cast<int16_t>(static_cast<int32_t>((i * 7919u) % 65536u) - 32768);
        auto pcm_expected = pcm;
        ASSERT_EQ(qxeq_process_s16(pcm.data(), 500, channels), QX_OK);
        ref.process_s16(pcm_expected.data(), 500, channels);
        EXPECT_EQ(pcm, pcm_expected) << channels;
    }
}

TEST_F(Process, NonFiniteInputClearsOnlyItsChannel) {
    oracle_eq ref;
    ASSERT_EQ(qxeq_set_preset("PS_loudness"), QX_OK);
    ref.load_coefficients();
    auto s = sine(64, 2, 500.0, 0.5);
    s[2 * 40] = k_nanf;
    s[2 * 50 + 1] = -k_inff;
    auto expected = s;
    ASSERT_EQ(qxeq_process_f32(s.data(), 64, 2), QX_OK);
    ref.process_f32(expected.data(), 64, 2);
    EXPECT_EQ(s[2 * 40], 0.0f);
    EXPECT_EQ(s[2 * 50 + 1], 0.0f);
    EXPECT_TRUE(same_bits(s, expected));
    for (float v : s)
        EXPECT_FALSE(std::isnan(v));
}

TEST_F(Process, SixteenBitLimits) {
    ASSERT_EQ(qxeq_set_gain(0, 0.0), QX_OK); // active at 0 dB: an identity apart from scaling
    int16_t pcm[] = {-32768, -32767, -1, 0, 1, 16384, 32767};
    const int16_t expected[] = {-32767, -32766, -1, 0, 1, 16384, 32766}; // 16383.5: ties to even
    ASSERT_EQ(qxeq_process_s16(pcm, 7, 1), QX_OK);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(pcm[i], expected[i]) << i;
}

TEST_F(Process, ResultsBeyondFloatRangeBecomeInfinityOrFullScale) {
    ASSERT_EQ(qxeq_set_gain(0, 24.0), QX_OK);
    float s[2] = {FLT_MAX, -FLT_MAX};
    ASSERT_EQ(qxeq_process_f32(s, 1, 2), QX_OK);
    EXPECT_EQ(s[0], k_inff);
    EXPECT_EQ(s[1], -k_inff);
    // The histories keep their huge finite doubles, so the next 16-bit block saturates.
    int16_t pcm[2] = {0, 0};
    ASSERT_EQ(qxeq_process_s16(pcm, 1, 2), QX_OK);
    EXPECT_EQ(pcm[0], 32767);
    EXPECT_EQ(pcm[1], -32767);
}

// Telephone and other low rates: the bands at or above half the rate are off, so a -20 dBFS
// sine comes back finite and no louder than the active bands' boosts allow, in float and 16-bit.
TEST_F(Process, LowRateAudioStaysFiniteAndWithinTheActiveGains) {
    const char *const presets[] = {"PS_rock", "PS_dance", "PS_loudness", "PS_treble_boost"};
    for (int32_t rate : {1, 1000, 8000, 11025, 16000, 19199, 19200, 19201}) {
        for (const char *preset : presets) {
            SCOPED_TRACE(std::to_string(rate) + " " + preset);
            ASSERT_EQ(qxeq_set_sample_rate(rate), QX_OK);
            ASSERT_EQ(qxeq_set_preset(preset), QX_OK);
            ASSERT_EQ(qxeq_set_gain(7, 24.0), QX_OK); // the top band, off below 19201 Hz
            double boost_db = 0.0;
            for (uint32_t band = 0; band < 8; ++band)
                if (2.0 * qxeq_band_center_hz(band) < rate)
                    boost_db += std::max(0.0, qxeq_get_gain(band));
            // twice the steady-state bound leaves room for the onset transient
            const double bound = 0.1 * std::pow(10.0, boost_db / 20.0) * 2.0;
            std::vector<float> s(4000);
            std::vector<int16_t> pcm(s.size());
            for (size_t i = 0; i < s.size(); ++i) {
                s[i] =
                    static_cast<float>(0.1 * std::sin(2 * M_PI * 0.123 * static_cast<double>(i)));
                pcm[i] = static_cast<int16_t>(std::lrint(32767.0 * s[i]));
            }
            ASSERT_EQ(qxeq_process_f32(s.data(), 4000, 1), QX_OK);
            qxeq_reset_state();
            ASSERT_EQ(qxeq_process_s16(pcm.data(), 4000, 1), QX_OK);
            for (size_t i = 0; i < s.size(); ++i) {
                ASSERT_TRUE(std::isfinite(s[i])) << i;
                ASSERT_LE(std::fabs(s[i]), bound) << i;
                ASSERT_LE(std::abs(pcm[i]), 32767.0 * bound) << i;
            }
        }
    }
}

// At 800 Hz and below no band exists: every sample passes through unchanged.
TEST_F(Process, NoActiveBandPassesAudioThrough) {
    ASSERT_EQ(qxeq_set_preset("PS_dance"), QX_OK);
    for (int32_t rate : {1, 44, 800}) {
        ASSERT_EQ(qxeq_set_sample_rate(rate), QX_OK);
        auto s = sine(300, 2, 1000.0, 0.7);
        const auto before = s;
        ASSERT_EQ(qxeq_process_f32(s.data(), 300, 2), QX_OK);
        EXPECT_TRUE(same_bits(s, before)) << rate;
    }
}

TEST_F(Process, HistoriesSurviveAGainChangeAndResetOnPresetOrNewRate) {
    ASSERT_EQ(qxeq_set_gain(0, 12.0), QX_OK);
    auto first = sine(100, 1, 400.0, 0.8);
    ASSERT_EQ(qxeq_process_f32(first.data(), 100, 1), QX_OK);
    auto run_zeros = [] {
        std::vector<float> z(8, 0.0f);
        qxeq_process_f32(z.data(), 8, 1);
        return z;
    };
    ASSERT_EQ(qxeq_set_sample_rate(44100), QX_OK); // same rate: history kept
    EXPECT_NE(run_zeros()[0], 0.0f);
    ASSERT_EQ(qxeq_set_sample_rate(48000), QX_OK); // new rate: history cleared
    EXPECT_EQ(run_zeros()[0], 0.0f);
    ASSERT_EQ(qxeq_process_f32(first.data(), 100, 1), QX_OK);
    ASSERT_EQ(qxeq_set_gain(0, 3.0), QX_OK); // gain change: history kept
    EXPECT_NE(run_zeros()[0], 0.0f);
    ASSERT_EQ(qxeq_set_preset("PS_custom"), QX_OK); // preset: history cleared
    EXPECT_EQ(run_zeros()[0], 0.0f);
    ASSERT_EQ(qxeq_process_f32(first.data(), 100, 1), QX_OK);
    qxeq_reset_state();
    EXPECT_EQ(run_zeros()[0], 0.0f);
}

} // namespace
