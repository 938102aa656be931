// The cross-fading equaliser engine behind each plugin instance; see engine.h. Calls on one
// engine must not overlap (LV2 guarantees that for run and the instantiation class).
#include "engine.h"

#include "qxeq.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace qxlv2 {

namespace {

constexpr uint32_t k_bands = 8;
constexpr int32_t k_preset_none = 0;
constexpr int32_t k_preset_custom = 1;
constexpr int32_t k_max_rate = 384000;

// The settings as the sound sees them: every passthrough (enable off, or PS_none) is the one
// inactive state, and the band ports count only under PS_custom, so a change the sound cannot
// hear starts no fade.
struct settings {
    bool active;
    int32_t preset;
    float preamp_db;
    float gain_db[k_bands];
};

bool same(const settings &a, const settings &b) {
    if (a.active != b.active || a.preset != b.preset || a.preamp_db != b.preamp_db)
        return false;
    for (uint32_t i = 0; i < k_bands; ++i)
        if (a.gain_db[i] != b.gain_db[i])
            return false;
    return true;
}

// Hosts pass any value (ffmpeg does not clamp): non-finite means the default, the rest is
// clamped into the port's range.
float control(const float *port, float fallback, float lo, float hi) {
    if (port == nullptr || !std::isfinite(*port))
        return fallback;
    return *port < lo ? lo : (*port > hi ? hi : *port);
}

settings read_settings(const float *const *c) {
    settings s{};
    // LV2's enabled designation: above zero processes, zero or below bypasses
    const bool enabled = control(c[k_port_enable], k_default_enable, 0.0f, 1.0f) > 0.0f;
    const float last = static_cast<float>(qxeq_preset_count() - 1);
    const int32_t preset = static_cast<int32_t>(
        std::floor(control(c[k_port_preset], k_default_preset, 0.0f, last) + 0.5f));
    if (!enabled || preset == k_preset_none)
        return s;
    s.active = true;
    s.preset = preset;
    s.preamp_db = control(c[k_port_preamp], 0.0f, -k_max_db, k_max_db);
    if (preset == k_preset_custom)
        for (uint32_t b = 0; b < k_bands; ++b)
            s.gain_db[b] = control(c[k_port_gain0 + b], 0.0f, -k_max_db, k_max_db);
    return s;
}

float linear_gain(float db) {
    return static_cast<float>(std::pow(10.0, static_cast<double>(db) / 20.0));
}

// The calls a library user makes to select these settings. Gains are clamped already, so no
// clamp warning (and its lock) is ever logged from run.
void configure(qxeq_eq *eq, const settings &s) {
    qxeq_eq_set_preset(eq, qxeq_preset_name(static_cast<uint32_t>(s.preset))); // clears state
    if (s.preset == k_preset_custom)
        for (uint32_t b = 0; b < k_bands; ++b)
            qxeq_eq_set_gain(eq, b, s.gain_db[b]);
}

// Move eq from one active settings to the next as a library user would: a new preset (or a
// start after passthrough) selects it afresh, which clears the filter state; new gains under
// PS_custom keep it.
void retune(qxeq_eq *eq, const settings &from, const settings &to) {
    if (!to.active)
        return;
    if (!from.active || from.preset != to.preset) {
        configure(eq, to);
        return;
    }
    if (to.preset == k_preset_custom)
        for (uint32_t b = 0; b < k_bands; ++b)
            if (from.gain_db[b] != to.gain_db[b])
                qxeq_eq_set_gain(eq, b, to.gain_db[b]);
}

} // namespace

struct engine {
    uint32_t channels;
    bool rate_ok;
    bool primed;     // the settings in force came from a run's controls
    qxeq_eq *truth;  // runs `now` from the frame it took effect
    qxeq_eq *fading; // finishes `old` while a fade lasts
    settings now, old;
    float now_gain, old_gain;
    uint32_t fade_len, fade_pos; // fade_pos == fade_len: no fade running
    float *ramp;                 // weight of the new settings at each fade frame, in (0, 1)
    float *dry;                  // this chunk's input, channels * k_chunk_frames
    float *old_out;              // this chunk's output under the old settings
};

