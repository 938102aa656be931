// Instances against the flat calls, and planar blocks against interleaved ones, on the same
// noise and settings as qx_bench.cpp's qxeq_process_f32 rows (PS_rock, 44100 Hz), so one run
// compares them: qxeq_eq_process_f32 should cost what qxeq_process_f32 costs, and
// qxeq_eq_process_planar_f32 at most 10% more.
//
//   bench/qx_bench --benchmark_filter='process_f32/signal:0|eq_process' ...
#include "qxeq.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

double fastest(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

// Noise in -0.5..0.5, as qx_bench.cpp's make_signal(noise, ...), one vector per channel.
std::vector<std::vector<float>> noise_planes(size_t frames, size_t channels) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> u(-0.5f, 0.5f);
    std::vector<std::vector<float>> planes(channels, std::vector<float>(frames));
    for (size_t f = 0; f < frames; ++f)
        for (auto &p : planes)
            p[f] = u(rng);
    return planes;
}

template <bool planar> void instance_process(benchmark::State &state) {
    const auto channels = static_cast<int32_t>(state.range(0));
    const auto frames = static_cast<int32_t>(state.range(1));
    const size_t c = static_cast<size_t>(channels), n = static_cast<size_t>(frames);
    qxeq_eq *eq = qxeq_eq_new();
    qxeq_eq_set_preset(eq, "PS_rock");
    const auto source = noise_planes(n, c);
    std::vector<float> interleaved(n * c);
    for (size_t f = 0; f < n; ++f)
        for (size_t ch = 0; ch < c; ++ch)
            interleaved[f * c + ch] = source[ch][f];
    auto planes = source;
    std::vector<float *> pointers;
    for (auto &p : planes)
        pointers.push_back(p.data());
    std::vector<float> buf(interleaved.size());
    for (auto _ : state) {
        if constexpr (planar) {
            for (size_t ch = 0; ch < c; ++ch)
                std::memcpy(planes[ch].data(), source[ch].data(), n * sizeof(float));
            qxeq_eq_process_planar_f32(eq, pointers.data(), frames, channels);
            benchmark::DoNotOptimize(pointers.data());
        } else {
            std::memcpy(buf.data(), interleaved.data(), buf.size() * sizeof(float));
            qxeq_eq_process_f32(eq, buf.data(), frames, channels);
            benchmark::DoNotOptimize(buf.data());
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frames * channels);
    qxeq_eq_free(eq);
}

void eq_process_f32(benchmark::State &s) { instance_process<false>(s); }
void eq_process_planar_f32(benchmark::State &s) { instance_process<true>(s); }

void instance_args(benchmark::internal::Benchmark *b) {
    b->ComputeStatistics("min", fastest);
    b->ArgNames({"channels", "frames"});
    for (int64_t channels : {1, 2, 6, 8})
        for (int64_t frames : {64, 1024, 16384})
            b->Args({channels, frames});
}

BENCHMARK(eq_process_f32)->Apply(instance_args);
BENCHMARK(eq_process_planar_f32)->Apply(instance_args);

} // namespace
