// The wavefront kernel on 512-bit vectors: eight doubles a vector, so a block of C channels
// takes C vectors per quantity. Built with AVX-512F and AVX-512VL (never FMA: products and sums
// stay separate roundings), and called only on CPUs that have them.
#include "kernels.h"
#include "wavefront.h"

#include <cfloat>
#include <cstring>
#include <immintrin.h>

namespace qxeq {
namespace {

// 16-bit output: y > 1 gives 32767, otherwise max(-1, y) * 32767, rounded in the current mode.
[[gnu::always_inline]] inline __m256i to_pcm(__m256 y) {
    const __m256 full = _mm256_set1_ps(32767.0f);
    const __m256 over = _mm256_cmp_ps(y, _mm256_set1_ps(1.0f), _CMP_GT_OQ);
    const __m256 v = _mm256_mul_ps(_mm256_max_ps(y, _mm256_set1_ps(-1.0f)), full);
    return _mm256_cvtps_epi32(_mm256_blendv_ps(v, full, over)); // MXCSR rounding, as lrintf
}

// The all-lanes mask forms: the plain intrinsics start from an undefined vector, which GCC 12
// reports as maybe uninitialised.
constexpr __mmask8 k_all8 = 0xFF;

struct isa_avx512 {
    using V = __m512d;
    static constexpr int width = 8;
    // How a block of 1..8 channels runs: {channels a group, skew}. Eight doubles a vector hold a
    // band's eight channels, and even eight channels (eight vectors) fit the 32 registers: every
    // block runs whole.
    static constexpr layout layouts[k_max_channels] = {
        {1, 2}, {2, 2}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1},
    };
    static V zero() { return _mm512_setzero_pd(); }
    static V loadu(const double *p) { return _mm512_loadu_pd(p); }
    static void storeu(double *p, V v) { _mm512_storeu_pd(p, v); }
    static V add(V a, V b) { return _mm512_add_pd(a, b); }
    static V sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
    static V flush(V y) {
        const __mmask8 keep =
            _mm512_cmp_pd_mask(_mm512_abs_pd(y), _mm512_set1_pd(k_flush_bound), _CMP_GE_OQ);
        return _mm512_maskz_mov_pd(keep, y);
    }
    static constexpr bool keep_masks = true;
    static unsigned keep(V y) {
        return _mm512_cmp_pd_mask(_mm512_abs_pd(y), _mm512_set1_pd(k_flush_bound), _CMP_GE_OQ);
    }
    // Lanes in kept: 1e-20 <= |y| <= DBL_MAX; the others: |y| < 1e-20. As integers the bits
    // of |y| order as the values do, NaN above infinity, so each is one unsigned range.
    static unsigned as_expected(unsigned kept, V y) {
        const __m512i a = _mm512_castpd_si512(_mm512_abs_pd(y));
        const auto k = static_cast<__mmask8>(kept);
        const __m512i tiny = _mm512_castpd_si512(_mm512_set1_pd(k_flush_bound));
        const __m512i lo = _mm512_maskz_mov_epi64(k, tiny);
        const __m512i span = _mm512_mask_blend_epi64(
            k, _mm512_sub_epi64(tiny, _mm512_set1_epi64(1)),
            _mm512_sub_epi64(_mm512_castpd_si512(_mm512_set1_pd(DBL_MAX)), tiny));
        return _mm512_cmple_epu64_mask(_mm512_sub_epi64(a, lo), span);
    }
    template <int S> static V shift_keep(unsigned bits, V cur, V prev) {
        const __m512i c = _mm512_castpd_si512(cur), p = _mm512_castpd_si512(prev);
        const auto k = static_cast<__mmask8>(bits);
        return _mm512_castsi512_pd(_mm512_maskz_alignr_epi64(k, c, p, 8 - S));
    }
    static unsigned nonfinite(V y) {
        return _mm512_cmp_pd_mask(_mm512_abs_pd(y), _mm512_set1_pd(DBL_MAX), _CMP_NLE_UQ);
    }
    static unsigned needs_fix(V y) {
        const V a = _mm512_abs_pd(y);
        const __mmask8 big = _mm512_cmp_pd_mask(a, _mm512_set1_pd(k_flush_bound), _CMP_GE_OQ);
        const __mmask8 good = _mm512_mask_cmp_pd_mask(big, a, _mm512_set1_pd(DBL_MAX), _CMP_LE_OQ);
        const __m512i bits = _mm512_castpd_si512(y);
        return _mm512_test_epi64_mask(bits, bits) & static_cast<__mmask8>(~good); // +0.0 is kept
    }
    static V clear(V v, unsigned bits) {
        return _mm512_maskz_mov_pd(static_cast<__mmask8>(~bits), v);
    }
    static V select(unsigned bits, V a, V b) {
        return _mm512_mask_mov_pd(b, static_cast<__mmask8>(bits), a);
    }
    template <int S> static V shift(V cur, V prev) {
        return _mm512_castsi512_pd(_mm512_maskz_alignr_epi64(k_all8, _mm512_castpd_si512(cur),
                                                             _mm512_castpd_si512(prev), 8 - S));
    }
    static V in(const float *p) { return _mm512_maskz_cvtps_pd(k_all8, _mm256_loadu_ps(p)); }
    static V in(const int16_t *p) {
        const __m256i i =
            _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
        return _mm512_maskz_cvtps_pd(
            k_all8, _mm256_mul_ps(_mm256_cvtepi32_ps(i), _mm256_set1_ps(1.0f / 32768.0f)));
    }
    static void out(float *p, V y) { _mm256_storeu_ps(p, _mm512_maskz_cvtpd_ps(k_all8, y)); }
    static void out(int16_t *p, V y) {
        const __m256i i = to_pcm(_mm512_maskz_cvtpd_ps(k_all8, y));
        _mm_storeu_si128(
            reinterpret_cast<__m128i *>(p),
            _mm_packs_epi32(_mm256_castsi256_si128(i), _mm256_extracti128_si256(i, 1)));
    }
};

} // namespace

void avx512_f32(band_record *bq, float *samples, size_t frames, int32_t channels) {
    run_wavefront<isa_avx512>(bq, samples, frames, channels);
}

void avx512_s16(band_record *bq, int16_t *samples, size_t frames, int32_t channels) {
    run_wavefront<isa_avx512>(bq, samples, frames, channels);
}

} // namespace qxeq
