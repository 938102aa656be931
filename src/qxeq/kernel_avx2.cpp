// The wavefront kernel on 256-bit vectors: four doubles a vector, two vectors per channel and
// quantity. Built with AVX2 (never FMA: products and sums stay separate roundings), and called
// only on CPUs that have it.
#include "kernels.h"
#include "wavefront.h"

#include <cfloat>
#include <cstring>
#include <immintrin.h>

namespace qxeq {
namespace {

// 16-bit output: y > 1 gives 32767, otherwise max(-1, y) * 32767, rounded in the current mode.
[[gnu::always_inline]] inline __m128i to_pcm(__m128 y) {
    const __m128 full = _mm_set1_ps(32767.0f);
    const __m128 over = _mm_cmpgt_ps(y, _mm_set1_ps(1.0f));
    const __m128 v = _mm_mul_ps(_mm_max_ps(y, _mm_set1_ps(-1.0f)), full);
    return _mm_cvtps_epi32(_mm_blendv_ps(v, full, over)); // MXCSR rounding, as lrintf
}

// All-ones in the lanes whose bit is set.
[[gnu::always_inline]] inline __m256d lane_mask(unsigned bits) {
    const __m256i lane = _mm256_set_epi64x(8, 4, 2, 1);
    const __m256i b = _mm256_and_si256(_mm256_set1_epi64x(static_cast<long long>(bits)), lane);
    return _mm256_castsi256_pd(_mm256_cmpeq_epi64(b, lane));
}

struct isa_avx2 {
    using V = __m256d;
    static constexpr int width = 4;
    // How a block of 1..8 channels runs: {channels a group, skew}. Measured (forced-kernel
    // benchmark, float noise, 1024 frames, ns per channel-sample; the shared machine's runs
    // differ by 10%, so the ratios within a run decided): single channels 4.2 to 4.6 at any
    // stride, groups of two 4.8 (skew 2: 4.8 to 5.7), of four 4.0 to 4.5; whole blocks of 3, 5
    // to 8 channels 5.6 to 8.2, spilling. Running two single channels' steps in one loop, or a
    // skew of 3, measured slower. Those single-channel figures are from when they flushed by a
    // branch; with the mask on every step they measure 4.3 to 4.6 at 1, 2 and 6 channels.
    static constexpr layout layouts[k_max_channels] = {
        {1, 2}, // 1
        {1, 2}, // 2: 4.2 to 4.3 (whole: 4.8)
        {1, 2}, // 3: 4.4 (whole: 5.6)
        {4, 1}, // 4: 4.3 to 4.5 (single channels: 4.5 to 5.0)
        {1, 2}, // 5: 4.2 to 4.5 (2 + 2 + 1: 5.2, whole: 7.4)
        {1, 2}, // 6: 4.2 to 4.3 (2 + 2 + 2: 4.8, 3 + 3: 5.2, whole: 7.1)
        {4, 1}, // 7: 5.0 (whole: 8.2)
        {4, 1}, // 8: 4.0 to 4.4 (single channels: 4.4, whole: 7.1)
    };
    static V zero() { return _mm256_setzero_pd(); }
    static V loadu(const double *p) { return _mm256_loadu_pd(p); }
    static void storeu(double *p, V v) { _mm256_storeu_pd(p, v); }
    static V add(V a, V b) { return _mm256_add_pd(a, b); }
    static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
    static V abs(V y) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), y); }
    static V flush(V y) {
        return _mm256_and_pd(y, _mm256_cmp_pd(abs(y), _mm256_set1_pd(k_flush_bound), _CMP_GE_OQ));
    }
    static unsigned nonfinite(V y) {
        return static_cast<unsigned>(
            _mm256_movemask_pd(_mm256_cmp_pd(abs(y), _mm256_set1_pd(DBL_MAX), _CMP_NLE_UQ)));
    }
    static V clear(V v, unsigned bits) { return _mm256_andnot_pd(lane_mask(bits), v); }
    static V select(unsigned bits, V a, V b) { return _mm256_blendv_pd(b, a, lane_mask(bits)); }
    template <int S> static V shift(V cur, V prev) {
        const V mid = _mm256_permute2f128_pd(cur, prev, 0x03); // prev[2], prev[3], cur[0], cur[1]
        if constexpr (S == 1)
            return _mm256_shuffle_pd(mid, cur, 0x5); // prev[3], cur[0..2]
        if constexpr (S == 2)
            return mid;
        if constexpr (S == 3)
            return _mm256_shuffle_pd(prev, mid, 0x5); // prev[1..3], cur[0]
    }
    static V in(const float *p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
    static V in(const int16_t *p) {
        long long bits;
        std::memcpy(&bits, p, sizeof bits);
        const __m128i i = _mm_cvtepi16_epi32(_mm_cvtsi64_si128(bits));
        return _mm256_cvtps_pd(_mm_mul_ps(_mm_cvtepi32_ps(i), _mm_set1_ps(1.0f / 32768.0f)));
    }
    static void out(float *p, V y) { _mm_storeu_ps(p, _mm256_cvtpd_ps(y)); }
    static void out(int16_t *p, V y) {
        const __m128i i = to_pcm(_mm256_cvtpd_ps(y));
        const long long bits = _mm_cvtsi128_si64(_mm_packs_epi32(i, i));
        std::memcpy(p, &bits, sizeof bits);
    }
};

} // namespace

void avx2_f32(band_record *bq, float *samples, size_t frames, int32_t channels) {
    run_wavefront<isa_avx2>(bq, samples, frames, channels);
}

void avx2_s16(band_record *bq, int16_t *samples, size_t frames, int32_t channels) {
    run_wavefront<isa_avx2>(bq, samples, frames, channels);
}

} // namespace qxeq
