// The cascade as a wavefront, written once for any vector width and included by each
// kernel_*.cpp with that file's instruction-set operations (struct I below). Everything here has
// internal linkage, so code built for one instruction set never stands in for another's.
//
// Lanes: one per (band, channel) pair, band-major: lane f is band f / C, channel f % C, so a
// block of C channels needs 8 * C lanes, exactly 8 * C / W vectors of W doubles. At step n the
// lanes of band k work on frame n - k: band 0 takes frame n from the input, band k > 0 takes what
// band k - 1 produced one step earlier, which is its output history y1 moved up by C lanes. Each
// lane performs the per-sample arithmetic of process_one in the same order, so every bit stays
// the same, but the eight bands of a frame no longer wait for each other. The first and last
// seven steps of a block run with lane masks, so that a band only ever moves its histories for
// frames of this block.
//
// The rare cases leave the fast path through one branch per step: a band result that is not
// finite clears that band's history of that channel and passes 0.0 on; a non-finite input also
// clears every later band of its channel, one step after the other (the "pending" lane bits),
// exactly as process_one clears all eight bands at that frame.
//
// Required of I: V (vector of W doubles), W, zero(), loadu/storeu (doubles), add, sub, mul,
// flush (|y| < 1e-20 or NaN gives +0.0), nonfinite (lane bits), needs_fix (lane bits: not
// finite, or changed by the flush), clear (lanes in bits become +0.0),
// select (bits ? a : b), shift<S>(cur, prev) (lane i: cur[i - S], or prev[W + i - S] for i < S),
// in(const float *) / in(const int16_t *) (W samples to doubles with the library's scaling) and
// out(float *, V) / out(int16_t *, V) (W doubles to samples with the library's conversion).
#ifndef QXEQ_WAVEFRONT_H
#define QXEQ_WAVEFRONT_H

#include "qxeq_state.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qxeq {
namespace {

template <class I, int C, class S> struct wavefront {
    using V = typename I::V;
    static constexpr int W = I::W;
    static constexpr int L = k_bands * C;  // lanes
    static constexpr int R = L / W;        // vectors per quantity
    static constexpr int q = C / W;        // the shift by C lanes: whole vectors ...
    static constexpr int s = C % W;        // ... and lanes within a vector
    static constexpr int Q = (C + W - 1) / W;  // vectors holding one frame of input
    static constexpr int O = (L - C) / W;      // first vector holding band 7
    static constexpr unsigned k_lane_bits = (1u << W) - 1u;
    static constexpr uint64_t k_all = L == 64 ? ~uint64_t{0} : (uint64_t{1} << L) - 1u;
    // With few vectors a step is one long dependency chain, and the flush mask would lengthen
    // it; then results pass on unchanged and a branch catches the rare lane that needs the
    // flush. With many vectors the step is bound by throughput and the mask is cheaper.
    static constexpr bool k_flush_by_branch = R <= 2;
    static_assert(L % W == 0, "lanes fill whole vectors");

    V b0[R], b1[R], b2[R], a1[R], a2[R];
    V x1[R], x2[R], y1[R], y2[R];
    uint64_t pending = 0;  // lanes that clear at this step: a non-finite input moving down

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
    // whatever precedes the frame and are never read; where nothing precedes it in the block
    // (direct false) they are zero instead.
    [[gnu::always_inline]] static void load_frame(const S *in, bool direct, V *v) {
        if constexpr (s == 0) {
            for (int e = 0; e < Q; ++e) v[e] = I::in(in + e * W);
        } else if (direct) {
            for (int e = 0; e < Q; ++e) v[e] = I::in(in + C - Q * W + e * W);
        } else {
            S t[Q * W] = {};
            std::memcpy(t + Q * W - C, in, sizeof(S) * C);
            for (int e = 0; e < Q; ++e) v[e] = I::in(t + e * W);
        }
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

    // Step n: in is frame n (null past the block's end), out receives frame n - 7 (null before
    // step 7). valid has the bits of the lanes whose band works on a frame of this block.
    template <bool masked>
    [[gnu::always_inline]] void step(const S *in, bool direct, S *out, uint64_t valid) {
        V ext[Q + R];
        if (in != nullptr) {
            load_frame(in, direct, ext);
        } else {
            for (int e = 0; e < Q; ++e) ext[e] = I::zero();
        }
        for (int j = 0; j < R; ++j) ext[Q + j] = y1[j];
        V X[R], y[R], yf[R];
        unsigned bad = 0;
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
            if constexpr (k_flush_by_branch) {
                bad |= I::needs_fix(y[j]);
                yf[j] = y[j];
            } else {
                bad |= I::nonfinite(y[j]);
                yf[j] = I::flush(y[j]);
            }
        }
        if (__builtin_expect((bad != 0) | (pending != 0), 0)) clear_lanes(X, y, yf, masked ? valid : k_all);
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
        }
        if (out != nullptr) store_frame(out, yf);
    }

    // The exact handling of non-finite values for the lanes that need it: their histories clear
    // and they pass +0.0 on; a non-finite input marks its channel's later bands for the steps
    // that bring its frame to them. Lanes outside valid hold histories of frames this step does
    // not process: whatever they computed, they keep them.
    [[gnu::always_inline]] void clear_lanes(V *X, const V *y, V *yf, uint64_t valid) {
        uint64_t clear = pending;
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
        pending = ((pending | input_bad) << C) & k_all;
    }

    // Lanes whose band k works on a frame of this block at step n: n - frames < k <= n.
    static uint64_t valid_lanes(size_t n, size_t frames) {
        const size_t lo = n >= frames ? n - frames + 1 : 0;
        const size_t hi = n < 7 ? n : 7;
        const uint64_t upto = (hi + 1) * C >= 64 ? ~uint64_t{0} : (uint64_t{1} << ((hi + 1) * C)) - 1u;
        return upto & ~((uint64_t{1} << (lo * C)) - 1u);
    }

    static void run(S *io, size_t frames) {
        wavefront w(g_bq);
        const size_t steps = frames + 7;
        const size_t stride = static_cast<size_t>(C);
        size_t n = 0;
        while (n < steps) {
            if (n >= 7 && n < frames) {
                // from step 7 on, seven frames precede the input: more than a vector's worth
                for (; n < frames; ++n)
                    w.template step<false>(io + n * stride, true, io + (n - 7) * stride, 0);
                continue;
            }
            w.template step<true>(n < frames ? io + n * stride : nullptr, (n + 1) * stride >= Q * W,
                                  n >= 7 ? io + (n - 7) * stride : nullptr, valid_lanes(n, frames));
            ++n;
        }
        w.save(g_bq);
    }
};

template <class I, class S> void run_wavefront(S *io, size_t frames, int32_t channels) {
    switch (channels) {
    case 1: wavefront<I, 1, S>::run(io, frames); break;
    case 2: wavefront<I, 2, S>::run(io, frames); break;
    case 3: wavefront<I, 3, S>::run(io, frames); break;
    case 4: wavefront<I, 4, S>::run(io, frames); break;
    case 5: wavefront<I, 5, S>::run(io, frames); break;
    case 6: wavefront<I, 6, S>::run(io, frames); break;
    case 7: wavefront<I, 7, S>::run(io, frames); break;
    default: wavefront<I, 8, S>::run(io, frames); break;
    }
}

} // namespace
} // namespace qxeq

#endif // QXEQ_WAVEFRONT_H