engine *engine_new(uint32_t channels, double rate, bool *rate_ok) {
    if (channels < 1 || channels > 8)
        return nullptr;
    auto *e = static_cast<engine *>(std::calloc(1, sizeof(engine)));
    if (e == nullptr)
        return nullptr;
    e->channels = channels;
    const double hz = std::isfinite(rate) ? std::floor(rate + 0.5) : 0.0;
    e->truth = qxeq_eq_new();
    e->fading = qxeq_eq_new();
    e->rate_ok = hz >= 1.0 && hz <= k_max_rate && e->truth != nullptr &&
                 qxeq_eq_set_sample_rate(e->truth, static_cast<int32_t>(hz)) == QX_OK;
    e->fade_len = e->rate_ok ? static_cast<uint32_t>(std::lround(hz * k_fade_seconds)) : 1;
    if (e->fade_len < 1)
        e->fade_len = 1;
    e->fade_pos = e->fade_len;
    e->ramp = static_cast<float *>(std::calloc(e->fade_len, sizeof(float)));
    e->dry = static_cast<float *>(std::calloc(size_t{channels} * k_chunk_frames, sizeof(float)));
    e->old_out =
        static_cast<float *>(std::calloc(size_t{channels} * k_chunk_frames, sizeof(float)));
    if (e->truth == nullptr || e->fading == nullptr || e->ramp == nullptr || e->dry == nullptr ||
        e->old_out == nullptr) {
        engine_free(e);
        return nullptr;
    }
    // a raised cosine: its slope is zero at both ends, so the fade adds no corner of its own
    const double pi = 3.14159265358979323846;
    for (uint32_t k = 0; k < e->fade_len; ++k)
        e->ramp[k] = static_cast<float>(0.5 - 0.5 * std::cos(pi * (k + 1) / (e->fade_len + 1.0)));
    *rate_ok = e->rate_ok;
    return e;
}

void engine_free(engine *e) {
    if (e == nullptr)
        return;
    qxeq_eq_free(e->truth);
    qxeq_eq_free(e->fading);
    std::free(e->ramp);
    std::free(e->dry);
    std::free(e->old_out);
    std::free(e);
}

void engine_reset(engine *e) {
    e->primed = false;
    e->fade_pos = e->fade_len;
    qxeq_eq_reset_state(e->truth);
    qxeq_eq_reset_state(e->fading);
}

