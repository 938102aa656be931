// Each block kernel this machine can run, forced in turn, against the straightforward oracle:
// the same seeded sequences of configuration changes and blocks go through both, and every
// output sample and every stored history value (all bands, all eight channel slots) must be
// identical bit for bit. The library side is an instance of its own, not the default one, so
// a kernel that read or wrote anything but the band records it is given would show.
#include "defaults.h"
#include "equaliser.h"
#include "kernels.h"
#include "oracle.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using qxeq::kernel;

constexpr float k_nan = std::numeric_limits<float>::quiet_NaN();
constexpr float k_inf = std::numeric_limits<float>::infinity();

// Inputs where the exact path differs from the obvious one: non-finite values, values whose
// band results leave the float range, values around the 1e-20 flush bound, subnormals, zeros.
const float k_special[] = {
    k_nan,
    -k_nan,
    k_inf,
    -k_inf,
    FLT_MAX,
    -FLT_MAX,
    1e-20f,
    -1e-20f,
    std::nextafter(1e-20f, 0.0f),
    std::nextafter(1e-20f, 1.0f),
    -std::nextafter(1e-20f, 0.0f),
    FLT_TRUE_MIN,
    -FLT_TRUE_MIN,
    FLT_MIN / 2,
    0.0f,
    -0.0f,
    1.0f,
    -1.0f,
    2e-20f,
    5e-21f,
};

::testing::AssertionResult same_state(const qxeq_eq *eq, const oracle_eq &ref) {
    for (int k = 0; k < 8; ++k) {
        const qxeq::band_record &b = eq->bq[k];
        const oracle_band &o = ref.band[k];
        const double *mine[] = {b.x1, b.x2, b.y1, b.y2};
        const double *theirs[] = {o.x1, o.x2, o.y1, o.y2};
        const char *names[] = {"x1", "x2", "y1", "y2"};
        for (int h = 0; h < 4; ++h)
            for (int c = 0; c < 8; ++c)
                if (std::memcmp(&mine[h][c], &theirs[h][c], sizeof(double)) != 0)
                    return ::testing::AssertionFailure()
                           << "band " << k << " " << names[h] << "[" << c << "]: " << mine[h][c]
                           << " vs " << theirs[h][c];
    }
    return ::testing::AssertionSuccess();
}

template <typename T>
::testing::AssertionResult same_bits(const std::vector<T> &a, const std::vector<T> &b) {
    for (size_t i = 0; i < a.size(); ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(T)) != 0)
            return ::testing::AssertionFailure()
                   << "sample " << i << ": " << +a[i] << " vs " << +b[i];
    return ::testing::AssertionSuccess();
}

// Drives an equaliser instance and the oracle through the same calls, mirroring every history
// reset.
class twin {
  public:
    qxeq_eq *eq = qxeq_eq_new();
    qxeq::band_record (&bq)[qxeq::k_bands] = eq->bq;
    oracle_eq ref;

    twin() { sync(); }
    ~twin() { qxeq_eq_free(eq); }
    twin(const twin &) = delete;
    twin &operator=(const twin &) = delete;

    void sync() { ref.load_coefficients(eq); }

    void set_gain(uint32_t band, double db) {
        ASSERT_EQ(qxeq_eq_set_gain(eq, band, db), QX_OK);
        sync();
    }
    void set_preset(const char *name) {
        ASSERT_EQ(qxeq_eq_set_preset(eq, name), QX_OK);
        ref.reset();
        sync();
    }
    void set_rate(int32_t hz) {
        const bool changes = hz != qxeq_eq_sample_rate(eq);
        ASSERT_EQ(qxeq_eq_set_sample_rate(eq, hz), QX_OK);
        if (changes)
            ref.reset();
        sync();
    }
    void reset() {
        qxeq_eq_reset_state(eq);
        ref.reset();
    }

