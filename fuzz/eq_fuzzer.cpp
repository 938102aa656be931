// Equaliser fuzz target: the input is a sequence of settings (rate, gains, presets, resets,
// response and coefficient queries) and blocks of float or 16-bit samples processed in place.
// Every processed block is compared bit for bit with the straightforward loop of tests/oracle.h,
// histories and coefficients included, and the promises a host relies on are checked after
// each call: 16-bit output within -32767..32767, no NaN left in float output, non-finite input
// coming out as 0.0, bypass leaving blocks untouched, no stored band output strictly between
// -1e-20 and 1e-20 except 0, and the status, last-error text and warning of every setter.
#include "fuzz_input.h"
#include "oracle.h"
#include "qxeq.h"
#include "qxeq_state.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr double k_inf = std::numeric_limits<double>::infinity();
constexpr double k_nan = std::numeric_limits<double>::quiet_NaN();

constexpr int32_t k_rates[] = {1,      2,      8000, 11025, 22050,  44100,  48000,     96000,
                               192000, 384000, 0,    -1,    384001, -44100, INT32_MIN, INT32_MAX};
constexpr double k_gains[] = {0.0,    -0.0, 24.0, -24.0, 24.000001, -24.000001, 1e308, -1e308,
                              5e-324, 12.5, -6.0, 0.001, k_nan,     k_inf,      -k_inf};
constexpr double k_freqs[] = {0.0,  400.0, 1000.0, 9600.0, 22050.0, 1e9,   1e308,
                              -1.0, -0.0,  k_nan,  k_inf,  -k_inf,  5e-324};

oracle_eq g_oracle;

void check_last_error() {
    const char *e = qxeq_last_error();
    QX_CHECK(e != nullptr);
    QX_CHECK(std::strlen(e) < 256);
    QX_CHECK(std::strcmp(e, "OK") == 0 || std::strncmp(e, "ERR_", 4) == 0);
}

void expect_error(int32_t status, int32_t code, const char *text) {
    QX_CHECK(status == code);
    QX_CHECK(std::strcmp(qxeq_last_error(), text) == 0);
}

// The library's histories and coefficients against the oracle's, bit for bit, and the flush
// bound on every stored band output.
void check_state(bool coefficients) {
    for (int b = 0; b < qxeq::k_bands; ++b) {
        const qxeq::band_record &lib = qxeq::g_bq[b];
        const oracle_band &ref = g_oracle.band[b];
        QX_CHECK(std::memcmp(lib.x1, ref.x1, sizeof lib.x1) == 0);
        QX_CHECK(std::memcmp(lib.x2, ref.x2, sizeof lib.x2) == 0);
        QX_CHECK(std::memcmp(lib.y1, ref.y1, sizeof lib.y1) == 0);
        QX_CHECK(std::memcmp(lib.y2, ref.y2, sizeof lib.y2) == 0);
        if (coefficients) {
            QX_CHECK(std::memcmp(&lib.b0, &ref.b0, sizeof(double)) == 0);
            QX_CHECK(std::memcmp(&lib.b1, &ref.b1, sizeof(double)) == 0);
            QX_CHECK(std::memcmp(&lib.b2, &ref.b2, sizeof(double)) == 0);
            QX_CHECK(std::memcmp(&lib.a1, &ref.a1, sizeof(double)) == 0);
            QX_CHECK(std::memcmp(&lib.a2, &ref.a2, sizeof(double)) == 0);
        }
        for (int c = 0; c < qxeq::k_max_channels; ++c) {
            for (double y : {lib.y1[c], lib.y2[c]}) {
                QX_CHECK(std::isfinite(y));
                QX_CHECK(y == 0.0 || y >= 1e-20 || y <= -1e-20);
            }
        }
    }
}

// MARK: settings

