// The equaliser behind one plugin instance: reads raw control values, equalises planar blocks
// with the library, and cross-fades over a fixed few milliseconds whenever the settings change.
// Everything is allocated by engine_new; engine_run never allocates, locks or blocks.
//
// Two library instances: `truth` always runs the settings in force, from the frame they took
// effect, so once a fade is over its output is exactly the library's for a stream whose
// settings changed at that frame; `fading` is a copy of truth taken at the change (filter state
// included) that finishes the old settings while the fade lasts.
#ifndef QX_LV2_ENGINE_H
#define QX_LV2_ENGINE_H

#include "ports.h"

#include <cstddef>
#include <cstdint>

namespace qxlv2 {

constexpr double k_fade_seconds = 0.005;
constexpr uint32_t k_chunk_frames = 1024; // host blocks are equalised this many frames at a time

struct engine;

// An engine for `channels` (1..8) at `rate` Hz. A rate the library refuses (outside
// 1..384000, non-finite) still gives an engine, one that passes audio through unchanged;
// *rate_ok tells which. Null when memory runs out.
engine *engine_new(uint32_t channels, double rate, bool *rate_ok);
void engine_free(engine *e);

// Start over: the next run applies its controls from its first frame, with no fade.
void engine_reset(engine *e);

// Equalise `frames` frames: controls[k_control_ports] are the raw control values (any float,
// null for an unconnected port), in/out one buffer per channel; any buffer may alias any other.
void engine_run(engine *e, const float *const *controls, const float *const *in, float *const *out,
                uint32_t frames);

} // namespace qxlv2

#endif // QX_LV2_ENGINE_H
