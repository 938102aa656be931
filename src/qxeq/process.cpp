// The block loop: checks a block, brings the instance's coefficients up to date, and hands the
// block to the kernel chosen for this CPU. Planar blocks of two or more channels are interleaved
// a stretch at a time on the stack, so they go through the same kernels and give the same bits.
// Nothing here allocates, locks or makes a system call. Calls on one instance must not overlap.
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
    if (eq.bypass || frames == 0)
        return false;
    if (eq.dirty)
        rebuild_filters(eq);
    return true;
}

} // namespace

// MARK: processing

int32_t qxeq_eq_process_f32(qxeq_eq *eq, float *samples, int32_t frames, int32_t channels) {
    if (eq == nullptr)
        return QX_ERR_INVALID_ARG;
    if (samples == nullptr || !valid_shape(frames, channels))
        return eq->err.fail(QX_ERR_INVALID_ARG);
    if (begin_block(*eq, frames))
        run_f32(eq->bq, samples, static_cast<size_t>(frames), channels);
    return QX_OK;
}

int32_t qxeq_eq_process_s16(qxeq_eq *eq, int16_t *samples, int32_t frames, int32_t channels) {
    if (eq == nullptr)
        return QX_ERR_INVALID_ARG;
    if (samples == nullptr || !valid_shape(frames, channels))
        return eq->err.fail(QX_ERR_INVALID_ARG);
    if (begin_block(*eq, frames))
        run_s16(eq->bq, samples, static_cast<size_t>(frames), channels);
    return QX_OK;
}

namespace {

// One stretch of channels 0..C-1 to and from the interleaved buffer, frame by frame: the reads
// and writes stay sequential, and the inner loop unrolls for the channel count.
template <size_t C>
void interleave(float *const *channels, size_t from, size_t n, float *__restrict out) {
    const float *in[C];
    for (size_t c = 0; c < C; ++c)
        in[c] = channels[c] + from;
    for (size_t f = 0; f < n; ++f)
        for (size_t c = 0; c < C; ++c)
            out[f * C + c] = in[c][f];
}

template <size_t C>
void deinterleave(const float *__restrict in, size_t n, float *const *channels, size_t to) {
    float *out[C];
    for (size_t c = 0; c < C; ++c)
        out[c] = channels[c] + to;
    for (size_t f = 0; f < n; ++f)
        for (size_t c = 0; c < C; ++c)
            out[c][f] = in[f * C + c];
}

template <size_t C> void run_planar(band_record *bq, float *const *channels, size_t frames) {
    // 1024 frames a stretch up to four channels, 512 above: at most 16 KiB of stack, and the
    // stretch and the planes it comes from stay in the first-level cache. A stretch boundary
    // changes nothing: the filter state carries every bit from one stretch to the next.
    constexpr size_t k_stretch = C <= 4 ? 1024 : 512;
    alignas(64) float interleaved[k_stretch * C];
    for (size_t done = 0; done < frames; done += k_stretch) {
        const size_t n = frames - done < k_stretch ? frames - done : k_stretch;
        interleave<C>(channels, done, n, interleaved);
        run_f32(bq, interleaved, n, static_cast<int32_t>(C));
        deinterleave<C>(interleaved, n, channels, done);
    }
}

} // namespace

int32_t qxeq_eq_process_planar_f32(qxeq_eq *eq, float *const *channels, int32_t frames,
                                   int32_t channel_count) {
    if (eq == nullptr)
        return QX_ERR_INVALID_ARG;
    if (channels == nullptr || !valid_shape(frames, channel_count))
        return eq->err.fail(QX_ERR_INVALID_ARG);
    for (int32_t c = 0; c < channel_count; ++c)
        if (channels[c] == nullptr)
            return eq->err.fail(QX_ERR_INVALID_ARG);
    if (!begin_block(*eq, frames))
        return QX_OK;
    const auto n = static_cast<size_t>(frames);
    switch (channel_count) {
    case 1:
        run_f32(eq->bq, channels[0], n, 1);
        break; // one channel is already interleaved
    case 2:
        run_planar<2>(eq->bq, channels, n);
        break;
    case 3:
        run_planar<3>(eq->bq, channels, n);
        break;
    case 4:
        run_planar<4>(eq->bq, channels, n);
        break;
    case 5:
        run_planar<5>(eq->bq, channels, n);
        break;
    case 6:
        run_planar<6>(eq->bq, channels, n);
        break;
    case 7:
        run_planar<7>(eq->bq, channels, n);
        break;
    default:
        run_planar<8>(eq->bq, channels, n);
        break;
    }
    return QX_OK;
}