void set_rate(fuzz_input &in) {
    const uint8_t mode = in.u8() % 3;
    int32_t hz;
    if (mode == 0)
        hz = k_rates[in.u8() % (sizeof k_rates / sizeof k_rates[0])];
    else if (mode == 1)
        hz = 1 + static_cast<int32_t>(in.u32() % 384000u);
    else
        hz = in.i32();
    const int32_t before = qxeq_sample_rate();
    const int32_t status = qxeq_set_sample_rate(hz);
    if (hz < 1 || hz > 384000) {
        expect_error(status, QX_ERR_BAD_SAMPLE_RATE, "ERR_BAD_SAMPLE_RATE");
        QX_CHECK(qxeq_sample_rate() == before);
        return;
    }
    QX_CHECK(status == QX_OK);
    QX_CHECK(std::strcmp(qxeq_last_error(), "OK") == 0);
    QX_CHECK(qxeq_sample_rate() == hz);
    if (hz != before)
        g_oracle.reset();
}

void set_gain(fuzz_input &in) {
    const uint32_t band = in.u8() % 10;
    const uint8_t mode = in.u8() % 3;
    double gain;
    if (mode == 0)
        gain = k_gains[in.u8() % (sizeof k_gains / sizeof k_gains[0])];
    else if (mode == 1)
        gain = static_cast<int8_t>(in.u8()) / 4.0;
    else
        gain = in.f64();
    const int32_t bypass_before = qxeq_is_bypassed();
    const int32_t warnings = qx_warning_count();
    const int32_t status = qxeq_set_gain(band, gain);
    if (band > 7) {
        expect_error(status, QX_ERR_NO_SUCH_BAND, "ERR_NO_SUCH_BAND");
        QX_CHECK(qxeq_is_bypassed() == bypass_before);
        QX_CHECK(qx_warning_count() == warnings);
        return;
    }
    if (!std::isfinite(gain)) {
        expect_error(status, QX_ERR_INVALID_ARG, "ERR_INVALID_ARG");
        QX_CHECK(qxeq_is_bypassed() == bypass_before);
        QX_CHECK(qx_warning_count() == warnings);
        return;
    }
    QX_CHECK(status == QX_OK);
    QX_CHECK(qxeq_is_bypassed() == 0);
    const bool clamped = gain < -24.0 || gain > 24.0;
    const double kept = clamped ? (gain < 0 ? -24.0 : 24.0) : gain;
    QX_CHECK(qxeq_get_gain(band) == kept);
    if (!clamped) {
        QX_CHECK(qx_warning_count() == warnings);
    } else if (warnings == 64) {
        QX_CHECK(qx_warning_count() == 64);
    } else {
        QX_CHECK(qx_warning_count() == warnings + 1);
        char want[96]; // the warning is composed in 96 bytes: huge gains are cut there
        std::snprintf(want, sizeof want, "gain clamp band%u %.3f -> [-24,24]", band, gain);
        QX_CHECK(std::strcmp(qx_warning(warnings), want) == 0);
    }
}

void set_preset(fuzz_input &in) {
    const uint8_t pick = in.u8() % 19;
    const char *name = pick < 16    ? qxeq_preset_name(pick)
                       : pick == 16 ? "PS_ROCK"
                       : pick == 17 ? nullptr
                                    : "";
    double gains_before[8];
    for (uint32_t b = 0; b < 8; ++b)
        gains_before[b] = qxeq_get_gain(b);
    const int32_t bypass_before = qxeq_is_bypassed();
    const int32_t status = qxeq_set_preset(name);
    if (pick >= 16) {
        expect_error(status, QX_ERR_NO_SUCH_PRESET,
                     name == nullptr ? "ERR_INVALID_ARG" : "ERR_NO_SUCH_PRESET");
        QX_CHECK(qxeq_is_bypassed() == bypass_before);
        for (uint32_t b = 0; b < 8; ++b)
            QX_CHECK(qxeq_get_gain(b) == gains_before[b]);
        return;
    }
    QX_CHECK(status == QX_OK);
    QX_CHECK(std::strcmp(qxeq_last_error(), "OK") == 0);
    QX_CHECK(qxeq_is_bypassed() == (pick == 0 ? 1 : 0));
    for (uint32_t b = 0; b < 8; ++b) {
        const double want = pick == 1 ? gains_before[b] : qxeq_preset_gain(pick, b);
        QX_CHECK(qxeq_get_gain(b) == want);
    }
    g_oracle.reset();
}