    void f32(std::vector<float> s, int32_t channels, const std::string &what) {
        SCOPED_TRACE(what);
        const int32_t frames = static_cast<int32_t>(s.size()) / channels;
        auto expected = s;
        s.reserve(1); // an empty block still has a buffer: a null pointer is rejected
        ASSERT_EQ(qxeq_eq_process_f32(eq, s.data(), frames, channels), QX_OK);
        if (!qxeq_eq_is_bypassed(eq))
            ref.process_f32(expected.data(), frames, channels);
        ASSERT_TRUE(same_bits(s, expected));
        ASSERT_TRUE(same_state(eq, ref));
    }
    void s16(std::vector<int16_t> s, int32_t channels, const std::string &what) {
        SCOPED_TRACE(what);
        const int32_t frames = static_cast<int32_t>(s.size()) / channels;
        auto expected = s;
        s.reserve(1);
        ASSERT_EQ(qxeq_eq_process_s16(eq, s.data(), frames, channels), QX_OK);
        if (!qxeq_eq_is_bypassed(eq))
            ref.process_s16(expected.data(), frames, channels);
        ASSERT_TRUE(same_bits(s, expected));
        ASSERT_TRUE(same_state(eq, ref));
    }
};

// Random blocks: noise, loud noise, silence, a decaying tail, or noise sprinkled with specials.
class block_source {
  public:
    explicit block_source(uint64_t seed) : rng_(seed) {}

    int32_t pick(int32_t lo, int32_t hi) {
        return std::uniform_int_distribution<int32_t>(lo, hi)(rng_);
    }
    double uniform(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng_);
    }

    int32_t frames() {
        // 0, 1, sizes around every vector step and the seven-frame pipeline, and longer runs
        static const int32_t k_frames[] = {0,  1,  2,  3,  4,  5,  6,  7,   8,   9,
                                           13, 15, 16, 17, 31, 64, 65, 200, 1024};
        return k_frames[pick(0, static_cast<int32_t>(std::size(k_frames)) - 1)];
    }

    std::vector<float> f32(int32_t frames, int32_t channels, int kind) {
        std::vector<float> s(static_cast<size_t>(frames) * static_cast<size_t>(channels), 0.0f);
        for (size_t i = 0; i < s.size(); ++i) {
            switch (kind) {
            case 0:
                s[i] = static_cast<float>(uniform(-1.0, 1.0));
                break;
            case 1:
                s[i] = static_cast<float>(uniform(-1.0, 1.0)) * FLT_MAX;
                break;
            case 2:
                break; // silence: the histories decay to exact zero
            case 3:
                s[i] = i < static_cast<size_t>(channels) ? 1.0f : 0.0f;
                break;
            default:
                s[i] = pick(0, 9) == 0
                           ? k_special[pick(0, static_cast<int32_t>(std::size(k_special)) - 1)]
                           : static_cast<float>(uniform(-1.0, 1.0) * std::pow(10.0, -pick(0, 25)));
            }
        }
        return s;
    }

    std::vector<int16_t> s16(int32_t frames, int32_t channels, int kind) {
        std::vector<int16_t> s(static_cast<size_t>(frames) * static_cast<size_t>(channels), 0);
        for (auto &v : s) {
            if (kind == 2)
                continue;
            const int32_t r = pick(0, 15);
            v = static_cast<int16_t>(r == 0 ? -32768 : r == 1 ? 32767 : pick(-32768, 32767));
        }
        return s;
    }

    std::mt19937_64 rng_;
};

const char *const k_presets[] = {
    "PS_none",       "PS_custom",  "PS_acoustic",     "PS_bass_boost", "PS_classical", "PS_dance",
    "PS_electronic", "PS_hip_hop", "PS_jazz",         "PS_loudness",   "PS_pop",       "PS_r_b",
    "PS_rock",       "PS_speech",  "PS_treble_boost", "PS_vocal_boost"};

// Common rates, the extremes, and low rates where the bands at or above half the rate are off.
const int32_t k_rates[] = {44100, 48000, 8000, 22050, 96000, 384000, 1, 700, 1000, 3000, 12345};

class Kernels : public EqualiserTest, public ::testing::WithParamInterface<kernel> {
  protected:
    void SetUp() override {
        EqualiserTest::SetUp();
        if (!qxeq::kernel_supported(GetParam()))
            GTEST_SKIP() << "this CPU cannot run it";
        ASSERT_TRUE(qxeq::force_kernel(GetParam()));
    }
    void TearDown() override {
        qxeq::force_kernel(qxeq::best_kernel());
        // the default instance never processed a block: its band records are still all zero
        const qxeq::band_record zero = {};
        for (const qxeq::band_record &b : qxeq::g_eq.bq)
            EXPECT_EQ(std::memcmp(&b, &zero, sizeof b), 0) << "the default instance was touched";
        EqualiserTest::TearDown();
    }
};

