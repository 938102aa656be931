// LV2 plugin fuzz target: the plugin's entry points (built into the target) driven as a host
// might: any variant at any sample rate, any control value (NaN, infinities, far out of range,
// raw float bits) set between blocks of any length, 0 included, in place or not, and restarts.
// The promises checked after each block: a finite input gives a finite output, never a NaN,
// and a rate the library refuses leaves every block exactly as it came in.
#include "fuzz_input.h"

#include <lv2/core/lv2.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double k_inf = std::numeric_limits<double>::infinity();
constexpr double k_rates[] = {48000.0,  44100.0, 8000.0, 1.0,
                              384000.0, 96000.0, 800.0,  22050.7,
                              384001.0, 0.0,     -1.0,   0.4,
                              1e12,     k_inf,   -k_inf, std::numeric_limits<double>::quiet_NaN()};
constexpr float k_values[] = {0.0f,
                              1.0f,
                              -1.0f,
                              0.5f,
                              12.0f,
                              24.0f,
                              -24.0f,
                              25.0f,
                              15.0f,
                              16.0f,
                              3.7f,
                              1e30f,
                              -1e30f,
                              0.2f,
                              -0.0f,
                              1e-30f,
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN()};
constexpr size_t k_count_rates = sizeof k_rates / sizeof k_rates[0];
constexpr size_t k_count_values = sizeof k_values / sizeof k_values[0];
constexpr uint32_t k_channels[] = {1, 2, 6, 8};

bool refused(double rate) { return !(rate >= 0.5 && rate < 384000.5); }

} // namespace


extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_input in(data, size);
    const uint32_t variant = in.u8() % 4u;
    const double rate = k_rates[in.u8() % k_count_rates];
    const LV2_Descriptor *d = lv2_descriptor(variant);
    QX_CHECK(d != nullptr);
    QX_CHECK(lv2_descriptor(4) == nullptr);
    const LV2_Feature *const features[] = {nullptr};
    LV2_Handle h = d->instantiate(d, rate, "/nowhere/", features);
    QX_CHECK(h != nullptr);
    const uint32_t channels = k_channels[variant];
    float controls[11] = {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (uint32_t p = 0; p < 11; ++p)
        d->connect_port(h, p, &controls[p]);
    d->activate(h);

    std::vector<std::vector<float>> x(channels), y(channels);
    double phase = 0.0;
    for (int ops = 0; !in.empty() && ops < 64; ++ops) {
        switch (in.u8() % 3) {
        case 0: { // a control, from the table or raw bits
            const uint32_t port = in.u8() % 11u;
            const uint8_t pick = in.u8();
            controls[port] = pick < k_count_values ? k_values[pick] : in.f32();
            break;
        }
        case 1: { // a block of a sine at the input's amplitude and pitch
            const size_t frames = in.u16() % 4097u;
            const bool in_place = in.u8() & 1u;
            const double amp = in.u8() / 255.0, step = 0.001 + in.u8() / 64.0;
            for (uint32_t c = 0; c < channels; ++c) {
                x[c].assign(frames + 1, 0.0f); // never an empty buffer: a host passes memory
                y[c].assign(frames + 1, 0.0f);
                for (size_t i = 0; i < frames; ++i)
                    x[c][i] = static_cast<float>(amp * std::sin(phase + step * i + c));
                if (in_place)
                    y[c] = x[c];
                d->connect_port(h, 11 + c, in_place ? y[c].data() : x[c].data());
                d->connect_port(h, 11 + channels + c, y[c].data());
            }
            phase += step * static_cast<double>(frames);
            d->run(h, static_cast<uint32_t>(frames));
            for (uint32_t c = 0; c < channels; ++c)
                for (size_t i = 0; i < frames; ++i) {
                    QX_CHECK(std::isfinite(y[c][i]));
                    if (refused(rate))
                        QX_CHECK(std::memcmp(&y[c][i], &x[c][i], sizeof(float)) == 0);
                }
            break;
        }
        default: // the host restarts the stream
            if (d->deactivate)
                d->deactivate(h);
            d->activate(h);
            break;
        }
    }
    if (d->deactivate)
        d->deactivate(h);
    d->cleanup(h);
    return 0;
}
