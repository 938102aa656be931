// The cascade as a wavefront, written once for any vector width and included by each
// kernel_*.cpp with that file's instruction-set operations (struct I below). Everything here has
// internal linkage, so code built for one instruction set never stands in for another's.
//
// Lanes: one per (band, channel) pair, band-major: lane f is band f / C, channel f % C, so a
// block of C channels needs 8 * C lanes, exactly 8 * C / W vectors of W doubles. At step n the
// lanes of band k work on frame n - D * k: band 0 takes frame n from the input, band k > 0 takes
// what band k - 1 produced D steps earlier (p1/p2, or y1 when D = 1), moved up by C lanes. Each
// lane performs the per-sample arithmetic of process_one in the same order, so every bit stays
// the same, but the eight bands of a frame no longer wait for each other. The first and last 7 * D
// steps of a block run with lane masks, so that a band only ever moves its histories for frames
// of this block.
//
// The skew D: a step's vector result feeds the next band through the whole left-to-right sum
// (a product and four additions), but its own band only through the last three operations. With
// D = 1 that long path binds every step; with D = 2 it spans two steps, and the short path binds.
// Layouts of one or two vectors per quantity are bound by that latency and use D = 2; wider ones
// are bound by throughput and use D = 1, which keeps the fill and drain short.
//
// The rare cases leave the fast path through one branch per step: a band result that is not
// finite clears that band's history of that channel and passes 0.0 on; a non-finite input also
// clears every later band of its channel, D steps after the other (the "pending" lane bits),
// exactly as process_one clears all eight bands at that frame.
//
// The flush of results below 1e-20 either runs as a lane mask on every step, or keeps off the
// dependency chain: where the instruction set has lane masks (guessed_steps), each step assumes
// the lanes the flush kept on the step before and one compare checks it; elsewhere
// (flush_branch) results pass on unchanged and the branch also catches the lanes the flush would
// change, which pays while it hardly ever fires; a decaying tail makes it fire on most steps, so
// steady() watches how often it fires and moves such stretches of a block to the mask.
//
// Required of I: V (vector of W doubles), W, zero(), loadu/storeu (doubles), add, sub, mul,
// flush (|y| < 1e-20 or NaN gives +0.0), nonfinite (lane bits), needs_fix (lane bits: not
// finite, or changed by the flush), clear (lanes in bits become +0.0),
// select (bits ? a : b), shift<S>(cur, prev) (lane i: cur[i - S], or prev[W + i - S] for i < S),
// in(const float *) / in(const int16_t *) (W samples to doubles with the library's scaling) and
// out(float *, V) / out(int16_t *, V) (W doubles to samples with the library's conversion).
// Optional: the lane-mask operations of guessed_steps (has_keep_masks).
#ifndef QXEQ_WAVEFRONT_H
#define QXEQ_WAVEFRONT_H