TEST_P(Kernels, RandomSessionsMatchTheOracle) {
    long non_finite = 0;
    for (uint64_t seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
        SCOPED_TRACE(seed);
        block_source src(seed);
        twin t;
        t.set_preset("PS_rock");
        for (int op = 0; op < 400; ++op) {
            const std::string what = "op " + std::to_string(op);
            const int32_t choice = src.pick(0, 19);
            const int32_t channels = src.pick(1, 8);
            if (choice == 0) {
                t.set_gain(static_cast<uint32_t>(src.pick(0, 7)),
                           src.uniform(-30.0, 30.0)); // some clamp
            } else if (choice == 1) {
                t.set_preset(k_presets[src.pick(0, 15)]);
            } else if (choice == 2) {
                t.set_rate(k_rates[src.pick(0, static_cast<int32_t>(std::size(k_rates)) - 1)]);
            } else if (choice == 3) {
                t.reset();
            } else if (choice < 12) {
                t.f32(src.f32(src.frames(), channels, src.pick(0, 4)), channels, what);
            } else {
                t.s16(src.s16(src.frames(), channels, src.pick(0, 2)), channels, what);
            }
            if (HasFatalFailure())
                return;
        }
        non_finite += t.ref.non_finite_inputs;
    }
    EXPECT_GT(non_finite, 0); // the sequences did reach the rare path
}

// Every channel count and a length that leaves a partial vector step and a partial pipeline,
// with one non-finite input placed at every frame in turn: before, inside and after the steps
// where the bands of one frame are still spread over several steps.
TEST_P(Kernels, NonFiniteInputAtEveryPosition) {
    twin t;
    t.set_preset("PS_loudness");
    t.set_gain(7, 12.0);
    for (int32_t channels = 1; channels <= 8; ++channels) {
        for (int32_t frames : {1, 5, 12}) {
            for (int32_t at = 0; at < frames * channels; ++at) {
                block_source src(static_cast<uint64_t>(at));
                auto s = src.f32(frames, channels, 0);
                s[static_cast<size_t>(at)] = at % 2 ? -k_inf : k_nan;
                t.f32(s, channels,
                      std::to_string(channels) + "ch " + std::to_string(frames) +
                          " frames, bad at " + std::to_string(at));
                if (HasFatalFailure())
                    return;
            }
        }
    }
    EXPECT_GT(t.ref.non_finite_inputs, 0);
}

// Through the flush bound (band results on both sides of it, most steps flushing some, the
// histories flushed from the block before), a non-finite input at any frame of a block: the
// exact fix-up clears the bands one after the other while the flush keeps changing results.
TEST_P(Kernels, NonFiniteInputsInAFade) {
    twin t;
    t.set_preset("PS_bass_boost");
    std::mt19937_64 rng(9);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    constexpr int32_t k_frames = 200;
    for (int32_t channels : {1, 2, 3, 6}) {
        for (int32_t at = 0; at < 160; ++at) {
            std::vector<float> s(static_cast<size_t>(k_frames * channels));
            for (int32_t f = 0; f < k_frames; ++f) {
                const double env = 1e-17 * std::pow(1e-6, static_cast<double>(f) / k_frames);
                for (int32_t c = 0; c < channels; ++c)
                    s[static_cast<size_t>(f * channels + c)] = static_cast<float>(u(rng) * env);
            }
            s[static_cast<size_t>(at * channels + at % channels)] = at % 2 ? -k_inf : k_nan;
            t.f32(s, channels, std::to_string(channels) + "ch, bad at " + std::to_string(at));
            if (HasFatalFailure())
                return;
        }
    }
    EXPECT_GT(t.ref.non_finite_inputs, 0);
}

