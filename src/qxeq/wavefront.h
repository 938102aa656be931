// The cascade as a wavefront, written once for any vector width and included by each
// kernel_*.cpp with that file's instruction-set operations (struct I below). Everything here has
// internal linkage, so code built for one instruction set never stands in for another's.
//
// Lanes: one per (band, channel) pair, band-major: lane f is band f / Channels, channel
// f % Channels, so a block needs 8 * Channels lanes, exactly `vectors` vectors of I::width
// doubles per quantity. At step n the lanes of band k work on frame n - Skew * k: band 0 takes
// frame n from the input, band k > 0 takes what band k - 1 produced Skew steps earlier (p1/p2,
// or y1 when the skew is 1), moved up by Channels lanes. Each lane performs the per-sample
// arithmetic of process_one in the same order, so every bit stays the same, but the eight bands
// of a frame no longer wait for each other. The first and last 7 * Skew steps of a block run
// with lane masks, so that a band only ever moves its histories for frames of this block.
//
// Channel groups: a wavefront may take only Channels consecutive channels of a block of Stride
// channels, and a block runs as several such groups one after the other (run_groups), each over
// the whole block. Channels never meet, so the bits stay the same; a group's 8 * Channels lanes
// fit the registers where a whole block of six or eight channels would spill on every step.
// Each instruction set's table of layouts (group size and skew per channel count) is measured.
//
// The skew: a step's vector result feeds the next band through the whole left-to-right sum
// (a product and four additions), but its own band only through the last three operations. With
// a skew of 1 that long path binds every step; with 2 it spans two steps, and the short path
// binds. Layouts of one or two vectors per quantity are bound by that latency and use a skew of
// 2; wider ones are bound by throughput and use 1, which keeps the fill and drain short.
//
// The rare cases leave the fast path through one branch per step: a band result that is not
// finite clears that band's history of that channel and passes 0.0 on; a non-finite input also
// clears every later band of its channel, Skew steps after the other (the "pending" lane bits),
// exactly as process_one clears all eight bands at that frame.
//
// The flush of results below k_flush_bound runs as a vector mask on every step, so every step
// does the same work whatever the signal: noise, silence and a tail fading through the bound
// cost the same. Where the instruction set has lane masks and a block of one or two vectors,
// the steady steps keep the flush off the dependency chain instead (guessed_steps: each step
// assumes the lanes the flush kept on the step before and one compare checks it), and the
// steps that fill and drain the wavefront let results pass on unchanged, with the branch also
// catching the lanes the flush would change (flush_branch).
//
// Required of I: V (vector of `width` doubles), width, zero(), loadu/storeu (doubles), add, sub,
// mul, flush (|y| < k_flush_bound or NaN gives +0.0), nonfinite (lane bits), clear (lanes in
// bits become +0.0), select (bits ? a : b), shift<S>(cur, prev) (lane i: cur[i - S], or
// prev[width + i - S] for i < S), in(const float *) / in(const int16_t *) (width samples to
// doubles with the library's scaling) and out(float *, V) / out(int16_t *, V) (width doubles to
// samples with the library's conversion). Optional: the lane-mask operations of guessed_steps
// (has_keep_masks) with needs_fix (lane bits: not finite, or changed by the flush).
#ifndef QXEQ_WAVEFRONT_H
#define QXEQ_WAVEFRONT_H