#include "qxeq_state.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qxeq {
namespace {

// Whether I has lane masks to flush with: keep (lane bits the flush leaves unchanged),
// shift_keep<S>(bits, cur, prev) (shift<S>, lanes outside bits +0.0) and as_expected(kept, y)
// (lane bits: in kept, 1e-20 <= |y| <= DBL_MAX; elsewhere |y| < 1e-20).
template <class I, class = void> struct has_keep_masks {
    static constexpr bool value = false;
};
template <class I> struct has_keep_masks<I, decltype(void(I::keep_masks))> {
    static constexpr bool value = I::keep_masks;
};

template <class I, int C, class S, int D> struct wavefront {
    using V = typename I::V;
    static constexpr int W = I::W;
    static constexpr int L = k_bands * C;  // lanes
    static constexpr int R = L / W;        // vectors per quantity
    static constexpr int q = C / W;        // the shift by C lanes: whole vectors ...
    static constexpr int s = C % W;        // ... and lanes within a vector
    static constexpr int Q = (C + W - 1) / W;  // vectors holding one frame of input
    static constexpr int O = (L - C) / W;      // first vector holding band 7
    static constexpr size_t k_fill = 7 * D;    // steps before band 7 reaches frame 0
    static constexpr unsigned k_lane_bits = (1u << W) - 1u;
    static constexpr uint64_t k_all = L == 64 ? ~uint64_t{0} : (uint64_t{1} << L) - 1u;
    // With few vectors a step is one long dependency chain, and the flush mask would lengthen
    // it; there the branch (see above) takes its place. With many vectors the step is bound by
    // throughput and the mask is cheaper.
    static constexpr bool flush_by_branch = R <= 2;
    static_assert(L % W == 0, "lanes fill whole vectors");
    static_assert(D == 1 || D == 2, "band k - 1's output of D steps ago is p1 or p2");

    V b0[R], b1[R], b2[R], a1[R], a2[R];
    V x1[R], x2[R], y1[R], y2[R];
    static constexpr int P = D == 2 ? R : 1;  // with D = 1, y1 is the last result
    V p1[P], p2[P];               // every lane's result of the last and the one before
    uint64_t pending[D] = {};     // by step parity: lanes that clear then, a non-finite input moving down
    bool on_mask = false;         // steady steps flush by mask for now (flush by branch only)

    [[gnu::always_inline]] explicit wavefront(const band_record *bq) {
        alignas(64) double t[9][L];
        for (int f = 0; f < L; ++f) {
            const band_record &b = bq[f / C];
            const int c = f % C;
            t[0][f] = b.b0, t[1][f] = b.b1, t[2][f] = b.b2, t[3][f] = b.a1, t[4][f] = b.a2;
            t[5][f] = b.x1[c], t[6][f] = b.x2[c], t[7][f] = b.y1[c], t[8][f] = b.y2[c];
        }
        for (int j = 0; j < R; ++j) {
            b0[j] = I::loadu(t[0] + j * W), b1[j] = I::loadu(t[1] + j * W);
            b2[j] = I::loadu(t[2] + j * W), a1[j] = I::loadu(t[3] + j * W);
            a2[j] = I::loadu(t[4] + j * W), x1[j] = I::loadu(t[5] + j * W);
            x2[j] = I::loadu(t[6] + j * W), y1[j] = I::loadu(t[7] + j * W);
            y2[j] = I::loadu(t[8] + j * W);
        }
        for (int j = 0; j < P; ++j) p1[j] = I::zero(), p2[j] = I::zero();  // read only by lanes whose input is from this block
    }

    [[gnu::always_inline]] void save(band_record *bq) const {
        alignas(64) double t[4][L];
        for (int j = 0; j < R; ++j) {
            I::storeu(t[0] + j * W, x1[j]), I::storeu(t[1] + j * W, x2[j]);
            I::storeu(t[2] + j * W, y1[j]), I::storeu(t[3] + j * W, y2[j]);
        }
        for (int f = 0; f < L; ++f) {
            band_record &b = bq[f / C];
            const int c = f % C;
            b.x1[c] = t[0][f], b.x2[c] = t[1][f], b.y1[c] = t[2][f], b.y2[c] = t[3][f];
        }
    }

    // One frame of input as vectors, channel c in lane Q * W - C + c. The lanes below hold
    // whatever precedes the frame and are never read, so at least Q * W - C samples must precede
    // in: run() gives the first frames of a block from a zero-padded copy (head).
    [[gnu::always_inline]] static void load_frame(const S *in, V *v) {
        for (int e = 0; e < Q; ++e) v[e] = I::in(in + C - Q * W + e * W);
    }

    // Band 7's lanes (the last C) as samples of one frame.
    [[gnu::always_inline]] static void store_frame(S *out, const V *y) {
        if constexpr (s == 0) {
            for (int j = O; j < R; ++j) I::out(out + (j - O) * W, y[j]);
        } else {
            S t[(R - O) * W];
            for (int j = O; j < R; ++j) I::out(t + (j - O) * W, y[j]);
            std::memcpy(out, t + ((L - C) - O * W), sizeof(S) * C);
        }
    }

    // Step n: in is frame n (null past the block's end; see load_frame), out receives frame
    // n - 7 * D (null before that). valid has the bits of the lanes whose band works on a frame
    // of this block.
    // Returns whether the exact fix-up ran or, with watch, whether the flush changed a result.
    template <bool masked, bool flush_branch, bool watch = false>
    [[gnu::always_inline]] bool step(size_t n, const S *in, S *out, uint64_t valid) {
        V ext[Q + R];
        // Steady steps always have both frames. Only the D = 2 layouts drop the test: on the wide
        // D = 1 layouts, which spill, GCC allocated registers worse without it (six and eight
        // channels about 10% slower).
        if ((D == 2 && !masked) || in != nullptr) {
            load_frame(in, ext);
        } else {
            for (int e = 0; e < Q; ++e) ext[e] = I::zero();
        }
        for (int j = 0; j < R; ++j) {
            if constexpr (D == 1) {
                ext[Q + j] = y1[j];
            } else {
                ext[Q + j] = p2[j];
            }
        }
        V X[R], y[R], yf[R];
        unsigned bad = 0, flushed = 0;
#pragma GCC unroll 64
        for (int j = 0; j < R; ++j) {
            if constexpr (s == 0) {
                X[j] = ext[Q + j - q];
            } else {
                X[j] = I::template shift<s>(ext[Q + j - q], ext[Q + j - q - 1]);
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
                if constexpr (watch) flushed |= I::needs_fix(y[j]);
            }
        }
        uint64_t waiting = pending[0];
        if constexpr (D == 2) waiting |= pending[1];
        const bool fix = __builtin_expect((bad != 0) | (waiting != 0), 0);
        if (fix) clear_lanes(D == 1 ? 0 : n % D, X, y, yf, masked ? valid : k_all);
#pragma GCC unroll 64
        for (int j = 0; j < R; ++j) {
            if constexpr (masked) {
                const unsigned m = static_cast<unsigned>(valid >> (j * W)) & k_lane_bits;
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
            if constexpr (D == 2) {
                p2[j] = p1[j];
                p1[j] = yf[j];
            }
        }
        if ((D == 2 && !masked) || out != nullptr) store_frame(out, yf);
        return fix | (flushed != 0);
    }

    // The exact handling of non-finite values for the lanes that need it: their histories clear
    // and they pass +0.0 on; a non-finite input marks its channel's later bands for the steps
    // that bring its frame to them. Lanes outside valid hold histories of frames this step does
    // not process: whatever they computed, they keep them.
    [[gnu::always_inline]] void clear_lanes(size_t parity, V *X, const V *y, V *yf, uint64_t valid) {
        uint64_t clear = pending[parity];
        uint64_t input_bad = 0;
        for (int j = 0; j < R; ++j) {
            clear |= static_cast<uint64_t>(I::nonfinite(y[j])) << (j * W);
            input_bad |= static_cast<uint64_t>(I::nonfinite(X[j])) << (j * W);
        }
        clear &= valid;
        input_bad &= valid & ((uint64_t{1} << C) - 1u);  // band 0's lanes: the block's input
        for (int j = 0; j < R; ++j) {
            const unsigned m = static_cast<unsigned>(clear >> (j * W)) & k_lane_bits;
            yf[j] = I::flush(y[j]);
            X[j] = I::clear(X[j], m);
            x1[j] = I::clear(x1[j], m);
            y1[j] = I::clear(y1[j], m);
            yf[j] = I::clear(yf[j], m);
        }
        pending[parity] = ((pending[parity] | input_bad) << C) & k_all;
    }

    // Lanes whose band k works on a frame of this block at step n: n - frames < D k <= n.
    static uint64_t valid_lanes(size_t n, size_t frames) {
        const size_t lo = n >= frames ? (n - frames) / D + 1 : 0;
        const size_t hi = n / D < 7 ? n / D : 7;
        const uint64_t upto = (hi + 1) * C >= 64 ? ~uint64_t{0} : (uint64_t{1} << ((hi + 1) * C)) - 1u;
        return lo * C >= 64 ? 0 : upto & ~((uint64_t{1} << (lo * C)) - 1u);
    }

    // The steady steps [n, end) with the flush taken as guessed, where the instruction set has
    // lane masks (keep, shift_keep, as_expected). The flush on the chain from one step's result
    // to the next step's a1 y1 binds the step (a compare feeding a lane mask is slow), and a
    // branch on "did the flush change anything" fires on every step of a fading signal. Here the
    // chains use the lanes the flush kept on the last step instead, which noise, silence and a
    // decaying tail all repeat step after step: a flushed result is +0.0, so the next step's
    // a1 y1 is a1 y, or a1 * +0.0 where the flush applies, and the next band's input is the
    // unflushed result shifted with those lanes zeroed. One unsigned compare a step checks the
    // guess: kept lanes within 1e-20..DBL_MAX, the others below 1e-20 (NaN fails both). Where it
    // fails, or a non-finite input is still moving down, the exact fix-up runs, the products and
    // inputs are taken from the flushed values themselves and the new lanes become the guess.
    static constexpr bool keeps_off_chain = has_keep_masks<I>::value && D == 2 && R <= 2;

    [[gnu::always_inline]] void guessed_steps(S *io, size_t n, size_t end) {
        constexpr size_t stride = static_cast<size_t>(C);
        constexpr uint64_t in_lanes = (uint64_t{1} << C) - 1u;  // band 0: the input, never flushed
        V pu1[R], pu2[R], a1y1[R], z1[R];
        uint64_t kp1 = k_all, kp2 = k_all;  // lanes of pu1, pu2 the flush keeps
        uint64_t guess = 0;                 // lanes the flush is expected to keep
        for (int j = 0; j < R; ++j) {
            pu1[j] = p1[j], pu2[j] = p2[j];
            a1y1[j] = I::mul(a1[j], y1[j]);
            z1[j] = I::mul(a1[j], I::zero());
            guess |= static_cast<uint64_t>(I::keep(y1[j])) << (j * W);
        }
        for (; n < end; ++n) {
            V ext[Q + R];
            load_frame(io + n * stride, ext);
            for (int j = 0; j < R; ++j) ext[Q + j] = pu2[j];
            const uint64_t kx = ((kp2 << C) | in_lanes) & k_all;
            V X[R], y[R], yf[R], ay[R];
            uint64_t as_guessed = 0;
#pragma GCC unroll 64
            for (int j = 0; j < R; ++j) {
                const unsigned m = static_cast<unsigned>(kx >> (j * W)) & k_lane_bits;
                if constexpr (s == 0) {
                    X[j] = I::clear(ext[Q + j - q], ~m & k_lane_bits);
                } else {
                    X[j] = I::template shift_keep<s>(m, ext[Q + j - q], ext[Q + j - q - 1]);
                }
                y[j] = I::sub(I::sub(I::add(I::add(I::mul(b0[j], X[j]), I::mul(b1[j], x1[j])),
                                            I::mul(b2[j], x2[j])),
                                     a1y1[j]),
                              I::mul(a2[j], y2[j]));
                const unsigned gj = static_cast<unsigned>(guess >> (j * W)) & k_lane_bits;
                yf[j] = I::clear(y[j], ~gj & k_lane_bits);
                ay[j] = I::select(gj, I::mul(a1[j], y[j]), z1[j]);
                as_guessed |= static_cast<uint64_t>(I::as_expected(gj, y[j])) << (j * W);
            }
            const bool waiting = (pending[0] | pending[1]) != 0;
            uint64_t keep = guess;  // known before the compare
            if (__builtin_expect(waiting | (as_guessed != k_all), 0)) {
                unsigned bad = 0;
                for (int j = 0; j < R; ++j) {
                    yf[j] = I::flush(y[j]);
                    bad |= I::nonfinite(y[j]);
                }
                if (waiting | (bad != 0)) clear_lanes(n % D, X, y, yf, k_all);
                guess = 0;
                for (int j = 0; j < R; ++j) {
                    y[j] = yf[j];
                    ay[j] = I::mul(a1[j], yf[j]);
                    guess |= static_cast<uint64_t>(I::keep(yf[j])) << (j * W);
                }
                keep = k_all;  // y holds the flushed values now
            }
            for (int j = 0; j < R; ++j) {
                x2[j] = x1[j], x1[j] = X[j];
                y2[j] = y1[j], y1[j] = yf[j];
                pu2[j] = pu1[j], pu1[j] = y[j];
                a1y1[j] = ay[j];
            }
            kp2 = kp1, kp1 = keep;
            store_frame(io + (n - k_fill) * stride, yf);
        }
        for (int j = 0; j < R; ++j) {
            p1[j] = I::clear(pu1[j], static_cast<unsigned>(~kp1 >> (j * W)) & k_lane_bits);
            p2[j] = I::clear(pu2[j], static_cast<unsigned>(~kp2 >> (j * W)) & k_lane_bits);
        }
    }

    // The steady steps [n, end): every lane works on a frame of this block. Where the flush is
    // a branch, a stretch that takes the fix-up on many steps (a signal fading through the
    // flush bound) continues on the mask, and comes back once a stretch would not have needed it.
    static constexpr size_t k_stretch = 64;
    static constexpr unsigned k_many = 4;

    [[gnu::always_inline]] void steady(S *io, size_t n, size_t end) {
        constexpr size_t stride = static_cast<size_t>(C);
        if constexpr (keeps_off_chain) {
            guessed_steps(io, n, end);
        } else if constexpr (!flush_by_branch) {
            for (; n < end; ++n)
                step<false, false>(n, io + n * stride, io + (n - k_fill) * stride, 0);
        } else {
            while (n < end) {
                const size_t stop = end - n > k_stretch ? n + k_stretch : end;
                unsigned fixes = 0;
                if (!on_mask) {
#pragma GCC unroll 2
                    for (; n < stop; ++n)
                        fixes += step<false, true>(n, io + n * stride,
                                                   io + (n - k_fill) * stride, 0);
                } else {
#pragma GCC unroll 2
                    for (; n < stop; ++n)
                        fixes += step<false, false, true>(n, io + n * stride,
                                                          io + (n - k_fill) * stride, 0);
                }
                on_mask = fixes >= k_many;
            }
        }
    }

    static void run(S *io, size_t frames) {
        wavefront w(g_bq);
        const size_t steps = frames + k_fill;
        const size_t stride = static_cast<size_t>(C);
        // The first frames have fewer than Q * W - C samples before them in the block; they are
        // read from a copy behind zeros, copied once (a small store and a wider load of the
        // same bytes on every step stalls the load until the store has landed).
        constexpr size_t k_pad = static_cast<size_t>(Q * W - C);
        S head[k_pad + Q * W] = {};
        const size_t head_samples = frames * stride < Q * W ? frames * stride : Q * W;
        std::memcpy(head + k_pad, io, sizeof(S) * head_samples);
        size_t n = 0;
        while (n < steps) {
            if (n >= k_fill && n < frames) {
                // from step k_fill on, k_fill frames precede the input: more than a vector's worth
                w.steady(io, n, frames);
                n = frames;
                continue;
            }
            const S *in = nullptr;
            if (n < frames)
                in = (n + 1) * stride < Q * W ? head + k_pad + n * stride : io + n * stride;
            S *out = n >= k_fill ? io + (n - k_fill) * stride : nullptr;
            w.template step<true, flush_by_branch>(n, in, out, valid_lanes(n, frames));
            ++n;
        }
        w.save(g_bq);
    }
};

// count samples between 16-bit and float through the kernel's own conversions: in(int16_t *)
// gives float(s) * (1 / 32768) widened, out(float *) narrows it back unchanged; in(float *)
// widens a float unchanged, and out(int16_t *) converts it exactly as a 16-bit step would.
template <class I, class From, class To> void convert(const From *from, To *to, size_t count) {
    constexpr size_t W = static_cast<size_t>(I::W);
    size_t i = 0;
    for (; i + W <= count; i += W) I::out(to + i, I::in(from + i));
    if (i < count) {
        From a[W] = {};
        To b[W];
        std::memcpy(a, from + i, sizeof(From) * (count - i));
        I::out(b, I::in(a));
        std::memcpy(to + i, b, sizeof(To) * (count - i));
    }
}

template <class I, int C, class S> void run_layout(S *io, size_t frames) {
    constexpr int R = k_bands * C / I::W;
    if constexpr (R <= 2 && sizeof(S) == sizeof(int16_t)) {
        // With one or two vectors, a step would convert a whole vector of samples to use one
        // or two of them, and those conversions bound the step. Converting the block a stretch
        // at a time and running the float cascade on it gives the same bits: the float path
        // widens exactly the float the 16-bit step computes and narrows before the same
        // conversion back.
        constexpr size_t k_chunk = 4096 / C;  // frames per stretch: 16 KiB of stack
        alignas(64) float buf[k_chunk * C];
        while (frames > 0) {
            const size_t n = frames < k_chunk ? frames : k_chunk;
            convert<I>(io, buf, n * C);
            wavefront<I, C, float, 2>::run(buf, n);
            convert<I>(buf, io, n * C);
            io += n * C;
            frames -= n;
        }
    } else {
        wavefront<I, C, S, R <= 2 ? 2 : 1>::run(io, frames);
    }
}

template <class I, class S> void run_wavefront(S *io, size_t frames, int32_t channels) {
    switch (channels) {
    case 1: run_layout<I, 1>(io, frames); break;
    case 2: run_layout<I, 2>(io, frames); break;
    case 3: run_layout<I, 3>(io, frames); break;
    case 4: run_layout<I, 4>(io, frames); break;
    case 5: run_layout<I, 5>(io, frames); break;
    case 6: run_layout<I, 6>(io, frames); break;
    case 7: run_layout<I, 7>(io, frames); break;
    default: run_layout<I, 8>(io, frames); break;
    }
}

} // namespace
} // namespace qxeq

#endif // QXEQ_WAVEFRONT_H
