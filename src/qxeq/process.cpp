// The block loop: checks a block, brings the instance's coefficients up to date, and hands the
// block to the kernel chosen for this CPU. Planar blocks are interleaved a stretch at a time on
// the stack, so they go through the same kernels and give the same bits. Nothing here allocates,
// locks or makes a system call. Calls on one instance must not overlap.
#include "qxeq.h"

#include "equaliser.h"
#include "kernels.h"

using namespace qxeq;

namespace {

bool valid_shape(int32_t frames, int32_t channels) {
    return channels >= 1 && channels <= k_max_channels && frames >= 0;
}

// After a successful check: empties the last error and brings the coefficients up to date;
// false when the block is left as it is (bypassed, or no frames).
bool begin_block(qxeq_eq &eq, int32_t frames) {
    eq.err.clear();
    if (eq.bypass || frames == 0) return false;
    if (eq.dirty) rebuild_filters(eq);
    return true;
}

} // namespace

// MARK: processing

int32_t qxeq_eq_process_f32(qxeq_eq *eq, float *samples, int32_t frames, int32_t channels) {
    if (eq == nullptr) return QX_ERR_INVALID_ARG;
    if (samples == nullptr || !valid_shape(frames, channels))
        return eq->err.fail(QX_ERR_INVALID_ARG);
    if (begin_block(*eq, frames)) run_f32(eq->bq, samples, static_cast<size_t>(frames), channels);
    return QX_OK;
}

int32_t qxeq_eq_process_s16(qxeq_eq *eq, int16_t *samples, int32_t frames, int32_t channels) {
    if (eq == nullptr) return QX_ERR_INVALID_ARG;
    if (samples == nullptr || !valid_shape(frames, channels))
        return eq->err.fail(QX_ERR_INVALID_ARG);
    if (begin_block(*eq, frames)) run_s16(eq->bq, samples, static_cast<size_t>(frames), channels);
    return QX_OK;
}

int32_t qxeq_eq_process_planar_f32(qxeq_eq *eq, float *const *channels, int32_t frames,
                                   int32_t channel_count) {
    if (eq == nullptr) return QX_ERR_INVALID_ARG;
    if (channels == nullptr || !valid_shape(frames, channel_count))
        return eq->err.fail(QX_ERR_INVALID_ARG);
    for (int32_t c = 0; c < channel_count; ++c)
        if (channels[c] == nullptr) return eq->err.fail(QX_ERR_INVALID_ARG);
    if (!begin_block(*eq, frames)) return QX_OK;
    // 16 KiB of stack: 4096 frames of mono, 512 of eight channels a stretch. A stretch boundary
    // changes nothing: the filter state carries every bit from one stretch to the next.
    constexpr size_t k_stretch_samples = 4096;
    alignas(64) float interleaved[k_stretch_samples];
    const size_t stride = static_cast<size_t>(channel_count);
    const size_t stretch = k_stretch_samples / stride;
    const size_t total = static_cast<size_t>(frames);
    for (size_t done = 0; done < total; done += stretch) {
        const size_t n = total - done < stretch ? total - done : stretch;
        for (size_t c = 0; c < stride; ++c) {
            const float *in = channels[c] + done;
            for (size_t f = 0; f < n; ++f) interleaved[f * stride + c] = in[f];
        }
        run_f32(eq->bq, interleaved, n, channel_count);
        for (size_t c = 0; c < stride; ++c) {
            float *out = channels[c] + done;
            for (size_t f = 0; f < n; ++f) out[f] = interleaved[f * stride + c];
        }
    }
    return QX_OK;
}