void query(fuzz_input &in) {
    const uint8_t mode = in.u8() % 3;
    if (mode == 0) {
        const double hz =
            in.u8() % 2 ? k_freqs[in.u8() % (sizeof k_freqs / sizeof k_freqs[0])] : in.f64();
        const double db = qxeq_response_db(hz);
        if (qxeq_is_bypassed() || !std::isfinite(hz) || hz < 0)
            QX_CHECK(db == 0.0);
    } else {
        const uint32_t band = in.u8() % 10;
        double c[6] = {};
        const bool null_arg = mode == 2;
        const int32_t status =
            qxeq_coeffs(band, &c[0], &c[1], &c[2], &c[3], &c[4], null_arg ? nullptr : &c[5]);
        if (band > 7) {
            expect_error(status, QX_ERR_NO_SUCH_BAND, "ERR_NO_SUCH_BAND");
        } else if (null_arg) {
            expect_error(status, QX_ERR_INVALID_ARG, "ERR_INVALID_ARG");
            for (double v : c)
                QX_CHECK(v == 0.0);
        } else {
            QX_CHECK(status == QX_OK);
            for (double v : c)
                QX_CHECK(std::isfinite(v));
        }
    }
}

// MARK: blocks

struct block_shape {
    int32_t frames;
    int32_t channels;
    bool null_samples;
    bool valid;
    size_t samples; // elements allocated: enough for frames * channels even when invalid
};

block_shape read_shape(fuzz_input &in) {
    block_shape s{};
    s.channels = in.u8() % 10;
    switch (in.u8() % 5) {
    case 0:
        s.frames = in.u8() % 33;
        break;
    case 1:
        s.frames = in.u16() % 2049;
        break;
    case 2:
        s.frames = 0;
        break;
    case 3:
        s.frames = in.u8() % 2 ? -1 : INT32_MIN;
        break;
    default:
        s.frames = 1;
        break;
    }
    s.null_samples = in.u8() % 16 == 0;
    s.valid = !s.null_samples && s.channels >= 1 && s.channels <= 8 && s.frames >= 0;
    const size_t frames = s.frames > 0 ? static_cast<size_t>(s.frames) : 1;
    s.samples = frames * static_cast<size_t>(s.channels > 0 ? s.channels : 1);
    return s;
}

// Fill a block with values in -1..+1 scaled by `scale`: raw input bytes, an impulse then
// silence, a sine, or the input bytes as small steps. Raw floats reach NaN, infinities and
// subnormals; the other shapes reach long silent tails where the flush matters.
template <typename Sample, typename Make>
void fill(fuzz_input &in, std::vector<Sample> &s, Make make) {
    const uint8_t shape = in.u8() % 4;
    const double amp = static_cast<double>(in.u8()) / 255.0;
    const double step = (1 + in.u8()) * 0.0005;
    for (size_t i = 0; i < s.size(); ++i) {
        double v = 0.0;
        if (shape == 1)
            v = i == 0 ? amp : 0.0;
        else if (shape == 2)
            v = amp * std::sin(static_cast<double>(i) * step * 6.283185307179586);
        else if (shape == 3)
            v = static_cast<int8_t>(in.u8()) / 128.0;
        s[i] = make(in, shape == 0, v);
    }
}

