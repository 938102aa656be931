// The equaliser's block kernels and the choice between them. Every kernel gives exactly the bits
// of the per-sample cascade in scalar.cpp (outputs and filter state alike); they differ only in
// how many operations run side by side. The choice is made from the CPU's features on the first
// processed block and shared by every instance; tests and benchmarks may force one. Internal:
// nothing here is exported.
#ifndef QXEQ_KERNELS_H
#define QXEQ_KERNELS_H

#include "equaliser.h"

#include <cstddef>
#include <cstdint>

namespace qxeq {

// A block of frames * channels interleaved samples, channels 1..8, frames >= 1, run through the
// band records bq (eight, coefficients current), whose filter state the kernel reads and writes.
using f32_kernel = void (*)(band_record *bq, float *samples, size_t frames, int32_t channels);
using s16_kernel = void (*)(band_record *bq, int16_t *samples, size_t frames, int32_t channels);

// The straightforward per-sample cascade; runs everywhere.
void scalar_f32(band_record *bq, float *samples, size_t frames, int32_t channels);
void scalar_s16(band_record *bq, int16_t *samples, size_t frames, int32_t channels);

#if defined(QX_X86_KERNELS)
// Bands and channels side by side in lanes (kernel_sse2.cpp, kernel_avx2.cpp, kernel_avx512.cpp),
// each compiled for its own instruction set and called only when the CPU has it.
void sse2_f32(band_record *bq, float *samples, size_t frames, int32_t channels);
void sse2_s16(band_record *bq, int16_t *samples, size_t frames, int32_t channels);
void avx2_f32(band_record *bq, float *samples, size_t frames, int32_t channels);
void avx2_s16(band_record *bq, int16_t *samples, size_t frames, int32_t channels);
void avx512_f32(band_record *bq, float *samples, size_t frames, int32_t channels);
void avx512_s16(band_record *bq, int16_t *samples, size_t frames, int32_t channels);
#endif

enum class kernel : int32_t { scalar = 0, sse2 = 1, avx2 = 2, avx512 = 3 };
constexpr int32_t k_kernel_count = 4;

bool kernel_supported(kernel k); // whether this build and this CPU can run k
kernel best_kernel();            // the fastest supported kernel
kernel active_kernel();          // the kernel blocks run on now
// Makes blocks run on k from now on; false, and nothing changes, when k is not supported.
// For tests and benchmarks: the library itself only ever uses best_kernel().
bool force_kernel(kernel k);
const char *kernel_name(kernel k); // "scalar", "sse2", "avx2", "avx512"

void run_f32(band_record *bq, float *samples, size_t frames, int32_t channels);
void run_s16(band_record *bq, int16_t *samples, size_t frames, int32_t channels);

} // namespace qxeq

#endif // QXEQ_KERNELS_H
