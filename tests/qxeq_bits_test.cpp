// The equaliser gives the same bits on every processor and in every build: no fused
// multiply-add, no extended precision, no kernel or library call that rounds differently. Each
// case runs generated blocks through the public calls and folds every bit it reads back
// (coefficients, response, processed samples) into one FNV-1a digest, checked against the
// digest recorded on x86-64. A failure prints the digest this machine gives; record a new one
// only after a deliberate change to the arithmetic, and on x86-64.
#include "defaults.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

class Bits : public EqualiserTest {};

struct digest {
    uint64_t h = 0xcbf29ce484222325u;
    template <typename T> void add(const T &v) {
        unsigned char b[sizeof(T)];
        std::memcpy(b, &v, sizeof b);
        for (unsigned char c : b)
            h = (h ^ c) * 0x100000001b3u;
    }
};

// Integer noise and a slow ramp, so that no libm call of the test shapes the input.
uint32_t g_seed = 1;
double noise() {
    g_seed = g_seed * 1664525u + 1013904223u;
    return static_cast<double>(g_seed >> 8) / 8388608.0 - 1.0;
}

struct bits_case {
    const char *name;
    int32_t rate;
    const char *preset; // or nullptr: gains below
    double gains[8];
    int32_t channels;
    bool s16;
    uint64_t expected;
};

const bits_case k_cases[] = {
    {"rock_44k1_stereo_f32", 44100, "PS_rock", {}, 2, false, 0xdba6e455c3bbf1dcu},
    {"bass_48k_mono_s16", 48000, "PS_bass_boost", {}, 1, true, 0xe23640e0b1a58cbau},
    {"extremes_8k_6ch_f32",
     8000,
     nullptr,
     {24, -24, 12, -12, 24, 0, -24, 6},
     6,
     false,
     0xc5086b0eb85eae56u},
    {"gains_96k_8ch_s16",
     96000,
     nullptr,
     {3.5, -7.25, 0.5, 11, -1, 19.75, -24, 2},
     8,
     true,
     0xc461eb0f8da738c1u},
};

uint64_t run(const bits_case &c) {
    digest d;
    g_seed = 1;
    EXPECT_EQ(qxeq_set_sample_rate(c.rate), 0);
    if (c.preset) {
        EXPECT_EQ(qxeq_set_preset(c.preset), 0);
    } else {
        for (uint32_t b = 0; b < 8; ++b)
            EXPECT_EQ(qxeq_set_gain(b, c.gains[b]), 0);
    }
    for (uint32_t b = 0; b < 8; ++b) {
        double k[6] = {};
        EXPECT_EQ(qxeq_coeffs(b, &k[0], &k[1], &k[2], &k[3], &k[4], &k[5]), 0);
        for (double v : k)
            d.add(v);
    }
    for (double hz = 10.0; hz < 0.5 * c.rate; hz = hz * 1.25 + 1.0)
        d.add(qxeq_response_db(hz));
    // Blocks of several sizes, so the kernels' block starts and tails all contribute.
    for (int32_t frames : {1, 7, 64, 333, 4096}) {
        const size_t n = static_cast<size_t>(frames) * static_cast<size_t>(c.channels);
        std::vector<float> f(n);
        for (size_t i = 0; i < n; ++i)
            f[i] = static_cast<float>(0.7 * noise() + static_cast<double>(i % 97) / 400.0);
        if (c.s16) {
            std::vector<int16_t> s(n);
            for (size_t i = 0; i < n; ++i)
                s[i] = static_cast<int16_t>(f[i] * 32767.0f);
            EXPECT_EQ(qxeq_process_s16(s.data(), frames, c.channels), 0);
            for (int16_t v : s)
                d.add(v);
        } else {
            EXPECT_EQ(qxeq_process_f32(f.data(), frames, c.channels), 0);
            for (float v : f)
                d.add(v);
        }
    }
    return d.h;
}

TEST_F(Bits, DigestsMatchTheOnesRecordedOnX86) {
    for (const auto &c : k_cases) {
        SCOPED_TRACE(c.name);
        restore_equaliser_defaults();
        const uint64_t got = run(c);
        EXPECT_EQ(got, c.expected) << "digest here: 0x" << std::hex << got;
    }
}

} // namespace
