// Equaliser fuzz target: the input is a sequence of settings (rate, gains, presets, resets,
// response and coefficient queries) and blocks of float, 16-bit or planar float samples processed
// in place, on three equalisers at once: the default one through the flat calls and two
// instances, switched between by the input. Every processed block is compared bit for bit with
// the straightforward loop of tests/oracle.h, histories and coefficients included, and after
// every call the filter state of all three is checked against its own oracle, so one equaliser's
// call disturbing another shows. The promises a host relies on are checked after each call:
// 16-bit output within -32767..32767, no NaN left in float output, non-finite input coming out
// as 0.0, bypass leaving blocks untouched, no stored band output strictly between -1e-20 and
// 1e-20 except 0, the status, last-error text and warning of every setter, and the neutral
// results of calls on a null instance. Each input runs on one of the block kernels the CPU can
// run, chosen by the input's length.
#include "equaliser.h"
#include "fuzz_input.h"
#include "kernels.h"
#include "oracle.h"
#include "qxeq.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
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

// One equaliser under test with its oracle: eq is null for the default one, driven through the
// flat calls, so both forms of every call are exercised.
struct target {
    qxeq_eq *eq = nullptr;
    oracle_eq oracle;

    const qxeq::band_record *bq() const { return eq ? eq->bq : qxeq::g_eq.bq; }
    int32_t set_sample_rate(int32_t hz) {
        return eq ? qxeq_eq_set_sample_rate(eq, hz) : qxeq_set_sample_rate(hz);
    }
    int32_t sample_rate() const { return eq ? qxeq_eq_sample_rate(eq) : qxeq_sample_rate(); }
    int32_t set_gain(uint32_t band, double db) {
        return eq ? qxeq_eq_set_gain(eq, band, db) : qxeq_set_gain(band, db);
    }
    double get_gain(uint32_t band) { return eq ? qxeq_eq_get_gain(eq, band) : qxeq_get_gain(band); }
    int32_t set_preset(const char *name) {
        return eq ? qxeq_eq_set_preset(eq, name) : qxeq_set_preset(name);
    }
    int32_t is_bypassed() const { return eq ? qxeq_eq_is_bypassed(eq) : qxeq_is_bypassed(); }
    void reset_state() { eq ? qxeq_eq_reset_state(eq) : qxeq_reset_state(); }
    const char *last_error() const { return eq ? qxeq_eq_last_error(eq) : qxeq_last_error(); }
    double response_db(double hz) const {
        return eq ? qxeq_eq_response_db(eq, hz) : qxeq_response_db(hz);
    }
    int32_t coeffs(uint32_t band, double *c, double *last) {
        return eq ? qxeq_eq_coeffs(eq, band, &c[0], &c[1], &c[2], &c[3], &c[4], last)
                  : qxeq_coeffs(band, &c[0], &c[1], &c[2], &c[3], &c[4], last);
    }
    int32_t process(float *s, int32_t frames, int32_t channels) {
        return eq ? qxeq_eq_process_f32(eq, s, frames, channels)
                  : qxeq_process_f32(s, frames, channels);
    }
    int32_t process(int16_t *s, int32_t frames, int32_t channels) {
        return eq ? qxeq_eq_process_s16(eq, s, frames, channels)
                  : qxeq_process_s16(s, frames, channels);
    }
    void load_coefficients() { oracle.load_coefficients(eq); }
};

constexpr int k_targets = 3;
target g_targets[k_targets];

void check_last_error(const target &t) {
    const char *e = t.last_error();
    QX_CHECK(e != nullptr);
    QX_CHECK(std::strlen(e) < 256);
    QX_CHECK(std::strcmp(e, "OK") == 0 || std::strncmp(e, "ERR_", 4) == 0);
}

void expect_error(const target &t, int32_t status, int32_t code, const char *text) {
    QX_CHECK(status == code);
    QX_CHECK(std::strcmp(t.last_error(), text) == 0);
}

