// Equaliser instances through the public API: a new instance starts at the load-time defaults,
// instances and the default equaliser never disturb each other, an instance call gives the bits
// and texts of its flat twin, planar blocks give the bits of interleaved ones, and every new
// call handles a null instance and bad arguments.
#include "defaults.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Instances = EqualiserTest;

struct eq_deleter {
    void operator()(qxeq_eq *eq) const { qxeq_eq_free(eq); }
};
using eq_ptr = std::unique_ptr<qxeq_eq, eq_deleter>;

eq_ptr make_eq() {
    eq_ptr eq(qxeq_eq_new());
    EXPECT_NE(eq, nullptr);
    return eq;
}

// A deterministic signal: a few sines per channel, and one loud burst that clips 16-bit output.
std::vector<float> signal(size_t frames, size_t channels, uint32_t seed) {
    std::vector<float> s(frames * channels);
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i / channels) + seed;
        const double c = static_cast<double>(i % channels) + 1.0;
        s[i] = static_cast<float>(0.4 * std::sin(0.031 * c * t) + 0.3 * std::sin(0.47 * t + c) +
                                  (i % 997 == 0 ? 0.9 : 0.0));
    }
    return s;
}

std::vector<int16_t> to_pcm(const std::vector<float> &s) {
    std::vector<int16_t> p(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        p[i] = static_cast<int16_t>(std::lrint(std::fmax(-1.0, std::fmin(1.0, s[i])) * 32767.0));
    return p;
}

// One stream's settings and its blocks: float, 16-bit and planar in turn, with a gain change
// half way. run() takes one block at a time, so several scripts can be interleaved.
struct script {
    int32_t rate;
    const char *preset;
    uint32_t channels;
    std::vector<std::vector<float>> f32_out;
    std::vector<std::vector<int16_t>> s16_out;

    static constexpr int k_steps = 9;

    // Step i on eq (null: the default equaliser through the flat calls).
    void run(qxeq_eq *eq, int i) {
        const size_t frames = 300 + 97 * static_cast<size_t>(i);
        const auto c = static_cast<int32_t>(channels);
        if (i == 0) {
            ASSERT_EQ(eq ? qxeq_eq_set_sample_rate(eq, rate) : qxeq_set_sample_rate(rate), QX_OK);
            ASSERT_EQ(eq ? qxeq_eq_set_preset(eq, preset) : qxeq_set_preset(preset), QX_OK);
        }
        const uint32_t band = channels % 8;
        if (i == 4) ASSERT_EQ(eq ? qxeq_eq_set_gain(eq, band, -9.5) : qxeq_set_gain(band, -9.5), QX_OK);
        auto block = signal(frames, channels, static_cast<uint32_t>(i) + channels);
        const auto n = static_cast<int32_t>(frames);
        if (i % 3 == 1) {
            auto pcm = to_pcm(block);
            ASSERT_EQ(eq ? qxeq_eq_process_s16(eq, pcm.data(), n, c) : qxeq_process_s16(pcm.data(), n, c),
                      QX_OK);
            s16_out.push_back(pcm);
            return;
        }
        if (i % 3 == 2 && eq != nullptr) {  // planar, where there is a planar call
            std::vector<std::vector<float>> planes(channels, std::vector<float>(frames));
            std::vector<float *> pointers;
            for (size_t ch = 0; ch < channels; ++ch) {
                for (size_t f = 0; f < frames; ++f) planes[ch][f] = block[f * channels + ch];
                pointers.push_back(planes[ch].data());
            }
            ASSERT_EQ(qxeq_eq_process_planar_f32(eq, pointers.data(), n, c), QX_OK);
            for (size_t ch = 0; ch < channels; ++ch)
                for (size_t f = 0; f < frames; ++f) block[f * channels + ch] = planes[ch][f];
        } else {
            ASSERT_EQ(eq ? qxeq_eq_process_f32(eq, block.data(), n, c)
                         : qxeq_process_f32(block.data(), n, c),
                      QX_OK);
        }
        f32_out.push_back(block);
    }
};

bool same_bits(const std::vector<float> &a, const std::vector<float> &b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST_F(Instances, NewInstanceStartsAtTheLoadTimeDefaults) {
    ASSERT_EQ(qxeq_set_preset("PS_rock"), QX_OK);  // the default equaliser's settings don't leak
    ASSERT_EQ(qxeq_set_sample_rate(8000), QX_OK);
    eq_ptr eq = make_eq();
    EXPECT_EQ(qxeq_eq_is_bypassed(eq.get()), 1);
    EXPECT_EQ(qxeq_eq_preset(eq.get()), 0);
    EXPECT_EQ(qxeq_eq_sample_rate(eq.get()), 44100);
    EXPECT_STREQ(qxeq_eq_last_error(eq.get()), "OK");
    for (uint32_t band = 0; band < 8; ++band) EXPECT_EQ(qxeq_eq_get_gain(eq.get(), band), 0.0);
    EXPECT_EQ(qxeq_eq_response_db(eq.get(), 1000.0), 0.0);
    auto block = signal(64, 2, 1);
    const auto before = block;
    ASSERT_EQ(qxeq_eq_process_f32(eq.get(), block.data(), 64, 2), QX_OK);
    EXPECT_TRUE(same_bits(block, before));  // bypassed
    ASSERT_EQ(qxeq_eq_set_gain(eq.get(), 0, 0.0), QX_OK);  // active, every band at 0 dB
    EXPECT_EQ(qxeq_eq_preset(eq.get()), 1);
    EXPECT_EQ(qxeq_eq_is_bypassed(eq.get()), 0);
    ASSERT_EQ(qxeq_eq_set_preset(eq.get(), "PS_speech"), QX_OK);
    EXPECT_EQ(qxeq_eq_preset(eq.get()), 13);
    qxeq_eq_free(nullptr);  // ignored
}

// Four streams (the default equaliser and three instances) with different rates, presets,
// channel counts and formats, their blocks interleaved, each give exactly what the same
// script gives run alone.
TEST_F(Instances, InterleavedStreamsMatchTheSameStreamsRunAlone) {
    const script plan[] = {{44100, "PS_rock", 2, {}, {}},
                           {8000, "PS_speech", 1, {}, {}},
                           {48000, "PS_dance", 6, {}, {}},
                           {96000, "PS_loudness", 8, {}, {}}};
    std::vector<script> together(std::begin(plan), std::end(plan));
    std::vector<eq_ptr> eqs;
    eqs.emplace_back(nullptr);  // stream 0: the default equaliser
    for (int i = 1; i < 4; ++i) eqs.push_back(make_eq());
    for (int step = 0; step < script::k_steps; ++step)
        for (size_t k = 0; k < together.size(); ++k) {
            together[k].run(eqs[k].get(), step);
            if (HasFatalFailure()) return;
        }
    for (size_t k = 0; k < together.size(); ++k) {
        SCOPED_TRACE(k);
        restore_equaliser_defaults();
        script alone = plan[k];
        eq_ptr eq = k == 0 ? eq_ptr(nullptr) : make_eq();
        for (int step = 0; step < script::k_steps; ++step) alone.run(eq.get(), step);
        ASSERT_EQ(alone.f32_out.size(), together[k].f32_out.size());
        for (size_t b = 0; b < alone.f32_out.size(); ++b)
            EXPECT_TRUE(same_bits(alone.f32_out[b], together[k].f32_out[b])) << "block " << b;
        EXPECT_EQ(alone.s16_out, together[k].s16_out);
    }
}

// The same calls on the default equaliser and on an instance: the same results, bits and texts.
TEST_F(Instances, InstanceCallsGiveTheResultsOfTheirFlatTwins) {
    eq_ptr eq = make_eq();
    qxeq_eq *e = eq.get();
    auto same_text = [&] { EXPECT_STREQ(qxeq_eq_last_error(e), qxeq_last_error()); };
    EXPECT_EQ(qxeq_eq_set_preset(e, "rock"), qxeq_set_preset("rock"));
    same_text();
    EXPECT_EQ(qxeq_eq_set_preset(e, nullptr), qxeq_set_preset(nullptr));
    same_text();
    EXPECT_EQ(qxeq_eq_set_sample_rate(e, 0), qxeq_set_sample_rate(0));
    same_text();
    EXPECT_EQ(qxeq_eq_set_gain(e, 8, 1.0), qxeq_set_gain(8, 1.0));
    same_text();
    EXPECT_EQ(qxeq_eq_set_gain(e, 1, NAN), qxeq_set_gain(1, NAN));
    same_text();
    EXPECT_EQ(qxeq_eq_get_gain(e, 9), qxeq_get_gain(9));
    same_text();
    ASSERT_EQ(qxeq_eq_set_sample_rate(e, 22050), qxeq_set_sample_rate(22050));
    ASSERT_EQ(qxeq_eq_set_preset(e, "PS_treble_boost"), qxeq_set_preset("PS_treble_boost"));
    qx_clear_warnings();
    ASSERT_EQ(qxeq_eq_set_gain(e, 3, 31.25), qxeq_set_gain(3, 31.25));  // both warn alike
    ASSERT_EQ(qx_warning_count(), 2);
    EXPECT_STREQ(qx_warning(0), qx_warning(1));
    EXPECT_STREQ(qx_warning(0), "gain clamp band3 31.250 -> [-24,24]");
    for (uint32_t band = 0; band < 8; ++band) {
        double mine[6], flat[6];
        ASSERT_EQ(qxeq_eq_coeffs(e, band, &mine[0], &mine[1], &mine[2], &mine[3], &mine[4], &mine[5]),
                  qxeq_coeffs(band, &flat[0], &flat[1], &flat[2], &flat[3], &flat[4], &flat[5]));
        EXPECT_EQ(std::memcmp(mine, flat, sizeof mine), 0) << band;
        EXPECT_EQ(qxeq_eq_get_gain(e, band), qxeq_get_gain(band));
    }
    for (double hz : {0.0, 100.0, 1500.0, 11025.0, 30000.0, -1.0})
        EXPECT_EQ(qxeq_eq_response_db(e, hz), qxeq_response_db(hz)) << hz;
    auto a = signal(1000, 3, 7), b = a;
    ASSERT_EQ(qxeq_eq_process_f32(e, a.data(), 1000, 3), QX_OK);
    ASSERT_EQ(qxeq_process_f32(b.data(), 1000, 3), QX_OK);
    EXPECT_TRUE(same_bits(a, b));
    auto p = to_pcm(signal(500, 3, 8)), q = p;
    ASSERT_EQ(qxeq_eq_process_s16(e, p.data(), 500, 3), QX_OK);
    ASSERT_EQ(qxeq_process_s16(q.data(), 500, 3), QX_OK);
    EXPECT_EQ(p, q);
    EXPECT_EQ(qxeq_eq_is_bypassed(e), qxeq_is_bypassed());
    EXPECT_EQ(qxeq_eq_sample_rate(e), qxeq_sample_rate());
}

// Planar blocks of every channel count, with lengths around the stretches the call interleaves
// at a time, continue one filter state with interleaved blocks and match them bit for bit.
TEST_F(Instances, PlanarBlocksGiveTheBitsOfInterleavedOnes) {
    for (int32_t channels = 1; channels <= 8; ++channels) {
        SCOPED_TRACE(channels);
        eq_ptr planar = make_eq(), interleaved = make_eq();
        for (qxeq_eq *e : {planar.get(), interleaved.get()}) {
            ASSERT_EQ(qxeq_eq_set_preset(e, "PS_r_b"), QX_OK);
            ASSERT_EQ(qxeq_eq_set_gain(e, 7, 14.0), QX_OK);
        }
        const size_t stretch = 4096 / static_cast<size_t>(channels);
        const size_t c = static_cast<size_t>(channels);
        for (size_t frames : {size_t{0}, size_t{1}, stretch - 1, stretch, stretch + 1, 3 * stretch + 5}) {
            auto block = signal(frames, c, static_cast<uint32_t>(frames));
            block.reserve(1);
            std::vector<std::vector<float>> planes(c, std::vector<float>(frames));
            std::vector<float *> pointers;
            for (size_t ch = 0; ch < c; ++ch) {
                planes[ch].reserve(1);  // no null buffer even for 0 frames
                for (size_t f = 0; f < frames; ++f) planes[ch][f] = block[f * c + ch];
                pointers.push_back(planes[ch].data());
            }
            const auto n = static_cast<int32_t>(frames);
            ASSERT_EQ(qxeq_eq_process_planar_f32(planar.get(), pointers.data(), n, channels), QX_OK);
            ASSERT_EQ(qxeq_eq_process_f32(interleaved.get(), block.data(), n, channels), QX_OK);
            for (size_t ch = 0; ch < c; ++ch)
                for (size_t f = 0; f < frames; ++f)
                    ASSERT_EQ(std::memcmp(&planes[ch][f], &block[f * c + ch], sizeof(float)), 0)
                        << frames << " frames, channel " << ch << " frame " << f;
        }
    }
}

// A copy continues the stream of its source with the same bits, whatever the source had been
// through (a pending coefficient rebuild included), and the two stay independent afterwards.
TEST_F(Instances, CopyForksOneStreamIntoTwoIndependentOnes) {
    eq_ptr src = make_eq(), dst = make_eq(), fresh = make_eq();
    ASSERT_EQ(qxeq_eq_set_sample_rate(src.get(), 48000), QX_OK);
    ASSERT_EQ(qxeq_eq_set_preset(src.get(), "PS_rock"), QX_OK);
    auto first = signal(700, 2, 1);
    ASSERT_EQ(qxeq_eq_process_f32(src.get(), first.data(), 700, 2), QX_OK);
    ASSERT_EQ(qxeq_eq_set_gain(src.get(), 3, -9.0), QX_OK);  // coefficients stale at the copy
    ASSERT_EQ(qxeq_eq_set_gain(dst.get(), 8, 1.0), QX_ERR_NO_SUCH_BAND);
    ASSERT_EQ(qxeq_eq_copy(dst.get(), src.get()), QX_OK);
    EXPECT_STREQ(qxeq_eq_last_error(dst.get()), "OK");
    EXPECT_EQ(qxeq_eq_preset(dst.get()), qxeq_eq_preset(src.get()));
    EXPECT_EQ(qxeq_eq_sample_rate(dst.get()), 48000);

    auto a = signal(513, 2, 2), b = a;
    ASSERT_EQ(qxeq_eq_process_f32(src.get(), a.data(), 513, 2), QX_OK);
    ASSERT_EQ(qxeq_eq_process_f32(dst.get(), b.data(), 513, 2), QX_OK);
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);

    // a change to the copy leaves the source alone, and copying onto itself changes nothing
    ASSERT_EQ(qxeq_eq_set_preset(dst.get(), "PS_none"), QX_OK);
    EXPECT_EQ(qxeq_eq_is_bypassed(src.get()), 0);
    EXPECT_EQ(qxeq_eq_copy(src.get(), src.get()), QX_OK);
    EXPECT_EQ(qxeq_eq_get_gain(src.get(), 3), -9.0);
    EXPECT_EQ(qxeq_eq_copy(nullptr, src.get()), QX_ERR_INVALID_ARG);
    EXPECT_EQ(qxeq_eq_copy(dst.get(), nullptr), QX_ERR_INVALID_ARG);
    EXPECT_EQ(qxeq_eq_is_bypassed(dst.get()), 1);

    // a copy of a fresh instance is a fresh instance
    ASSERT_EQ(qxeq_eq_copy(dst.get(), fresh.get()), QX_OK);
    EXPECT_EQ(qxeq_eq_sample_rate(dst.get()), 44100);
    EXPECT_EQ(qxeq_eq_is_bypassed(dst.get()), 1);
}

TEST_F(Instances, NullInstancesAndBadArgumentsFailWithoutSideEffects) {
    eq_ptr eq = make_eq();
    qxeq_eq *e = eq.get();
    ASSERT_EQ(qxeq_eq_set_preset(e, "PS_jazz"), QX_OK);
    ASSERT_EQ(qxeq_set_preset("PS_pop"), QX_OK);
    float f[4] = {0.5f, -0.5f, 0.25f, -0.25f};
    int16_t pcm[4] = {1000, -1000, 5, -5};
    float *planes[2] = {f, f + 2};
    float *with_null[2] = {f, nullptr};
    double c[6] = {};
    struct {
        const char *call;
        int32_t status;
    } const null_calls[] = {
        {"set_preset", qxeq_eq_set_preset(nullptr, "PS_rock")},
        {"set_gain", qxeq_eq_set_gain(nullptr, 0, 3.0)},
        {"set_sample_rate", qxeq_eq_set_sample_rate(nullptr, 48000)},
        {"coeffs", qxeq_eq_coeffs(nullptr, 0, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5])},
        {"process_f32", qxeq_eq_process_f32(nullptr, f, 2, 2)},
        {"process_s16", qxeq_eq_process_s16(nullptr, pcm, 2, 2)},
        {"process_planar_f32", qxeq_eq_process_planar_f32(nullptr, planes, 2, 2)},
    };
    for (const auto &n : null_calls) EXPECT_EQ(n.status, QX_ERR_INVALID_ARG) << n.call;
    EXPECT_EQ(qxeq_eq_get_gain(nullptr, 0), 0.0);
    EXPECT_EQ(qxeq_eq_is_bypassed(nullptr), 0);
    EXPECT_EQ(qxeq_eq_sample_rate(nullptr), 0);
    EXPECT_EQ(qxeq_eq_preset(nullptr), -1);
    EXPECT_EQ(qxeq_eq_response_db(nullptr, 400.0), 0.0);
    EXPECT_STREQ(qxeq_eq_last_error(nullptr), "ERR_INVALID_ARG");
    qxeq_eq_reset_state(nullptr);
    EXPECT_STREQ(qxeq_eq_last_error(e), "OK");  // no other equaliser took the failure
    EXPECT_STREQ(qxeq_last_error(), "OK");

    // bad arguments of the planar call, checked before anything happens, even while bypassed
    struct {
        float *const *channels;
        int32_t frames, count;
    } const bad[] = {{nullptr, 2, 2}, {with_null, 2, 2}, {planes, -1, 2}, {planes, 2, 0},
                     {planes, 2, 9},  {planes, INT32_MIN, 1}, {nullptr, 0, 1}};
    for (bool bypassed : {false, true}) {
        ASSERT_EQ(qxeq_eq_set_preset(e, bypassed ? "PS_none" : "PS_jazz"), QX_OK);
        for (const auto &b : bad) {
            EXPECT_EQ(qxeq_eq_process_planar_f32(e, b.channels, b.frames, b.count), QX_ERR_INVALID_ARG);
            EXPECT_STREQ(qxeq_eq_last_error(e), "ERR_INVALID_ARG");
            EXPECT_STREQ(qxeq_last_error(), "OK");
            ASSERT_EQ(qxeq_eq_set_sample_rate(e, 44100), QX_OK);  // empties it again
        }
    }
    EXPECT_EQ(f[0], 0.5f);
    EXPECT_EQ(f[3], -0.25f);
    EXPECT_EQ(pcm[0], 1000);
    EXPECT_EQ(c[0], 0.0);

    // each equaliser keeps its own last error
    eq_ptr other = make_eq();
    EXPECT_EQ(qxeq_eq_set_gain(e, 8, 1.0), QX_ERR_NO_SUCH_BAND);
    EXPECT_EQ(qxeq_eq_set_sample_rate(other.get(), 384001), QX_ERR_BAD_SAMPLE_RATE);
    EXPECT_STREQ(qxeq_eq_last_error(e), "ERR_NO_SUCH_BAND");
    EXPECT_STREQ(qxeq_eq_last_error(other.get()), "ERR_BAD_SAMPLE_RATE");
    EXPECT_STREQ(qxeq_last_error(), "OK");
    EXPECT_EQ(qxeq_preset_name(16), nullptr);  // a flat lookup fails on the default equaliser only
    EXPECT_STREQ(qxeq_last_error(), "ERR_NO_SUCH_PRESET");
    EXPECT_STREQ(qxeq_eq_last_error(e), "ERR_NO_SUCH_BAND");
}

