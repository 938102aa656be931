// Several threads, each driving an equaliser instance of its own at the same time: changing
// gains between blocks (some out of range, so the shared warning log is written from every
// thread), switching presets and processing float, 16-bit and planar blocks. Every output must
// equal what the same sequence gives run alone on one thread. Built under ThreadSanitizer in CI,
// which also reports any data race between the instances or on what they share.
#include "qx_common.h"
#include "qxeq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr int k_threads = 4;
constexpr int k_blocks = 60;

// The outputs of one stream, every block in order.
struct outputs {
    std::vector<float> f32;
    std::vector<int16_t> s16;
    int clamps = 0;
};

// Stream `seed`: its own rate, channel count and gain sequence; every sixth block's gain is out of
// range and clamps (a warning).
void run_stream(int seed, outputs &out) {
    qxeq_eq *eq = qxeq_eq_new();
    ASSERT_NE(eq, nullptr);
    const int32_t rates[] = {44100, 48000, 22050, 96000};
    const int32_t channels = 1 + seed % 8;
    ASSERT_EQ(qxeq_eq_set_sample_rate(eq, rates[seed % 4]), QX_OK);
    ASSERT_EQ(qxeq_eq_set_preset(eq, qxeq_preset_name(static_cast<uint32_t>(2 + seed))), QX_OK);
    const size_t frames = 256;
    std::vector<float> block(frames * static_cast<size_t>(channels));
    std::vector<int16_t> pcm(block.size());
    std::vector<std::vector<float>> planes(static_cast<size_t>(channels),
                                           std::vector<float>(frames));
    std::vector<float *> pointers;
    for (auto &p : planes)
        pointers.push_back(p.data());
    for (int b = 0; b < k_blocks; ++b) {
        const double gain = b % 6 == 5 ? 30.0 + b : std::sin(b * 0.7 + seed) * 12.0;
        if (b % 6 == 5)
            ++out.clamps;
        ASSERT_EQ(qxeq_eq_set_gain(eq, static_cast<uint32_t>((b + seed) % 8), gain), QX_OK);
        if (b == k_blocks / 2)
            ASSERT_EQ(qxeq_eq_set_preset(eq, "PS_custom"), QX_OK);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<float>(
                0.5 * std::sin(0.01 * static_cast<double>(i + 7 * b) * (1 + seed)));
        switch (b % 3) {
        case 0:
            ASSERT_EQ(qxeq_eq_process_f32(eq, block.data(), 256, channels), QX_OK);
            out.f32.insert(out.f32.end(), block.begin(), block.end());
            break;
        case 1:
            for (size_t i = 0; i < block.size(); ++i)
                pcm[i] = static_cast<int16_t>(std::lrint(block[i] * 32767.0f));
            ASSERT_EQ(qxeq_eq_process_s16(eq, pcm.data(), 256, channels), QX_OK);
            out.s16.insert(out.s16.end(), pcm.begin(), pcm.end());
            break;
        default:
            for (size_t f = 0; f < frames; ++f)
                for (size_t c = 0; c < planes.size(); ++c)
                    planes[c][f] = block[f * planes.size() + c];
            ASSERT_EQ(qxeq_eq_process_planar_f32(eq, pointers.data(), 256, channels), QX_OK);
            for (auto &p : planes)
                out.f32.insert(out.f32.end(), p.begin(), p.end());
        }
        ASSERT_STREQ(qxeq_eq_last_error(eq), "OK");
    }
    qxeq_eq_free(eq);
}

TEST(Threads, InstancesOnManyThreadsGiveTheirSingleThreadedResults) {
    outputs alone[k_threads];
    for (int t = 0; t < k_threads; ++t)
        run_stream(t, alone[t]);
    qx_clear_warnings();
    outputs together[k_threads];
    std::vector<std::thread> threads;
    for (int t = 0; t < k_threads; ++t)
        threads.emplace_back(run_stream, t, std::ref(together[t]));
    // the host may read the log while the streams write it
    for (int i = 0; i < 200; ++i) {
        const int32_t n = qx_warning_count();
        if (n > 0)
            EXPECT_NE(qx_warning(n - 1), nullptr);
    }
    for (auto &th : threads)
        th.join();
    int clamps = 0;
    for (int t = 0; t < k_threads; ++t) {
        SCOPED_TRACE(t);
        ASSERT_EQ(together[t].f32.size(), alone[t].f32.size());
        EXPECT_EQ(std::memcmp(together[t].f32.data(), alone[t].f32.data(),
                              alone[t].f32.size() * sizeof(float)),
                  0);
        EXPECT_EQ(together[t].s16, alone[t].s16);
        clamps += together[t].clamps;
    }
    ASSERT_LE(clamps, 64);
    EXPECT_EQ(qx_warning_count(), clamps); // none lost, none doubled
    for (int32_t i = 0; i < qx_warning_count(); ++i)
        EXPECT_EQ(std::strncmp(qx_warning(i), "gain clamp band", 15), 0) << qx_warning(i);
}

} // namespace