#include "equaliser.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qxeq {
namespace {

// Whether I has lane masks to flush with: keep (lane bits the flush leaves unchanged),
// shift_keep<S>(bits, cur, prev) (shift<S>, lanes outside bits +0.0) and as_expected(kept, y)
// (lane bits: in kept, k_flush_bound <= |y| <= DBL_MAX; elsewhere |y| < k_flush_bound).
template <class I, class = void> struct has_keep_masks { static constexpr bool value = false; };
template <class I> struct has_keep_masks<I, decltype(void(I::keep_masks))> {
    static constexpr bool value = I::keep_masks;
};

// How an instruction set runs a block of a given number of channels: in groups of `group`
// channels (see run_groups), each a wavefront of the given skew. Each kernel_*.cpp keeps its
// table of these, chosen from the forced-kernel benchmark.
struct layout {
    int group, skew;
};

template <class I, int Channels, class Sample, int Skew, int Stride = Channels> struct wavefront {
    using V = typename I::V;
    static constexpr int width = I::width;
    static constexpr int lanes = k_bands * Channels;
    static constexpr int vectors = lanes / width; // per quantity
    // The move from band k - 1's lanes to band k's, by Channels lanes: whole vectors ...
    static constexpr int whole_shift = Channels / width;
    static constexpr int lane_shift = Channels % width; // ... and lanes within a vector
    static constexpr int input_vectors = (Channels + width - 1) / width; // one frame of input
    static constexpr int last_band_vector = (lanes - Channels) / width;  // first holding band 7
    static constexpr size_t k_fill = 7 * Skew; // steps before band 7 reaches frame 0
    static constexpr unsigned k_lane_bits = (1u << width) - 1u;
    static constexpr uint64_t k_all = lanes == 64 ? ~uint64_t{0} : (uint64_t{1} << lanes) - 1u;
    // Where the steady steps keep the flush off the chain (see guessed_steps), the fill and
    // drain steps do too, by the branch. Elsewhere every step flushes by the mask: without lane
    // masks a branch that fires on every step of a fading tail cost a fifth more than noise,
    // and the mask costs a single channel's steps no more than the branch did on noise.
    static constexpr bool keeps_off_chain = has_keep_masks<I>::value && Skew == 2 && vectors <= 2;
    static_assert(lanes % width == 0, "lanes fill whole vectors");
    static_assert(Skew == 1 || Skew == 2, "band k - 1's output of Skew steps ago is p1 or p2");

    V b0[vectors], b1[vectors], b2[vectors], a1[vectors], a2[vectors];
    V x1[vectors], x2[vectors], y1[vectors], y2[vectors];
    static constexpr int results_kept = Skew == 2 ? vectors : 1; // skew 1: y1 is the last result
    V p1[results_kept], p2[results_kept]; // every lane's result of the last and the one before
    uint64_t pending[Skew] =
        {}; // by step parity: lanes that clear then, a non-finite input moving down

    [[gnu::always_inline]] wavefront(const band_record *bq, int first) {
        alignas(64) double t[9][lanes];
        for (int f = 0; f < lanes; ++f) {
            const band_record &b = bq[f / Channels];
            const int c = first + f % Channels;
            t[0][f] = b.b0, t[1][f] = b.b1, t[2][f] = b.b2, t[3][f] = b.a1, t[4][f] = b.a2;
            t[5][f] = b.x1[c], t[6][f] = b.x2[c], t[7][f] = b.y1[c], t[8][f] = b.y2[c];
        }
        for (int j = 0; j < vectors; ++j) {
            b0[j] = I::loadu(t[0] + j * width), b1[j] = I::loadu(t[1] + j * width);
            b2[j] = I::loadu(t[2] + j * width), a1[j] = I::loadu(t[3] + j * width);
            a2[j] = I::loadu(t[4] + j * width), x1[j] = I::loadu(t[5] + j * width);
            x2[j] = I::loadu(t[6] + j * width), y1[j] = I::loadu(t[7] + j * width);
            y2[j] = I::loadu(t[8] + j * width);
        }
        for (int j = 0; j < results_kept; ++j)
            p1[j] = I::zero(),
            p2[j] = I::zero(); // read only by lanes whose input is from this block
    }

    [[gnu::always_inline]] void save(band_record *bq, int first) const {
        alignas(64) double t[4][lanes];
        for (int j = 0; j < vectors; ++j) {
            I::storeu(t[0] + j * width, x1[j]), I::storeu(t[1] + j * width, x2[j]);
            I::storeu(t[2] + j * width, y1[j]), I::storeu(t[3] + j * width, y2[j]);
        }
        for (int f = 0; f < lanes; ++f) {
            band_record &b = bq[f / Channels];
            const int c = first + f % Channels;
            b.x1[c] = t[0][f], b.x2[c] = t[1][f], b.y1[c] = t[2][f], b.y2[c] = t[3][f];
        }
    }

    // One frame of input as vectors, channel c in lane input_vectors * width - Channels + c. The
    // lanes below hold whatever precedes the frame and are never read, so at least that many
    // samples must precede in: run() gives the first frames of a block from a zero-padded copy.
    [[gnu::always_inline]] static void load_frame(const Sample *in, V *v) {
        for (int e = 0; e < input_vectors; ++e)
            v[e] = I::in(in + Channels - input_vectors * width + e * width);
    }

    // Band 7's lanes (the last Channels) as samples of one frame.
    [[gnu::always_inline]] static void store_frame(Sample *out, const V *y) {
        if constexpr (lane_shift == 0) {
            for (int j = last_band_vector; j < vectors; ++j)
                I::out(out + (j - last_band_vector) * width, y[j]);
        } else {
            Sample t[(vectors - last_band_vector) * width];
            for (int j = last_band_vector; j < vectors; ++j)
                I::out(t + (j - last_band_vector) * width, y[j]);
            std::memcpy(out, t + ((lanes - Channels) - last_band_vector * width),
                        sizeof(Sample) * Channels);
        }
    }

    // Step n: in is frame n (null past the block's end; see load_frame), out receives frame
    // n - 7 * Skew (null before that). valid has the bits of the lanes whose band works on a frame
    // of this block.
    template <bool masked, bool flush_branch>
    [[gnu::always_inline]] void step(size_t n, const Sample *in, Sample *out, uint64_t valid) {
        V ext[input_vectors + vectors];
        // Steady steps always have both frames. Only the skew-2 layouts drop the test: on the wide
        // skew-1 layouts, which spill, GCC allocated registers worse without it (six and eight
        // channels about 10% slower).
        if ((Skew == 2 && !masked) || in != nullptr) {
            load_frame(in, ext);
        } else {
            for (int e = 0; e < input_vectors; ++e)
                ext[e] = I::zero();
        }
        for (int j = 0; j < vectors; ++j) {
            if constexpr (Skew == 1) {
                ext[input_vectors + j] = y1[j];
            } else {
                ext[input_vectors + j] = p2[j];
            }
        }
        V X[vectors], y[vectors], yf[vectors];
        unsigned bad = 0;
#pragma GCC unroll 64
        for (int j = 0; j < vectors; ++j) {
            if constexpr (lane_shift == 0) {
                X[j] = ext[input_vectors + j - whole_shift];
            } else {
                X[j] = I::template shift<lane_shift>(ext[input_vectors + j - whole_shift],
                                                     ext[input_vectors + j - whole_shift - 1]);
            }
            // b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2, left to right, as process_one sums
            y[j] = I::sub(I::sub(I::add(I::add(I::mul(b0[j], X[j]), I::mul(b1[j], x1[j])),
                                        I::mul(b2[j], x2[j])),
                                 I::mul(a1[j], y1[j])),
                          I::mul(a2[j], y2[j]));
            if constexpr (flush_branch) {
                bad |= I::needs_fix(y[j]);
                yf[j] = y[j];
            } else {
                bad |= I::nonfinite(y[j]);
                yf[j] = I::flush(y[j]);
            }
        }
        uint64_t waiting = pending[0];
        if constexpr (Skew == 2)
            waiting |= pending[1];
        if (__builtin_expect((bad != 0) | (waiting != 0), 0))
            clear_lanes(Skew == 1 ? 0 : n % Skew, X, y, yf, masked ? valid : k_all);
#pragma GCC unroll 64
        for (int j = 0; j < vectors; ++j) {
            if constexpr (masked) {
                const unsigned m = static_cast<unsigned>(valid >> (j * width)) & k_lane_bits;
                const V nx2 = I::select(m, x1[j], x2[j]);
                const V ny2 = I::select(m, y1[j], y2[j]);
                x1[j] = I::select(m, X[j], x1[j]);
                y1[j] = I::select(m, yf[j], y1[j]);
                x2[j] = nx2;
                y2[j] = ny2;
            } else {
                x2[j] = x1[j];
                x1[j] = X[j];
                y2[j] = y1[j];
                y1[j] = yf[j];
            }
            if constexpr (Skew == 2) {
                p2[j] = p1[j];
                p1[j] = yf[j];
            }
        }
        if ((Skew == 2 && !masked) || out != nullptr)
            store_frame(out, yf);
    }

    // The exact handling of non-finite values for the lanes that need it: their histories clear
    // and they pass +0.0 on; a non-finite input marks its channel's later bands for the steps
    // that bring its frame to them. Lanes outside valid hold histories of frames this step does
    // not process: whatever they computed, they keep them.
    [[gnu::always_inline]] void clear_lanes(size_t parity, V *X, const V *y, V *yf,
                                            uint64_t valid) {
        uint64_t clear = pending[parity];
        uint64_t input_bad = 0;
        for (int j = 0; j < vectors; ++j) {
            clear |= static_cast<uint64_t>(I::nonfinite(y[j])) << (j * width);
            input_bad |= static_cast<uint64_t>(I::nonfinite(X[j])) << (j * width);
        }
        clear &= valid;
        input_bad &= valid & ((uint64_t{1} << Channels) - 1u); // band 0's lanes: the block's input
        for (int j = 0; j < vectors; ++j) {
            const unsigned m = static_cast<unsigned>(clear >> (j * width)) & k_lane_bits;
            yf[j] = I::flush(y[j]);
            X[j] = I::clear(X[j], m);
            x1[j] = I::clear(x1[j], m);
            y1[j] = I::clear(y1[j], m);
            yf[j] = I::clear(yf[j], m);
        }
        pending[parity] = ((pending[parity] | input_bad) << Channels) & k_all;
    }

    // Lanes whose band k works on a frame of this block at step n: n - frames < Skew k <= n.
    static uint64_t valid_lanes(size_t n, size_t frames) {
        const size_t lo = n >= frames ? (n - frames) / Skew + 1 : 0;
        const size_t hi = n / Skew < 7 ? n / Skew : 7;
        const uint64_t upto =
            (hi + 1) * Channels >= 64 ? ~uint64_t{0} : (uint64_t{1} << ((hi + 1) * Channels)) - 1u;
        return lo * Channels >= 64 ? 0 : upto & ~((uint64_t{1} << (lo * Channels)) - 1u);
    }

    // The steady steps [n, end) with the flush taken as guessed, where the instruction set has
    // lane masks (keep, shift_keep, as_expected). The flush on the chain from one step's result
    // to the next step's a1 y1 binds the step (a compare feeding a lane mask is slow), and a
    // branch on "did the flush change anything" fires on every step of a fading signal. Here the
    // chains use the lanes the flush kept on the last step instead, which noise, silence and a
    // decaying tail all repeat step after step: a flushed result is +0.0, so the next step's
    // a1 y1 is a1 y, or a1 * +0.0 where the flush applies, and the next band's input is the
    // unflushed result shifted with those lanes zeroed. One unsigned compare a step checks the
    // guess: kept lanes within k_flush_bound..DBL_MAX, the others below it (NaN fails both). Where
    // it fails, or a non-finite input is still moving down, the exact fix-up runs, the products and
    // inputs are taken from the flushed values themselves and the new lanes become the guess.

    [[gnu::always_inline]] void guessed_steps(Sample *io, size_t n, size_t end) {
        constexpr size_t stride = static_cast<size_t>(Stride);
        constexpr uint64_t in_lanes =
            (uint64_t{1} << Channels) - 1u; // band 0: the input, never flushed
        V pu1[vectors], pu2[vectors], a1y1[vectors], z1[vectors];
        uint64_t kp1 = k_all, kp2 = k_all; // lanes of pu1, pu2 the flush keeps
        uint64_t guess = 0;                // lanes the flush is expected to keep
        for (int j = 0; j < vectors; ++j) {
            pu1[j] = p1[j], pu2[j] = p2[j];
            a1y1[j] = I::mul(a1[j], y1[j]);
            z1[j] = I::mul(a1[j], I::zero());
            guess |= static_cast<uint64_t>(I::keep(y1[j])) << (j * width);
        }
        for (; n < end; ++n) {
            V ext[input_vectors + vectors];
            load_frame(io + n * stride, ext);
            for (int j = 0; j < vectors; ++j)
                ext[input_vectors + j] = pu2[j];
            const uint64_t kx = ((kp2 << Channels) | in_lanes) & k_all;
            V X[vectors], y[vectors], yf[vectors], ay[vectors];
            uint64_t as_guessed = 0;
#pragma GCC unroll 64
            for (int j = 0; j < vectors; ++j) {
                const unsigned m = static_cast<unsigned>(kx >> (j * width)) & k_lane_bits;
                if constexpr (lane_shift == 0) {
                    X[j] = I::clear(ext[input_vectors + j - whole_shift], ~m & k_lane_bits);
                } else {
                    X[j] = I::template shift_keep<lane_shift>(
                        m, ext[input_vectors + j - whole_shift],
                        ext[input_vectors + j - whole_shift - 1]);
                }
                y[j] = I::sub(I::sub(I::add(I::add(I::mul(b0[j], X[j]), I::mul(b1[j], x1[j])),
                                            I::mul(b2[j], x2[j])),
                                     a1y1[j]),
                              I::mul(a2[j], y2[j]));
                const unsigned gj = static_cast<unsigned>(guess >> (j * width)) & k_lane_bits;
                yf[j] = I::clear(y[j], ~gj & k_lane_bits);
                ay[j] = I::select(gj, I::mul(a1[j], y[j]), z1[j]);
                as_guessed |= static_cast<uint64_t>(I::as_expected(gj, y[j])) << (j * width);
            }
            const bool waiting = (pending[0] | pending[1]) != 0;
            uint64_t keep = guess; // known before the compare
            if (__builtin_expect(waiting | (as_guessed != k_all), 0)) {
                unsigned bad = 0;
                for (int j = 0; j < vectors; ++j) {
                    yf[j] = I::flush(y[j]);
                    bad |= I::nonfinite(y[j]);
                }
                if (waiting | (bad != 0))
                    clear_lanes(n % Skew, X, y, yf, k_all);
                guess = 0;
                for (int j = 0; j < vectors; ++j) {
                    y[j] = yf[j];
                    ay[j] = I::mul(a1[j], yf[j]);
                    guess |= static_cast<uint64_t>(I::keep(yf[j])) << (j * width);
                }
                keep = k_all; // y holds the flushed values now
            }
            for (int j = 0; j < vectors; ++j) {
                x2[j] = x1[j], x1[j] = X[j];
                y2[j] = y1[j], y1[j] = yf[j];
                pu2[j] = pu1[j], pu1[j] = y[j];
                a1y1[j] = ay[j];
            }
            kp2 = kp1, kp1 = keep;
            store_frame(io + (n - k_fill) * stride, yf);
        }
        for (int j = 0; j < vectors; ++j) {
            p1[j] = I::clear(pu1[j], static_cast<unsigned>(~kp1 >> (j * width)) & k_lane_bits);
            p2[j] = I::clear(pu2[j], static_cast<unsigned>(~kp2 >> (j * width)) & k_lane_bits);
        }
    }

    // The steady steps [n, end): every lane works on a frame of this block.
    [[gnu::always_inline]] void steady(Sample *io, size_t n, size_t end) {
        constexpr size_t stride = static_cast<size_t>(Stride);
        if constexpr (keeps_off_chain) {
            guessed_steps(io, n, end);
        } else {
            for (; n < end; ++n)
                step<false, false>(n, io + n * stride, io + (n - k_fill) * stride, 0);
        }
    }

    // Channels first .. first + Channels - 1 of a block of Stride channels.
    static void run(band_record *bq, Sample *block, size_t frames, int first) {
        wavefront w(bq, first);
        const size_t steps = frames + k_fill;
        constexpr size_t stride = static_cast<size_t>(Stride);
        const size_t offset = static_cast<size_t>(first);
        Sample *io = block + offset;
        // The first frames have fewer than k_pad samples before them in the block; they are
        // read from a copy behind zeros, copied once (a small store and a wider load of the
        // same bytes on every step stalls the load until the store has landed).
        constexpr size_t k_pad = static_cast<size_t>(input_vectors * width - Channels);
        constexpr size_t k_head = static_cast<size_t>(input_vectors * width);
        Sample head[k_pad + k_head] = {};
        const size_t head_samples = frames * stride < k_head ? frames * stride : k_head;
        std::memcpy(head + k_pad, block, sizeof(Sample) * head_samples);
        size_t n = 0;
        while (n < steps) {
            if (n >= k_fill && n < frames) {
                // from step k_fill on, k_fill frames precede the input: more than a vector's worth
                w.steady(io, n, frames);
                n = frames;
                continue;
            }
            const Sample *in = nullptr;
            if (n < frames)
                in = n * stride + offset < k_pad ? head + k_pad + n * stride + offset
                                                 : io + n * stride;
            Sample *out = n >= k_fill ? io + (n - k_fill) * stride : nullptr;
            w.template step<true, keeps_off_chain>(n, in, out, valid_lanes(n, frames));
            ++n;
        }
        w.save(bq, first);
    }
};

// count samples between 16-bit and float through the kernel's own conversions: in(int16_t *)
// gives float(s) * (1 / 32768) widened, out(float *) narrows it back unchanged; in(float *)
// widens a float unchanged, and out(int16_t *) converts it exactly as a 16-bit step would.
template <class I, class From, class To> void convert(const From *from, To *to, size_t count) {
    constexpr size_t width = static_cast<size_t>(I::width);
    size_t i = 0;
    for (; i + width <= count; i += width)
        I::out(to + i, I::in(from + i));
    if (i < count) {
        From a[width] = {};
        To b[width];
        std::memcpy(a, from + i, sizeof(From) * (count - i));
        I::out(b, I::in(a));
        std::memcpy(to + i, b, sizeof(To) * (count - i));
    }
}

// The channels of a block in groups of Group (the last group may be smaller), each group a
// wavefront of its own over the whole block: channels never meet, so the bits stay the same,
// and a group's lanes can fit the register file where the whole block's would spill.
template <class I, int Channels, int Group, int Skew, int First = 0, class Sample>
void run_groups(band_record *bq, Sample *io, size_t frames) {
    constexpr int size = Channels - First < Group ? Channels - First : Group;
    wavefront<I, size, Sample, Skew, Channels>::run(bq, io, frames, First);
    if constexpr (First + size < Channels)
        run_groups<I, Channels, Group, Skew, First + size>(bq, io, frames);
}

template <class I, int Channels, class Sample>
void run_layout(band_record *bq, Sample *io, size_t frames) {
    constexpr layout lay = I::layouts[Channels - 1];
    constexpr int vectors = k_bands * lay.group / I::width; // of the widest group
    if constexpr (vectors <= 2 && sizeof(Sample) == sizeof(int16_t)) {
        // With one or two vectors, a step would convert a whole vector of samples to use one
        // or two of them, and those conversions bound the step. Converting the block a stretch
        // at a time and running the float cascade on it gives the same bits: the float path
        // widens exactly the float the 16-bit step computes and narrows before the same
        // conversion back.
        constexpr size_t k_chunk = 4096 / Channels; // frames per stretch: 16 KiB of stack
        alignas(64) float buf[k_chunk * Channels];
        while (frames > 0) {
            const size_t n = frames < k_chunk ? frames : k_chunk;
            convert<I>(io, buf, n * Channels);
            run_groups<I, Channels, lay.group, lay.skew>(bq, buf, n);
            convert<I>(buf, io, n * Channels);
            io += n * Channels;
            frames -= n;
        }
    } else {
        run_groups<I, Channels, lay.group, lay.skew>(bq, io, frames);
    }
}

template <class I, class Sample>
void run_wavefront(band_record *bq, Sample *io, size_t frames, int32_t channels) {
    switch (channels) {
    case 1:
        run_layout<I, 1>(bq, io, frames);
        break;
    case 2:
        run_layout<I, 2>(bq, io, frames);
        break;
    case 3:
        run_layout<I, 3>(bq, io, frames);
        break;
    case 4:
        run_layout<I, 4>(bq, io, frames);
        break;
    case 5:
        run_layout<I, 5>(bq, io, frames);
        break;
    case 6:
        run_layout<I, 6>(bq, io, frames);
        break;
    case 7:
        run_layout<I, 7>(bq, io, frames);
        break;
    default:
        run_layout<I, 8>(bq, io, frames);
        break;
    }
}

} // namespace
} // namespace qxeq

#endif // QXEQ_WAVEFRONT_H
