// The wavefront kernel on 128-bit vectors: two doubles a vector, four vectors per channel and
// quantity. SSE2 is part of every x86-64 CPU, so this kernel always runs there.
#include "kernels.h"
#include "wavefront.h"

#include <cfloat>
#include <cstring>
#include <emmintrin.h>

namespace qxeq {
namespace {

// 16-bit output: y > 1 gives 32767, otherwise max(-1, y) * 32767, rounded in the current mode.
[[gnu::always_inline]] inline __m128i to_pcm(__m128 y) {
    const __m128 full = _mm_set1_ps(32767.0f);
    const __m128 over = _mm_cmpgt_ps(y, _mm_set1_ps(1.0f));
    const __m128 v = _mm_mul_ps(_mm_max_ps(y, _mm_set1_ps(-1.0f)), full);
    return _mm_cvtps_epi32(_mm_or_ps(_mm_and_ps(over, full), _mm_andnot_ps(over, v)));
}

// All-ones in the lanes whose bit is set.
[[gnu::always_inline]] inline __m128d lane_mask(unsigned bits) {
    return _mm_castsi128_pd(_mm_set_epi64x(bits & 2u ? -1 : 0, bits & 1u ? -1 : 0));
}

struct isa_sse2 {
    using V = __m128d;
    static constexpr int width = 2;
    // How a block of 1..8 channels runs: {channels a group, skew}. Measured (forced-kernel
    // benchmark, float noise, 1024 frames, ns per channel-sample): whole blocks of 2 channels
    // 7.5, of 1 channel 9.3; of 3 to 8 channels 13.6 to 21.9, spilling. So 3 runs as single
    // channels, 4 to 8 as groups of two.
    static constexpr layout layouts[k_max_channels] = {
        {1, 1}, // 1
        {2, 1}, // 2
        {1, 1}, // 3: 9.3 (whole: 13.6)
        {2, 1}, // 4: 7.9 (whole: 14.3)
        {2, 1}, // 5: 8.0 (whole: 21.6)
        {2, 1}, // 6: 8.0 (whole: 19.1)
        {2, 1}, // 7: 8.1 (whole: 21.9)
        {2, 1}, // 8: 8.0 (whole: 19.1)
    };
    static V zero() { return _mm_setzero_pd(); }
    static V loadu(const double *p) { return _mm_loadu_pd(p); }
    static void storeu(double *p, V v) { _mm_storeu_pd(p, v); }
    static V add(V a, V b) { return _mm_add_pd(a, b); }
    static V sub(V a, V b) { return _mm_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm_mul_pd(a, b); }
    static V abs(V y) { return _mm_andnot_pd(_mm_set1_pd(-0.0), y); }
    static V flush(V y) { return _mm_and_pd(y, _mm_cmpge_pd(abs(y), _mm_set1_pd(k_flush_bound))); }
    static unsigned nonfinite(V y) {
        return static_cast<unsigned>(_mm_movemask_pd(_mm_cmpnle_pd(abs(y), _mm_set1_pd(DBL_MAX))));
    }
    static V clear(V v, unsigned bits) { return _mm_andnot_pd(lane_mask(bits), v); }
    static V select(unsigned bits, V a, V b) {
        const V m = lane_mask(bits);
        return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b));
    }
    template <int S> static V shift(V cur, V prev) {
        static_assert(S == 1, "two lanes shift by one");
        return _mm_shuffle_pd(prev, cur, 0x1); // prev[1], cur[0]
    }
    static V in(const float *p) {
        long long bits;
        std::memcpy(&bits, p, sizeof bits);
        return _mm_cvtps_pd(_mm_castsi128_ps(_mm_cvtsi64_si128(bits)));
    }
    static V in(const int16_t *p) {
        int bits;
        std::memcpy(&bits, p, sizeof bits);
        const __m128i h = _mm_cvtsi32_si128(bits);
        const __m128i i = _mm_srai_epi32(_mm_unpacklo_epi16(h, h), 16); // sign-extend
        return _mm_cvtps_pd(_mm_mul_ps(_mm_cvtepi32_ps(i), _mm_set1_ps(1.0f / 32768.0f)));
    }
    static void out(float *p, V y) {
        const long long bits = _mm_cvtsi128_si64(_mm_castps_si128(_mm_cvtpd_ps(y)));
        std::memcpy(p, &bits, sizeof bits);
    }
    static void out(int16_t *p, V y) {
        const __m128i i = to_pcm(_mm_cvtpd_ps(y));
        const int bits = _mm_cvtsi128_si32(_mm_packs_epi32(i, i));
        std::memcpy(p, &bits, sizeof bits);
    }
};

} // namespace

void sse2_f32(band_record *bq, float *samples, size_t frames, int32_t channels) {
    run_wavefront<isa_sse2>(bq, samples, frames, channels);
}

void sse2_s16(band_record *bq, int16_t *samples, size_t frames, int32_t channels) {
    run_wavefront<isa_sse2>(bq, samples, frames, channels);
}

} // namespace qxeq
