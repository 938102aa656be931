// Coefficients and the combined response. Reference values were computed independently from the
// textbook peaking-biquad formulas and are compared at the precision they were printed with.
#include "defaults.h"

#include <cmath>
#include <limits>

namespace {

using Filter = EqualiserTest;

TEST_F(Filter, ZeroGainResponseIsExactlyZero) {
    ASSERT_EQ(qxeq_set_gain(0, 0.0), QX_OK); // active, all bands at 0 dB
    for (double hz : {0.0, 1.0, 400.0, 1000.0, 9600.0, 22050.0, 30000.0, 1e9})
        EXPECT_EQ(qxeq_response_db(hz), 0.0) << hz;
}

TEST_F(Filter, BypassAndBadFrequenciesGiveZero) {
    ASSERT_EQ(qxeq_set_preset("PS_rock"), QX_OK);
    EXPECT_NE(qxeq_response_db(400.0), 0.0);
    for (double hz :
         {-1.0, -0.0 - 1e-300, std::numeric_limits<double>::quiet_NaN(),
          std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()})
        EXPECT_EQ(qxeq_response_db(hz), 0.0) << hz;
    ASSERT_EQ(qxeq_set_preset("PS_none"), QX_OK);
    for (double hz : {100.0, 400.0, 9600.0})
        EXPECT_EQ(qxeq_response_db(hz), 0.0);
}

TEST_F(Filter, SingleBandReferenceValues) {
    ASSERT_EQ(qxeq_set_gain(0, 24.0), QX_OK);
    struct {
        double hz, db, tol;
    } const cases[] = {
        {400.0, 24.0, 5e-7}, {200.0, 10.605, 5e-4}, {800.0, 10.598, 5e-4}, {9600.0, 0.129, 5e-4}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hz);
        EXPECT_NEAR(qxeq_response_db(c.hz), c.db, c.tol);
    }
    double b0, b1, b2, a0, a1, a2;
    ASSERT_EQ(qxeq_coeffs(0, &b0, &b1, &b2, &a0, &a1, &a2), QX_OK);
    EXPECT_NEAR(b0, 1.1417249, 5e-8);
    EXPECT_NEAR(b1, -1.9967530, 5e-8);
    EXPECT_EQ(a1, b1);
    EXPECT_NEAR(b2, 0.8582751, 5e-8);
    EXPECT_NEAR(a0, 1.0089422, 5e-8);
    EXPECT_NEAR(a2, 0.9910578, 5e-8);
}

TEST_F(Filter, AllBandsAtTheLimits) {
    for (uint32_t band = 0; band < 8; ++band)
        ASSERT_EQ(qxeq_set_gain(band, 24.0), QX_OK);
    EXPECT_NEAR(qxeq_response_db(1500.0), 78.682, 5e-4);
    for (uint32_t band = 0; band < 8; ++band)
        ASSERT_EQ(qxeq_set_gain(band, -24.0), QX_OK);
    EXPECT_NEAR(qxeq_response_db(1500.0), -78.682, 5e-4);
}

TEST_F(Filter, CoefficientsFollowGainAndRateEvenWhileBypassed) {
    double b0, b1, b2, a0, a1, a2;
    ASSERT_EQ(qxeq_coeffs(3, &b0, &b1, &b2, &a0, &a1, &a2), QX_OK);
    EXPECT_EQ(b0, a0); // 0 dB: numerator and denominator coincide
    EXPECT_EQ(b2, a2);
    ASSERT_EQ(qxeq_set_sample_rate(48000), QX_OK);
    double c0, c1, c2, d0, d1, d2;
    ASSERT_EQ(qxeq_coeffs(3, &c0, &c1, &c2, &d0, &d1, &d2), QX_OK);
    EXPECT_NE(c1, b1);
    const double w0 = (1500.0 * 6.283185307179586) / 48000.0;
    EXPECT_EQ(c1, -2 * std::cos(w0));
    EXPECT_EQ(c0, 1 + std::sin(w0) / 1.6);
}

// Rates around and below twice the band centres: a band is active exactly while 2 * centre is
// below the rate, and a band that is off reports the identity biquad.
const int32_t k_low_rates[] = {1, 1000, 8000, 11025, 16000, 19199, 19200, 19201, 44100};