int32_t library_process(float *s, int32_t frames, int32_t channels) {
    return qxeq_process_f32(s, frames, channels);
}
int32_t library_process(int16_t *s, int32_t frames, int32_t channels) {
    return qxeq_process_s16(s, frames, channels);
}
void oracle_process(float *s, int32_t frames, int32_t channels) {
    g_oracle.process_f32(s, frames, channels);
}
void oracle_process(int16_t *s, int32_t frames, int32_t channels) {
    g_oracle.process_s16(s, frames, channels);
}

// What every processed sample must be beyond matching the oracle: float output is never NaN,
// and a non-finite input comes out as +0.0; 16-bit output never reaches -32768.
void check_outputs(const std::vector<float> &block, const std::vector<float> &input) {
    for (size_t i = 0; i < block.size(); ++i) {
        QX_CHECK(!std::isnan(block[i]));
        if (!std::isfinite(input[i]))
            QX_CHECK(block[i] == 0.0f && !std::signbit(block[i]));
    }
}
void check_outputs(const std::vector<int16_t> &block, const std::vector<int16_t> &) {
    for (int16_t v : block)
        QX_CHECK(v >= -32767 && v <= 32767);
}

// Blocks compare as bytes: float NaN and signed zeros must match bit for bit too.
template <typename Sample>
bool same_bits(const std::vector<Sample> &a, const std::vector<Sample> &b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Sample)) == 0;
}

// One block through the library and the oracle: an invalid shape leaves the samples and the
// state alone, a bypassed or empty one changes nothing, anything else matches the oracle.
template <typename Sample, typename Make> void process(fuzz_input &in, Make make) {
    const block_shape shape = read_shape(in);
    std::vector<Sample> block(shape.samples);
    fill(in, block, make);
    const std::vector<Sample> input = block;
    const bool bypassed = qxeq_is_bypassed();
    const bool runs = shape.valid && !bypassed && shape.frames > 0;
    if (runs)
        g_oracle.load_coefficients();
    const int32_t status =
        library_process(shape.null_samples ? nullptr : block.data(), shape.frames, shape.channels);
    if (!shape.valid) {
        expect_error(status, QX_ERR_INVALID_ARG, "ERR_INVALID_ARG");
        QX_CHECK(same_bits(block, input));
        check_state(false);
        return;
    }
    QX_CHECK(status == QX_OK);
    QX_CHECK(std::strcmp(qxeq_last_error(), "OK") == 0);
    if (!runs) {
        QX_CHECK(same_bits(block, input));
        check_state(false);
        return;
    }
    std::vector<Sample> expected = input;
    oracle_process(expected.data(), shape.frames, shape.channels);
    QX_CHECK(same_bits(block, expected));
    check_outputs(block, input);
    check_state(true);
}

void process_f32(fuzz_input &in) {
    process<float>(in, [](fuzz_input &r, bool raw, double v) {
        return raw ? r.f32() : static_cast<float>(v);
    });
}

void process_s16(fuzz_input &in) {
    process<int16_t>(in, [](fuzz_input &r, bool raw, double v) {
        return raw ? static_cast<int16_t>(r.u16()) : static_cast<int16_t>(std::lrint(v * 32767.0));
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Every input starts from the load-time settings with cleared histories.
    qxeq_set_preset("PS_none");
    qxeq_set_sample_rate(44100);
    qxeq_reset_state();
    qx_clear_warnings();
    g_oracle.reset();

    fuzz_input in(data, size);
    for (int op = 0; op < 256 && !in.empty(); ++op) {
        switch (in.u8() % 8) {
        case 0:
            set_rate(in);
            break;
        case 1:
            set_gain(in);
            break;
        case 2:
            set_preset(in);
            break;
        case 3:
            qxeq_reset_state();
            g_oracle.reset();
            check_state(false);
            break;
        case 4:
            query(in);
            break;
        case 5:
            process_f32(in);
            break;
        case 6:
            process_s16(in);
            break;
        default:
            if (qx_warning_count() == 64)
                qx_clear_warnings();
            break;
        }
        check_last_error();
    }
    return 0;
}