// A band result beyond the double range clears that band's history of that channel and passes
// 0.0 on. Stable filters cannot get there from float input, so the histories of one band are
// planted near the top of the double range (a1 * y1 then overflows), on every channel count,
// with float and 16-bit blocks alternating on one filter state.
TEST_P(Kernels, BandOverflowClearsOnlyThatBand) {
    twin t;
    t.set_preset("PS_dance");
    block_source src(77);
    for (int32_t round = 0; round < 24; ++round) {
        const int32_t channels = round % 8 + 1;
        const int k = round % 8;
        for (int32_t c = 0; c < 8; c += 1 + round % 3) {
            const double huge = (c % 2 ? -1.0 : 1.0) * DBL_MAX / 1.5;
            t.bq[k].y1[c] = t.ref.band[k].y1[c] = huge;
            t.bq[k].y2[c] = t.ref.band[k].y2[c] = -huge / 2;
        }
        if (round % 3 == 2)
            t.s16(src.s16(300, channels, 0), channels, std::to_string(round));
        else
            t.f32(src.f32(300, channels, round % 2), channels, std::to_string(round));
        if (HasFatalFailure())
            return;
    }
    EXPECT_GT(t.ref.band_overflows, 0);
}

// Telephone and speech rates, and the edges of the 9600 Hz band (off at 19200 Hz, on at 19201
// Hz): the bands that are off run with identity coefficients in every lane, and the top band is
// raised so that an unstable filter would show at once.
TEST_P(Kernels, LowRatesMatchTheOracle) {
    block_source src(8000);
    twin t;
    for (int32_t rate : {1, 1000, 8000, 11025, 16000, 19199, 19200, 19201}) {
        t.set_rate(rate);
        for (const char *preset : {"PS_rock", "PS_treble_boost", "PS_custom"}) {
            t.set_preset(preset);
            t.set_gain(7, 24.0);
            for (int32_t channels = 1; channels <= 8; ++channels) {
                const std::string what =
                    std::to_string(rate) + " " + preset + " " + std::to_string(channels) + "ch";
                t.f32(src.f32(src.frames() + 100, channels, src.pick(0, 4)), channels, what);
                t.s16(src.s16(src.frames() + 100, channels, 0), channels, what);
                if (HasFatalFailure())
                    return;
            }
        }
    }
    EXPECT_EQ(t.ref.band_overflows, 0);
}

// Band outputs of exactly +-1e-20 stay; the next values inward, and -0.0, become +0.0. The
// histories are set so that band 3 of every channel produces the value under test: with zero
// input it computes 0 + 0 + 0 - a1 * y1 - 0, and y1 is chosen to make that the target exactly.
TEST_P(Kernels, FlushBoundIsExact) {
    twin t;
    t.set_preset("PS_jazz");
    float prime[8] = {};
    ASSERT_EQ(qxeq_eq_process_f32(t.eq, prime, 1, 8), QX_OK); // coefficients now current
    const double a1 = t.bq[3].a1;
    for (double target : {1e-20, -1e-20, std::nextafter(1e-20, 0.0), -std::nextafter(1e-20, 0.0),
                          std::nextafter(1e-20, 1.0), -std::nextafter(1e-20, 1.0)}) {
        SCOPED_TRACE(target);
        double y1 = -target / a1;
        for (int i = 0; i < 64 && 0.0 - a1 * y1 != target; ++i)
            y1 = std::nextafter(y1, ((0.0 - a1 * y1) < target) == (a1 < 0) ? -1.0 : 1.0);
        ASSERT_EQ(0.0 - a1 * y1, target);
        for (int32_t channels = 1; channels <= 8; ++channels) {
            t.reset();
            for (int32_t c = 0; c < 8; ++c)
                t.bq[3].y1[c] = t.ref.band[3].y1[c] = y1;
            t.f32(std::vector<float>(static_cast<size_t>(channels), 0.0f), channels,
                  std::to_string(channels));
            if (HasFatalFailure())
                return;
            const double kept = std::fabs(target) >= 1e-20 ? target : 0.0;
            EXPECT_EQ(std::memcmp(&t.ref.band[3].y1[0], &kept, 8), 0) << t.ref.band[3].y1[0];
        }
    }
    // -0.0 out of band 0: input -0.0 with x1 = +0, x2 = -0, y1 = -0, y2 = +0 sums to -0.0,
    // which is stored as +0.0
    const qxeq::band_record &b = t.bq[0];
    const double sum = b.b0 * -0.0 + b.b1 * 0.0 + b.b2 * -0.0 - b.a1 * -0.0 - b.a2 * 0.0;
    ASSERT_TRUE(sum == 0.0 && std::signbit(sum));
    for (int32_t channels = 1; channels <= 8; ++channels) {
        t.reset();
        for (int32_t c = 0; c < 8; ++c) {
            t.bq[0].x2[c] = t.ref.band[0].x2[c] = -0.0;
            t.bq[0].y1[c] = t.ref.band[0].y1[c] = -0.0;
        }
        t.f32(std::vector<float>(static_cast<size_t>(channels), -0.0f), channels, "-0.0");
        if (HasFatalFailure())
            return;
        EXPECT_FALSE(std::signbit(t.ref.band[0].y1[0]));
    }
}

