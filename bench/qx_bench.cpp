// Throughput of the library's hot calls. Each processing case runs twice in one binary: through
// the library (the kernel chosen for this CPU) and through the straightforward per-sample loop
// kept in tests/oracle.h, so their ratio is read from one run. Items are channel-samples, so
// ns per item is the cost of one sample of one channel through all eight bands.
//
//   bench/qx_bench --benchmark_repetitions=7 --benchmark_enable_random_interleaving=true \
//       --benchmark_report_aggregates_only=true
#include "kernels.h"
#include "oracle.h"
#include "qx_common.h"
#include "qxeq.h"
#include "qxtp.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

enum signal : int64_t { noise = 0, silence = 1, tail = 2 };

// Noise in -0.5..0.5; digital silence; or noise whose envelope falls by 1e-30 over the stream,
// so the bands spend a good part of it near and below the 1e-20 flush bound.
std::vector<float> make_signal(signal kind, size_t frames, size_t channels) {
    std::vector<float> s(frames * channels, 0.0f);
    if (kind == silence)
        return s;
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> u(-0.5f, 0.5f);
    for (size_t f = 0; f < frames; ++f) {
        const double env =
            kind == tail ? std::pow(1e-30, static_cast<double>(f) / static_cast<double>(frames))
                         : 1.0;
        for (size_t c = 0; c < channels; ++c)
            s[f * channels + c] = static_cast<float>(u(rng) * env);
    }
    return s;
}

