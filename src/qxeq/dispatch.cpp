// Which kernel processes the blocks. The choice follows the CPU's features and is made on the
// first processed block (nothing runs at load); every kernel gives the same bits, so the choice
// changes only the speed. It is shared by every instance and read without a lock: threads that
// make it at the same time all find the same kernel.
#include "kernels.h"

#include <atomic>

namespace qxeq {

namespace {

struct kernel_entry {
    f32_kernel f32;
    s16_kernel s16;
    const char *name;
};

constexpr kernel_entry k_kernels[k_kernel_count] = {
    {scalar_f32, scalar_s16, "scalar"},
#if defined(QX_X86_KERNELS)
    {sse2_f32, sse2_s16, "sse2"},
    {avx2_f32, avx2_s16, "avx2"},
    {avx512_f32, avx512_s16, "avx512"},
#else
    {nullptr, nullptr, "sse2"},
    {nullptr, nullptr, "avx2"},
    {nullptr, nullptr, "avx512"},
#endif
};

std::atomic<int32_t> g_kernel{-1}; // chosen on first use
static_assert(std::atomic<int32_t>::is_always_lock_free, "read on the audio path");

int32_t current_index() {
    int32_t k = g_kernel.load(std::memory_order_relaxed);
    if (k < 0) {
        k = static_cast<int32_t>(best_kernel());
        g_kernel.store(k, std::memory_order_relaxed);
    }
    return k;
}

} // namespace

bool kernel_supported(kernel k) {
    switch (k) {
    case kernel::scalar:
        return true;
#if defined(QX_X86_KERNELS)
    case kernel::sse2:
        return true; // part of x86-64
    case kernel::avx2:
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2");
    case kernel::avx512:
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
#endif
    default:
        return false;
    }
}

kernel best_kernel() {
    for (int32_t k = k_kernel_count - 1; k > 0; --k)
        if (kernel_supported(static_cast<kernel>(k)))
            return static_cast<kernel>(k);
    return kernel::scalar;
}

kernel active_kernel() { return static_cast<kernel>(current_index()); }

bool force_kernel(kernel k) {
    if (!kernel_supported(k))
        return false;
    g_kernel.store(static_cast<int32_t>(k), std::memory_order_relaxed);
    return true;
}

const char *kernel_name(kernel k) {
    const int32_t i = static_cast<int32_t>(k);
    return i >= 0 && i < k_kernel_count ? k_kernels[i].name : "";
}

void run_f32(band_record *bq, float *samples, size_t frames, int32_t channels) {
    k_kernels[current_index()].f32(bq, samples, frames, channels);
}

void run_s16(band_record *bq, int16_t *samples, size_t frames, int32_t channels) {
    k_kernels[current_index()].s16(bq, samples, frames, channels);
}

} // namespace qxeq