TEST(StatusText, EveryCodeReadsAsItsLastError) {
    struct {
        int32_t status;
        const char *text;
    } const cases[] = {{QX_OK, "OK"},
                       {QX_ERR_NO_SUCH_PRESET, "ERR_NO_SUCH_PRESET"},
                       {QX_ERR_NO_SUCH_BAND, "ERR_NO_SUCH_BAND"},
                       {QX_ERR_NO_SUCH_PROFILE, "ERR_NO_SUCH_PROFILE"},
                       {QX_ERR_FIELD_INVALID, "ERR_FIELD_INVALID"},
                       {QX_ERR_UNKNOWN_FIELD, "ERR_UNKNOWN_FIELD"},
                       {QX_ERR_BAD_SAMPLE_RATE, "ERR_BAD_SAMPLE_RATE"},
                       {QX_ERR_INVALID_ARG, "ERR_INVALID_ARG"},
                       {QX_ERR_OOM, "ERR_OOM"},
                       {9, "ERR_UNKNOWN_STATUS"},
                       {-7, "ERR_UNKNOWN_STATUS"},
                       {INT32_MIN, "ERR_UNKNOWN_STATUS"},
                       {INT32_MAX, "ERR_UNKNOWN_STATUS"}};
    for (const auto &c : cases) EXPECT_STREQ(qx_status_text(c.status), c.text) << c.status;
    // the texts are what the modules' last errors read
    EXPECT_EQ(qxeq_set_sample_rate(0), QX_ERR_BAD_SAMPLE_RATE);
    EXPECT_STREQ(qxeq_last_error(), qx_status_text(QX_ERR_BAD_SAMPLE_RATE));
}

TEST(Version, TextMatchesTheHeaderMacros) {
    const std::string expected = std::to_string(QX_VERSION_MAJOR) + "." +
                                 std::to_string(QX_VERSION_MINOR) + "." +
                                 std::to_string(QX_VERSION_PATCH);
    EXPECT_EQ(qx_version(), expected);
}

} // namespace