// Signals fading through the flush bound: where one and two channels take the flush as guessed
// from the step before, lanes crossing the bound miss the guess, so each block fades (flushes
// on most steps), then comes back loud (flushes on none), with a non-finite input and exact
// silence in both regimes; short blocks of 64 frames chain the same signal across blocks.
TEST_P(Kernels, TailsThroughTheFlushBoundMatchTheOracle) {
    twin t;
    t.set_preset("PS_bass_boost");
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int32_t channels = 1; channels <= 8; ++channels) {
        for (int32_t frames : {64, 1000, 5000}) {
            std::vector<float> s(static_cast<size_t>(frames) * static_cast<size_t>(channels));
            for (int32_t f = 0; f < frames; ++f) {
                // down by 1e-30 over the first 70%, then loud again; silent frames 40%..45%
                const double at = static_cast<double>(f) / frames;
                const double env = at < 0.4    ? std::pow(1e-30, at / 0.7)
                                   : at < 0.45 ? 0.0
                                   : at < 0.7  ? std::pow(1e-30, at / 0.7)
                                               : 0.5;
                for (int32_t c = 0; c < channels; ++c)
                    s[static_cast<size_t>(f * channels + c)] = static_cast<float>(u(rng) * env);
            }
            if (frames > 64)
                s[static_cast<size_t>(frames / 2 + frames / 10) * static_cast<size_t>(channels)] =
                    k_nan;
            // and one deep in the fade, where every band result flushes and the flush repeats
            if (frames > 64)
                s[static_cast<size_t>(frames * 13 / 20) * static_cast<size_t>(channels)] = k_inf;
            for (int32_t repeat = 0; repeat < 3; ++repeat) { // blocks of 64 continue each other
                t.f32(s, channels,
                      std::to_string(channels) + "ch " + std::to_string(frames) + " frames");
                if (HasFatalFailure())
                    return;
            }
        }
    }
    EXPECT_GT(t.ref.non_finite_inputs, 0);
}

// Long 16-bit blocks: one and two channels convert a block a stretch at a time, so blocks
// end just before, at and just after a stretch boundary, and run through several stretches,
// loud enough that outputs clip at full scale, with silence between.
TEST_P(Kernels, LongSixteenBitBlocksMatchTheOracle) {
    block_source src(2024);
    twin t;
    t.set_preset("PS_loudness");
    for (uint32_t band = 0; band < 8; band += 3)
        t.set_gain(band, 24.0);
    for (int32_t channels = 1; channels <= 8; ++channels) {
        for (int32_t frames : {2047, 2048, 2049, 4095, 4096, 4097, 9001}) {
            const int kind = frames == 2049 ? 2 : 0;
            t.s16(src.s16(frames, channels, kind), channels,
                  std::to_string(channels) + "ch " + std::to_string(frames) + " frames");
            if (HasFatalFailure())
                return;
        }
    }
}