TEST_F(Filter, BandsAtOrAboveHalfTheRateAreTheIdentity) {
    for (int32_t rate : k_low_rates) {
        SCOPED_TRACE(rate);
        ASSERT_EQ(qxeq_set_sample_rate(rate), QX_OK);
        for (uint32_t band = 0; band < 8; ++band) {
            ASSERT_EQ(qxeq_set_gain(band, 24.0), QX_OK);
            double b0, b1, b2, a0, a1, a2;
            ASSERT_EQ(qxeq_coeffs(band, &b0, &b1, &b2, &a0, &a1, &a2), QX_OK);
            const bool active = 2.0 * qxeq_band_center_hz(band) < static_cast<double>(rate);
            if (active) {
                EXPECT_GT(b0, a0) << band; // a boost
                EXPECT_NE(b1, 0.0) << band;
            } else {
                const double got[] = {b0, b1, b2, a0, a1, a2};
                const double identity[] = {1, 0, 0, 1, 0, 0};
                for (int i = 0; i < 6; ++i)
                    EXPECT_EQ(got[i], identity[i]) << band << " " << i;
            }
        }
    }
    // the boundary is exact: the 9600 Hz band is off at 19200 Hz and on at 19201 Hz
    ASSERT_EQ(qxeq_set_sample_rate(19200), QX_OK);
    double b0, b1, b2, a0, a1, a2;
    ASSERT_EQ(qxeq_coeffs(7, &b0, &b1, &b2, &a0, &a1, &a2), QX_OK);
    EXPECT_EQ(b1, 0.0);
    ASSERT_EQ(qxeq_set_sample_rate(19201), QX_OK);
    ASSERT_EQ(qxeq_coeffs(7, &b0, &b1, &b2, &a0, &a1, &a2), QX_OK);
    EXPECT_NE(b1, 0.0); // -2 cos w0, close to +2 just above the boundary
}

TEST_F(Filter, BandsThatAreOffLeaveTheResponseExactlyAlone) {
    for (int32_t rate : k_low_rates) {
        SCOPED_TRACE(rate);
        ASSERT_EQ(qxeq_set_sample_rate(rate), QX_OK);
        for (uint32_t raised = 0; raised < 8; ++raised) {
            if (2.0 * qxeq_band_center_hz(raised) < static_cast<double>(rate))
                continue;
            ASSERT_EQ(qxeq_set_preset("PS_none"), QX_OK);
            ASSERT_EQ(qxeq_set_gain(raised, 24.0), QX_OK);
            for (double hz : {0.0, 1.0, 100.0, 400.0, 0.5 * rate, 3000.0, 9600.0, 20000.0})
                EXPECT_EQ(qxeq_response_db(hz), 0.0) << raised << " at " << hz;
        }
        // with every band raised, the response is the active bands' alone
        ASSERT_EQ(qxeq_set_preset("PS_none"), QX_OK);
        for (uint32_t band = 0; band < 8; ++band)
            ASSERT_EQ(qxeq_set_gain(band, 24.0), QX_OK);
        const double all = qxeq_response_db(300.0);
        for (uint32_t band = 0; band < 8; ++band)
            if (2.0 * qxeq_band_center_hz(band) >= static_cast<double>(rate))
                ASSERT_EQ(qxeq_set_gain(band, 0.0), QX_OK);
        EXPECT_EQ(qxeq_response_db(300.0), all);
    }
    // 1 Hz: no band exists, so nothing can be louder than 0 dB
    ASSERT_EQ(qxeq_set_sample_rate(1), QX_OK);
    EXPECT_EQ(qxeq_response_db(0.25), 0.0);
}

TEST_F(Filter, CoefficientErrors) {
    double v[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(qxeq_coeffs(8, v, v + 1, v + 2, v + 3, v + 4, v + 5), QX_ERR_NO_SUCH_BAND);
    EXPECT_STREQ(qxeq_last_error(), "ERR_NO_SUCH_BAND");
    for (int null_at = 0; null_at < 6; ++null_at) {
        double *p[6] = {v, v + 1, v + 2, v + 3, v + 4, v + 5};
        p[null_at] = nullptr;
        qxeq_set_sample_rate(44100);
        EXPECT_EQ(qxeq_coeffs(0, p[0], p[1], p[2], p[3], p[4], p[5]), QX_ERR_INVALID_ARG);
        EXPECT_STREQ(qxeq_last_error(), "ERR_INVALID_ARG");
    }
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(v[i], i + 1.0); // nothing written
}

} // namespace
