// Equaliser state a host cannot see: the stale-coefficient flag and the stored histories.
#include "defaults.h"
#include "equaliser.h"

#include <vector>

namespace {

using Internal = EqualiserTest;
using namespace qxeq;
band_record (&g_bq)[k_bands] = g_eq.bq; // the default instance the flat calls act on

TEST_F(Internal, RebuildOnlyWhenABlockIsProcessed) {
    ASSERT_EQ(qxeq_set_gain(2, 6.0), QX_OK);
    ASSERT_EQ(g_eq.dirty, 1);
    float s[2] = {0.1f, 0.2f};
    ASSERT_EQ(qxeq_process_f32(s, 0, 2), QX_OK); // no frames: nothing rebuilt
    EXPECT_EQ(g_eq.dirty, 1);
    ASSERT_EQ(qxeq_process_f32(s, 1, 2), QX_OK);
    EXPECT_EQ(g_eq.dirty, 0);
    const double b0 = g_bq[2].b0;
    ASSERT_EQ(qxeq_set_gain(2, -6.0), QX_OK);
    ASSERT_EQ(qxeq_set_gain(2, 6.0), QX_OK);
    EXPECT_EQ(g_eq.dirty, 1);
    ASSERT_EQ(qxeq_process_f32(s, 1, 2), QX_OK);
    EXPECT_EQ(g_bq[2].b0, b0);
    ASSERT_EQ(qxeq_set_sample_rate(44100), QX_OK); // unchanged rate: still clean
    EXPECT_EQ(g_eq.dirty, 0);
    ASSERT_EQ(qxeq_set_preset("PS_none"), QX_OK);
    ASSERT_EQ(qxeq_set_gain(2, 6.0), QX_OK);
    ASSERT_EQ(qxeq_set_preset("PS_none"), QX_OK);
    EXPECT_EQ(g_eq.dirty, 1);
    ASSERT_EQ(qxeq_process_f32(s, 1, 2), QX_OK); // bypassed: no rebuild
    EXPECT_EQ(g_eq.dirty, 1);
}

TEST_F(Internal, StoredOutputsAreZeroOrAtLeastTheFlushBound) {
    ASSERT_EQ(qxeq_set_gain(0, 24.0), QX_OK);
    std::vector<float> s(6000, 0.0f);
    s[0] = 1.0f;
    for (size_t i = 0; i < s.size(); i += 100) {
        ASSERT_EQ(qxeq_process_f32(s.data() + i, 100, 1), QX_OK);
        for (const band_record &b : g_bq)
            ASSERT_TRUE(b.y1[0] == 0.0 || b.y1[0] >= 1e-20 || b.y1[0] <= -1e-20) << i;
    }
    for (const band_record &b : g_bq) {
        EXPECT_EQ(b.y1[0], 0.0);
        EXPECT_EQ(b.y2[0], 0.0);
    }
}

TEST_F(Internal, NonFiniteInputClearsItsChannelInEveryBand) {
    ASSERT_EQ(qxeq_set_preset("PS_rock"), QX_OK);
    float s[] = {0.5f, 0.5f, 0.25f, 0.25f};
    ASSERT_EQ(qxeq_process_f32(s, 2, 2), QX_OK);
    float bad[] = {std::numeric_limits<float>::infinity(), 0.0f};
    const double kept = g_bq[0].x1[1];
    ASSERT_EQ(qxeq_process_f32(bad, 1, 2), QX_OK);
    for (const band_record &b : g_bq) {
        EXPECT_EQ(b.x1[0], 0.0);
        EXPECT_EQ(b.x2[0], 0.0);
        EXPECT_EQ(b.y1[0], 0.0);
        EXPECT_EQ(b.y2[0], 0.0);
    }
    EXPECT_EQ(g_bq[0].x2[1], kept); // channel 1 went on
}

TEST_F(Internal, UnusedChannelsKeepTheirHistory) {
    ASSERT_EQ(qxeq_set_preset("PS_pop"), QX_OK);
    float eight[8] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f};
    ASSERT_EQ(qxeq_process_f32(eight, 1, 8), QX_OK);
    double before[8];
    for (int b = 0; b < 8; ++b)
        before[b] = g_bq[b].y1[5];
    float two[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    ASSERT_EQ(qxeq_process_f32(two, 2, 2), QX_OK);
    for (int b = 0; b < 8; ++b)
        EXPECT_EQ(g_bq[b].y1[5], before[b]);
}

} // namespace
