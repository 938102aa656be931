// The plugin driven through its descriptor, as a host does: dlopen the bundle's module, connect
// the ports, run blocks. Checks the bits against the library at fixed controls, the fade on
// every kind of control change, host values out of range, and rates the library refuses.
#include "reference.h"

#include <gtest/gtest.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace lv2test;

constexpr double k_rate = 48000.0;
constexpr size_t k_fade = 240; // 5 ms at 48 kHz

const LV2_Descriptor *descriptor(uint32_t index) {
    static void *module = dlopen(QX_LV2_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr)
        return nullptr;
    auto *entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(module, "lv2_descriptor"));
    return entry ? entry(index) : nullptr;
}

struct variant_case {
    uint32_t index;
    const char *uri;
    size_t channels;
};
constexpr variant_case k_variants[] = {{0, "urn:playback-profile:eq#mono", 1},
                                       {1, "urn:playback-profile:eq#stereo", 2},
                                       {2, "urn:playback-profile:eq#surround51", 6},
                                       {3, "urn:playback-profile:eq#surround71", 8}};

// One plugin instance with its control values; run() feeds it x in blocks of the given sizes
// (cycled) and returns its output.
struct plugin {
    const LV2_Descriptor *d = nullptr;
    LV2_Handle h = nullptr;
    size_t channels = 0;
    float controls[11] = {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};

    plugin(uint32_t index, double rate, const LV2_Feature *const *features = nullptr)
        : d(descriptor(index)) {
        static const LV2_Feature *const none[] = {nullptr};
        if (d == nullptr)
            return;
        channels = k_variants[index].channels;
        h = d->instantiate(d, rate, "/nowhere/", features ? features : none);
        if (h == nullptr)
            return;
        for (uint32_t p = 0; p < 11; ++p)
            d->connect_port(h, p, &controls[p]);
        d->activate(h);
    }
    ~plugin() {
        if (h != nullptr) {
            if (d->deactivate)
                d->deactivate(h);
            d->cleanup(h);
        }
    }
    plugin(const plugin &) = delete;
    plugin &operator=(const plugin &) = delete;

    void set(const eq_settings &s) {
        controls[0] = s.enable ? 1.0f : 0.0f;
        controls[1] = static_cast<float>(s.preset);
        controls[2] = s.preamp_db;
        for (int b = 0; b < 8; ++b)
            controls[3 + b] = static_cast<float>(s.gain[b]);
    }

    // Frames [from, to) of x through the plugin, in place in y (in and out separate buffers
    // unless in_place).
    void run(const planes &x, planes &y, size_t from, size_t to, std::vector<size_t> blocks,
             bool in_place = false) {
        if (in_place)
            for (uint32_t c = 0; c < channels; ++c)
                std::copy(x[c].begin() + from, x[c].begin() + to, y[c].begin() + from);
        for (size_t at = from, k = 0; at < to; ++k) {
            const size_t n = std::min(blocks[k % blocks.size()], to - at);
            for (uint32_t c = 0; c < channels; ++c) {
                const float *in = in_place ? y[c].data() + at : x[c].data() + at;
                d->connect_port(h, 11 + c, const_cast<float *>(in));
                d->connect_port(h, 11 + static_cast<uint32_t>(channels) + c, y[c].data() + at);
            }
            d->run(h, static_cast<uint32_t>(n));
            at += n;
        }
    }
};

planes silence_like(const planes &x) { return planes(x.size(), std::vector<float>(x[0].size())); }

TEST(Descriptor, ListsTheFourVariantsAndNothingMore) {
    for (const auto &v : k_variants) {
        ASSERT_NE(descriptor(v.index), nullptr) << dlerror();
        EXPECT_STREQ(descriptor(v.index)->URI, v.uri);
    }
    EXPECT_EQ(descriptor(4), nullptr);
    EXPECT_EQ(descriptor(UINT32_MAX), nullptr);
    EXPECT_EQ(descriptor(0)->extension_data("http://lv2plug.in/ns/ext/state#interface"), nullptr);
}