std::vector<int16_t> to_pcm(const std::vector<float> &s) {
    std::vector<int16_t> p(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        p[i] = static_cast<int16_t>(std::lrintf(s[i] * 32767.0f));
    return p;
}

void setup_equaliser() {
    qxeq_set_preset("PS_rock");
    qxeq_set_sample_rate(44100);
    qxeq::force_kernel(qxeq::best_kernel());
}

template <typename Sample>
std::vector<Sample> make_block(signal kind, int32_t frames, int32_t channels) {
    const std::vector<float> s =
        make_signal(kind, static_cast<size_t>(frames), static_cast<size_t>(channels));
    if constexpr (sizeof(Sample) == 2)
        return to_pcm(s);
    else
        return s;
}

// Each iteration copies the next block of a stream of at least 16384 frames into place and
// processes it with run(samples), as a player feeds blocks; the copy is the same for every side
// and small beside the filtering. The stream wraps around, and the filters run on. The same
// block over and over would let the branch predictor learn the loop's branches on the signal's
// values (the flush test), which made the loop a quarter faster at 1024 frames than on a stream.
constexpr int32_t k_stream_frames = 16384;

template <typename Sample, typename Run>
void time_blocks(benchmark::State &state, signal kind, int32_t frames, int32_t channels, Run run) {
    const int32_t blocks = frames < k_stream_frames ? k_stream_frames / frames : 1;
    const std::vector<Sample> source = make_block<Sample>(kind, frames * blocks, channels);
    std::vector<Sample> buf(static_cast<size_t>(frames) * static_cast<size_t>(channels));
    int32_t next = 0;
    for (auto _ : state) {
        std::memcpy(buf.data(), source.data() + static_cast<size_t>(next) * buf.size(),
                    buf.size() * sizeof(Sample));
        next = next + 1 < blocks ? next + 1 : 0;
        run(buf.data());
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frames * channels);
}

template <typename Sample> void library_process(Sample *s, int32_t frames, int32_t channels) {
    if constexpr (sizeof(Sample) == 2)
        ::qxeq_process_s16(s, frames, channels);
    else
        ::qxeq_process_f32(s, frames, channels);
}

template <typename Sample, bool library> void process(benchmark::State &state) {
    const auto kind = static_cast<signal>(state.range(0));
    const auto channels = static_cast<int32_t>(state.range(1));
    const auto frames = static_cast<int32_t>(state.range(2));
    setup_equaliser();
    oracle_eq ref;
    ref.load_coefficients();
    time_blocks<Sample>(state, kind, frames, channels, [&](Sample *s) {
        if constexpr (library)
            library_process(s, frames, channels);
        else if constexpr (sizeof(Sample) == 2)
            ref.process_s16(s, frames, channels);
        else
            ref.process_f32(s, frames, channels);
    });
    state.SetLabel(library ? qxeq::kernel_name(qxeq::active_kernel()) : "straightforward loop");
}

void qxeq_process_f32(benchmark::State &s) { process<float, true>(s); }
void oracle_process_f32(benchmark::State &s) { process<float, false>(s); }
void qxeq_process_s16(benchmark::State &s) { process<int16_t, true>(s); }
void oracle_process_s16(benchmark::State &s) { process<int16_t, false>(s); }

// On a shared machine a neighbour's load slows whole repetitions down; the fastest repetition
// ("_min" with --benchmark_repetitions) is the one least disturbed, and random interleaving
// spreads each side's repetitions over the same stretch of time.
double fastest(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

void processing_args(benchmark::internal::Benchmark *b) {
    b->ComputeStatistics("min", fastest);
    b->ArgNames({"signal", "channels", "frames"});
    b->ArgsProduct({{noise, silence, tail}, {1, 2, 6, 8}, {64, 1024, 16384}});
}

BENCHMARK(qxeq_process_f32)->Apply(processing_args);
BENCHMARK(oracle_process_f32)->Apply(processing_args);
BENCHMARK(qxeq_process_s16)->Apply(processing_args);
BENCHMARK(oracle_process_s16)->Apply(processing_args);

// Each kernel this CPU can run, forced ("scalar" is the library's own per-sample loop), on the
// same signals, channel counts and block lengths: the figures of every kernel, not only of the
// one this CPU picks, and their ratios to the loop, from one run.
template <typename Sample> void kernel_process(benchmark::State &state, qxeq::kernel k) {
    const auto kind = static_cast<signal>(state.range(0));
    const auto channels = static_cast<int32_t>(state.range(1));
    const auto frames = static_cast<int32_t>(state.range(2));
    setup_equaliser();
    if (!qxeq::force_kernel(k)) {
        state.SkipWithError("this CPU cannot run the kernel");
        return;
    }
    time_blocks<Sample>(state, kind, frames, channels,
                        [&](Sample *s) { library_process(s, frames, channels); });
    qxeq::force_kernel(qxeq::best_kernel());
}

// kernel_f32_avx2/signal:0/channels:8/frames:1024 and so on: one family per kernel and format.
const bool k_kernel_benchmarks = [] {
    for (int32_t i = 0; i < qxeq::k_kernel_count; ++i) {
        const auto k = static_cast<qxeq::kernel>(i);
        const std::string name = qxeq::kernel_name(k);
        benchmark::RegisterBenchmark(("kernel_f32_" + name).c_str(), kernel_process<float>, k)
            ->Apply(processing_args);
        benchmark::RegisterBenchmark(("kernel_s16_" + name).c_str(), kernel_process<int16_t>, k)
            ->Apply(processing_args);
    }
    return true;
}();

// A gain change makes the next block rebuild all eight bands' coefficients once.
void qxeq_rebuild_after_gain_change(benchmark::State &state) {
    setup_equaliser();
    float sample = 0.0f;
    double gain = 3.0;
    for (auto _ : state) {
        qxeq_set_gain(2, gain);
        gain = -gain;
        ::qxeq_process_f32(&sample, 1, 1);
        benchmark::DoNotOptimize(sample);
    }
}
BENCHMARK(qxeq_rebuild_after_gain_change);

void qxeq_response_db(benchmark::State &state) {
    setup_equaliser();
    double hz = 20.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(::qxeq_response_db(hz));
        hz = hz > 20000.0 ? 20.0 : hz * 1.01;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(qxeq_response_db);

// Fitting the gains to a correction-like curve of n log-spaced points (20 Hz..20 kHz):
// ripples of a few dB, a treble lift and a notch the bands cannot follow exactly.
void qxeq_fit_gains(benchmark::State &state) {
    const auto n = static_cast<int32_t>(state.range(0));
    std::vector<double> hz, db;
    for (int32_t i = 0; i < n; ++i) {
        const double f = 20.0 * std::pow(1000.0, i / (n - 1.0));
        hz.push_back(f);
        db.push_back(4 * std::sin(2.5 * std::log(f)) + (f > 4000 ? 5 : 0) -
                     (f > 2800 && f < 3300 ? 6 : 0));
    }
    double gains[8], level, rms;
    for (auto _ : state) {
        ::qxeq_fit_gains(hz.data(), db.data(), n, 48000, 0.01, gains, &level, &rms);
        benchmark::DoNotOptimize(gains);
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.SetLabel("rms " + std::to_string(rms) + " dB");
}
BENCHMARK(qxeq_fit_gains)->Arg(127)->Arg(300)->Arg(1000)->Unit(benchmark::kMicrosecond);

void qxeq_peak_db(benchmark::State &state) {
    setup_equaliser();
    double at = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(::qxeq_peak_db(&at));
}
BENCHMARK(qxeq_peak_db)->Unit(benchmark::kMicrosecond);

// A profile with every field set, as a host would save and load it.
int32_t full_profile() {
    const int32_t id = qxtp_profile_create("Archive \xC3\xA9t\xC3\xA9 1080p");
    const char *const fields[][2] = {
        {"FormatCreator", "mp4"},
        {"FormatQuality", "23"},
        {"ProfileEnableMrfCrf444", "1"},
        {"HardwareAccelerationEnabled", "1"},
        {"AlwaysReencode", "0"},
        {"AudioBitrate", "192000"},
        {"AudioBitsPerSample", "16"},
        {"AudioChannelCount", "2"},
        {"AudioSampleRate", "48000"},
        {"VideoWidth", "1920"},
        {"VideoHeight", "1080"},
        {"VideoBitrate", "8000000"},
        {"VideoFrameRateNumerator", "30000"},
        {"VideoFrameRateDenominator", "1001"},
        {"VideoPixelAspectRatioNumerator", "1"},
        {"VideoPixelAspectRatioDenominator", "1"},
    };
    for (const auto &f : fields)
        qxtp_profile_set(id, f[0], f[1]);
    qx_clear_warnings();
    return id;
}

void qxtp_profile_to_json(benchmark::State &state) {
    const int32_t id = full_profile();
    for (auto _ : state)
        benchmark::DoNotOptimize(::qxtp_profile_to_json(id));
    qxtp_profile_destroy(id);
}
BENCHMARK(qxtp_profile_to_json);

void qxtp_profile_from_json(benchmark::State &state) {
    const int32_t source = full_profile();
    const std::string json = ::qxtp_profile_to_json(source);
    qxtp_profile_destroy(source);
    for (auto _ : state) {
        const int32_t id = ::qxtp_profile_from_json(json.c_str());
        benchmark::DoNotOptimize(id);
        qxtp_profile_destroy(id); // keeps a slot free: the store holds 64
    }
}
BENCHMARK(qxtp_profile_from_json);

} // namespace

BENCHMARK_MAIN();
