// What the plugin's output must equal: the library's planar float processing of the same
// samples with the same settings, and the test signals both sides process.
#ifndef QX_TESTS_LV2_REFERENCE_H
#define QX_TESTS_LV2_REFERENCE_H

#include "qxeq.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace lv2test {

using planes = std::vector<std::vector<float>>;

// Settings as a host sets the plugin's ports, already within range: preset index, the eight band
// gains (used under PS_custom), preamp.
struct eq_settings {
    int32_t preset = 1;
    double gain[8] = {};
    float preamp_db = 0.0f;
    bool enable = true;
};

// A chord per channel plus a little deterministic noise, peaking near amp.
inline planes make_signal(size_t frames, size_t channels, double rate, double amp,
                          uint32_t seed = 1) {
    planes p(channels, std::vector<float>(frames));
    uint32_t r = seed * 2654435761u + 1u;
    for (size_t c = 0; c < channels; ++c)
        for (size_t i = 0; i < frames; ++i) {
            r = r * 1664525u + 1013904223u;
            const double t = static_cast<double>(i) / rate;
            const double noise = (static_cast<double>(r >> 8) / 16777216.0 - 0.5) * 0.1;
            p[c][i] = static_cast<float>(
                amp * (0.45 * std::sin(2 * M_PI * (430.0 + 37.0 * c) * t) +
                       0.3 * std::sin(2 * M_PI * (2500.0 + 111.0 * c) * t + c) + noise));
        }
    return p;
}

// Put eq in the settings the way a library user does: the preset by name, then under
// PS_custom the eight gains.
inline void configure(qxeq_eq *eq, const eq_settings &s) {
    qxeq_eq_set_preset(eq, qxeq_preset_name(static_cast<uint32_t>(s.preset)));
    if (s.preset == 1)
        for (uint32_t b = 0; b < 8; ++b)
            qxeq_eq_set_gain(eq, b, s.gain[b]);
}

inline float preamp_gain(float db) {
    return static_cast<float>(std::pow(10.0, static_cast<double>(db) / 20.0));
}

// Frames [from, to) of x through eq in place, preamp first (none at 0 dB); passthrough when
// disabled or under PS_none.
inline void process(qxeq_eq *eq, const eq_settings &s, planes &x, size_t from, size_t to) {
    if (!s.enable || s.preset == 0 || to <= from)
        return;
    std::vector<float *> ptr;
    for (auto &ch : x) {
        if (s.preamp_db != 0.0f)
            for (size_t i = from; i < to; ++i)
                ch[i] *= preamp_gain(s.preamp_db);
        ptr.push_back(ch.data() + from);
    }
    qxeq_eq_process_planar_f32(eq, ptr.data(), static_cast<int32_t>(to - from),
                               static_cast<int32_t>(x.size()));
}

// The whole of x with fixed settings, in one call.
inline planes reference(const planes &x, int32_t rate, const eq_settings &s) {
    planes y = x;
    qxeq_eq *eq = qxeq_eq_new();
    qxeq_eq_set_sample_rate(eq, rate);
    configure(eq, s);
    process(eq, s, y, 0, x.empty() ? 0 : x[0].size());
    qxeq_eq_free(eq);
    return y;
}

// Empty when a and b hold the same bits, else where they first differ.
inline std::string first_difference(const planes &a, const planes &b, size_t from = 0) {
    if (a.size() != b.size())
        return "channel counts differ";
    for (size_t c = 0; c < a.size(); ++c) {
        if (a[c].size() != b[c].size())
            return "lengths differ";
        for (size_t i = from; i < a[c].size(); ++i)
            if (std::memcmp(&a[c][i], &b[c][i], sizeof(float)) != 0)
                return "channel " + std::to_string(c) + " frame " + std::to_string(i) + ": " +
                       std::to_string(a[c][i]) + " vs " + std::to_string(b[c][i]);
    }
    return "";
}

// The largest step between neighbouring samples within frames [from, to).
inline double max_step(const planes &x, size_t from, size_t to) {
    double m = 0.0;
    for (const auto &ch : x)
        for (size_t i = from + 1; i < to && i < ch.size(); ++i)
            m = std::fmax(m, std::fabs(static_cast<double>(ch[i]) - ch[i - 1]));
    return m;
}

} // namespace lv2test

#endif // QX_TESTS_LV2_REFERENCE_H