// Fixed controls: the library's bits from the first frame, whatever the host's block sizes (0
// included), for in-place and separate buffers alike.
TEST(FixedControls, GiveTheLibraryBitsFromTheFirstFrame) {
    eq_settings custom;
    custom.gain[0] = 4.0;
    custom.gain[3] = -7.5;
    custom.gain[7] = 24.0;
    eq_settings rock;
    rock.preset = 12;
    eq_settings louder = rock;
    louder.preamp_db = -6.0f;
    struct {
        const char *what;
        eq_settings s;
        std::vector<size_t> blocks;
        bool in_place;
    } const cases[] = {
        {"custom, one block", custom, {100000}, false},
        {"custom, odd blocks with empty ones", custom, {0, 1, 255, 0, 256, 257, 1000}, false},
        {"rock in place", rock, {4096, 17}, true},
        {"rock with preamp", louder, {512}, false},
        {"flat custom", eq_settings{}, {64}, false},
    };
    for (const auto &v : k_variants)
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(v.uri) + ": " + c.what);
            const planes x = make_signal(9000, v.channels, k_rate, 0.5);
            plugin p(v.index, k_rate);
            ASSERT_NE(p.h, nullptr);
            p.set(c.s);
            planes y = silence_like(x);
            p.run(x, y, 0, 9000, c.blocks, c.in_place);
            EXPECT_EQ(first_difference(y, reference(x, 48000, c.s)), "");
        }
}

// A host block longer than one library call takes (2^20 frames) goes through in pieces that
// continue one stream.
TEST(FixedControls, LargeBlocksGoThroughInPieces) {
    eq_settings s;
    s.preset = 5;
    const size_t frames = (size_t{1} << 20) + 4099;
    const planes x = make_signal(frames, 1, k_rate, 0.5);
    plugin p(0, k_rate);
    ASSERT_NE(p.h, nullptr);
    p.set(s);
    planes y = silence_like(x);
    p.run(x, y, 0, frames, {frames});
    EXPECT_EQ(first_difference(y, reference(x, 48000, s)), "");
}

// A host may hand one channel's input buffer to another channel as its output: every output
// is still made from the inputs as they were when run() started, fading or not.
TEST(FixedControls, OutputsOverlappingOtherInputsSeeTheInputsUnchanged) {
    eq_settings s;
    s.gain[1] = 9.0;
    const planes x = make_signal(5000, 2, k_rate, 0.5);
    plugin p(1, k_rate);
    ASSERT_NE(p.h, nullptr);
    p.set(s);
    planes a = x; // a[0] is in_l and out_r, a[1] is in_r and out_l
    planes y = silence_like(x);
    for (size_t at = 0; at < 5000; at += 1000) {
        if (at == 3000) { // a change on the way, so a fade runs through a block too
            s.gain[1] = -9.0;
            p.set(s);
        }
        p.d->connect_port(p.h, 11, a[0].data() + at);
        p.d->connect_port(p.h, 12, a[1].data() + at);
        p.d->connect_port(p.h, 13, a[1].data() + at);
        p.d->connect_port(p.h, 14, a[0].data() + at);
        p.d->run(p.h, 1000);
    }
    plugin q(1, k_rate); // the same stream on separate buffers
    s.gain[1] = 9.0;
    q.set(s);
    q.run(x, y, 0, 3000, {1000});
    s.gain[1] = -9.0;
    q.set(s);
    q.run(x, y, 3000, 5000, {1000});
    EXPECT_EQ(first_difference(planes{a[1], a[0]}, y), "");
}