namespace {

// The change takes effect at this frame: fading forks the stream as it stands and keeps the
// old settings, truth switches to the new ones.
void start_fade(engine *e, const settings &target) {
    e->old = e->now;
    e->old_gain = e->now_gain;
    if (e->now.active)
        qxeq_eq_copy(e->fading, e->truth);
    retune(e->truth, e->now, target);
    e->now = target;
    e->now_gain = linear_gain(target.preamp_db);
    e->fade_pos = 0;
}

// One settings' output of the dry chunk into dst; preamp 0 dB leaves the samples untouched,
// so the library sees exactly the host's input.
void render(qxeq_eq *eq, const settings &s, float gain, const float *dry, float *const *dst,
            uint32_t channels, uint32_t frames) {
    for (uint32_t c = 0; c < channels; ++c) {
        const float *x = dry + size_t{c} * k_chunk_frames;
        float *y = dst[c];
        if (s.active && s.preamp_db != 0.0f)
            for (uint32_t i = 0; i < frames; ++i)
                y[i] = x[i] * gain;
        else
            std::memcpy(y, x, frames * sizeof(float));
    }
    if (s.active && frames > 0)
        qxeq_eq_process_planar_f32(eq, dst, static_cast<int32_t>(frames),
                                   static_cast<int32_t>(channels));
}

// Whether an output buffer overlaps another channel's input: then every input must be read
// before any output is written, which the chunked path does through its copy.
bool crosses(const float *const *in, float *const *out, uint32_t channels, size_t frames) {
    const size_t bytes = frames * sizeof(float);
    for (uint32_t c = 0; c < channels; ++c)
        for (uint32_t d = 0; d < channels; ++d) {
            const auto x = reinterpret_cast<uintptr_t>(in[d]),
                       y = reinterpret_cast<uintptr_t>(out[c]);
            if (c != d && x < y + bytes && y < x + bytes)
                return true;
        }
    return false;
}

// Steady settings with no fade to run: the host's buffers go straight to the library, in one
// call per stretch of k_direct_frames (its frame count is an int32_t).
constexpr size_t k_direct_frames = size_t{1} << 20;

void run_direct(engine *e, const float *const *in, float *const *out, size_t at, size_t frames) {
    const bool eq = e->rate_ok && e->now.active;
    for (size_t done = 0; done < frames;) {
        const size_t n = frames - done < k_direct_frames ? frames - done : k_direct_frames;
        float *y[8];
        for (uint32_t c = 0; c < e->channels; ++c) {
            const float *x = in[c] + at + done;
            y[c] = out[c] + at + done;
            if (eq && e->now.preamp_db != 0.0f)
                for (size_t i = 0; i < n; ++i)
                    y[c][i] = x[i] * e->now_gain;
            else if (x != y[c])
                std::memmove(y[c], x, n * sizeof(float));
        }
        if (eq)
            qxeq_eq_process_planar_f32(e->truth, y, static_cast<int32_t>(n),
                                       static_cast<int32_t>(e->channels));
        done += n;
    }
}

void run_chunk(engine *e, const float *const *in, float *const *out, size_t at, uint32_t n) {
    float *y[8], *old_y[8];
    for (uint32_t c = 0; c < e->channels; ++c) {
        std::memcpy(e->dry + size_t{c} * k_chunk_frames, in[c] + at, n * sizeof(float));
        y[c] = out[c] + at;
        old_y[c] = e->old_out + size_t{c} * k_chunk_frames;
    }
    if (!e->rate_ok) {
        render(nullptr, settings{}, 1.0f, e->dry, y, e->channels, n);
        return;
    }
    const uint32_t m = e->fade_pos < e->fade_len ? n : 0; // chunks end where a fade ends
    if (m > 0)
        render(e->fading, e->old, e->old_gain, e->dry, old_y, e->channels, m);
    render(e->truth, e->now, e->now_gain, e->dry, y, e->channels, n);
    if (m == 0)
        return;
    const float *w = e->ramp + e->fade_pos;
    for (uint32_t c = 0; c < e->channels; ++c)
        for (uint32_t i = 0; i < m; ++i) {
            const float mixed = y[c][i] * w[i] + old_y[c][i] * (1.0f - w[i]);
            // infinity from both sides (a result beyond the float range) would mix to NaN
            if (!std::isnan(mixed))
                y[c][i] = mixed;
        }
    e->fade_pos += m;
}

} // namespace

void engine_run(engine *e, const float *const *controls, const float *const *in, float *const *out,
                uint32_t frames) {
    const settings target = read_settings(controls);
    if (!e->primed) { // from the first frame, exactly the library's output: no fade
        if (target.active && e->rate_ok)
            configure(e->truth, target);
        e->now = target;
        e->now_gain = linear_gain(target.preamp_db);
        e->primed = true;
    }
    const bool direct = !crosses(in, out, e->channels, frames);
    for (size_t at = 0; at < frames;) {
        // a change while a fade runs waits for its end, then fades on from there
        if (e->fade_pos == e->fade_len && e->rate_ok && !same(target, e->now))
            start_fade(e, target);
        if (e->fade_pos == e->fade_len && direct) { // nothing changes for the rest of the run
            run_direct(e, in, out, at, frames - at);
            return;
        }
        uint32_t n =
            static_cast<uint32_t>(frames - at < k_chunk_frames ? frames - at : k_chunk_frames);
        if (e->fade_pos < e->fade_len && e->fade_len - e->fade_pos < n)
            n = e->fade_len - e->fade_pos;
        run_chunk(e, in, out, at, n);
        at += n;
    }
}

} // namespace qxlv2
