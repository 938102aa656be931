// Which kernel processes the blocks. The choice follows the CPU's features and is made on the
// first processed block (nothing runs at load); every kernel gives the same bits, so the choice
// changes only the speed. No locks: like every equaliser call, blocks must not overlap.
#include "kernels.h"

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

int32_t g_kernel = -1;  // chosen on first use

const kernel_entry &current() {
    if (g_kernel < 0) g_kernel = static_cast<int32_t>(best_kernel());
    return k_kernels[g_kernel];
}

} // namespace

bool kernel_supported(kernel k) {
    switch (k) {
    case kernel::scalar: return true;
#if defined(QX_X86_KERNELS)
    case kernel::sse2: return true;  // part of x86-64
    case kernel::avx2:
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2");
    case kernel::avx512:
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
#endif
    default: return false;
    }
}

kernel best_kernel() {
    for (int32_t k = k_kernel_count - 1; k > 0; --k)
        if (kernel_supported(static_cast<kernel>(k))) return static_cast<kernel>(k);
    return kernel::scalar;
}

kernel active_kernel() {
    current();
    return static_cast<kernel>(g_kernel);
}

bool force_kernel(kernel k) {
    if (!kernel_supported(k)) return false;
    g_kernel = static_cast<int32_t>(k);
    return true;
}

const char *kernel_name(kernel k) {
    const int32_t i = static_cast<int32_t>(k);
    return i >= 0 && i < k_kernel_count ? k_kernels[i].name : "";
}

void run_f32(float *samples, size_t frames, int32_t channels) {
    current().f32(samples, frames, channels);
}

void run_s16(int16_t *samples, size_t frames, int32_t channels) {
    current().s16(samples, frames, channels);
}

} // namespace qxeq