// Every kind of change, made at frame k (a block boundary): no step in the output larger than
// the old and the new settings give themselves, and from k + fade on exactly the library's
// stream whose settings changed at k as a library user changes them.
TEST(ControlChanges, FadeWithoutAClickAndSettleOnTheLibrary) {
    eq_settings flat, boost, cut, rock, bass, off, none, loud;
    boost.gain[0] = 18.0; // the signal's 430 Hz partial, up 18 dB
    boost.gain[4] = 6.0;
    cut = boost;
    cut.gain[0] = -18.0;
    rock.preset = 12;
    bass.preset = 3;
    off = boost;
    off.enable = false;
    none.preset = 0;
    loud = boost;
    loud.preamp_db = 12.0f;
    struct {
        const char *what;
        eq_settings from, to;
    } const cases[] = {
        {"gain +18 to -18", boost, cut},
        {"flat to boost", flat, boost},
        {"preset rock to bass", rock, bass},
        {"custom to rock", boost, rock},
        {"disable", boost, off},
        {"enable", off, boost},
        {"to PS_none", rock, none},
        {"from PS_none", none, boost},
        {"preamp +12", boost, loud},
    };
    const size_t frames = 12000, k = 4800;
    const planes x = make_signal(frames, 2, k_rate, 0.4);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        plugin p(1, k_rate);
        ASSERT_NE(p.h, nullptr);
        planes y = silence_like(x);
        p.set(c.from);
        p.run(x, y, 0, k, {1000});
        p.set(c.to);
        p.run(x, y, k, frames, {100, 37, 1000});

        // the library's stream: old settings up to k, then the calls a library user makes
        planes want = x;
        qxeq_eq *eq = qxeq_eq_new();
        qxeq_eq_set_sample_rate(eq, 48000);
        configure(eq, c.from);
        process(eq, c.from, want, 0, k);
        const bool was_on = c.from.enable && c.from.preset != 0;
        if (!was_on || c.from.preset != c.to.preset)
            configure(eq, c.to);
        else
            for (uint32_t b = 0; b < 8; ++b)
                if (c.from.gain[b] != c.to.gain[b])
                    qxeq_eq_set_gain(eq, b, c.to.gain[b]);
        process(eq, c.to, want, k, frames);
        qxeq_eq_free(eq);
        planes before = want;
        for (auto &ch : before)
            ch.resize(k);
        planes got_before = y;
        for (auto &ch : got_before)
            ch.resize(k);
        EXPECT_EQ(first_difference(got_before, before), "");
        EXPECT_EQ(first_difference(y, want, k + k_fade), "");

        // the largest step the signal itself has under either settings, away from the change
        const planes old_only = reference(x, 48000, c.from);
        const double steady =
            std::fmax(max_step(old_only, 2000, k), max_step(want, k + 2000, frames));
        const double fade_step = max_step(y, k - 1, k + k_fade + 1);
        EXPECT_LE(fade_step, 1.05 * steady) << "steady " << steady;
        // switching off abruptly would step further: the check can see a click (a filter
        // switched on starts from rest, so it steps little even without a fade)
        if (was_on && (!c.to.enable || c.to.preset == 0)) {
            planes spliced = old_only;
            for (size_t ch = 0; ch < 2; ++ch)
                for (size_t i = k; i < frames; ++i)
                    spliced[ch][i] = want[ch][i];
            EXPECT_GT(max_step(spliced, k - 1, k + 1), 1.05 * steady);
        }
    }
}

// A change while a fade runs waits for that fade, then fades on: the output ends on the last
// settings, exactly, and never steps further than the signal does.
TEST(ControlChanges, ChangesDuringAFadeSettleOnTheLastSettings) {
    const size_t frames = 9600;
    const planes x = make_signal(frames, 1, k_rate, 0.4);
    plugin p(0, k_rate);
    ASSERT_NE(p.h, nullptr);
    planes y = silence_like(x);
    eq_settings s;
    p.set(s);
    p.run(x, y, 0, 2400, {480});
    for (size_t at = 2400; at < 3600; at += 64) { // a new gain every 64 frames
        s.gain[0] = (at / 64 % 2) ? 18.0 : -18.0;
        p.set(s);
        p.run(x, y, at, at + 64, {64});
    }
    p.run(x, y, 3600, frames, {480});
    const double steady = std::fmax(max_step(reference(x, 48000, s), 1000, frames),
                                    max_step(reference(x, 48000, eq_settings{}), 1000, frames));
    EXPECT_LE(max_step(y, 2399, frames), 1.05 * steady);
    // settled: the tail matches a stream that ran the last gain alone, up to the filter's memory
    const planes last = reference(x, 48000, s);
    double worst = 0.0;
    for (size_t i = frames - 2400; i < frames; ++i)
        worst = std::fmax(worst, std::fabs(static_cast<double>(y[0][i]) - last[0][i]));
    EXPECT_LT(worst, 1e-4);
}

// Hosts pass any value: clamped into range, non-finite taken as the port's default, and never
// a NaN or an infinity out of a finite signal.
TEST(HostValues, AreClampedAndNonFiniteOnesTakeTheDefault) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    eq_settings clamped;
    clamped.gain[0] = 24.0;
    clamped.gain[1] = -24.0;
    clamped.preamp_db = 24.0f;
    eq_settings defaults; // enable 1, PS_custom, preamp 0, gains 0
    eq_settings top;
    top.preset = 15;
    struct {
        const char *what;
        float controls[11];
        eq_settings as;
    } const cases[] = {
        {"gains and preamp beyond range", {1, 1, 100, 1e30f, -1e30f}, clamped},
        {"every control NaN", {nan, nan, nan, nan, nan, nan, nan, nan, nan, nan, nan}, defaults},
        {"every control infinite",
         {inf, -inf, inf, -inf, inf, inf, inf, inf, inf, inf, inf},
         defaults},
        {"preset beyond the last", {1, 99.0f}, top},
        {"preset rounds to the nearest", {1, 14.6f}, top},
        {"enable 0.2 is on", {0.2f, 1, 24, 24, -24}, clamped},
        {"enable below zero is off", {-3.0f, 1, 24, 24, -24}, eq_settings{1, {}, 0.0f, false}},
    };
    const planes x = make_signal(4000, 2, k_rate, 0.9);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        plugin p(1, k_rate);
        ASSERT_NE(p.h, nullptr);
        std::copy(std::begin(c.controls), std::end(c.controls), p.controls);
        planes y = silence_like(x);
        p.run(x, y, 0, 4000, {700});
        EXPECT_EQ(first_difference(y, reference(x, 48000, c.as)), "");
    }

    // full-scale floats and infinities in, boosted: finite or infinite out, never NaN
    planes wild = x;
    wild[0][10] = inf;
    wild[1][20] = nan;
    for (size_t i = 100; i < 200; ++i)
        wild[0][i] = 3e38f;
    plugin p(1, k_rate);
    eq_settings s = clamped;
    p.set(s);
    planes y = silence_like(x);
    p.run(wild, y, 0, 2000, {256});
    s.gain[0] = -24.0; // and a fade across the huge stretch
    p.set(s);
    p.run(wild, y, 2000, 4000, {256});
    for (const auto &ch : y)
        for (float v : ch)
            ASSERT_FALSE(std::isnan(v));
}