// The equaliser's histories and coefficients against its oracle's, bit for bit, and the flush
// bound on every stored band output.
void check_state(const target &t, bool coefficients) {
    for (int b = 0; b < qxeq::k_bands; ++b) {
        const qxeq::band_record &lib = t.bq()[b];
        const oracle_band &ref = t.oracle.band[b];
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

void set_rate(target &t, fuzz_input &in) {
    const uint8_t mode = in.u8() % 3;
    int32_t hz;
    if (mode == 0)
        hz = k_rates[in.u8() % (sizeof k_rates / sizeof k_rates[0])];
    else if (mode == 1)
        hz = 1 + static_cast<int32_t>(in.u32() % 384000u);
    else
        hz = in.i32();
    const int32_t before = t.sample_rate();
    const int32_t status = t.set_sample_rate(hz);
    if (hz < 1 || hz > 384000) {
        expect_error(t, status, QX_ERR_BAD_SAMPLE_RATE, "ERR_BAD_SAMPLE_RATE");
        QX_CHECK(t.sample_rate() == before);
        return;
    }
    QX_CHECK(status == QX_OK);
    QX_CHECK(std::strcmp(t.last_error(), "OK") == 0);
    QX_CHECK(t.sample_rate() == hz);
    if (hz != before)
        t.oracle.reset();
}

void set_gain(target &t, fuzz_input &in) {
    const uint32_t band = in.u8() % 10;
    const uint8_t mode = in.u8() % 3;
    double gain;
    if (mode == 0)
        gain = k_gains[in.u8() % (sizeof k_gains / sizeof k_gains[0])];
    else if (mode == 1)
        gain = static_cast<int8_t>(in.u8()) / 4.0;
    else
        gain = in.f64();
    const int32_t bypass_before = t.is_bypassed();
    const int32_t warnings = qx_warning_count();
    const int32_t status = t.set_gain(band, gain);
    if (band > 7) {
        expect_error(t, status, QX_ERR_NO_SUCH_BAND, "ERR_NO_SUCH_BAND");
        QX_CHECK(t.is_bypassed() == bypass_before);
        QX_CHECK(qx_warning_count() == warnings);
        return;
    }
    if (!std::isfinite(gain)) {
        expect_error(t, status, QX_ERR_INVALID_ARG, "ERR_INVALID_ARG");
        QX_CHECK(t.is_bypassed() == bypass_before);
        QX_CHECK(qx_warning_count() == warnings);
        return;
    }
    QX_CHECK(status == QX_OK);
    QX_CHECK(t.is_bypassed() == 0);
    const bool clamped = gain < -24.0 || gain > 24.0;
    const double kept = clamped ? (gain < 0 ? -24.0 : 24.0) : gain;
    QX_CHECK(t.get_gain(band) == kept);
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

void set_preset(target &t, fuzz_input &in) {
    const uint8_t pick = in.u8() % 19;
    const char *name = pick < 16    ? qxeq_preset_name(pick)
                       : pick == 16 ? "PS_ROCK"
                       : pick == 17 ? nullptr
                                    : "";
    double gains_before[8];
    for (uint32_t b = 0; b < 8; ++b)
        gains_before[b] = t.get_gain(b);
    const int32_t bypass_before = t.is_bypassed();
    const int32_t status = t.set_preset(name);
    if (pick >= 16) {
        expect_error(t, status, QX_ERR_NO_SUCH_PRESET,
                     name == nullptr ? "ERR_INVALID_ARG" : "ERR_NO_SUCH_PRESET");
        QX_CHECK(t.is_bypassed() == bypass_before);
        for (uint32_t b = 0; b < 8; ++b)
            QX_CHECK(t.get_gain(b) == gains_before[b]);
        return;
    }
    QX_CHECK(status == QX_OK);
    QX_CHECK(std::strcmp(t.last_error(), "OK") == 0);
    QX_CHECK(t.is_bypassed() == (pick == 0 ? 1 : 0));
    for (uint32_t b = 0; b < 8; ++b) {
        const double want = pick == 1 ? gains_before[b] : qxeq_preset_gain(pick, b);
        QX_CHECK(t.get_gain(b) == want);
    }
    t.oracle.reset();
}

void query(target &t, fuzz_input &in) {
    const uint8_t mode = in.u8() % 3;
    if (mode == 0) {
        const double hz =
            in.u8() % 2 ? k_freqs[in.u8() % (sizeof k_freqs / sizeof k_freqs[0])] : in.f64();
        const double db = t.response_db(hz);
        if (t.is_bypassed() || !std::isfinite(hz) || hz < 0)
            QX_CHECK(db == 0.0);
    } else {
        const uint32_t band = in.u8() % 10;
        double c[6] = {};
        const bool null_arg = mode == 2;
        const int32_t status = t.coeffs(band, c, null_arg ? nullptr : &c[5]);
        if (band > 7) {
            expect_error(t, status, QX_ERR_NO_SUCH_BAND, "ERR_NO_SUCH_BAND");
        } else if (null_arg) {
            expect_error(t, status, QX_ERR_INVALID_ARG, "ERR_INVALID_ARG");
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

void oracle_process(oracle_eq &o, float *s, int32_t frames, int32_t channels) {
    o.process_f32(s, frames, channels);
}
void oracle_process(oracle_eq &o, int16_t *s, int32_t frames, int32_t channels) {
    o.process_s16(s, frames, channels);
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

// The interleaved block split into one buffer per channel, processed, and put back; on the
// default equaliser, which has no planar call, the interleaved one stands in.
int32_t process_planar(target &t, const block_shape &shape, std::vector<float> &block) {
    if (t.eq == nullptr)
        return t.process(shape.null_samples ? nullptr : block.data(), shape.frames, shape.channels);
    const size_t channels =
        shape.channels >= 1 && shape.channels <= 8 ? static_cast<size_t>(shape.channels) : 1;
    const size_t frames = block.size() / channels;
    std::vector<std::vector<float>> planes(channels, std::vector<float>(frames));
    std::vector<float *> pointers(channels);
    for (size_t c = 0; c < channels; ++c) {
        for (size_t f = 0; f < frames; ++f)
            planes[c][f] = block[f * channels + c];
        pointers[c] = planes[c].data();
    }
    if (shape.null_samples)
        pointers[channels - 1] = nullptr; // one missing buffer
    const int32_t status =
        qxeq_eq_process_planar_f32(t.eq, pointers.data(), shape.frames, shape.channels);
    for (size_t c = 0; c < channels; ++c)
        for (size_t f = 0; f < frames; ++f)
            block[f * channels + c] = planes[c][f];
    return status;
}

// One block through the library and the oracle: an invalid shape leaves the samples and the
// state alone, a bypassed or empty one changes nothing, anything else matches the oracle. A
// planar float block goes to an instance as one buffer per channel and must give the bits of the
// same samples interleaved.
template <typename Sample, typename Make>
void process(target &t, fuzz_input &in, Make make, bool planar = false) {
    const block_shape shape = read_shape(in);
    std::vector<Sample> block(shape.samples);
    fill(in, block, make);
    const std::vector<Sample> input = block;
    const bool bypassed = t.is_bypassed();
    const bool runs = shape.valid && !bypassed && shape.frames > 0;
    if (runs)
        t.load_coefficients();
    int32_t status;
    if constexpr (std::is_same_v<Sample, float>) {
        if (planar) {
            status = process_planar(t, shape, block);
        } else {
            status = t.process(shape.null_samples ? nullptr : block.data(), shape.frames,
                               shape.channels);
        }
    } else {
        status =
            t.process(shape.null_samples ? nullptr : block.data(), shape.frames, shape.channels);
    }
    if (!shape.valid) {
        expect_error(t, status, QX_ERR_INVALID_ARG, "ERR_INVALID_ARG");
        QX_CHECK(same_bits(block, input));
        check_state(t, false);
        return;
    }
    QX_CHECK(status == QX_OK);
    QX_CHECK(std::strcmp(t.last_error(), "OK") == 0);
    if (!runs) {
        QX_CHECK(same_bits(block, input));
        check_state(t, false);
        return;
    }
    std::vector<Sample> expected = input;
    oracle_process(t.oracle, expected.data(), shape.frames, shape.channels);
    QX_CHECK(same_bits(block, expected));
    check_outputs(block, input);
    check_state(t, true);
}

void process_f32(target &t, fuzz_input &in, bool planar = false) {
    process<float>(
        t, in,
        [](fuzz_input &r, bool raw, double v) { return raw ? r.f32() : static_cast<float>(v); },
        planar);
}

void process_s16(target &t, fuzz_input &in) {
    process<int16_t>(t, in, [](fuzz_input &r, bool raw, double v) {
        return raw ? static_cast<int16_t>(r.u16()) : static_cast<int16_t>(std::lrint(v * 32767.0));
    });
}

// Every instance call on a null instance: the neutral result, and no equaliser changed (the
// caller checks every state afterwards).
void null_instance_calls() {
    float f[2] = {0.5f, 0.5f};
    int16_t pcm[2] = {100, 100};
    float *planes[1] = {f};
    double c[6] = {};
    QX_CHECK(qxeq_eq_set_preset(nullptr, "PS_rock") == QX_ERR_INVALID_ARG);
    QX_CHECK(qxeq_eq_set_gain(nullptr, 0, 3.0) == QX_ERR_INVALID_ARG);
    QX_CHECK(qxeq_eq_set_sample_rate(nullptr, 48000) == QX_ERR_INVALID_ARG);
    QX_CHECK(qxeq_eq_coeffs(nullptr, 0, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5]) ==
             QX_ERR_INVALID_ARG);
    QX_CHECK(qxeq_eq_process_f32(nullptr, f, 1, 2) == QX_ERR_INVALID_ARG);
    QX_CHECK(qxeq_eq_process_s16(nullptr, pcm, 1, 2) == QX_ERR_INVALID_ARG);
    QX_CHECK(qxeq_eq_process_planar_f32(nullptr, planes, 2, 1) == QX_ERR_INVALID_ARG);
    QX_CHECK(qxeq_eq_get_gain(nullptr, 0) == 0.0);
    QX_CHECK(qxeq_eq_is_bypassed(nullptr) == 0);
    QX_CHECK(qxeq_eq_sample_rate(nullptr) == 0);
    QX_CHECK(qxeq_eq_preset(nullptr) == -1);
    QX_CHECK(qxeq_eq_response_db(nullptr, 400.0) == 0.0);
    QX_CHECK(std::strcmp(qxeq_eq_last_error(nullptr), "ERR_INVALID_ARG") == 0);
    qxeq_eq_reset_state(nullptr);
    QX_CHECK(f[0] == 0.5f && f[1] == 0.5f && pcm[0] == 100 && c[0] == 0.0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Every input starts from the load-time settings with cleared histories, on the default
    // equaliser and two fresh instances.
    qxeq_set_preset("PS_none");
    qxeq_set_sample_rate(44100);
    qxeq_reset_state();
    // Each input runs on one block kernel, picked by its length among those this CPU can run,
    // so every kernel (and each of its channel layouts) meets the fuzzer's blocks.
    if (!qxeq::force_kernel(static_cast<qxeq::kernel>(size % qxeq::k_kernel_count)))
        qxeq::force_kernel(qxeq::best_kernel());
    qx_clear_warnings();
    for (int i = 0; i < k_targets; ++i) {
        g_targets[i].eq = i == 0 ? nullptr : qxeq_eq_new();
        g_targets[i].oracle.reset();
    }
    target *t = &g_targets[0];

    fuzz_input in(data, size);
    for (int op = 0; op < 256 && !in.empty(); ++op) {
        switch (in.u8() % 11) {
        case 0:
            set_rate(*t, in);
            break;
        case 1:
            set_gain(*t, in);
            break;
        case 2:
            set_preset(*t, in);
            break;
        case 3:
            t->reset_state();
            t->oracle.reset();
            break;
        case 4:
            query(*t, in);
            break;
        case 5:
            process_f32(*t, in);
            break;
        case 6:
            process_s16(*t, in);
            break;
        case 8:
            t = &g_targets[in.u8() % k_targets];
            break;
        case 9:
            process_f32(*t, in, true);
            break;
        case 10:
            null_instance_calls();
            break;
        default:
            if (qx_warning_count() == 64)
                qx_clear_warnings();
            break;
        }
        for (const target &each : g_targets) { // nobody else's state moved
            check_state(each, false);
            check_last_error(each);
        }
    }
    for (target &each : g_targets)
        qxeq_eq_free(each.eq);
    return 0;
}