// Six and eight channels (and the counts in between) run as channel groups, each its own
// wavefront over the block: every count, both formats, at every block length through the fill
// and drain of the widest skew and past it, with a loud channel beside quiet ones, so that a
// group reading or writing a neighbour's samples or histories shows.
TEST_P(Kernels, ChannelGroupsAtEveryShortLength) {
    block_source src(606);
    twin t;
    t.set_preset("PS_hip_hop");
    for (int32_t channels = 1; channels <= 8; ++channels) {
        for (int32_t frames = 1; frames <= 40; ++frames) {
            const std::string what = std::to_string(channels) + "ch " + std::to_string(frames);
            auto f = src.f32(frames, channels, frames % 5 == 0 ? 4 : 0);
            for (int32_t i = 0; i < frames; ++i) // the last channel quiet, the first loud
                f[static_cast<size_t>(i * channels + channels - 1)] *= 1e-12f;
            t.f32(f, channels, what);
            t.s16(src.s16(frames, channels, 0), channels, what);
            if (HasFatalFailure())
                return;
        }
    }
}

// Random starting histories (tiny, huge, signed zeros) in both, then blocks of every size.
TEST_P(Kernels, ArbitraryHistoriesMatchTheOracle) {
    const double k_values[] = {0.0,      -0.0, 1e-20, -1e-20, 1.5e-20, 9e-21,  1e-300,
                               4.9e-324, 1.0,  -1.0,  1e30,   -1e38,   3.4e38, 0.25};
    block_source src(99);
    twin t;
    t.set_preset("PS_electronic");
    for (int round = 0; round < 200; ++round) {
        for (int k = 0; k < 8; ++k)
            for (int c = 0; c < 8; ++c) {
                double *mine[] = {t.bq[k].x1, t.bq[k].x2, t.bq[k].y1, t.bq[k].y2};
                double *theirs[] = {t.ref.band[k].x1, t.ref.band[k].x2, t.ref.band[k].y1,
                                    t.ref.band[k].y2};
                for (int h = 0; h < 4; ++h)
                    mine[h][c] = theirs[h][c] =
                        src.pick(0, 1)
                            ? k_values[src.pick(0, static_cast<int32_t>(std::size(k_values)) - 1)]
                            : src.uniform(-1.0, 1.0);
            }
        const int32_t channels = src.pick(1, 8);
        t.f32(src.f32(src.frames(), channels, src.pick(0, 4)), channels, std::to_string(round));
        if (HasFatalFailure())
            return;
    }
}

std::string kernel_label(const ::testing::TestParamInfo<kernel> &info) {
    return qxeq::kernel_name(info.param);
}

INSTANTIATE_TEST_SUITE_P(Each, Kernels,
                         ::testing::Values(kernel::scalar, kernel::sse2, kernel::avx2,
                                           kernel::avx512),
                         kernel_label);

TEST(KernelChoice, BestIsSupportedAndForcingChecksTheCpu) {
    const kernel best = qxeq::best_kernel();
    EXPECT_TRUE(qxeq::kernel_supported(best));
    EXPECT_TRUE(qxeq::kernel_supported(kernel::scalar));
    for (int32_t k = static_cast<int32_t>(best) + 1; k < qxeq::k_kernel_count; ++k)
        EXPECT_FALSE(qxeq::force_kernel(static_cast<kernel>(k))); // nothing faster is claimed
    EXPECT_EQ(qxeq::active_kernel(), best);
    ASSERT_TRUE(qxeq::force_kernel(kernel::scalar));
    EXPECT_EQ(qxeq::active_kernel(), kernel::scalar);
    ASSERT_TRUE(qxeq::force_kernel(best));
}

// The vector kernels are built for x86-64 only; every other processor runs the scalar loop, and
// the first block must not pick anything else there.
TEST(KernelChoice, VectorKernelsOnlyOnX86) {
    float block[16] = {0.5f, -0.25f};
    ASSERT_EQ(qxeq_process_f32(block, 8, 2), 0);
#if defined(__x86_64__)
    EXPECT_TRUE(qxeq::kernel_supported(kernel::sse2)); // part of x86-64
    EXPECT_NE(qxeq::active_kernel(), kernel::scalar);
#else
    for (kernel k : {kernel::sse2, kernel::avx2, kernel::avx512}) {
        SCOPED_TRACE(qxeq::kernel_name(k));
        EXPECT_FALSE(qxeq::kernel_supported(k));
    }
    EXPECT_EQ(qxeq::best_kernel(), kernel::scalar);
    EXPECT_EQ(qxeq::active_kernel(), kernel::scalar);
#endif
}

} // namespace