struct log_capture {
    std::vector<std::string> lines;
    static int printf_(LV2_Log_Handle h, LV2_URID, const char *fmt, ...) {
        char text[512];
        va_list ap;
        va_start(ap, fmt);
        std::vsnprintf(text, sizeof text, fmt, ap);
        va_end(ap);
        static_cast<log_capture *>(h)->lines.emplace_back(text);
        return 0;
    }
    static int vprintf_(LV2_Log_Handle h, LV2_URID, const char *fmt, va_list ap) {
        char text[512];
        std::vsnprintf(text, sizeof text, fmt, ap);
        static_cast<log_capture *>(h)->lines.emplace_back(text);
        return 0;
    }
    static LV2_URID map_(LV2_URID_Map_Handle, const char *) { return 7; }
};

// A rate the library refuses leaves the audio as it is, says so through the host's log when
// there is one, and changes nothing else; rates it takes, however low, equalise.
TEST(SampleRates, RefusedOnesPassAudioThroughAndLog) {
    const double refused[] = {0.0,
                              -48000.0,
                              0.4,
                              384001.0,
                              1e12,
                              std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity()};
    const planes x = make_signal(3000, 2, 48000.0, 0.5);
    eq_settings boost;
    boost.gain[2] = 12.0;
    for (double rate : refused) {
        SCOPED_TRACE(rate);
        log_capture log;
        LV2_Log_Log log_feature{&log, log_capture::printf_, log_capture::vprintf_};
        LV2_URID_Map map{nullptr, log_capture::map_};
        const LV2_Feature lf{LV2_LOG__log, &log_feature}, mf{LV2_URID__map, &map};
        const LV2_Feature *const features[] = {&lf, &mf, nullptr};
        plugin p(1, rate, features);
        ASSERT_NE(p.h, nullptr);
        p.set(boost);
        planes y = silence_like(x);
        p.run(x, y, 0, 1500, {512, 0});
        boost.gain[2] = -12.0; // a change starts no fade either
        p.set(boost);
        p.run(x, y, 1500, 3000, {512});
        EXPECT_EQ(first_difference(y, x), "");
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_NE(log.lines[0].find("outside 1..384000 Hz"), std::string::npos) << log.lines[0];
        plugin quiet(0, rate); // no log feature: still passes through, message on stderr
        ASSERT_NE(quiet.h, nullptr);
    }
    for (double rate : {1.0, 800.0, 8000.0, 384000.0}) {
        SCOPED_TRACE(rate);
        plugin p(1, rate);
        ASSERT_NE(p.h, nullptr);
        p.set(boost);
        planes y = silence_like(x);
        p.run(x, y, 0, 3000, {333});
        EXPECT_EQ(first_difference(y, reference(x, static_cast<int32_t>(rate), boost)), "");
    }
}

// activate() starts the stream over: the controls apply from the next frame without a fade and
// the filter state is fresh, as a host restarting playback expects.
TEST(Activation, StartsTheStreamOver) {
    const planes x = make_signal(3000, 1, k_rate, 0.5);
    eq_settings s;
    s.preset = 9;
    plugin p(0, k_rate);
    p.set(eq_settings{});
    planes y = silence_like(x);
    p.run(x, y, 0, 3000, {512});
    if (p.d->deactivate)
        p.d->deactivate(p.h);
    p.d->activate(p.h);
    p.set(s);
    p.run(x, y, 0, 3000, {512});
    EXPECT_EQ(first_difference(y, reference(x, 48000, s)), "");
}

} // namespace
